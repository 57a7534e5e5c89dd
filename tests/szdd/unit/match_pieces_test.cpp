// The match search split into pieces against one search from the start, and
// the tie rule that makes the split invisible in the output.
#include <gtest/gtest.h>

#include <algorithm>

#include "decoder.h"
#include "encoder.h"
#include "format.h"
#include "match_finder.h"
#include "test_data.h"

using namespace szdd_test;

namespace {

// A pattern of `period` bytes repeated to `n` bytes: long matches at every
// position, so matches run across every piece boundary.
Bytes Periodic(std::size_t n, std::size_t period, std::uint32_t seed) {
  const Bytes unit = Random(period, seed, "abcd ");
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = unit[i % period];
  return out;
}

// The longest match at data[i] and, among equally long ones, the nearest,
// by comparing the text the expander sees (initial spaces, then the data).
szdd::Match NearestLongest(const Bytes& text, std::size_t i) {
  const std::size_t p = szdd::kRingSize + i;
  const std::size_t limit = std::min<std::size_t>(szdd::kMaxMatch, text.size() - p);
  szdd::Match best;
  for (std::uint32_t d = 1; d <= szdd::kMaxDistance; ++d) {
    std::uint32_t len = 0;
    while (len < limit && text[p - d + len] == text[p + len]) ++len;
    if (len >= szdd::kMinMatch && len > best.length) best = {len, d};
  }
  return best;
}

void ExpectSameTable(const szdd::MatchTable& want, const szdd::MatchTable& got, const char* what) {
  ASSERT_EQ(want.length.size(), got.length.size()) << what;
  for (std::size_t i = 0; i < want.length.size(); ++i) {
    ASSERT_EQ(want.length[i], got.length[i]) << what << " at " << i;
    ASSERT_EQ(want.distance[i], got.distance[i]) << what << " at " << i;
  }
}

TEST(MatchFinder, ReportsTheNearestOfTheLongestMatches) {
  // Small alphabets give many equally long candidates at different distances.
  const std::vector<Bytes> inputs = {Random(7000, 51, "ab"), Random(7000, 52, " a"),
                                     Concat(Periodic(5000, 7, 53), Random(3000, 54, "abcd "))};
  for (const Bytes& data : inputs) {
    Bytes text(szdd::kRingSize, szdd::kRingFill);
    text.insert(text.end(), data.begin(), data.end());
    const szdd::MatchTable table = szdd::FindMatches(data.data(), data.size(), 1);
    for (std::size_t i = 0; i < data.size(); ++i) {
      const szdd::Match want = NearestLongest(text, i);
      ASSERT_EQ(want.length, table.length[i]) << "at " << i;
      if (want.length) {
        ASSERT_EQ(want.distance, table.distance[i] + 1u) << "at " << i;
      }
    }
  }
}

TEST(MatchPieces, AnySplitGivesTheSameTable) {
  // Pieces shorter and longer than the window, windows that reach into the
  // initial spaces, periods that do and do not divide the ring size, runs
  // that straddle piece boundaries, and more pieces than bytes.
  const std::vector<Bytes> inputs = {
      Periodic(40000, 5, 61),
      Periodic(40000, 4096, 62),
      Periodic(40000, 4097, 63),
      Concat(Random(20000, 64, "ab "), Text(20000, 65)),
      Concat(Concat(Random(9999, 66), Repeat(10001, 0)), Random(10000, 67, " ")),
      Random(30000, 68),
      Text(5, 69),
      {},
  };
  for (const Bytes& data : inputs) {
    const szdd::MatchTable one = szdd::FindMatches(data.data(), data.size(), 1);
    for (unsigned pieces : {2u, 3u, 4u, 7u, 16u}) {
      SCOPED_TRACE(testing::Message() << data.size() << " bytes, " << pieces << " pieces");
      ExpectSameTable(one, szdd::FindMatches(data.data(), data.size(), pieces), "split");
    }
  }
}

TEST(MatchPieces, LargeInputsSearchedInParallelCompressAsInOnePiece) {
  // Above the threshold the default search uses every hardware thread.
  const Bytes data = Concat(Concat(Periodic(200000, 4099, 71), Text(200000, 72)),
                            Random(100000, 73, "xyz "));
  ASSERT_GT(data.size(), szdd::kParallelMinSize);
  ExpectSameTable(szdd::FindMatches(data.data(), data.size(), 1),
                  szdd::FindMatches(data.data(), data.size()), "default");
  const Bytes packed = szdd::Compress(data.data(), data.size());
  EXPECT_EQ(data, szdd::Expand(packed.data(), packed.size()));
}

}  // namespace
