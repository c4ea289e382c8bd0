#include "classlib/rtl/NumberText.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <limits>

#include "classlib/rtl/Exceptions.h"

namespace cl {
namespace {

// Exponents are clamped far beyond any double so that a long exponent text cannot overflow.
constexpr int kExponentLimit = 100000;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void SkipBlanks(std::string_view text, size_t& pos) {
  while (pos < text.size() && text[pos] == ' ') ++pos;
}

void Normalize(TDecimalDigits& number) {
  size_t lead = 0;
  while (lead < number.digits.size() && number.digits[lead] == '0') ++lead;
  number.digits.erase(0, lead);
  number.exponent -= static_cast<int>(lead);
  while (!number.digits.empty() && number.digits.back() == '0') number.digits.pop_back();
  if (number.digits.empty()) number.exponent = 0;
}

[[noreturn]] void InvalidInteger(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

[[noreturn]] void InvalidFloat(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The layout of a number mask.
struct TMask {
  std::string prefix;
  std::string suffix;
  int integer_min = 0;   // integer digits always shown
  int fraction_min = 0;  // fraction digits always shown
  int fraction_max = 0;  // fraction digits at most
  bool thousands = false;
};

TMask ParseMask(std::string_view mask) {
  TMask result;
  bool seen_placeholder = false;
  bool seen_point = false;
  int integer_places = 0;
  int first_integer_zero = -1;
  std::string literal;  // literal text since the last placeholder
  for (size_t i = 0; i < mask.size(); ++i) {
    const char c = mask[i];
    if (c == '"' || c == '\'') {
      const size_t close = mask.find(c, i + 1);
      const size_t end = close == std::string_view::npos ? mask.size() : close;
      literal.append(mask.substr(i + 1, end - i - 1));
      i = end;
      continue;
    }
    if (c == '0' || c == '#') {
      if (!seen_placeholder) result.prefix = literal;
      literal.clear();
      seen_placeholder = true;
      if (seen_point) {
        ++result.fraction_max;
        if (c == '0') result.fraction_min = result.fraction_max;
      } else {
        if (c == '0' && first_integer_zero < 0) first_integer_zero = integer_places;
        ++integer_places;
      }
    } else if (c == '.' && !seen_point) {
      seen_point = true;
    } else if (c == ',') {
      result.thousands = true;
    } else {
      literal.push_back(c);
    }
  }
  if (seen_placeholder) {
    result.suffix = literal;
  } else {
    result.prefix = literal;
  }
  if (first_integer_zero >= 0) result.integer_min = integer_places - first_integer_zero;
  return result;
}

// Both parsers of decimal numbers share the float syntax; the float one reads it as a double.
bool DecimalToDouble(const TDecimalDigits& number, double& value) {
  if (number.digits.empty()) {
    value = number.negative ? -0.0 : 0.0;
    return true;
  }
  const std::string text = "0." + number.digits + "e" + std::to_string(number.exponent);
  double magnitude = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  if (ec == std::errc::result_out_of_range) {
    if (number.exponent > 0) return false;  // overflow
    magnitude = 0;                          // below the smallest double
  } else if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(magnitude)) {
    return false;
  }
  value = number.negative ? -magnitude : magnitude;
  return true;
}

// Money layouts by CurrencyFormat and NegCurrFormat, as the regional settings number them:
// '$' stands for the currency string, '1' for the amount.
constexpr const char* kPositiveCurrency[] = {"$1", "1$", "$ 1", "1 $"};
constexpr const char* kNegativeCurrency[] = {"($1)", "-$1",  "$-1",   "$1-",  "(1$)", "-1$",
                                             "1-$",  "1$-",  "-1 $",  "-$ 1", "1 $-", "$ 1-",
                                             "$ -1", "1- $", "($ 1)", "(1 $)"};

// The unsigned digits of a rounded number with exactly `decimals` decimals; the integer part is
// at least "0" and, with `group`, has a thousand separator every three digits.
std::string FixedDigits(const TDecimalDigits& number, int decimals, bool group,
                        const TFormatSettings& settings) {
  const std::string& d = number.digits;
  const long point = number.exponent;
  auto digit_at = [&](long i) {
    return i >= 0 && i < static_cast<long>(d.size()) ? d[static_cast<size_t>(i)] : '0';
  };
  std::string integer;
  for (long i = 0; i < point; ++i) integer.push_back(digit_at(i));
  if (integer.empty()) integer = "0";
  std::string result;
  for (size_t i = 0; i < integer.size(); ++i) {
    if (group && i > 0 && (integer.size() - i) % 3 == 0) {
      result.push_back(settings.ThousandSeparator);
    }
    result.push_back(integer[i]);
  }
  if (decimals > 0) {
    result.push_back(settings.DecimalSeparator);
    for (long i = 0; i < decimals; ++i) result.push_back(digit_at(point + i));
  }
  return result;
}

// The general form of a number already rounded to `precision` significant digits.
std::string GeneralText(const TDecimalDigits& number, int precision, int exponent_digits,
                        const TFormatSettings& settings) {
  const std::string& d = number.digits;
  if (d.empty()) return "0";
  std::string result = number.negative ? "-" : "";
  if (number.exponent > precision || number.exponent < -3) {
    result.push_back(d[0]);
    if (d.size() > 1) {
      result.push_back(settings.DecimalSeparator);
      result.append(d, 1);
    }
    result.push_back('E');
    int exponent = number.exponent - 1;
    if (exponent < 0) result.push_back('-');
    const std::string text = std::to_string(exponent < 0 ? -exponent : exponent);
    if (static_cast<int>(text.size()) < exponent_digits) {
      result.append(static_cast<size_t>(exponent_digits) - text.size(), '0');
    }
    return result + text;
  }
  const int decimals = std::max(0, static_cast<int>(d.size()) - number.exponent);
  return result + FixedDigits(number, decimals, false, settings);
}

}  // namespace

TDecimalDigits DoubleToDecimal(double value, int significant) {
  // The buffer below holds any finite double at up to 40 digits; nothing else.
  assert(std::isfinite(value) && significant >= 1 && significant <= 40);
  TDecimalDigits result;
  result.negative = std::signbit(value);
  if (value == 0) return result;
  char buffer[80];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                       std::chars_format::scientific, significant - 1);
  (void)ec;  // the buffer holds any double at 40 digits
  const std::string_view text(buffer, static_cast<size_t>(end - buffer));
  const size_t e = text.find('e');
  for (size_t i = 0; i < e; ++i) {
    if (IsDigit(text[i])) result.digits.push_back(text[i]);
  }
  int exponent = 0;
  std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                  exponent);
  result.exponent = exponent + 1;
  Normalize(result);
  return result;
}

