#include "platform/ProcessWait.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

#include "platform/Ticks.h"

namespace platform {
namespace {

// A zombie still answers kill(pid, 0); its state letter in /proc tells it has ended.
bool Ended(int32_t pid) {
  if (kill(pid, 0) != 0 && errno == ESRCH) return true;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  const size_t close_paren = line.rfind(')');
  return close_paren != std::string::npos && close_paren + 2 < line.size() &&
         (line[close_paren + 2] == 'Z' || line[close_paren + 2] == 'X');
}

}  // namespace

bool WaitForProcessEnd(int32_t pid, int32_t timeout_ms) {
  if (pid <= 0) return true;
  const uint64_t deadline = GetTickCount() + static_cast<uint64_t>(timeout_ms);
#ifdef SYS_pidfd_open
  const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (fd >= 0) {
    // The descriptor becomes readable when the process ends, reaped or not.
    while (true) {
      const uint64_t now = GetTickCount();
      const int wait = now >= deadline ? 0 : static_cast<int>(deadline - now);
      struct pollfd p = {fd, POLLIN, 0};
      const int r = poll(&p, 1, wait);
      if (r < 0 && errno == EINTR) continue;
      close(fd);
      return r > 0;
    }
  }
  if (errno == ESRCH) return true;
#endif
  while (!Ended(pid)) {
    if (GetTickCount() >= deadline) return false;
    WaitMoreThan(50);
  }
  return true;
}

bool KillProcess(int32_t pid) { return pid > 0 && kill(pid, SIGKILL) == 0; }

}  // namespace platform
