// A re-entrant critical section, as the engine's file and format sections need: the same thread
// may enter again while it holds it (an in-memory file operation calls the memory-file list).
#pragma once

#include <mutex>

namespace platform {

class CriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }

  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};

// Holds a critical section for one scope.
using CriticalSectionGuard = std::lock_guard<CriticalSection>;

}  // namespace platform
