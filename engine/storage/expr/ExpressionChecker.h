// The type checker of parsed expressions.
//
// CheckExpression walks a tree once, in place: it binds column names through the caller's
// lookup, turns quoted texts that name columns into columns (and back, when both sides of a
// comparison did), wraps bare boolean operands of NOT, AND and OR as "= True", converts string
// constants that face dates, times and timestamps, checks every operator against the type rules of
// ExpressionTypes.h, and sets each node's type, sub-type, size and decimals.  Every refusal raises
// engine error 11949 with its message, most ending in " in " + clause; the tree is then left
// partly typed and stays its holder's to free.
//
// Any quoted text that names a column becomes that column ("Subject = 'Message'" compares two
// columns when both exist); LIKE patterns and BETWEEN / IN values are never bound.
#pragma once

#include <functional>
#include <string_view>

#include "engine/storage/expr/ExpressionNode.h"

namespace tessera {

// Called with a column node (column name, correlation name); returns whether they denote a
// column and, when they do, fills in its field number, type, sub-type, size and decimals.  Values
// of money columns are handed to the evaluator in 1/10000 units (see ExpressionNode.h).
using ColumnLookup = std::function<bool(ExpressionNode& column)>;

// Checks and types the tree under `root` in place.  Date texts are read with the engine's fixed
// format set ("M/d/yyyy").
void CheckExpression(std::string_view clause, ExpressionNode& root, const ColumnLookup& lookup);

// A new "=" node (boolean) comparing `operand` with the constant True.
ExpressionNodePtr WrapBooleanAsComparison(ExpressionNodePtr operand);

}  // namespace tessera
