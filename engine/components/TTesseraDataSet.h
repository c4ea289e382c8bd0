// The engine dataset: the class library's buffered dataset run directly on an engine table
// handle (TDataFile), and its database-bound descendant.
//
// TTesseraDataSet makes no handle of its own: a descendant's CreateHandle gives one (a table
// component opens a TDataFile; a query hands over the result table of its statement and marks
// it not owned, so DestroyHandle only forgets it).  Every dataset operation maps onto one engine
// operation; the engine answers cursor moves, reads and blob calls with codes and raises the
// rest itself.
//
// Record buffer layout (every buffer the dataset allocates, zero-filled):
//
//   offset                         size          content
//   0                              record size   the engine record image (TDataFile layout)
//   record size                    calc size     per calculated or lookup field: has-value byte,
//                                                then the value (TDataSet::WriteCalcValue)
//   record size + calc size        8             record information: i32 sequence number (-1 for
//                                                a new record), u8 bookmark flag (0 current,
//                                                1 before first, 2 after last, 3 inserted),
//                                                3 bytes unused
//   record information + 8         bookmark size the current index key of the record (the
//                                                4-byte record number in record-number order)
//
// Key buffers: u8 modified flag, 3 bytes unused, i32 field count, then one record image.  Six
// of them: 0 lookup, 1 range start, 2 range end, 3 current range start, 4 current range end,
// 5 saved key.  Bookmarks are index keys: after an index switch old bookmarks mean nothing, and
// the buffer window is rebuilt for the new bookmark size.
//
// Record locks: Edit takes the engine record lock (10258 when another handle, in this process or
// another, holds it); Post releases it inside the engine, Cancel releases it explicitly.  A
// failed Post keeps the edit and its lock until Cancel.
//
// Filters: the Filter text and OnFilterRecord become engine filters (TFilterExpr.h), active while
// Filtered.  The callback filter runs inside the engine's bit-map builds: it enters the filter
// state with the engine's record as the filter record, and restores the state on every exit.
//
// Threads: the GUI thread only, like every dataset.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/db/TDataSet.h"
#include "engine/components/TTesseraSession.h"
#include "engine/storage/table/TDataFile.h"

namespace tessera {

class TTesseraBlobStream;

inline constexpr const char* SCreateHandleError = "Error creating table handle.";

// The description of the current index that the dataset keeps beside the handle.
struct TIndexDescription {
  std::array<uint16_t, 16> field_numbers{};
  bool case_insensitive = false;
  uint16_t key_length = 0;
  int field_count = 0;
};

class TTesseraDataSet : public cl::TDataSet {
 public:
  explicit TTesseraDataSet(cl::TComponent* owner);
  ~TTesseraDataSet() override;

  // The engine handle; nullptr while closed.
  TDataFile* Handle() const { return handle_; }

  // ---- filters ----
  void SetFiltered(bool value) override;
  void SetFilterOptions(cl::TFilterOptions options) override;
  void SetOnFilterRecord(cl::TFilterRecordEvent handler) override;
  // The engine's record callback: OnFilterRecord on `record` in the filter state.
  bool RecordFilter(const uint8_t* record);

  // ---- layer overrides ----
  void SetRecNo(int value) override;
  bool BookmarkValid(const cl::TBookmark& bookmark) override;
  int CompareBookmarks(const cl::TBookmark& a, const cl::TBookmark& b) override;
  std::unique_ptr<cl::TStream> CreateBlobStream(cl::TField* field,
                                                cl::TBlobStreamMode mode) override;
  bool GetCurrentRecord(cl::TRecordBuffer buffer) override;
  bool GetIsIndexField(cl::TField* field) override;
  bool IsSequenced() override { return !Filtered(); }

  // ---- keys and ranges (the table component publishes them) ----
  const TIndexDescription& IndexDescription() const { return index_; }
  // Key buffer numbers.
  enum TKeyIndex { kiLookup, kiRangeStart, kiRangeEnd, kiCurRangeStart, kiCurRangeEnd, kiSave };

 protected:
  friend class TTesseraBlobStream;

  // ---- handle slots ----
  // A new open handle; nullptr in the base class.
  virtual TDataFile* CreateHandle() { return nullptr; }
  // Closes and frees the handle unless it is marked not owned.
  virtual void DestroyHandle();
  virtual void ReleaseCloneHandle() {}
  // A second handle ordered by an index whose leading fields are `fields`, standing on the same
  // record; nullptr when none (the base class).  The dataset does not own it.
  virtual TDataFile* CloneHandle(std::string_view fields, bool case_insensitive);
  virtual void AfterOpenCursor() {}
  // For a handle that belongs to someone else (a query's live result).
  void SetHandleOwned(bool owned) { handle_owned_ = owned; }

  // ---- the record protocol ----
  cl::TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(cl::TRecordBuffer& buffer) override;
  int GetRecordBufferSize() override { return record_size_; }
  void OpenCursor(bool info_query) override;
  void CloseCursor() override;
  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  bool HasHandle() override { return handle_ != nullptr; }
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
  void InternalEdit() override;
  void InternalPost() override;
  void InternalCancel() override;
  void InternalDelete() override;
  void InsertRecordIntoFile(cl::TRecordBuffer buffer, bool append) override;
  void InternalRefresh() override;
  bool GetFieldValue(const cl::TField* field, void* buffer) override;
  void SetFieldValue(cl::TField* field, const void* buffer) override;
  int GetRecordCount() override;
  int GetRecNo() override;
  bool GetCanModify() override { return can_modify_; }
  void CloseBlob(cl::TField* field) override;
  void SetFilterText(const std::string& text) override;
  bool LocateRecord(std::string_view key_fields, const cl::Variant& key_values,
                    cl::TLocateOptions options, bool sync_cursor) override;
  cl::Variant LookupValues(std::string_view key_fields, const cl::Variant& key_values,
                           std::string_view result_fields) override;
  bool FindRecord(bool restart, bool go_forward) override;
  void FinishKeyEdit(bool post) override;

