// The engine's statement object: one SQL statement from its text to its result table.
//
// The query component creates one TDataQuery per preparation and uses it in this order:
//
//   created --PrepareQuery--> prepared --SetQueryParams--> parameters set
//           --ExecuteQuery--> executed (SELECT: the result handed out) --destroyed
//
// PrepareQuery parses the text (TStatementParser.h) and binds it (QueryBinder.cpp): the source
// tables are opened, every name is resolved, and a SELECT either takes its first source table as
// a live result or defines and creates a result table.  ExecuteQuery runs the statement
// (QueryExecutor.cpp); a SELECT hands out its result, which stays owned here.  An executed
// object refuses a second preparation (11047).  Any failure of preparation or execution leaves the
// object unprepared: sources closed, the table lock and read locks given back, a temporary result
// deleted, so that a caller can neither see half a result nor be left holding a lock.
//
// Result table (the table's own field numbers; the dataset sees the select columns as 1..n):
//
//   field    name         type                        meaning
//   1        "Row___No"   32-bit auto-increment       insertion counter, ORDER BY tie-breaker
//   2..n+1   result names per select column           the select columns in order
//   n+2..    "Avg__Count" 32-bit integer              per AVG column (the second and later
//            ("_2", ...)                              named "Avg__Count_2" ...): the values it
//                                                     averaged; hidden
//
// Temporary results live in the session's private directory, else in the user's own private
// directory (platform/PrivateDirectory.h): never in a shared or unwritable current directory.
// INTO builds its table under a temporary name beside the target and replaces the target only
// when the statement has succeeded, so that a failing statement leaves the target as it was;
// RowsAffected is then the number of rows written.  A result or INTO table never replaces a file
// that another handle has open: preparing refuses such a target before anything is created.
//
// One thread at a time; the progress callback runs on the executing thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/sql/TQueryStatement.h"
#include "engine/storage/core/TableCipher.h"
#include "engine/storage/index/IndexFormat.h"
#include "engine/storage/table/DataFileFormat.h"

namespace tessera {

class TDataFile;
class TDataQuery;

// Binding of the parsed statement (QueryBinder.cpp): sources opened, names resolved, the live
// decision and the result table.
void BindQuery(TDataQuery& query);

// Called as rows are read: (current row counter, percent of the driving table, abort).  Setting
// abort stops the statement after the current row; what was written stays.
using TQueryProgress = std::function<void(int32_t current, uint16_t percent, bool& abort)>;

// One parameter value as the query component hands it over: the value sits at `offset` + 1 of
// the buffer, after a not-null byte (1 = has a value), in the expression value form
// (ExpressionNode.h: money in 1/10000 units, booleans as 16-bit).
struct TQueryParamDescriptor {
  uint16_t number = 0;  // 1-based
  std::string name;     // at most 30 characters
  uint8_t type = 0;
  uint8_t sub_type = 0;
  uint8_t size = 0;
  uint8_t decimals = 0;
  uint32_t offset = 0;
};

inline constexpr char kRowNumberField[] = "Row___No";
inline constexpr char kAverageCountField[] = "Avg__Count";
inline constexpr char kResultDescription[] = "Query Result Set";
inline constexpr uint8_t kRecordOrderIndex = 255;
inline constexpr size_t kMaxDistinctColumns = 16;
// The select columns a result field may hold: the declared size of a column (strings without
// their terminating zero).
inline constexpr size_t kMaxResultColumnSize = 250;

class TDataQuery {
 public:
  TDataQuery();
  ~TDataQuery();
  TDataQuery(const TDataQuery&) = delete;
  TDataQuery& operator=(const TDataQuery&) = delete;

  // ---- settings ----
  // The lock settings reach the tables already open (the sources and the result) at once.
  uint8_t LockRetryCount() const { return lock_retry_count_; }
  void SetLockRetryCount(uint8_t value);
  uint16_t LockWaitTime() const { return lock_wait_time_; }
  void SetLockWaitTime(uint16_t value);
  // Before PrepareQuery: an open table keeps the change detection it was opened with.
  void SetStrictChangeDetection(bool value) {
    if (!executed_) strict_change_detection_ = value;
  }
  bool StrictChangeDetection() const { return strict_change_detection_; }
  void SetDirectory(std::string_view directory) {
    if (!executed_) statement_.directory = std::string(directory);
  }
  const std::string& Directory() const { return statement_.directory; }
  // RequestLive: whether a SELECT should edit its source table itself.
  void SetRequestLive(bool value) { request_live_ = value; }
  void SetPasswordEvent(TPasswordEvent event) { password_event_ = std::move(event); }
  void SetProgressCallback(TQueryProgress callback) { progress_ = std::move(callback); }

