// The statement object's view of the join: what binding and execution ask of the WHERE and JOIN
// analysis and of the join loop, in the order they ask it.  Internal to engine/sql.
#pragma once

#include "engine/sql/TQueryStatement.h"
#include "engine/storage/expr/ExpressionNode.h"

namespace tessera {

// Binding, after the sources are open: default links, the join analysis when the statement has
// conditions, the sources sorted by position, the links cleaned up.  `live_or_aggregate_only`:
// every table condition becomes a filter, none goes to the residual.
void PrepareJoins(TQueryStatement& query, bool live_or_aggregate_only);

// Execution: filters of an earlier run dropped; then the table filters installed.
void DropQueryFilters(TQueryStatement& query);
void InstallTableFilters(TQueryStatement& query, bool live_or_aggregate_only);

// The condition left to test per combined row, or nullptr.
ExpressionNode* ResidualCondition(TQueryStatement& query);

// The combined rows, the first source table driving them.
bool FirstQueryRow(TQueryStatement& query);
bool NextQueryRow(TQueryStatement& query);

// Whether the table's current row is the missing partner of an outer join (its columns read
// NULL).
bool SourceRowIsNull(const TSourceDataFile& table);

}  // namespace tessera
