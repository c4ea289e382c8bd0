#include "classlib/rtl/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "classlib/rtl/Exceptions.h"

namespace cl {
namespace {

// Reference calendar, built differently from the code under test (era arithmetic on March-based
// years): days since 0001-01-01 (that day = 1) of a proleptic Gregorian date.
int64_t RefDayNumber(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = y / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 306 + 1;  // 0000-03-01 is era day 0; 0001-01-01 is 306 days later
}

void RefCivil(int64_t day_number, int& y, int& m, int& d) {
  const int64_t z = day_number - 1 + 306;
  const int64_t era = z / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

TEST(DateTime, CalendarAnchors) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1, 1, 1), -693593.0);
  EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465.0);
  EXPECT_EQ(DateTimeToTimeStamp(0.0), (TTimeStamp{0, kDateDelta}));
  EXPECT_EQ(DateTimeToTimeStamp(EncodeDate(1, 1, 1)), (TTimeStamp{0, 1}));
  EXPECT_EQ(DateTimeToTimeStamp(EncodeDate(9999, 12, 31)).Date, 3652059);
  EXPECT_EQ(RefDayNumber(1899, 12, 30), kDateDelta);
  EXPECT_EQ(DayOfWeek(EncodeDate(2000, 1, 1)), 7);  // a Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(1, 1, 1)), 2);     // a Monday
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_EQ(MonthDays(2024, 2), 29);
  EXPECT_EQ(MonthDays(2023, 2), 28);
}

// A month outside 1..12 would read past the table of month lengths: a programming fault that the
// assert behind MonthDays' precondition stops in every build type but Release and MinSizeRel.
TEST(DateTimeDeathTest, AMonthOutsideTheYearStopsTheProgram) {
#ifdef MIRVEL_ASSERTS_EXPECTED
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(MonthDays(2024, 13), "month >= 1");
  EXPECT_DEATH(MonthDays(2024, 0), "month >= 1");
#else
  GTEST_SKIP() << "asserts are compiled out in this build type";
#endif
}

TEST(DateTime, EncodeRejectsWhatDoesNotExist) {
  TDateTime out = 123;
  EXPECT_FALSE(TryEncodeDate(2023, 2, 29, out));
  EXPECT_FALSE(TryEncodeDate(0, 1, 1, out));
  EXPECT_FALSE(TryEncodeDate(10000, 1, 1, out));
  EXPECT_FALSE(TryEncodeDate(2000, 13, 1, out));
  EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, out));
  EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, out));
  EXPECT_EQ(out, 123);
  try {
    EncodeDate(2023, 2, 29);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Invalid argument to date encode");
  }
  EXPECT_THROW(EncodeTime(0, 60, 0, 0), EConvertError);
}

// Dates before 1899-12-30: the date part is the truncation, the time the absolute fraction.
TEST(DateTime, NegativeValuesKeepThePositiveTimeOfDay) {
  EXPECT_EQ(DateTimeToTimeStamp(-1.25), (TTimeStamp{21600000, kDateDelta - 1}));
  EXPECT_EQ(TimeStampToDateTime(TTimeStamp{21600000, kDateDelta - 1}), -1.25);
  EXPECT_EQ(ComposeDateTime(-1.0, 0.25), -1.25);
  EXPECT_EQ(ComposeDateTime(1.0, 0.25), 1.25);
  int y, m, d, h, n, s, ms;
  DecodeDate(-1.25, y, m, d);
  DecodeTime(-1.25, h, n, s, ms);
  EXPECT_EQ((std::array{y, m, d, h, n, s, ms}), (std::array{1899, 12, 29, 6, 0, 0, 0}));
  const TDateTime first = ComposeDateTime(EncodeDate(1, 1, 1), EncodeTime(12, 0, 0, 1));
  EXPECT_EQ(DateTimeToTimeStamp(first), (TTimeStamp{43200001, 1}));
  DecodeDate(-693594.0, y, m, d);  // the day before 0001-01-01
  EXPECT_EQ((std::array{y, m, d}), (std::array{0, 0, 0}));
}

