// Drives the test peer (tests/engine/storage/tessera-peer.cpp) from a test: a second process that
// opens, locks, holds, writes and tries on command, so that tests see what another workstation
// would see.
#pragma once

#include <string>

namespace mirvel_test {

class LockHelperProcess {
 public:
  // Starts the helper; Started() tells whether that worked.
  LockHelperProcess();
  // Ends the helper (end of input) and waits for it.
  ~LockHelperProcess();
  LockHelperProcess(const LockHelperProcess&) = delete;
  LockHelperProcess& operator=(const LockHelperProcess&) = delete;

  bool Started() const { return pid_ > 0; }

  // Sends one command line and returns the reply line ("ok", "err 32", ...), or "no-reply" when
  // the helper answers nothing within ten seconds or is gone.
  std::string Send(const std::string& command);
  // Send in two halves, for a command that blocks in the helper while the test acts elsewhere:
  // Post sends the line (false when the helper is gone), Reply waits for the answer.
  bool Post(const std::string& command);
  std::string Reply(int timeout_ms = 10000);

  // Kills the helper with SIGKILL and waits until it is gone.
  void Kill();

 private:
  int pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
  std::string pending_;
};

}  // namespace mirvel_test
