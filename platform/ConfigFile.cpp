#include "platform/ConfigFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Environment.h"

namespace platform {
namespace {

// Closes a descriptor on every path out of a function (and with it its OFD lock).
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

int OpenRetrying(const char* path, int flags, mode_t mode) {
  for (;;) {
    const int fd = open(path, flags | O_CLOEXEC | O_NOCTTY, mode);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

OsError ReadAll(int fd, std::string* content) {
  content->clear();
  char buffer[16384];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoToOsError(errno);
    }
    if (n == 0) return kErrorSuccess;
    content->append(buffer, static_cast<size_t>(n));
  }
}

OsError WriteAll(int fd, const std::string& content) {
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoToOsError(errno);
    }
    done += static_cast<size_t>(n);
  }
  return kErrorSuccess;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Waits for the exclusive lock on the whole lock file.
OsError LockExclusive(int fd) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;
  for (;;) {
    if (fcntl(fd, F_OFD_SETLKW, &fl) == 0) return kErrorSuccess;
    if (errno != EINTR) return ErrnoToOsError(errno, ErrnoSource::kRangeLock);
  }
}

}  // namespace

OsError ReadConfigFile(const std::string& path, std::string* content, bool* exists) {
  content->clear();
  *exists = false;
  Descriptor fd(OpenRetrying(path.c_str(), O_RDONLY, 0));
  if (fd.get() < 0) {
    const int err = errno;
    return err == ENOENT ? kErrorSuccess : ErrnoToOsError(err);
  }
  *exists = true;
  return ReadAll(fd.get(), content);
}

OsError UpdateConfigFile(const std::string& path,
                         const std::function<bool(std::string& content)>& change) {
  const std::string directory = DirectoryOf(path);
  OsError error = CreateDirectories(directory);
  if (error != kErrorSuccess) return error;

  const std::string lock_path = path + ".lock";
  Descriptor lock(OpenRetrying(lock_path.c_str(), O_RDWR | O_CREAT, 0600));
  if (lock.get() < 0) return ErrnoToOsError(errno);
  error = LockExclusive(lock.get());
  if (error != kErrorSuccess) return error;

  std::string content;
  bool exists = false;
  error = ReadConfigFile(path, &content, &exists);
  if (error != kErrorSuccess) return error;
  if (!change(content)) return kErrorSuccess;

  const std::string temp_path = path + ".tmp";
  {
    Descriptor temp(OpenRetrying(temp_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    if (temp.get() < 0) return ErrnoToOsError(errno);
    error = WriteAll(temp.get(), content);
    if (error == kErrorSuccess && fsync(temp.get()) != 0) error = ErrnoToOsError(errno);
    if (error != kErrorSuccess) {
      unlink(temp_path.c_str());
      return error;
    }
  }
  if (rename(temp_path.c_str(), path.c_str()) != 0) {
    error = ErrnoToOsError(errno);
    unlink(temp_path.c_str());
    return error;
  }
  // Make the rename itself durable; a failure here leaves a correct file in place.
  Descriptor dir(OpenRetrying(directory.c_str(), O_RDONLY | O_DIRECTORY, 0));
  if (dir.get() >= 0) fsync(dir.get());
  return kErrorSuccess;
}

}  // namespace platform
