#include "app/RetryClock.h"

#include <utility>

#include "platform/Ticks.h"

namespace mirvel {

namespace {
TRetryClock g_clock;
}  // namespace

uint64_t RetryTicks() { return g_clock.ticks ? g_clock.ticks() : platform::GetTickCount(); }

void RetrySleep(int32_t ms) {
  if (g_clock.sleep) {
    g_clock.sleep(ms);
  } else {
    platform::WaitMoreThan(ms - 1);
  }
}

void SetRetryClock(TRetryClock clock) { g_clock = std::move(clock); }

}  // namespace mirvel
