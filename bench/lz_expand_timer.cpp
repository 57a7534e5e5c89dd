// lz_expand_timer: times the platform's LZ expand library (LZOpenFileA +
// LZCopy) on two sets of SZDD files, alternating the sets run by run so that
// both see the same conditions.
//
//   lz_expand_timer RUNS OUTFILE A1 A2 ... -- B1 B2 ...
//
// Each run expands every file of a set into OUTFILE. Prints per set:
//   "<A|B> median_ms=<ms> bytes=<expanded bytes per run> runs=<ms,ms,...>"
// and exits nonzero if any expansion fails. Paths must stay under 128 bytes
// (OpenFile's limit).
#include <windows.h>
#include <lzexpand.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Set {
  const char* label;
  std::vector<std::string> files;
  std::vector<double> ms;
  long long bytes = 0;
};

double Now() {
  static LARGE_INTEGER freq = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

// Expands one file; returns the expanded size, or -1 on failure.
long long ExpandOne(const std::string& in, const std::string& out) {
  OFSTRUCT ofsIn{}, ofsOut{};
  const INT src = LZOpenFileA(const_cast<char*>(in.c_str()), &ofsIn, OF_READ);
  if (src < 0) {
    std::fprintf(stderr, "lz_expand_timer: cannot open %s (%d)\n", in.c_str(), src);
    return -1;
  }
  const INT dst = LZOpenFileA(const_cast<char*>(out.c_str()), &ofsOut, OF_CREATE | OF_WRITE);
  if (dst < 0) {
    LZClose(src);
    std::fprintf(stderr, "lz_expand_timer: cannot create %s (%d)\n", out.c_str(), dst);
    return -1;
  }
  const LONG n = LZCopy(src, dst);
  LZClose(src);
  LZClose(dst);
  if (n < 0) std::fprintf(stderr, "lz_expand_timer: LZCopy failed on %s (%ld)\n", in.c_str(), n);
  return n;
}

bool RunSet(Set& set, const std::string& out) {
  long long bytes = 0;
  const double t0 = Now();
  for (const std::string& f : set.files) {
    const long long n = ExpandOne(f, out);
    if (n < 0) return false;
    bytes += n;
  }
  set.ms.push_back(Now() - t0);
  set.bytes = bytes;
  return true;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fputs("usage: lz_expand_timer RUNS OUTFILE A... -- B...\n", stderr);
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  const std::string out = argv[2];
  Set a{"A", {}, {}}, b{"B", {}, {}};
  Set* cur = &a;
  for (int i = 3; i < argc; ++i) {
    if (std::string(argv[i]) == "--") {
      cur = &b;
    } else {
      cur->files.push_back(argv[i]);
    }
  }
  if (runs < 1 || a.files.empty() || b.files.empty()) {
    std::fputs("lz_expand_timer: need RUNS >= 1 and two non-empty sets\n", stderr);
    return 2;
  }
  // One untimed pass of each set warms the file cache.
  if (!RunSet(a, out) || !RunSet(b, out)) return 1;
  a.ms.clear();
  b.ms.clear();
  for (int r = 0; r < runs; ++r) {
    Set& first = r % 2 ? b : a;
    Set& second = r % 2 ? a : b;
    if (!RunSet(first, out) || !RunSet(second, out)) return 1;
  }
  DeleteFileA(out.c_str());
  for (const Set* s : {&a, &b}) {
    std::printf("%s median_ms=%.2f bytes=%lld runs=", s->label, Median(s->ms), s->bytes);
    for (std::size_t i = 0; i < s->ms.size(); ++i) std::printf("%s%.1f", i ? "," : "", s->ms[i]);
    std::printf("\n");
  }
  return 0;
}
