// ExecuteQuery: the row loop over the joined sources and what each statement kind does with the
// rows.  Every lock taken here (the table lock of a change, the read locks of WITH LOCKS) is held
// by a guard that gives it back on every exit.
//
// Grouping and DISTINCT go by the result index's keys (BuildKey), kept in memory while the rows
// come: a group's aggregates accumulate beside it and its row is stored once, in the order the
// groups were first met, so the result is the one a find-then-modify on that index would give,
// without an index search and a record rewrite for every row.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Collation.h"
#include "classlib/rtl/ShortString.h"
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
#include "engine/storage/index/KeyCompare.h"
#include "engine/storage/table/FieldAccess.h"
#include "engine/storage/table/FieldExpressionValues.h"
#include "engine/storage/table/TDataFile.h"

namespace tessera {

namespace {

constexpr uint16_t kBlobCopyFailed = kErrUnknownOSError;
// Rows of a plain result kept in memory to be stored together (AppendRecords).
constexpr size_t kGatheredRowBytes = size_t{64} << 20;

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
    // Values holding parameters were left unchecked by binding (their types were not known).
    const ColumnLookup value_lookup = binder_.ValueLookup();
    for (auto& value : s_.values) {
      std::vector<ExpressionNode*> parameters;
      CollectParameters(value->expression.get(), parameters);
      if (!parameters.empty()) CheckExpression("update values", *value->expression, value_lookup);
    }
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
    if (ReadPlainNumber(*t->data_file, f, t->record_buffer.data(), column)) return;
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
    uint32_t last_record = 0;
    bool abort = false;
    if (!FirstJoinedRow(driving_table)) return;
    while (NextJoinedRow(driving_table)) {
      // The driving table moved on when its buffer holds another record: the record's own
      // number says so without counting the cursor's position in the range.
      const uint32_t record = cl::GetU32LE(driving_table.record_buffer.data() + kRecLink);
      if (record != last_record) {
        ++counter;
        last_record = record;
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

  // A row as it was before the statement changed it; for a delete, which frees the row's blobs,
  // their contents too.
  struct BeforeImage {
    Row record;
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> blobs;
  };

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
    // The table lock keeps every other writer out, so putting these back undoes the statement.
    std::vector<BeforeImage> changed;
    uint8_t* record = table.record_buffer.data();
    try {
      for (const std::string& key : bookmarks) {
        if (!file.FindKey(reinterpret_cast<const uint8_t*>(key.data()), false)) continue;
        if (file.GetCurrentRecord(record, update) != 0) continue;
        BeforeImage image{Row(record, record + table.record_buffer.size()), {}};
        if (update) {
          // Every value reads the row as it was before the statement changed it.
          for (size_t i = 0; i < s_.values.size(); ++i) {
            Evaluate(*s_.values[i]->expression, results[i]);
          }
          for (size_t i = 0; i < s_.values.size(); ++i) {
            StoreValue(file, *s_.target_columns[i], *s_.values[i], results[i], record, "UPDATE");
          }
        } else {
          ReadBlobsOf(file, image);
        }
        // Kept before the write: one that fails in its own commit may have changed the files.
        changed.push_back(std::move(image));
        update ? file.ModifyRecord(record) : file.DeleteRecord();
        ++q_.rows_affected_;
      }
    } catch (...) {
      q_.rows_affected_ = 0;
      PutBack(file, changed, update);
      throw;
    }
  }

  void ReadBlobsOf(TDataFile& file, BeforeImage& image) {
    for (const TFieldDefinition& f : file.TableFields()) {
      if (!f.IsBlob() ||
          file.GetFieldValue(TFieldSet::kTable, f.number, nullptr, image.record.data())) {
        continue;
      }
      std::vector<uint8_t> data;
      if (const uint16_t code = ReadBlobData(file, f.number, image.record.data(), data)) {
        RaiseEngineError(code, cl::ToShort(file.FileName()));
      }
      image.blobs.emplace_back(f.number, std::move(data));
    }
  }

  // Undoes the changes of a failed UPDATE or DELETE, last first, so that each step meets the
  // table as it was when that change was made (no key can clash).  A step that fails leaves its
  // row as the statement left it; the others are still put back, and the caller passes on the
  // statement's own error, which is the one the user must see.
  void PutBack(TDataFile& file, std::vector<BeforeImage>& changed, bool update) noexcept {
    try {
      DropTableFilters(s_);
      file.SetCurrentIndexByNumber(kRecordOrderIndex);
    } catch (...) {
      return;  // without the record order no row can be found again
    }
    uint8_t key[kMaxKeyLength] = {};
    Row current(file.GetRecordBufferSize());
    for (auto it = changed.rbegin(); it != changed.rend(); ++it) {
      uint8_t* record = it->record.data();
      try {
        file.BuildKey(record, key);  // the record number: the record order's key
        const bool stands = file.FindKey(key, false);
        if (update) {
          if (stands && file.GetCurrentRecord(current.data(), true) == 0) {
            file.ModifyRecord(record);
          }
          continue;
        }
        // The last delete may have failed before it took effect.
        if (stands) continue;
        // The deleted row's blob blocks were freed: its values are written afresh (a value that
        // cannot be written stays blank rather than name blocks another row may now hold).
        for (const auto& blob : it->blobs) {
          file.PutFieldValue(TFieldSet::kTable, blob.first, false, nullptr, record);
        }
        for (const auto& [field, data] : it->blobs) {
          if (data.empty()) continue;
          if (file.OpenBlob(TFieldSet::kTable, field, 0, record) != 0 ||
              file.WriteBlob(TFieldSet::kTable, field, static_cast<int32_t>(data.size()),
                             data.data(), 0, record) != 0) {
            break;
          }
        }
        file.InsertRecord(record);
      } catch (...) {
        // See above: the statement's error goes on; this row stays as the statement left it.
      }
    }
  }

  void ExecuteInsert() {
    TSourceDataFile& table = *s_.source_tables.front();
    TDataFile& file = *table.data_file;
    CheckConditions();
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
    for (size_t i = 0; i < s_.select_columns.size(); ++i) {
      const TResultDataField& c = *s_.select_columns[i];
      if (c.aggregate == kAggregateNone || q_.bound_[i].count_star) continue;
      if (IsPlainColumn(c.expression->first.get())) {
        arguments_[i].Fields() = c.expression->first->Fields();
      }
    }
    uint16_t code = 0;
    if (q_.aggregate_only_) {
      code = FillAggregateOnly();
    } else if (grouped) {
      code = FillGrouped();
    } else {
      code = FillPlain();
    }
    if (code != 0) return code;
    if (!s_.into_name.empty()) {
      binder_.ReplaceIntoTarget();
      q_.rows_affected_ =
          static_cast<int32_t>(std::min<uint32_t>(result.GetRecordCount(), INT32_MAX));
    }
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
    if (blank_row_.empty()) {
      // The result's defaults are the same for every row: applied once, copied after.
      blank_row_.assign(result.GetRecordBufferSize(), 0);
      result.ApplyFieldDefaults(blank_row_.data());
      // So are the definitions of the columns that copy a source field: looked up once.
      copies_.assign(s_.select_columns.size(), {});
      for (size_t i = 0; i < s_.select_columns.size(); ++i) {
        const TResultDataField& c = *s_.select_columns[i];
        const auto& bound = q_.bound_[i];
        if (c.aggregate != kAggregateNone || c.computed || bound.source == nullptr) continue;
        copies_[i] = {
            &bound.source->data_file->GetFieldDefinition(TFieldSet::kTable, bound.source_field),
            &result.GetFieldDefinition(TFieldSet::kTable, bound.result_field)};
      }
    }
    std::copy(blank_row_.begin(), blank_row_.end(), row);
    for (size_t i = 0; i < s_.select_columns.size(); ++i) {
      const TResultDataField& c = *s_.select_columns[i];
      const auto& bound = q_.bound_[i];
      if (c.aggregate != kAggregateNone) {
        if (bound.count_star) continue;
        const ExpressionNode& argument = *c.expression->first;
        if (IsPlainColumn(&argument)) {
          // A column is read straight from its table's row (the node was bound to it once).
          ReadColumn(arguments_[i]);
        } else {
          Evaluate(argument, arguments_[i]);
        }
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
      const TFieldDefinition& f = *copies_[i].source;
      if (f.IsBlob()) {
        if (const uint16_t code = CopyBlob(source, f.number, bound.result_field, row)) return code;
        continue;
      }
      const TFieldDefinition& target = *copies_[i].target;
      const uint8_t* stored = source.record_buffer.data() + f.offset;
      if (!f.IsAutoIncrement() && target.stored_size == f.stored_size) {
        // The result's field copies the source's definition: the value goes over from the
        // source record as it stands (a blank one leaves the row's blank), through the put's own
        // rules.  The result has no computed fields to evaluate after it.
        if (stored[0] != 0) tessera::PutFieldValue(target, false, stored + 1, row, {});
        continue;
      }
      // The source writes its stored size; only what the result's field reads past it is cleared.
      uint8_t value[kUpdateValueAreaSize];
      if (target.stored_size > f.stored_size && f.stored_size < sizeof value) {
        std::memset(value + f.stored_size, 0, sizeof value - f.stored_size);
      }
      if (!file.GetFieldValue(TFieldSet::kTable, f.number, value, source.record_buffer.data())) {
        result.PutFieldValue(TFieldSet::kTable, bound.result_field, false, value, row);
      }
    }
    return 0;
  }

  uint16_t CopyBlob(TSourceDataFile& source, uint16_t field, uint16_t result_field, uint8_t* row) {
    TDataFile& result = *q_.result_;
    uint8_t* record = source.record_buffer.data();
    if (source.data_file->GetFieldValue(TFieldSet::kTable, field, nullptr, record)) return 0;
    std::vector<uint8_t> data;
    if (ReadBlobData(*source.data_file, field, record, data) != 0) return kBlobCopyFailed;
    if (data.empty()) return 0;
    if (result.OpenBlob(TFieldSet::kTable, result_field, 0, row) != 0 ||
        result.WriteBlob(TFieldSet::kTable, result_field, static_cast<int32_t>(data.size()),
                         data.data(), 0, row) != 0) {
      return kBlobCopyFailed;
    }
    has_blobs_ = true;
    open_blobs_.push_back(result_field);
    return 0;
  }

  // The whole value of a blob field that is not blank; 0, or the engine's code of the failure
  // (kBlobCopyFailed for a value shorter than its size).
  static uint16_t ReadBlobData(TDataFile& file, uint16_t field, uint8_t* record,
                               std::vector<uint8_t>& data) {
    if (const uint16_t code = file.OpenBlob(TFieldSet::kTable, field, 0, record)) return code;
    int32_t size = 0;
    uint16_t code = file.GetBlobSize(TFieldSet::kTable, field, size, record);
    data.assign(static_cast<size_t>(std::max(size, 0)), 0);
    int32_t count = 0;
    if (code == 0 && size > 0) {
      code = file.ReadBlob(TFieldSet::kTable, field, count, size, data.data(), 0, record);
    }
    file.CloseBlob(TFieldSet::kTable, field, record);
    return code != 0 ? code : count != size ? kBlobCopyFailed : 0;
  }

  void PutValue(uint16_t field, const ExpressionNode& value, uint8_t* row) {
    TDataFile& result = *q_.result_;
    const TFieldDefinition& f = result.GetFieldDefinition(TFieldSet::kTable, field);
    uint8_t stored[kUpdateValueAreaSize] = {};
    const bool has_value = ExpressionValueToStored(value, f, false, stored);
    result.PutFieldValue(TFieldSet::kTable, field, false, has_value ? stored : nullptr, row);
  }

  // The blobs CopyBlob opened for `row` are closed once the row is stored (or dropped): left
  // open, the next row's insert would store them again, under that row's number.
  void CloseRowBlobs(uint8_t* row) {
    for (const uint16_t field : open_blobs_) q_.result_->CloseBlob(TFieldSet::kTable, field, row);
    open_blobs_.clear();
  }

  void AfterRow(uint8_t* row) {
    CloseRowBlobs(row);
    if (!has_blobs_) return;
    q_.result_->FlushBlobFile();
  }

  // The key of `row` in the result's current index: rows with equal keys are one group, or
  // duplicates under DISTINCT.
  std::string KeyOf(const uint8_t* row) {
    TDataFile& result = *q_.result_;
    key_.resize(kMaxKeyLength);
    result.BuildKey(row, key_.data());
    return std::string(reinterpret_cast<const char*>(key_.data()), result.GetCurrentKeyLength());
  }

  uint16_t FillPlain() {
    TDataFile& result = *q_.result_;
    uint16_t code = 0;
    // Without blob values or DISTINCT the rows are kept and stored together at the end, which
    // sorts each index's keys once instead of searching the index for every row.  Past the bound
    // the rows gathered so far are stored and the rest go one by one.
    const bool gather = !s_.distinct && result.BlobFile() == nullptr;
    const size_t row_size = new_row_.size();
    std::vector<uint8_t> gathered;
    if (gather) {
      // Room for a row per driving record, so that the rows are not copied again as they grow.
      const size_t records = s_.source_tables.front()->data_file->GetPhysicalRecordCount();
      gathered.reserve(std::min(kGatheredRowBytes, records * row_size));
    }
    bool stored = false;
    auto store_gathered = [&] {
      if (stored) return;
      stored = true;
      const size_t count = gathered.size() / row_size;
      if (s_.has_order && count > 1) SortRows(result, gathered, row_size);
      result.AppendRecords(gathered.data(), count);
      gathered = {};
    };
    // The keys already stored, so that DISTINCT asks no index for each row.
    std::unordered_set<std::string> seen;
    RowLoop([&] {
      if (code != 0) return;
      if ((code = FillRow(new_row_.data())) != 0) return;
      if (s_.distinct && !seen.insert(KeyOf(new_row_.data())).second) {
        CloseRowBlobs(new_row_.data());
        return;
      }
      if (gather && !stored) {
        gathered.insert(gathered.end(), new_row_.begin(), new_row_.end());
        if (gathered.size() >= kGatheredRowBytes) store_gathered();
        return;
      }
      result.InsertRecord(new_row_.data());
      AfterRow(new_row_.data());
    });
    if (gather && code == 0) store_gathered();
    return code;
  }

  // Puts the gathered rows in the order of the result's primary (ORDER BY) index, equal keys in
  // the order they came, so that they are stored in the order they are read back and their keys
  // need no sort there: each row's key gives once the first eight bytes of a byte string that
  // compares as the key does, held as a number beside the row; keys whose heads are equal are
  // compared whole.  The stored rows' own check of their order makes this a matter of speed alone.
  static void SortRows(TDataFile& result, std::vector<uint8_t>& rows, size_t row_size) {
    const size_t count = rows.size() / row_size;
    const TIndexDescriptor d = result.GetIndexDescriptor(0);
    const TKeyOrder order(result.IndexFile(), 0, d);
    const size_t k = std::max<size_t>(d.key_length, 1);
    std::vector<uint8_t> keys(count * k);
    std::vector<uint8_t> head;
    struct Entry {
      uint64_t head;
      uint32_t row;
    };
    std::vector<Entry> entries(count);
    for (size_t i = 0; i < count; ++i) {
      uint8_t* key = keys.data() + i * k;
      result.BuildKey(rows.data() + i * row_size, key, 0, d);
      head.clear();
      order.AppendSortKey(key, d.key_length, head, 8);
      uint64_t number = 0;
      for (size_t j = 0; j < 8; ++j) number = number << 8 | (j < head.size() ? head[j] : 0);
      entries[i] = {number, static_cast<uint32_t>(i)};
    }
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
      if (a.head != b.head) return a.head < b.head;
      const int r = order.Compare(keys.data() + size_t{a.row} * k, keys.data() + size_t{b.row} * k,
                                  d.key_length);
      return r != 0 ? r < 0 : a.row < b.row;
    });
    // The rows move in place, cycle by cycle, through one row aside: no second copy of them all.
    std::vector<uint8_t> aside(row_size);
    uint8_t* base = rows.data();
    for (size_t i = 0; i < count; ++i) {
      if (entries[i].row == i) continue;
      std::memcpy(aside.data(), base + i * row_size, row_size);
      size_t at = i;
      for (;;) {
        const size_t from = std::exchange(entries[at].row, static_cast<uint32_t>(at));
        if (from == i) {
          std::memcpy(base + at * row_size, aside.data(), row_size);
          break;
        }
        std::memcpy(base + at * row_size, base + from * row_size, row_size);
        at = from;
      }
    }
  }

