// SZDD compression with an optimal parse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace szdd {

// One step of the parse: a literal (length 1) or a match.
struct Item {
  std::uint32_t length;
  std::uint32_t distance;  // 0 for a literal
};

// The parse with the fewest stream bytes for `data`.
std::vector<Item> ParseOptimal(const std::uint8_t* data, std::size_t size);

// Stream bytes for a parse: items plus one flag byte per eight items.
std::uint64_t StreamSize(const std::vector<Item>& items);

// Header and stream for `data` (at most kMaxExpandedLength bytes).
std::vector<std::uint8_t> Compress(const std::uint8_t* data, std::size_t size);

}  // namespace szdd
