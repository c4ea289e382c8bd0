#include "platform/FileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace platform {
namespace {

// The descriptor closes and, unless kept, the temporary file goes whatever path leaves.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& target) : path_(target + ".XXXXXX") {
    fd_ = mkostemp(path_.data(), O_CLOEXEC);
  }
  ~TemporaryFile() {
    if (fd_ >= 0) close(fd_);
    if (fd_ >= 0 && !kept_) unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  void Keep() { kept_ = true; }

 private:
  std::string path_;
  int fd_ = -1;
  bool kept_ = false;
};

OsError CopyContent(int from, int to) {
  std::vector<char> buffer(1 << 16);
  while (true) {
    const ssize_t n = read(from, buffer.data(), buffer.size());
    if (n == 0) return kErrorSuccess;
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoToOsError(errno);
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(to, buffer.data() + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return ErrnoToOsError(errno);
      }
      done += w;
    }
  }
}

}  // namespace

OsError ReplaceFileWithCopy(const std::string& source, const std::string& target) {
  const int from = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (from < 0) return ErrnoToOsError(errno);
  struct stat source_st;
  struct stat st;
  if (fstat(from, &source_st) != 0 || (stat(target.c_str(), &st) != 0 && fstat(from, &st) != 0)) {
    const OsError error = ErrnoToOsError(errno);
    close(from);
    return error;
  }
  TemporaryFile temporary(target);
  if (temporary.fd() < 0) {
    const OsError error = ErrnoToOsError(errno);
    close(from);
    return error;
  }
  OsError error = CopyContent(from, temporary.fd());
  close(from);
  if (error != kErrorSuccess) return error;
  const struct timespec times[2] = {{0, UTIME_NOW}, source_st.st_mtim};
  if (fchmod(temporary.fd(), st.st_mode & 07777) != 0 || futimens(temporary.fd(), times) != 0 ||
      fsync(temporary.fd()) != 0 || rename(temporary.path().c_str(), target.c_str()) != 0) {
    return ErrnoToOsError(errno);
  }
  temporary.Keep();
  return kErrorSuccess;
}

OsError MakeExecutable(const std::string& path) {
  return chmod(path.c_str(), 0755) == 0 ? kErrorSuccess : ErrnoToOsError(errno);
}

}  // namespace platform
