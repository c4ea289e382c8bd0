#include "platform/SharedMapping.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/PrivateDirectory.h"

namespace platform {

std::string SharedMappingFileName(const std::string& name) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : name) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(hash));
  return std::string("map-") + text;
}

SharedMapping::~SharedMapping() { Close(); }

void SharedMapping::Close() {
  if (data_ != nullptr) munmap(data_, size_);
  if (fd_ >= 0) close(fd_);
  data_ = nullptr;
  fd_ = -1;
  size_ = 0;
  created_ = false;
}

OsError SharedMapping::Open(const std::string& name, size_t size) {
  if (size == 0 || IsOpen()) return kErrorInvalidParameter;
  std::string directory;
  if (OsError error = GetPrivateDirectory(directory)) return error;
  const std::string path = directory + "/" + SharedMappingFileName(name);

  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return ErrnoToOsError(errno);
  auto fail = [fd](int err) {
    close(fd);
    return ErrnoToOsError(err);
  };
  bool first = true;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) return fail(errno);
    first = false;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) return fail(errno);
  if (static_cast<size_t>(info.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0) {
    return fail(errno);
  }
  void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (data == MAP_FAILED) return fail(errno);
  if (first) std::memset(data, 0, size);
  fd_ = fd;
  data_ = static_cast<uint8_t*>(data);
  size_ = size;
  created_ = first;
  return kErrorSuccess;
}

}  // namespace platform
