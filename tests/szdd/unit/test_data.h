// Inputs shared by the compressor tests.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace szdd_test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Repeat(std::size_t n, std::uint8_t b) { return Bytes(n, b); }

// Bytes drawn from `alphabet`; small alphabets give many short, overlapping matches.
inline Bytes Random(std::size_t n, std::uint32_t seed, const std::string& alphabet = "") {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) {
    const std::uint32_t r = rng();
    b = alphabet.empty() ? static_cast<std::uint8_t>(r)
                         : static_cast<std::uint8_t>(alphabet[r % alphabet.size()]);
  }
  return out;
}

// English-like text: words, spaces, punctuation and line breaks.
inline Bytes Text(std::size_t n, std::uint32_t seed) {
  static const char* const kWords[] = {
      "the",     "setup",  "program", "copies", "files", "to",      "your",   "computer",
      "folder",  "and",    "creates", "a",      "link",  "in",      "menu",   "Zorvik",
      "install", "cancel", "space",   "disk",   "of",    "license", "version", "read"};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    s += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
    const std::uint32_t r = rng() % 16;
    s += r == 0 ? ".\r\n" : r == 1 ? ", " : " ";
  }
  s.resize(n);
  return Bytes(s.begin(), s.end());
}

inline Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace szdd_test
