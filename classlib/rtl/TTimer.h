// TTimer: a component that calls OnTimer every Interval milliseconds on the GUI thread.
//
// The timer runs only while Enabled, Interval > 0 and OnTimer is assigned; a change of any of the
// three (setting OnTimer counts as a change) starts the countdown afresh.  Ticks come through the
// installed event loop (EventLoop.h); with none installed, starting raises EOutOfResources.
// A handler may disable, re-enable or delete its own timer.  A handler that pumps the loop (a
// modal dialog) may receive the next tick of the same timer before it returns; the timer adds no
// guard against that.
#pragma once

#include <memory>

#include "classlib/rtl/Classes.h"
#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/TComponent.h"

namespace cl {

class EOutOfResources : public Exception {
 public:
  using Exception::Exception;
};

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* owner);
  ~TTimer() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  int Interval() const { return interval_; }
  void SetInterval(int interval_ms);
  const TNotifyEvent& OnTimer() const { return on_timer_; }
  void SetOnTimer(TNotifyEvent handler);

 protected:
  // Calls OnTimer.  The timer may be deleted by the handler: nothing touches it afterwards.
  // An exception from the handler goes to Application().HandleException.
  virtual void Timer();

 private:
  void UpdateTimer();
  void Stop() noexcept;

  bool enabled_ = true;
  int interval_ = 1000;
  TNotifyEvent on_timer_;
  int timer_id_ = 0;
  // Ticks already queued by the loop check this token before they run, so a stopped, restarted
  // or deleted timer never receives a stale tick.
  struct Token {
    unsigned generation = 0;
    bool alive = true;
  };
  std::shared_ptr<Token> token_ = std::make_shared<Token>();
};

}  // namespace cl
