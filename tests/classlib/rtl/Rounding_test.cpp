#include "classlib/rtl/Rounding.h"

#include <gtest/gtest.h>

#include <limits>

#include "classlib/rtl/Exceptions.h"

namespace cl {
namespace {

TEST(Rounding, RoundHalvesToEven) {
  EXPECT_EQ(Round(2.5), 2);
  EXPECT_EQ(Round(3.5), 4);
  EXPECT_EQ(Round(-2.5), -2);
  EXPECT_EQ(Round(-3.5), -4);
  EXPECT_EQ(Round(0.49999999999999994), 0);
  EXPECT_EQ(Round(2.5000000000000004), 3);
  EXPECT_EQ(Round(1.5 / 86400 * 86400), 2);
  EXPECT_EQ(Round(-9223372036854775808.0), INT64_MIN);
  EXPECT_THROW(Round(9223372036854775808.0), EConvertError);
  EXPECT_THROW(Round(std::numeric_limits<double>::quiet_NaN()), EConvertError);
}

TEST(Rounding, TruncIntFrac) {
  EXPECT_EQ(Trunc(-1.7), -1);
  EXPECT_EQ(Trunc(1.7), 1);
  EXPECT_EQ(Int(-1.25), -1.0);
  EXPECT_EQ(Frac(-1.25), -0.25);
  EXPECT_EQ(Frac(2.75), 0.75);
  EXPECT_THROW(Trunc(1e19), EConvertError);
}

}  // namespace
}  // namespace cl
