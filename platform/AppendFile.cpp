#include "platform/AppendFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/FileNames.h"
#include "platform/OsFile.h"
#include "platform/Ticks.h"

namespace platform {
namespace {

bool TryLock(int fd) {
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = static_cast<off_t>(kShareLockOffset);
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

}  // namespace

OsError AppendToFile(const std::string& path, std::string_view bytes, int32_t lock_wait_ms,
                     bool* opened) {
  *opened = false;
  const int fd =
      open(ResolveFileName(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return ErrnoToOsError(errno);
  *opened = true;
  const uint64_t deadline = GetTickCount() + static_cast<uint64_t>(lock_wait_ms);
  while (!TryLock(fd) && GetTickCount() < deadline) WaitMoreThan(10);
  OsError error = kErrorSuccess;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      error = ErrnoToOsError(errno);
      break;
    }
    done += static_cast<size_t>(n);
  }
  close(fd);  // also releases the lock
  return error;
}

}  // namespace platform
