#include "engine/storage/values/EngineFormats.h"

#include <gtest/gtest.h>

#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/NumberText.h"

namespace tessera {
namespace {

TEST(EngineFormats, LanguageZeroIsTheFixedSet) {
  const TEngineFormatSettings s = BuildEngineFormatSettings(0, 0);
  EXPECT_EQ(s, FixedFormatSettings());
  EXPECT_EQ(s.CurrencyString, "$");
  EXPECT_EQ(s.ThousandSeparator, ',');
  EXPECT_EQ(s.DecimalSeparator, '.');
  EXPECT_EQ(s.CurrencyDecimals, 2);
  EXPECT_EQ(s.ShortDateFormat, "M/d/yyyy");
  EXPECT_EQ(s.LongDateFormat, "dddd, MMMM dd, yyyy");
  EXPECT_EQ(s.TimeAMString, "AM");
  EXPECT_EQ(s.ShortTimeFormat, "h:mm AMPM");
  EXPECT_EQ(s.LongTimeFormat, "h:mm:ss AMPM");
  EXPECT_EQ(s.LongMonthNames[11], "December");
  EXPECT_EQ(s.ShortDayNames[6], "Sat");
  // A locale that is not installed gives no value: every one falls back to the fixed set.
  EXPECT_EQ(BuildEngineFormatSettings(0x0419, 0), FixedFormatSettings());
  EXPECT_EQ(BuildEngineFormatSettings(0x040C, 1), FixedFormatSettings());
  // The fixed set is the American one.
  EXPECT_EQ(BuildEngineFormatSettings(0x0409, 0), FixedFormatSettings());
}

TEST(EngineFormats, LocaleTimeFormatsAreBuiltFromItsFlags) {
  const TEngineFormatSettings fr = BuildEngineFormatSettings(0x040C, 0);
  EXPECT_EQ(fr.ShortDateFormat, "dd/MM/yyyy");
  EXPECT_EQ(fr.DecimalSeparator, ',');
  EXPECT_EQ(fr.ThousandSeparator, '\xA0');
  EXPECT_EQ(fr.ShortTimeFormat, "hh:mm");  // leading zero, 24-hour clock
  EXPECT_EQ(fr.LongTimeFormat, "hh:mm:ss");
  EXPECT_EQ(fr.TimeAMString, "");
  EXPECT_EQ(fr.LongMonthNames[7], "ao\xFBt");
  const TEngineFormatSettings es = BuildEngineFormatSettings(0x0C0A, 0);
  EXPECT_EQ(es.ShortTimeFormat, "h:mm");  // no leading zero, 24-hour clock
  EXPECT_EQ(es.LongTimeFormat, "h:mm:ss");
  const TEngineFormatSettings gb = BuildEngineFormatSettings(0x0809, 0);
  EXPECT_EQ(gb.LongTimeFormat, "hh:mm:ss");
  EXPECT_EQ(gb.CurrencyString, "\xA3");
  const TEngineFormatSettings ch = BuildEngineFormatSettings(0x100C, 0);
  EXPECT_EQ(ch.DateSeparator, '.');
  EXPECT_EQ(ch.DecimalSeparator, '.');
  const cl::TDateTime v =
      cl::ComposeDateTime(cl::EncodeDate(2024, 3, 5), cl::EncodeTime(9, 4, 0, 0));
  EXPECT_EQ(cl::DateTimeToStr(v, fr), "05/03/2024 09:04:00");
  EXPECT_EQ(cl::DateTimeToStr(v, es), "05/03/2024 9:04:00");
  EXPECT_EQ(cl::DateTimeToStr(v, ch), "05.03.2024 09:04:00");
  EXPECT_EQ(cl::DateTimeToStr(v, BuildEngineFormatSettings(0x0413, 0)), "5-3-2024 9:04:00");
  EXPECT_EQ(cl::DateTimeToStr(v, FixedFormatSettings()), "3/5/2024 9:04:00 AM");
  for (const uint16_t lang : {0x0409, 0x0809, 0x040C, 0x080C, 0x0C0C, 0x100C, 0x0407, 0x0410,
                              0x0C0A, 0x0413, 0x0406, 0x0414, 0x041D, 0x040B}) {
    const TEngineFormatSettings s = BuildEngineFormatSettings(lang, 0);
    // Each language reads back its own texts.
    EXPECT_EQ(cl::StrToDateTime(cl::DateTimeToStr(v, s), s), v) << std::hex << lang;
    EXPECT_EQ(cl::StrToFloat(cl::FloatToStr(-1234.5, s), s), -1234.5) << std::hex << lang;
  }
}

// The engine converts under the format set it is given, whatever the user interface has set;
// saving and restoring copy the interface's set as a whole.
TEST(EngineFormats, SaveAndRestoreCopyTheInterfaceSet) {
  TEngineFormatSettings saved;
  SaveFormatSettings(saved);
  EXPECT_EQ(saved, cl::CurrentFormatSettings());
  RestoreFormatSettings(BuildEngineFormatSettings(0x0407, 0));
  EXPECT_EQ(cl::CurrentFormatSettings().ShortDateFormat, "dd.MM.yyyy");
  EXPECT_EQ(cl::DateToStr(cl::EncodeDate(2024, 3, 5), FixedFormatSettings()), "3/5/2024");
  TEngineFormatSettings copy;
  SaveFormatSettings(copy);
  EXPECT_EQ(copy, BuildEngineFormatSettings(0x0407, 0));
  RestoreFormatSettings(saved);
  EXPECT_EQ(cl::CurrentFormatSettings(), saved);
}

}  // namespace
}  // namespace tessera
