#include "engine/storage/expr/IndexAnalysis.h"

#include <utility>

#include "engine/storage/expr/ExpressionTypes.h"

namespace tessera {

namespace {

// The column a condition ranges over: a column itself (with the case rule asked for), or UPPER
// of a column (compared ignoring case).  Null when the side is neither.
const ExpressionNode* KeyColumn(const ExpressionNode* side, bool& case_insensitive) {
  if (side == nullptr) return nullptr;
  if (side->kind == kNodeFunction && side->code == kFnUpper) {
    case_insensitive = true;
    side = side->first.get();
  }
  if (side == nullptr || side->kind != kNodeColumn || side->field_number == 0) return nullptr;
  return side;
}

bool IsConstant(const ExpressionNode* n) { return n != nullptr && n->kind == kNodeConstant; }

class Analyzer {
 public:
  Analyzer(IndexAnalysisHost& table, bool count) : table_(table), count_(count) {}

  uint8_t Analyze(uint32_t parent_code, ExpressionNode& n) {
    uint8_t verdict = Judge(parent_code, n);
    n.index_verdict = verdict;
    return verdict;
  }

 private:
  uint8_t Judge(uint32_t parent_code, ExpressionNode& n) {
    switch (n.kind) {
      case kNodeUnary:
        return JudgeUnary(parent_code, n);
      case kNodeBinary:
        if (n.code == kOpAnd) return JudgeAnd(n);
        if (n.code == kOpOr) return JudgeOr(n);
        if (IsComparisonCode(n.code) && IsConstant(n.second.get())) {
          bool case_insensitive = false;
          const ExpressionNode* column = KeyColumn(n.first.get(), case_insensitive);
          return Served(parent_code, n, column, case_insensitive);
        }
        return kVerdictPerRecord;
      case kNodePrefixCompare: {
        if (!IsConstant(n.second.get())) return kVerdictPerRecord;
        bool case_insensitive = n.case_insensitive != 0;
        const ExpressionNode* column = KeyColumn(n.first.get(), case_insensitive);
        return Served(parent_code, n, column, case_insensitive);
      }
      case kNodePredicate:
        return JudgePredicate(parent_code, n);
      default:
        return kVerdictPerRecord;
    }
  }

  uint8_t JudgeUnary(uint32_t parent_code, ExpressionNode& n) {
    switch (n.code) {
      case kOpNot:
      case kOpNegate:
      case kOpPlus:
        return Analyze(parent_code, *n.first);
      case kOpIsNull:
      case kOpIsNotNull: {
        const ExpressionNode* column = n.first.get();
        if (column == nullptr || column->kind != kNodeColumn || column->field_number == 0) {
          return kVerdictPerRecord;
        }
        // The null byte leads every key, whatever the index's case rule.
        bool indexed = table_.HasIndexLedBy(column->field_number, false) ||
                       table_.HasIndexLedBy(column->field_number, true);
        return indexed ? Counted(parent_code, n) : kVerdictPerRecord;
      }
      default:
        return kVerdictPerRecord;
    }
  }

  uint8_t JudgeAnd(ExpressionNode& n) {
    uint8_t left = Analyze(kOpAnd, *n.first);
    uint8_t right = Analyze(kOpAnd, *n.second);
    if (left == kVerdictIndexed && right == kVerdictIndexed) return kVerdictIndexed;
    if (left == kVerdictPerRecord && right == kVerdictPerRecord) return kVerdictPerRecord;
    if (right < left) std::swap(n.first, n.second);
    return kVerdictPartly;
  }

  uint8_t JudgeOr(ExpressionNode& n) {
    uint8_t left = Analyze(kOpOr, *n.first);
    uint8_t right = Analyze(kOpOr, *n.second);
    return left == kVerdictIndexed && right == kVerdictIndexed ? kVerdictIndexed
                                                               : kVerdictPerRecord;
  }

  uint8_t JudgePredicate(uint32_t parent_code, ExpressionNode& n) {
    if (n.code != kOpIn && n.code != kOpNotIn && n.code != kOpBetween && n.code != kOpNotBetween) {
      return kVerdictPerRecord;  // LIKE reaches an index only once rewritten as a prefix compare
    }
    // Every bound or list value must be a plain constant to become a key.
    for (const ExpressionNode* value = n.second.get(); value; value = value->next.get()) {
      if (!IsConstant(value)) return kVerdictPerRecord;
    }
    bool case_insensitive = false;
    const ExpressionNode* column = KeyColumn(n.first.get(), case_insensitive);
    return Served(parent_code, n, column, case_insensitive);
  }

  // A condition on `column` is served when an index with the case rule leads with it.
  uint8_t Served(uint32_t parent_code, const ExpressionNode& n, const ExpressionNode* column,
                 bool case_insensitive) {
    if (column == nullptr || !table_.HasIndexLedBy(column->field_number, case_insensitive)) {
      return kVerdictPerRecord;
    }
    return Counted(parent_code, n);
  }

  // An index-served condition under a parent operator that selects more than 90 % of the keys of
  // the current range is cheaper to test per record.
  uint8_t Counted(uint32_t parent_code, const ExpressionNode& n) {
    if (!count_ || parent_code == 0) return kVerdictIndexed;
    if (!range_known_) {
      // Measured on the current index before any count has moved it.
      range_keys_ = table_.CurrentRangeKeyCount();
      range_known_ = true;
    }
    uint64_t selected = table_.CountConditionKeys(n);
    uint64_t limit = uint64_t{range_keys_} * 9 / 10;
    return selected > limit ? kVerdictPerRecord : kVerdictIndexed;
  }

  IndexAnalysisHost& table_;
  bool count_;
  bool range_known_ = false;
  uint32_t range_keys_ = 0;
};

// Restores the table's current index when the analysis ends, however it ends.
class CurrentIndexKeeper {
 public:
  explicit CurrentIndexKeeper(IndexAnalysisHost& table)
      : table_(table), saved_(table.SaveCurrentIndex()) {}
  ~CurrentIndexKeeper() { table_.RestoreCurrentIndex(saved_); }
  CurrentIndexKeeper(const CurrentIndexKeeper&) = delete;
  CurrentIndexKeeper& operator=(const CurrentIndexKeeper&) = delete;

 private:
  IndexAnalysisHost& table_;
  uint32_t saved_;
};

}  // namespace

uint8_t AnalyzeFilterForIndex(IndexAnalysisHost& table, uint32_t parent_code, ExpressionNode& node,
                              bool count) {
  CurrentIndexKeeper keeper(table);
  return Analyzer(table, count).Analyze(parent_code, node);
}

}  // namespace tessera
