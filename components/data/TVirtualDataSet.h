// TVirtualDataSet: a dataset that holds all its records in memory.
//
// Records.  A stored record is a block of the record data size, allocated at Post and freed at
// Delete or when the records are cleared, plus one memory stream per blob field that the record
// owns.  The data block lays out the stored fields (kind fkData or fkInternalCalc, in Fields
// order) as:
//
//   non-blob field   1 null byte (0 NULL, 1 value) + DataSize() bytes of the native form
//   ...              (all non-blob fields first, in field order)
//   blob field       a pointer-sized slot holding the record's TMemoryStream* (all blob slots
//                    last, so the plain part is copied in one piece and no copy ever runs over
//                    a stream pointer)
//
// A record buffer is the data part, the calculated area (CalcFieldsSize() bytes, the layer's
// ReadCalcValue/WriteCalcValue layout), the bookmark (u32 LE record id) and the bookmark flag.
// Buffers own their blob streams too; a fetch copies blob contents stream to stream.  Nothing of
// this layout is ever written to a stream or a file.
//
// Bookmarks are per-dataset monotonic record ids looked up through an id -> record map, so a
// bookmark of a deleted record can never land on a record allocated later at the same address.
//
// Views.  The list of all records (insertion order, or sorted by the active index), the range
// list (while a range is active, in index order) and the filtered list (while Filtered, in the
// order of the list it was taken from).  The current view is the filtered list, else the range
// list, else all records; the cursor is an index into it (-1 before the first record, Count()
// after the last).  Lists hold record pointers only (TRecordList, cut into chunks so that a
// sorted insertion moves one chunk's pointers).
//
// Indexes.  With an active index (IndexFieldNames) the record list itself is kept sorted; a
// maintained index (SetIndex with `maintain`) keeps its own sorted copy of the list and becomes
// active by exchanging its members with the active ones, without sorting.  A record posted with
// a key equal to existing ones goes before them.
//
// Errors leave every list as it was: unique violations are raised before anything is allocated;
// a duplicate met while sorting for a unique index keeps the previous order.
//
// Ownership and threads: an ordinary component owned by its form or module; GUI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "classlib/db/TDataLink.h"
#include "classlib/db/TDataSet.h"
#include "classlib/db/TDataSource.h"
#include "classlib/rtl/Streams.h"
#include "classlib/rtl/Variant.h"
#include "components/data/TDataSetStreamer.h"
#include "components/data/TRecordList.h"

namespace comp {

class TFilterEvaluator;
class TVirtualDataSet;

// One stored record: its id (the bookmark) and its data block (see the class comment), which
// follows the header in the same allocation so that a compare touches one place in memory.
struct TStoredRecord {
  uint32_t id;
  uint8_t* data;
};

// Compare flags (one byte).
enum : uint8_t {
  kCmpCaseInsensitive = 1,
  kCmpPrefix = 2,
  kCmpSuffix = 4,
  kCmpContains = 8,
  kCmpDescending = 16,
};

// A secondary index: its own record list kept in its sort order.
class TMaintainedIndex {
 public:
  std::string field_names;
  std::vector<cl::TField*> fields;
  TRecordList records;
  cl::TIndexOptions options;
};

// The maintained indexes of a dataset; owns its items.
class TIndexList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TMaintainedIndex* Items(int index) const { return items_[static_cast<size_t>(index)].get(); }
  void Insert(int index, std::unique_ptr<TMaintainedIndex> item) {
    items_.insert(items_.begin() + index, std::move(item));
  }
  void Delete(int index) { items_.erase(items_.begin() + index); }
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<TMaintainedIndex>> items_;
};

// Follows the master dataset of a detail TVirtualDataSet and keeps the detail's range on the
// master's key values.
class TMasterDataLink : public cl::TDataLink {
 public:
  explicit TMasterDataLink(TVirtualDataSet* detail) : detail_(detail) {}

  const std::string& MasterFields() const { return master_fields_; }
  void SetMasterFields(const std::string& names);
  const std::vector<cl::TField*>& Fields() const { return fields_; }