  // Groups are accumulated in memory, keyed as the result's index keys them, and stored in the
  // order they were first met (which is the order a find-then-modify on the index gives them).
  uint16_t FillGrouped() {
    TDataFile& result = *q_.result_;
    uint16_t code = 0;
    std::unordered_map<std::string, size_t> groups;
    std::vector<Row> rows;
    std::vector<Accumulators> accumulators;
    RowLoop([&] {
      if (code != 0) return;
      if ((code = FillRow(new_row_.data())) != 0) return;
      auto [it, added] = groups.emplace(KeyOf(new_row_.data()), rows.size());
      if (added) {
        rows.push_back(new_row_);
        accumulators.emplace_back(s_.select_columns.size());
      }
      Combine(accumulators[it->second]);
    });
    if (code != 0) return code;
    for (size_t g = 0; g < rows.size(); ++g) {
      StoreAccumulators(accumulators[g], rows[g].data());
      result.InsertRecord(rows[g].data());
      AfterRow(rows[g].data());
    }
    return 0;
  }

  uint16_t FillAggregateOnly() {
    TDataFile& result = *q_.result_;
    result.ApplyFieldDefaults(stored_row_.data());
    Accumulators accumulators(s_.select_columns.size());
    const bool single_count = s_.source_tables.size() == 1 && s_.select_columns.size() == 1 &&
                              q_.bound_[0].count_star && !s_.residual;
    if (single_count) {
      // The filters alone decide the count: no record is read.
      const uint32_t count = s_.source_tables.front()->data_file->GetRecordCount();
      accumulators[0].count = count;
      bool abort = false;
      q_.ReportQueryProgress(static_cast<int32_t>(std::min<uint32_t>(count, INT32_MAX)), 100,
                             abort);
    } else {
      uint16_t code = 0;
      RowLoop([&] {
        if (code != 0) return;
        if ((code = FillRow(new_row_.data())) != 0) return;
        Combine(accumulators);
      });
      if (code != 0) return code;
    }
    StoreAccumulators(accumulators, stored_row_.data());
    result.InsertRecord(stored_row_.data());
    return 0;
  }