TEST(DateTime, TimeStampsRoundTripExactlyOverTheWholeRange) {
  std::mt19937_64 rng(1105);
  std::uniform_int_distribution<int32_t> day(1, 3652059);
  std::uniform_int_distribution<int32_t> ms(0, kMSecsPerDay - 1);
  std::vector<TTimeStamp> cases = {{0, 1},
                                   {kMSecsPerDay - 1, 1},
                                   {0, 3652059},
                                   {kMSecsPerDay - 1, 3652059},
                                   {0, kDateDelta},
                                   {kMSecsPerDay - 1, kDateDelta - 1},
                                   {1, kDateDelta - 1}};
  for (int i = 0; i < 200000; ++i) cases.push_back({ms(rng), day(rng)});
  for (const TTimeStamp& ts : cases) {
    const TDateTime dt = TimeStampToDateTime(ts);
    ASSERT_EQ(DateTimeToTimeStamp(dt), ts) << ts.Date << "." << ts.Time;
    ASSERT_EQ(MSecsToTimeStamp(TimeStampToMSecs(ts)), ts);
    ASSERT_EQ(TimeStampToMSecs(ts), static_cast<double>(ts.Date) * 86400000.0 + ts.Time);
    int y, m, d, ry, rm, rd;
    DecodeDate(dt, y, m, d);
    RefCivil(ts.Date, ry, rm, rd);
    ASSERT_EQ((std::array{y, m, d}), (std::array{ry, rm, rd})) << ts.Date;
    ASSERT_EQ(DateTimeToTimeStamp(EncodeDate(y, m, d)).Date, RefDayNumber(y, m, d));
    int h, n, s, z;
    DecodeTime(dt, h, n, s, z);
    ASSERT_EQ(((h * 60 + n) * 60 + s) * 1000 + z, ts.Time);
  }
}

TEST(DateTime, InvalidStampsRaise) {
  try {
    TimeStampToDateTime(TTimeStamp{-1, 5});
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'5.-1' is not a valid timestamp");
  }
  EXPECT_THROW(TimeStampToDateTime(TTimeStamp{0, 0}), EConvertError);
  EXPECT_THROW(MSecsToTimeStamp(-1.0), EConvertError);
  EXPECT_THROW(MSecsToTimeStamp(std::numeric_limits<double>::quiet_NaN()), EConvertError);
  EXPECT_THROW(MSecsToTimeStamp(1e300), EConvertError);
  EXPECT_THROW(DateTimeToTimeStamp(std::numeric_limits<double>::infinity()), EConvertError);
  EXPECT_THROW(DateTimeToTimeStamp(3e9), EConvertError);
}

TEST(DateTime, ClockReadsToday) {
  const TDateTime before = Now();
  const TDateTime today = Date();
  const TDateTime time = Time();
  const TDateTime after = Now();
  EXPECT_EQ(today, std::floor(today));
  EXPECT_GE(time, 0.0);
  EXPECT_LT(time, 1.0);
  EXPECT_LE(before, after);
  // Unless midnight passed in between, today is the date part of now.
  if (std::floor(before) == std::floor(after)) {
    EXPECT_EQ(today, std::floor(after));
  }
  EXPECT_GT(today, EncodeDate(2020, 1, 1));
}

TEST(DateTime, ASetClockFixesNowDateAndTimeUntilReset) {
  const TDateTime fixed = EncodeDate(2026, 12, 7) + EncodeTime(10, 40, 0, 0);
  SetClock([fixed] { return fixed; });
  EXPECT_EQ(Now(), fixed);
  EXPECT_EQ(Date(), EncodeDate(2026, 12, 7));
  EXPECT_NEAR(Time(), EncodeTime(10, 40, 0, 0), 1e-9);
  // Before 1899-12-30 the time of day is the absolute fraction, as everywhere else.
  SetClock([] { return -1.25; });
  EXPECT_EQ(Date(), -1.0);
  EXPECT_EQ(Time(), 0.25);
  SetClock(nullptr);
  EXPECT_GT(Now(), EncodeDate(2020, 1, 1));
}

}  // namespace
}  // namespace cl
