#include "platform/Ticks.h"

#include <chrono>
#include <thread>

namespace platform {

uint64_t GetTickCount() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void WaitMoreThan(int32_t ms) {
  using namespace std::chrono;
  const auto limit = milliseconds(ms < 0 ? 0 : ms);
  const auto start = steady_clock::now();
  for (;;) {
    const auto elapsed = steady_clock::now() - start;
    if (elapsed > limit) return;
    std::this_thread::sleep_for(limit - elapsed + microseconds(200));
  }
}

}  // namespace platform
