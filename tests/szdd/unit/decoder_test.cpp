#include <gtest/gtest.h>

#include "decoder.h"
#include "encoder.h"
#include "format.h"
#include "test_data.h"

using namespace szdd_test;

namespace {

Bytes Header(std::uint32_t length) {
  return {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33, 0x41, 0,
          static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
          static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
}

Bytes Expand(const Bytes& in) { return szdd::Expand(in.data(), in.size()); }

Bytes Str(const char* s) { return Bytes(s, s + std::char_traits<char>::length(s)); }

// Hand-made streams pin down the expander's ring semantics.
TEST(Expand, MatchFromTheInitialSpaces) {
  // Flag 0b10: match (ring 0x000, length 4), then literal 'x'.
  EXPECT_EQ(Str("    x"), Expand(Concat(Header(5), {0x02, 0x00, 0x01, 'x'})));
}

TEST(Expand, OverlappingMatchRepeatsItsOwnOutput) {
  // 'a', 'b', then copy 6 bytes starting at the 'a' (ring 0xFF0).
  EXPECT_EQ(Str("abababab"), Expand(Concat(Header(8), {0x03, 'a', 'b', 0xF0, 0xF3})));
}

TEST(Expand, MatchAtTheWritePositionReadsBeforeWriting) {
  // 'q' at 0xFF0, then a match starting at the next write position 0xFF1:
  // it reads the old spaces there, one byte ahead of each write.
  EXPECT_EQ(Str("q   "), Expand(Concat(Header(4), {0x01, 'q', 0xF1, 0xF0})));
}

TEST(Expand, MatchWrapsAroundTheRing) {
  // Sixteen literals fill 0xFF0..0xFFF, 'z' lands at 0x000; a match from
  // 0xFFE then reads across the end of the ring.
  const Bytes lits = Str("0123456789abcdef");
  Bytes in = Header(20);
  in.push_back(0xFF);
  in.insert(in.end(), lits.begin(), lits.begin() + 8);
  in.push_back(0xFF);
  in.insert(in.end(), lits.begin() + 8, lits.end());
  in.insert(in.end(), {0x01, 'z', 0xFE, 0xF0});
  EXPECT_EQ(Str("0123456789abcdefzefz"), Expand(in));
}

TEST(Expand, AcceptsOwnOutputForEveryShortLength) {
  for (std::size_t n = 0; n < 40; ++n) {
    const Bytes data = Random(n, static_cast<std::uint32_t>(n), "ab ");
    EXPECT_EQ(data, Expand(szdd::Compress(data.data(), data.size()))) << n;
  }
}

void ExpectRejected(const Bytes& in, const std::string& fragment) {
  try {
    Expand(in);
    ADD_FAILURE() << "accepted; expected an error containing '" << fragment << "'";
  } catch (const szdd::FormatError& e) {
    EXPECT_NE(std::string::npos, std::string(e.what()).find(fragment)) << e.what();
  }
}

TEST(Expand, RejectsWhatIsNotSzdd) {
  ExpectRejected({}, "not an SZDD file");
  ExpectRejected(Str("MZ\x90\x00 this is an executable"), "not an SZDD file");
  const Bytes header = Header(0);
  ExpectRejected(Bytes(header.begin(), header.begin() + 11), "truncated header");
  Bytes otherMode = Header(0);
  otherMode[8] = 'B';
  ExpectRejected(otherMode, "unsupported compression mode 0x42");
}

TEST(Expand, RejectsTruncatedData) {
  const Bytes data = Text(5000, 5);
  const Bytes packed = szdd::Compress(data.data(), data.size());
  for (std::size_t cut : {std::size_t{1}, std::size_t{2}, std::size_t{100}, packed.size() - 15}) {
    ExpectRejected(Bytes(packed.begin(), packed.end() - cut), "truncated");
  }
  ExpectRejected(Concat(Header(3), {0x00, 0x00}), "truncated");  // half a match
}

TEST(Expand, RejectsALengthFieldThatDisagrees) {
  const Bytes data = Text(1000, 6);
  Bytes packed = szdd::Compress(data.data(), data.size());
  Bytes longer = packed;
  longer[10] += 1;  // one byte more than the data holds
  ExpectRejected(longer, "truncated");
  Bytes shorter = packed;
  shorter[10] -= 1;
  ExpectRejected(shorter, "length");
  ExpectRejected(Concat(packed, {0xFF, 'x'}), "after the expanded length");
  ExpectRejected(Concat(Header(2), {0x00, 0x00, 0x00}), "past the length field");
  Bytes huge = packed;
  huge[13] = 0xFF;  // claims almost 4 GiB
  ExpectRejected(huge, "truncated");
}

TEST(Expand, ReadsHeaderFields) {
  Bytes in = Header(0x01020304);
  in[9] = 'L';
  const szdd::Header h = szdd::ReadHeader(in.data(), in.size());
  EXPECT_EQ(0x41, h.mode);
  EXPECT_EQ('L', h.missingChar);
  EXPECT_EQ(0x01020304u, h.length);
}

}  // namespace
