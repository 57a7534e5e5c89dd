// optimal_reference: the smallest SZDD file that the format allows for each
// input, found by exhaustive search. Written independently of tools/szdd so
// that the bench can check the compressor against it.
//
//   optimal_reference [-o OUTDIR] FILE...
//
// Prints one line per file: "<path>\t<input bytes>\t<optimal SZDD bytes>",
// then "total\t<input>\t<optimal>\t<seconds>". With -o, also writes each
// optimal file as OUTDIR/<basename>.szdd.
//
// Decoder model (mode 'A'): a 4096-byte ring filled with spaces, writing from
// 4096 - 16; a match names an absolute ring position and a length of 3..18
// and is copied byte by byte, each byte written before the next is read. The
// byte the expander reads for output offset j from ring position p is the
// last byte written there, so a match from p at offset i is the same as a copy
// from distance D = ((ring write position of i) - p) mod 4096, with 0 meaning
// D = 4096, out of the data preceded by 4096 spaces. Every ring position is
// therefore one distance 1..4096, including matches that reach into the
// initial spaces or overlap the bytes being written.
//
// Search: for each position i (from the end backwards) and each of the 4096
// distances the exact match length, capped at 18, is
//   M(i, D) = (x[i] == x[i-D]) ? 1 + M(i+1, D) : 0,
// updated for all distances at each step. Each length 3..18 up to the
// longest is available at that position (a prefix of a match is a match),
// so the shortest path over 9-bit literals and 17-bit matches is exact. The
// stream is ceil((9 * literals + 17 * matches) / 8) bytes: flag bits included.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::size_t kRing = 4096;
constexpr std::size_t kStart = kRing - 16;
constexpr std::uint8_t kFill = ' ';
constexpr unsigned kMin = 3;
constexpr unsigned kMax = 18;
constexpr std::uint64_t kLiteralBits = 9;
constexpr std::uint64_t kMatchBits = 17;

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

// Updates the match lengths of all 4096 distances for text position `at`
// (index into the space-prefixed text) and returns the longest.
// len[s] is the match length for source index s; on entry len[s+1] holds the
// value for position at+1, and it is replaced in ascending order of s.
unsigned StepAllDistances(const std::uint8_t* text, std::uint8_t* len, std::size_t at) {
  const std::size_t first = at - kRing;
  const std::uint8_t c = text[at];
#if defined(__SSE2__)
  const __m128i cv = _mm_set1_epi8(static_cast<char>(c));
  const __m128i one = _mm_set1_epi8(1);
  const __m128i cap = _mm_set1_epi8(static_cast<char>(kMax));
  __m128i best = _mm_setzero_si128();
  for (std::size_t s = first; s < at; s += 16) {
    const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(len + s + 1));
    const __m128i src = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + s));
    const __m128i eq = _mm_cmpeq_epi8(src, cv);
    const __m128i v = _mm_and_si128(eq, _mm_min_epu8(_mm_add_epi8(next, one), cap));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(len + s), v);
    best = _mm_max_epu8(best, v);
  }
  alignas(16) std::uint8_t lanes[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), best);
  return *std::max_element(lanes, lanes + 16);
#else
  unsigned best = 0;
  for (std::size_t s = first; s < at; ++s) {
    const unsigned v = text[s] == c ? std::min<unsigned>(len[s + 1] + 1u, kMax) : 0u;
    len[s] = static_cast<std::uint8_t>(v);
    best = std::max(best, v);
  }
  return best;
#endif
}

// Longest match at text position `at` from distance d, by direct comparison.
unsigned MatchAt(const std::vector<std::uint8_t>& text, std::size_t at, std::size_t d) {
  unsigned n = 0;
  while (n < kMax && at + n < text.size() && text[at + n] == text[at + n - d]) ++n;
  return n;
}

struct Result {
  std::vector<std::uint8_t> file;  // header + optimal stream
};

// The expander, modelled on the ring as the format defines it.
std::vector<std::uint8_t> RingExpand(const std::vector<std::uint8_t>& file) {
  std::uint32_t want = 0;
  for (int k = 3; k >= 0; --k) want = (want << 8) | file[10 + k];
  std::vector<std::uint8_t> ring(kRing, kFill), out;
  std::size_t w = kStart, at = 14;
  while (out.size() < want) {
    const unsigned flags = file.at(at++);
    for (int bit = 0; bit < 8 && out.size() < want; ++bit) {
      if (flags & (1u << bit)) {
        out.push_back(ring[w] = file.at(at++));
        w = (w + 1) % kRing;
      } else {
        std::size_t p = file.at(at) | ((file.at(at + 1) & 0xF0u) << 4);
        const unsigned n = (file.at(at + 1) & 0x0Fu) + kMin;
        at += 2;
        for (unsigned k = 0; k < n; ++k) {
          const std::uint8_t b = ring[p];
          p = (p + 1) % kRing;
          out.push_back(ring[w] = b);
          w = (w + 1) % kRing;
        }
      }
    }
  }
  if (at != file.size()) throw std::runtime_error("model expander: trailing bytes");
  return out;
}

