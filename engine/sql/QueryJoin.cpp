// Stand-in for the join analysis and loop until they land: one source table, every condition
// tested per row.
#include "engine/sql/QueryJoin.h"

#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/table/TDataFile.h"

namespace tessera {

void PrepareJoins(TQueryStatement& query, bool) {
  if (query.source_tables.size() > 1) {
    RaiseEngineError(kErrSql, {}, {}, {}, "Joins are not available yet");
  }
}

void DropQueryFilters(TQueryStatement&) {}
void InstallTableFilters(TQueryStatement&, bool) {}

ExpressionNode* ResidualCondition(TQueryStatement& query) { return query.condition.get(); }

bool FirstQueryRow(TQueryStatement& query) {
  TSourceDataFile& t = *query.source_tables.front();
  t.data_file->MoveToBeginning();
  return t.data_file->GetNextRecord(t.record_buffer.data()) == 0;
}

bool NextQueryRow(TQueryStatement& query) {
  TSourceDataFile& t = *query.source_tables.front();
  return t.data_file->GetNextRecord(t.record_buffer.data()) == 0;
}

bool SourceRowIsNull(const TSourceDataFile& t) { return t.null_row; }

}  // namespace tessera
