#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace szdd {
namespace {

std::string Describe(const std::string& path, const char* what, int err) {
  return path + ": " + what + ": " + std::strerror(err);
}

// Closes a descriptor on scope exit.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Removes a temporary file on scope exit unless it was committed.
class TempFile {
 public:
  explicit TempFile(std::string path) : path_(std::move(path)) {}
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (!path_.empty()) {
      ::unlink(path_.c_str());
    }
  }
  void Commit() { path_.clear(); }

 private:
  std::string path_;
};

mode_t DefaultFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

std::vector<std::uint8_t> ReadFile(const std::string& path, std::uint64_t maxSize) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    throw IoError(Describe(path, "cannot open", errno));
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    throw IoError(Describe(path, "cannot stat", errno));
  }
  if (S_ISDIR(st.st_mode)) {
    throw IoError(path + ": is a directory");
  }
  if (S_ISREG(st.st_mode) && static_cast<std::uint64_t>(st.st_size) > maxSize) {
    throw IoError(path + ": too large (" + std::to_string(st.st_size) + " bytes; at most " +
                  std::to_string(maxSize) + ")");
  }
  std::vector<std::uint8_t> bytes;
  if (S_ISREG(st.st_mode)) {
    bytes.reserve(static_cast<std::size_t>(st.st_size));
  }
  std::uint8_t chunk[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw IoError(Describe(path, "cannot read", errno));
    }
    if (got == 0) {
      break;
    }
    if (bytes.size() + static_cast<std::uint64_t>(got) > maxSize) {
      throw IoError(path + ": too large (more than " + std::to_string(maxSize) + " bytes)");
    }
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  return bytes;
}

void WriteFileAtomic(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) {
    throw IoError(path + ": not a file name");
  }
  // Renaming over a device or a folder would replace it, not write to it.
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    throw IoError(path + ": cannot create: not a regular file");
  }
  std::string temp = dir + "." + name + ".XXXXXX";
  Fd fd(::mkstemp(temp.data()));
  if (fd.get() < 0) {
    throw IoError(Describe(path, "cannot create", errno));
  }
  TempFile guard(temp);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (put < 0) {
      if (errno == EINTR) {
        continue;
      }
      throw IoError(Describe(path, "cannot write", errno));
    }
    done += static_cast<std::size_t>(put);
  }
  if (::fchmod(fd.get(), DefaultFileMode()) != 0) {
    throw IoError(Describe(path, "cannot set permissions", errno));
  }
  if (::close(fd.release()) != 0) {
    throw IoError(Describe(path, "cannot write", errno));
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    throw IoError(Describe(path, "cannot create", errno));
  }
  guard.Commit();
}

}  // namespace szdd
