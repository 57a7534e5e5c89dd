// Expands SZDD files with the system's LZ library, as the installer does.
//   lz_expand IN OUT [IN OUT ...]
// Exit status 0 when every pair expanded, 1 otherwise.
#include <windows.h>
#include <lzexpand.h>

#include <cstdio>

namespace {

bool ExpandOne(const char* in, const char* out) {
  OFSTRUCT ofIn{};
  OFSTRUCT ofOut{};
  const INT src = LZOpenFileA(const_cast<char*>(in), &ofIn, OF_READ | OF_SHARE_DENY_WRITE);
  if (src < 0) {
    std::fprintf(stderr, "lz_expand: %s: LZOpenFileA failed (%d)\n", in, src);
    return false;
  }
  const INT dst = LZOpenFileA(const_cast<char*>(out), &ofOut, OF_CREATE | OF_WRITE);
  if (dst < 0) {
    std::fprintf(stderr, "lz_expand: %s: cannot create (%d)\n", out, dst);
    LZClose(src);
    return false;
  }
  const LONG copied = LZCopy(src, dst);
  LZClose(dst);
  LZClose(src);
  if (copied < 0) {
    std::fprintf(stderr, "lz_expand: %s: LZCopy failed (%ld)\n", in, copied);
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 == 0) {
    std::fprintf(stderr, "usage: lz_expand IN OUT [IN OUT ...]\n");
    return 2;
  }
  bool ok = true;
  for (int i = 1; i + 1 < argc; i += 2) {
    ok = ExpandOne(argv[i], argv[i + 1]) && ok;
  }
  return ok ? 0 : 1;
}
