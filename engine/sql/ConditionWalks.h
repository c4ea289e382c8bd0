// Walks over the expression trees of a statement: its parameters, its join marks, its height.
//
// The trees come from TExpressionParser, whose height (IN value chains counted as one level) is
// bounded, so these walks may recurse; an IN list, which links its values through `next` and may
// be of any length, is always walked in a loop.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/storage/expr/ExpressionNode.h"

namespace tessera {

// Appends every "?" node of the tree to `parameters`, in the order: a unary operand; a binary
// node's left then right; a function's arguments in order; a predicate's tested value, then its
// pattern, bounds or list values in order.
void CollectParameters(ExpressionNode* node, std::vector<ExpressionNode*>& parameters);

// The height of the tree as the parser counts it: a leaf is 1, an IN list one level.
int ExpressionHeight(const ExpressionNode* node);

// A column reference without children: a plain column, not an expression.
bool IsPlainColumn(const ExpressionNode* node);

// True when the tree holds a column reference.
bool ContainsColumn(const ExpressionNode* node);

// True when the tree holds SUM, COUNT, MIN, MAX or AVG.
bool ContainsAggregate(const ExpressionNode* node);

// Sets `join_type` on every comparison (=, <>, >, <, >=, <=) reached through NOT, AND and OR
// from `condition` whose two sides both hold a column.
void MarkJoinType(uint8_t join_type, ExpressionNode* condition);

}  // namespace tessera
