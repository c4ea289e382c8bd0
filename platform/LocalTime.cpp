#include "platform/LocalTime.h"

#include <time.h>

namespace platform {

LocalTime GetLocalTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm parts{};
  const time_t seconds = now.tv_sec;
  localtime_r(&seconds, &parts);
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
