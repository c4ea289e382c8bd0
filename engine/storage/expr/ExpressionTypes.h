// The operand and result type rules of the expression operators.
//
// The checker refuses every pair these tables do not accept, and the evaluator computes every
// accepted pair in exactly the result type given here; the two must never disagree (a test walks
// every operator and type pair through both).  Types are the field type codes of ExpressionNode.h;
// "numeric" is 16-bit, 32-bit, float, money and word.  Blob (3) and bytes (9) are accepted by no
// operator.
#pragma once

#include <cstdint>

namespace tessera {

bool IsNumericType(uint8_t type);
// 16-bit, 32-bit or word.
bool IsIntegerType(uint8_t type);
// Date, time or timestamp.
bool IsDateTimeType(uint8_t type);

// The comparison operators =, <>, >, <, >=, <=.
bool IsComparisonCode(uint32_t code);

// Whether a binary operator accepts the pair (left, right).
bool OperandTypesCompatible(uint32_t code, uint8_t left, uint8_t right);

// Whether a unary operator accepts the operand type.  NOT takes a boolean; minus a date, time,
// timestamp or numeric other than word; plus those and word; is-null and is-not-null any value
// but bytes.
bool UnaryOperandAccepted(uint32_t code, uint8_t type);

uint8_t UnaryResultType(uint32_t code, uint8_t operand_type);
uint8_t UnaryResultSubType(uint32_t code, uint8_t operand_sub_type);

// The result type of an accepted pair; 0 for a pair that is not accepted.
uint8_t BinaryResultType(uint32_t code, uint8_t left, uint8_t right);

// The currency sub-type (21) of a + or * result when either numeric side has it; of a - or /
// result only when the left side has it and the right side is numeric; else 0.
uint8_t BinaryResultSubType(uint32_t code, uint8_t left_type, uint8_t left_sub_type,
                            uint8_t right_type, uint8_t right_sub_type);

}  // namespace tessera
