// Rounding and truncation of floating-point values, as the runtime does them.
#pragma once

#include <cstdint>

namespace cl {

// Nearest integer, halves to even: Round(2.5) = 2, Round(3.5) = 4, Round(-2.5) = -2.
// EConvertError when the result does not fit 64 bits (or the value is NaN).
int64_t Round(double value);

// Toward zero, with the same range check.
int64_t Trunc(double value);

// The integer part as a double (toward zero), and what remains: Frac(-1.25) = -0.25.
double Int(double value);
double Frac(double value);

}  // namespace cl
