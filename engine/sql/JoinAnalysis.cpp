#include "engine/sql/JoinAnalysis.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "classlib/rtl/Collation.h"
#include "engine/sql/ConditionWalks.h"
#include "engine/sql/JoinLoop.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/expr/ExpressionEvaluator.h"
#include "engine/storage/expr/ExpressionTypes.h"
#include "engine/storage/expr/IndexAnalysis.h"
#include "engine/storage/table/FieldExpressionValues.h"

namespace tessera {

namespace {

[[noreturn]] void SqlFail(std::string_view message) {
  RaiseEngineError(kErrSql, {}, {}, {}, message);
}

constexpr const char* kMultipleNamesMessage =
    "The join condition cannot contain multiple table correlation names in either the left or "
    "right operand in WHERE or JOIN clause";
constexpr const char* kValidateMessage =
    "Internal join error attempting to validate table correlation names involved in join";

bool IsComparison(const ExpressionNode* n) {
  return n != nullptr && n->kind == kNodeBinary && IsComparisonCode(n->code);
}

bool IsAndOr(const ExpressionNode* n, uint32_t code) {
  return n != nullptr && n->kind == kNodeBinary && n->code == code;
}

// The operator that keeps the comparison's meaning when its sides are exchanged.
uint32_t Mirrored(uint32_t code) {
  switch (code) {
    case kOpGreater:
      return kOpLess;
    case kOpLess:
      return kOpGreater;
    case kOpGreaterEqual:
      return kOpLessEqual;
    case kOpLessEqual:
      return kOpGreaterEqual;
    default:
      return code;
  }
}

void ExchangeSides(ExpressionNode& comparison) {
  std::swap(comparison.first, comparison.second);
  comparison.code = Mirrored(comparison.code);
}

// The correlation names of the columns under `node`, each once (without regard to case), in the
// order met.
std::vector<std::string> TablesNamed(const ExpressionNode* node) {
  std::vector<std::string> names;
  std::vector<const ExpressionNode*> pending;
  if (node != nullptr) pending.push_back(node);
  while (!pending.empty()) {
    const ExpressionNode* n = pending.back();
    pending.pop_back();
    if (n->kind == kNodeColumn) {
      const bool known = std::any_of(names.begin(), names.end(), [&](const std::string& s) {
        return cl::AnsiSameText(s, n->correlation_name);
      });
      if (!known) names.push_back(n->correlation_name);
    }
    if (n->next) pending.push_back(n->next.get());
    if (n->second) pending.push_back(n->second.get());
    if (n->first) pending.push_back(n->first.get());
  }
  return names;
}

TSourceDataFile* FindSource(TQueryStatement& query, std::string_view correlation) {
  for (auto& t : query.source_tables) {
    if (cl::AnsiSameText(t->correlation_name, correlation)) return t.get();
  }
  return nullptr;
}

// Some table links to `table` with a link of that kind (any typed link when `type` is 0).
bool IsChildOf(const TQueryStatement& query, const TSourceDataFile* table, uint8_t type) {
  for (const auto& t : query.source_tables) {
    for (const auto& link : t->links) {
      if (link->child == table && link->join_type != kLinkPlain &&
          (type == kLinkPlain || link->join_type == type)) {
        return true;
      }
    }
  }
  return false;
}

bool HasTypedLink(const TSourceDataFile* parent, const TSourceDataFile* child) {
  return std::any_of(parent->links.begin(), parent->links.end(), [&](const auto& link) {
    return link->child == child && link->join_type != kLinkPlain;
  });
}

// `to` is reached from `from` through typed links (or is `from`).
bool ReachesByTypedLinks(const TSourceDataFile* from, const TSourceDataFile* to) {
  std::vector<const TSourceDataFile*> pending{from};
  size_t steps = 0;
  while (!pending.empty()) {
    const TSourceDataFile* t = pending.back();
    pending.pop_back();
    if (t == to) return true;
    // The typed links never form a cycle (this check keeps them so); the bound is a guard.
    if (++steps > 65536) return true;
    for (const auto& link : t->links) {
      if (link->join_type != kLinkPlain) pending.push_back(link->child);
    }
  }
  return false;
}

ExpressionNodePtr AndNodes(ExpressionNodePtr left, ExpressionNodePtr right) {
  if (!left) return right;
  auto node = MakeExpressionNode(kNodeBinary, kOpAnd, "AND", kExprTypeBoolean);
  node->first = std::move(left);
  node->second = std::move(right);
  return node;
}

// An ON condition of an outer join (the mark AnalyzeJoins leaves on each of its parts; a bare
// boolean part that the checker wrapped as "= True" carries it on its operand).
bool IsOuterOnPart(const ExpressionNode& n) {
  if (n.join_type == kJoinLeft || n.join_type == kJoinRight) return true;
  return n.kind == kNodeBinary && n.code == kOpEqual && n.first &&
         (n.first->join_type == kJoinLeft || n.first->join_type == kJoinRight);
}

class JoinAnalyzer {
 public:
  explicit JoinAnalyzer(TQueryStatement& query) : q_(query) {}

