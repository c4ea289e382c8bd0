#include "components/data/TUseCount.h"

namespace comp {

TUseCount::TUseCount(cl::TComponent* owner) : cl::TComponent(owner) {}

void TUseCount::SetActivationDelay(int ms) {
  if (ms < 0) return;
  activation_delay_ = ms;
  UpdateTimer();
}

void TUseCount::SetUnActivationDelay(int ms) {
  if (ms < 0) return;
  unactivation_delay_ = ms;
  UpdateTimer();
}

void TUseCount::UpdateTimer() {
  if (activation_delay_ == 0 && unactivation_delay_ == 0) {
    delete timer_;
    timer_ = nullptr;
  } else if (timer_ == nullptr) {
    timer_ = new cl::TTimer(this);
    timer_->SetEnabled(false);
    timer_->SetOnTimer([this](cl::TObject*) { Timer(); });
  }
}

void TUseCount::SetActive(bool active) {
  if (active) {
    ++count_;
  } else if (count_ > 0) {
    --count_;
  }
  if (!on_activate_) return;
  const int delay = active ? activation_delay_ : unactivation_delay_;
  if (delay > 0 && timer_ != nullptr) {
    timer_->SetEnabled(false);
    timer_->SetInterval(delay);
    timer_->SetEnabled(true);
  } else {
    on_activate_(this, active);
  }
}

void TUseCount::Timer() {
  timer_->SetEnabled(false);
  if (on_activate_) on_activate_(this, Active());
}

}  // namespace comp
