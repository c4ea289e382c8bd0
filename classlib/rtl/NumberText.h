// Integer and floating-point text: parsing, the shortest round-trip float text, the general,
// fixed and money forms, and "#"/"0" masks.
//
// All of it is locale-free: digits are ASCII, the decimal and thousand separators come from the
// format set passed in (the overloads without one use a copy of the current set of the user
// interface).  Bad texts raise EConvertError with the runtime's messages:
//   "'<text>' is not a valid integer value", "'<text>' is not a valid floating point value".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "classlib/rtl/FormatSettings.h"

namespace cl {

// A decimal number as digits: value = 0.d1 d2 ... dn x 10^exponent.  `digits` has no leading or
// trailing zeros and is empty for zero.
struct TDecimalDigits {
  bool negative = false;
  std::string digits;
  int exponent = 0;
};

// The number correctly rounded to `significant` digits (1..40), as a formatter works from.
// REQUIRES: value is finite.
TDecimalDigits DoubleToDecimal(double value, int significant);

// Rounds to `fraction_digits` digits after the decimal point, halves away from zero.
void RoundDecimal(TDecimalDigits& number, int fraction_digits);

// Reads "[blanks][sign]digits[<separator>digits][E[sign]digits][blanks]" (at least one mantissa
// digit; blanks are spaces).  False when the text does not have this form.
bool ScanDecimalText(std::string_view text, char decimal_separator, TDecimalDigits& number);

// Formats a decimal number with a mask of "0" (digit always shown) and "#" (digit shown when
// significant) placeholders, at most one "." (the decimal separator's place) and "," anywhere
// among the integer placeholders (thousand separators every three digits).  Text before the first
// placeholder and after the last one is copied (text between placeholders is dropped); quoted
// texts ("..." or '...') are copied without their quotes.  The integer part is never cut; the
// fraction is rounded half away from zero to the placeholders after ".", trailing zeros dropped
// down to the last "0".  A minus sign leads the text unless the rounded value is zero.
std::string FormatDecimal(std::string_view mask, TDecimalDigits number,
                          const TFormatSettings& settings);

std::string IntToStr(int64_t value);

// Optional blanks, an optional sign, then decimal digits or hexadecimal ones after "$" or "0x".
// A value outside the type's range is an error, never wrapped.
bool TryStrToInt64(std::string_view text, int64_t& value);
int64_t StrToInt64(std::string_view text);
bool TryStrToInt(std::string_view text, int32_t& value);
int32_t StrToInt(std::string_view text);

// The shortest text that reads back to the same double, with the set's decimal separator:
// "0.1", "1234.5", "1E20", "1.5E-7", "NAN", "INF", "-INF"; negative zero reads "0".
std::string FloatToStr(double value, const TFormatSettings& settings);
std::string FloatToStr(double value);

// The float syntax of ScanDecimalText with the set's decimal separator.  Overflow is an error;
// a value too small for a double reads as zero.
bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& settings);
double StrToFloat(std::string_view text, const TFormatSettings& settings);
double StrToFloat(std::string_view text);

// The forms of FloatToStrF.
enum TFloatFormat { ffGeneral, ffFixed, ffCurrency };

// The value rounded half away from zero (from its 18 significant digits, as FormatFloat reads
// it) to `precision` significant digits (1..18), written in `format`:
//   ffGeneral   the shortest text of those digits: "-ddd.ddd" while the value has at most
//               `precision` integer digits and reaches 0.0001, else "-d.dddE-x" with at least
//               `digits` (0..4) exponent digits: "0.3", "1E20", "1.5E-07" (digits 2);
//   ffFixed     "-ddd.ddd" with exactly `digits` (0..18) decimals, no thousand separators;
//   ffCurrency  the ffFixed digits with thousand separators, placed around the set's
//               CurrencyString by CurrencyFormat (0..3) or, for a negative amount,
//               NegCurrFormat (0..15): "1 234,50 F", "-12,50 F".
// ffFixed and ffCurrency write the ffGeneral text when the value has more integer digits than
// `precision`.  Arguments out of their ranges are clamped.  A value that rounds to zero has no
// sign.  NaN and infinities give the FloatToStr text.
std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits,
                        const TFormatSettings& settings);

// FormatDecimal of the value correctly rounded to 18 significant digits.  NaN and infinities give
// the FloatToStr text.
std::string FormatFloat(std::string_view mask, double value, const TFormatSettings& settings);
std::string FormatFloat(std::string_view mask, double value);

}  // namespace cl
