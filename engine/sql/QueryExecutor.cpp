// ExecuteQuery: the row loop over the joined sources and what each statement kind does with the
// rows.  Every lock taken here (the table lock of a change, the read locks of WITH LOCKS) is held
// by a guard that gives it back on every exit.
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "classlib/rtl/Collation.h"
#include "engine/sql/ConditionWalks.h"
#include "engine/sql/JoinAnalysis.h"
#include "engine/sql/JoinLoop.h"
#include "engine/sql/QueryBinder.h"
#include "engine/sql/TDataQuery.h"
#include "engine/sql/UpdateValues.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/expr/ExpressionChecker.h"
#include "engine/storage/expr/ExpressionEvaluator.h"
#include "engine/storage/expr/ExpressionOperators.h"
#include "engine/storage/expr/ExpressionTypes.h"
#include "engine/storage/table/FieldExpressionValues.h"
#include "engine/storage/table/TDataFile.h"

namespace tessera {

namespace {

constexpr uint16_t kBlobCopyFailed = kErrUnknownOSError;

// The table lock of INSERT, UPDATE and DELETE, given back on every exit.
class TableLockGuard {
 public:
  explicit TableLockGuard(TDataFile& file) : file_(file) { file_.LockTable(); }
  ~TableLockGuard() {
    try {
      file_.UnlockTable();
    } catch (...) {
      // Closing the handle (which an error of the statement leads to) releases the bytes too.
    }
  }
  TableLockGuard(const TableLockGuard&) = delete;
  TableLockGuard& operator=(const TableLockGuard&) = delete;

 private:
  TDataFile& file_;
};

// The held read locks of WITH LOCKS, given back on every exit.
class ReadLocksGuard {
 public:
  explicit ReadLocksGuard(TQueryStatement& s) {
    for (auto& t : s.source_tables) {
      t->data_file->LockRead();
      held_.push_back(t->data_file.get());
    }
  }
  ~ReadLocksGuard() {
    for (auto it = held_.rbegin(); it != held_.rend(); ++it) {
      try {
        (*it)->UnlockRead();
      } catch (...) {
        // As above: the handle's close gives the reader bytes back.
      }
    }
  }
  ReadLocksGuard(const ReadLocksGuard&) = delete;
  ReadLocksGuard& operator=(const ReadLocksGuard&) = delete;

 private:
  std::vector<TDataFile*> held_;
};

}  // namespace

class TQueryExecutor {
 public:
  explicit TQueryExecutor(TDataQuery& q) : q_(q), s_(q.statement_), binder_(q) {}

  uint16_t Execute(TDataFile*& result) {
    switch (s_.statement_kind) {
      case kStatementDelete:
        ExecuteChange(false);
        return 0;
      case kStatementUpdate:
        ExecuteChange(true);
        return 0;
      case kStatementInsert:
        ExecuteInsert();
        return 0;
      default:
        return ExecuteSelect(result);
    }
  }

 private:
  using Row = std::vector<uint8_t>;

  // ---- shared ----

  TTableFilterOptions FilterOptions(bool keep_per_record) const {
    TTableFilterOptions options;
    options.keep_per_record_filters = keep_per_record;
    options.language = q_.language_id_;
    options.sort = q_.sort_id_;
    return options;
  }

  void CheckConditions() {
    const ColumnLookup lookup = binder_.SourceLookup();
    ForEachConditionTree(s_, [&](ExpressionNodePtr& tree) {
      CheckExpression("WHERE or JOIN clause", *tree, lookup);
      if (tree->type != kExprTypeBoolean) {
        TQueryBinder::Fail("WHERE or JOIN clause must be a boolean expression");
      }
    });
  }

  TSourceDataFile* Source(std::string_view correlation) {
    if (last_source_ != nullptr && last_source_->correlation_name == correlation) {
      return last_source_;
    }
    for (auto& t : s_.source_tables) {
      if (cl::AnsiSameText(t->correlation_name, correlation)) return last_source_ = t.get();
    }
    return nullptr;
  }

