// The stored form of money fields (type 8) and the engine's decimal rounding.
//
// A money value is stored as a signed 64-bit integer whose decimal digits are the amount's digits
// with exactly d fraction digits (d = the field's decimals), the decimal point removed, followed by
// one more digit holding d; a negative amount is stored negated:
//
//   amount   d   stored
//   12.5     2   12502
//   -0.07    2   -72
//   7        0   70
//   0        2   2
//
// The form carries its own d, so a stored value reads back without its field definition.  Only
// one digit holds d, so d is at most 9; and the digits plus d plus 1 must fit 19 digits, so with
// d = 4 the amounts stop a little below 10^14.  Anything that does not fit raises EConvertError;
// nothing wraps.  None of this depends on a format set.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/rtl/Currency.h"

namespace tessera {

// Fourteen "#", then "0", then for d > 0 "." and d times "0": "##############0.00" for d = 2.
std::string CurrencyMask(int decimals);

// Rounds to `decimals` places, halves away from zero; 0 stays 0.  Computed in extended precision
// by scaling with the exact power of ten: 2.5 -> 3, -2.5 -> -3, 3.125 -> 3.13 (d = 2), while
// 1.005 -> 1.0 (d = 2) since the double nearest 1.005 lies below the half.  Values too large to
// carry a fraction at that scale (and NaN or infinities) come back unchanged.
double RoundToDecimals(int decimals, double value);

// The same rounding on an exact currency amount: 1.005 -> 1.01, -0.125 -> -0.13 (d = 2).
// Decimals of 4 or more leave the amount unchanged.  EConvertError when the rounded amount leaves
// the currency range.
cl::Currency RoundCurrency(int decimals, cl::Currency amount);

// The stored form of an amount rounded to `decimals` places.  EConvertError for decimals above 9
// and for amounts whose stored form does not fit 64 bits.
int64_t MoneyToStored(int decimals, cl::Currency amount);
// The same from a float (RoundToDecimals); NaN and infinities raise EConvertError.
int64_t FloatToStored(int decimals, double value);

// The amount of a stored value (which may come from a damaged file: any 64-bit value is handled;
// one whose amount leaves the currency range raises EConvertError).
cl::Currency StoredToMoney(int64_t stored);
double StoredToFloat(int64_t stored);

// The decimals digit of a stored value.
int StoredDecimals(int64_t stored);

}  // namespace tessera
