#include "engine/sql/ConditionWalks.h"

#include <algorithm>

namespace tessera {

namespace {

bool IsInList(const ExpressionNode* node) {
  return node->kind == kNodePredicate && (node->code == kOpIn || node->code == kOpNotIn);
}

bool IsBetween(const ExpressionNode* node) {
  return node->kind == kNodePredicate && (node->code == kOpBetween || node->code == kOpNotBetween);
}

bool IsComparison(const ExpressionNode* node) {
  return node->kind == kNodeBinary && node->code >= kOpEqual && node->code <= kOpLessEqual;
}

// A value whose second child is taken by a chain (an IN value, a BETWEEN low bound, a SUBSTRING
// start): the value itself and its first child only.
void CollectChainedValue(ExpressionNode* value, std::vector<ExpressionNode*>& parameters) {
  if (value->kind == kNodeConstant) {
    if (value->is_parameter) parameters.push_back(value);
    return;
  }
  CollectParameters(value->first.get(), parameters);
}

int ChainedValueHeight(const ExpressionNode* value) {
  return 1 + ExpressionHeight(value->first.get());
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
    case kNodePredicate:
      CollectParameters(node->first.get(), parameters);
      if (IsInList(node)) {
        for (ExpressionNode* v = node->second.get(); v != nullptr; v = v->second.get()) {
          CollectChainedValue(v, parameters);
        }
      } else if (IsBetween(node) && node->second) {
        CollectChainedValue(node->second.get(), parameters);
        CollectParameters(node->second->second.get(), parameters);
      } else {
        CollectParameters(node->second.get(), parameters);
      }
      return;
    case kNodeFunction:
      if (node->code == kFnSubstring) {
        CollectParameters(node->first.get(), parameters);
        if (node->second) {
          CollectChainedValue(node->second.get(), parameters);
          CollectParameters(node->second->second.get(), parameters);
        }
        return;
      }
      if (node->code >= kFnTrimLeading && node->code <= kFnTrimBoth) {
        // The trim character is written before the string: parameters are numbered by their
        // place in the text, which is how the query component assigns their values.
        CollectParameters(node->second.get(), parameters);
        CollectParameters(node->first.get(), parameters);
        return;
      }
      CollectParameters(node->first.get(), parameters);
      CollectParameters(node->second.get(), parameters);
      return;
    default:
      CollectParameters(node->first.get(), parameters);
      CollectParameters(node->second.get(), parameters);
      return;
  }
}

int ExpressionHeight(const ExpressionNode* node) {
  if (node == nullptr) return 0;
  if (IsInList(node)) {
    int height = ExpressionHeight(node->first.get());
    for (const ExpressionNode* v = node->second.get(); v != nullptr; v = v->second.get()) {
      height = std::max(height, ChainedValueHeight(v));
    }
    return height + 1;
  }
  return 1 + std::max(ExpressionHeight(node->first.get()), ExpressionHeight(node->second.get()));
}

bool IsPlainColumn(const ExpressionNode* node) {
  return node != nullptr && node->kind == kNodeColumn && !node->first && !node->second;
}

bool ContainsColumn(const ExpressionNode* node) {
  std::vector<const ExpressionNode*> pending;
  if (node != nullptr) pending.push_back(node);
  while (!pending.empty()) {
    const ExpressionNode* n = pending.back();
    pending.pop_back();
    if (n->kind == kNodeColumn) return true;
    if (n->first) pending.push_back(n->first.get());
    if (n->second) pending.push_back(n->second.get());
  }
  return false;
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
