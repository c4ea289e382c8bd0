#include "classlib/rtl/TTimer.h"

#include <gtest/gtest.h>

#include <vector>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/ManualEventLoop.h"

namespace cl {
namespace {

class TTimerTest : public ::testing::Test {
 protected:
  void SetUp() override { SetEventLoop(&loop_); }
  void TearDown() override { SetEventLoop(nullptr); }

  TManualEventLoop loop_;
  std::vector<int64_t> ticks_;
  TNotifyEvent Recorder() {
    return [this](TObject*) { ticks_.push_back(loop_.Now()); };
  }
};

TEST_F(TTimerTest, TicksEveryIntervalWhileEnabled) {
  TTimer timer(nullptr);
  timer.SetInterval(5000);
  timer.SetOnTimer(Recorder());
  loop_.Advance(4999);
  EXPECT_TRUE(ticks_.empty());
  loop_.Advance(1);
  loop_.Advance(10000);
  EXPECT_EQ(ticks_, (std::vector<int64_t>{5000, 10000, 15000}));
  timer.SetEnabled(false);
  loop_.Advance(20000);
  EXPECT_EQ(ticks_.size(), 3u);
  EXPECT_EQ(loop_.TimerCount(), 0);
}

TEST_F(TTimerTest, EveryChangeRestartsTheCountdown) {
  TTimer timer(nullptr);
  timer.SetInterval(500);
  timer.SetOnTimer(Recorder());
  loop_.Advance(400);
  timer.SetEnabled(false);  // a typing delay: each change restarts it
  timer.SetEnabled(true);
  loop_.Advance(400);
  EXPECT_TRUE(ticks_.empty());
  timer.SetInterval(300);
  loop_.Advance(299);
  EXPECT_TRUE(ticks_.empty());
  loop_.Advance(1);
  EXPECT_EQ(ticks_, std::vector<int64_t>{1100});
  timer.SetInterval(300);  // the same value is no change
  loop_.Advance(300);
  EXPECT_EQ(ticks_, (std::vector<int64_t>{1100, 1400}));
  timer.SetOnTimer(Recorder());  // assigning the handler restarts too
  loop_.Advance(200);
  EXPECT_EQ(ticks_.size(), 2u);
  loop_.Advance(100);
  EXPECT_EQ(ticks_.size(), 3u);
}

TEST_F(TTimerTest, NoTicksWithoutHandlerOrInterval) {
  TTimer timer(nullptr);
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 1000);
  loop_.Advance(5000);
  EXPECT_EQ(loop_.TimerCount(), 0);
  timer.SetOnTimer(Recorder());
  timer.SetInterval(0);
  loop_.Advance(5000);
  EXPECT_TRUE(ticks_.empty());
  timer.SetOnTimer(nullptr);
  timer.SetInterval(10);
  loop_.Advance(50);
  EXPECT_TRUE(ticks_.empty());
}

TEST_F(TTimerTest, HandlerMayFreeItsOwnTimer) {
  TComponent owner(nullptr);
  auto* timer = Create<TTimer>(&owner);
  timer->SetInterval(100);
  int fired = 0;
  timer->SetOnTimer([&](TObject* sender) {
    ++fired;
    static_cast<TTimer*>(sender)->Free();  // the one-shot auto-close timer frees itself
  });
  loop_.Advance(1000);
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(owner.ComponentCount(), 0);
  EXPECT_EQ(loop_.TimerCount(), 0);
}

TEST_F(TTimerTest, HandlerPumpingTheLoopMayGetTheNextTick) {
  TTimer timer(nullptr);
  timer.SetInterval(100);
  int depth = 0;
  int max_depth = 0;
  timer.SetOnTimer([&](TObject*) {
    ++depth;
    max_depth = std::max(max_depth, depth);
    if (depth == 1) loop_.Advance(150);  // a modal dialog runs the loop
    --depth;
  });
  loop_.Advance(100);
  EXPECT_EQ(max_depth, 2) << "the same timer ticked again inside its own handler";
  EXPECT_EQ(loop_.Now(), 250);
}

TEST_F(TTimerTest, HandlerExceptionsGoToTheApplication) {
  std::vector<std::string> errors;
  const TExceptionEvent saved = Application().OnException();
  Application().SetOnException([&](TObject*, Exception& e) { errors.push_back(e.Message()); });
  TTimer timer(nullptr);
  timer.SetInterval(10);
  timer.SetOnTimer([](TObject*) { throw Exception("tick failed"); });
  loop_.Advance(20);
  Application().SetOnException(saved);
  EXPECT_EQ(errors, (std::vector<std::string>{"tick failed", "tick failed"}));
}

TEST_F(TTimerTest, HandlerFailingAfterFreeingItsTimerReportsNoDeadSender) {
  std::vector<std::string> senders;
  const TExceptionEvent saved = Application().OnException();
  Application().SetOnException(
      [&](TObject* sender, Exception&) { senders.push_back(sender->ClassName()); });
  auto* timer = Create<TTimer>(nullptr);
  timer->SetInterval(10);
  timer->SetOnTimer([](TObject* sender) {
    static_cast<TTimer*>(sender)->Free();
    throw Exception("closing failed");
  });
  loop_.Advance(10);
  Application().SetOnException(saved);
  EXPECT_EQ(senders, std::vector<std::string>{"TApplication"});
}

TEST(TTimerWithoutLoopTest, StartingWithoutAnEventLoopIsRefused) {
  SetEventLoop(nullptr);
  TTimer timer(nullptr);
  timer.SetEnabled(false);
  timer.SetOnTimer([](TObject*) {});
  EXPECT_THROW(timer.SetEnabled(true), EOutOfResources);
}

TEST(TManualEventLoopTest, PostedCallsRunInOrderBeforeLaterTicks) {
  TManualEventLoop loop;
  std::vector<int> order;
  loop.Post([&] { order.push_back(1); });
  loop.StartTimer(10, [&] {
    order.push_back(2);
    loop.Post([&] { order.push_back(3); });
  });
  loop.Advance(20);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 2, 3}));
  EXPECT_EQ(loop.RunPosted(), 0);
}

}  // namespace
}  // namespace cl