  // Marks every part of each ON condition with its join type, so that the parts naming one table
  // are told from WHERE's once they reach the table filters.
  void MarkOnParts() {
    for (auto& [root, join_type] : q_.join_conditions) {
      std::vector<ExpressionNode*> pending{const_cast<ExpressionNode*>(root)};
      while (!pending.empty()) {
        ExpressionNode* n = pending.back();
        pending.pop_back();
        if (IsAndOr(n, kOpAnd)) {
          pending.push_back(n->first.get());
          pending.push_back(n->second.get());
        } else if (n->join_type == kJoinNone) {
          n->join_type = join_type;
        }
      }
    }
    q_.join_conditions.clear();
  }

  // True when the part in `slot` was consumed (taken into a link or the residual).
  bool Analyze(ExpressionNodePtr& slot) {
    ExpressionNode* n = slot.get();
    if (IsAndOr(n, kOpAnd)) {
      const bool left = Analyze(n->first);
      const bool right = Analyze(n->second);
      if (left && right) return true;
      if (left) {
        ExpressionNodePtr keep = std::move(n->second);
        slot = std::move(keep);
      } else if (right) {
        ExpressionNodePtr keep = std::move(n->first);
        slot = std::move(keep);
      }
      return false;
    }
    const std::vector<std::string> names = TablesNamed(n);
    // A part naming no table would otherwise be left to no table and never tested.
    if (names.empty()) return ToResidual(slot);
    if (IsComparison(n)) {
      const bool left_columns = ContainsColumn(n->first.get());
      const bool right_columns = ContainsColumn(n->second.get());
      if (left_columns && right_columns) {
        const std::vector<std::string> left = TablesNamed(n->first.get());
        const std::vector<std::string> right = TablesNamed(n->second.get());
        if (left.size() != 1 || right.size() != 1) SqlFail(kMultipleNamesMessage);
        if (cl::AnsiSameText(left[0], right[0])) return false;
        return Link(slot, left[0], right[0]);
      }
      if (names.size() > 1) SqlFail(kMultipleNamesMessage);
      if (right_columns) ExchangeSides(*n);
      return false;
    }
    // NOT, OR and anything else: one table keeps it for the table filters.  Several go whole to
    // the residual; taking a comparison out from under a NOT or an OR would change its meaning.
    if (names.size() > 1) return ToResidual(slot);
    return false;
  }

 private:
  bool ToResidual(ExpressionNodePtr& slot) {
    q_.residual = AndNodes(std::move(q_.residual), std::move(slot));
    q_.has_residual = true;
    return true;
  }

