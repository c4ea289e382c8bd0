#include "platform/Ticks.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(Ticks, WaitLastsStrictlyMoreThanAsked) {
  for (int32_t ms : {0, 1, 3, 20}) {
    const uint64_t start = GetTickCount();
    WaitMoreThan(ms);
    EXPECT_GT(GetTickCount() - start, static_cast<uint64_t>(ms > 0 ? ms - 1 : 0)) << ms;
  }
}

}  // namespace
}  // namespace platform
