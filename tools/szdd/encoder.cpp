#include "encoder.h"

#include <array>
#include <cassert>
#include <stdexcept>

#include "format.h"
#include "match_finder.h"

namespace szdd {
namespace {

// Costs in bits, counting the item's share of its flag byte. The stream is
// 8 * (literals + 2 * matches) + 8 * ceil(items / 8) bits, which is
// ceil((9 * literals + 17 * matches) / 8) bytes, so the fewest bits also
// give the fewest bytes. The ring holds the last 4096 output bytes whatever
// parse produced them, so the matches open at a position do not depend on
// the parse, and a shortest path over positions is the optimum.
constexpr std::uint64_t kLiteralBits = 9;
constexpr std::uint64_t kMatchBits = 17;

void PutHeader(std::vector<std::uint8_t>& out, std::uint32_t length) {
  out.insert(out.end(), std::begin(kSignature), std::end(kSignature));
  out.push_back(kModeLzss);
  out.push_back(0);  // no missing character
  for (int shift = 0; shift < 32; shift += 8) {
    out.push_back(static_cast<std::uint8_t>(length >> shift));
  }
}

// The optimal parse as a table: length[i] is the step taken at position i
// when the parse reaches it (1 = literal), distance[i] the match distance - 1.
MatchTable ParseSteps(const std::uint8_t* data, std::size_t size) {
  MatchTable matches = FindMatches(data, size);

  // Shortest path from each position to the end, computed backwards. Only
  // the next kMaxMatch costs are ever needed, kept in a ring whose size is a
  // power of two; the chosen step overwrites the match length in place
  // (1 = literal).
  constexpr std::size_t kSpan = 32;
  static_assert(kSpan > kMaxMatch && (kSpan & (kSpan - 1)) == 0);
  std::array<std::uint64_t, kSpan> cost{};  // cost[i % kSpan] = bits from i to the end
  std::vector<std::uint8_t>& step = matches.length;
  for (std::size_t i = size; i-- > 0;) {
    std::uint64_t best = kLiteralBits + cost[(i + 1) % kSpan];
    std::uint8_t choice = 1;
    // Longer matches first so that ties go to fewer items.
    for (std::uint32_t len = matches.length[i]; len >= kMinMatch; --len) {
      const std::uint64_t c = kMatchBits + cost[(i + len) % kSpan];
      if (c < best) {
        best = c;
        choice = static_cast<std::uint8_t>(len);
      }
    }
    cost[i % kSpan] = best;
    step[i] = choice;
  }
  return matches;
}

}  // namespace

std::vector<Item> ParseOptimal(const std::uint8_t* data, std::size_t size) {
  const MatchTable steps = ParseSteps(data, size);
  std::vector<Item> items;
  for (std::size_t i = 0; i < size; i += steps.length[i]) {
    if (steps.length[i] == 1) {
      items.push_back({1, 0});
    } else {
      items.push_back({steps.length[i], steps.distance[i] + 1u});
    }
  }
  return items;
}

std::uint64_t StreamSize(const std::vector<Item>& items) {
  std::uint64_t bytes = (items.size() + 7) / 8;
  for (const Item& item : items) {
    bytes += item.distance ? 2 : 1;
  }
  return bytes;
}

std::vector<std::uint8_t> Compress(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxExpandedLength) {
    throw std::length_error("input larger than 4294967295 bytes");
  }
  const MatchTable steps = ParseSteps(data, size);
  std::vector<std::uint8_t> out;
  out.reserve(kHeaderSize + size + size / 8 + 1);
  PutHeader(out, static_cast<std::uint32_t>(size));

  std::size_t flagAt = 0;
  std::uint64_t n = 0;  // items written
  for (std::size_t pos = 0; pos < size; pos += steps.length[pos], ++n) {
    if (n % 8 == 0) {
      flagAt = out.size();
      out.push_back(0);
    }
    const std::uint32_t length = steps.length[pos];
    if (length == 1) {
      out[flagAt] |= static_cast<std::uint8_t>(1u << (n % 8));
      out.push_back(data[pos]);
    } else {
      assert(length >= kMinMatch && length <= kMaxMatch);
      const std::uint32_t src = RingSourcePos(pos, steps.distance[pos] + 1u);
      out.push_back(static_cast<std::uint8_t>(src & 0xFF));
      out.push_back(static_cast<std::uint8_t>(((src >> 4) & 0xF0) | (length - kMinMatch)));
    }
  }
  return out;
}

}  // namespace szdd
