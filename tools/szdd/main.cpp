// szdd: writes and reads the SZDD files that the installer carries.
//
//   szdd compress IN OUT   compress IN into OUT
//   szdd expand IN OUT     expand IN into OUT
//   szdd info FILE         describe FILE
//
// Errors are one line on stderr and a nonzero exit; OUT is only created
// (or replaced) when everything succeeded.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "decoder.h"
#include "encoder.h"
#include "file_io.h"
#include "format.h"

namespace {

constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

int Usage() {
  std::fputs(
      "usage: szdd compress IN OUT\n"
      "       szdd expand IN OUT\n"
      "       szdd info FILE\n",
      stderr);
  return kExitUsage;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "szdd: %s\n", message.c_str());
  return kExitError;
}

int CompressFile(const std::string& in, const std::string& out) {
  const std::vector<std::uint8_t> data = szdd::ReadFile(in, szdd::kMaxExpandedLength);
  const std::vector<std::uint8_t> packed = szdd::Compress(data.data(), data.size());
  // Expanding again costs little and guarantees that a bad file never ships.
  if (szdd::Expand(packed.data(), packed.size()) != data) {
    return Fail(in + ": internal error: the compressed data does not expand to the input");
  }
  szdd::WriteFileAtomic(out, packed);
  return 0;
}

int ExpandFile(const std::string& in, const std::string& out) {
  const std::vector<std::uint8_t> packed = szdd::ReadFile(in, ~std::uint64_t{0});
  std::vector<std::uint8_t> data;
  try {
    data = szdd::Expand(packed.data(), packed.size());
  } catch (const szdd::FormatError& e) {
    return Fail(in + ": " + e.what());
  }
  szdd::WriteFileAtomic(out, data);
  return 0;
}

int Info(const std::string& path) {
  const std::vector<std::uint8_t> packed = szdd::ReadFile(path, ~std::uint64_t{0});
  szdd::Header h;
  try {
    h = szdd::ReadHeader(packed.data(), packed.size());
    szdd::Expand(packed.data(), packed.size());  // the numbers below are only true if it expands
  } catch (const szdd::FormatError& e) {
    return Fail(path + ": " + e.what());
  }
  const double ratio = h.length ? 100.0 * static_cast<double>(packed.size()) / h.length : 0.0;
  std::printf("mode:              %c (0x%02X)\n", h.mode, h.mode);
  if (h.missingChar >= 0x21 && h.missingChar < 0x7F) {
    std::printf("missing character: %c (0x%02X)\n", h.missingChar, h.missingChar);
  } else {
    std::printf("missing character: none (0x%02X)\n", h.missingChar);
  }
  std::printf("expanded length:   %u bytes\n", h.length);
  std::printf("compressed length: %zu bytes\n", packed.size());
  if (h.length) {
    std::printf("ratio:             %.1f%%\n", ratio);
  } else {
    std::printf("ratio:             n/a (empty file)\n");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 3 && args[0] == "compress") {
      return CompressFile(args[1], args[2]);
    }
    if (args.size() == 3 && args[0] == "expand") {
      return ExpandFile(args[1], args[2]);
    }
    if (args.size() == 2 && args[0] == "info") {
      return Info(args[1]);
    }
  } catch (const szdd::IoError& e) {
    return Fail(e.what());
  } catch (const std::bad_alloc&) {
    return Fail("out of memory");
  } catch (const std::exception& e) {
    return Fail(std::string("internal error: ") + e.what());
  }
  return Usage();
}
