#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "decoder.h"
#include "encoder.h"
#include "format.h"
#include "test_data.h"

using namespace szdd_test;

namespace {

struct Case {
  std::string name;
  Bytes data;
};

std::vector<Case> Cases() {
  const Bytes block4096 = Random(4096, 7);
  const Bytes block4097 = Random(4097, 8);
  return {
      {"empty", {}},
      {"one_byte", {'Z'}},
      {"one_space", {' '}},
      {"two_bytes", {'a', 'b'}},
      {"spaces_18", Repeat(18, ' ')},
      {"spaces_100000", Repeat(100000, ' ')},
      {"zeros_100000", Repeat(100000, 0)},
      {"run_4095", Repeat(4095, 'x')},
      {"run_4096", Repeat(4096, 'x')},
      {"run_4097", Repeat(4097, 'x')},
      {"run_65536", Repeat(65536, 0xFF)},
      {"zeros_4095", Repeat(4095, 0)},
      {"zeros_4096", Repeat(4096, 0)},
      {"zeros_4097", Repeat(4097, 0)},
      {"random_100000", Random(100000, 1)},
      {"random_ab_30000", Random(30000, 2, "ab")},
      {"random_ab_space_30000", Random(30000, 3, "a ")},
      {"text_200000", Text(200000, 4)},
      {"period_4096", Concat(block4096, block4096)},
      {"period_4097", Concat(block4097, block4097)},
      {"spaces_then_random", Concat(Repeat(5000, ' '), Random(5000, 9))},
  };
}

class RoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(RoundTrip, ExpandsToTheInput) {
  const Bytes& data = GetParam().data;
  const Bytes packed = szdd::Compress(data.data(), data.size());
  ASSERT_GE(packed.size(), szdd::kHeaderSize);
  EXPECT_EQ(0, std::memcmp(packed.data(), szdd::kSignature, 8));
  EXPECT_EQ(0x41, packed[8]);
  EXPECT_EQ(0, packed[9]);
  const std::uint32_t length = packed[10] | packed[11] << 8 | packed[12] << 16 |
                               static_cast<std::uint32_t>(packed[13]) << 24;
  EXPECT_EQ(data.size(), length);
  EXPECT_EQ(data, szdd::Expand(packed.data(), packed.size()));
  EXPECT_EQ(packed.size(), szdd::kHeaderSize + szdd::StreamSize(szdd::ParseOptimal(data.data(), data.size())));
}

TEST_P(RoundTrip, IsDeterministic) {
  const Bytes& data = GetParam().data;
  EXPECT_EQ(szdd::Compress(data.data(), data.size()), szdd::Compress(data.data(), data.size()));
}

INSTANTIATE_TEST_SUITE_P(Inputs, RoundTrip, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

Bytes Pack(const Bytes& data) { return szdd::Compress(data.data(), data.size()); }

TEST(Compress, EmptyInputIsTheHeaderAlone) {
  const Bytes expected = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33, 0x41, 0, 0, 0, 0, 0};
  EXPECT_EQ(expected, Pack({}));
}

TEST(Compress, LeadingSpacesComeFromTheFreshRing) {
  // One flag byte and one match into the initial spaces.
  EXPECT_EQ(szdd::kHeaderSize + 3, Pack(Repeat(18, ' ')).size());
  EXPECT_EQ(szdd::kHeaderSize + 3, Pack(Repeat(3, ' ')).size());
}

TEST(Compress, RunsUseOverlappingMatches) {
  // A literal, then matches of 18 that copy from one byte back.
  const Bytes packed = Pack(Repeat(1 + 18 * 7, 'q'));
  EXPECT_EQ(szdd::kHeaderSize + 1 + 1 + 7 * 2, packed.size());
  EXPECT_EQ(0x01, packed[14]);  // flag: literal, then seven matches
}

TEST(Compress, ReachesExactlyOneRingBack) {
  // Random data repeated after 4096 bytes: only the farthest match fits.
  const Bytes block = Random(4096, 11);
  const Bytes packed = Pack(Concat(block, block));
  const std::size_t literalsOnly = szdd::kHeaderSize + 4096 + 4096 / 8;
  EXPECT_LT(packed.size(), literalsOnly + 4096 / 18 * 2 + 40);
}

TEST(Compress, NothingBeyondTheRing) {
  // Repeated after 4097 bytes: out of reach, so (almost) all literals.
  const Bytes block = Random(4097, 12);
  const Bytes packed = Pack(Concat(block, block));
  EXPECT_GT(packed.size(), szdd::kHeaderSize + 8194 + 8194 / 8 - 64);
}

}  // namespace