  void ReadColumn(ExpressionNode& column) {
    TSourceDataFile* t = Source(column.correlation_name);
    if (t == nullptr || column.field_number == 0 || t->null_row) {
      column.ClearValue();
      column.is_null = 1;
      return;
    }
    const TFieldDefinition& f =
        t->data_file->GetFieldDefinition(TFieldSet::kTable, column.field_number);
    uint8_t value[kUpdateValueAreaSize] = {};
    const bool blank = t->data_file->GetFieldValue(TFieldSet::kTable, column.field_number, value,
                                                   t->record_buffer.data());
    StoredToExpressionValue(f, value, blank, column);
  }

  void Evaluate(const ExpressionNode& tree, ExpressionNode& result) {
    EvaluateExpression(tree, result, q_.language_id_, q_.sort_id_,
                       [this](ExpressionNode& column) { ReadColumn(column); });
  }

  bool PassesResidual() {
    if (!s_.residual) return true;
    ExpressionNode result;
    Evaluate(*s_.residual, result);
    return !result.is_null && result.BooleanValue();
  }

  // Calls `each` for every combined row that passes the residual, reporting progress, until the
  // rows end or the callback aborts (after the row at hand).
  template <class Each>
  void RowLoop(Each&& each) {
    TSourceDataFile& driving_table = *s_.source_tables.front();
    TDataFile& driving = *driving_table.data_file;
    const uint32_t total = driving.GetRecordCount();
    int32_t counter = 1;
    uint32_t last_position = 0;
    bool abort = false;
    if (!FirstJoinedRow(driving_table)) return;
    while (NextJoinedRow(driving_table)) {
      const uint32_t position = driving.GetCurrentRecordNumber();
      if (position != last_position) {
        ++counter;
        last_position = position;
        // Another process may insert while the loop runs: the count read before it can be 0.
        const double percent = total == 0 ? 100.0 : std::min(100.0, counter * 100.0 / total);
        q_.ReportQueryProgress(counter, static_cast<uint16_t>(percent), abort);
      }
      if (PassesResidual()) each();
      if (abort) break;
    }
  }

  // The value of an INSERT or UPDATE target, or the statement's mismatch message.
  void StoreValue(TDataFile& file, const TUpdateDataField& target, const TUpdateDataValue& value,
                  const ExpressionNode& result, uint8_t* record, const char* statement) {
    const TFieldDefinition& f = file.GetFieldDefinition(TFieldSet::kTable, target.field_number);
    uint8_t stored[kUpdateValueAreaSize] = {};
    bool blank = false;
    if (!ConvertUpdateValue(result, f, stored, blank)) {
      TQueryBinder::Fail("Type mismatch between column " + f.name + " and constant value " +
                         value.expression_text + " in " + statement + " statement");
    }
    file.PutFieldValue(TFieldSet::kTable, target.field_number, false, blank ? nullptr : stored,
                       record);
  }

  // ---- DELETE and UPDATE ----

  void ExecuteChange(bool update) {
    TSourceDataFile& table = *s_.source_tables.front();
    TDataFile& file = *table.data_file;
    DropTableFilters(s_);
    CheckConditions();
    TableLockGuard lock(file);
    AssignTableFilters(s_, FilterOptions(false));
    q_.rows_affected_ = 0;
    // The rows are chosen first and changed afterwards: a change moves the cursor (a deleted
    // record's successor becomes current) and may move a row out of the filters.
    std::vector<std::string> bookmarks;
    RowLoop([&] {
      std::string key(file.GetCurrentKeyLength(), '\0');
      file.GetCurrentKey(reinterpret_cast<uint8_t*>(key.data()));
      bookmarks.push_back(std::move(key));
    });
    std::vector<ExpressionNode> results(s_.values.size());
    for (const std::string& key : bookmarks) {
      if (!file.FindKey(reinterpret_cast<const uint8_t*>(key.data()), false)) continue;
      if (!update) {
        file.DeleteRecord();
        ++q_.rows_affected_;
        continue;
      }
      if (file.GetCurrentRecord(table.record_buffer.data(), true) != 0) continue;
      // Every value reads the row as it was before the statement changed it.
      for (size_t i = 0; i < s_.values.size(); ++i) Evaluate(*s_.values[i]->expression, results[i]);
      for (size_t i = 0; i < s_.values.size(); ++i) {
        StoreValue(file, *s_.target_columns[i], *s_.values[i], results[i],
                   table.record_buffer.data(), "UPDATE");
      }
      file.ModifyRecord(table.record_buffer.data());
      ++q_.rows_affected_;
    }
  }

