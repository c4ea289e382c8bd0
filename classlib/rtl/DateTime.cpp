#include "classlib/rtl/DateTime.h"

#include <cassert>
#include <cmath>
#include <mutex>
#include <string>

#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/NumberText.h"
#include "platform/LocalTime.h"

namespace cl {
namespace {

constexpr int kDaysPer400Years = 146097;
constexpr int kDaysPer100Years = 36524;
constexpr int kDaysPer4Years = 1461;

// Beyond this many days from 1899-12-30 a day number no longer fits the time stamp.
constexpr long double kMaxDays = 2147483647.0L - kDateDelta - 1;

// Rounds half to even, as the processor's conversion to integer does.
long double RoundHalfEven(long double v) {
  long double whole = std::floor(v);
  const long double diff = v - whole;
  if (diff > 0.5L || (diff == 0.5L && std::fmod(whole, 2.0L) != 0)) whole += 1;
  return whole;
}

[[noreturn]] void InvalidTimeStamp(int64_t date, int64_t time) {
  throw EConvertError("'" + std::to_string(date) + "." + std::to_string(time) +
                      "' is not a valid timestamp");
}

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int MonthDays(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  assert(month >= 1 && month <= 12);
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& date) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > MonthDays(year, month)) {
    return false;
  }
  int day_of_year = day;
  for (int m = 1; m < month; ++m) day_of_year += MonthDays(year, m);
  const int y = year - 1;
  date = static_cast<double>(y * 365 + y / 4 - y / 100 + y / 400 + day_of_year - kDateDelta);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime date;
  if (!TryEncodeDate(year, month, day, date))
    throw EConvertError("Invalid argument to date encode");
  return date;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& time) {
  if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 ||
      millisecond < 0 || millisecond >= 1000) {
    return false;
  }
  const int ms = ((hour * 60 + minute) * 60 + second) * 1000 + millisecond;
  time = static_cast<double>(ms) / kMSecsPerDay;
  return true;
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  TDateTime time;
  if (!TryEncodeTime(hour, minute, second, millisecond, time)) {
    throw EConvertError("Invalid argument to time encode");
  }
  return time;
}

void DecodeDate(TDateTime date_time, int& year, int& month, int& day) {
  int32_t t = DateTimeToTimeStamp(date_time).Date;
  if (t <= 0) {
    year = month = day = 0;
    return;
  }
  --t;  // days since 0001-01-01
  int y = 1 + 400 * (t / kDaysPer400Years);
  t %= kDaysPer400Years;
  int n = t / kDaysPer100Years;
  if (n == 4) n = 3;  // the last day of a 400-year cycle
  y += 100 * n;
  t -= n * kDaysPer100Years;
  y += 4 * (t / kDaysPer4Years);
  t %= kDaysPer4Years;
  n = t / 365;
  if (n == 4) n = 3;  // the last day of a leap year
  y += n;
  t -= n * 365;
  int m = 1;
  while (t >= MonthDays(y, m)) {
    t -= MonthDays(y, m);
    ++m;
  }
  year = y;
  month = m;
  day = t + 1;
}

void DecodeTime(TDateTime date_time, int& hour, int& minute, int& second, int& millisecond) {
  int32_t t = DateTimeToTimeStamp(date_time).Time;
  hour = t / 3600000;
  t %= 3600000;
  minute = t / 60000;
  t %= 60000;
  second = t / 1000;
  millisecond = t % 1000;
}

int DayOfWeek(TDateTime date_time) { return DateTimeToTimeStamp(date_time).Date % 7 + 1; }

TDateTime ComposeDateTime(TDateTime date, TDateTime time) {
  return date >= 0 ? date + time : date - time;
}

TTimeStamp DateTimeToTimeStamp(TDateTime date_time) {
  if (!std::isfinite(date_time) || std::fabs(static_cast<long double>(date_time)) > kMaxDays) {
    throw EConvertError("Invalid argument to date encode");
  }
  // The product is exact in extended precision for every millisecond value of the range.
  const long double ms = RoundHalfEven(static_cast<long double>(date_time) * kMSecsPerDay);
  const int64_t whole = static_cast<int64_t>(ms);
  const int64_t magnitude = whole < 0 ? -whole : whole;
  int64_t days = magnitude / kMSecsPerDay;
  if (whole < 0) days = -days;
  TTimeStamp result;
  result.Time = static_cast<int32_t>(magnitude % kMSecsPerDay);
  result.Date = static_cast<int32_t>(days + kDateDelta);
  return result;
}

TDateTime TimeStampToDateTime(const TTimeStamp& time_stamp) {
  if (time_stamp.Time < 0 || time_stamp.Date <= 0) {
    InvalidTimeStamp(time_stamp.Date, time_stamp.Time);
  }
  int64_t ms = static_cast<int64_t>(time_stamp.Date - kDateDelta) * kMSecsPerDay;
  ms = ms < 0 ? ms - time_stamp.Time : ms + time_stamp.Time;
  return static_cast<double>(static_cast<long double>(ms) / kMSecsPerDay);
}

double TimeStampToMSecs(const TTimeStamp& time_stamp) {
  return static_cast<double>(time_stamp.Date) * kMSecsPerDay + time_stamp.Time;
}

TTimeStamp MSecsToTimeStamp(double msecs) {
  // The largest count whose day still fits a 32-bit day number.
  constexpr long double kMaxMSecs = 2147483647.0L * kMSecsPerDay;
  if (!std::isfinite(msecs) || msecs < 0 || msecs >= kMaxMSecs) {
    throw EConvertError("'" + FloatToStr(msecs, TFormatSettings()) + "' is not a valid timestamp");
  }
  const int64_t ms = static_cast<int64_t>(RoundHalfEven(msecs));
  TTimeStamp result;
  result.Date = static_cast<int32_t>(ms / kMSecsPerDay);
  result.Time = static_cast<int32_t>(ms % kMSecsPerDay);
  return result;
}

namespace {

std::mutex g_clock_mutex;
std::function<TDateTime()> g_clock;

}  // namespace

void SetClock(std::function<TDateTime()> clock) {
  std::lock_guard<std::mutex> guard(g_clock_mutex);
  g_clock = std::move(clock);
}

TDateTime Now() {
  std::function<TDateTime()> clock;
  {
    std::lock_guard<std::mutex> guard(g_clock_mutex);
    clock = g_clock;
  }
  if (clock) return clock();
  const platform::LocalTime t = platform::GetLocalTime();
  return ComposeDateTime(EncodeDate(t.year, t.month, t.day),
                         EncodeTime(t.hour, t.minute, t.second, t.millisecond));
}

// Both follow Now's sign convention: the date is the truncation, the time the absolute fraction.
TDateTime Date() { return std::trunc(Now()); }

TDateTime Time() {
  const TDateTime now = Now();
  return std::fabs(now - std::trunc(now));
}

}  // namespace cl
