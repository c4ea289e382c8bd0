#include "tests/platform/LockHelperClient.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace mirvel_test {
namespace {

constexpr int kReplyTimeoutMs = 10000;

}  // namespace

LockHelperProcess::LockHelperProcess() {
  // A helper that died must fail the test's next Send, not kill the test with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0) return;
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  char path[] = MIRVEL_LOCK_HELPER;
  char* argv[] = {path, nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, path, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  if (rc != 0) {
    close(in[1]);
    close(out[0]);
    return;
  }
  pid_ = pid;
  to_child_ = in[1];
  from_child_ = out[0];
}

LockHelperProcess::~LockHelperProcess() {
  if (to_child_ >= 0) close(to_child_);
  if (from_child_ >= 0) close(from_child_);
  if (pid_ > 0) {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

std::string LockHelperProcess::Send(const std::string& command) {
  if (!Post(command)) return "no-reply";
  return Reply(kReplyTimeoutMs);
}

bool LockHelperProcess::Post(const std::string& command) {
  if (pid_ <= 0) return false;
  const std::string line = command + "\n";
  size_t sent = 0;
  while (sent < line.size()) {
    const ssize_t n = write(to_child_, line.data() + sent, line.size() - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::string LockHelperProcess::Reply(int timeout_ms) {
  if (pid_ <= 0) return "no-reply";
  for (;;) {
    const size_t newline = pending_.find('\n');
    if (newline != std::string::npos) {
      std::string reply = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return reply;
    }
    pollfd pfd{from_child_, POLLIN, 0};
    const int ready = poll(&pfd, 1, timeout_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return "no-reply";
    char buffer[256];
    const ssize_t n = read(from_child_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return "no-reply";
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

void LockHelperProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

}  // namespace mirvel_test
