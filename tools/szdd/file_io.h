// Whole-file reads and all-or-nothing writes for the command line tool.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace szdd {

class IoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads the whole file. Files larger than maxSize are refused before any
// byte is read. Throws IoError with a message that names the path.
std::vector<std::uint8_t> ReadFile(const std::string& path, std::uint64_t maxSize);

// Writes `bytes` to a temporary file beside `path` and renames it over
// `path`; on failure nothing is left behind and an existing file is kept.
void WriteFileAtomic(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace szdd
