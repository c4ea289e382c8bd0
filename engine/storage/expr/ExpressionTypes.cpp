#include "engine/storage/expr/ExpressionTypes.h"

#include "engine/storage/expr/ExpressionNode.h"

namespace tessera {

bool IsNumericType(uint8_t type) {
  return type == kExprTypeInt16 || type == kExprTypeInt32 || type == kExprTypeFloat ||
         type == kExprTypeMoney || type == kExprTypeWord;
}

bool IsIntegerType(uint8_t type) {
  return type == kExprTypeInt16 || type == kExprTypeInt32 || type == kExprTypeWord;
}

bool IsDateTimeType(uint8_t type) {
  return type == kExprTypeDate || type == kExprTypeTime || type == kExprTypeTimestamp;
}

bool IsComparisonCode(uint32_t code) { return code >= kOpEqual && code <= kOpLessEqual; }

namespace {

bool IsDateOrTimestamp(uint8_t type) { return type == kExprTypeDate || type == kExprTypeTimestamp; }

// The ordering comparisons accept the same pairs as = and <> except a side without a type.
bool ComparablePair(uint8_t left, uint8_t right, bool allow_none) {
  if (allow_none && right == kExprTypeNone) {
    // A blob has no value to compare, but "= NULL" and "<> NULL" test it for blank.
    return left == kExprTypeString || IsDateOrTimestamp(left) || left == kExprTypeBoolean ||
           IsNumericType(left) || left == kExprTypeTime || left == kExprTypeBlob;
  }
  if (left == kExprTypeString) return right == kExprTypeString;
  if (IsDateOrTimestamp(left)) return IsDateOrTimestamp(right);
  if (left == kExprTypeBoolean) return allow_none && right == kExprTypeBoolean;
  if (IsNumericType(left)) return IsNumericType(right);
  if (left == kExprTypeTime) return right == kExprTypeTime;
  return false;
}

}  // namespace

bool OperandTypesCompatible(uint32_t code, uint8_t left, uint8_t right) {
  switch (code) {
    case kOpEqual:
    case kOpNotEqual:
      return ComparablePair(left, right, true);
    case kOpGreater:
    case kOpLess:
    case kOpGreaterEqual:
    case kOpLessEqual:
      return ComparablePair(left, right, false);
    case kOpAnd:
    case kOpOr:
      return left == kExprTypeBoolean && right == kExprTypeBoolean;
    case kOpAdd:
      if (left == kExprTypeString) return right == kExprTypeString;
      if (IsDateTimeType(left)) return IsIntegerType(right);
      if (IsIntegerType(left)) return IsNumericType(right) || IsDateTimeType(right);
      if (left == kExprTypeFloat || left == kExprTypeMoney) return IsNumericType(right);
      return false;
    case kOpSubtract:
      if (left == kExprTypeDate) return right == kExprTypeDate || IsIntegerType(right);
      if (IsNumericType(left)) return IsNumericType(right);
      if (left == kExprTypeTime) return right == kExprTypeTime || IsIntegerType(right);
      if (left == kExprTypeTimestamp) return IsDateTimeType(right) || IsIntegerType(right);
      return false;
    case kOpMultiply:
    case kOpDivide:
      return IsNumericType(left) && IsNumericType(right);
    default:
      return false;
  }
}

bool UnaryOperandAccepted(uint32_t code, uint8_t type) {
  switch (code) {
    case kOpNot:
      return type == kExprTypeBoolean;
    case kOpIsNull:
    case kOpIsNotNull:
      // Any stored value can be blank, a blob's too; only byte values have no blank test.
      return type != kExprTypeBytes;
    case kOpNegate:
      return type == kExprTypeDate || type == kExprTypeInt16 || type == kExprTypeInt32 ||
             type == kExprTypeFloat || type == kExprTypeMoney || type == kExprTypeTime ||
             type == kExprTypeTimestamp;
    case kOpPlus:
      return UnaryOperandAccepted(kOpNegate, type) || type == kExprTypeWord;
    default:
      return false;
  }
}

uint8_t UnaryResultType(uint32_t code, uint8_t operand_type) {
  if (code == kOpNot || code == kOpIsNull || code == kOpIsNotNull) return kExprTypeBoolean;
  return operand_type;
}

uint8_t UnaryResultSubType(uint32_t code, uint8_t operand_sub_type) {
  return code == kOpNegate || code == kOpPlus ? operand_sub_type : 0;
}

namespace {

// Arithmetic between two numeric values: integers widen to 32 bits, a float side makes a float,
// otherwise a money side makes money.
uint8_t NumericResult(uint8_t left, uint8_t right) {
  if (left == kExprTypeFloat || right == kExprTypeFloat) return kExprTypeFloat;
  if (left == kExprTypeMoney || right == kExprTypeMoney) return kExprTypeMoney;
  return kExprTypeInt32;
}

}  // namespace

uint8_t BinaryResultType(uint32_t code, uint8_t left, uint8_t right) {
  if (!OperandTypesCompatible(code, left, right)) return 0;
  switch (code) {
    case kOpAdd:
      if (left == kExprTypeString) return kExprTypeString;
      if (IsDateTimeType(left)) return left;
      if (IsDateTimeType(right)) return right;
      return NumericResult(left, right);
    case kOpSubtract:
      if (left == kExprTypeDate) return right == kExprTypeDate ? kExprTypeInt32 : kExprTypeDate;
      if (left == kExprTypeTime) return right == kExprTypeTime ? kExprTypeInt32 : kExprTypeTime;
      if (left == kExprTypeTimestamp) {
        if (right == kExprTypeTimestamp) return kExprTypeFloat;
        if (right == kExprTypeDate || right == kExprTypeTime) return kExprTypeInt32;
        return kExprTypeTimestamp;
      }
      if (left == kExprTypeWord && IsIntegerType(right)) return kExprTypeWord;
      return NumericResult(left, right);
    case kOpMultiply:
      return NumericResult(left, right);
    case kOpDivide:
      if (IsIntegerType(left) && right != kExprTypeMoney) return kExprTypeFloat;
      return NumericResult(left, right);
    default:
      return kExprTypeBoolean;
  }
}

uint8_t BinaryResultSubType(uint32_t code, uint8_t left_type, uint8_t left_sub_type,
                            uint8_t right_type, uint8_t right_sub_type) {
  if (!IsNumericType(left_type) || !IsNumericType(right_type)) return 0;
  bool left_currency = left_sub_type == kSubTypeCurrency;
  bool right_currency = right_sub_type == kSubTypeCurrency;
  switch (code) {
    case kOpAdd:
    case kOpMultiply:
      return left_currency || right_currency ? kSubTypeCurrency : 0;
    case kOpSubtract:
    case kOpDivide:
      return left_currency ? kSubTypeCurrency : 0;
    default:
      return 0;
  }
}

}  // namespace tessera
