// TUseCount reports activation changes through one event, at once or after a delay.
//
// The use count starts at 0.  SetActive(true) raises it by one and SetActive(false) lowers it
// (never below 0); Active() is "count >= 1".  With OnActivate assigned, a change is reported
// at once, or, when the delay for that direction (ActivationDelay for true, UnActivationDelay for
// false) is above 0, when the timer fires: OnActivate then receives Active() as it is by then.
// The timer exists only while a delay is above 0.  WaitMode is stored only.
//
// Threads: GUI thread only (the timer ticks through the class library's event loop).
#pragma once

#include <functional>

#include "classlib/rtl/TComponent.h"
#include "classlib/rtl/TTimer.h"

namespace comp {

enum TWaitMode { wmForceActivation, wmIgnoreActivation };

using TActivateEvent = std::function<void(cl::TObject* sender, bool active)>;

class TUseCount : public cl::TComponent {
 public:
  explicit TUseCount(cl::TComponent* owner);

  bool Active() const { return count_ >= 1; }
  void SetActive(bool active);
  int ActivationDelay() const { return activation_delay_; }
  // Negative values are ignored.
  void SetActivationDelay(int ms);
  int UnActivationDelay() const { return unactivation_delay_; }
  void SetUnActivationDelay(int ms);
  TWaitMode WaitMode() const { return wait_mode_; }
  void SetWaitMode(TWaitMode mode) { wait_mode_ = mode; }
  const TActivateEvent& OnActivate() const { return on_activate_; }
  void SetOnActivate(TActivateEvent handler) { on_activate_ = std::move(handler); }

 protected:
  // The timer's handler: disables the timer, then reports Active().
  virtual void Timer();

 private:
  void UpdateTimer();

  int count_ = 0;
  int activation_delay_ = 0;
  int unactivation_delay_ = 0;
  TWaitMode wait_mode_ = wmForceActivation;
  TActivateEvent on_activate_;
  cl::TTimer* timer_ = nullptr;  // owned (as a component) while a delay is above 0
};

}  // namespace comp
