// Time for lock retries: a steady millisecond clock and a wait that never spins.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds of a steady clock (never goes back; its origin is unspecified).
uint64_t GetTickCount();

// Sleeps until strictly more than `ms` milliseconds of the steady clock have passed, as the
// engine's lock retries expect.  A value of 0 or less still yields at least one millisecond.
void WaitMoreThan(int32_t ms);

}  // namespace platform
