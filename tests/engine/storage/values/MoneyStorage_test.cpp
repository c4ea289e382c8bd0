#include "engine/storage/values/MoneyStorage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/Rounding.h"

namespace tessera {
namespace {

cl::Currency Amount(int64_t raw) { return cl::Currency::FromRaw(raw); }

TEST(MoneyStorage, DocumentedExamples) {
  EXPECT_EQ(CurrencyMask(2), "##############0.00");
  EXPECT_EQ(CurrencyMask(0), "##############0");
  EXPECT_EQ(MoneyToStored(2, Amount(125000)), 12502);
  EXPECT_EQ(MoneyToStored(2, Amount(-700)), -72);
  EXPECT_EQ(MoneyToStored(0, Amount(70000)), 70);
  EXPECT_EQ(MoneyToStored(2, Amount(0)), 2);
  EXPECT_EQ(FloatToStored(2, 12.5), 12502);
  EXPECT_EQ(FloatToStored(2, -0.07), -72);
  EXPECT_EQ(FloatToStored(0, 7), 70);
  EXPECT_EQ(StoredToMoney(12502), Amount(125000));
  EXPECT_EQ(StoredToMoney(-72), Amount(-700));
  EXPECT_EQ(StoredToMoney(70), Amount(70000));
  EXPECT_EQ(StoredToMoney(2), Amount(0));
  EXPECT_EQ(StoredToFloat(12502), 12.5);
  EXPECT_EQ(StoredToFloat(-72), -0.07);
  EXPECT_EQ(StoredDecimals(-72), 2);
  EXPECT_EQ(StoredToMoney(5), Amount(0));  // no digits before the decimals digit
}

// The runtime's Round takes halves to even; the engine's rounding takes them away from zero.
TEST(MoneyStorage, RoundingHalvesAwayFromZero) {
  EXPECT_EQ(cl::Round(2.5), 2);
  EXPECT_EQ(RoundToDecimals(0, 2.5), 3.0);
  EXPECT_EQ(RoundToDecimals(0, -2.5), -3.0);
  EXPECT_EQ(RoundToDecimals(0, 3.5), 4.0);
  EXPECT_EQ(RoundToDecimals(2, 3.125), 3.13);  // an exact half in binary
  EXPECT_EQ(RoundToDecimals(2, -3.125), -3.13);
  EXPECT_EQ(RoundToDecimals(1, 0.25), 0.3);
  EXPECT_EQ(RoundToDecimals(2, 1.005), 1.0);  // the double 1.005 lies just below the half
  EXPECT_EQ(RoundToDecimals(2, 1.0051), 1.01);
  EXPECT_EQ(RoundToDecimals(2, 0.0), 0.0);
  EXPECT_EQ(RoundToDecimals(3, 1e300), 1e300);
  EXPECT_EQ(RoundToDecimals(2, 4503599627370495.5), 4503599627370495.5);

  EXPECT_EQ(RoundCurrency(2, Amount(10050)), Amount(10100));  // the amount 1.005 is exact
  EXPECT_EQ(RoundCurrency(2, Amount(-10050)), Amount(-10100));
  EXPECT_EQ(RoundCurrency(2, Amount(10049)), Amount(10000));
  EXPECT_EQ(RoundCurrency(0, Amount(25000)), Amount(30000));
  EXPECT_EQ(RoundCurrency(0, Amount(-25000)), Amount(-30000));
  EXPECT_EQ(RoundCurrency(3, Amount(-1255)), Amount(-1260));
  EXPECT_EQ(RoundCurrency(4, Amount(12345)), Amount(12345));
  EXPECT_THROW(RoundCurrency(0, Amount(INT64_MAX)), cl::EConvertError);
  EXPECT_EQ(RoundCurrency(0, Amount(INT64_MIN + 5000)), Amount(INT64_MIN + 5808));
}

// Against a model in integer arithmetic: the digits of the amount at d decimals, then d.
TEST(MoneyStorage, RoundTripsRandomAmounts) {
  std::mt19937_64 rng(1105);
  for (int d = 0; d <= 4; ++d) {
    int64_t step = 1;
    for (int i = d; i < 4; ++i) step *= 10;
    for (int i = 0; i < 20000; ++i) {
      // Up to about 10^13 so that every d fits.
      const int64_t raw =
          static_cast<int64_t>(rng() % 200000000000000000ULL) - 100000000000000000LL;
      const cl::Currency amount = Amount(i % 4 == 0 ? raw % 1000000 : raw);
      const cl::Currency rounded = RoundCurrency(d, amount);
      const int64_t magnitude = (rounded.Raw < 0 ? -rounded.Raw : rounded.Raw) / step;
      const int64_t model = (rounded.Raw < 0 ? -1 : 1) * (magnitude * 10 + d);
      const int64_t stored = MoneyToStored(d, amount);
      ASSERT_EQ(stored, model) << amount.Raw << " d=" << d;
      ASSERT_EQ(StoredDecimals(stored), d);
      ASSERT_EQ(StoredToMoney(stored), rounded);
      ASSERT_EQ(MoneyToStored(d, StoredToMoney(stored)), stored);
      if (magnitude < 1000000000000000) {  // within a double's 15 exact digits
        ASSERT_EQ(StoredToFloat(stored), rounded.ToDouble());
        ASSERT_EQ(FloatToStored(d, StoredToFloat(stored)), stored);
      }
    }
  }
}

TEST(MoneyStorage, OverflowRaisesAndNeverWraps) {
  // With d = 4 the stored value is amount x 10^5 + 4.
  EXPECT_EQ(MoneyToStored(4, Amount(922337203685477580)), 9223372036854775804);
  EXPECT_THROW(MoneyToStored(4, Amount(922337203685477581)), cl::EConvertError);
  EXPECT_THROW(MoneyToStored(4, Amount(1000000000000000000)), cl::EConvertError);  // 10^14
  EXPECT_THROW(MoneyToStored(4, Amount(INT64_MIN)), cl::EConvertError);
  EXPECT_THROW(MoneyToStored(0, Amount(INT64_MAX)), cl::EConvertError);
  EXPECT_THROW(MoneyToStored(10, Amount(1)), cl::EConvertError);  // one digit holds d
  EXPECT_THROW(MoneyToStored(-1, Amount(1)), cl::EConvertError);
  EXPECT_THROW(FloatToStored(2, 1e300), cl::EConvertError);
  EXPECT_THROW(FloatToStored(2, std::numeric_limits<double>::quiet_NaN()), cl::EConvertError);
  EXPECT_THROW(FloatToStored(2, -std::numeric_limits<double>::infinity()), cl::EConvertError);
  // d from 5 to 9 keeps the amount and pads it.
  EXPECT_EQ(MoneyToStored(6, Amount(125000)), 125000006);
  EXPECT_EQ(StoredToMoney(125000006), Amount(125000));
}

// Stored values come from files: every 64-bit value reads back its amount (further decimals
// rounded half to even) or raises a conversion error when the amount leaves the currency range.
TEST(MoneyStorage, AnyStoredValueReadsOrRaises) {
  EXPECT_EQ(StoredToMoney(INT64_MAX), Amount(922337203685478));         // 92233720368.5477580
  EXPECT_EQ(StoredToMoney(INT64_MIN), Amount(-92233720368548));         // -9223372036.85477580
  EXPECT_THROW(StoredToMoney(9223372036854775800), cl::EConvertError);  // d = 0: too large
  std::mt19937_64 rng(9);
  for (int i = 0; i < 20000; ++i) {
    const int64_t stored = static_cast<int64_t>(rng()) >> (i % 40);
    const __int128 whole = stored < 0 ? -static_cast<__int128>(stored) : stored;
    const int d = static_cast<int>(whole % 10);
    __int128 magnitude = whole / 10;
    if (d <= 4) {
      for (int k = d; k < 4; ++k) magnitude *= 10;
    } else {
      __int128 divisor = 1;
      for (int k = 4; k < d; ++k) divisor *= 10;
      const __int128 rest = magnitude % divisor;
      magnitude /= divisor;
      if (rest * 2 > divisor || (rest * 2 == divisor && magnitude % 2 == 1)) ++magnitude;
    }
    const __int128 model = stored < 0 ? -magnitude : magnitude;
    if (model > INT64_MAX || model < INT64_MIN) {
      EXPECT_THROW(StoredToMoney(stored), cl::EConvertError) << stored;
    } else {
      ASSERT_EQ(StoredToMoney(stored).Raw, static_cast<int64_t>(model)) << stored;
    }
    EXPECT_TRUE(std::isfinite(StoredToFloat(stored)));
  }
}

}  // namespace
}  // namespace tessera
