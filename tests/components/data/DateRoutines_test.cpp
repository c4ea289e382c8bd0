#include "components/data/DateRoutines.h"

#include <gtest/gtest.h>

#include "classlib/rtl/Exceptions.h"

namespace comp {
namespace {

TEST(DateRoutinesTest, CalendarAndYears) {
  EXPECT_EQ(DaysPerMonth(2000, 2), 29);
  EXPECT_EQ(DaysPerMonth(1900, 2), 28);
  EXPECT_EQ(DaysPerMonth(2023, 13), 0);
  EXPECT_TRUE(ValidDate(2000, 2, 29));
  EXPECT_FALSE(ValidDate(1900, 2, 29));
  EXPECT_FALSE(ValidDate(10000, 1, 1));
  EXPECT_FALSE(ValidDate(0, 1, 1));
  EXPECT_TRUE(IsValidDateTime(cl::EncodeDate(2026, 12, 7)));
  EXPECT_FALSE(IsValidDateTime(-700000.0));
  EXPECT_FALSE(IsValidDateTime(1e300));

  EXPECT_EQ(ExpandYear(29, 1998), 1929);
  EXPECT_EQ(ExpandYear(28, 1998), 2028);
  EXPECT_EQ(ExpandYear(99, 2026), 2099);
  EXPECT_EQ(ExpandYear(5, 2026), 2005);
  EXPECT_EQ(ExpandYear(150, 2026), 150);

  EXPECT_EQ(GetDateOrder("dd/MM/yyyy"), TDateOrder::doDMY);
  EXPECT_EQ(GetDateOrder("M/d/yyyy"), TDateOrder::doMDY);
  EXPECT_EQ(GetDateOrder("yyyy-MM-dd"), TDateOrder::doYMD);
  EXPECT_EQ(GetDateOrder("ee/MM/dd"), TDateOrder::doYMD);
  EXPECT_EQ(GetDateOrder("/"), TDateOrder::doDMY);
}

TEST(DateRoutinesTest, DefaultFormatsAndMasks) {
  cl::TFormatSettings settings = cl::SystemFormatSettings();
  const struct {
    const char* short_format;
    const char* format4;
    const char* format2;
    const char* mask4;
  } cases[] = {
      {"dd/MM/yyyy", "DD/MM/YYYY", "DD/MM/YY", "!99/99/9999;1;_"},
      {"M/d/yyyy", "MM/DD/YYYY", "MM/DD/YY", "!99/99/9999;1;_"},
      {"yyyy-MM-dd", "YYYY/MM/DD", "YY/MM/DD", "!9999/99/99;1;_"},
  };
  for (const auto& c : cases) {
    settings.ShortDateFormat = c.short_format;
    cl::SetCurrentFormatSettings(settings);
    EXPECT_EQ(DefDateFormat(true), c.format4);
    EXPECT_EQ(DefDateFormat(false), c.format2);
    EXPECT_EQ(DefDateMask('_', true), c.mask4);
    EXPECT_EQ(DefDateMask(' ', false), "!99/99/99;1; ");
  }
  cl::SetCurrentFormatSettings(cl::SystemFormatSettings());
}

TEST(DateRoutinesTest, ParsingTable) {
  const cl::TFormatSettings fr = cl::SystemFormatSettings();  // separator "/", French months
  struct Case {
    const char* format;
    const char* text;
    int current_year;
    int year, month, day;  // 0: the conversion fails
  };
  const Case cases[] = {
      // positional pass
      {"dd/mm/yyyy", "03/04/2026", 2026, 2026, 4, 3},
      {"dd/mm/yy", "03/04/29", 1998, 1929, 4, 3},
      {"dd/mm/yy", "03/04/28", 1998, 2028, 4, 3},
      {"dd mmm yyyy", "03 AVR 2026", 2026, 2026, 4, 3},
      {"dd mmm yyyy", "03 f\xE9v 2026", 2026, 2026, 2, 3},
      {"dd/mm/yyyy", "03/04/    ", 2026, 2026, 4, 3},  // the free pass: the current year
      {"yyyy/mm/dd", "    /04/03", 2026, 0, 0, 0},     // a blank year is no year
      // free pass
      {"dd/mm/yyyy", "3/4", 2026, 2026, 4, 3},
      {"dd/mm/yyyy", "3/4/5", 2026, 2005, 4, 3},
      {"dd/mm/yyyy", " 3 / 4 / 2005 ", 2026, 2005, 4, 3},
      {"dd/mm/yyyy", "3/4/", 2026, 2026, 4, 3},
      {"mm/dd/yyyy", "3/4", 2026, 2026, 3, 4},
      {"mm/dd/yyyy", "3/4/05", 2026, 2005, 3, 4},
      {"yyyy/mm/dd", "2003/4/5", 2026, 2003, 4, 5},
      {"dd/mm/yyyy", "29/02/2000", 2026, 2000, 2, 29},
      {"dd/mm/yyyy", "31/02/2003", 2026, 0, 0, 0},
      {"dd/mm/yyyy", "29/02/1900", 2026, 0, 0, 0},
      {"dd/mm/yyyy", "3/4/2005x", 2026, 0, 0, 0},
      {"dd/mm/yyyy", "3/4/20055", 2026, 0, 0, 0},
      {"dd/mm/yyyy", "3", 2026, 0, 0, 0},
      {"dd/mm/yyyy", "3-4-2005", 2026, 0, 0, 0},
      {"dd/mm", "03/04/2005", 2026, 2005, 4, 3},  // format shorter than the text: free pass
  };
  for (const Case& c : cases) {
    cl::TDateTime date = -1;
    const bool ok = TryStrToDateFmt(c.format, c.text, date, fr, c.current_year);
    if (c.year == 0) {
      EXPECT_FALSE(ok) << c.format << " [" << c.text << "]";
    } else {
      EXPECT_TRUE(ok) << c.format << " [" << c.text << "]";
      EXPECT_EQ(date, cl::EncodeDate(c.year, c.month, c.day)) << c.format << " [" << c.text << "]";
    }
  }
  cl::TDateTime date = -1;
  EXPECT_TRUE(TryStrToDateFmt("dd/mm/yyyy", "", date, fr, 2026));
  EXPECT_EQ(date, kNullDate);
}

TEST(DateRoutinesTest, ConversionErrorKeepsItsText) {
  try {
    StrToDateFmt("dd/mm/yyyy", "31/02/2003");
    FAIL() << "no exception";
  } catch (const cl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "''31/02/2003'' n'est pas une date correcte");
  }
  EXPECT_EQ(StrToDateFmtDef("dd/mm/yyyy", "x", 12.0), 12.0);
  EXPECT_EQ(StrToDateFmt("dd/mm/yyyy", "07/12/2026"), cl::EncodeDate(2026, 12, 7));
}

}  // namespace
}  // namespace comp
