// Date-time values and time stamps.
//
// A TDateTime counts days from 1899-12-30 (day 0.0); the fraction is the time of day.  Before
// that day the value is negative and the runtime's convention applies: the date part is the
// truncation and the time of day is the *absolute* fraction, so -1.25 is 1899-12-29 06:00
// (ComposeDateTime builds such values; -0.5 and 0.5 both read as 1899-12-30 12:00).
//
// A TTimeStamp counts days from 0001-01-01 (day 1) and milliseconds since midnight.  It is the
// engine's stored form of dates, times and timestamps, so every conversion between the two is
// exact to the millisecond, both ways, over the whole range 0001-01-01 to 9999-12-31.
#pragma once

#include <cstdint>
#include <functional>

namespace cl {

using TDateTime = double;

struct TTimeStamp {
  int32_t Time = 0;  // milliseconds since midnight
  int32_t Date = 0;  // days since 0001-01-01, that day being 1

  bool operator==(const TTimeStamp&) const = default;
};

inline constexpr int32_t kDateDelta = 693594;  // the time stamp day of 1899-12-30
inline constexpr int32_t kMSecsPerDay = 86400000;

bool IsLeapYear(int year);
// Days of a month (1..12) of a year.  REQUIRES: 1 <= month <= 12.
int MonthDays(int year, int month);

// The date at midnight; false (or EConvertError "Invalid argument to date encode") unless
// 1 <= year <= 9999 and the month and day exist.
bool TryEncodeDate(int year, int month, int day, TDateTime& date);
TDateTime EncodeDate(int year, int month, int day);
// The time of day as a fraction; false (or EConvertError "Invalid argument to time encode")
// unless hour < 24, minute < 60, second < 60 and millisecond < 1000.
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& time);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);

// The calendar date of a value; all zero for values before 0001-01-01.
void DecodeDate(TDateTime date_time, int& year, int& month, int& day);
void DecodeTime(TDateTime date_time, int& hour, int& minute, int& second, int& millisecond);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime date_time);

// Joins a date (whole days) and a time of day following the sign convention above.
TDateTime ComposeDateTime(TDateTime date, TDateTime time);

// Rounds to the nearest millisecond.  Raises EConvertError for a value whose day does not fit
// (NaN, infinities, more than about two billion days).
TTimeStamp DateTimeToTimeStamp(TDateTime date_time);
// Raises EConvertError "'<date>.<time>' is not a valid timestamp" when the time is negative or
// the date is not positive.
TDateTime TimeStampToDateTime(const TTimeStamp& time_stamp);
// Date x 86,400,000 + Time: the engine's timestamp form.
double TimeStampToMSecs(const TTimeStamp& time_stamp);
// The inverse, rounding to a whole millisecond.  Raises EConvertError for a count that is not a
// valid time stamp (negative, not finite, or a day beyond the 32-bit range).
TTimeStamp MSecsToTimeStamp(double msecs);

// Local wall-clock time, to the millisecond, from the clock set below.
TDateTime Now();
TDateTime Date();  // today at midnight
TDateTime Time();  // the time of day only

// Replaces the clock behind Now, Date and Time (tests fix the time of a log line or a report);
// an empty function puts the system clock back.  Callable from any thread; the clock itself may
// be called from any thread too.
void SetClock(std::function<TDateTime()> clock);

}  // namespace cl