  void ExecuteInsert() {
    TSourceDataFile& table = *s_.source_tables.front();
    TDataFile& file = *table.data_file;
    TableLockGuard lock(file);
    q_.rows_affected_ = 0;
    file.ApplyFieldDefaults(table.record_buffer.data());
    for (size_t i = 0; i < s_.values.size(); ++i) {
      ExpressionNode result;
      Evaluate(*s_.values[i]->expression, result);
      StoreValue(file, *s_.target_columns[i], *s_.values[i], result, table.record_buffer.data(),
                 "INSERT");
    }
    file.InsertRecord(table.record_buffer.data());
    q_.rows_affected_ = 1;
  }

  // ---- SELECT ----

  uint16_t ExecuteSelect(TDataFile*& handle) {
    DropTableFilters(s_);
    CheckConditions();
    if (q_.live_result_) {
      TDataFile& file = *s_.source_tables.front()->data_file;
      file.SetCurrentIndexByNumber(q_.order_served_ ? q_.order_index_ : kRecordOrderIndex);
      AssignTableFilters(s_, FilterOptions(true));
      file.MoveToBeginning();
      handle = &file;
      q_.executed_ = true;
      return 0;
    }
    std::optional<ReadLocksGuard> read_locks;
    if (s_.with_locks) read_locks.emplace(s_);
    TDataFile& result = *q_.result_;
    new_row_.assign(result.GetRecordBufferSize(), 0);
    stored_row_.assign(result.GetRecordBufferSize(), 0);
    result.EmptyTable();
    const bool grouped = s_.has_group || q_.aggregate_only_;
    if (s_.distinct && s_.has_order && !q_.order_serves_group_) {
      result.SetCurrentIndexByName("Distinct");
    } else if (s_.distinct) {
      result.SetCurrentIndexByNumber(0);
    } else if (!grouped) {
      result.SetCurrentIndexByNumber(kRecordOrderIndex);
    } else if (s_.has_group && s_.has_order && !q_.order_serves_group_) {
      result.SetCurrentIndexByName("GroupBy");
    } else {
      result.SetCurrentIndexByNumber(0);
    }
    AssignTableFilters(s_, FilterOptions(q_.aggregate_only_));
    arguments_ = std::vector<ExpressionNode>(s_.select_columns.size());
    uint16_t code = 0;
    if (q_.aggregate_only_) {
      code = FillAggregateOnly();
    } else if (grouped) {
      code = FillGrouped();
    } else {
      code = FillPlain();
    }
    if (code != 0) return code;
    if (s_.has_average) FinishAverages();
    result.SetCurrentIndexByNumber(0);
    result.MoveToBeginning();
    handle = &result;
    q_.executed_ = true;
    return 0;
  }

  // The new row: defaults, plain columns copied, computed columns evaluated; the arguments of
  // the aggregates evaluated aside.  0, or the code of a blob that could not be copied.
  uint16_t FillRow(uint8_t* row) {
    TDataFile& result = *q_.result_;
    result.ApplyFieldDefaults(row);
    for (size_t i = 0; i < s_.select_columns.size(); ++i) {
      const TResultDataField& c = *s_.select_columns[i];
      const auto& bound = q_.bound_[i];
      if (c.aggregate != kAggregateNone) {
        if (!bound.count_star) Evaluate(*c.expression->first, arguments_[i]);
        continue;
      }
      if (c.computed || bound.source == nullptr) {
        ExpressionNode value;
        Evaluate(*c.expression, value);
        PutValue(bound.result_field, value, row);
        continue;
      }
      TSourceDataFile& source = *bound.source;
      if (source.null_row) continue;
      TDataFile& file = *source.data_file;
      const TFieldDefinition& f = file.GetFieldDefinition(TFieldSet::kTable, bound.source_field);
      if (f.IsBlob()) {
        if (const uint16_t code = CopyBlob(source, f.number, bound.result_field, row)) return code;
        continue;
      }
      uint8_t value[kUpdateValueAreaSize] = {};
      if (!file.GetFieldValue(TFieldSet::kTable, f.number, value, source.record_buffer.data())) {
        result.PutFieldValue(TFieldSet::kTable, bound.result_field, false, value, row);
      }
    }
    return 0;
  }