void RoundDecimal(TDecimalDigits& number, int fraction_digits) {
  const long keep = static_cast<long>(number.exponent) + fraction_digits;
  if (keep >= static_cast<long>(number.digits.size())) return;
  if (keep < 0) {
    number.digits.clear();
    Normalize(number);
    return;
  }
  const bool up = number.digits[static_cast<size_t>(keep)] >= '5';
  number.digits.resize(static_cast<size_t>(keep));
  if (up) {
    size_t i = number.digits.size();
    while (i > 0 && number.digits[i - 1] == '9') number.digits[--i] = '0';
    if (i == 0) {
      number.digits.insert(number.digits.begin(), '1');
      ++number.exponent;
    } else {
      ++number.digits[i - 1];
    }
  }
  Normalize(number);
}

bool ScanDecimalText(std::string_view text, char decimal_separator, TDecimalDigits& number) {
  TDecimalDigits result;
  size_t pos = 0;
  SkipBlanks(text, pos);
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    result.negative = text[pos] == '-';
    ++pos;
  }
  int integer_digits = 0;
  bool any_digit = false;
  while (pos < text.size() && IsDigit(text[pos])) {
    result.digits.push_back(text[pos++]);
    ++integer_digits;
    any_digit = true;
  }
  if (pos < text.size() && text[pos] == decimal_separator) {
    ++pos;
    while (pos < text.size() && IsDigit(text[pos])) {
      result.digits.push_back(text[pos++]);
      any_digit = true;
    }
  }
  if (!any_digit) return false;
  long exponent = 0;
  if (pos < text.size() && (text[pos] == 'E' || text[pos] == 'e')) {
    ++pos;
    bool negative_exponent = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
      negative_exponent = text[pos] == '-';
      ++pos;
    }
    if (pos >= text.size() || !IsDigit(text[pos])) return false;
    while (pos < text.size() && IsDigit(text[pos])) {
      if (exponent < kExponentLimit) exponent = exponent * 10 + (text[pos] - '0');
      ++pos;
    }
    if (negative_exponent) exponent = -exponent;
  }
  SkipBlanks(text, pos);
  if (pos != text.size()) return false;
  if (integer_digits > kExponentLimit) return false;
  result.exponent = static_cast<int>(integer_digits + exponent);
  Normalize(result);
  number = std::move(result);
  return true;
}