 protected:
  void ActiveChanged() override;
  void LayoutChanged() override;
  void RecordChanged(cl::TField* field) override;
  void CheckBrowseMode() override;

 private:
  void RebuildFields();

  TVirtualDataSet* detail_;
  std::string master_fields_;
  std::vector<cl::TField*> fields_;
};

class TVirtualDataSet : public cl::TDataSet {
 public:
  explicit TVirtualDataSet(cl::TComponent* owner);
  ~TVirtualDataSet() override;

  // ---- published properties ------------------------------------------------------------------
  const std::string& IndexFieldNames() const { return index_field_names_; }
  void SetIndexFieldNames(const std::string& names);
  cl::TIndexOptions IndexOptions() const { return index_options_; }
  // Keeps only ixUnique, ixDescending and ixCaseInsensitive.
  void SetIndexOptions(cl::TIndexOptions options);
  bool AnsiCompare() const { return ansi_compare_; }
  void SetAnsiCompare(bool value) { ansi_compare_ = value; }
  TExportFormat ExportFormat() const { return export_format_; }
  void SetExportFormat(TExportFormat format) { export_format_ = format; }
  bool ExportCalcFields() const { return export_calc_fields_; }
  void SetExportCalcFields(bool value) { export_calc_fields_ = value; }
  cl::TDataSource* MasterSource() const { return master_link_->DataSource(); }
  void SetMasterSource(cl::TDataSource* source);
  const std::string& MasterFields() const { return master_link_->MasterFields(); }
  void SetMasterFields(const std::string& names) { master_link_->SetMasterFields(names); }

  // ---- indexes, ranges -----------------------------------------------------------------------
  // The operation behind the IndexFieldNames and IndexOptions setters (which pass false).
  void SetIndex(const std::string& field_names, cl::TIndexOptions options, bool maintain);
  const TIndexList& MaintainedIndexes() const { return maintained_; }
  // One value for the first index field, or a variant array for the first index fields.
  const cl::Variant& RangeStart() const { return range_start_; }
  void SetRangeStart(const cl::Variant& value) { range_start_ = value; }
  const cl::Variant& RangeEnd() const { return range_end_; }
  void SetRangeEnd(const cl::Variant& value) { range_end_ = value; }
  bool RangeActive() const { return range_active_; }
  void ApplyRange();
  void CancelRange();

  // ---- records -------------------------------------------------------------------------------
  // Clears all records, then reads records in ExportFormat().
  void LoadFromStream(cl::TStream& stream);
  // Writes the records of the current view in ExportFormat().
  void SaveToStream(cl::TStream& stream);
  // Cancels a pending edit or insert and frees every record.
  void ClearRecords();

  // ---- layer overrides -----------------------------------------------------------------------
  void SetFiltered(bool value) override;
  void SetFilterOptions(cl::TFilterOptions options) override;
  void SetOnFilterRecord(cl::TFilterRecordEvent handler) override;
  void SetRecNo(int value) override;
  bool BookmarkValid(const cl::TBookmark& bookmark) override;
  int CompareBookmarks(const cl::TBookmark& a, const cl::TBookmark& b) override;
  std::unique_ptr<cl::TStream> CreateBlobStream(cl::TField* field,
                                                cl::TBlobStreamMode mode) override;
  cl::TDataSource* GetDataSource() const override { return MasterSource(); }
  bool GetIsIndexField(cl::TField* field) override;
  // "RawData": u32 LE size + the efDataSet bytes of all records, written only while active.
  void DefineProperties(cl::TFiler& filer) override;

