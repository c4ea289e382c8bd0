// Field values as the expression evaluator sees them, and back: the bridge between the stored
// forms of record buffers (DataFileFormat.h) and the value forms of expression nodes
// (ExpressionNode.h).  Filters and computed fields fetch column values through it, and filters
// turn the constants of their conditions into index key parts through it.
#pragma once

#include <cstdint>

#include "engine/storage/expr/ExpressionNode.h"
#include "engine/storage/table/DataFileFormat.h"

namespace tessera {

// Gives a column node the field's number and typing, as the type checker expects of a binding.
void BindColumnNode(const TFieldDefinition& field, ExpressionNode& column);

// Puts the field's stored bytes `data` (stored-size bytes, as GetFieldValue gives them) into
// `node` as its value; `blank` makes it NULL.  Money becomes 1/10000 units; a stored money value
// outside the currency range (only a damaged record holds one) reads as NULL.
void StoredToExpressionValue(const TFieldDefinition& field, const uint8_t* data, bool blank,
                             ExpressionNode& node);

// The stored form (stored-size bytes) of a value for the field, after converting it to the
// field's type (ConvertValue).  With `exact` the conversion must keep the value as the evaluator
// compares it (no rounding, no range loss, a string that fits, is not empty and has no trailing
// blank, which a store would remove); without, strings are cut to fit.  False for NULL, for a
// type pair without conversion, and for an inexact value under `exact`.
bool ExpressionValueToStored(const ExpressionNode& value, const TFieldDefinition& field, bool exact,
                             uint8_t* stored);

}  // namespace tessera
