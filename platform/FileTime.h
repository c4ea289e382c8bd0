// A file's last-write time as calendar fields in UTC, without conversion to local time (the
// self-update launcher compares two files' times this way, so the time zone never matters).
#pragma once

#include <string>

#include "platform/OsError.h"

namespace platform {

struct CalendarTime {
  int year = 0;    // 1..9999
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
  int second = 0;  // 0..59
  int millisecond = 0;
};

// The last-write time of the file at `path` (UTF-8).  Returns 0, or the Win32-style error
// number (2 for a missing file); a time outside years 1..9999 is 87.
OsError GetFileLastWriteUtc(const std::string& path, CalendarTime& time);

}  // namespace platform
