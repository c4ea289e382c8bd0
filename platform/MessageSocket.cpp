#include "platform/MessageSocket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/PrivateDirectory.h"

namespace platform {
namespace {

constexpr size_t kMaxDatagram = 512;
// Between attempts after a transient failure, so that it does not spin.
constexpr int kRetryPauseMs = 10;

// Fills `address` with the socket path of process `pid`; false when the path does not fit.
bool SocketAddress(int32_t pid, sockaddr_un& address, std::string& path, OsError& error) {
  std::string directory;
  error = GetPrivateDirectory(directory);
  if (error != kErrorSuccess) return false;
  path = directory + "/msg-" + std::to_string(pid) + ".sock";
  std::memset(&address, 0, sizeof(address));
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    error = kErrorInvalidParameter;
    return false;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Waits on the wake-up pipe only, so that Shutdown still ends the pause at once.
void PauseBeforeRetry(int wake_read) {
  pollfd wake = {wake_read, POLLIN, 0};
  [[maybe_unused]] const int ignored = poll(&wake, 1, kRetryPauseMs);
}

}  // namespace

MessageSocket::~MessageSocket() { Close(); }

OsError MessageSocket::Open() {
  if (fd_ >= 0) return kErrorInvalidParameter;
  sockaddr_un address;
  OsError error = kErrorSuccess;
  std::string path;
  if (!SocketAddress(static_cast<int32_t>(getpid()), address, path, error)) return error;

  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return ErrnoToOsError(errno);
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    const int err = errno;
    close(fd);
    return ErrnoToOsError(err);
  }
  auto fail = [&](int err) {
    close(fd);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return ErrnoToOsError(err);
  };
  const int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof(on)) != 0) return fail(errno);
  // A socket file of a dead process with our id may remain.
  unlink(path.c_str());
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    return fail(errno);
  }
  fd_ = fd;
  wake_read_ = pipe_fds[0];
  wake_write_ = pipe_fds[1];
  path_ = path;
  return kErrorSuccess;
}

bool MessageSocket::Receive(std::vector<uint8_t>& datagram) {
  if (fd_ < 0) return false;
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_read_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno != EINTR) PauseBeforeRetry(wake_read_);
      continue;
    }
    if (fds[1].revents != 0) return false;
    if ((fds[0].revents & POLLNVAL) != 0) return false;
    if (fds[0].revents == 0) continue;
    uint8_t buffer[kMaxDatagram];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    iovec io = {buffer, sizeof(buffer)};
    msghdr header;
    std::memset(&header, 0, sizeof(header));
    header.msg_iov = &io;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof(control);
    const ssize_t n = recvmsg(fd_, &header, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (n < 0) {
      const int err = errno;
      if (err == EBADF || err == ENOTSOCK) return false;  // closed under us: nothing more comes
      // Short of memory or buffers, or a pending socket error: the socket itself stays usable,
      // and ending here would leave the process deaf to every later message.
      if (err != EINTR && err != EAGAIN) PauseBeforeRetry(wake_read_);
      continue;
    }
    bool same_user = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS &&
          c->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
        ucred credentials;
        std::memcpy(&credentials, CMSG_DATA(c), sizeof(credentials));
        same_user = credentials.uid == geteuid();
      }
    }
    if (!same_user) continue;
    datagram.assign(buffer, buffer + n);
    return true;
  }
}

void MessageSocket::Shutdown() {
  if (wake_write_ < 0) return;
  const char byte = 1;
  // A full pipe already holds a wake-up, so a failed write changes nothing.
  [[maybe_unused]] ssize_t ignored = write(wake_write_, &byte, 1);
}

void MessageSocket::Close() {
  if (fd_ < 0) return;
  unlink(path_.c_str());
  close(fd_);
  close(wake_read_);
  close(wake_write_);
  fd_ = wake_read_ = wake_write_ = -1;
  path_.clear();
}

OsError SendMessageDatagram(int32_t pid, const uint8_t* data, size_t size) {
  if (pid <= 0) return kErrorInvalidHandle;
  sockaddr_un address;
  OsError error = kErrorSuccess;
  std::string path;
  if (!SocketAddress(pid, address, path, error)) return error;
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return ErrnoToOsError(errno);
  ssize_t sent;
  do {
    sent = sendto(fd, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
                  sizeof(address));
  } while (sent < 0 && errno == EINTR);
  const int err = errno;
  close(fd);
  if (sent >= 0) return kErrorSuccess;
  if (err == ENOENT || err == ECONNREFUSED) return kErrorInvalidHandle;
  return ErrnoToOsError(err);
}

}  // namespace platform