  // ---- keys, ranges, index (for the table component) ----
  // REQUIRES an open dataset.  Fills key buffer `key` from `values` (the first count + 1 key
  // fields) in the key-editing state.
  void SetKeyFields(TKeyIndex key, const std::vector<cl::Variant>& values, int count);
  // Enters key editing on `key` (the buffer re-initialised unless `clear` is false).
  void SetKeyBuffer(TKeyIndex key, bool clear);
  uint8_t* KeyBuffer(TKeyIndex key) const { return key_buffers_[key].get(); }
  uint8_t* KeyRecord(TKeyIndex key) const { return KeyBuffer(key) + kKeyHeaderSize; }
  bool KeyModified(TKeyIndex key) const { return KeyBuffer(key)[0] != 0; }
  int KeyFieldCount(TKeyIndex key) const;
  // True when the range changed.
  bool ApplyKeyRange();
  // True when a range was active.
  bool CancelKeyRange();
  void SwitchToIndex(const std::string& name);
  void ReadIndexDescription();
  // The key of the record in `record` for the current index, in a buffer of the key length.
  std::vector<uint8_t> BuildKeyOf(const uint8_t* record);
  uint8_t* ActiveRecordBuffer() const;

  // The field definitions of `handle`'s working set into FieldDefs().
  void ReadFieldDefs(TDataFile& handle);

  int RecordInfoOffset() const { return record_size_ + CalcFieldsSize(); }
  int BookmarkOffset() const { return RecordInfoOffset() + 8; }
  // Raises a nonzero engine code.
  static void Check(uint16_t code);

  static constexpr int kKeyHeaderSize = 8;

 private:
  class FilterStateScope;
  class TemporaryFilters;

  uint8_t* SelectBuffer();
  // The cursor on the record the active buffer shows, which Edit, Post of an edit and Delete
  // change: 8710 when its key is gone (deleted or re-keyed by another user) or holds a later
  // record, so that the record the cursor found in its place does not take the change.
  void GotoActiveRecord();
  void ReplaceFilter(TFilter*& slot, TFilter* filter);
  // A new, inactive engine filter for `text`; nullptr for an empty text.
  TFilter* NewTextFilter(const std::string& text, cl::TFilterOptions options);
  void MakeTextFilter();
  void MakeCallbackFilter();
  void SetFilterActivation(bool active);
  // REQUIRES both filters inactive.  Switches on the text filter, then the callback filter; when
  // one fails, all are switched off again before the failure goes on.
  void ActivateFilters();
  void AllocKeyBuffers();
  void InitKeyBuffer(TKeyIndex key);
  void ReadOldValues();
  bool IsKeyField(const cl::TField* field) const;
  // Locate's search on `handle`: true when found, `work` then holding the record.
  bool SeekOnHandle(TDataFile& handle, const std::vector<cl::TField*>& fields,
                    const std::vector<cl::Variant>& values, cl::TLocateOptions options,
                    uint8_t* work);
  bool SeekWithFilter(const std::vector<cl::TField*>& fields,
                      const std::vector<cl::Variant>& values, cl::TLocateOptions options,
                      uint8_t* work);
  bool DoLocate(std::string_view key_fields, const cl::Variant& key_values,
                cl::TLocateOptions options, uint8_t* work);

  TDataFile* handle_ = nullptr;
  bool handle_owned_ = true;
  TFilter* text_filter_ = nullptr;
  TFilter* callback_filter_ = nullptr;
  const uint8_t* filter_record_ = nullptr;
  uint8_t* lookup_record_ = nullptr;  // the calculation buffer of a Lookup
  TIndexDescription index_;
  std::unique_ptr<uint8_t[]> old_value_buffer_;
  std::array<std::unique_ptr<uint8_t[]>, 6> key_buffers_;
  TKeyIndex key_edit_ = kiLookup;
  uint8_t* key_edit_buffer_ = nullptr;
  int record_size_ = 0;
  int buffer_size_ = 0;
  bool can_modify_ = false;
};

// The dataset bound to a database and a session by name.  A set of up to 16 database-use flags
// (bit 0: opened) holds the database open: the first flag set opens it through the session,
// the last one cleared gives it back.
class TTesseraDBDataSet : public TTesseraDataSet, public TDatabaseUser {
 public:
  static constexpr int kDbFlagOpened = 0;

  explicit TTesseraDBDataSet(cl::TComponent* owner);
  ~TTesseraDBDataSet() override;

  const std::string& DatabaseName() const { return database_name_; }
  // REQUIRES a closed dataset and no flag set ("Cannot perform this operation on an open
  // database.").
  void SetDatabaseName(const std::string& name);
  const std::string& SessionName() const override { return session_name_; }
  void SetSessionName(const std::string& name) override;
  // The database while a flag is set; nullptr otherwise.
  TTesseraDatabase* Database() const { return database_; }
  // The session SessionName names (raising for an unknown name).
  TTesseraSession* DBSession() const;

  void CloseDatabaseUse() override { Close(); }
  void SetDBFlag(int flag, bool value);
  bool DBFlag(int flag) const { return (db_flags_ >> flag) & 1U; }

 protected:
  void OpenCursor(bool info_query) override;
  void CloseCursor() override;

 private:
  uint16_t db_flags_ = 0;
  TTesseraDatabase* database_ = nullptr;
  std::string database_name_;
  std::string session_name_;
};

}  // namespace tessera