Result Optimal(const std::vector<std::uint8_t>& data) {
  const std::size_t n = data.size();
  if (n > 0xFFFFFFFFu) throw std::runtime_error("input over 4 GiB");
  // The data preceded by the ring's initial spaces, with slack for the vector loads.
  std::vector<std::uint8_t> text(kRing + n + 32, 0);
  std::fill(text.begin(), text.begin() + kRing, kFill);
  std::copy(data.begin(), data.end(), text.begin() + kRing);

  std::vector<std::uint8_t> len(text.size() + 32, 0);
  std::vector<std::uint8_t> longest(n, 0);
  std::vector<std::uint8_t> step(n, 1);   // chosen item at i (1 = literal)
  std::vector<std::uint64_t> cost(n + 1, 0);  // bits from i to the end
  for (std::size_t i = n; i-- > 0;) {
    const unsigned m = StepAllDistances(text.data(), len.data(), kRing + i);
    longest[i] = static_cast<std::uint8_t>(m);
    std::uint64_t best = kLiteralBits + cost[i + 1];
    std::uint8_t choice = 1;
    for (unsigned l = kMin; l <= m; ++l) {
      const std::uint64_t c = kMatchBits + cost[i + l];
      if (c < best) {
        best = c;
        choice = static_cast<std::uint8_t>(l);
      }
    }
    cost[i] = best;
    step[i] = choice;
  }
  text.resize(kRing + n);

  Result r;
  r.file = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33, 0x41, 0};
  for (int k = 0; k < 4; ++k) r.file.push_back(static_cast<std::uint8_t>(n >> (8 * k)));
  std::size_t flagAt = 0, items = 0, matches = 0;
  for (std::size_t i = 0; i < n; i += step[i], ++items) {
    if (items % 8 == 0) {
      flagAt = r.file.size();
      r.file.push_back(0);
    }
    if (step[i] == 1) {
      r.file[flagAt] |= static_cast<std::uint8_t>(1u << (items % 8));
      r.file.push_back(data[i]);
      continue;
    }
    // A distance for the chosen length, found by direct comparison; on every
    // 16th match also confirm that no distance beats the vector search.
    const bool audit = (matches++ % 16) == 0;
    std::size_t dist = 0;
    unsigned top = 0;
    for (std::size_t d = 1; d <= kRing; ++d) {
      const unsigned l = MatchAt(text, kRing + i, d);
      if (l >= step[i] && dist == 0) dist = d;
      top = std::max(top, l);
      if (dist && !audit) break;
    }
    if (dist == 0 || (audit && top != longest[i])) {
      throw std::runtime_error("search disagrees with direct comparison at offset " + std::to_string(i));
    }
    const std::size_t p = (kStart + i + kRing - dist) % kRing;
    r.file.push_back(static_cast<std::uint8_t>(p & 0xFF));
    r.file.push_back(static_cast<std::uint8_t>(((p >> 4) & 0xF0) | (step[i] - kMin)));
  }
  if (r.file.size() - 14 != (cost[0] + 7) / 8) throw std::runtime_error("stream size differs from the path cost");
  if (RingExpand(r.file) != data) throw std::runtime_error("optimal stream does not expand to the input");
  return r;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
  std::string outDir;
  std::vector<std::string> files;
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "-o" && a + 1 < argc) {
      outDir = argv[++a];
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    std::fputs("usage: optimal_reference [-o OUTDIR] FILE...\n", stderr);
    return 2;
  }
  try {
    const auto t0 = std::chrono::steady_clock::now();
    std::uint64_t totalIn = 0, totalOut = 0;
    for (const std::string& f : files) {
      const std::vector<std::uint8_t> data = ReadAll(f);
      const Result r = Optimal(data);
      if (!outDir.empty()) WriteAll(outDir + "/" + BaseName(f) + ".szdd", r.file);
      std::printf("%s\t%zu\t%zu\n", f.c_str(), data.size(), r.file.size());
      std::fflush(stdout);
      totalIn += data.size();
      totalOut += r.file.size();
    }
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("total\t%llu\t%llu\t%.2f\n", static_cast<unsigned long long>(totalIn),
                static_cast<unsigned long long>(totalOut), secs);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "optimal_reference: %s\n", e.what());
    return 1;
  }
  return 0;
}
