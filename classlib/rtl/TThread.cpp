#include "classlib/rtl/TThread.h"

#include <chrono>

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
    std::lock_guard<std::mutex> lock(mutex_);
    fatal_ = std::current_exception();
  }
}

}  // namespace cl