  bool Link(ExpressionNodePtr& slot, const std::string& left_name, const std::string& right_name) {
    TSourceDataFile* l = FindSource(q_, left_name);
    TSourceDataFile* r = FindSource(q_, right_name);
    if (l == nullptr || r == nullptr) SqlFail(kValidateMessage);
    ExpressionNode& n = *slot;
    // A WHERE comparison on an outer link's child must see the row without partner.
    if (n.join_type == kJoinNone &&
        (IsChildOf(q_, l, kLinkOuter) || IsChildOf(q_, r, kLinkOuter))) {
      return ToResidual(slot);
    }
    const uint8_t type =
        (n.join_type == kJoinLeft || n.join_type == kJoinRight) ? kLinkOuter : kLinkInner;
    TSourceDataFile* parent;
    if (HasTypedLink(l, r)) {
      parent = l;
    } else if (HasTypedLink(r, l)) {
      parent = r;
    } else if (l->position <= r->position) {
      parent = IsChildOf(q_, r, kLinkPlain) && type == kLinkInner && !IsChildOf(q_, l, kLinkPlain)
                   ? r
                   : l;
    } else if (type == kLinkOuter) {
      parent = r;
    } else if (IsChildOf(q_, l, kLinkPlain)) {
      parent = l;
    } else {
      parent = r;
    }
    TSourceDataFile* child = parent == l ? r : l;
    // A link from a table below the child would close a cycle that the join loop would follow
    // without end: the comparison is tested on the combined row instead.
    if (ReachesByTypedLinks(child, parent)) return ToResidual(slot);
    if (child->position <= parent->position) {
      child->position = static_cast<uint16_t>(parent->position + 1);
    }
    if (parent == r) ExchangeSides(n);
    for (auto& link : parent->links) {
      if (link->child == child && (link->join_type == type || link->join_type == kLinkPlain)) {
        if (!link->condition) link->op = n.code;
        link->condition = AndNodes(std::move(link->condition), std::move(slot));
        link->join_type = type;
        return true;
      }
    }
    auto link = std::make_unique<TSourceDataLink>();
    link->owner = parent;
    link->join_type = type;
    link->op = n.code;
    link->child = child;
    link->condition = std::move(slot);
    parent->links.push_back(std::move(link));
    return true;
  }