  uint16_t CopyBlob(TSourceDataFile& source, uint16_t field, uint16_t result_field, uint8_t* row) {
    TDataFile& file = *source.data_file;
    TDataFile& result = *q_.result_;
    uint8_t* record = source.record_buffer.data();
    if (file.GetFieldValue(TFieldSet::kTable, field, nullptr, record)) return 0;
    if (file.OpenBlob(TFieldSet::kTable, field, 0, record) != 0) return kBlobCopyFailed;
    int32_t size = 0;
    uint16_t code = file.GetBlobSize(TFieldSet::kTable, field, size, record);
    std::vector<uint8_t> data(static_cast<size_t>(std::max(size, 0)));
    int32_t count = 0;
    if (code == 0 && size > 0) {
      code = file.ReadBlob(TFieldSet::kTable, field, count, size, data.data(), 0, record);
    }
    file.CloseBlob(TFieldSet::kTable, field, record);
    if (code != 0 || count != size) return kBlobCopyFailed;
    if (size == 0) return 0;
    if (result.OpenBlob(TFieldSet::kTable, result_field, 0, row) != 0 ||
        result.WriteBlob(TFieldSet::kTable, result_field, size, data.data(), 0, row) != 0) {
      return kBlobCopyFailed;
    }
    has_blobs_ = true;
    return 0;
  }

  void PutValue(uint16_t field, const ExpressionNode& value, uint8_t* row) {
    TDataFile& result = *q_.result_;
    const TFieldDefinition& f = result.GetFieldDefinition(TFieldSet::kTable, field);
    uint8_t stored[kUpdateValueAreaSize] = {};
    const bool has_value = ExpressionValueToStored(value, f, false, stored);
    result.PutFieldValue(TFieldSet::kTable, field, false, has_value ? stored : nullptr, row);
  }

  void AfterRow() {
    if (!has_blobs_) return;
    q_.result_->FlushBlobFile();
  }

  uint16_t FillPlain() {
    TDataFile& result = *q_.result_;
    uint16_t code = 0;
    RowLoop([&] {
      if (code != 0) return;
      if ((code = FillRow(new_row_.data())) != 0) return;
      if (s_.distinct && result.FindRecordByKey(new_row_.data(), stored_row_.data())) return;
      result.InsertRecord(new_row_.data());
      AfterRow();
    });
    return code;
  }

  uint16_t FillGrouped() {
    TDataFile& result = *q_.result_;
    uint16_t code = 0;
    RowLoop([&] {
      if (code != 0) return;
      if ((code = FillRow(new_row_.data())) != 0) return;
      if (result.FindRecordByKey(new_row_.data(), stored_row_.data())) {
        CombineAll(stored_row_.data());
        result.ModifyRecord(stored_row_.data());
      } else {
        CombineAll(new_row_.data());
        result.InsertRecord(new_row_.data());
      }
      AfterRow();
    });
    return code;
  }