  // ---- aggregates ----

  // The number a value of the plain numeric types holds, as the evaluator reads it.
  static bool PlainNumber(const ExpressionNode& v, double& out) {
    switch (v.type) {
      case kExprTypeInt16:
        out = v.Int16Value();
        return true;
      case kExprTypeWord:
        out = v.WordValue();
        return true;
      case kExprTypeInt32:
        out = v.Int32Value();
        return true;
      case kExprTypeFloat:
        out = v.FloatValue();
        return true;
      default:
        return false;
    }
  }

  // One aggregate of one group: COUNT counts; AVG sums as a float and counts its values; SUM, MIN
  // and MAX hold their value in the result column's type once `count` values came.
  struct Accumulator {
    ExpressionNode value;
    int64_t count = 0;
    double sum = 0;
  };
  using Accumulators = std::vector<Accumulator>;  // per select column; unused for the others

  const TFieldDefinition& ResultField(size_t column) const {
    return q_.result_->GetFieldDefinition(TFieldSet::kTable, q_.bound_[column].result_field);
  }

  void Combine(Accumulators& accumulators) {
    for (size_t i = 0; i < s_.select_columns.size(); ++i) {
      const TResultDataField& c = *s_.select_columns[i];
      if (c.aggregate == kAggregateNone) continue;
      Accumulator& acc = accumulators[i];
      const ExpressionNode& value = arguments_[i];
      if (c.aggregate == kAggregateCount) {
        if (q_.bound_[i].count_star || !value.is_null) ++acc.count;
        continue;
      }
      if (value.is_null) continue;
      switch (c.aggregate) {
        case kAggregateAvg: {
          // Integers are added as floats, never copied as raw bytes into the float sum.
          double number = 0;
          if (!PlainNumber(value, number)) {
            ConvertValue(value, kExprTypeFloat, 0, scratch_);
            number = scratch_.FloatValue();
          }
          acc.sum += number;
          break;
        }
        case kAggregateSum:
          if (acc.count == 0) {
            const TFieldDefinition& f = ResultField(i);
            ConvertValue(value, f.type, f.decimals_copy, acc.value);
          } else {
            AddInto(acc.value, value, c);
          }
          break;
        default: {
          if (acc.count > 0) {
            double a = 0, b = 0;
            if (value.type == acc.value.type && PlainNumber(value, a) &&
                PlainNumber(acc.value, b)) {
              // Numbers of one type compare as the evaluator compares them.
              if (c.aggregate == kAggregateMin ? !(a < b) : !(a > b)) break;
            } else {
              EvaluateBinaryOperator(c.aggregate == kAggregateMin ? kOpLess : kOpGreater, value,
                                     acc.value, scratch_, q_.language_id_, q_.sort_id_);
              if (scratch_.is_null || !scratch_.BooleanValue()) break;
            }
          }
          const TFieldDefinition& f = ResultField(i);
          ConvertValue(value, f.type, f.decimals_copy, acc.value);
          break;
        }
      }
      ++acc.count;
    }
  }

