// The wall clock in local time, as the date-time values of the system count it.
#pragma once

namespace platform {

struct LocalTime {
  int year;    // 1..9999
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;  // 0..59
  int second;  // 0..59 (a leap second reads as 59)
  int millisecond;
};

// The current local date and time to the millisecond, in the time zone of the process (TZ).
LocalTime GetLocalTime();

}  // namespace platform