  uint16_t FillAggregateOnly() {
    TDataFile& result = *q_.result_;
    result.ApplyFieldDefaults(stored_row_.data());
    const bool single_count = s_.source_tables.size() == 1 && s_.select_columns.size() == 1 &&
                              q_.bound_[0].count_star && !s_.residual;
    if (single_count) {
      // The filters alone decide the count: no record is read.
      const uint32_t count = s_.source_tables.front()->data_file->GetRecordCount();
      ExpressionNode value;
      value.type = kExprTypeInt32;
      value.SetInt32(static_cast<int32_t>(std::min<uint32_t>(count, INT32_MAX)));
      PutValue(q_.bound_[0].result_field, value, stored_row_.data());
      bool abort = false;
      q_.ReportQueryProgress(static_cast<int32_t>(count), 100, abort);
    } else {
      uint16_t code = 0;
      RowLoop([&] {
        if (code != 0) return;
        if ((code = FillRow(new_row_.data())) != 0) return;
        CombineAll(stored_row_.data());
      });
      if (code != 0) return code;
    }
    // Over no rows COUNT is 0, as the shortcut gives.
    for (size_t i = 0; i < s_.select_columns.size(); ++i) {
      if (s_.select_columns[i]->aggregate != kAggregateCount) continue;
      const uint16_t field = q_.bound_[i].result_field;
      if (result.GetFieldValue(TFieldSet::kTable, field, nullptr, stored_row_.data())) {
        ExpressionNode zero;
        zero.type = kExprTypeInt32;
        zero.SetInt32(0);
        PutValue(field, zero, stored_row_.data());
      }
    }
    result.InsertRecord(stored_row_.data());
    return 0;
  }

  // ---- aggregates ----

  // The hidden count field of the k-th AVG column (0-based).
  uint16_t AverageCountField(size_t column) const {
    uint16_t field = static_cast<uint16_t>(s_.select_columns.size() + 2);
    for (size_t i = 0; i < column; ++i) {
      if (s_.select_columns[i]->aggregate == kAggregateAvg) ++field;
    }
    return field;
  }

  ExpressionNode ReadResultValue(uint16_t field, const uint8_t* row) {
    TDataFile& result = *q_.result_;
    const TFieldDefinition& f = result.GetFieldDefinition(TFieldSet::kTable, field);
    ExpressionNode value;
    BindColumnNode(f, value);
    uint8_t stored[kUpdateValueAreaSize] = {};
    const bool blank = result.GetFieldValue(TFieldSet::kTable, field, stored, row);
    StoredToExpressionValue(f, stored, blank, value);
    return value;
  }

  [[noreturn]] void Overflow(const TResultDataField& c) {
    const std::string& name = c.column_name.empty() ? c.expression_text : c.column_name;
    TQueryBinder::Fail("Numeric overflow in aggregate function for column '" + name + "'");
  }

  void AddCount(uint16_t field, uint8_t* row) {
    ExpressionNode count = ReadResultValue(field, row);
    const int32_t n = count.is_null ? 0 : count.Int32Value();
    count.is_null = 0;
    count.SetInt32(n + 1);
    PutValue(field, count, row);
  }

  void CombineAll(uint8_t* row) {
    for (size_t i = 0; i < s_.select_columns.size(); ++i) {
      const TResultDataField& c = *s_.select_columns[i];
      if (c.aggregate == kAggregateNone) continue;
      const uint16_t field = q_.bound_[i].result_field;
      if (c.aggregate == kAggregateCount) {
        if (q_.bound_[i].count_star || !arguments_[i].is_null) AddCount(field, row);
        continue;
      }
      const ExpressionNode& value = arguments_[i];
      if (value.is_null) continue;
      ExpressionNode acc = ReadResultValue(field, row);
      switch (c.aggregate) {
        case kAggregateAvg: {
          ExpressionNode as_float;
          ConvertValue(value, kExprTypeFloat, 0, as_float);
          acc.SetFloat((acc.is_null ? 0.0 : acc.FloatValue()) + as_float.FloatValue());
          acc.is_null = 0;
          AddCount(AverageCountField(i), row);
          break;
        }
        case kAggregateSum:
          if (acc.is_null) {
            ConvertValue(value, acc.type, acc.decimals, acc);
            acc.is_null = value.is_null;
          } else {
            AddInto(acc, value, c);
          }
          break;
        case kAggregateMin:
        case kAggregateMax: {
          if (!acc.is_null) {
            ExpressionNode better;
            EvaluateBinaryOperator(c.aggregate == kAggregateMin ? kOpLess : kOpGreater, value, acc,
                                   better, q_.language_id_, q_.sort_id_);
            if (better.is_null || !better.BooleanValue()) continue;
          }
          const uint8_t type = acc.type;
          ConvertValue(value, type, acc.decimals, acc);
          break;
        }
        default:
          continue;
      }
      uint8_t stored[kUpdateValueAreaSize] = {};
      const TFieldDefinition& f = q_.result_->GetFieldDefinition(TFieldSet::kTable, field);
      if (!ExpressionValueToStored(acc, f, false, stored)) Overflow(c);
      q_.result_->PutFieldValue(TFieldSet::kTable, field, false, stored, row);
    }
  }