  // The group's aggregates into its row: a COUNT of nothing is 0, an AVG of nothing 0 (with its
  // hidden count beside it), a SUM, MIN or MAX of nothing NULL.
  void StoreAccumulators(const Accumulators& accumulators, uint8_t* row) {
    uint16_t hidden_count = static_cast<uint16_t>(s_.select_columns.size() + 2);
    for (size_t i = 0; i < s_.select_columns.size(); ++i) {
      const TResultDataField& c = *s_.select_columns[i];
      if (c.aggregate == kAggregateNone) continue;
      const Accumulator& acc = accumulators[i];
      const uint16_t field = q_.bound_[i].result_field;
      ExpressionNode value;
      if (c.aggregate == kAggregateCount || c.aggregate == kAggregateAvg) {
        if (acc.count > INT32_MAX) Overflow(c);
        ExpressionNode count;
        count.type = kExprTypeInt32;
        count.SetInt32(static_cast<int32_t>(acc.count));
        if (c.aggregate == kAggregateCount) {
          PutValue(field, count, row);
          continue;
        }
        PutValue(hidden_count++, count, row);
        value.type = kExprTypeFloat;
        value.SetFloat(acc.count == 0 ? 0.0 : acc.sum / static_cast<double>(acc.count));
      } else if (acc.count == 0) {
        continue;
      } else {
        value.Fields() = acc.value.Fields();
      }
      uint8_t stored[kUpdateValueAreaSize] = {};
      if (!ExpressionValueToStored(value, ResultField(i), false, stored)) Overflow(c);
      q_.result_->PutFieldValue(TFieldSet::kTable, field, false, stored, row);
    }
  }