  // 11047 once executed; otherwise parses and binds `text` and returns 0.  Errors raise (11949
  // and the codes of the table calls) and leave the object unprepared.
  uint16_t PrepareQuery(std::string_view text);
  // Parameter i takes descriptor i's typing and value; 11949 "Internal parameter error" for a
  // descriptor past the statement's "?" count, which leaves the object unprepared.  Returns 0.
  uint16_t SetQueryParams(const std::vector<TQueryParamDescriptor>& descriptors,
                          const uint8_t* buffer, size_t buffer_size);
  // Runs the prepared statement.  0, or 11047 when a blob value could not be copied.  A SELECT
  // stores its result in `result` (owned here) and marks the object executed; the other kinds
  // leave it nullptr.
  uint16_t ExecuteQuery(TDataFile*& result);

  // Calls the progress callback when one is set.
  void ReportQueryProgress(int32_t current, uint16_t percent, bool& abort);

  bool Prepared() const { return prepared_; }
  bool Executed() const { return executed_; }
  int32_t RowsAffected() const { return rows_affected_; }
  bool LiveResult() const { return live_result_; }
  uint16_t LanguageId() const { return language_id_; }
  uint16_t SortId() const { return sort_id_; }
  TQueryStatement& Statement() { return statement_; }
  const TQueryStatement& Statement() const { return statement_; }
  // The result table (also before execution, once bound): its definitions, for tests and dumps.
  TDataFile& ResultTable() { return *result_; }
  // The definitions that binding gave the result table (empty for a live result or DML).
  const std::vector<TFieldDefinition>& ResultFields() const { return result_fields_; }
  const std::vector<TIndexDescriptor>& ResultIndexes() const { return result_indexes_; }
  const std::string& ResultName() const { return result_name_; }

  // The clash rule of result column names over the whole select list, in place; public for
  // tests.  Each column's name is its AS name, else its column name, else the default for its
  // aggregate; every final name is at most 30 characters and unique without regard to case.
  static void MakeResultColumnNames(std::vector<std::string>& provisional);

 private:
  friend class TQueryBinder;
  friend class TQueryExecutor;

  // Frees everything the statement bound: sources closed and freed, result closed (a temporary
  // one deleted), lists cleared.  Never raises.
  void Unprepare() noexcept;
  void ClearBindFlags();

  TQueryStatement statement_;
  std::unique_ptr<TDataFile> result_;
  TQueryProgress progress_;
  TPasswordEvent password_event_;
  uint8_t lock_retry_count_ = 15;
  uint16_t lock_wait_time_ = 100;
  bool strict_change_detection_ = false;
  bool request_live_ = false;
  bool prepared_ = false;
  bool executed_ = false;
  int32_t rows_affected_ = 0;
  uint16_t language_id_ = 0;
  uint16_t sort_id_ = 0;

  // Set by binding.
  bool order_served_ = false;        // ORDER BY served by an index of the source table
  uint8_t order_index_ = 0;          // that index's slot
  bool aggregate_only_ = false;      // every select column an aggregate: one group
  bool order_serves_group_ = false;  // the ORDER BY index also serves DISTINCT or GROUP BY
  bool has_distinct_index_ = false;  // a "Distinct" index besides the primary one
  bool has_group_index_ = false;     // a "GroupBy" index besides the primary one
  bool live_result_ = false;
  bool result_created_ = false;
  std::vector<TFieldDefinition> result_fields_;
  std::vector<TIndexDescriptor> result_indexes_;
  std::string result_name_;
  // INTO: the table the result replaces once the statement succeeded, and whether the result
  // still stands under its temporary name (then Unprepare deletes it).
  std::string into_target_;
  bool into_pending_ = false;
  // Per select column: the result field (table set) and, for a plain column, its source table
  // index in the statement's list and field number there (0 for computed and COUNT(*)).
  struct BoundColumn {
    uint16_t result_field = 0;
    TSourceDataFile* source = nullptr;
    uint16_t source_field = 0;
    bool count_star = false;
  };
  std::vector<BoundColumn> bound_;
};

}  // namespace tessera
