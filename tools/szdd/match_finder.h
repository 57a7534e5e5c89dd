// Longest-match search over the data as the expander sees it: the ring's
// initial spaces followed by the file.
//
// Every match costs the same two bytes whatever its length and position, and
// any prefix of a match is itself a match, so the longest match at a position
// stands for every useful candidate there: the parser may take any length
// from kMinMatch up to it at the same distance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format.h"

namespace szdd {

struct Match {
  std::uint32_t length = 0;    // 0 when no match of kMinMatch bytes exists
  std::uint32_t distance = 0;  // 1..kMaxDistance bytes back in the output
};

// Binary search trees of the strings starting at each position of the
// window, one tree per two-byte prefix, newest string at the root. Positions
// must be visited in order, each exactly once. The search is exhaustive
// within kMaxDistance, so the result is the true longest match.
class MatchFinder {
 public:
  // `text` is the whole input preceded by kRingSize fill bytes; it must
  // outlive the finder.
  MatchFinder(const std::uint8_t* text, std::size_t size);

  // Adds the string at `pos` and returns the longest earlier match for it,
  // capped at kMaxMatch and the end of the text.
  Match Insert(std::size_t pos);

 private:
  static constexpr std::size_t kCyclic = 2 * kRingSize;  // > kMaxDistance
  static constexpr std::uint64_t kNone = ~std::uint64_t{0};

  const std::uint8_t* text_;
  std::size_t size_;
  std::vector<std::uint64_t> heads_;  // newest position per two-byte prefix
  std::vector<std::uint64_t> links_;  // [2*slot] smaller subtree, [2*slot+1] greater
};

// Longest match for every byte of `data` (index i describes data[i]).
struct MatchTable {
  std::vector<std::uint8_t> length;     // 0 or kMinMatch..kMaxMatch
  std::vector<std::uint16_t> distance;  // distance - 1
};
MatchTable FindMatches(const std::uint8_t* data, std::size_t size);

// Brute-force search for the longest match at data[i], following the
// expander byte by byte. Slow; for checks only.
Match FindMatchSlow(const std::uint8_t* data, std::size_t size, std::size_t i);

}  // namespace szdd
