// The SELECT clauses of TStatementParser.
#include <utility>

#include "classlib/rtl/ShortString.h"
#include "engine/sql/ConditionWalks.h"
#include "engine/sql/TStatementParser.h"
#include "engine/storage/core/EngineErrors.h"

namespace tessera {

namespace {

// Words that end a FROM table where a bare correlation name could follow.  FULL is among them
// so that "A FULL JOIN B" is refused as a full join rather than read as table A correlated
// "FULL" inner-joined to B.
constexpr const char* kFromExcluded[] = {"LEFT",  "RIGHT", "INNER",  "JOIN", "FULL",      "WHERE",
                                         "ORDER", "GROUP", "HAVING", "WITH", "ENCRYPTED", nullptr};
constexpr const char* kJoinExcluded[] = {"ON", nullptr};

constexpr const char* kFromTableMessage = "Table name expected after FROM keyword, instead found '";
constexpr const char* kJoinTableMessage = "Table name expected after JOIN keyword, instead found '";

uint8_t AggregateOfFunction(const ExpressionNode* node) {
  if (node->kind != kNodeFunction) return kAggregateNone;
  switch (node->code) {
    case kFnSum:
      return kAggregateSum;
    case kFnMin:
      return kAggregateMin;
    case kFnMax:
      return kAggregateMax;
    case kFnAvg:
      return kAggregateAvg;
    case kFnCount:
      return kAggregateCount;
    default:
      return kAggregateNone;
  }
}

// The digits of an integer token as a column number; numbers past the u16 range stay at 65535,
// which no select list reaches, so that binding refuses them instead of meeting a wrapped one.
uint16_t ColumnNumberOf(std::string_view digits) {
  uint32_t number = 0;
  for (char c : digits) {
    number = number * 10 + static_cast<uint32_t>(c - '0');
    if (number > UINT16_MAX) return UINT16_MAX;
  }
  return static_cast<uint16_t>(number);
}

}  // namespace

void TStatementParser::ParseSelect() {
  query_.statement_kind = kStatementSelect;
  Next();
  if (AtWord("ALL")) Next();
  if (AtWord("DISTINCT")) {
    query_.distinct = true;
    Next();
  }
  ParseSelectList();
  ParseInto();
  ParseFrom();
  ParseOptionalWhere();
  ParseGroupBy();
  ParseOrderBy();
  if (AtWord("WITH")) {
    Next();
    if (!AtWord("LOCKS")) FailFound("LOCKS keyword expected after WITH keyword, instead found '");
    query_.with_locks = true;
    Next();
  }
  if (AtWord("ENCRYPTED")) {
    Next();
    ExpectWord("WITH", "WITH keyword expected after ENCRYPTED keyword, instead found '");
    // Whatever token follows is the password.
    query_.encrypted = true;
    query_.password = parser_.TokenName();
    Next();
  }
  ExpectEnd("End of SELECT statement expected, instead found '");
}

void TStatementParser::ParseSelectList() {
  for (;;) {
    auto& column = query_.select_columns.emplace_back(std::make_unique<TResultDataField>());
    ParseSelectColumn(*column);
    ParseResultName(*column);
    if (!AtKind(',')) return;
    Next();
  }
}

void TStatementParser::ParseSelectColumn(TResultDataField& column) {
  parser_.MarkSourceStart();
  ExpressionNodePtr tree =
      parser_.ParseExpression(kAllowAggregates | kAllowAllColumns, "source columns");
  if (!tree) Fail("Source column expression is empty");
  column.expression_text = parser_.CaptureSourceText();
  // An aggregate is a whole select column: inside an expression (or another aggregate) it would
  // be evaluated row by row, giving plausible but wrong values.
  const uint8_t top_aggregate = AggregateOfFunction(tree.get());
  if (top_aggregate != kAggregateNone ? ContainsAggregate(tree->first.get())
                                      : ContainsAggregate(tree.get())) {
    Fail("Aggregate functions cannot be part of an expression: '" + column.expression_text +
         "' in source columns");
  }
  const ExpressionNode* plain = nullptr;
  if (IsPlainColumn(tree.get())) {
    plain = tree.get();
    if (plain->column_name != "*") column.result_name = plain->column_name;
  } else if (top_aggregate != kAggregateNone) {
    column.aggregate = top_aggregate;
    if (top_aggregate == kAggregateAvg) query_.has_average = true;
    // The aggregate of a plain column takes the column's names but not its result name.
    if (IsPlainColumn(tree->first.get())) plain = tree->first.get();
  }
  if (plain != nullptr) {
    column.column_name = plain->column_name;
    column.correlation_name = plain->correlation_name;
  } else {
    column.computed = true;
    query_.has_expressions = true;
  }
  column.expression = std::move(tree);
}

void TStatementParser::ParseResultName(TResultDataField& column) {
  if (AtWord("AS")) {
    Next();
    if (!AtNameOrString()) FailFound("Symbol or string expected after AS keyword, instead found '");
  } else if (!AtNameOrString() || AtWord("INTO") || AtWord("FROM")) {
    return;
  }
  column.result_name = parser_.TokenName();
  Next();
  if (!AtKind('.')) return;
  Next();
  if (!AtNameOrString()) {
    FailFound("Symbol or string expected after table correlation name, instead found '");
  }
  column.result_name = parser_.TokenName();
  Next();
}

void TStatementParser::ParseInto() {
  if (!AtWord("INTO")) return;
  Next();
  query_.live = false;
  if (AtWord("MEMORY")) {
    query_.into_memory = true;
    Next();
    if (!AtNameOrString()) {
      FailFound("Result table name expected in INTO MEMORY clause, instead found '");
    }
  } else if (!AtNameOrString()) {
    FailFound("Result table name expected in INTO clause, instead found '");
  }
  // A cut name would address another file.
  query_.into_name = parser_.FullTokenName();
  if (!cl::FitsShort(query_.into_name)) RaiseEngineError(kErrInvalidPath, query_.into_name);
  Next();
}

void TStatementParser::ParseFrom() {
  ExpectWord("FROM", "FROM keyword expected, instead found '");
  for (;;) {
    TSourceDataFile& table = ParseTable(kFromTableMessage, kFromTableMessage, false);
    ParseCorrelation(table, {true, false, kFromExcluded});
    while (ParseJoin()) {
    }
    if (!AtKind(',')) return;
    Next();
    query_.multiple_tables = true;
  }
}

bool TStatementParser::ParseJoin() {
  uint8_t join_type;
  if (AtWord("JOIN")) {
    join_type = kJoinInner;
  } else if (AtWord("INNER")) {
    Next();
    if (!AtWord("JOIN")) FailFound("JOIN keyword expected after INNER keyword, instead found '");
    join_type = kJoinInner;
  } else if (AtWord("LEFT")) {
    Next();
    if (AtWord("OUTER")) Next();
    if (!AtWord("JOIN")) {
      FailFound("JOIN keyword expected after LEFT or OUTER keyword, instead found '");
    }
    join_type = kJoinLeft;
  } else if (AtWord("RIGHT")) {
    Next();
    if (AtWord("OUTER")) Next();
    if (!AtWord("JOIN")) {
      FailFound("JOIN keyword expected after RIGHT or OUTER keyword, instead found '");
    }
    join_type = kJoinRight;
  } else if (AtWord("FULL")) {
    Fail("Full outer joins are currently not supported in Tessera SQL SELECT statements");
  } else {
    return false;
  }
  Next();
  // The table of a RIGHT JOIN goes first: it drives the join loop.
  TSourceDataFile& table =
      ParseTable(kJoinTableMessage, kJoinTableMessage, join_type == kJoinRight);
  ParseCorrelation(table, {true, false, kJoinExcluded});
  ExpectWord("ON", "ON keyword expected in JOIN clause, instead found '");
  ExpressionNode* condition = ParseCondition();
  MarkJoinType(join_type, condition);
  query_.join_conditions.emplace_back(condition, join_type);
  query_.multiple_tables = true;
  return true;
}

void TStatementParser::ParseColumnItem(std::string& column_name, std::string& correlation_name,
                                       uint16_t& column_number, std::string_view message) {
  if (AtKind(kTokenInteger)) {
    column_number = ColumnNumberOf(parser_.TokenText());
    Next();
    return;
  }
  if (!AtNameOrString()) FailFound(message);
  column_name = parser_.TokenName();
  Next();
  if (!AtKind('.')) return;
  Next();
  if (!AtNameOrString()) FailFound(message);
  correlation_name = std::move(column_name);
  column_name = parser_.TokenName();
  Next();
}

void TStatementParser::ParseGroupBy() {
  if (!AtWord("GROUP")) return;
  Next();
  ExpectWord("BY", "BY keyword expected after GROUP keyword, instead found '");
  query_.has_group = true;
  for (;;) {
    auto& item = query_.group_by.emplace_back(std::make_unique<TGroupByDataField>());
    ParseColumnItem(item->column_name, item->correlation_name, item->column_number,
                    "Column name or column number expected in GROUP BY clause, instead found '");
    if (!AtKind(',')) return;
    Next();
  }
}

void TStatementParser::ParseOrderBy() {
  if (!AtWord("ORDER")) return;
  Next();
  ExpectWord("BY", "BY keyword expected after ORDER keyword, instead found '");
  query_.has_order = true;
  for (;;) {
    auto& item = query_.order_by.emplace_back(std::make_unique<TOrderByDataField>());
    ParseColumnItem(item->column_name, item->correlation_name, item->column_number,
                    "Column name or column number expected in ORDER BY clause, instead found '");
    if (AtWord("ASC") || AtWord("ASCENDING")) {
      Next();
    } else if (AtWord("DESC") || AtWord("DESCENDING")) {
      item->descending = true;
      Next();
    }
    if (!AtKind(',')) break;
    Next();
  }
  if (AtWord("NOCASE")) {
    query_.no_case = true;
    Next();
  }
}

}  // namespace tessera
