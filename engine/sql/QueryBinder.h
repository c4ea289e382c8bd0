// Binding of a parsed statement: its tables opened, its names resolved, its values checked, and
// for a SELECT the live decision and the definition and creation of the result table.  Internal
// to engine/sql: TDataQuery::PrepareQuery is its one user.
#pragma once

#include <string>
#include <string_view>

#include "engine/sql/TDataQuery.h"
#include "engine/storage/expr/ExpressionChecker.h"
#include "engine/storage/table/FieldExpressionValues.h"

namespace tessera {

class TQueryBinder {
 public:
  explicit TQueryBinder(TDataQuery& query) : q_(query), s_(query.statement_) {}
  TQueryBinder(const TQueryBinder&) = delete;
  TQueryBinder& operator=(const TQueryBinder&) = delete;

  void Bind();

  // Column lookup: with a qualifier the table of that correlation name, else the first table
  // having the field; nullptr when none (`field` then nullptr too).
  TSourceDataFile* FindColumn(std::string_view qualifier, std::string_view name,
                              const TFieldDefinition*& field) const;
  TSourceDataFile* FindCorrelation(std::string_view name) const;
  // Binds a column node to its table and field (correlation name filled in).
  ColumnLookup SourceLookup() const;
  // The lookup of INSERT or UPDATE values: UPDATE reads the table's columns, INSERT none.
  ColumnLookup ValueLookup() const;

  [[noreturn]] static void Fail(const std::string& message);

  // After a successful SELECT ... INTO: the result, built under a temporary name beside the
  // target, replaces the target's files and is opened again under its name.  A target that
  // another handle opened meanwhile is refused (9220) and stays as it was.
  void ReplaceIntoTarget();

 private:
  void OpenSourceTable(TSourceDataFile& table, bool live);
  // Record caches that hold the whole of each table the join reads by key.
  void HoldJoinedRecords();
  // Every source table in record order, as it is opened for a statement.
  void SelectRecordOrder();
  // Fills in the table of every column of a condition tree; unknown names raise.
  void ResolveNames(ExpressionNode* node, std::string_view clause) const;
  // Refuses any column reference in an INSERT value.
  void CheckNoColumns(const ExpressionNode* node) const;

  void BindChange();
  void CheckUpdateValue(TUpdateDataValue& value, const TFieldDefinition& target);

  void BindSelect();
  void CheckSelectColumns();
  void ExpandSelectColumns(bool grouped);
  // The select column an ORDER BY or GROUP BY item names (0-based), raising its messages.
  size_t ResolveItem(std::string_view name, std::string_view qualifier, uint16_t number,
                     bool group) const;
  void FindServingIndex();
  bool TryLive();
  void DefineResultFields();
  void DefineResultIndexes();
  void CreateResult();
  // Opens the created (or renamed) result and sets it up for the rows to come.
  void OpenResult();
  void ShiftWorkingFields();

  TDataQuery& q_;
  TQueryStatement& s_;
  // Per select column: the checked type of its expression.
  struct Checked {
    uint8_t type = 0, sub_type = 0, size = 0, decimals = 0;
  };
  std::vector<Checked> checked_;
};

}  // namespace tessera
