#include "classlib/rtl/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "FormatSettingsFixtures.h"

namespace cl {
namespace {

using testing::ConvertErrorMessage;
using testing::EnglishSettings;
using testing::FrenchSettings;

TEST(NumberText, IntegersAreCheckedNeverWrapped) {
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(StrToInt(" +42 "), 42);
  EXPECT_EQ(StrToInt("$FF"), 255);
  EXPECT_EQ(StrToInt("-0x10"), -16);
  EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(StrToInt64("$7FFFFFFFFFFFFFFF"), INT64_MAX);
  int32_t v32 = 5;
  for (const char* bad : {"2147483648", "-2147483649", "", " ", "-", "4 2", "1.0", "0x", "$",
                          "$FFFFFFFF", "12a", "99999999999999999999"}) {
    EXPECT_FALSE(TryStrToInt(bad, v32)) << bad;
  }
  EXPECT_EQ(v32, 5);
  int64_t v64;
  EXPECT_FALSE(TryStrToInt64("9223372036854775808", v64));
  EXPECT_FALSE(TryStrToInt64("$FFFFFFFFFFFFFFFF", v64));
  EXPECT_EQ(ConvertErrorMessage([] { StrToInt("abc"); }), "'abc' is not a valid integer value");
  EXPECT_EQ(ConvertErrorMessage([] { StrToInt64("1e3"); }), "'1e3' is not a valid integer value");
  EXPECT_EQ(IntToStr(-120), "-120");
  EXPECT_EQ(IntToStr(INT64_MIN), "-9223372036854775808");
}

TEST(NumberText, ShortestFloatText) {
  const TFormatSettings en = EnglishSettings();
  const TFormatSettings fr = FrenchSettings();
  EXPECT_EQ(FloatToStr(0.1, en), "0.1");
  EXPECT_EQ(FloatToStr(1234.5, en), "1234.5");
  EXPECT_EQ(FloatToStr(1234.5, fr), "1234,5");
  EXPECT_EQ(FloatToStr(-2.0, en), "-2");
  EXPECT_EQ(FloatToStr(1e20, en), "1E20");
  EXPECT_EQ(FloatToStr(1.5e-7, fr), "1,5E-7");
  EXPECT_EQ(FloatToStr(-0.0, en), "0");
  EXPECT_EQ(FloatToStr(std::numeric_limits<double>::quiet_NaN(), en), "NAN");
  EXPECT_EQ(FloatToStr(-std::numeric_limits<double>::infinity(), en), "-INF");
  EXPECT_EQ(FloatToStr(0.30000000000000004, en), "0.30000000000000004");
}

// Any finite double written with FloatToStr reads back bit for bit (negative zero as zero).
TEST(NumberText, FloatTextRoundTripsExactly) {
  std::mt19937_64 rng(7);
  for (const TFormatSettings& settings : {EnglishSettings(), FrenchSettings()}) {
    for (int i = 0; i < 100000; ++i) {
      const uint64_t bits = rng();
      double v;
      std::memcpy(&v, &bits, sizeof v);
      if (!std::isfinite(v)) continue;
      if (i % 2) v = std::ldexp(static_cast<double>(bits >> 11), -30);  // ordinary magnitudes
      const std::string text = FloatToStr(v, settings);
      const double back = StrToFloat(text, settings);
      ASSERT_EQ(back, v) << text;
      if (v != 0) {
        ASSERT_EQ(std::memcmp(&back, &v, sizeof v), 0) << text;
      }
    }
  }
}

TEST(NumberText, FloatParsing) {
  const TFormatSettings en = EnglishSettings();
  const TFormatSettings fr = FrenchSettings();
  EXPECT_EQ(StrToFloat(" 12.5 ", en), 12.5);
  EXPECT_EQ(StrToFloat("12,5", fr), 12.5);
  EXPECT_EQ(StrToFloat(".5", en), 0.5);
  EXPECT_EQ(StrToFloat("5.", en), 5.0);
  EXPECT_EQ(StrToFloat("-1.5e3", en), -1500.0);
  EXPECT_EQ(StrToFloat("1E+2", en), 100.0);
  EXPECT_EQ(StrToFloat("0000123.4500", en), 123.45);
  EXPECT_EQ(StrToFloat("1e-400", en), 0.0);  // below the smallest double
  EXPECT_EQ(StrToFloat("1e-99999999999", en), 0.0);
  double v = 9;
  for (const char* bad : {"", ".", "1,5", "1e", "1e+", "+-1", "1 5", "abc", "1e400",
                          "1e99999999999", "INF", "0x10", "--1"}) {
    EXPECT_FALSE(TryStrToFloat(bad, v, en)) << bad;
  }
  EXPECT_EQ(v, 9);
  EXPECT_FALSE(TryStrToFloat("1.5", v, fr));
  EXPECT_EQ(ConvertErrorMessage([&] { StrToFloat("x", en); }),
            "'x' is not a valid floating point value");
}

TEST(NumberText, MasksRoundHalvesAwayFromZero) {
  const TFormatSettings en = EnglishSettings();
  const TFormatSettings fr = FrenchSettings();
  const std::string money_mask = "##############0.00";
  EXPECT_EQ(FormatFloat(money_mask, 12.5, en), "12.50");
  EXPECT_EQ(FormatFloat(money_mask, 0, en), "0.00");
  EXPECT_EQ(FormatFloat(money_mask, -0.07, en), "-0.07");
  EXPECT_EQ(FormatFloat(money_mask, 12.5, fr), "12,50");
  EXPECT_EQ(FormatFloat(money_mask, 1e17, en), "100000000000000000.00");  // never cut
  EXPECT_EQ(FormatFloat("0.00", 1.125, en), "1.13");                      // an exact half
  EXPECT_EQ(FormatFloat("0.00", -1.125, en), "-1.13");
  EXPECT_EQ(FormatFloat("0.00", 1.005, en), "1.00");   // 1.00499999999999989...
  EXPECT_EQ(FormatFloat("0.00", -0.001, en), "0.00");  // rounds to zero: no sign
  EXPECT_EQ(FormatFloat("0.00", 9.999, en), "10.00");
  EXPECT_EQ(FormatFloat("#,##0.00", 1234567.891, en), "1,234,567.89");
  EXPECT_EQ(FormatFloat("#,##0", 1234567.891, fr),
            "1\xA0"
            "234\xA0"
            "568");
  EXPECT_EQ(FormatFloat("000", 7, en), "007");
  EXPECT_EQ(FormatFloat("#", 0, en), "");
  EXPECT_EQ(FormatFloat("#.##", 0.5, en), ".5");
  EXPECT_EQ(FormatFloat("0.0#", 2, en), "2.0");
  EXPECT_EQ(FormatFloat("0.0#", 2.345, en), "2.35");
  EXPECT_EQ(FormatFloat("\"$\"0.00\" net\"", 3, en), "$3.00 net");
  EXPECT_EQ(FormatFloat("0", 0.5, en), "1");
  EXPECT_EQ(FormatFloat("0", 1e-30, en), "0");
}

TEST(NumberText, GeneralFormRoundsToItsPrecision) {
  const TFormatSettings en = EnglishSettings();
  const TFormatSettings fr = FrenchSettings();
  EXPECT_EQ(FloatToStrF(0.1 + 0.2, ffGeneral, 15, 0, en), "0.3");
  EXPECT_EQ(FloatToStrF(2.0 / 3.0, ffGeneral, 7, 0, fr), "0,6666667");
  EXPECT_EQ(FloatToStrF(-2.5, ffGeneral, 15, 0, en), "-2.5");
  EXPECT_EQ(FloatToStrF(1234.5, ffGeneral, 3, 0, en), "1.23E3");  // more integer digits
  EXPECT_EQ(FloatToStrF(123.5, ffGeneral, 3, 0, en), "124");
  EXPECT_EQ(FloatToStrF(123456789012345.0, ffGeneral, 15, 0, en), "123456789012345");
  EXPECT_EQ(FloatToStrF(1234567890123456.0, ffGeneral, 15, 0, en), "1.23456789012346E15");
  EXPECT_EQ(FloatToStrF(999999999999999.9, ffGeneral, 15, 0, en), "1E15");  // carried up
  EXPECT_EQ(FloatToStrF(1e20, ffGeneral, 15, 0, en), "1E20");
  EXPECT_EQ(FloatToStrF(0.0001, ffGeneral, 15, 0, en), "0.0001");
  EXPECT_EQ(FloatToStrF(0.00001, ffGeneral, 15, 0, en), "1E-5");
  EXPECT_EQ(FloatToStrF(1.5e-7, ffGeneral, 15, 2, fr), "1,5E-07");
  EXPECT_EQ(FloatToStrF(1e20, ffGeneral, 15, 9, en), "1E0020");  // at most four digits
  EXPECT_EQ(FloatToStrF(0.0, ffGeneral, 15, 0, en), "0");
  EXPECT_EQ(FloatToStrF(-0.0, ffGeneral, 15, 0, en), "0");
  EXPECT_EQ(FloatToStrF(0.5, ffGeneral, 0, 0, en), "0.5");  // precision at least 1
  EXPECT_EQ(FloatToStrF(0.1, ffGeneral, 40, 0, en), "0.100000000000000006");  // at most 18
  EXPECT_EQ(FloatToStrF(std::numeric_limits<double>::quiet_NaN(), ffGeneral, 15, 0, en), "NAN");
  EXPECT_EQ(FloatToStrF(-std::numeric_limits<double>::infinity(), ffCurrency, 15, 2, fr), "-INF");
}

// 18 digits keep every double; 15 give back any value whose shortest text is no longer.
TEST(NumberText, GeneralFormReadsBack) {
  std::mt19937_64 rng(11);
  for (const TFormatSettings& settings : {EnglishSettings(), FrenchSettings()}) {
    for (int i = 0; i < 50000; ++i) {
      const uint64_t bits = rng();
      double v;
      std::memcpy(&v, &bits, sizeof v);
      if (!std::isfinite(v)) continue;
      if (i % 2) v = std::ldexp(static_cast<double>(bits >> 11), -30);
      const std::string text = FloatToStrF(v, ffGeneral, 18, 0, settings);
      ASSERT_EQ(StrToFloat(text, settings), v) << text;
      const double rounded = StrToFloat(FloatToStrF(v, ffGeneral, 8, 0, settings), settings);
      const std::string short_text = FloatToStr(rounded, settings);
      ASSERT_EQ(StrToFloat(FloatToStrF(rounded, ffGeneral, 15, 0, settings), settings), rounded)
          << short_text;
    }
  }
}

TEST(NumberText, FixedFormHasExactlyItsDecimals) {
  const TFormatSettings en = EnglishSettings();
  const TFormatSettings fr = FrenchSettings();
  EXPECT_EQ(FloatToStrF(12.5, ffFixed, 15, 2, en), "12.50");
  EXPECT_EQ(FloatToStrF(12.5, ffFixed, 15, 2, fr), "12,50");
  EXPECT_EQ(FloatToStrF(1234567.891, ffFixed, 15, 2, fr), "1234567,89");  // no separators
  EXPECT_EQ(FloatToStrF(1.125, ffFixed, 15, 2, en), "1.13");              // an exact half
  EXPECT_EQ(FloatToStrF(-1.125, ffFixed, 15, 2, en), "-1.13");
  EXPECT_EQ(FloatToStrF(2.675, ffFixed, 15, 2, en), "2.67");  // 2.67499999999999982...
  EXPECT_EQ(FloatToStrF(0.005, ffFixed, 15, 2, en), "0.01");
  EXPECT_EQ(FloatToStrF(-0.001, ffFixed, 15, 2, en), "0.00");  // rounds to zero: no sign
  EXPECT_EQ(FloatToStrF(0.5, ffFixed, 15, 0, en), "1");
  EXPECT_EQ(FloatToStrF(7, ffFixed, 15, -3, en), "7");
  EXPECT_EQ(FloatToStrF(0.25, ffFixed, 15, 4, en), "0.2500");
  // The precision rounds first when it is reached before the last decimal.
  EXPECT_EQ(FloatToStrF(123456789012345.67, ffFixed, 15, 2, en), "123456789012346.00");
  EXPECT_EQ(FloatToStrF(1.23456, ffFixed, 3, 4, en), "1.2300");
  // More integer digits than the precision: the general form.
  EXPECT_EQ(FloatToStrF(1e20, ffFixed, 15, 2, en), "1E20");
  EXPECT_EQ(FloatToStrF(999.99, ffFixed, 3, 2, en), "1E3");
}

// At full precision the fixed and money forms agree with the "0.00" and "#,##0.00" masks.
TEST(NumberText, FixedAndMoneyFormsAgreeWithMasks) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> magnitude(-12.0, 14.0);
  const TFormatSettings fr = FrenchSettings();
  for (int i = 0; i < 20000; ++i) {
    double v = std::pow(10.0, magnitude(rng));
    if (rng() % 2) v = -v;
    const int decimals = static_cast<int>(rng() % 5);
    const std::string fraction(static_cast<size_t>(decimals), '0');
    const std::string point = decimals > 0 ? "." : "";
    const std::string fixed = FormatFloat("0" + point + fraction, v, fr);
    ASSERT_EQ(FloatToStrF(v, ffFixed, 18, decimals, fr), fixed) << v;
    const std::string grouped = FormatFloat("#,##0" + point + fraction, v, fr);
    ASSERT_EQ(FloatToStrF(v, ffCurrency, 18, decimals, fr), grouped + " F") << v;
  }
}

TEST(NumberText, MoneyFormFollowsTheCurrencyLayouts) {
  const TFormatSettings fr = FrenchSettings();
  EXPECT_EQ(FloatToStrF(12.5, ffCurrency, 15, 2, fr), "12,50 F");
  EXPECT_EQ(FloatToStrF(-12.5, ffCurrency, 15, 2, fr), "-12,50 F");
  EXPECT_EQ(FloatToStrF(0, ffCurrency, 15, 2, fr), "0,00 F");
  EXPECT_EQ(FloatToStrF(-0.001, ffCurrency, 15, 2, fr), "0,00 F");
  EXPECT_EQ(FloatToStrF(1234567.891, ffCurrency, 15, 2, fr),
            "1\xA0"
            "234\xA0"
            "567,89 F");
  TFormatSettings s = EnglishSettings();
  s.CurrencyString = "EUR";
  const char* const positive[] = {"EUR1,234.5", "1,234.5EUR", "EUR 1,234.5", "1,234.5 EUR"};
  for (int format = 0; format < 4; ++format) {
    s.CurrencyFormat = static_cast<uint8_t>(format);
    EXPECT_EQ(FloatToStrF(1234.5, ffCurrency, 15, 1, s), positive[format]) << format;
  }
  const char* const negative[] = {"(EUR1.5)", "-EUR1.5",  "EUR-1.5",   "EUR1.5-",
                                  "(1.5EUR)", "-1.5EUR",  "1.5-EUR",   "1.5EUR-",
                                  "-1.5 EUR", "-EUR 1.5", "1.5 EUR-",  "EUR 1.5-",
                                  "EUR -1.5", "1.5- EUR", "(EUR 1.5)", "(1.5 EUR)"};
  for (int format = 0; format < 16; ++format) {
    s.NegCurrFormat = static_cast<uint8_t>(format);
    EXPECT_EQ(FloatToStrF(-1.5, ffCurrency, 15, 1, s), negative[format]) << format;
  }
  s.NegCurrFormat = 200;  // out of range: the last layout
  EXPECT_EQ(FloatToStrF(-1.5, ffCurrency, 15, 1, s), "(1.5 EUR)");
  s.CurrencyFormat = 9;
  EXPECT_EQ(FloatToStrF(1.5, ffCurrency, 15, 0, s), "2 EUR");
}

TEST(NumberText, DecimalDigits) {
  TDecimalDigits d = DoubleToDecimal(1234.5, 18);
  EXPECT_EQ(d.digits, "12345");
  EXPECT_EQ(d.exponent, 4);
  EXPECT_FALSE(d.negative);
  d = DoubleToDecimal(-0.001953125, 18);  // 2^-9, exact
  EXPECT_EQ(d.digits, "1953125");
  EXPECT_EQ(d.exponent, -2);
  EXPECT_TRUE(d.negative);
  RoundDecimal(d, 4);  // 0.0019|53125 -> 0.0020
  EXPECT_EQ(d.digits, "2");
  EXPECT_EQ(d.exponent, -2);
  d = DoubleToDecimal(999.96, 18);
  RoundDecimal(d, 1);
  EXPECT_EQ(d.digits, "1");
  EXPECT_EQ(d.exponent, 4);
  ASSERT_TRUE(ScanDecimalText(" -000.0100e2 ", '.', d));
  EXPECT_EQ(d.digits, "1");
  EXPECT_EQ(d.exponent, 1);
  EXPECT_TRUE(d.negative);
}

}  // namespace
}  // namespace cl
