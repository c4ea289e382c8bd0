#include "classlib/rtl/TTimer.h"

#include "classlib/rtl/Application.h"
#include "classlib/rtl/EventLoop.h"

namespace cl {

TTimer::TTimer(TComponent* owner) : TComponent(owner) {}

TTimer::~TTimer() {
  Stop();
  token_->alive = false;
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  UpdateTimer();
}

void TTimer::SetInterval(int interval_ms) {
  if (interval_ms == interval_) return;
  interval_ = interval_ms;
  UpdateTimer();
}

void TTimer::SetOnTimer(TNotifyEvent handler) {
  on_timer_ = std::move(handler);
  UpdateTimer();
}

void TTimer::Stop() noexcept {
  ++token_->generation;
  if (timer_id_ != 0) {
    if (TEventLoop* loop = CurrentEventLoop()) loop->StopTimer(timer_id_);
    timer_id_ = 0;
  }
}

void TTimer::UpdateTimer() {
  Stop();
  if (!enabled_ || interval_ <= 0 || !on_timer_) return;
  TEventLoop* loop = CurrentEventLoop();
  if (loop == nullptr) throw EOutOfResources("Pas assez de timers disponibles");
  const unsigned generation = token_->generation;
  std::shared_ptr<Token> token = token_;
  timer_id_ = loop->StartTimer(interval_, [this, token, generation] {
    if (!token->alive || token->generation != generation) return;
    try {
      Timer();
    } catch (...) {
      Application().HandleException(token->alive ? this : nullptr);
    }
  });
  if (timer_id_ == 0) throw EOutOfResources("Pas assez de timers disponibles");
}

void TTimer::Timer() {
  if (!on_timer_) return;
  TNotifyEvent handler = on_timer_;  // survives the timer's deletion inside the handler
  handler(this);
}

}  // namespace cl
