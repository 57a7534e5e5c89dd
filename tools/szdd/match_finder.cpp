#include "match_finder.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <thread>

namespace szdd {
namespace {

// Bytes readable past the end of the text, so that strings can be compared
// a word at a time without checking the end first.
constexpr std::size_t kTextPadding = 16;

// Length of the common prefix of a and b, given that the first `len` bytes
// agree, capped at `limit`. Both may be read up to kTextPadding bytes past
// `limit`.
inline std::uint32_t CommonLength(const std::uint8_t* a, const std::uint8_t* b,
                                  std::uint32_t len, std::uint32_t limit) {
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  while (len < limit) {
    std::uint64_t x, y;
    std::memcpy(&x, a + len, sizeof x);
    std::memcpy(&y, b + len, sizeof y);
    if (x != y) {
      len += static_cast<std::uint32_t>(__builtin_ctzll(x ^ y)) / 8;
      return std::min(len, limit);
    }
    len += sizeof x;
  }
  return limit;
#else
  while (len < limit && a[len] == b[len]) {
    ++len;
  }
  return len;
#endif
}

// Binary search trees of the strings starting at each position of the
// window, one tree per two-byte prefix, newest string at the root. Positions
// must be visited in order, each exactly once. The search is exhaustive
// within kMaxDistance and the search path meets candidates newest first, so
// the result is the longest match and, among equally long ones, the nearest.
class MatchFinder {
 public:
  // Largest span of positions one finder may visit between resets: they are
  // stored as 32-bit offsets from the first one.
  static constexpr std::size_t kMaxSpan = std::size_t{1} << 30;

  // `text` is the whole input preceded by kRingSize fill bytes and followed
  // by kTextPadding readable bytes; it must outlive the finder.
  MatchFinder(const std::uint8_t* text, std::size_t size)
      : text_(text), size_(size), heads_(1u << 16), links_(2 * kCyclic) {}

  // Forgets every string; the next position inserted may be any `first`.
  void Reset(std::size_t first) {
    base_ = first;
    std::fill(heads_.begin(), heads_.end(), kNone);
    std::fill(links_.begin(), links_.end(), kNone);
  }

  // Adds the string at `pos` and returns the longest earlier match for it,
  // capped at kMaxMatch and the end of the text.
  Match Insert(std::size_t pos);

 private:
  static constexpr std::uint32_t kCyclic = 2 * kRingSize;  // > kMaxDistance
  static constexpr std::uint32_t kNone = ~std::uint32_t{0};

  const std::uint8_t* text_;
  std::size_t size_;
  std::size_t base_ = 0;               // text position of offset 0
  std::vector<std::uint32_t> heads_;  // newest offset per two-byte prefix
  std::vector<std::uint32_t> links_;  // [2*slot] smaller subtree, [2*slot+1] greater
};

Match MatchFinder::Insert(std::size_t pos) {
  Match best;
  const std::size_t avail = size_ - pos;
  if (avail < kMinMatch) {
    return best;  // too short to match, and too short to be matched by anything later
  }
  const std::uint32_t limit = static_cast<std::uint32_t>(std::min<std::size_t>(avail, kMaxMatch));
  const std::uint8_t* cur = text_ + pos;
  const std::uint8_t* const base = text_ + base_;
  const std::uint32_t off = static_cast<std::uint32_t>(pos - base_);
  std::uint32_t& head = heads_[(cur[0] << 8) | cur[1]];
  std::uint32_t node = head;
  head = off;

  // The old tree is split around the new string: nodes that sort below it
  // hang off `lessSlot`, nodes above it off `greaterSlot`. Every node between
  // them shares at least min(lessLen, greaterLen) bytes with the new string.
  std::uint32_t* lessSlot = &links_[2 * (off % kCyclic)];
  std::uint32_t* greaterSlot = lessSlot + 1;
  std::uint32_t lessLen = 2, greaterLen = 2;  // the bucket fixes the first two bytes
  for (;;) {
    // Children are always older than their parent, so the first node out of
    // reach ends the whole branch.
    if (node == kNone || off - node > kMaxDistance) {
      *lessSlot = *greaterSlot = kNone;
      break;
    }
    const std::uint8_t* cand = base + node;
    const std::uint32_t len = CommonLength(cand, cur, std::min(lessLen, greaterLen), limit);
    // Strictly longer only: the first node of a length is the nearest.
    if (len > best.length) {
      best.length = len;
      best.distance = off - node;
    }
    std::uint32_t* pair = &links_[2 * (node % kCyclic)];
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

// Fills table entries [begin, end) (indices into the data). The finder first
// sees the kMaxDistance text bytes before `begin`, so it holds exactly the
// strings a search from the start would offer there.
void SearchPiece(MatchFinder& finder, std::size_t begin, std::size_t end, MatchTable& table) {
  // Text position of data[i] is kRingSize + i; the window starts at text position `begin`.
  finder.Reset(begin);
  for (std::size_t pos = begin; pos < kRingSize + begin; ++pos) {
    finder.Insert(pos);
  }
  for (std::size_t i = begin; i < end; ++i) {
    const Match m = finder.Insert(kRingSize + i);
    table.length[i] = static_cast<std::uint8_t>(m.length);
    table.distance[i] = static_cast<std::uint16_t>(m.length ? m.distance - 1 : 0);
  }
}

}  // namespace

MatchTable FindMatches(const std::uint8_t* data, std::size_t size) {
  const unsigned threads = size < kParallelMinSize ? 1 : std::thread::hardware_concurrency();
  return FindMatches(data, size, threads);
}

MatchTable FindMatches(const std::uint8_t* data, std::size_t size, unsigned pieces) {
  std::vector<std::uint8_t> text(kRingSize + size + kTextPadding, kRingFill);
  std::copy(data, data + size, text.begin() + kRingSize);
  const std::size_t textSize = kRingSize + size;
  MatchTable table;
  table.length.resize(size);
  table.distance.resize(size);

  // One worker per requested piece; each worker takes every `threads`-th
  // piece, and no piece is longer than a finder can span.
  const unsigned threads = std::max(1u, pieces);
  const std::size_t maxPiece = MatchFinder::kMaxSpan - kRingSize;
  const std::size_t count = std::max<std::size_t>(threads, (size + maxPiece - 1) / maxPiece);
  std::vector<MatchFinder> finders(threads, MatchFinder(text.data(), textSize));
  auto work = [&](unsigned t) {
    for (std::size_t k = t; k < count; k += threads) {
      SearchPiece(finders[t], size * k / count, size * (k + 1) / count, table);
    }
  };

  std::vector<std::thread> workers;
  workers.reserve(threads - 1);
  for (unsigned t = 1; t < threads; ++t) {
    try {
      workers.emplace_back(work, t);
    } catch (const std::system_error&) {
      work(t);  // no thread to be had: do its share here
    }
  }
  work(0);
  for (std::thread& w : workers) {
    w.join();
  }
  return table;
}

}  // namespace szdd
