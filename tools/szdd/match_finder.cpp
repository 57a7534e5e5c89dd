#include "match_finder.h"

#include <algorithm>

namespace szdd {

MatchFinder::MatchFinder(const std::uint8_t* text, std::size_t size)
    : text_(text), size_(size), heads_(1u << 16, kNone), links_(2 * kCyclic, kNone) {}

Match MatchFinder::Insert(std::size_t pos) {
  Match best;
  const std::size_t avail = size_ - pos;
  if (avail < kMinMatch) {
    return best;  // too short to match, and too short to be matched by anything later
  }
  const std::uint32_t limit = static_cast<std::uint32_t>(std::min<std::size_t>(avail, kMaxMatch));
  const std::uint8_t* cur = text_ + pos;
  std::uint64_t& head = heads_[(cur[0] << 8) | cur[1]];
  std::uint64_t node = head;
  head = pos;

  // The old tree is split around the new string: nodes that sort below it
  // hang off `lessSlot`, nodes above it off `greaterSlot`. Every node between
  // them shares at least min(lessLen, greaterLen) bytes with the new string.
  std::uint64_t* lessSlot = &links_[2 * (pos % kCyclic)];
  std::uint64_t* greaterSlot = lessSlot + 1;
  std::uint32_t lessLen = 2, greaterLen = 2;  // the bucket fixes the first two bytes
  for (;;) {
    // Children are always older than their parent, so the first node out of
    // reach ends the whole branch.
    if (node == kNone || pos - node > kMaxDistance) {
      *lessSlot = *greaterSlot = kNone;
      break;
    }
    const std::uint8_t* cand = text_ + node;
    std::uint32_t len = std::min(lessLen, greaterLen);
    while (len < limit && cand[len] == cur[len]) {
      ++len;
    }
    if (len > best.length) {
      best.length = len;
      best.distance = static_cast<std::uint32_t>(pos - node);
    }
    std::uint64_t* pair = &links_[2 * (node % kCyclic)];
    if (len == limit) {
      // Equal as far as anyone can use: the new string replaces the old one.
      *lessSlot = pair[0];
      *greaterSlot = pair[1];
      break;
    }
    if (cand[len] < cur[len]) {
      *lessSlot = node;
      lessSlot = pair + 1;
      lessLen = len;
      node = *lessSlot;
    } else {
      *greaterSlot = node;
      greaterSlot = pair;
      greaterLen = len;
      node = *greaterSlot;
    }
  }
  if (best.length < kMinMatch) {
    best = Match{};
  }
  return best;
}

MatchTable FindMatches(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> text(kRingSize + size, kRingFill);
  std::copy(data, data + size, text.begin() + kRingSize);
  MatchTable table;
  table.length.resize(size);
  table.distance.resize(size);
  MatchFinder finder(text.data(), text.size());
  for (std::size_t pos = 0; pos < kRingSize; ++pos) {
    finder.Insert(pos);
  }
  for (std::size_t i = 0; i < size; ++i) {
    const Match m = finder.Insert(kRingSize + i);
    table.length[i] = static_cast<std::uint8_t>(m.length);
    table.distance[i] = static_cast<std::uint16_t>(m.length ? m.distance - 1 : 0);
  }
  return table;
}

Match FindMatchSlow(const std::uint8_t* data, std::size_t size, std::size_t i) {
  // Ring contents after the first i output bytes.
  std::vector<std::uint8_t> ring(kRingSize, kRingFill);
  for (std::size_t k = 0; k < i; ++k) {
    ring[RingWritePos(k)] = data[k];
  }
  const std::uint32_t w = RingWritePos(i);
  const std::size_t limit = std::min<std::size_t>(kMaxMatch, size - i);
  Match best;
  for (std::uint32_t src = 0; src < kRingSize; ++src) {
    // Replay the copy without touching the ring: a byte this match has
    // already written is read back from the output.
    std::uint32_t len = 0;
    while (len < limit) {
      const std::uint32_t p = (src + len) & kRingMask;
      const std::uint32_t written = (p - w) & kRingMask;  // offset into this match
      const std::uint8_t b = written < len ? data[i + written] : ring[p];
      if (b != data[i + len]) {
        break;
      }
      ++len;
    }
    if (len >= kMinMatch && len > best.length) {
      best.length = len;
      best.distance = ((w - src - 1) & kRingMask) + 1;
    }
  }
  return best;
}

}  // namespace szdd