 protected:
  cl::TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(cl::TRecordBuffer& buffer) override;
  int GetRecordBufferSize() override { return data_size_; }
  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  bool HasHandle() override { return open_; }
  cl::TGetResult FetchRecord(cl::TRecordBuffer buffer, cl::TGetMode mode, bool do_check) override;
  void InternalInitRecord(cl::TRecordBuffer buffer) override;
  void ClearCalcFields(cl::TRecordBuffer buffer) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalSetToRecord(cl::TRecordBuffer buffer) override;
  void InternalGotoBookmark(const cl::TBookmark& bookmark) override;
  void GetBookmarkData(cl::TRecordBuffer buffer, cl::TBookmark& bookmark) override;
  void SetBookmarkData(cl::TRecordBuffer buffer, const cl::TBookmark& bookmark) override;
  cl::TBookmarkFlag GetBookmarkFlag(cl::TRecordBuffer buffer) override;
  void SetBookmarkFlag(cl::TRecordBuffer buffer, cl::TBookmarkFlag flag) override;
  void InternalPost() override;
  void InternalDelete() override;
  void InsertRecordIntoFile(cl::TRecordBuffer buffer, bool append) override;
  bool GetFieldValue(const cl::TField* field, void* buffer) override;
  void SetFieldValue(cl::TField* field, const void* buffer) override;
  int GetRecordCount() override;
  int GetRecNo() override;
  void SetFilterText(const std::string& text) override;
  bool LocateRecord(std::string_view key_fields, const cl::Variant& key_values,
                    cl::TLocateOptions options, bool sync_cursor) override;
  cl::Variant LookupValues(std::string_view key_fields, const cl::Variant& key_values,
                           std::string_view result_fields) override;
  void Loaded() override;
  void Notification(cl::TComponent* component, cl::TOperation operation) override;

 private:
  friend class TMasterDataLink;
  friend class TBlobStream;
  friend class TFieldVariable;
  friend class TFilterCompareOperator;

  // ---- layout and records (TVirtualDataSet.cpp) ----------------------------------------------
  void BuildLayout();
  bool IsStored(const cl::TField* field) const;
  // Checks that every field is stored, raising the index-field error otherwise.
  void CheckIndexFields(const std::vector<cl::TField*>& fields) const;
  void BuildIndexFieldList();
  cl::TMemoryStream* BlobStream(const uint8_t* data, int blob_index) const;
  int BlobIndexOf(const cl::TField* field) const;
  // A new data block with its own empty streams; the data part zero-filled.
  std::unique_ptr<uint8_t[]> NewData() const;
  // Puts a new empty stream in each blob slot of a zero-filled block.
  void InitBlobSlots(uint8_t* data) const;
  void FreeData(uint8_t* data) const;
  // A record with its data block and streams, the data part zero-filled; id 0.
  TStoredRecord* NewRecord() const;
  void CopyData(const uint8_t* from, uint8_t* to) const;
  void FreeRecord(TStoredRecord* record);
  TStoredRecord* RecordOfId(uint32_t id) const;
  uint32_t BufferId(cl::TRecordBuffer buffer) const;
  cl::TRecordBuffer SelectBuffer() const;
  TRecordList& View();
  const TRecordList& View() const;
  int ViewCount() const { return static_cast<int>(View().size()); }
  // The record's position in `list`, trying `hint` first; -1 when absent.
  int PositionIn(const TRecordList& list, const TStoredRecord* record, int hint) const;
  void FreeAllRecords();
  // The unique checks of the active and maintained indexes for `data`, skipping `self`.
  void CheckUnique(const uint8_t* data, const TStoredRecord* self);
  void PlaceNewRecord(TStoredRecord* record, int position);
  void PostEdit();
  void RemoveFrom(TRecordList& list, TStoredRecord* record, const std::vector<cl::TField*>& fields,
                  uint8_t flags);

