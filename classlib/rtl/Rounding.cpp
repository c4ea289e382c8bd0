#include "classlib/rtl/Rounding.h"

#include <cmath>

#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/NumberText.h"

namespace cl {
namespace {

int64_t ToInt64(double whole, double value) {
  // 2^63 is exact as a double; the range is [-2^63, 2^63).
  if (!(whole >= -9223372036854775808.0 && whole < 9223372036854775808.0)) {
    throw EConvertError("'" + FloatToStr(value, TFormatSettings()) +
                        "' is not a valid integer value");
  }
  return static_cast<int64_t>(whole);
}

}  // namespace

int64_t Round(double value) {
  double whole = std::floor(value);
  const double diff = value - whole;  // exact for every double
  if (diff > 0.5 || (diff == 0.5 && std::fmod(whole, 2.0) != 0)) whole += 1;
  return ToInt64(whole, value);
}

int64_t Trunc(double value) { return ToInt64(std::trunc(value), value); }

double Int(double value) { return std::trunc(value); }

double Frac(double value) { return value - std::trunc(value); }

}  // namespace cl
