#include "engine/sql/TStatementParser.h"

#include <utility>

#include "classlib/rtl/Collation.h"
#include "engine/sql/ConditionWalks.h"
#include "engine/storage/core/EngineErrors.h"

namespace tessera {

namespace {

// Words that end a table where a bare correlation name could follow.
constexpr const char* kInsertExcluded[] = {"VALUES", nullptr};
constexpr const char* kUpdateExcluded[] = {"SET", nullptr};
constexpr const char* kDeleteExcluded[] = {"WHERE", nullptr};

}  // namespace

void ParseStatement(TQueryStatement& query) {
  query.ClearStatement();
  TStatementParser(query).Parse();
}

void TStatementParser::Parse() {
  Next();
  if (AtWord("SELECT")) {
    ParseSelect();
  } else if (AtWord("INSERT")) {
    ParseInsert();
  } else if (AtWord("UPDATE")) {
    ParseUpdate();
  } else if (AtWord("DELETE")) {
    ParseDelete();
  } else {
    FailFound("SELECT, INSERT, UPDATE, or DELETE keyword expected, instead found '");
  }
}

// ---- tokens and errors --------------------------------------------------------------------------

bool TStatementParser::AtBareName() const {
  return AtKind(kTokenSymbol) || AtKind(kTokenBracketedName);
}

bool TStatementParser::AtNameOrString() const { return AtBareName() || AtKind(kTokenQuotedText); }

bool TStatementParser::AtAnyOf(const char* const* words) const {
  for (; *words != nullptr; ++words) {
    if (AtWord(*words)) return true;
  }
  return false;
}

void TStatementParser::Fail(std::string_view message) const {
  RaiseEngineError(kErrSql, {}, {}, {}, message);
}

void TStatementParser::FailFound(std::string_view message) const {
  Fail(std::string(message) + parser_.TokenText() + "'");
}

void TStatementParser::ExpectWord(std::string_view word, std::string_view message) {
  if (!AtWord(word)) FailFound(message);
  Next();
}

void TStatementParser::ExpectEnd(std::string_view message) {
  if (AtKind(';')) Next();
  if (!AtKind(kTokenEnd)) FailFound(message);
}

// ---- shared pieces ------------------------------------------------------------------------------

TSourceDataFile& TStatementParser::ParseTable(std::string_view message,
                                              std::string_view message_after_memory,
                                              bool at_front) {
  bool in_memory = false;
  if (AtWord("MEMORY")) {
    in_memory = true;
    Next();
    message = message_after_memory;
  }
  if (!AtNameOrString()) FailFound(message);
  auto table = std::make_unique<TSourceDataFile>();
  size_t appearance = query_.source_tables.size() + 1;
  table->appearance = static_cast<uint16_t>(appearance < UINT16_MAX ? appearance : UINT16_MAX);
  table->in_memory = in_memory;
  table->SetTableName(parser_.FullTokenName(), query_.directory);
  Next();
  TSourceDataFile& added = *table;
  auto& tables = query_.source_tables;
  tables.insert(at_front ? tables.begin() : tables.end(), std::move(table));
  return added;
}

void TStatementParser::ParseCorrelation(TSourceDataFile& table, const CorrelationRule& rule) {
  if (rule.allow_as && AtWord("AS")) {
    Next();
    if (!AtNameOrString()) FailFound("Symbol or string expected after AS keyword, instead found '");
    table.correlation_name = parser_.TokenName();
    Next();
  } else if ((AtBareName() && !AtAnyOf(rule.excluded)) ||
             (rule.allow_quoted && AtKind(kTokenQuotedText))) {
    table.correlation_name = parser_.TokenName();
    Next();
  }
  // A set of keys rather than a scan of the list: a hostile statement may name any number of
  // tables.
  if (!correlation_keys_.insert(cl::AnsiSortKey(table.correlation_name, true)).second) {
    Fail("Duplicate table correlation name '" + table.correlation_name +
         "' found in source tables");
  }
}

ExpressionNode* TStatementParser::ParseCondition() {
  ExpressionNodePtr tree =
      parser_.ParseExpression(kAllowExtendedPredicates | kAllowParameters, "WHERE or JOIN clause");
  if (!tree) Fail("WHERE or JOIN clause is empty");
  // A column, a parameter or NULL has no type before binding; the statement is checked again
  // once the names are bound.
  if (tree->type != kExprTypeNone && tree->type != kExprTypeBoolean) {
    Fail("WHERE or JOIN clause must be a boolean expression");
  }
  ExpressionNode* condition = query_.AddCondition(std::move(tree));
  CollectParameters(condition, query_.parameters);
  query_.has_conditions = true;
  return condition;
}

void TStatementParser::ParseOptionalWhere() {
  if (!AtWord("WHERE")) return;
  Next();
  ParseCondition();
}

void TStatementParser::ParseValue(TUpdateDataValue& value) {
  parser_.MarkSourceStart();
  ExpressionNodePtr tree = parser_.ParseExpression(kAllowParameters, "values");
  if (!tree) Fail("Value expression is empty");
  // The text only names the value (a 254-character literal is longer with its quotes).
  value.expression_text = parser_.CaptureSourceTextCut();
  value.expression = std::move(tree);
  CollectParameters(value.expression.get(), query_.parameters);
}

void TStatementParser::ParseTargetColumn(TUpdateDataField& target, bool primary_only) {
  ExpressionNodePtr tree = primary_only ? parser_.ParsePrimary(0, "table columns")
                                        : parser_.ParseExpression(0, "table columns");
  if (!tree) Fail("Table column name is empty");
  if (!IsPlainColumn(tree.get())) Fail("Table columns cannot contain expressions");
  target.column_name = std::move(tree->column_name);
  target.correlation_name = std::move(tree->correlation_name);
}

// ---- INSERT, UPDATE, DELETE ---------------------------------------------------------------------

void TStatementParser::ParseInsert() {
  query_.statement_kind = kStatementInsert;
  query_.live = true;
  Next();
  ExpectWord("INTO", "INTO keyword expected, instead found '");
  TSourceDataFile& table =
      ParseTable("Table name expected after INTO clause, instead found '",
                 "Table name expected after INTO keyword, instead found '", false);
  ParseCorrelation(table, {false, false, kInsertExcluded});
  if (AtKind('(')) {
    Next();
    for (;;) {
      auto& target = query_.target_columns.emplace_back(std::make_unique<TUpdateDataField>());
      ParseTargetColumn(*target, false);
      if (!AtKind(',')) break;
      Next();
    }
    if (!AtKind(')')) {
      FailFound("Right parentheses expected after list of table columns, instead found '");
    }
    Next();
  } else {
    auto& target = query_.target_columns.emplace_back(std::make_unique<TUpdateDataField>());
    target->column_name = "*";
  }
  ExpectWord("VALUES", "VALUES keyword expected, instead found '");
  if (!AtKind('(')) FailFound("Left parentheses expected after VALUES keyword, instead found '");
  Next();
  for (;;) {
    auto& value = query_.values.emplace_back(std::make_unique<TUpdateDataValue>());
    ParseValue(*value);
    if (!AtKind(',')) break;
    Next();
  }
  if (!AtKind(')')) FailFound("Right parentheses expected after list of values, instead found '");
  Next();
  ExpectEnd("End of INSERT statement expected, instead found '");
}

void TStatementParser::ParseUpdate() {
  query_.statement_kind = kStatementUpdate;
  query_.live = true;
  Next();
  TSourceDataFile& table = ParseTable("Table name expected, instead found '",
                                      "Table name expected, instead found '", false);
  ParseCorrelation(table, {true, true, kUpdateExcluded});
  ExpectWord("SET", "SET keyword expected, instead found '");
  for (;;) {
    auto& target = query_.target_columns.emplace_back(std::make_unique<TUpdateDataField>());
    // The target is read as a primary: "a + 1 = 2" stops at the "+".
    ParseTargetColumn(*target, true);
    if (!AtKind('=')) {
      FailFound("Assignment (=) operator expected after column name, instead found '");
    }
    Next();
    auto& value = query_.values.emplace_back(std::make_unique<TUpdateDataValue>());
    ParseValue(*value);
    if (!AtKind(',')) break;
    Next();
  }
  ParseOptionalWhere();
  ExpectEnd("End of UPDATE statement expected, instead found '");
}

void TStatementParser::ParseDelete() {
  query_.statement_kind = kStatementDelete;
  query_.live = true;
  Next();
  ExpectWord("FROM", "FROM keyword expected, instead found '");
  TSourceDataFile& table = ParseTable("Table name expected, instead found '",
                                      "Table name expected, instead found '", false);
  ParseCorrelation(table, {true, true, kDeleteExcluded});
  ParseOptionalWhere();
  ExpectEnd("End of DELETE statement expected, instead found '");
}

}  // namespace tessera
