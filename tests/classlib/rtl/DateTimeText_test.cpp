#include "classlib/rtl/DateTimeText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "FormatSettingsFixtures.h"

namespace cl {
namespace {

using testing::ConvertErrorMessage;
using testing::EnglishSettings;
using testing::FrenchSettings;

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return ComposeDateTime(EncodeDate(y, mo, d), EncodeTime(h, mi, s, ms));
}

TEST(DateTimeText, FormatTokens) {
  const TFormatSettings en = EnglishSettings();
  const TDateTime v = At(2024, 3, 5, 14, 7, 9, 45);  // a Tuesday
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn:ss", v, en), "05/03/2024 14:07:09");
  EXPECT_EQ(FormatDateTime("d/m/yy h:n:s", v, en), "5/3/24 14:7:9");
  EXPECT_EQ(FormatDateTime("MMMM, YYYY", v, en), "March, 2024");
  EXPECT_EQ(FormatDateTime("ddd dddd mmm", v, en), "Tue Tuesday Mar");
  EXPECT_EQ(FormatDateTime("hh:mm", v, en), "14:07");  // m after h is minutes
  EXPECT_EQ(FormatDateTime("h:mm am/pm", v, en), "2:07 pm");
  EXPECT_EQ(FormatDateTime("h:mm A/P", v, en), "2:07 P");
  EXPECT_EQ(FormatDateTime("t", v, en), "2:07 PM");
  EXPECT_EQ(FormatDateTime("tt", v, en), "2:07:09 PM");
  EXPECT_EQ(FormatDateTime("z zzz", v, en), "45 045");
  EXPECT_EQ(FormatDateTime("ddddd", v, en), "3/5/2024");
  EXPECT_EQ(FormatDateTime("dddddd", v, en), "Tuesday, March 05, 2024");
  EXPECT_EQ(FormatDateTime("\"hh\" 'mm' yyyy", v, en), "hh mm 2024");
  EXPECT_EQ(FormatDateTime("c", v, en), "3/5/2024 2:07:09 PM");
  EXPECT_EQ(FormatDateTime("c", At(2024, 3, 5), en), "3/5/2024");  // midnight: no time
  EXPECT_EQ(FormatDateTime("h:mm AMPM", At(2024, 3, 5, 0, 30), en), "12:30 AM");
  EXPECT_EQ(FormatDateTime("h:mm AMPM", At(2024, 3, 5, 12, 30), en), "12:30 PM");
  TFormatSettings dotted = en;
  dotted.DateSeparator = '.';
  dotted.TimeSeparator = '-';
  EXPECT_EQ(FormatDateTime("d/m h:n", v, dotted), "5.3 14-7");
}

TEST(DateTimeText, FrenchTexts) {
  const TFormatSettings fr = FrenchSettings();
  const TDateTime v = At(2024, 2, 5, 9, 4, 0);  // a Monday
  EXPECT_EQ(DateToStr(v, fr), "05/02/2024");
  EXPECT_EQ(TimeToStr(v, fr), "09:04:00");
  EXPECT_EQ(DateTimeToStr(v, fr), "05/02/2024 09:04:00");
  EXPECT_EQ(FormatDateTime("dddddd", v, fr), "lundi 5 f\xE9vrier 2024");
  EXPECT_EQ(FormatDateTime("ddd " + fr.ShortTimeFormat, v, fr), "lun. 09:04");
  EXPECT_EQ(StrToDate("05/02/2024", fr), EncodeDate(2024, 2, 5));
  EXPECT_EQ(StrToDate("05/02/2024", EnglishSettings()), EncodeDate(2024, 5, 2));
}

TEST(DateTimeText, ParsesInTheOrderOfTheShortDateFormat) {
  const TFormatSettings en = EnglishSettings();
  EXPECT_EQ(StrToDate("3/5/2024", en), EncodeDate(2024, 3, 5));
  EXPECT_EQ(StrToDate(" 3 / 5 / 2024 ", en), EncodeDate(2024, 3, 5));
  EXPECT_EQ(StrToDate("3/5/2024/", en), EncodeDate(2024, 3, 5));
  TFormatSettings ymd = en;
  ymd.ShortDateFormat = "yyyy-MM-dd";
  ymd.DateSeparator = '-';
  EXPECT_EQ(StrToDate("2024-03-05", ymd), EncodeDate(2024, 3, 5));
  EXPECT_EQ(StrToDate("0001-01-01", ymd), EncodeDate(1, 1, 1));
  EXPECT_EQ(StrToDate("9999-12-31", ymd), EncodeDate(9999, 12, 31));

  // A missing year is this year; a short one lies within 50 years before to 49 after this year.
  int year, month, day;
  DecodeDate(Date(), year, month, day);
  EXPECT_EQ(StrToDate("3/5", en), EncodeDate(year, 3, 5));
  EXPECT_EQ(StrToDate("5/3", FrenchSettings()), EncodeDate(year, 3, 5));
  for (int yy : {0, 30, 49, 50, 75, 99}) {
    int expect = (year - 50) / 100 * 100 + yy;
    if (expect < year - 50) expect += 100;
    EXPECT_EQ(StrToDate("1/1/" + std::to_string(yy), en), EncodeDate(expect, 1, 1)) << yy;
    EXPECT_GE(expect, year - 50);
    EXPECT_LT(expect, year + 50);
  }
}

TEST(DateTimeText, BadTextsRaiseWithTheRuntimeMessages) {
  const TFormatSettings en = EnglishSettings();
  EXPECT_EQ(ConvertErrorMessage([&] { StrToDate("x", en); }), "'x' is not a valid date");
  EXPECT_EQ(ConvertErrorMessage([&] { StrToTime("x", en); }), "'x' is not a valid time");
  EXPECT_EQ(ConvertErrorMessage([&] { StrToDateTime("x", en); }),
            "'x' is not a valid date and time");
  for (const char* bad :
       {"", "2/30/2024", "13/1/2024", "1-1-2024", "1/1/2024 x", "1/1/20245", "1//2024"}) {
    TDateTime out = 77;
    EXPECT_FALSE(TryStrToDate(bad, out, en)) << bad;
    EXPECT_EQ(out, 77);
  }
  for (const char* bad : {"", "24:00", "12:60", "0:00 PM", "13:00 PM", "1:2:3:4", "1:00 XM"}) {
    TDateTime out;
    EXPECT_FALSE(TryStrToTime(bad, out, en)) << bad;
  }
  TDateTime out;
  EXPECT_FALSE(TryStrToDateTime("1/2/2024 10:00 trailing", out, en));
  EXPECT_FALSE(TryStrToDateTime("1/2/2024 25:00", out, en));
}

TEST(DateTimeText, TimesWithAndWithoutAmPm) {
  const TFormatSettings en = EnglishSettings();
  EXPECT_EQ(StrToTime("14:07:09", en), EncodeTime(14, 7, 9, 0));
  EXPECT_EQ(StrToTime("2:07:09 PM", en), EncodeTime(14, 7, 9, 0));
  EXPECT_EQ(StrToTime("pm 2:07", en), EncodeTime(14, 7, 0, 0));
  EXPECT_EQ(StrToTime("12:00 AM", en), 0.0);
  EXPECT_EQ(StrToTime("12:00 pm", en), 0.5);
  EXPECT_EQ(StrToTime("7", en), EncodeTime(7, 0, 0, 0));
  EXPECT_EQ(StrToTime("10:20:30.250", en), EncodeTime(10, 20, 30, 250));
  EXPECT_EQ(StrToDateTime("3/5/2024 2:07:09 PM", en), At(2024, 3, 5, 14, 7, 9));
  EXPECT_EQ(StrToDateTime("3/5/2024", en), EncodeDate(2024, 3, 5));
  EXPECT_EQ(StrToDateTime("6:00", en), 0.25);  // a time alone lies on 1899-12-30
  EXPECT_EQ(StrToDateTime("12/29/1899 6:00", en), -1.25);
}

// Every value written with the date-time text reads back to itself, under both format sets,
// including dates before 1899-12-30.
TEST(DateTimeText, DateTimeTextRoundTrips) {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> year(1, 9999), month(1, 12), day(1, 28), hour(0, 23),
      minute(0, 59), second(0, 59);
  for (const TFormatSettings& settings : {EnglishSettings(), FrenchSettings()}) {
    for (int i = 0; i < 20000; ++i) {
      const TDateTime v = At(year(rng), month(rng), day(rng), hour(rng), minute(rng), second(rng));
      const std::string text = DateTimeToStr(v, settings);
      ASSERT_EQ(StrToDateTime(text, settings), v) << text;
      ASSERT_EQ(StrToDate(DateToStr(v, settings), settings), std::trunc(v)) << text;
      ASSERT_EQ(DateTimeToTimeStamp(StrToTime(TimeToStr(v, settings), settings)).Time,
                DateTimeToTimeStamp(v).Time)
          << text;
    }
  }
}

}  // namespace
}  // namespace cl
