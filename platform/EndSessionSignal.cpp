#include "platform/EndSessionSignal.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace platform {
namespace {

int g_read_fd = -1;
volatile sig_atomic_t g_write_fd = -1;
std::mutex g_install_mutex;

void OnSignal(int signal_number) {
  const int saved_errno = errno;
  const char byte = static_cast<char>(signal_number);
  // A full pipe already holds a pending signal: losing this one changes nothing.
  [[maybe_unused]] ssize_t ignored = write(g_write_fd, &byte, 1);
  errno = saved_errno;
}

}  // namespace

OsError InstallEndSessionSignals() {
  std::lock_guard<std::mutex> guard(g_install_mutex);
  if (g_read_fd >= 0) return kErrorSuccess;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return ErrnoToOsError(errno);
  // Only the writing end may never block: the handler must return at once.
  if (fcntl(fds[1], F_SETFL, O_NONBLOCK) != 0) {
    const int err = errno;
    close(fds[0]);
    close(fds[1]);
    return ErrnoToOsError(err);
  }
  g_read_fd = fds[0];
  g_write_fd = fds[1];
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (sigaction(SIGTERM, &action, nullptr) != 0 || sigaction(SIGHUP, &action, nullptr) != 0) {
    return ErrnoToOsError(errno);
  }
  return kErrorSuccess;
}

int WaitForEndSessionSignal() {
  if (g_read_fd < 0) return 0;
  for (;;) {
    char byte = 0;
    const ssize_t n = read(g_read_fd, &byte, 1);
    if (n == 1) return static_cast<unsigned char>(byte);
    if (n < 0 && errno == EINTR) continue;
    return 0;
  }
}

void StopEndSessionWait() {
  if (g_write_fd < 0) return;
  const char byte = 0;
  [[maybe_unused]] ssize_t ignored = write(g_write_fd, &byte, 1);
}

}  // namespace platform