  // acc += value in acc's type; a sum its type cannot hold is an error, never a wrapped value.
  void AddInto(ExpressionNode& acc, const ExpressionNode& value, const TResultDataField& c) {
    ExpressionNode v;
    ConvertValue(value, acc.type, acc.decimals, v);
    auto check = [&](int64_t sum, int64_t low, int64_t high) {
      if (sum < low || sum > high) Overflow(c);
      return sum;
    };
    switch (acc.type) {
      case kFieldInt16:
        acc.SetInt16(static_cast<int16_t>(
            check(int64_t{acc.Int16Value()} + v.Int16Value(), INT16_MIN, INT16_MAX)));
        break;
      case kFieldWord:
        acc.SetWord(
            static_cast<uint16_t>(check(int64_t{acc.WordValue()} + v.WordValue(), 0, UINT16_MAX)));
        break;
      case kFieldInt32:
        acc.SetInt32(static_cast<int32_t>(
            check(int64_t{acc.Int32Value()} + v.Int32Value(), INT32_MIN, INT32_MAX)));
        break;
      case kFieldDate:
      case kFieldTime:
        acc.SetUInt32(static_cast<uint32_t>(
            check(int64_t{acc.UInt32Value()} + v.UInt32Value(), 0, UINT32_MAX)));
        break;
      case kFieldMoney: {
        int64_t sum = 0;
        if (__builtin_add_overflow(acc.Int64Value(), v.Int64Value(), &sum)) Overflow(c);
        acc.SetInt64(sum);
        break;
      }
      default: {
        const double sum = acc.FloatValue() + v.FloatValue();
        if (!std::isfinite(sum)) Overflow(c);
        acc.SetFloat(sum);
        break;
      }
    }
  }

  void FinishAverages() {
    TDataFile& result = *q_.result_;
    result.SetCurrentIndexByNumber(kRecordOrderIndex);
    result.MoveToBeginning();
    while (result.GetNextRecord(stored_row_.data()) == 0) {
      for (size_t i = 0; i < s_.select_columns.size(); ++i) {
        if (s_.select_columns[i]->aggregate != kAggregateAvg) continue;
        const uint16_t field = q_.bound_[i].result_field;
        ExpressionNode sum = ReadResultValue(field, stored_row_.data());
        ExpressionNode count = ReadResultValue(AverageCountField(i), stored_row_.data());
        const int32_t n = count.is_null ? 0 : count.Int32Value();
        ExpressionNode average;
        average.type = kExprTypeFloat;
        // No values (no rows, or only NULLs) average to 0.
        average.SetFloat(n == 0 || sum.is_null ? 0.0 : sum.FloatValue() / n);
        PutValue(field, average, stored_row_.data());
      }
      result.ModifyRecord(stored_row_.data());
    }
  }

  TDataQuery& q_;
  TQueryStatement& s_;
  TQueryBinder binder_;
  TSourceDataFile* last_source_ = nullptr;
  Row new_row_;
  Row stored_row_;
  std::vector<ExpressionNode> arguments_;
  bool has_blobs_ = false;
};

uint16_t TDataQuery::ExecuteQuery(TDataFile*& result) {
  result = nullptr;
  if (!prepared_ || executed_) return kErrUnknownOSError;
  uint16_t code = 0;
  try {
    code = TQueryExecutor(*this).Execute(result);
  } catch (...) {
    Unprepare();
    throw;
  }
  if (code != 0) {
    result = nullptr;
    Unprepare();
  }
  return code;
}

}  // namespace tessera
