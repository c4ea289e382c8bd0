// The Currency type: an exact fixed-point amount in units of 1/10,000, held in 64 bits.
//
// Range: -922,337,203,685,477.5808 to 922,337,203,685,477.5807.  Conversions that would leave it
// raise EConvertError; nothing wraps.  Texts use the decimal separator of the format set passed in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "classlib/rtl/FormatSettings.h"
#include "classlib/rtl/NumberText.h"

namespace cl {

struct Currency {
  int64_t Raw = 0;  // the amount x 10,000

  static constexpr Currency FromRaw(int64_t raw) { return Currency{raw}; }
  double ToDouble() const;

  auto operator<=>(const Currency&) const = default;
};

inline constexpr int64_t kCurrencyScale = 10000;

// The amount of a whole number; EConvertError when it is out of range.
Currency IntToCurr(int64_t value);

// Rounds to the nearest 1/10,000, halves to even.  EConvertError
// "'<value>' is not a valid currency value" for NaN, infinities and amounts out of range.
bool TryFloatToCurr(double value, Currency& amount);
Currency FloatToCurr(double value);
double CurrToFloat(Currency amount);

// The amount's exact decimal digits.
TDecimalDigits CurrToDecimal(Currency amount);

// Up to four decimals, no trailing zeros, no thousand separators: "12.5", "-0.07", "0".
std::string CurrToStr(Currency amount, const TFormatSettings& settings);
std::string CurrToStr(Currency amount);

// The float syntax (see NumberText.h) read exactly, further decimals rounded half to even.
// A bad text or an amount out of range raises EConvertError
// "'<text>' is not a valid floating point value".
bool TryStrToCurr(std::string_view text, Currency& amount, const TFormatSettings& settings);
Currency StrToCurr(std::string_view text, const TFormatSettings& settings);
Currency StrToCurr(std::string_view text);

// The mask formatter of NumberText.h on the exact amount.
std::string FormatCurr(std::string_view mask, Currency amount, const TFormatSettings& settings);

}  // namespace cl
