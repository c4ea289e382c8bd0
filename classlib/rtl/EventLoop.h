// The GUI thread's event loop as timers and queued calls see it.
//
// The class library's timers and worker threads never call into the user interface toolkit
// themselves: they go through the loop installed here.  The user interface installs one backed
// by its toolkit; tests install a TManualEventLoop whose clock they move by hand.
//
// Callbacks run on the loop's thread.  A callback that runs a modal dialog pumps the loop again,
// so the same timer may tick again before its previous tick returned: the class library adds no
// guard (handlers that care keep their own flag).
#pragma once

#include <functional>

namespace cl {

class TEventLoop {
 public:
  virtual ~TEventLoop() = default;

  // Calls `tick` every `interval_ms` milliseconds (> 0) until StopTimer; returns an id (> 0),
  // or 0 when no timer could be set up.
  virtual int StartTimer(int interval_ms, std::function<void()> tick) = 0;
  // Stops a timer; an unknown or stopped id is ignored.  Safe inside that timer's own tick.
  virtual void StopTimer(int id) = 0;

  // Runs `call` once, later, on the loop's thread.  Callable from any thread.
  virtual void Post(std::function<void()> call) = 0;
};

// The loop in use (not owned); nullptr until the program or a test installs one.
void SetEventLoop(TEventLoop* loop);
TEventLoop* CurrentEventLoop();

}  // namespace cl
