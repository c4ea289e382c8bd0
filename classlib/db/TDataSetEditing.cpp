// TDataSet: the edit cycle.  Each operation fires its events and calls the protocol in this
// order (links = data-link notifications, which wait while controls are disabled):
//
//   Edit    empty window: Insert instead.  CheckBrowseMode, CheckCanModify, BeforeEdit,
//           [InternalEdit | OnEditError], OnCalcFields, state dsEdit (links EditingChanged),
//           links RecordChanged(nil), AfterEdit.
//   Insert  CheckBrowseMode, CheckCanModify, BeforeInsert, BeforeScroll, new buffer in the
//           active slot positioned before the active record (Append: after the last record),
//           state dsInsert, OnNewRecord, Modified := false, links DataSetChanged, AfterInsert,
//           AfterScroll.  An exception from OnNewRecord returns to browse and passes on.
//   Post    UpdateRecord (links UpdateData), links CheckBrowseMode, BeforePost,
//           [required-field check, InternalPost | OnPostError], blobs closed, state dsBrowse,
//           Resync, AfterPost.
//   Cancel  links CheckBrowseMode, BeforeCancel, cursor back on the record, InternalCancel (only
//           from dsEdit), blobs closed, state dsBrowse, Resync, AfterCancel.
//   Delete  (dsInsert: Cancel) links CheckBrowseMode, BeforeDelete, BeforeScroll,
//           [InternalDelete | OnDeleteError], state dsBrowse, Resync, AfterDelete, AfterScroll.
//
// In brackets: the error loop.  An EDatabaseError raised inside goes to the error event, whose
// action fails (the exception passes on, possibly with a rewritten message), aborts (EAbort) or
// retries the whole bracket.  Any other exception passes on at once; the state stays as it was.
#include <algorithm>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TBlobField.h"
#include "classlib/db/TDataSet.h"

namespace cl {

template <class Operation>
void TDataSet::CheckOperation(Operation operation, const TDataSetErrorEvent& error_event) {
  for (;;) {
    try {
      UpdateCursorPos();
      operation();
      return;
    } catch (EDatabaseError& e) {
      TDataAction action = daFail;
      if (error_event) error_event(this, e, action);
      if (action == daFail) throw;
      if (action == daAbort) Abort();
    }
  }
}

void TDataSet::CheckCanModify() {
  if (!CanModify()) DatabaseError(SDataSetReadOnly);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (modified_) {
        Post();
      } else {
        Cancel();
      }
      break;
    case dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

void TDataSet::UpdateRecord() {
  if (!IsEditMode(state_)) DatabaseError(SNotEditing);
  DataEvent(deUpdateRecord);
}

void TDataSet::InitRecord(TRecordBuffer buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::CheckRequiredFields() {
  for (TField* field : fields_) {
    if (field->Required() && field->FieldKind() == fkData && field->DataType() != ftAutoInc &&
        field->IsNull()) {
      field->FocusControl();
      DatabaseErrorFmt(SFieldRequired, {field->DisplayName()});
    }
  }
}

void TDataSet::FreeFieldBuffers() {
  for (TField* field : fields_) {
    auto* blob = dynamic_cast<TBlobField*>(field);
    if (blob != nullptr && blob->Modified()) {
      CloseBlob(field);
      blob->SetModified(false);
    }
  }
}

// ---- Edit --------------------------------------------------------------------------------------

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  if (record_count_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  Fire(before_edit_);
  CheckOperation([this] { InternalEdit(); }, on_edit_error_);
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange);
  Fire(after_edit_);
}

// ---- Insert and Append -------------------------------------------------------------------------

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  Fire(before_insert_);
  Fire(before_scroll_);
}

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync(TResyncMode{});
    throw;
  }
  modified_ = false;
  DataEvent(deDataSetChange);
  Fire(after_insert_);
  Fire(after_scroll_);
}

