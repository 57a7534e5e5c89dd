// SZDD expansion, strict: the stream must produce exactly the length that the
// header announces and end there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace szdd {

class FormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Header {
  std::uint8_t mode = 0;
  std::uint8_t missingChar = 0;
  std::uint32_t length = 0;  // expanded length
};

// Parses and checks the 14-byte header. Throws FormatError.
Header ReadHeader(const std::uint8_t* in, std::size_t size);

// Expands a whole SZDD file. Throws FormatError.
std::vector<std::uint8_t> Expand(const std::uint8_t* in, std::size_t size);

}  // namespace szdd
