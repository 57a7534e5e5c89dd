// Longest-match search over the data as the expander sees it: the ring's
// initial spaces followed by the file.
//
// Every match costs the same two bytes whatever its length and position, and
// any prefix of a match is itself a match, so the longest match at a position
// stands for every useful candidate there: the parser may take any length
// from kMinMatch up to it at the same distance.
//
// Among equally long candidates the nearest one is reported. The longest
// match at a position depends only on the kMaxDistance bytes before it, so
// the search splits the input into pieces that are searched independently
// and in parallel, with the same result as one search from the start.
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

// Longest match for every byte of `data` (index i describes data[i]).
struct MatchTable {
  std::vector<std::uint8_t> length;     // 0 or kMinMatch..kMaxMatch
  std::vector<std::uint16_t> distance;  // distance - 1
};

// Inputs smaller than this are searched in one piece: starting a thread and
// priming its window would cost more than it saves.
inline constexpr std::size_t kParallelMinSize = 256 * 1024;

// Searches in one piece per hardware thread (one piece for small inputs).
MatchTable FindMatches(const std::uint8_t* data, std::size_t size);

// Searches in `pieces` pieces of about equal size, each on its own thread
// (more pieces than threads only past 1 GiB); the result does not depend on
// `pieces`.
MatchTable FindMatches(const std::uint8_t* data, std::size_t size, unsigned pieces);

}  // namespace szdd
