#include "platform/LocalTime.h"

#include <time.h>

namespace platform {

LocalTime GetLocalTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  // A commit stamps each header it writes: the conversion, which costs far more than the clock,
  // is made once per second (a zone's offset changes only at a whole second).
  thread_local time_t converted = -1;
  thread_local tm parts{};
  const time_t seconds = now.tv_sec;
  if (seconds != converted) {
    localtime_r(&seconds, &parts);
    converted = seconds;
  }
  LocalTime result{};
  result.year = parts.tm_year + 1900;
  result.month = parts.tm_mon + 1;
  result.day = parts.tm_mday;
  result.hour = parts.tm_hour;
  result.minute = parts.tm_min;
  result.second = parts.tm_sec > 59 ? 59 : parts.tm_sec;
  result.millisecond = static_cast<int>(now.tv_nsec / 1000000);
  return result;
}

}  // namespace platform
