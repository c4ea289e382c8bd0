// The parsed form of one SQL statement: its flags, its descriptor lists, its condition tree and
// its parameters, together with the expression parser that reads its text.
//
// The statement object of the query engine holds one of these: ParseStatement fills it from the
// text loaded into `parser`, binding resolves its names, execution reads it.  It owns every
// descriptor, every expression tree and the parser; the parameter list points into the value and
// condition trees it owns, so those trees are never freed while the list still holds them.
// One thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/sql/StatementDescriptors.h"
#include "engine/storage/expr/ExpressionNode.h"
#include "engine/storage/expr/TExpressionParser.h"

namespace tessera {

class TQueryStatement {
 public:
  TQueryStatement() = default;
  TQueryStatement(const TQueryStatement&) = delete;
  TQueryStatement& operator=(const TQueryStatement&) = delete;

  // Clears everything the parser sets, except the live flag (which the owner requests and the
  // parser only changes) and the directory.
  void ClearStatement();

  // ANDs `condition` into the condition tree: the first becomes the root, each further one the
  // right operand of a new AND node over the old root.  Raises 11949 when the combined tree would
  // be higher than the expression walkers accept.  Returns the condition, now owned here.
  ExpressionNode* AddCondition(ExpressionNodePtr condition);

  // Supplied by the owner.
  TExpressionParser parser;
  std::string directory;  // where table names without a path are found
  bool live = false;      // the owner's request; INTO clears it, INSERT, UPDATE and DELETE set it

  // Statement flags.
  uint8_t statement_kind = 0;  // kStatementSelect .. kStatementDelete
  bool distinct = false;
  bool has_average = false;      // a select column is AVG(...)
  bool has_expressions = false;  // a select column is computed
  bool multiple_tables = false;  // a second FROM table or any JOIN
  bool has_conditions = false;   // WHERE or any JOIN ... ON
  bool has_order = false;
  bool has_group = false;
  bool into_memory = false;
  std::string into_name;
  bool no_case = false;  // NOCASE: every ORDER BY item ignores case
  bool with_locks = false;
  bool encrypted = false;
  std::string password;

  // All WHERE and ON conditions, ANDed in the order met.
  ExpressionNodePtr condition;
  // The root of each ON condition in the tree above, with its join type: the join analysis tells
  // the conditions of an outer join's ON from those of WHERE by them.
  std::vector<std::pair<const ExpressionNode*, uint8_t>> join_conditions;
  // What is tested on each combined row (JoinAnalysis.h): the parts the join analysis sent here,
  // then, at execution, the table conditions no index serves.
  ExpressionNodePtr residual;
  bool has_residual = false;
  // The residual as the join analysis left it (checked), kept so that each execution starts again
  // from it.
  ExpressionNodePtr join_residual;
  // The "?" nodes of the values and conditions, in the order met.
  std::vector<ExpressionNode*> parameters;

  std::vector<std::unique_ptr<TSourceDataFile>> source_tables;
  std::vector<std::unique_ptr<TResultDataField>> select_columns;
  std::vector<std::unique_ptr<TUpdateDataField>> target_columns;
  std::vector<std::unique_ptr<TUpdateDataValue>> values;
  std::vector<std::unique_ptr<TOrderByDataField>> order_by;
  std::vector<std::unique_ptr<TGroupByDataField>> group_by;

 private:
  int condition_height_ = 0;
};

}  // namespace tessera
