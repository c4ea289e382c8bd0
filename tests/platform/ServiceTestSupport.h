// Shared pieces of the OS-service tests: a private directory of their own (XDG_RUNTIME_DIR points
// into a fresh temporary directory for the test's life) and waiting for a helper's result file.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/platform/TempDirectory.h"

namespace mirvel_test {

class PrivateRuntimeDir {
 public:
  PrivateRuntimeDir() : dir_("runtime") {
    const char* old = getenv("XDG_RUNTIME_DIR");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    setenv("XDG_RUNTIME_DIR", dir_.Path().c_str(), 1);
  }
  ~PrivateRuntimeDir() {
    if (had_old_) {
      setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
  }
  const TempDirectory& Dir() const { return dir_; }

 private:
  TempDirectory dir_;
  bool had_old_ = false;
  std::string old_;
};

// The whole content of `path` once it exists; empty after ten seconds without it.
inline std::string WaitForFile(const std::string& path) {
  for (int i = 0; i < 1000; ++i) {
    std::ifstream in(path);
    if (in) {
      std::ostringstream text;
      text << in.rdbuf();
      return text.str();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "";
}

}  // namespace mirvel_test
