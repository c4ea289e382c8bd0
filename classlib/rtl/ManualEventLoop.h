// An event loop driven by hand, for tests: a virtual millisecond clock that only Advance moves.
//
// Advance fires the due ticks in time order (timers due at the same moment in the order they
// were started), running queued calls before each tick and at the end.  A tick may call Advance
// again (as a modal dialog pumps the loop): the nested call sees a consistent state and the
// clock never moves back.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "classlib/rtl/EventLoop.h"

namespace cl {

class TManualEventLoop : public TEventLoop {
 public:
  int StartTimer(int interval_ms, std::function<void()> tick) override;
  void StopTimer(int id) override;
  void Post(std::function<void()> call) override;

  int64_t Now() const { return now_; }
  // Moves the clock forward by `ms`, firing what falls due.
  void Advance(int64_t ms);
  // Runs the queued calls, including those queued meanwhile; returns how many ran.
  int RunPosted();
  // Timers currently running.
  int TimerCount() const { return static_cast<int>(timers_.size()); }

 private:
  struct Timer {
    int id;
    int64_t interval;
    int64_t due;
    std::function<void()> tick;
  };

  int64_t now_ = 0;
  int next_id_ = 1;
  std::vector<Timer> timers_;
  std::mutex posted_mutex_;
  std::deque<std::function<void()>> posted_;
};

}  // namespace cl
