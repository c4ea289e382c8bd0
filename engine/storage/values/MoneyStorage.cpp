#include "engine/storage/values/MoneyStorage.h"

#include <cmath>

#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/NumberText.h"

namespace tessera {
namespace {

constexpr int kMaxStoredDecimals = 9;

// The stored texts are independent of the regional formats: a plain decimal point throughout.
const cl::TFormatSettings& PlainSettings() {
  static const cl::TFormatSettings settings = [] {
    cl::TFormatSettings s;
    s.DecimalSeparator = '.';
    s.ThousandSeparator = ',';
    return s;
  }();
  return settings;
}

void CheckDecimals(int decimals) {
  if (decimals < 0 || decimals > kMaxStoredDecimals) {
    throw cl::EConvertError("Invalid number of money decimals (" + std::to_string(decimals) + ")");
  }
}

// Removes the decimal point of a text formatted with the mask, appends d and reads the number.
int64_t MaskedTextToStored(std::string text, int decimals) {
  const size_t point = text.find('.');
  if (point != std::string::npos) text.erase(point, 1);
  text += static_cast<char>('0' + decimals);
  return cl::StrToInt64(text);
}

// The decimal text of a stored value with its point restored ("-0.07" for -72).
std::string StoredToText(int64_t stored) {
  std::string digits = std::to_string(stored);
  const bool negative = digits[0] == '-';
  if (negative) digits.erase(0, 1);
  const int decimals = digits.back() - '0';
  digits.pop_back();
  if (static_cast<int>(digits.size()) < decimals) {
    digits.insert(0, static_cast<size_t>(decimals) - digits.size(), '0');
  }
  if (decimals > 0) {
    digits.insert(digits.size() - static_cast<size_t>(decimals), 1, '.');
    if (digits[0] == '.') digits.insert(0, 1, '0');
  }
  if (digits.empty()) digits = "0";
  return negative ? "-" + digits : digits;
}

}  // namespace

std::string CurrencyMask(int decimals) {
  std::string mask(14, '#');
  mask += '0';
  if (decimals > 0) {
    mask += '.';
    mask.append(static_cast<size_t>(decimals), '0');
  }
  return mask;
}

double RoundToDecimals(int decimals, double value) {
  if (value == 0 || !std::isfinite(value) || decimals < 0) return value;
  // Scaling by the exact power of ten keeps exact halves exact; dividing by the inexact 0.1^d
  // would turn 3.125 into 312.4999... and round it down.
  long double scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  const long double scaled = static_cast<long double>(value) * scale;
  // From 2^63 on, extended precision holds no fraction: the value is already rounded.
  if (!std::isfinite(scaled) || std::fabs(scaled) >= 9223372036854775808.0L) return value;
  const long double whole = value >= 0 ? std::trunc(scaled + 0.5L) : std::trunc(scaled - 0.5L);
  return static_cast<double>(whole / scale);
}

cl::Currency RoundCurrency(int decimals, cl::Currency amount) {
  if (decimals >= 4 || decimals < 0) return amount;
  int64_t step = 1;
  for (int i = decimals; i < 4; ++i) step *= 10;
  const int64_t rest = amount.Raw % step;  // same sign as the amount
  if (rest == 0) return amount;
  const int64_t down = amount.Raw - rest;  // toward zero; cannot overflow
  const bool away = (rest < 0 ? -rest : rest) * 2 >= step;
  if (!away) return cl::Currency::FromRaw(down);
  int64_t rounded;
  if (__builtin_add_overflow(down, rest < 0 ? -step : step, &rounded)) {
    throw cl::EConvertError("'" + cl::CurrToStr(amount, PlainSettings()) +
                            "' is not a valid currency value");
  }
  return cl::Currency::FromRaw(rounded);
}

int64_t MoneyToStored(int decimals, cl::Currency amount) {
  CheckDecimals(decimals);
  const cl::Currency rounded = RoundCurrency(decimals, amount);
  return MaskedTextToStored(cl::FormatCurr(CurrencyMask(decimals), rounded, PlainSettings()),
                            decimals);
}

int64_t FloatToStored(int decimals, double value) {
  CheckDecimals(decimals);
  if (!std::isfinite(value)) {
    throw cl::EConvertError("'" + cl::FloatToStr(value, PlainSettings()) +
                            "' is not a valid floating point value");
  }
  const double rounded = RoundToDecimals(decimals, value);
  return MaskedTextToStored(cl::FormatFloat(CurrencyMask(decimals), rounded, PlainSettings()),
                            decimals);
}

cl::Currency StoredToMoney(int64_t stored) {
  return cl::StrToCurr(StoredToText(stored), PlainSettings());
}

double StoredToFloat(int64_t stored) {
  return cl::StrToFloat(StoredToText(stored), PlainSettings());
}

int StoredDecimals(int64_t stored) {
  return static_cast<int>(stored < 0 ? -(stored % 10) : stored % 10);
}

}  // namespace tessera
