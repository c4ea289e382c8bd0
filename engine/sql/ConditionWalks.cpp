#include "engine/sql/ConditionWalks.h"

#include <algorithm>

namespace tessera {

namespace {

bool IsComparison(const ExpressionNode* node) {
  return node->kind == kNodeBinary && node->code >= kOpEqual && node->code <= kOpLessEqual;
}

// The second operand and the values linked after it (IN values, BETWEEN bounds, SUBSTRING's FROM
// and FOR), in order.
void CollectSecondAndLinked(ExpressionNode* node, std::vector<ExpressionNode*>& parameters) {
  for (ExpressionNode* v = node->second.get(); v != nullptr; v = v->next.get()) {
    CollectParameters(v, parameters);
  }
}

}  // namespace

void CollectParameters(ExpressionNode* node, std::vector<ExpressionNode*>& parameters) {
  if (node == nullptr) return;
  switch (node->kind) {
    case kNodeConstant:
      if (node->is_parameter) parameters.push_back(node);
      return;
    case kNodeColumn:
      return;
    case kNodeFunction:
      if (node->code >= kFnTrimLeading && node->code <= kFnTrimBoth) {
        // The trim character is written before the string: parameters are numbered by their
        // place in the text, which is how the query component assigns their values.
        CollectParameters(node->second.get(), parameters);
        CollectParameters(node->first.get(), parameters);
        return;
      }
      break;
    default:
      break;
  }
  CollectParameters(node->first.get(), parameters);
  CollectSecondAndLinked(node, parameters);
}

int ExpressionHeight(const ExpressionNode* node) {
  if (node == nullptr) return 0;
  int height = ExpressionHeight(node->first.get());
  for (const ExpressionNode* v = node->second.get(); v != nullptr; v = v->next.get()) {
    height = std::max(height, ExpressionHeight(v));
  }
  return height + 1;
}

bool IsPlainColumn(const ExpressionNode* node) {
  return node != nullptr && node->kind == kNodeColumn && !node->first && !node->second;
}

namespace {

// True when some node of the tree matches; a loop, as IN lists may be long.
template <class Match>
bool ContainsNode(const ExpressionNode* node, Match match) {
  std::vector<const ExpressionNode*> pending;
  if (node != nullptr) pending.push_back(node);
  while (!pending.empty()) {
    const ExpressionNode* n = pending.back();
    pending.pop_back();
    if (match(*n)) return true;
    if (n->first) pending.push_back(n->first.get());
    if (n->second) pending.push_back(n->second.get());
    if (n->next) pending.push_back(n->next.get());
  }
  return false;
}

}  // namespace

bool ContainsColumn(const ExpressionNode* node) {
  return ContainsNode(node, [](const ExpressionNode& n) { return n.kind == kNodeColumn; });
}

bool ContainsAggregate(const ExpressionNode* node) {
  return ContainsNode(node, [](const ExpressionNode& n) {
    return n.kind == kNodeFunction && n.code >= kFnSum && n.code <= kFnAvg;
  });
}

void MarkJoinType(uint8_t join_type, ExpressionNode* condition) {
  if (condition == nullptr) return;
  if (condition->kind == kNodeUnary && condition->code == kOpNot) {
    MarkJoinType(join_type, condition->first.get());
  } else if (condition->kind == kNodeBinary &&
             (condition->code == kOpAnd || condition->code == kOpOr)) {
    MarkJoinType(join_type, condition->first.get());
    MarkJoinType(join_type, condition->second.get());
  } else if (IsComparison(condition) && ContainsColumn(condition->first.get()) &&
             ContainsColumn(condition->second.get())) {
    condition->join_type = join_type;
  }
}

}  // namespace tessera
