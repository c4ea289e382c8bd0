#include "platform/Ticks.h"

#include <gtest/gtest.h>

#include <chrono>

namespace platform {
namespace {

TEST(Ticks, WaitLastsStrictlyMoreThanAsked) {
  using namespace std::chrono;
  for (int32_t ms : {0, 1, 3, 20}) {
    const auto start = steady_clock::now();
    WaitMoreThan(ms);
    EXPECT_GT(steady_clock::now() - start, milliseconds(ms)) << ms;
  }
}

TEST(Ticks, TickCountFollowsTheSteadyClock) {
  const uint64_t start = GetTickCount();
  WaitMoreThan(15);
  const uint64_t elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 15u);
  EXPECT_LT(elapsed, 5000u);
}

}  // namespace
}  // namespace platform
