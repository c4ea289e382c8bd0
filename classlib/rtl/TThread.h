// TThread: a worker thread with cooperative pause and stop.
//
// A running thread is never suspended at an arbitrary point (it could be holding the allocator's
// lock); instead Pause asks it to wait at its next WaitWhilePaused, and an interruptible SleepFor
// returns early on Pause or Terminate.  "Created suspended" is a thread constructed but not yet
// started; Resume starts it or ends a pause.  The destructor terminates, wakes and joins the
// thread, so deleting it waits for Execute to return.
//
// A worker must not touch user-interface objects: it posts a call to the event loop instead
// (EventLoop.h).  An exception escaping Execute is kept (FatalException()) and, when an event
// loop is installed, posted to it for Application().HandleException, so that it is logged and
// shown on the GUI thread like any other.
//
// Derived destructors must call Stop() first, so that Execute no longer runs against members
// that are being destroyed.
#pragma once

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace cl {

class TThread {
 public:
  TThread() = default;
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts a thread not yet started; ends a pause of a started one.
  void Resume();
  void Start() { Resume(); }
  // Asks the thread to wait at its next WaitWhilePaused.
  void Pause();
  bool Paused() const;

  // Asks Execute to end: Terminated() becomes true and every wait returns.
  void Terminate();
  bool Terminated() const;
  // Terminates, wakes and joins the thread (once started); idempotent.
  void Stop();
  // Waits for Execute to return (immediately when never started).
  void WaitFor();

  bool Started() const { return worker_.joinable(); }
  std::exception_ptr FatalException() const { return fatal_; }

 protected:
  virtual void Execute() = 0;

  // Sleeps `ms` milliseconds unless Terminate or Pause comes first; true when the whole time
  // passed.
  bool SleepFor(int ms);
  // Waits while paused; returns false when terminated.
  bool WaitWhilePaused();

 private:
  void Run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool terminated_ = false;
  bool paused_ = false;
  std::exception_ptr fatal_;
  std::thread worker_;
};

}  // namespace cl