  TQueryStatement& q_;
};

// ---- rewrites of table conditions -----------------------------------------------------------

bool IsStringConstant(const ExpressionNode* n) {
  return n != nullptr && n->kind == kNodeConstant && !n->is_null && n->type == kExprTypeString;
}

// LIKE 'abc%' and = 'abc*' as prefix comparisons, which an index can serve.
void RewritePattern(ExpressionNodePtr& slot) {
  ExpressionNode& n = *slot;
  if (n.kind == kNodePredicate && (n.code == kOpLike || n.code == kOpNotLike) &&
      IsStringConstant(n.second.get()) && !n.second->next) {
    const std::string_view pattern = n.second->StringValue();
    if (pattern.size() < 2 || pattern.back() != '%' ||
        std::count(pattern.begin(), pattern.end(), '%') != 1 ||
        pattern.find('_') != std::string_view::npos) {
      return;
    }
    const std::string prefix(pattern.substr(0, pattern.size() - 1));
    n.kind = kNodePrefixCompare;
    n.code = n.code == kOpLike ? kOpEqual : kOpNotEqual;
    n.prefix_length = static_cast<uint8_t>(prefix.size());
    n.case_insensitive = 0;
    n.second->SetString(prefix);
    n.second->size = static_cast<uint8_t>(prefix.size() + 1);
    return;
  }
  if (n.kind != kNodeBinary || (n.code != kOpEqual && n.code != kOpNotEqual)) return;
  if (IsStringConstant(n.first.get()) && !IsStringConstant(n.second.get())) {
    std::swap(n.first, n.second);
  }
  if (!IsStringConstant(n.second.get())) return;
  const std::string_view text = n.second->StringValue();
  if (text.empty() || text.back() != '*') return;
  const std::string prefix(text.substr(0, text.size() - 1));
  if (prefix.empty()) {
    // Every non-NULL value has the empty prefix.
    auto test =
        MakeExpressionNode(kNodeUnary, n.code == kOpEqual ? kOpIsNotNull : kOpIsNull,
                           n.code == kOpEqual ? "IS NOT NULL" : "IS NULL", kExprTypeBoolean);
    test->join_type = n.join_type;
    test->first = std::move(n.first);
    slot = std::move(test);
    return;
  }
  n.kind = kNodePrefixCompare;
  n.prefix_length = static_cast<uint8_t>(prefix.size());
  n.case_insensitive = 0;
  n.second->SetString(prefix);
  n.second->size = static_cast<uint8_t>(prefix.size() + 1);
}

// Applies the pattern rewrites to every node; the trees are as high as the parser allows.
void RewritePatterns(ExpressionNodePtr& slot) {
  if (!slot) return;
  RewritePattern(slot);
  RewritePatterns(slot->first);
  for (ExpressionNodePtr* v = &slot->second; *v; v = &(*v)->next) RewritePatterns(*v);
}

// The constant value of `side` (no column in it), once, and in the type of `column` when that
// keeps it exactly; a value the column type cannot hold exactly keeps its own type and is
// compared by value.
void FoldConstant(ExpressionNodePtr& side, const ExpressionNode* column, TSourceDataFile& table,
                  const TTableFilterOptions& options) {
  // NULL, and a parameter without a type, stay as they are.
  if (!side || (side->kind == kNodeConstant && (side->is_null || side->type == kExprTypeNone))) {
    return;
  }
  auto value = std::make_unique<ExpressionNode>();
  EvaluateExpression(*side, *value, options.language, options.sort, nullptr);
  value->kind = kNodeConstant;
  value->is_parameter = 0;
  value->text = side->text;
  value->next = std::move(side->next);
  ConvertToColumnType(*value, column, *table.data_file);
  side = std::move(value);
}

void FoldConstants(ExpressionNodePtr& slot, TSourceDataFile& table,
                   const TTableFilterOptions& options) {
  if (!slot) return;
  ExpressionNode& n = *slot;
  if (IsComparison(&n)) {
    const bool left = ContainsColumn(n.first.get());
    const bool right = ContainsColumn(n.second.get());
    if (left && !right) FoldConstant(n.second, n.first.get(), table, options);
    if (right && !left) FoldConstant(n.first, n.second.get(), table, options);
    if (left && right) {
      FoldConstants(n.first, table, options);
      FoldConstants(n.second, table, options);
    }
    return;
  }
  if (n.kind == kNodePredicate &&
      (n.code == kOpIn || n.code == kOpNotIn || n.code == kOpBetween || n.code == kOpNotBetween)) {
    for (ExpressionNodePtr* v = &n.second; *v; v = &(*v)->next) {
      if (!ContainsColumn(v->get())) FoldConstant(*v, n.first.get(), table, options);
    }
    FoldConstants(n.first, table, options);
    return;
  }
  if (n.kind == kNodeConstant) return;
  FoldConstants(n.first, table, options);
  for (ExpressionNodePtr* v = &n.second; *v; v = &(*v)->next) FoldConstants(*v, table, options);
}

// A filter callback testing `tree` (columns in the table's own set) on each candidate record.
TFilterCallback RecordTest(const ExpressionNode* tree, TDataFile& file) {
  return [tree, &file](void*, const uint8_t* record, uint32_t) {
    ExpressionNode result;
    EvaluateExpression(
        *tree, result, file.GetLanguageId(), file.GetSortId(), [&](ExpressionNode& column) {
          const TFieldDefinition& field =
              file.GetFieldDefinition(TFieldSet::kTable, column.field_number);
          uint8_t value[kMaxDeclaredSize + 2] = {};
          const bool blank =
              file.GetFieldValue(TFieldSet::kTable, column.field_number, value, record);
          StoredToExpressionValue(field, value, blank, column);
        });
    return result.type == kExprTypeBoolean && !result.is_null && result.BooleanValue();
  };
}

// ANDs `part` into the residual; false, as the part became no filter.
bool ToResidual(TQueryStatement& query, ExpressionNodePtr part) {
  query.residual = AndNodes(std::move(query.residual), std::move(part));
  query.has_residual = true;
  return false;
}

void Raise(uint16_t code, const TSourceDataFile& table) {
  if (code != 0) RaiseEngineError(code, table.table_name);
}

class FilterAssigner {
 public:
  FilterAssigner(TQueryStatement& query, const TTableFilterOptions& options)
      : q_(query), options_(options) {}

