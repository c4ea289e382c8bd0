#include "classlib/rtl/Currency.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <random>

#include "FormatSettingsFixtures.h"
#include "classlib/rtl/Exceptions.h"

namespace cl {
namespace {

using testing::EnglishSettings;
using testing::FrenchSettings;

TEST(Currency, Text) {
  const TFormatSettings en = EnglishSettings();
  EXPECT_EQ(CurrToStr(Currency::FromRaw(125000), en), "12.5");
  EXPECT_EQ(CurrToStr(Currency::FromRaw(-700), en), "-0.07");
  EXPECT_EQ(CurrToStr(Currency::FromRaw(0), en), "0");
  EXPECT_EQ(CurrToStr(Currency::FromRaw(1), FrenchSettings()), "0,0001");
  EXPECT_EQ(CurrToStr(Currency::FromRaw(INT64_MAX), en), "922337203685477.5807");
  EXPECT_EQ(CurrToStr(Currency::FromRaw(INT64_MIN), en), "-922337203685477.5808");
  EXPECT_EQ(FormatCurr("##############0.00", Currency::FromRaw(70000), en), "7.00");
}

TEST(Currency, ParsingIsExactAndRoundsFurtherDecimalsHalfToEven) {
  const TFormatSettings en = EnglishSettings();
  EXPECT_EQ(StrToCurr("12.5", en).Raw, 125000);
  EXPECT_EQ(StrToCurr("12,5", FrenchSettings()).Raw, 125000);
  EXPECT_EQ(StrToCurr("-0.07", en).Raw, -700);
  EXPECT_EQ(StrToCurr("1e3", en).Raw, 10000000);
  EXPECT_EQ(StrToCurr("0.00005", en).Raw, 0);
  EXPECT_EQ(StrToCurr("0.00015", en).Raw, 2);
  EXPECT_EQ(StrToCurr("0.00025", en).Raw, 2);
  EXPECT_EQ(StrToCurr("0.000251", en).Raw, 3);
  EXPECT_EQ(StrToCurr("-0.00015", en).Raw, -2);
  EXPECT_EQ(StrToCurr("0.000049999", en).Raw, 0);
  EXPECT_EQ(StrToCurr("922337203685477.5807", en).Raw, INT64_MAX);
  EXPECT_EQ(StrToCurr("-922337203685477.5808", en).Raw, INT64_MIN);
  Currency c = Currency::FromRaw(99);
  for (const char* bad : {"922337203685477.5808", "922337203685477.58075", "1e15", "-1e300", "",
                          "1.5.5", "abc", "12,5"}) {
    EXPECT_FALSE(TryStrToCurr(bad, c, en)) << bad;
  }
  EXPECT_EQ(c.Raw, 99);
  try {
    StrToCurr("abc", en);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid floating point value");
  }
}

TEST(Currency, TextRoundTripsForRandomAmounts) {
  std::mt19937_64 rng(3);
  for (const TFormatSettings& settings : {EnglishSettings(), FrenchSettings()}) {
    for (int i = 0; i < 50000; ++i) {
      int64_t raw = static_cast<int64_t>(rng());
      if (i % 3 == 1) raw %= 100000000;  // everyday amounts too
      const Currency c = Currency::FromRaw(raw);
      ASSERT_EQ(StrToCurr(CurrToStr(c, settings), settings), c) << raw;
    }
  }
}

TEST(Currency, FloatConversionRoundsHalfToEven) {
  EXPECT_EQ(FloatToCurr(1.03125).Raw, 10312);  // 10312.5 exactly
  EXPECT_EQ(FloatToCurr(1.09375).Raw, 10938);  // 10937.5 exactly
  EXPECT_EQ(FloatToCurr(-1.03125).Raw, -10312);
  EXPECT_EQ(FloatToCurr(12.5).Raw, 125000);
  EXPECT_EQ(FloatToCurr(0.07).Raw, 700);
  EXPECT_EQ(CurrToFloat(Currency::FromRaw(-700)), -0.07);
  EXPECT_EQ(IntToCurr(-3).Raw, -30000);
  EXPECT_THROW(IntToCurr(INT64_MAX / 1000), EConvertError);
  try {
    FloatToCurr(1e15);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'1E15' is not a valid currency value");
  }
  EXPECT_THROW(FloatToCurr(std::numeric_limits<double>::quiet_NaN()), EConvertError);
  Currency c;
  EXPECT_FALSE(TryFloatToCurr(9.3e14, c));
  EXPECT_TRUE(TryFloatToCurr(-9.2e14, c));
}

}  // namespace
}  // namespace cl