  // ---- compare, search, sort (TVirtualDataSetIndexes.cpp) ------------------------------------
  int CompareStrings(std::string_view r, std::string_view k, uint8_t flags) const;
  int CompareRecords(const uint8_t* record, const uint8_t* key,
                     const std::vector<cl::TField*>& fields, uint8_t flags) const;
  // Lower bound (first among equals, else the insertion point) or, with `last`, the last among
  // equals (else the insertion point).  `found` tells whether an equal key exists.
  int Search(const TRecordList& list, const uint8_t* key, const std::vector<cl::TField*>& fields,
             uint8_t flags, bool last, bool& found) const;
  void SortList(TRecordList& list, const std::vector<cl::TField*>& fields, uint8_t flags,
                bool unique, const std::string& names) const;
  uint8_t IndexFlags(cl::TIndexOptions options) const;
  // An integer whose order is the order of the field's value in `data` under `flags` (ties
  // need the full compare), or kNoPrefix when the type or flags have none.
  static constexpr uint64_t kNoPrefix = ~uint64_t{0};
  uint64_t SortPrefix(const uint8_t* data, const cl::TField* field, uint8_t flags) const;
  int SortedInsertPosition(const TRecordList& list, const uint8_t* data,
                           const std::vector<cl::TField*>& fields, uint8_t flags) const;
  void ExchangeWithActive(TMaintainedIndex* index);
  void SwapInMaintained(TMaintainedIndex* index);
  void RebuildAfterIndexChange(TStoredRecord* remembered);
  bool InRange(const uint8_t* data);
  void BuildRangeList();
  void FillKeyBuffer(const std::vector<cl::TField*>& fields, const cl::Variant& values);
  int FindKey(const std::vector<cl::TField*>& fields, const cl::Variant& values,
              cl::TLocateOptions options);
  // One field of a key compared in place, without a call per field (a scan's equality test).
  struct TFixedPart {
    size_t offset;
    cl::TFieldType type;
    size_t size;
  };
  // The parts of `fields` when all are of fixed layout and `flags` asks for a plain compare;
  // false when one needs CompareRecords.
  bool FixedParts(const std::vector<cl::TField*>& fields, uint8_t flags,
                  std::vector<TFixedPart>& parts) const;
  // Whether `record` equals `key` on `part`, as CompareRecords without flags finds it.
  static bool FixedPartEqual(const TFixedPart& part, const uint8_t* record, const uint8_t* key);
  void ReapplyMasterRange();

  // ---- filters (TVirtualDataSetFilter.cpp) ---------------------------------------------------
  bool FilterActive() const;
  bool AcceptRecord(TStoredRecord* record);
  void BuildFilteredList();
  void CompileFilter();
  // REQUIRES: the new filter set; `undo` puts the previous one back when a record fails it.
  void RefilterAndFirst(const std::function<void()>& undo);

  // ---- streaming -----------------------------------------------------------------------------
  void ReadRawData(cl::TStream& stream);
  void WriteRawData(cl::TStream& stream);

  // Layout.
  std::vector<int> field_offsets_;  // per stored field (FieldNo - 1): offset or blob index
  std::vector<bool> field_is_blob_;
  std::vector<cl::TField*> stored_fields_;
  int plain_size_ = 0;
  int blob_count_ = 0;
  int data_size_ = 0;
  int buffer_size_ = 0;
  bool open_ = false;

  // Records and views.
  std::unordered_map<uint32_t, TStoredRecord*> store_;
  uint32_t next_id_ = 1;
  TRecordList records_;
  int cursor_ = -1;

  // Active index and maintained indexes.
  std::vector<cl::TField*> index_fields_;
  std::string index_field_names_;
  cl::TIndexOptions index_options_;
  bool list_is_maintained_ = false;
  TIndexList maintained_;

  // Ranges and master/detail.
  std::unique_ptr<TMasterDataLink> master_link_;
  bool range_active_ = false;
  TRecordList range_list_;
  cl::Variant range_start_;
  cl::Variant range_end_;
  int range_field_count_ = 0;

  // Filter.
  std::unique_ptr<TFilterEvaluator> filter_evaluator_;
  TRecordList filtered_list_;

  bool ansi_compare_ = false;
  // The record dsSetKey and dsFilter read and write (a key buffer, a stored record's data or a
  // lookup's copy); its calculated area exists only when `key_record_has_calc_`.
  uint8_t* key_record_ = nullptr;
  bool key_record_has_calc_ = false;
  cl::TRecordBuffer key_buffer_ = nullptr;
  cl::TRecordBuffer range_start_key_ = nullptr;
  cl::TRecordBuffer range_end_key_ = nullptr;
  TExportFormat export_format_ = efDataSet;
  bool export_calc_fields_ = false;
  std::unique_ptr<cl::TMemoryStream> raw_data_;
};

}  // namespace comp
