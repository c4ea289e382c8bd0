// TDataSet: the buffered dataset model.  The layer owns a window of record buffers, the state
// machine, the fields, the data sources and the order of every event; a descendant (the engine
// dataset, the in-memory dataset, the test fake) implements the record protocol below and the
// layout of its buffers.
//
// Buffer window.  Buffers() holds BufferCount() + 1 buffers: RecordCountInBuffers() of them hold
// consecutive records of the cursor, ActiveRecord() is the current one, and the one after the
// records is the spare (TempBuffer()), where fetches land before they join the window.
// BufferCount() is the largest BufferCount of any data link (a grid asks for its visible rows),
// at least 1.  CurrentRecord() is the buffer the descendant's cursor stands on (-1: unknown);
// SetCurrentRecord moves the cursor there by the buffer's bookmark flag and bookmark.
//
// States and transitions (each performed by the named function; data links and data sources see
// them through DataEvent(deUpdateState)):
//
//   dsInactive --Open--> dsBrowse --Edit--> dsEdit --Post/Cancel/Delete--> dsBrowse
//                        dsBrowse --Insert/Append (or Edit when empty)--> dsInsert --Post/Cancel--> dsBrowse
//   any --Close--> dsInactive (a pending edit is dropped without Post or Cancel events)
//   SetTempState(dsSetKey | dsCalcFields | dsFilter | dsNewValue | dsOldValue) / RestoreState:
//                        silent, for work on a key, calculation, filter or old-value buffer.
//
// Event order of each operation: see the functions in TDataSet.cpp, TDataSetEditing.cpp and
// TDataSetNavigation.cpp; the dataset conformance tests pin them.  Errors raised by InternalEdit,
// InternalPost (and the required-field check before it) and InternalDelete go to OnEditError,
// OnPostError and OnDeleteError, which may fail, abort or retry; every other exception passes
// through and leaves the state as it was.
//
// Destruction: a concrete descendant's destructor must call DestroyingClose() first, because the
// protocol functions are gone once ~TDataSet runs.  Threads: GUI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/db/DBTypes.h"
#include "classlib/db/TField.h"
#include "classlib/db/TFieldDefs.h"
#include "classlib/rtl/Streams.h"
#include "classlib/rtl/TComponent.h"
#include "classlib/rtl/TStrings.h"
#include "classlib/rtl/Variant.h"

