// The time of the application's retry loops (the exclusive open of the numbering table, the
// retried field updates): a steady clock, so that a change of the wall clock neither stretches
// nor cuts a wait, and the wait between tries.  Tests replace both to run a loop without waiting.
#pragma once

#include <cstdint>
#include <functional>

namespace mirvel {

struct TRetryClock {
  std::function<uint64_t()> ticks;     // milliseconds that never go back
  std::function<void(int32_t)> sleep;  // waits that many milliseconds
};

uint64_t RetryTicks();
void RetrySleep(int32_t ms);
// An empty member puts the steady clock (or the real wait) back.
void SetRetryClock(TRetryClock clock);

}  // namespace mirvel
