#include "components/data/TUseCount.h"

#include <gtest/gtest.h>

#include <vector>

#include "classlib/rtl/ManualEventLoop.h"

namespace comp {
namespace {

class TUseCountTest : public ::testing::Test {
 protected:
  void SetUp() override { cl::SetEventLoop(&loop_); }
  void TearDown() override { cl::SetEventLoop(nullptr); }

  cl::TManualEventLoop loop_;
};

TEST_F(TUseCountTest, ImmediateAndDelayedActivation) {
  TUseCount use(nullptr);
  std::vector<bool> calls;
  use.SetActive(true);  // no handler: counted, not reported
  EXPECT_TRUE(use.Active());
  use.SetActive(false);
  use.SetActive(false);  // never below 0
  EXPECT_FALSE(use.Active());

  use.SetOnActivate([&](cl::TObject*, bool active) { calls.push_back(active); });
  use.SetActive(true);
  EXPECT_EQ(calls, std::vector<bool>{true});  // delays 0: inside the setter
  EXPECT_EQ(loop_.TimerCount(), 0);

  use.SetActivationDelay(500);
  use.SetActivationDelay(-1);  // ignored
  EXPECT_EQ(use.ActivationDelay(), 500);
  use.SetActive(true);
  loop_.Advance(499);
  EXPECT_EQ(calls.size(), 1u);
  loop_.Advance(1);
  EXPECT_EQ(calls, (std::vector<bool>{true, true}));
  loop_.Advance(2000);  // the timer disabled itself
  EXPECT_EQ(calls.size(), 2u);

  // Deactivation without its own delay is reported at once; the count is still 1.
  use.SetActive(false);
  EXPECT_EQ(calls, (std::vector<bool>{true, true, false}));
  EXPECT_TRUE(use.Active());

  use.SetActivationDelay(0);
  EXPECT_EQ(use.ComponentCount(), 0);  // no delay left: the timer is gone
}

}  // namespace
}  // namespace comp
