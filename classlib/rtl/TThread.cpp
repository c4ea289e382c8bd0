#include "classlib/rtl/TThread.h"

#include <chrono>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/EventLoop.h"

namespace cl {

TThread::~TThread() { Stop(); }

void TThread::Resume() {
  std::unique_lock<std::mutex> lock(mutex_);
  paused_ = false;
  if (!worker_.joinable() && !terminated_) {
    lock.unlock();
    worker_ = std::thread([this] { Run(); });
    return;
  }
  wake_.notify_all();
}

void TThread::Pause() {
  std::lock_guard<std::mutex> lock(mutex_);
  paused_ = true;
  wake_.notify_all();
}

bool TThread::Paused() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return paused_;
}

void TThread::Terminate() {
  std::lock_guard<std::mutex> lock(mutex_);
  terminated_ = true;
  wake_.notify_all();
}

bool TThread::Terminated() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return terminated_;
}

void TThread::Stop() {
  Terminate();
  WaitFor();
}

void TThread::WaitFor() {
  if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

bool TThread::SleepFor(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
  return !wake_.wait_until(lock, until, [this] { return terminated_ || paused_; });
}

bool TThread::WaitWhilePaused() {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait(lock, [this] { return terminated_ || !paused_; });
  return !terminated_;
}

void TThread::Run() {
  try {
    Execute();
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      fatal_ = error;
    }
    // The thread object may be gone by the time the loop runs the report: it names no sender.
    if (TEventLoop* loop = CurrentEventLoop()) {
      try {
        loop->Post([error] {
          try {
            std::rethrow_exception(error);
          } catch (...) {
            Application().HandleException(nullptr);
          }
        });
      } catch (...) {
        // No memory to queue the report: FatalException() still holds it.
      }
    }
  }
}

}  // namespace cl
