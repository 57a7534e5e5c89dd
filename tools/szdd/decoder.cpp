#include "decoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "format.h"

namespace szdd {

Header ReadHeader(const std::uint8_t* in, std::size_t size) {
  if (size < sizeof kSignature || std::memcmp(in, kSignature, sizeof kSignature) != 0) {
    throw FormatError("not an SZDD file (bad signature)");
  }
  if (size < kHeaderSize) {
    throw FormatError("truncated header (" + std::to_string(size) + " of " +
                      std::to_string(kHeaderSize) + " bytes)");
  }
  Header h;
  h.mode = in[kModeOffset];
  h.missingChar = in[kMissingCharOffset];
  for (int k = 3; k >= 0; --k) {
    h.length = (h.length << 8) | in[kLengthOffset + k];
  }
  if (h.mode != kModeLzss) {
    throw FormatError("unsupported compression mode 0x" +
                      std::string(1, "0123456789ABCDEF"[h.mode >> 4]) +
                      std::string(1, "0123456789ABCDEF"[h.mode & 15]));
  }
  return h;
}

std::vector<std::uint8_t> Expand(const std::uint8_t* in, std::size_t size) {
  const Header h = ReadHeader(in, size);
  const std::uint64_t want = h.length;
  // A flag byte and eight full matches expand to at most 144 bytes from 17.
  const std::uint64_t ceiling = (size - kHeaderSize) / 17 * 144 + 144;
  std::vector<std::uint8_t> out;
  out.reserve(static_cast<std::size_t>(std::min(want, ceiling)));

  std::array<std::uint8_t, kRingSize> ring;
  ring.fill(kRingFill);
  std::uint32_t w = kRingStart;
  std::size_t at = kHeaderSize;
  unsigned flags = 0;  // pending flag bits, with a marker bit above them
  const auto truncated = [&] {
    return FormatError("data ends after " + std::to_string(out.size()) + " of " +
                       std::to_string(want) + " bytes (truncated, or a wrong length field)");
  };
  while (out.size() < want) {
    if (flags <= 1) {
      if (at >= size) {
        throw truncated();
      }
      flags = 0x100u | in[at++];
    }
    if (flags & 1) {
      if (at >= size) {
        throw truncated();
      }
      const std::uint8_t b = in[at++];
      out.push_back(b);
      ring[w] = b;
      w = (w + 1) & kRingMask;
    } else {
      if (size - at < 2) {
        throw truncated();
      }
      const std::uint32_t b0 = in[at], b1 = in[at + 1];
      at += 2;
      std::uint32_t src = b0 | ((b1 & 0xF0) << 4);
      const std::uint32_t length = (b1 & 0x0F) + kMinMatch;
      if (want - out.size() < length) {
        throw FormatError("data runs past the length field (" + std::to_string(want) + " bytes)");
      }
      // Byte by byte: a copy may read what it has just written.
      for (std::uint32_t k = 0; k < length; ++k) {
        const std::uint8_t b = ring[src];
        src = (src + 1) & kRingMask;
        out.push_back(b);
        ring[w] = b;
        w = (w + 1) & kRingMask;
      }
    }
    flags >>= 1;
  }
  if (at != size) {
    throw FormatError(std::to_string(size - at) + " bytes of data after the expanded length (" +
                      std::to_string(want) + " bytes; wrong length field?)");
  }
  return out;
}

}  // namespace szdd