namespace cl {

class TDataLink;
class TDataSource;

class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* owner);
  ~TDataSet() override;

  // ---- activity ----------------------------------------------------------------------------
  bool Active() const { return state_ != dsInactive; }
  // While the dataset is being read by a loader only the value is kept; Loaded() opens it.
  void SetActive(bool active);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const { return state_; }
  bool Modified() const { return modified_; }
  // EDatabaseError "Ne peut effectuer cette opération sur un ensemble de données fermé".
  void CheckActive() const;
  // EDatabaseError "Ne peut effectuer cette opération sur un ensemble de données ouvert".
  void CheckInactive() const;

  // ---- fields ------------------------------------------------------------------------------
  TFieldDefs* FieldDefs() const { return field_defs_.get(); }
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // REQUIRES: 0 <= index < FieldCount(), else EListError.
  TField* Fields(int index) const;
  const std::vector<TField*>& FieldList() const { return fields_; }
  // By name, ignoring case: nullptr / EDatabaseError "Champ '%s' non trouvé".
  TField* FindField(std::string_view name) const;
  TField* FieldByName(std::string_view name) const;
  TField* FieldByNumber(int field_no) const;
  void GetFieldNames(TStrings& list) const;
  // The fields named in `names` (";"-separated, blanks trimmed), appended in order.
  void GetFieldList(std::vector<TField*>& list, std::string_view names) const;
  // One field's Value, or a variant array of the named fields' values.
  Variant FieldValues(std::string_view names) const;
  // True while the fields were created by the dataset at its opening.
  bool DefaultFields() const { return default_fields_; }
  bool AutoCalcFields() const { return auto_calc_fields_; }
  void SetAutoCalcFields(bool value) { auto_calc_fields_ = value; }

  // ---- navigation --------------------------------------------------------------------------
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Returns the distance actually moved.
  int MoveBy(int distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const { return active_record_ >= record_count_; }
  int RecordCount();
  int RecNo();
  // Moves to the record of that number (1-based), with the scroll events; the base does nothing.
  virtual void SetRecNo(int) {}

  // Empty when there is no current stored record (empty dataset, inserted record).
  TBookmark GetBookmark();
  // An empty bookmark does nothing.  A bookmark the dataset cannot find raises (check
  // BookmarkValid first).
  void GotoBookmark(const TBookmark& bookmark);
  void FreeBookmark(TBookmark& bookmark) { bookmark.clear(); }
  TBookmark Bookmark() { return GetBookmark(); }
  void SetBookmark(const TBookmark& bookmark) { GotoBookmark(bookmark); }
  virtual bool BookmarkValid(const TBookmark& bookmark);
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b);

  void Refresh();
  // Refills the window around the cursor's record (see TDataSetNavigation.cpp).
  void Resync(TResyncMode mode);
  virtual bool IsSequenced() { return true; }

  // ---- editing -----------------------------------------------------------------------------
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();
  // Adds a record holding `values` (in field order) without entering the insert state.
  void AppendRecord(const std::vector<Variant>& values) { AddRecordWithValues(values, true); }
  void InsertRecord(const std::vector<Variant>& values) { AddRecordWithValues(values, false); }
  // Settles a pending edit: posts it when modified, else cancels it.
  void CheckBrowseMode();
  // Lets the data links write pending control text into the fields.
  void UpdateRecord();
  bool CanModify() { return GetCanModify(); }

  // ---- controls ----------------------------------------------------------------------------
  // While disabled, data events wait (only opening and closing still reach the data sources);
  // the last EnableControls sends one change, or a layout change after a reopening.
  void DisableControls();
  // An enable without a matching disable is ignored.
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ > 0; }

  // ---- filters, locate, lookup -------------------------------------------------------------
  const std::string& Filter() const { return filter_text_; }
  void SetFilter(const std::string& text) { SetFilterText(text); }
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool value) { filtered_ = value; }
  TFilterOptions FilterOptions() const { return filter_options_; }
  virtual void SetFilterOptions(TFilterOptions options) { filter_options_ = options; }
  const TFilterRecordEvent& OnFilterRecord() const { return on_filter_record_; }
  virtual void SetOnFilterRecord(TFilterRecordEvent handler) {
    on_filter_record_ = std::move(handler);
  }

  // `values`: one value for one field, a variant array for several (";"-separated names).
  bool Locate(std::string_view key_fields, const Variant& key_values, TLocateOptions options);
  // Null when nothing matches; one value, or an array for several result fields.  Never moves.
  Variant Lookup(std::string_view key_fields, const Variant& key_values,
                 std::string_view result_fields);
  bool FindFirst() { return found_ = FindRecord(true, true); }
  bool FindLast() { return found_ = FindRecord(true, false); }
  bool FindNext() { return found_ = FindRecord(false, true); }
  bool FindPrior() { return found_ = FindRecord(false, false); }
  bool Found() const { return found_; }

  // ---- descendants' extras used through the public interface --------------------------------
  // A stream over a blob field's value in the record the state selects.  Written streams mark
  // the field modified and signal a field change when they are destroyed.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) = 0;
  // The current record copied into `buffer`; false when there is none.
  virtual bool GetCurrentRecord(TRecordBuffer buffer);
  // Text as the cursor stores it (no character set conversion here): `source` up to its first
  // zero byte.
  virtual std::string Translate(std::string_view source, bool to_oem);
  virtual bool GetIsIndexField(TField* field);
  // The data source this dataset follows (a master), for circular-link checks.
  virtual TDataSource* GetDataSource() const { return nullptr; }
  // True when following GetDataSource() from `source` leads back to this dataset.
  bool IsLinkedTo(TDataSource* source) const;

  // ---- buffer window -----------------------------------------------------------------------
  int BufferCount() const { return buffer_count_; }
  int RecordCountInBuffers() const { return record_count_; }
  int ActiveRecord() const { return active_record_; }
  int CurrentRecord() const { return current_record_; }
  TRecordBuffer ActiveBuffer() const;
  TRecordBuffer TempBuffer() const;
  TRecordBuffer CalcBuffer() const { return calc_buffer_; }
  int BookmarkSize() const { return bookmark_size_; }
  int CalcFieldsSize() const { return calc_fields_size_; }

  // ---- data events -------------------------------------------------------------------------
  // Handles the dataset's own part of an event (modified flag, calculated fields, OnChange,
  // pending events while controls are disabled) and passes it to the data sources.  `info` is a
  // TField* for field, record and focus events and the buffer shift for deDataSetScroll.
  // Overrides call the inherited version (and add `using TDataSet::DataEvent;`).
  virtual void DataEvent(TDataEvent event, intptr_t info = 0);
  void DataEvent(TDataEvent event, TField* field) {
    DataEvent(event, reinterpret_cast<intptr_t>(field));
  }

  // ---- events ------------------------------------------------------------------------------
