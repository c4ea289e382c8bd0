#include "engine/sql/StatementDump.h"

#include <charconv>
#include <unordered_map>

namespace tessera {

namespace {

std::string Quoted(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  out.push_back('\'');
  return out;
}

struct OperatorEntry {
  uint32_t code;
  const char* name;
};

constexpr OperatorEntry kOperatorNames[] = {
    {kOpIsNull, "ISNULL"},
    {kOpIsNotNull, "ISNOTNULL"},
    {kOpEqual, "="},
    {kOpNotEqual, "<>"},
    {kOpGreater, ">"},
    {kOpLess, "<"},
    {kOpGreaterEqual, ">="},
    {kOpLessEqual, "<="},
    {kOpNot, "NOT"},
    {kOpAnd, "AND"},
    {kOpOr, "OR"},
    {kOpNegate, "-"},
    {kOpPlus, "+"},
    {kOpAdd, "+"},
    {kOpSubtract, "-"},
    {kOpMultiply, "*"},
    {kOpDivide, "/"},
    {kFnSum, "SUM"},
    {kFnCount, "COUNT"},
    {kFnMin, "MIN"},
    {kFnMax, "MAX"},
    {kFnAvg, "AVG"},
    {kOpLike, "LIKE"},
    {kOpIn, "IN"},
    {kFnUpper, "UPPER"},
    {kFnLower, "LOWER"},
    {kOpBetween, "BETWEEN"},
    {kOpNotBetween, "NOT BETWEEN"},
    {kOpNotLike, "NOT LIKE"},
    {kOpNotIn, "NOT IN"},
    {kFnSubstring, "SUBSTRING"},
    {kFnTrimLeading, "TRIM LEADING"},
    {kFnTrimTrailing, "TRIM TRAILING"},
    {kFnTrimBoth, "TRIM BOTH"},
    {kFnExtractYear, "EXTRACT YEAR"},
    {kFnExtractMonth, "EXTRACT MONTH"},
    {kFnExtractDay, "EXTRACT DAY"},
};

const char* OperatorName(const ExpressionNode& node) {
  if (node.kind == kNodeBinary && node.code == kOpAdd && node.text == "||") return "||";
  for (const OperatorEntry& entry : kOperatorNames) {
    if (entry.code == node.code) return entry.name;
  }
  return "?op";
}

const char* JoinName(uint8_t join_type) {
  switch (join_type) {
    case kJoinInner:
      return "INNER";
    case kJoinLeft:
      return "LEFT";
    case kJoinRight:
      return "RIGHT";
    default:
      return "?join";
  }
}

const char* AggregateName(uint8_t aggregate) {
  switch (aggregate) {
    case kAggregateSum:
      return "SUM";
    case kAggregateMin:
      return "MIN";
    case kAggregateMax:
      return "MAX";
    case kAggregateAvg:
      return "AVG";
    case kAggregateCount:
      return "COUNT";
    default:
      return "?agg";
  }
}

class TreePrinter {
 public:
  explicit TreePrinter(const TQueryStatement* query) {
    if (query == nullptr) return;
    for (size_t i = 0; i < query->parameters.size(); ++i) numbers_[query->parameters[i]] = i + 1;
  }

  std::string Print(const ExpressionNode* node) const {
    if (node == nullptr) return "<none>";
    switch (node->kind) {
      case kNodeConstant:
        return Constant(*node);
      case kNodeColumn:
        return node->correlation_name.empty() ? node->column_name
                                              : node->correlation_name + "." + node->column_name;
      case kNodeUnary:
        return std::string("(") + OperatorName(*node) + " " + Print(node->first.get()) + ")";
      case kNodePredicate:
      case kNodeFunction:
        return Operands(*node);
      case kNodeBinary:
      case kNodePrefixCompare: {
        std::string op = node->kind == kNodePrefixCompare ? "PREFIX " : "";
        op += OperatorName(*node);
        if (node->join_type != kJoinNone) op += std::string("@") + JoinName(node->join_type);
        return "(" + op + " " + Print(node->first.get()) + " " + Print(node->second.get()) + ")";
      }
      default:
        return "<kind " + std::to_string(node->kind) + ">";
    }
  }

 private:
  std::string Constant(const ExpressionNode& node) const {
    if (node.is_parameter) {
      auto it = numbers_.find(&node);
      return it == numbers_.end() ? "?" : "?" + std::to_string(it->second);
    }
    if (node.is_null) return "NULL";
    switch (node.type) {
      case kExprTypeString:
        return Quoted(node.StringValue());
      case kExprTypeBoolean:
        return node.BooleanValue() ? "TRUE" : "FALSE";
      case kExprTypeInt32:
        return std::to_string(node.Int32Value());
      case kExprTypeFloat: {
        char buffer[64];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, node.FloatValue());
        return std::string(buffer, result.ptr) + "f";
      }
      default:
        return node.text;
    }
  }

