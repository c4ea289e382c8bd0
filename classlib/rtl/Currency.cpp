#include "classlib/rtl/Currency.h"

#include <cmath>

#include "classlib/rtl/Exceptions.h"

namespace cl {
namespace {

[[noreturn]] void InvalidCurrency(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid currency value");
}

// The exact amount of a decimal number in units of 1/10,000, the rest rounded half to even.
bool DecimalToRaw(const TDecimalDigits& number, int64_t& raw) {
  const std::string& d = number.digits;
  const long units = static_cast<long>(number.exponent) + 4;  // digits that land in the integer
  if (units > 19) return false;
  uint64_t magnitude = 0;
  for (long i = 0; i < units; ++i) {
    const uint64_t digit = i < static_cast<long>(d.size())
                               ? static_cast<uint64_t>(d[static_cast<size_t>(i)] - '0')
                               : 0;
    if (magnitude > (UINT64_MAX - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  // Round on the first dropped digit; the digits have no trailing zeros, so any digit after it
  // makes the rest non-zero.  With units < 0 the amount is below a tenth of a unit.
  if (units >= 0 && units < static_cast<long>(d.size())) {
    const char first = d[static_cast<size_t>(units)];
    const bool more = units + 1 < static_cast<long>(d.size());
    if (first > '5' || (first == '5' && (more || magnitude % 2 == 1))) ++magnitude;
  }
  const uint64_t limit = number.negative ? uint64_t{1} << 63 : static_cast<uint64_t>(INT64_MAX);
  if (magnitude > limit) return false;
  raw = number.negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

}  // namespace

double Currency::ToDouble() const { return CurrToFloat(*this); }

Currency IntToCurr(int64_t value) {
  if (value > INT64_MAX / kCurrencyScale || value < INT64_MIN / kCurrencyScale) {
    InvalidCurrency(IntToStr(value));
  }
  return Currency{value * kCurrencyScale};
}

bool TryFloatToCurr(double value, Currency& amount) {
  if (!std::isfinite(value)) return false;
  const long double scaled = static_cast<long double>(value) * kCurrencyScale;
  long double whole = std::floor(scaled);
  const long double diff = scaled - whole;
  if (diff > 0.5L || (diff == 0.5L && std::fmod(whole, 2.0L) != 0)) whole += 1;
  // 2^63 is exact in long double; the range is [-2^63, 2^63).
  if (whole < -9223372036854775808.0L || whole >= 9223372036854775808.0L) return false;
  amount.Raw = static_cast<int64_t>(whole);
  return true;
}

Currency FloatToCurr(double value) {
  Currency amount;
  if (!TryFloatToCurr(value, amount)) InvalidCurrency(FloatToStr(value, TFormatSettings()));
  return amount;
}

double CurrToFloat(Currency amount) {
  return static_cast<double>(static_cast<long double>(amount.Raw) / kCurrencyScale);
}

TDecimalDigits CurrToDecimal(Currency amount) {
  TDecimalDigits result;
  result.negative = amount.Raw < 0;
  const uint64_t magnitude =
      amount.Raw < 0 ? 0 - static_cast<uint64_t>(amount.Raw) : static_cast<uint64_t>(amount.Raw);
  if (magnitude == 0) return result;
  result.digits = std::to_string(magnitude);
  result.exponent = static_cast<int>(result.digits.size()) - 4;
  while (result.digits.back() == '0') result.digits.pop_back();
  return result;
}

std::string CurrToStr(Currency amount, const TFormatSettings& settings) {
  return FormatDecimal("0.####", CurrToDecimal(amount), settings);
}

std::string CurrToStr(Currency amount) { return CurrToStr(amount, CurrentFormatSettings()); }

bool TryStrToCurr(std::string_view text, Currency& amount, const TFormatSettings& settings) {
  TDecimalDigits number;
  if (!ScanDecimalText(text, settings.DecimalSeparator, number)) return false;
  return DecimalToRaw(number, amount.Raw);
}

Currency StrToCurr(std::string_view text, const TFormatSettings& settings) {
  Currency amount;
  if (!TryStrToCurr(text, amount, settings)) {
    throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
  }
  return amount;
}

Currency StrToCurr(std::string_view text) { return StrToCurr(text, CurrentFormatSettings()); }

std::string FormatCurr(std::string_view mask, Currency amount, const TFormatSettings& settings) {
  return FormatDecimal(mask, CurrToDecimal(amount), settings);
}

}  // namespace cl