std::string FormatDecimal(std::string_view mask, TDecimalDigits number,
                          const TFormatSettings& settings) {
  const TMask layout = ParseMask(mask);
  RoundDecimal(number, layout.fraction_max);
  const std::string& d = number.digits;
  const long point = number.exponent;  // digits before the decimal point
  std::string integer;
  for (long i = 0; i < point; ++i) {
    integer.push_back(i < static_cast<long>(d.size()) ? d[static_cast<size_t>(i)] : '0');
  }
  if (static_cast<long>(integer.size()) < layout.integer_min) {
    integer.insert(0, static_cast<size_t>(layout.integer_min) - integer.size(), '0');
  }
  if (layout.thousands && integer.size() > 3) {
    std::string grouped;
    for (size_t i = 0; i < integer.size(); ++i) {
      if (i > 0 && (integer.size() - i) % 3 == 0) grouped.push_back(settings.ThousandSeparator);
      grouped.push_back(integer[i]);
    }
    integer = std::move(grouped);
  }
  std::string fraction;
  for (long i = 0; i < layout.fraction_max; ++i) {
    const long index = point + i;
    fraction.push_back(
        index >= 0 && index < static_cast<long>(d.size()) ? d[static_cast<size_t>(index)] : '0');
  }
  while (static_cast<int>(fraction.size()) > layout.fraction_min && fraction.back() == '0') {
    fraction.pop_back();
  }
  std::string result;
  if (number.negative && !d.empty()) result.push_back('-');
  result += layout.prefix;
  result += integer;
  if (!fraction.empty()) {
    result.push_back(settings.DecimalSeparator);
    result += fraction;
  }
  result += layout.suffix;
  return result;
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

bool TryStrToInt64(std::string_view text, int64_t& value) {
  size_t pos = 0;
  SkipBlanks(text, pos);
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  int base = 10;
  if (pos < text.size() && text[pos] == '$') {
    base = 16;
    ++pos;
  } else if (pos + 1 < text.size() && text[pos] == '0' &&
             (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
    base = 16;
    pos += 2;
  }
  // The magnitude may reach 2^63 for the most negative value.
  const uint64_t limit = negative ? uint64_t{1} << 63 : static_cast<uint64_t>(INT64_MAX);
  uint64_t magnitude = 0;
  size_t digits = 0;
  while (pos < text.size()) {
    const int digit =
        base == 16 ? HexValue(text[pos]) : (IsDigit(text[pos]) ? text[pos] - '0' : -1);
    if (digit < 0) break;
    if (magnitude > (limit - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) {
      return false;
    }
    magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    ++digits;
    ++pos;
  }
  SkipBlanks(text, pos);
  if (digits == 0 || pos != text.size()) return false;
  value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

int64_t StrToInt64(std::string_view text) {
  int64_t value;
  if (!TryStrToInt64(text, value)) InvalidInteger(text);
  return value;
}

bool TryStrToInt(std::string_view text, int32_t& value) {
  int64_t wide;
  if (!TryStrToInt64(text, wide) || wide < INT32_MIN || wide > INT32_MAX) return false;
  value = static_cast<int32_t>(wide);
  return true;
}

int32_t StrToInt(std::string_view text) {
  int32_t value;
  if (!TryStrToInt(text, value)) InvalidInteger(text);
  return value;
}

std::string FloatToStr(double value, const TFormatSettings& settings) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (value == 0) return "0";
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  (void)ec;  // 64 bytes hold the shortest form of any double
  std::string result;
  const std::string_view text(buffer, static_cast<size_t>(end - buffer));
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.') {
      result.push_back(settings.DecimalSeparator);
    } else if (c == 'e') {
      // "e+07" becomes "E7", "e-07" becomes "E-7".
      result.push_back('E');
      size_t j = i + 1;
      if (text[j] == '-') result.push_back('-');
      if (text[j] == '+' || text[j] == '-') ++j;
      while (j + 1 < text.size() && text[j] == '0') ++j;
      result.append(text.substr(j));
      break;
    } else {
      result.push_back(c);
    }
  }
  return result;
}

std::string FloatToStr(double value) { return FloatToStr(value, CurrentFormatSettings()); }

bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& settings) {
  TDecimalDigits number;
  return ScanDecimalText(text, settings.DecimalSeparator, number) && DecimalToDouble(number, value);
}

