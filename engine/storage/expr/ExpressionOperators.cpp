#include "engine/storage/expr/ExpressionOperators.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "classlib/rtl/DateTime.h"
#include "engine/storage/expr/ExpressionTypes.h"
#include "engine/storage/values/TextCompare.h"

namespace tessera {

namespace {

constexpr int64_t kMoneyScale = 10000;
constexpr int kMoneyScaleDecimals = 4;
constexpr double kMsPerDay = cl::kMSecsPerDay;
constexpr int64_t kMaxDayNumber = 3652059;  // 9999-12-31
constexpr int64_t kMaxTimeOfDay = cl::kMSecsPerDay - 1;

bool IsFloatLike(uint8_t type) { return type == kExprTypeFloat || type == kExprTypeTimestamp; }

// A string value in a zero-filled buffer of the full value size: the string compare reads as many
// bytes of both sides as the longer string (or the prefix) has, past the shorter one's end.
struct PaddedText {
  explicit PaddedText(const ExpressionNode& n) {
    std::string_view s = n.StringValue();
    std::memcpy(text, s.data(), s.size());
  }
  char text[kValueAreaSize + 1] = {};
};

bool Truth(const ExpressionNode& n) { return !n.is_null && n.BooleanValue(); }

void SetNull(ExpressionNode& result) {
  result.ClearValue();
  result.is_null = 1;
}

void SetBooleanResult(ExpressionNode& result, bool v) {
  result.ClearValue();
  result.is_null = 0;
  result.type = kExprTypeBoolean;
  result.SetBoolean(v);
}

// Integers, words, dates, times and booleans as a 64-bit integer; money as its units.
int64_t IntegerOf(const ExpressionNode& n) {
  switch (n.type) {
    case kExprTypeInt16:
      return n.Int16Value();
    case kExprTypeWord:
      return n.WordValue();
    case kExprTypeInt32:
      return n.Int32Value();
    case kExprTypeDate:
    case kExprTypeTime:
      return n.UInt32Value();
    case kExprTypeMoney:
      return n.Int64Value();
    case kExprTypeBoolean:
      return n.BooleanValue() ? 1 : 0;
    default:
      return 0;
  }
}

// The value as a float: money as its amount.
double FloatOf(const ExpressionNode& n) {
  if (IsFloatLike(n.type)) return n.FloatValue();
  if (n.type == kExprTypeMoney) return static_cast<double>(n.Int64Value()) / kMoneyScale;
  return static_cast<double>(IntegerOf(n));
}

// The value in money units (integers scaled by 10000; they are at most 32 bits wide).
int64_t MoneyUnitsOf(const ExpressionNode& n) {
  if (n.type == kExprTypeMoney) return n.Int64Value();
  return IntegerOf(n) * kMoneyScale;
}

template <class T>
int Sign(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

// 10 to the power n, n <= 4.
int64_t PowerOfTen(int n) {
  int64_t p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

// value / divisor rounded half away from zero, times multiplier; false when it does not fit.
bool DivideRounded(__int128 value, int64_t divisor, int64_t multiplier, int64_t& out) {
  __int128 q = value / divisor;
  __int128 rest = value % divisor;
  if ((rest < 0 ? -rest : rest) * 2 >= divisor) q += value < 0 ? -1 : 1;
  q *= multiplier;
  if (q > std::numeric_limits<int64_t>::max() || q < std::numeric_limits<int64_t>::min()) {
    return false;
  }
  out = static_cast<int64_t>(q);
  return true;
}

// Rounds money units half away from zero to `decimals` decimals (at most the 4 of the unit).
bool RoundUnits(int64_t units, int decimals, int64_t& out) {
  if (decimals >= kMoneyScaleDecimals) {
    out = units;
    return true;
  }
  int64_t step = PowerOfTen(kMoneyScaleDecimals - decimals);
  return DivideRounded(units, step, step, out);
}

// A float amount as money units rounded (once) to `decimals`; false when it does not fit.
bool AmountToUnits(double amount, int decimals, int64_t& out) {
  if (decimals > kMoneyScaleDecimals) decimals = kMoneyScaleDecimals;
  int64_t step = PowerOfTen(kMoneyScaleDecimals - decimals);
  double scaled = amount * static_cast<double>(PowerOfTen(decimals));
  if (!std::isfinite(scaled) || std::fabs(scaled) >= 9.2e18 / static_cast<double>(step)) {
    return false;
  }
  out = std::llround(scaled) * step;
  return true;
}

bool SetInt32Checked(ExpressionNode& result, int64_t v) {
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  result.SetInt32(static_cast<int32_t>(v));
  return true;
}

// A float rounded half away from zero to a 64-bit integer; false when not finite or too large.
bool RoundToInteger(double v, int64_t& out) {
  if (!std::isfinite(v) || std::fabs(v) >= 9.2e18) return false;
  out = std::llround(v);
  return true;
}

// -1, 0 or 1 into `out`; false for a pair that has no comparison.
bool CompareValues(const ExpressionNode& l, const ExpressionNode& r, uint16_t language,
                   uint16_t sort, int& out) {
  if (l.type == kExprTypeString && r.type == kExprTypeString) {
    PaddedText a(l);
    PaddedText b(r);
    out = CompareStrings(language, sort, a.text, false, 0, b.text);
    return true;
  }
  if (l.type == kExprTypeBoolean && r.type == kExprTypeBoolean) {
    out = Sign(Truth(l), Truth(r));
    return true;
  }
  bool l_value = IsNumericType(l.type) || IsDateTimeType(l.type);
  bool r_value = IsNumericType(r.type) || IsDateTimeType(r.type);
  if (!l_value || !r_value) return false;
  if (l.type == kExprTypeDate && r.type == kExprTypeTimestamp) {
    out = Sign(static_cast<double>(l.UInt32Value()) * kMsPerDay, r.FloatValue());
  } else if (l.type == kExprTypeTimestamp && r.type == kExprTypeDate) {
    out = Sign(l.FloatValue(), static_cast<double>(r.UInt32Value()) * kMsPerDay);
  } else if (IsFloatLike(l.type) || IsFloatLike(r.type)) {
    out = Sign(FloatOf(l), FloatOf(r));
  } else if (l.type == kExprTypeMoney || r.type == kExprTypeMoney) {
    out = Sign(MoneyUnitsOf(l), MoneyUnitsOf(r));
  } else {
    out = Sign(IntegerOf(l), IntegerOf(r));
  }
  return true;
}

// date, time or timestamp plus or minus a count (days, milliseconds, days).
bool ShiftDateTime(uint32_t code, const ExpressionNode& l, const ExpressionNode& r,
                   uint8_t result_type, ExpressionNode& result) {
  const ExpressionNode& base = l.type == result_type ? l : r;
  int64_t count = IntegerOf(l.type == result_type ? r : l);
  if (code == kOpSubtract) count = -count;
  if (result_type == kExprTypeTimestamp) {
    double v = base.FloatValue() + static_cast<double>(count) * kMsPerDay;
    if (!std::isfinite(v) || v < kMsPerDay || v >= (kMaxDayNumber + 1) * kMsPerDay) return false;
    result.SetFloat(v);
    return true;
  }
  int64_t v = static_cast<int64_t>(base.UInt32Value()) + count;
  if (result_type == kExprTypeDate ? (v < 1 || v > kMaxDayNumber) : (v < 0 || v > kMaxTimeOfDay)) {
    return false;
  }
  result.SetUInt32(static_cast<uint32_t>(v));
  return true;
}

// A 32-bit integer result: a difference of dates or times, or integer arithmetic.
bool Int32Arithmetic(uint32_t code, const ExpressionNode& l, const ExpressionNode& r,
                     ExpressionNode& result) {
  if (l.type == kExprTypeTimestamp) {
    double other = r.type == kExprTypeDate ? r.UInt32Value() * kMsPerDay : r.UInt32Value();
    int64_t v;
    return RoundToInteger(l.FloatValue() - other, v) && SetInt32Checked(result, v);
  }
  int64_t a = IntegerOf(l);
  int64_t b = IntegerOf(r);
  int64_t v = code == kOpAdd ? a + b : code == kOpSubtract ? a - b : a * b;
  return SetInt32Checked(result, v);
}

bool MoneyArithmetic(uint32_t code, const ExpressionNode& l, const ExpressionNode& r, int decimals,
                     ExpressionNode& result) {
  int64_t v = 0;
  switch (code) {
    case kOpAdd:
      if (__builtin_add_overflow(MoneyUnitsOf(l), MoneyUnitsOf(r), &v)) return false;
      break;
    case kOpSubtract:
      if (__builtin_sub_overflow(MoneyUnitsOf(l), MoneyUnitsOf(r), &v)) return false;
      break;
    case kOpMultiply: {
      if (l.type == kExprTypeMoney && r.type == kExprTypeMoney) {
        // The product has 8 decimals; round it once to the result's decimals.
        __int128 product = static_cast<__int128>(l.Int64Value()) * r.Int64Value();
        int places = decimals < kMoneyScaleDecimals ? decimals : kMoneyScaleDecimals;
        int64_t step = PowerOfTen(kMoneyScaleDecimals - places);
        if (!DivideRounded(product, kMoneyScale * step, step, v)) return false;
      } else {
        int64_t units = l.type == kExprTypeMoney ? l.Int64Value() : r.Int64Value();
        int64_t factor = IntegerOf(l.type == kExprTypeMoney ? r : l);
        if (__builtin_mul_overflow(units, factor, &v)) return false;
        if (!RoundUnits(v, decimals, v)) return false;
      }
      break;
    }
    case kOpDivide: {
      double divisor = FloatOf(r);
      if (divisor == 0) return false;
      if (!AmountToUnits(FloatOf(l) / divisor, decimals, v)) return false;
      break;
    }
    default:
      return false;
  }
  result.SetInt64(v);
  return true;
}

// Arithmetic other than concatenation; false when the result is NULL.
bool Arithmetic(uint32_t code, const ExpressionNode& l, const ExpressionNode& r,
                uint8_t result_type, int decimals, ExpressionNode& result) {
  switch (result_type) {
    case kExprTypeDate:
    case kExprTypeTime:
    case kExprTypeTimestamp:
      return ShiftDateTime(code, l, r, result_type, result);
    case kExprTypeInt32:
      return Int32Arithmetic(code, l, r, result);
    case kExprTypeWord: {
      int64_t v = IntegerOf(l) - IntegerOf(r);
      if (v < 0 || v > 0xFFFF) return false;
      result.SetWord(static_cast<uint16_t>(v));
      return true;
    }
    case kExprTypeFloat: {
      double a = FloatOf(l);
      double b = FloatOf(r);
      double v;
      switch (code) {
        case kOpAdd:
          v = a + b;
          break;
        case kOpSubtract:
          v = a - b;
          break;
        case kOpMultiply:
          v = a * b;
          break;
        default:
          if (b == 0) return false;
          v = a / b;
      }
      if (!std::isfinite(v)) return false;
      result.SetFloat(v);
      return true;
    }
    case kExprTypeMoney:
      return MoneyArithmetic(code, l, r, decimals, result);
    default:
      return false;
  }
}

}  // namespace

void EvaluateUnaryOperator(uint32_t code, const ExpressionNode& operand, ExpressionNode& result) {
  uint8_t type = UnaryResultType(code, operand.type);
  switch (code) {
    case kOpNot:
      SetBooleanResult(result, !Truth(operand));
      return;
    case kOpIsNull:
      SetBooleanResult(result, operand.is_null != 0);
      return;
    case kOpIsNotNull:
      SetBooleanResult(result, operand.is_null == 0);
      return;
    case kOpPlus:
      result.value = operand.value;
      result.is_null = operand.is_null;
      result.type = type;
      return;
    case kOpNegate:
      break;
    default:
      return;
  }
  result.type = type;
  result.ClearValue();
  result.is_null = 0;
  if (operand.is_null) return SetNull(result);
  bool ok = true;
  switch (operand.type) {
    case kExprTypeDate:
    case kExprTypeInt32:
    case kExprTypeTime:
      ok = SetInt32Checked(result, -IntegerOf(operand));
      break;
    case kExprTypeInt16: {
      int64_t v = -IntegerOf(operand);
      ok = v <= std::numeric_limits<int16_t>::max();
      if (ok) result.SetInt16(static_cast<int16_t>(v));
      break;
    }
    case kExprTypeWord:
      ok = operand.WordValue() == 0;
      break;
    case kExprTypeFloat:
    case kExprTypeTimestamp:
      result.SetFloat(-operand.FloatValue());
      break;
    case kExprTypeMoney: {
      int64_t units = operand.Int64Value();
      int64_t v = 0;
      ok = units != std::numeric_limits<int64_t>::min() && RoundUnits(-units, result.decimals, v);
      if (ok) result.SetInt64(v);
      break;
    }
    default:
      ok = false;
  }
  if (!ok) SetNull(result);
}

void EvaluateBinaryOperator(uint32_t code, const ExpressionNode& left, const ExpressionNode& right,
                            ExpressionNode& result, uint16_t language, uint16_t sort) {
  uint8_t result_type = BinaryResultType(code, left.type, right.type);
  if (result_type == 0) return;
  if (IsComparisonCode(code)) {
    if (left.is_null || right.is_null) {
      bool both = left.is_null && right.is_null;
      if (code == kOpEqual) return SetBooleanResult(result, both);
      if (code == kOpNotEqual) return SetBooleanResult(result, !both);
      return SetBooleanResult(result, false);
    }
    int c = 0;
    if (!CompareValues(left, right, language, sort, c)) return;
    bool v = false;
    switch (code) {
      case kOpEqual:
        v = c == 0;
        break;
      case kOpNotEqual:
        v = c != 0;
        break;
      case kOpGreater:
        v = c > 0;
        break;
      case kOpLess:
        v = c < 0;
        break;
      case kOpGreaterEqual:
        v = c >= 0;
        break;
      default:
        v = c <= 0;
        break;
    }
    return SetBooleanResult(result, v);
  }
  if (code == kOpAnd) return SetBooleanResult(result, Truth(left) && Truth(right));
  if (code == kOpOr) return SetBooleanResult(result, Truth(left) || Truth(right));

  result.type = result_type;
  result.ClearValue();
  result.is_null = 0;
  if (result_type == kExprTypeString) {
    std::string text = std::string(left.is_null ? std::string_view() : left.StringValue()) +
                       std::string(right.is_null ? std::string_view() : right.StringValue());
    if (text.empty()) return SetNull(result);
    result.SetString(text);
    return;
  }
  if (left.is_null || right.is_null) return SetNull(result);
  if (!Arithmetic(code, left, right, result_type, result.decimals, result)) SetNull(result);
}

void EvaluatePrefixCompare(uint32_t code, uint8_t prefix_length, bool case_insensitive,
                           const ExpressionNode& left, const ExpressionNode& right,
                           ExpressionNode& result, uint16_t language, uint16_t sort) {
  bool equal;
  if (right.type == kExprTypeNone) {
    equal = left.is_null != 0;
  } else if (left.is_null != right.is_null) {
    equal = false;
  } else {
    PaddedText a(left);
    PaddedText b(right);
    equal = CompareStrings(language, sort, a.text, case_insensitive, prefix_length, b.text) == 0;
  }
  SetBooleanResult(result, code == kOpNotEqual ? !equal : equal);
}

void ConvertValue(const ExpressionNode& source, uint8_t target_type, uint8_t target_decimals,
                  ExpressionNode& destination) {
  uint8_t from = source.type;
  destination.value = source.value;
  destination.is_null = source.is_null;
  destination.type = from;
  destination.size = source.size;
  destination.decimals = source.decimals;
  bool converts =
      (target_type == kExprTypeDate && from == kExprTypeTimestamp) ||
      (target_type == kExprTypeTimestamp && from == kExprTypeDate) ||
      ((target_type == kExprTypeInt16 || target_type == kExprTypeWord) && from == kExprTypeInt32) ||
      (IsIntegerType(target_type) && (from == kExprTypeFloat || from == kExprTypeMoney)) ||
      (target_type == kExprTypeInt32 && (from == kExprTypeInt16 || from == kExprTypeWord)) ||
      (target_type == kExprTypeFloat && (IsIntegerType(from) || from == kExprTypeMoney)) ||
      (target_type == kExprTypeMoney && (IsIntegerType(from) || from == kExprTypeFloat));
  if (!converts) return;
  destination.type = target_type;
  destination.size = ValueSizeOfType(target_type);
  destination.decimals = target_type == kExprTypeMoney ? target_decimals : 0;
  destination.ClearValue();
  if (source.is_null) return;
  bool ok = true;
  switch (target_type) {
    case kExprTypeDate: {
      double day = std::floor(source.FloatValue() / kMsPerDay);
      ok = std::isfinite(day) && day >= 1 && day <= kMaxDayNumber;
      if (ok) destination.SetUInt32(static_cast<uint32_t>(day));
      break;
    }
    case kExprTypeTimestamp:
      destination.SetFloat(static_cast<double>(source.UInt32Value()) * kMsPerDay);
      break;
    case kExprTypeFloat:
      destination.SetFloat(FloatOf(source));
      break;
    case kExprTypeMoney: {
      int64_t units = 0;
      if (from == kExprTypeFloat) {
        ok = AmountToUnits(source.FloatValue(), target_decimals, units);
      } else {
        units = IntegerOf(source) * kMoneyScale;
      }
      if (ok) destination.SetInt64(units);
      break;
    }
    default: {  // the integer targets
      int64_t v = 0;
      if (from == kExprTypeInt32 || IsIntegerType(from)) {
        v = IntegerOf(source);
        if (target_type != kExprTypeInt32) v = static_cast<uint16_t>(v);  // the low 16 bits
      } else {
        ok = RoundToInteger(FloatOf(source), v);
      }
      if (!ok) break;
      if (target_type == kExprTypeInt32) {
        ok = SetInt32Checked(destination, v);
      } else if (target_type == kExprTypeWord) {
        ok = v >= 0 && v <= 0xFFFF;
        if (ok) destination.SetWord(static_cast<uint16_t>(v));
      } else {
        // The low 16 bits of a 32-bit integer are taken as they are; a rounded value must fit.
        if (from == kExprTypeInt32) v = static_cast<int16_t>(static_cast<uint16_t>(v));
        ok = v >= std::numeric_limits<int16_t>::min() && v <= std::numeric_limits<int16_t>::max();
        if (ok) destination.SetInt16(static_cast<int16_t>(v));
      }
    }
  }
  if (!ok) SetNull(destination);
}

}  // namespace tessera
