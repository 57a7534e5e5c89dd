// The SZDD container: a 14-byte header followed by an LZSS stream.
//
// Header: 8-byte signature, mode byte 'A', the missing last character of
// the file name (0 when not used), expanded length as 32-bit little endian.
//
// Stream: a flag byte announces the next eight items, least significant bit
// first; a set bit is a literal byte, a clear bit a two-byte match
//   b0 = pos & 0xFF, b1 = ((pos >> 4) & 0xF0) | (length - 3)
// where pos is an absolute position in a 4096-byte ring buffer. The ring
// starts filled with spaces and the first output byte is stored at
// 4096 - 16. The expander copies a match one byte at a time, writing each
// byte to the ring before reading the next, so a match may run into the
// bytes it is producing itself.
#pragma once

#include <cstddef>
#include <cstdint>

namespace szdd {

inline constexpr std::uint8_t kSignature[8] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33};
inline constexpr std::uint8_t kModeLzss = 0x41;  // 'A'
inline constexpr std::size_t kHeaderSize = 14;
inline constexpr std::size_t kModeOffset = 8;
inline constexpr std::size_t kMissingCharOffset = 9;
inline constexpr std::size_t kLengthOffset = 10;

inline constexpr std::uint32_t kRingSize = 4096;
inline constexpr std::uint32_t kRingMask = kRingSize - 1;
inline constexpr std::uint32_t kRingStart = kRingSize - 16;
inline constexpr std::uint8_t kRingFill = 0x20;

inline constexpr std::uint32_t kMinMatch = 3;
inline constexpr std::uint32_t kMaxMatch = 18;
// A match copies from 1 to kRingSize bytes back in the output, counting the
// ring's initial spaces as output that precedes the file.
inline constexpr std::uint32_t kMaxDistance = kRingSize;

inline constexpr std::uint64_t kMaxExpandedLength = 0xFFFFFFFFu;

// Ring position the expander writes the byte at output offset i to.
inline constexpr std::uint32_t RingWritePos(std::uint64_t i) {
  return static_cast<std::uint32_t>((kRingStart + i) & kRingMask);
}

// Ring position of a match that copies from `distance` bytes back at output offset i.
inline constexpr std::uint32_t RingSourcePos(std::uint64_t i, std::uint32_t distance) {
  return static_cast<std::uint32_t>((kRingStart + i - distance) & kRingMask);
}

}  // namespace szdd
