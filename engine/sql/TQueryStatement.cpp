#include "engine/sql/TQueryStatement.h"

#include <algorithm>
#include <utility>

#include "engine/sql/ConditionWalks.h"
#include "engine/storage/core/EngineErrors.h"

namespace tessera {

void TQueryStatement::ClearStatement() {
  statement_kind = 0;
  distinct = false;
  has_average = false;
  has_expressions = false;
  multiple_tables = false;
  has_conditions = false;
  has_order = false;
  has_group = false;
  into_memory = false;
  into_name.clear();
  no_case = false;
  with_locks = false;
  encrypted = false;
  password.clear();
  // The parameter list points into the trees: it goes first.
  parameters.clear();
  join_conditions.clear();
  condition.reset();
  residual.reset();
  join_residual.reset();
  has_residual = false;
  condition_height_ = 0;
  source_tables.clear();
  select_columns.clear();
  target_columns.clear();
  values.clear();
  order_by.clear();
  group_by.clear();
}

ExpressionNode* TQueryStatement::AddCondition(ExpressionNodePtr added) {
  ExpressionNode* raw = added.get();
  int height = ExpressionHeight(raw);
  if (condition) height = std::max(height, condition_height_) + 1;
  // The checker and the evaluator walk the whole tree recursively: the ANDed tree must stay
  // within the height that the expression parser guarantees for one expression.
  if (height > kMaxExpressionNesting) {
    RaiseEngineError(kErrSql, {}, {}, {}, "Expression nesting too deep in WHERE or JOIN clause");
  }
  if (!condition) {
    condition = std::move(added);
  } else {
    auto node = MakeExpressionNode(kNodeBinary, kOpAnd, "AND", kExprTypeBoolean);
    node->first = std::move(condition);
    node->second = std::move(added);
    condition = std::move(node);
  }
  condition_height_ = height;
  return raw;
}

}  // namespace tessera
