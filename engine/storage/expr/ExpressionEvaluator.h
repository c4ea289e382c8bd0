// Evaluation of checked expression trees against the current record.
//
// The evaluator never reads records: column values come from the caller's column source, which
// is handed each column node and fills in its value and null flag (keeping its type; money in
// 1/10000 units).  Errors raised by the column source pass through; evaluation raises none of its
// own (see ExpressionOperators.h for the value rules).
//
// The right operand of a binary node is evaluated first: AND with a false right side and OR with
// a true one answer without evaluating the left side.  Intermediate values live in a per-thread
// pool of scratch nodes, so deep trees cost little stack and repeated evaluation allocates
// nothing; a column source may itself evaluate expressions (computed fields).
#pragma once

#include <cstdint>
#include <functional>

#include "engine/storage/expr/ExpressionNode.h"

namespace tessera {

using ColumnSource = std::function<void(ExpressionNode& column)>;

// Evaluates `node` into `result`, which becomes a constant (kind 5) without children holding the
// value, its null flag and the node's type, sub-type, size and decimals.  `language` and `sort`
// are the table's (0: binary string comparison and ASCII case mapping).  Without a column source
// columns keep the values they hold.
void EvaluateExpression(const ExpressionNode& node, ExpressionNode& result, uint16_t language,
                        uint16_t sort, const ColumnSource& columns);

}  // namespace tessera
