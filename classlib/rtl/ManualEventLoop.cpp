#include "classlib/rtl/ManualEventLoop.h"

#include <algorithm>

namespace cl {

int TManualEventLoop::StartTimer(int interval_ms, std::function<void()> tick) {
  if (interval_ms <= 0) return 0;
  const int id = next_id_++;
  timers_.push_back(Timer{id, interval_ms, now_ + interval_ms, std::move(tick)});
  return id;
}

void TManualEventLoop::StopTimer(int id) {
  timers_.erase(
      std::remove_if(timers_.begin(), timers_.end(), [id](const Timer& t) { return t.id == id; }),
      timers_.end());
}

void TManualEventLoop::Post(std::function<void()> call) {
  std::lock_guard<std::mutex> guard(posted_mutex_);
  posted_.push_back(std::move(call));
}

int TManualEventLoop::RunPosted() {
  int count = 0;
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard<std::mutex> guard(posted_mutex_);
      if (posted_.empty()) return count;
      call = std::move(posted_.front());
      posted_.pop_front();
    }
    call();
    ++count;
  }
}

void TManualEventLoop::Advance(int64_t ms) {
  const int64_t target = now_ + std::max<int64_t>(ms, 0);
  for (;;) {
    RunPosted();
    auto next = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
      if (it->due <= target && (next == timers_.end() || it->due < next->due)) next = it;
    }
    if (next == timers_.end()) break;
    now_ = std::max(now_, next->due);
    next->due += next->interval;
    // The tick may stop or start timers, or delete the object that owns it.
    std::function<void()> tick = next->tick;
    tick();
  }
  now_ = std::max(now_, target);
  RunPosted();
}

}  // namespace cl