  void Assign(const ExpressionNode& n) {
    const std::vector<std::string> names = TablesNamed(&n);
    if (names.size() == 1) {
      TSourceDataFile* table = FindSource(q_, names[0]);
      if (table == nullptr) {
        SqlFail("Table correlation name '" + names[0] +
                "' referenced in WHERE clause is not defined in the FROM clause");
      }
      const bool outer_child = IsChildOf(q_, table, kLinkOuter);
      if (outer_child && IsAndOr(&n, kOpAnd)) {
        // Its parts may come from ON and from WHERE, which an outer join treats apart.
        Assign(*n.first);
        Assign(*n.second);
      } else if (!outer_child) {
        AssignTableCondition(q_, n, *table, options_);
      } else if (IsOuterOnPart(n)) {
        // Part of the join: a child row failing it is no partner.
        AssignTableCondition(q_, n, *table, options_, true);
      } else {
        // Tested after the row without partner is made, as WHERE asks.
        ExpressionNodePtr copy = CopyExpressionTree(&n);
        RewritePatterns(copy);
        ToResidual(q_, std::move(copy));
      }
      return;
    }
    if (IsAndOr(&n, kOpAnd)) {
      Assign(*n.first);
      Assign(*n.second);
      return;
    }
    if (names.empty()) {
      ToResidual(q_, CopyExpressionTree(&n));
      return;
    }
    SqlFail("Internal table filter error");
  }

