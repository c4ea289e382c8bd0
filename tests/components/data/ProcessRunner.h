// Starting and watching helper processes in the multi-process tests.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/TestFiles.h"

extern char** environ;

namespace mirvel_test {

// Starts `args` (args[0] is the program); the pid, or -1.
inline pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

// The exit code, or -1 when it did not end normally within `timeout_ms` (it is then killed).
inline int WaitExit(pid_t pid, int timeout_ms = 20000) {
  for (int waited = 0; waited < timeout_ms; waited += 10) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

inline void Kill(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// True once the file holds `text`.
inline bool WaitForText(const std::string& file, const std::string& text, int timeout_ms = 20000) {
  for (int waited = 0; waited < timeout_ms; waited += 10) {
    if (ReadFileText(file).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace mirvel_test