void TDataSet::Insert() {
  BeginInsertAppend();
  // The new buffer takes the active slot; the records from there move down one place.
  MoveBuffer(record_count_, active_record_);
  TRecordBuffer buffer = ActiveBuffer();
  InitRecord(buffer);
  if (record_count_ == 0) {
    SetBookmarkFlag(buffer, bfBOF);
  } else {
    // Positioned at the record it goes before, so that the cursor can find its place.
    TBookmark next;
    GetBookmarkData(buffers_[static_cast<size_t>(active_record_ + 1)], next);
    SetBookmarkData(buffer, next);
  }
  if (record_count_ < buffer_count_) ++record_count_;
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  TRecordBuffer buffer = buffers_[0];
  InitRecord(buffer);
  SetBookmarkFlag(buffer, bfEOF);  // the cursor goes after the last record
  record_count_ = 1;
  bof_ = false;
  GetPriorRecords();
  InternalInsert();
  EndInsertAppend();
}

// The record is built in the active slot in a silent insert state and written with
// InsertRecordIntoFile; the window is then refilled around it.  Events: BeforeInsert,
// BeforeScroll, [OnPostError], AfterScroll; the links see one DataSetChanged.
void TDataSet::AddRecordWithValues(const std::vector<Variant>& values, bool append) {
  BeginInsertAppend();
  MoveBuffer(record_count_, active_record_);
  TRecordBuffer buffer = ActiveBuffer();
  InitRecord(buffer);
  if (append) {
    SetBookmarkFlag(buffer, bfEOF);
  } else if (record_count_ == 0) {
    SetBookmarkFlag(buffer, bfBOF);
  } else {
    TBookmark next;
    GetBookmarkData(buffers_[static_cast<size_t>(active_record_ + 1)], next);
    SetBookmarkData(buffer, next);
  }
  if (record_count_ == 0) record_count_ = 1;
  current_record_ = -1;
  TDataSetState old = SetTempState(dsInsert);
  try {
    size_t count = std::min(values.size(), fields_.size());
    for (size_t i = 0; i < count; ++i) {
      if (fields_[i]->FieldKind() == fkData) fields_[i]->SetValue(values[i]);
    }
    CheckOperation(
        [this, buffer, append] {
          CheckRequiredFields();
          InsertRecordIntoFile(buffer, append);
        },
        on_post_error_);
  } catch (...) {
    RestoreState(old);
    FreeFieldBuffers();
    Resync(TResyncMode{});
    throw;
  }
  RestoreState(old);
  FreeFieldBuffers();
  Resync(TResyncMode{});
  Fire(after_scroll_);
}

// ---- Post, Cancel, Delete ----------------------------------------------------------------------

void TDataSet::Post() {
  UpdateRecord();
  if (state_ == dsSetKey) {
    FinishKeyEdit(true);
    return;
  }
  DataEvent(deCheckBrowseMode);
  Fire(before_post_);
  CheckOperation(
      [this] {
        CheckRequiredFields();
        InternalPost();
      },
      on_post_error_);
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync(TResyncMode{});
  Fire(after_post_);
}

void TDataSet::Cancel() {
  switch (state_) {
    case dsSetKey:
      FinishKeyEdit(false);
      return;
    case dsEdit:
    case dsInsert:
      break;
    default:
      return;
  }
  DataEvent(deCheckBrowseMode);
  Fire(before_cancel_);
  bool was_editing = state_ == dsEdit;
  UpdateCursorPos();
  if (was_editing) InternalCancel();
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync(TResyncMode{});
  Fire(after_cancel_);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) {
    Cancel();
    return;
  }
  if (record_count_ == 0) DatabaseError(SDataSetEmpty);
  DataEvent(deCheckBrowseMode);
  Fire(before_delete_);
  Fire(before_scroll_);
  CheckOperation([this] { InternalDelete(); }, on_delete_error_);
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync(TResyncMode{});
  Fire(after_delete_);
  Fire(after_scroll_);
}

}  // namespace cl