double StrToFloat(std::string_view text, const TFormatSettings& settings) {
  double value;
  if (!TryStrToFloat(text, value, settings)) InvalidFloat(text);
  return value;
}

double StrToFloat(std::string_view text) { return StrToFloat(text, CurrentFormatSettings()); }

std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits,
                        const TFormatSettings& settings) {
  if (!std::isfinite(value)) return FloatToStr(value, settings);
  precision = std::clamp(precision, 1, 18);
  TDecimalDigits number = DoubleToDecimal(value, 18);
  if (format == ffGeneral) {
    RoundDecimal(number, precision - number.exponent);
    return GeneralText(number, precision, std::clamp(digits, 0, 4), settings);
  }
  // One rounding to whichever comes first: the last significant digit or the last decimal.
  digits = std::clamp(digits, 0, 18);
  RoundDecimal(number, std::min(digits, precision - number.exponent));
  if (number.exponent > precision) return GeneralText(number, precision, 0, settings);
  const bool negative = number.negative && !number.digits.empty();
  const std::string amount = FixedDigits(number, digits, format == ffCurrency, settings);
  if (format == ffFixed) return negative ? "-" + amount : amount;
  const char* layout = negative ? kNegativeCurrency[std::min<int>(settings.NegCurrFormat, 15)]
                                : kPositiveCurrency[std::min<int>(settings.CurrencyFormat, 3)];
  std::string result;
  for (const char* c = layout; *c != '\0'; ++c) {
    if (*c == '$') {
      result += settings.CurrencyString;
    } else if (*c == '1') {
      result += amount;
    } else {
      result.push_back(*c);
    }
  }
  return result;
}

std::string FormatFloat(std::string_view mask, double value, const TFormatSettings& settings) {
  if (!std::isfinite(value)) return FloatToStr(value, settings);
  return FormatDecimal(mask, DoubleToDecimal(value, 18), settings);
}

std::string FormatFloat(std::string_view mask, double value) {
  return FormatFloat(mask, value, CurrentFormatSettings());
}

}  // namespace cl