  // A predicate or function: its first operand, then its second with the values linked after
  // it (IN values, BETWEEN bounds, SUBSTRING's FROM and FOR).
  std::string Operands(const ExpressionNode& node) const {
    std::string out = std::string("(") + OperatorName(node) + " " + Print(node.first.get());
    for (const ExpressionNode* v = node.second.get(); v != nullptr; v = v->next.get()) {
      out += " " + Print(v);
    }
    return out + ")";
  }

  std::unordered_map<const ExpressionNode*, size_t> numbers_;
};

const char* KindName(uint8_t kind) {
  switch (kind) {
    case kStatementSelect:
      return "SELECT";
    case kStatementInsert:
      return "INSERT";
    case kStatementUpdate:
      return "UPDATE";
    case kStatementDelete:
      return "DELETE";
    default:
      return "NONE";
  }
}

}  // namespace

std::string DumpExpression(const ExpressionNode* node, const TQueryStatement* query) {
  return TreePrinter(query).Print(node);
}

std::string DumpStatement(const TQueryStatement& q) {
  TreePrinter printer(&q);
  std::string out = KindName(q.statement_kind);
  const std::pair<bool, const char*> flags[] = {{q.live, "live"},
                                                {q.distinct, "distinct"},
                                                {q.has_average, "average"},
                                                {q.has_expressions, "expressions"},
                                                {q.multiple_tables, "multiple"},
                                                {q.has_conditions, "conditions"},
                                                {q.has_order, "order"},
                                                {q.has_group, "group"},
                                                {q.no_case, "nocase"},
                                                {q.with_locks, "locks"}};
  for (const auto& [set, name] : flags) {
    if (set) out += std::string(" ") + name;
  }
  out += "\n";
  if (q.into_memory || !q.into_name.empty()) {
    out += std::string("into ") + (q.into_memory ? "memory " : "") + Quoted(q.into_name) + "\n";
  }
  if (q.encrypted) out += "encrypted " + Quoted(q.password) + "\n";
  for (const auto& t : q.source_tables) {
    out += "table " + std::to_string(t->appearance) + " " + Quoted(t->table_name) + " as " +
           Quoted(t->correlation_name) + (t->in_memory ? " memory" : "") + "\n";
  }
  for (const auto& c : q.select_columns) {
    out += "column name=" + Quoted(c->column_name) + " corr=" + Quoted(c->correlation_name) +
           " as=" + Quoted(c->result_name);
    if (c->aggregate != kAggregateNone) out += std::string(" agg=") + AggregateName(c->aggregate);
    if (c->computed) out += " computed";
    out += " text=" + Quoted(c->expression_text) + " tree=" + printer.Print(c->expression.get()) +
           "\n";
  }
  for (const auto& t : q.target_columns) {
    out += "target name=" + Quoted(t->column_name) + " corr=" + Quoted(t->correlation_name) + "\n";
  }
  for (const auto& v : q.values) {
    out += "value text=" + Quoted(v->expression_text) +
           " tree=" + printer.Print(v->expression.get()) + "\n";
  }
  for (const auto& o : q.order_by) {
    out += "order name=" + Quoted(o->column_name) + " corr=" + Quoted(o->correlation_name) +
           " number=" + std::to_string(o->column_number) + (o->descending ? " desc" : "") + "\n";
  }
  for (const auto& g : q.group_by) {
    out += "group name=" + Quoted(g->column_name) + " corr=" + Quoted(g->correlation_name) +
           " number=" + std::to_string(g->column_number) + "\n";
  }
  if (q.condition) out += "where " + printer.Print(q.condition.get()) + "\n";
  if (!q.parameters.empty()) out += "parameters " + std::to_string(q.parameters.size()) + "\n";
  return out;
}

std::string DumpPlan(const TQueryStatement& q) {
  TreePrinter printer(&q);
  static constexpr const char* kLinkNames[] = {"plain", "inner", "outer"};
  std::string out;
  for (const auto& t : q.source_tables) {
    out += "table " + std::to_string(t->position) + " " + Quoted(t->correlation_name) + "\n";
    for (const auto& link : t->links) {
      out += std::string("  link ") + (link->join_type <= 2 ? kLinkNames[link->join_type] : "?") +
             " " + Quoted(link->child->correlation_name);
      if (link->condition) out += " " + printer.Print(link->condition.get());
      out += "\n";
    }
    for (const auto& f : t->filter_trees) out += "  filter " + printer.Print(f.get()) + "\n";
  }
  if (q.condition) out += "where " + printer.Print(q.condition.get()) + "\n";
  if (q.residual) out += "residual " + printer.Print(q.residual.get()) + "\n";
  return out;
}

}  // namespace tessera