 private:
  TQueryStatement& q_;
  const TTableFilterOptions& options_;
};

}  // namespace

// ---- planning at binding ----------------------------------------------------------------------

void MakeDefaultLinks(TQueryStatement& query) {
  auto& tables = query.source_tables;
  for (size_t i = 0; i + 1 < tables.size(); ++i) {
    auto link = std::make_unique<TSourceDataLink>();
    link->owner = tables[i].get();
    link->child = tables[i + 1].get();
    tables[i]->links.push_back(std::move(link));
  }
}

void AnalyzeJoins(TQueryStatement& query) {
  JoinAnalyzer analyzer(query);
  analyzer.MarkOnParts();
  if (query.condition && analyzer.Analyze(query.condition)) {
    query.condition.reset();
    query.has_conditions = false;
  }
}

void SortSourcesByPosition(TQueryStatement& query) {
  auto& tables = query.source_tables;
  std::stable_sort(tables.begin(), tables.end(),
                   [](const auto& a, const auto& b) { return a->position < b->position; });
  for (size_t i = 0; i < tables.size(); ++i) tables[i]->position = static_cast<uint16_t>(i + 1);
}

void CleanUpLinks(TQueryStatement& query) {
  auto& tables = query.source_tables;
  if (tables.empty()) return;
  const TSourceDataFile* first = tables.front().get();
  for (auto& table : tables) {
    auto& links = table->links;
    for (size_t i = links.size(); i-- > 0;) {
      TSourceDataLink& link = *links[i];
      bool elsewhere = false;
      for (const auto& other_table : tables) {
        for (const auto& other : other_table->links) {
          if (other.get() != &link && other->child == link.child &&
              other->join_type != kLinkPlain) {
            elsewhere = true;
          }
        }
      }
      if (elsewhere && link.join_type != kLinkPlain) {
        SqlFail("Internal join error - table correlation name \"" + link.child->correlation_name +
                "\" is target of multiple join conditions in WHERE or JOIN clause");
      }
      if ((elsewhere || link.child == first) && link.join_type == kLinkPlain) {
        links.erase(links.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
  // The join loop follows the links from the driving table: each table must be reached exactly
  // once, or the loop would miss a table or never end.
  std::vector<const TSourceDataFile*> seen;
  std::vector<const TSourceDataFile*> pending{first};
  while (!pending.empty()) {
    const TSourceDataFile* t = pending.back();
    pending.pop_back();
    if (std::find(seen.begin(), seen.end(), t) != seen.end()) SqlFail(kValidateMessage);
    seen.push_back(t);
    for (const auto& link : t->links) pending.push_back(link->child);
  }
  if (seen.size() != tables.size()) SqlFail(kValidateMessage);
}

void PlanJoins(TQueryStatement& query) {
  for (size_t i = 0; i < query.source_tables.size(); ++i) {
    if (query.source_tables[i]->position == 0) {
      query.source_tables[i]->position = static_cast<uint16_t>(i + 1);
    }
  }
  MakeDefaultLinks(query);
  if (query.has_conditions) AnalyzeJoins(query);
  SortSourcesByPosition(query);
  CleanUpLinks(query);
}

void ForEachConditionTree(TQueryStatement& query,
                          const std::function<void(ExpressionNodePtr& tree)>& visit) {
  if (query.condition) visit(query.condition);
  // After an execution the residual is a working copy of the analysis's tree, which holds the
  // parameters.
  if (query.join_residual) {
    visit(query.join_residual);
  } else if (query.residual) {
    visit(query.residual);
  }
  for (auto& table : query.source_tables) {
    for (auto& link : table->links) {
      if (link->condition) visit(link->condition);
    }
  }
}

// ---- table filters at execution ---------------------------------------------------------------

void DropTableFilters(TQueryStatement& query) {
  DropKeyRanges(query);
  // The filters go before the trees they borrow, which a link keeps for its child's filter.
  for (auto& table : query.source_tables) {
    if (table->data_file->IsOpen()) Raise(table->data_file->DropFilter(nullptr), *table);
  }
  for (auto& table : query.source_tables) {
    table->filter_trees.clear();
    for (auto& link : table->links) {
      // Built again from the condition as the next check leaves it.
      link->child_filter = nullptr;
      link->filter_values.clear();
      link->filter_tree.reset();
    }
  }
  if (query.join_residual) query.residual = CopyExpressionTree(query.join_residual.get());
  query.has_residual = query.residual != nullptr;
}

void AssignTableFilters(TQueryStatement& query, const TTableFilterOptions& options) {
  DropTableFilters(query);
  if (!query.join_residual && query.residual) {
    // The parameter list points into the residual as the analysis left it: that tree is kept,
    // and each execution works on a copy.
    query.join_residual = std::move(query.residual);
    query.residual = CopyExpressionTree(query.join_residual.get());
  }
  RewritePatterns(query.residual);
  if (query.condition) FilterAssigner(query, options).Assign(*query.condition);
  // A live result is the table itself, which no row loop reads: what the residual tests (a
  // condition naming no table) must hold there as a filter too.
  if (options.keep_per_record_filters && query.residual && query.source_tables.size() == 1) {
    TSourceDataFile& table = *query.source_tables.front();
    TDataFile& file = *table.data_file;
    TFilter* filter = nullptr;
    table.filter_trees.push_back(std::move(query.residual));
    query.has_residual = false;
    Raise(file.AddFilter({}, nullptr, false, false, nullptr,
                         RecordTest(table.filter_trees.back().get(), file), &filter),
          table);
    Raise(file.ActivateFilter(filter), table);
  }
}

bool AssignTableCondition(TQueryStatement& query, const ExpressionNode& condition,
                          TSourceDataFile& table, const TTableFilterOptions& options,
                          bool force_filter) {
  ExpressionNodePtr copy = CopyExpressionTree(&condition);
  FoldConstants(copy, table, options);
  RewritePatterns(copy);
  TDataFile& file = *table.data_file;
  const bool keep = force_filter || options.keep_per_record_filters;
  TFilter* filter = nullptr;
  Raise(file.AddFilter({}, copy.get(), false, false, nullptr, nullptr, &filter), table);
  if (!keep && filter->evaluation_class == kVerdictPerRecord) {
    Raise(file.DropFilter(filter), table);
    return ToResidual(query, std::move(copy));
  }
  // Held before activation: the filter borrows it.
  table.filter_trees.push_back(std::move(copy));
  Raise(file.ActivateFilter(filter), table);
  return true;
}

bool ResidualHolds(TQueryStatement& query, uint16_t language, uint16_t sort) {
  if (!query.residual) return true;
  ExpressionNode result;
  EvaluateExpression(*query.residual, result, language, sort, JoinedRowColumns(query));
  return result.type == kExprTypeBoolean && !result.is_null && result.BooleanValue();
}

}  // namespace tessera