#define CL_DATASET_EVENT(Type, Name, member)  \
  const Type& Name() const { return member; } \
  void Set##Name(Type handler) { member = std::move(handler); }
  CL_DATASET_EVENT(TDataSetNotifyEvent, BeforeOpen, before_open_)
  CL_DATASET_EVENT(TDataSetNotifyEvent, AfterOpen, after_open_)
  CL_DATASET_EVENT(TDataSetNotifyEvent, BeforeClose, before_close_)
  CL_DATASET_EVENT(TDataSetNotifyEvent, AfterClose, after_close_)
  CL_DATASET_EVENT(TDataSetNotifyEvent, BeforeInsert, before_insert_)
  CL_DATASET_EVENT(TDataSetNotifyEvent, AfterInsert, after_insert_)
  CL_DATASET_EVENT(TDataSetNotifyEvent, BeforeEdit, before_edit_)
  CL_DATASET_EVENT(TDataSetNotifyEvent, AfterEdit, after_edit_)
  CL_DATASET_EVENT(TDataSetNotifyEvent, BeforePost, before_post_)
  CL_DATASET_EVENT(TDataSetNotifyEvent, AfterPost, after_post_)
  CL_DATASET_EVENT(TDataSetNotifyEvent, BeforeCancel, before_cancel_)
  CL_DATASET_EVENT(TDataSetNotifyEvent, AfterCancel, after_cancel_)
  CL_DATASET_EVENT(TDataSetNotifyEvent, BeforeDelete, before_delete_)
  CL_DATASET_EVENT(TDataSetNotifyEvent, AfterDelete, after_delete_)
  CL_DATASET_EVENT(TDataSetNotifyEvent, BeforeScroll, before_scroll_)
  CL_DATASET_EVENT(TDataSetNotifyEvent, AfterScroll, after_scroll_)
  CL_DATASET_EVENT(TDataSetNotifyEvent, OnCalcFields, on_calc_fields_)
  CL_DATASET_EVENT(TDataSetNotifyEvent, OnNewRecord, on_new_record_)
  CL_DATASET_EVENT(TDataSetErrorEvent, OnPostError, on_post_error_)
  CL_DATASET_EVENT(TDataSetErrorEvent, OnEditError, on_edit_error_)
  CL_DATASET_EVENT(TDataSetErrorEvent, OnDeleteError, on_delete_error_)
