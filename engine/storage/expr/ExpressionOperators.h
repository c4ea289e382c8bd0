// The value operations of the expression evaluator: unary and binary operators, prefix
// comparisons and conversions between value types.
//
// Operands are value nodes (a constant or an evaluated result); the result node receives the
// value, its null flag and its type (decimals are taken from the result node as the caller left
// them, normally the checked node's).  The rules, fixed once:
//   - "=": both NULL is true, one NULL false; "<>" the opposite.  An ordering comparison (and so
//     BETWEEN) with a NULL side is false, as an index range, which never holds NULL keys, agrees.
//   - Strings compare with the locale compare of the table's language (binary without one).
//   - Numbers compare by value: money in 1/10000 units against integers scaled by 10000, floats
//     and timestamps as floats, a date against a timestamp at 00:00 of its day.
//   - Arithmetic with a NULL operand is NULL, except that concatenation reads NULL as empty; a
//     result outside its type's range (32-bit, word, money, a date before day 1 or after
//     9999-12-31, a time outside one day, a float that is not finite) is NULL, as is a division
//     by zero.  Integer arithmetic is done in 64 bits, never overflowing.
//   - Units: date +/- n counts days, time +/- n milliseconds, timestamp +/- n days; date - date
//     is days; time - time, timestamp - date and timestamp - time are milliseconds (NULL beyond
//     the 32-bit range); timestamp - timestamp is a float of milliseconds.
//   - Money results of * and / are rounded half away from zero to the result's decimals.
//   - A string result is cut at 254 characters; an empty string result is NULL, as the engine
//     stores an empty string as blank.
#pragma once

#include <cstdint>

#include "engine/storage/expr/ExpressionNode.h"

namespace tessera {

// NOT, unary minus and plus, is-null and is-not-null.
void EvaluateUnaryOperator(uint32_t code, const ExpressionNode& operand, ExpressionNode& result);

// A comparison, AND, OR or arithmetic.  A pair the type rules do not accept leaves the result
// unchanged.  `language` and `sort` select the string comparison (0: binary).
void EvaluateBinaryOperator(uint32_t code, const ExpressionNode& left, const ExpressionNode& right,
                            ExpressionNode& result, uint16_t language = 0, uint16_t sort = 0);

// A prefix comparison (code 3 or 4) of two strings over their first `prefix_length` characters
// (0: the whole strings).  A right side without a type asks whether the left is NULL.
void EvaluatePrefixCompare(uint32_t code, uint8_t prefix_length, bool case_insensitive,
                           const ExpressionNode& left, const ExpressionNode& right,
                           ExpressionNode& result, uint16_t language = 0, uint16_t sort = 0);

// The value of `source` in `target_type` (with `target_decimals` for money), written to
// `destination` with its type, size and decimals:
//   date <- timestamp: the day;  timestamp <- date: 00:00 of the day;
//   16-bit, word <- 32-bit: the low 16 bits;  32-bit <- 16-bit, word: widened;
//   integers <- float, money: rounded half away from zero (NULL outside the target's range);
//   float <- integers, money: the value;  money <- integers, float: rounded to the decimals.
// Any other pair copies the value unchanged, keeping the source's type.
void ConvertValue(const ExpressionNode& source, uint8_t target_type, uint8_t target_decimals,
                  ExpressionNode& destination);

}  // namespace tessera
