// The parse against exhaustive searches that model the expander directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "encoder.h"
#include "format.h"
#include "match_finder.h"
#include "test_data.h"

using namespace szdd_test;

namespace {

// Replays a match the way the expander does: ring positions, byte by byte.
bool MatchExpandsTo(const Bytes& data, std::size_t i, std::uint32_t distance, std::uint32_t length) {
  std::vector<std::uint8_t> ring(szdd::kRingSize, szdd::kRingFill);
  for (std::size_t k = 0; k < i; ++k) {
    ring[szdd::RingWritePos(k)] = data[k];
  }
  std::uint32_t src = szdd::RingSourcePos(i, distance);
  std::uint32_t w = szdd::RingWritePos(i);
  for (std::uint32_t k = 0; k < length; ++k) {
    const std::uint8_t b = ring[src];
    if (i + k >= data.size() || b != data[i + k]) {
      return false;
    }
    ring[w] = b;
    src = (src + 1) & szdd::kRingMask;
    w = (w + 1) & szdd::kRingMask;
  }
  return true;
}

// Brute-force search for the longest match at data[i], following the
// expander byte by byte.
szdd::Match FindMatchSlow(const std::uint8_t* data, std::size_t size, std::size_t i) {
  // Ring contents after the first i output bytes.
  std::vector<std::uint8_t> ring(szdd::kRingSize, szdd::kRingFill);
  for (std::size_t k = 0; k < i; ++k) {
    ring[szdd::RingWritePos(k)] = data[k];
  }
  const std::uint32_t w = szdd::RingWritePos(i);
  const std::size_t limit = std::min<std::size_t>(szdd::kMaxMatch, size - i);
  szdd::Match best;
  for (std::uint32_t src = 0; src < szdd::kRingSize; ++src) {
    // Replay the copy without touching the ring: a byte this match has
    // already written is read back from the output.
    std::uint32_t len = 0;
    while (len < limit) {
      const std::uint32_t p = (src + len) & szdd::kRingMask;
      const std::uint32_t written = (p - w) & szdd::kRingMask;  // offset into this match
      const std::uint8_t b = written < len ? data[i + written] : ring[p];
      if (b != data[i + len]) {
        break;
      }
      ++len;
    }
    if (len >= szdd::kMinMatch && len > best.length) {
      best.length = len;
      best.distance = ((w - src - 1) & szdd::kRingMask) + 1;
    }
  }
  return best;
}

// The fewest stream bytes over every parse, counting flag bytes exactly:
// the state is the position and the number of items so far modulo eight.
std::uint64_t BruteForceStreamSize(const Bytes& data) {
  const std::size_t n = data.size();
  constexpr std::uint64_t kInf = std::numeric_limits<std::uint64_t>::max() / 2;
  std::vector<std::array<std::uint64_t, 8>> best(n + 1);
  for (auto& b : best) b.fill(kInf);
  best[0][0] = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const szdd::Match m = FindMatchSlow(data.data(), n, i);
    for (int slot = 0; slot < 8; ++slot) {
      const std::uint64_t here = best[i][slot];
      if (here == kInf) continue;
      const std::uint64_t flag = slot == 0 ? 1 : 0;
      auto& lit = best[i + 1][(slot + 1) % 8];
      lit = std::min(lit, here + flag + 1);
      for (std::uint32_t len = szdd::kMinMatch; len <= m.length; ++len) {
        auto& match = best[i + len][(slot + 1) % 8];
        match = std::min(match, here + flag + 2);
      }
    }
  }
  return *std::min_element(best[n].begin(), best[n].end());
}

TEST(MatchFinder, FindsTheLongestMatchEverywhere) {
  // Small alphabets with spaces: matches into the initial ring, overlapping
  // matches, and positions past one ring length.
  const std::vector<Bytes> inputs = {
      Random(9000, 21, "ab"), Random(9000, 22, " a"), Random(6000, 23, "abc "),
      Concat(Random(4096, 24), Random(3000, 24)), Concat(Repeat(4100, 'z'), Random(500, 25, "z "))};
  for (const Bytes& data : inputs) {
    const szdd::MatchTable table = szdd::FindMatches(data.data(), data.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
      const szdd::Match slow = FindMatchSlow(data.data(), data.size(), i);
      ASSERT_EQ(slow.length, table.length[i]) << "at " << i;
      if (table.length[i]) {
        ASSERT_TRUE(MatchExpandsTo(data, i, table.distance[i] + 1u, table.length[i])) << "at " << i;
      }
    }
  }
}

TEST(Parse, EveryMatchExpandsCorrectly) {
  const Bytes data = Concat(Text(6000, 31), Random(3000, 32, " xy"));
  std::size_t pos = 0;
  for (const szdd::Item& item : szdd::ParseOptimal(data.data(), data.size())) {
    if (item.distance) {
      ASSERT_TRUE(MatchExpandsTo(data, pos, item.distance, item.length)) << "at " << pos;
    } else {
      ASSERT_EQ(1u, item.length);
    }
    pos += item.length;
  }
  EXPECT_EQ(data.size(), pos);
}

TEST(Parse, IsAsSmallAsAnyParse) {
  const std::string alphabets[] = {"ab", "a ", "abc", " ", "ab  "};
  std::uint32_t seed = 100;
  for (const std::string& alphabet : alphabets) {
    for (std::size_t n = 1; n <= 48; n += 1) {
      const Bytes data = Random(n, ++seed, alphabet);
      const auto items = szdd::ParseOptimal(data.data(), data.size());
      ASSERT_EQ(BruteForceStreamSize(data), szdd::StreamSize(items))
          << "alphabet '" << alphabet << "' length " << n;
    }
  }
}

TEST(Parse, IsAsSmallAsAnyParseOnRepeatedText) {
  // Long matches everywhere and many ways to split them.
  const Bytes data = Concat(Text(300, 41), Text(300, 41));
  EXPECT_EQ(BruteForceStreamSize(data),
            szdd::StreamSize(szdd::ParseOptimal(data.data(), data.size())));
}

}  // namespace