#undef CL_DATASET_EVENT

 protected:
  // ---- the record protocol (see the class comment) -----------------------------------------
  virtual TRecordBuffer AllocRecordBuffer() = 0;
  // Frees and nulls `buffer`.
  virtual void FreeRecordBuffer(TRecordBuffer& buffer) = 0;
  virtual int GetRecordBufferSize() = 0;
  // Opens the cursor before the first record: initialises the field definitions, creates the
  // default fields when DefaultFields(), calls BindFields(true) and sets the bookmark size.
  virtual void InternalOpen() = 0;
  // Closes the cursor; must also work after an OpenCursor(true) that only read definitions.
  virtual void InternalClose() = 0;
  virtual void InternalInitFieldDefs() = 0;
  // Refreshes FieldDefs(): from the open cursor, or by opening it for information only.
  virtual void InitFieldDefs();
  virtual void OpenCursor(bool info_query);
  virtual void CloseCursor();
  virtual bool HasHandle() = 0;
  // Fills `buffer` with the current, next or prior record, moving the cursor: record data,
  // bookmark data, bookmark flag bfCurrent, and the calculated fields (GetCalcFields) on grOK.
  // With `do_check`, grError raises instead of returning.
  virtual TGetResult FetchRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) = 0;
  virtual void InternalInitRecord(TRecordBuffer buffer) = 0;
  virtual void ClearCalcFields(TRecordBuffer buffer);
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalSetToRecord(TRecordBuffer buffer) = 0;
  virtual void InternalGotoBookmark(const TBookmark& bookmark) = 0;
  virtual void GetBookmarkData(TRecordBuffer buffer, TBookmark& bookmark) = 0;
  virtual void SetBookmarkData(TRecordBuffer buffer, const TBookmark& bookmark) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
  virtual void InternalEdit() {}
  // Writes the active buffer; on return the cursor stands on the written record.
  virtual void InternalPost() {}
  // Called only when cancelling from dsEdit.
  virtual void InternalCancel() {}
  virtual void InternalDelete() = 0;
  virtual void InsertRecordIntoFile(TRecordBuffer buffer, bool append) = 0;
  virtual void InternalRefresh() {}
  virtual void InternalInsert() {}
  // Fires OnNewRecord; descendants may set values before calling it.
  virtual void DoOnNewRecord();
  // Whether `field` holds a value in the buffer the state selects; copies the native value
  // into `buffer` when it is not null.
  virtual bool GetFieldValue(const TField* field, void* buffer) = 0;
  // Checks state and read-only rules, calls field->Validate(buffer), writes (null: clear), and
  // signals DataEvent(deFieldChange, field) outside dsCalcFields, dsFilter and dsNewValue.
  virtual void SetFieldValue(TField* field, const void* buffer) = 0;
  virtual int GetRecordCount() { return -1; }
  virtual int GetRecNo() { return -1; }
  virtual bool GetCanModify() { return true; }
  // Ends the pending access to a modified blob field (after Post, Cancel, Delete).
  virtual void CloseBlob(TField*) {}
  virtual void SetFilterText(const std::string& text) { filter_text_ = text; }
  // With `sync_cursor`, a success leaves the cursor on the found record (the layer resyncs).
  virtual bool LocateRecord(std::string_view key_fields, const Variant& key_values,
                            TLocateOptions options, bool sync_cursor);
  virtual Variant LookupValues(std::string_view key_fields, const Variant& key_values,
                               std::string_view result_fields);
  virtual bool FindRecord(bool restart, bool go_forward);
  // Ends key editing (Post: true, Cancel: false).
  virtual void FinishKeyEdit(bool post);
  virtual void InternalHandleException();
  // Refreshes the descendant's index definitions (TIndexDefs::Update).
  virtual void UpdateIndexDefs() {}

  void Loaded() override;

  // ---- window primitives -------------------------------------------------------------------
  void SetCurrentRecord(int index);
  void UpdateCursorPos();
  void CursorPosChanged() { current_record_ = -1; }
  bool GetNextRecord();
  bool GetPriorRecord();
  int GetNextRecords();
  int GetPriorRecords();
  void ClearBuffers();
  void ActivateBuffers();
  void SetBufListSize(int size);
  void UpdateBufferCount();
  TRecordBuffer Buffers(int index) const { return buffers_[static_cast<size_t>(index)]; }
  void InitRecord(TRecordBuffer buffer);
  // Computes the calculated and lookup fields of `buffer` in dsCalcFields.
  void GetCalcFields(TRecordBuffer buffer);
  // REQUIRES: State() == dsCalcFields.  Clears the area, computes lookups, fires OnCalcFields.
  void CalculateFields(TRecordBuffer buffer);

  // Silent state changes; RestoreState(SetTempState(s)) nests.
  TDataSetState SetTempState(TDataSetState state);
  void RestoreState(TDataSetState state);
  void SetState(TDataSetState state);
  void SetModified(bool modified) { modified_ = modified; }
  // For descendants whose own moves fire the scroll events (SetRecNo, FindRecord).
  void DoBeforeScroll() { Fire(before_scroll_); }
  void DoAfterScroll() { Fire(after_scroll_); }
  void SetBookmarkSize(int size) { bookmark_size_ = size; }
  void SetFound(bool found) { found_ = found; }

  // Binds each field to its definition (raising for a missing or mismatching definition) and
  // lays out the calculated area; false unbinds.
  void BindFields(bool binding);
  void CreateFields();
  void DestroyFields();
  void CheckRequiredFields();
  void FreeFieldBuffers();
  // Closes the dataset without close events, passing any failure to the application's
  // exception handler.  Concrete descendants call it first in their destructors.
  void DestroyingClose() noexcept;

  // The calculated area as descendants lay it out: per field, at its Offset(), a has-value
  // byte and DataSize() bytes of native value.
  static bool ReadCalcValue(const uint8_t* calc_area, const TField* field, void* buffer);
  static void WriteCalcValue(uint8_t* calc_area, const TField* field, const void* buffer);

 private:
  friend class TDataLink;
  friend class TDataSource;
  friend class TField;
  friend class TFieldDefs;
  friend class TIndexDefs;

  void DoInternalOpen();
  void SetBufferCount(int value);
  void MoveBuffer(int from, int to);
  void CheckCanModify();
  void BeginInsertAppend();
  void EndInsertAppend();
  template <class Operation>
  void CheckOperation(Operation operation, const TDataSetErrorEvent& error_event);
  void AddRecordWithValues(const std::vector<Variant>& values, bool append);
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);
  void SetActiveRecord(int index) { active_record_ = index; }
  void Fire(const TDataSetNotifyEvent& event) {
    if (event) event(this);
  }

  TDataSetState state_ = dsInactive;
  bool modified_ = false;
  bool stream_active_ = false;
  std::vector<bool> saved_modified_;

  std::vector<TRecordBuffer> buffers_;
  int buffer_count_ = 0;
  int record_count_ = 0;
  int active_record_ = 0;
  int current_record_ = -1;
  bool bof_ = true;
  bool eof_ = true;
  int bookmark_size_ = 0;
  int calc_fields_size_ = 0;
  TRecordBuffer calc_buffer_ = nullptr;
  bool cursor_open_ = false;

  int disable_count_ = 0;
  TDataSetState disable_state_ = dsInactive;
  TDataEvent enable_event_ = deDataSetChange;
  std::vector<TDataSource*> data_sources_;

  std::vector<TField*> fields_;
  std::unique_ptr<TFieldDefs> field_defs_;
  bool default_fields_ = false;
  bool auto_calc_fields_ = true;

  std::string filter_text_;
  bool filtered_ = false;
  TFilterOptions filter_options_;
  TFilterRecordEvent on_filter_record_;
  bool found_ = false;

  TDataSetNotifyEvent before_open_, after_open_, before_close_, after_close_;
  TDataSetNotifyEvent before_insert_, after_insert_, before_edit_, after_edit_;
  TDataSetNotifyEvent before_post_, after_post_, before_cancel_, after_cancel_;
  TDataSetNotifyEvent before_delete_, after_delete_, before_scroll_, after_scroll_;
  TDataSetNotifyEvent on_calc_fields_, on_new_record_;
  TDataSetErrorEvent on_post_error_, on_edit_error_, on_delete_error_;
};

}  // namespace cl