  [[noreturn]] void Overflow(const TResultDataField& c) {
    const std::string& name = c.column_name.empty() ? c.expression_text : c.column_name;
    TQueryBinder::Fail("Numeric overflow in aggregate function for column '" + name + "'");
  }

  // acc += value in acc's type; a sum its type cannot hold is an error, never a wrapped value.
  void AddInto(ExpressionNode& acc, const ExpressionNode& value, const TResultDataField& c) {
    // A value of the sum's own type needs no conversion (money may change its decimals).
    const bool same = value.type == acc.type && acc.type != kFieldMoney;
    if (!same) ConvertValue(value, acc.type, acc.decimals, scratch_);
    const ExpressionNode& v = same ? value : scratch_;
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

  TDataQuery& q_;
  TQueryStatement& s_;
  TQueryBinder binder_;
  TSourceDataFile* last_source_ = nullptr;
  Row new_row_;
  Row stored_row_;
  std::vector<ExpressionNode> arguments_;
  std::vector<uint8_t> key_;
  Row blank_row_;
  // Per select column that copies a source field: the source's and the result's definitions.
  struct ColumnCopy {
    const TFieldDefinition* source = nullptr;
    const TFieldDefinition* target = nullptr;
  };
  std::vector<ColumnCopy> copies_;
  bool has_blobs_ = false;
  std::vector<uint16_t> open_blobs_;  // result fields whose blob CopyBlob opened for the row
  // Conversions and comparisons of the aggregates, kept so that no row builds a node.
  ExpressionNode scratch_;
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
