#include "classlib/rtl/TThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/ManualEventLoop.h"

namespace cl {
namespace {

using Clock = std::chrono::steady_clock;

const std::thread::id kMainThread = std::this_thread::get_id();

// An animation-like worker: sleeps an interval between frames, waits while paused.
class Animator : public TThread {
 public:
  explicit Animator(int interval_ms) : interval_ms_(interval_ms) {}
  ~Animator() override { Stop(); }

  std::atomic<int> frames{0};
  std::atomic<bool> waiting_paused{false};

 protected:
  void Execute() override {
    while (!Terminated()) {
      waiting_paused = Paused();
      if (!WaitWhilePaused()) break;
      waiting_paused = false;
      if (!SleepFor(interval_ms_)) continue;
      ++frames;
    }
  }

 private:
  int interval_ms_;
};

bool WaitUntil(const std::function<bool()>& condition) {
  const auto limit = Clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (Clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST(TThreadTest, CreatedSuspendedRunsOnlyOnceResumed) {
  Animator animator(1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(animator.Started());
  EXPECT_EQ(animator.frames, 0);
  animator.Resume();
  EXPECT_TRUE(WaitUntil([&] { return animator.frames >= 3; }));
}

TEST(TThreadTest, PauseStopsFramesUntilResumed) {
  Animator animator(1);
  animator.Start();
  ASSERT_TRUE(WaitUntil([&] { return animator.frames >= 2; }));
  animator.Pause();
  ASSERT_TRUE(WaitUntil([&] { return animator.waiting_paused.load(); }));
  const int frozen = animator.frames;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(animator.frames, frozen);
  animator.Resume();
  EXPECT_TRUE(WaitUntil([&] { return animator.frames > frozen; }));
}

TEST(TThreadTest, StopInterruptsALongSleep) {
  auto* animator = new Animator(60000);  // one frame a minute
  animator->Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const auto start = Clock::now();
  delete animator;  // terminate, wake, join
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

class Failing : public TThread {
 protected:
  void Execute() override { throw std::runtime_error("no icon"); }
};

TEST(TThreadTest, ExceptionInExecuteIsKept) {
  Failing thread;
  thread.Start();
  thread.WaitFor();
  ASSERT_TRUE(thread.FatalException());
  EXPECT_THROW(std::rethrow_exception(thread.FatalException()), std::runtime_error);
}

TEST(TThreadTest, ExceptionInExecuteReachesTheApplicationOnTheLoopsThread) {
  TManualEventLoop loop;
  SetEventLoop(&loop);
  std::vector<std::string> seen;
  const TExceptionEvent saved = Application().OnException();
  Application().SetOnException([&](TObject*, Exception& e) {
    EXPECT_EQ(std::this_thread::get_id(), kMainThread);
    seen.push_back(e.Message());
  });
  {
    Failing thread;
    thread.Start();
    thread.WaitFor();
  }
  EXPECT_TRUE(seen.empty()) << "reported on the loop's thread, not on the worker";
  EXPECT_EQ(loop.RunPosted(), 1);
  Application().SetOnException(saved);
  SetEventLoop(nullptr);
  EXPECT_EQ(seen, std::vector<std::string>{"no icon"});
}

}  // namespace
}  // namespace cl
