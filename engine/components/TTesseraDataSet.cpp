// TTesseraDataSet: buffers, the record protocol, field values and editing.  Blob streams live in
// TTesseraBlobStream.cpp; keys, ranges, locate, find and filters in TTesseraDataSetSearch.cpp; the
// database binding in TTesseraDBDataSet.cpp.
#include "engine/components/TTesseraDataSet.h"

#include <algorithm>
#include <cstring>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TBlobField.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Coding.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/table/DataFileFormat.h"
#include "engine/storage/table/TRecordCache.h"
#include "engine/storage/values/MoneyStorage.h"

namespace tessera {

using namespace cl;

namespace {

constexpr int kInfoSequence = 0;
constexpr int kInfoFlag = 4;

cl::TFieldType MapFieldType(const TFieldDefinition& d) {
  switch (d.type) {
    case kFieldString:
      return ftString;
    case kFieldDate:
      return ftDate;
    case kFieldBlob:
      switch (d.sub_type) {
        case 22:
          return ftMemo;
        case 24:
          return ftFmtMemo;
        case 26:
          return ftGraphic;
        case 28:
          return ftTypedBinary;
        default:
          return ftBlob;
      }
    case kFieldBoolean:
      return ftBoolean;
    case kFieldInt16:
      return ftSmallint;
    case kFieldInt32:
      return d.sub_type == kSubTypeAutoIncrement ? ftAutoInc : ftInteger;
    case kFieldFloat:
      return d.sub_type == 21 ? ftCurrency : ftFloat;
    case kFieldMoney:
      return ftBCD;
    case kFieldBytes:
      return ftBytes;
    case kFieldTime:
      return ftTime;
    case kFieldTimeStamp:
      return ftDateTime;
    case kFieldWord:
      return ftWord;
    case kFieldFourBytes:
      return ftInteger;
    case kFieldSized:
      return ftVarBytes;
    default:
      return ftUnknown;  // 0 and 14: not shown
  }
}

bool IsStoredField(const TField* field) {
  return (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc) &&
         field->FieldNo() > 0;
}

}  // namespace

// ---- construction ------------------------------------------------------------------------------

TTesseraDataSet::TTesseraDataSet(TComponent* owner) : TDataSet(owner) {}

TTesseraDataSet::~TTesseraDataSet() { DestroyingClose(); }

void TTesseraDataSet::Check(uint16_t code) { CheckEngineResult(code); }

void TTesseraDataSet::DestroyHandle() {
  TDataFile* handle = handle_;
  handle_ = nullptr;
  bool owned = handle_owned_;
  handle_owned_ = true;
  if (handle == nullptr || !owned) return;
  std::unique_ptr<TDataFile> owner(handle);
  owner->Close();
}

TDataFile* TTesseraDataSet::CloneHandle(std::string_view, bool) { return nullptr; }

// ---- buffers -----------------------------------------------------------------------------------

TRecordBuffer TTesseraDataSet::AllocRecordBuffer() {
  auto* buffer = new uint8_t[static_cast<size_t>(buffer_size_)];
  std::memset(buffer, 0, static_cast<size_t>(buffer_size_));
  return buffer;
}

void TTesseraDataSet::FreeRecordBuffer(TRecordBuffer& buffer) {
  delete[] buffer;
  buffer = nullptr;
}

void TTesseraDataSet::AllocKeyBuffers() {
  auto size = static_cast<size_t>(kKeyHeaderSize + record_size_);
  for (auto& key : key_buffers_) {
    key = std::make_unique<uint8_t[]>(size);
    std::memset(key.get(), 0, size);
  }
  old_value_buffer_ = std::make_unique<uint8_t[]>(static_cast<size_t>(record_size_));
}

void TTesseraDataSet::InitKeyBuffer(TKeyIndex key) {
  uint8_t* buffer = KeyBuffer(key);
  std::memset(buffer, 0, static_cast<size_t>(kKeyHeaderSize + record_size_));
  handle_->ApplyFieldDefaults(buffer + kKeyHeaderSize);
}

int TTesseraDataSet::KeyFieldCount(TKeyIndex key) const { return GetI32LE(KeyBuffer(key) + 4); }

uint8_t* TTesseraDataSet::ActiveRecordBuffer() const { return ActiveBuffer(); }

// ---- opening and closing -----------------------------------------------------------------------

void TTesseraDataSet::OpenCursor(bool info_query) {
  if (info_query) {
    // Definitions only: a descendant reads them without keeping a handle.
    InternalInitFieldDefs();
    return;
  }
  if (handle_ == nullptr) {
    handle_ = CreateHandle();
    if (handle_ == nullptr) DatabaseError(SCreateHandleError);
  }
  TDataSet::OpenCursor(false);
}

void TTesseraDataSet::CloseCursor() {
  // The handle goes even when the layer's close fails half-way.
  struct Destroy {
    TTesseraDataSet* self;
    ~Destroy() {
      try {
        self->DestroyHandle();
      } catch (...) {
        Application().HandleException(self);
      }
    }
  } destroy{this};
  TDataSet::CloseCursor();
}

void TTesseraDataSet::ReadFieldDefs(TDataFile& handle) {
  FieldDefs()->Clear();
  uint16_t count = handle.GetFieldsInUse();
  for (uint16_t n = 1; n <= count; ++n) {
    const TFieldDefinition& d = handle.GetFieldDefinition(TFieldSet::kWorking, n);
    cl::TFieldType type = MapFieldType(d);
    if (type == ftUnknown) continue;
    std::string name = d.name;
    for (int i = 1; FieldDefs()->IndexOf(name) >= 0; ++i) {
      name = d.name + "_" + std::to_string(i);
    }
    int size = 0;
    if (type == ftString || type == ftBytes || type == ftVarBytes) size = d.size;
    if (type == ftBCD) size = d.decimals;
    TFieldDef* def = FieldDefs()->Add(name, type, size, d.required);
    def->SetFieldNo(d.number);
    if (type == ftBCD) def->SetPrecision(20);
    def->SetInternalCalcField(d.computed);
  }
}

void TTesseraDataSet::InternalInitFieldDefs() {
  if (handle_ != nullptr) ReadFieldDefs(*handle_);
}

void TTesseraDataSet::ReadIndexDescription() {
  index_ = TIndexDescription{};
  uint8_t slot = handle_->GetCurrentIndexNumber();
  if (slot == 255) return;  // record-number order has no key fields
  TIndexDescriptor d = handle_->GetIndexDescriptor(slot);
  index_.field_count = std::min<int>(d.field_count, static_cast<int>(index_.field_numbers.size()));
  for (int i = 0; i < index_.field_count; ++i) index_.field_numbers[i] = d.field_numbers[i];
  index_.case_insensitive = d.case_insensitive != 0;
  index_.key_length = d.key_length;
}

void TTesseraDataSet::InternalOpen() {
  record_size_ = handle_->GetRecordBufferSize();
  int bookmark_size = handle_->GetCurrentKeyLength();
  can_modify_ = !handle_->ReadOnly() && !handle_->ReadOnlyAttribute();
  InternalInitFieldDefs();
  ReadIndexDescription();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  SetBookmarkSize(bookmark_size);
  buffer_size_ = BookmarkOffset() + bookmark_size;
  AllocKeyBuffers();
  handle_->MoveToBeginning();
  AfterOpenCursor();
  if (!Filter().empty()) MakeTextFilter();
  // Made active at once when Filtered.
  if (OnFilterRecord()) MakeCallbackFilter();
}

void TTesseraDataSet::InternalClose() {
  if (handle_ != nullptr && !handle_owned_) {
    // A borrowed handle outlives the dataset: its filters must not stay behind.
    for (TFilter* filter : {text_filter_, callback_filter_}) {
      if (filter != nullptr) handle_->DropFilter(filter);
    }
  }
  text_filter_ = nullptr;
  callback_filter_ = nullptr;
  for (auto& key : key_buffers_) key.reset();
  old_value_buffer_.reset();
  key_edit_buffer_ = nullptr;
  index_ = TIndexDescription{};
}

// ---- the record protocol -----------------------------------------------------------------------

TGetResult TTesseraDataSet::FetchRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) {
  uint16_t code = 0;
  switch (mode) {
    case gmCurrent:
      code = handle_->GetCurrentRecord(buffer, false);
      break;
    case gmNext:
      code = handle_->GetNextRecord(buffer);
      break;
    case gmPrior:
      code = handle_->GetPriorRecord(buffer);
      break;
  }
  switch (code) {
    case 0: {
      uint8_t* info = buffer + RecordInfoOffset();
      PutI32LE(info + kInfoSequence, static_cast<int32_t>(handle_->GetCurrentRecordNumber()));
      info[kInfoFlag] = bfCurrent;
      handle_->GetCurrentKey(buffer + BookmarkOffset());
      GetCalcFields(buffer);
      return grOK;
    }
    case kErrBeginningOfFile:
      return grBOF;
    case kErrEndOfFile:
      return grEOF;
    default:
      if (do_check) Check(code);
      return grError;
  }
}

void TTesseraDataSet::InternalInitRecord(TRecordBuffer buffer) {
  handle_->ApplyFieldDefaults(buffer);
  uint8_t* info = buffer + RecordInfoOffset();
  PutI32LE(info + kInfoSequence, -1);
  info[kInfoFlag] = bfInserted;
}

void TTesseraDataSet::ClearCalcFields(TRecordBuffer buffer) {
  std::memset(buffer + record_size_, 0, static_cast<size_t>(CalcFieldsSize()));
}

void TTesseraDataSet::InternalFirst() { handle_->MoveToBeginning(); }

void TTesseraDataSet::InternalLast() { handle_->MoveToEnd(); }

// Navigation keeps the nearest record when the key is gone; writes go through GotoActiveRecord.
void TTesseraDataSet::InternalSetToRecord(TRecordBuffer buffer) {
  handle_->FindKey(buffer + BookmarkOffset(), false);
}

void TTesseraDataSet::GotoActiveRecord() {
  TRecordBuffer buffer = ActiveBuffer();
  if (GetBookmarkFlag(buffer) != bfCurrent) return;
  // The key may find a record that took it after the one shown went; the sequence number tells
  // them apart, as the engine's own writes do.
  const bool found = handle_->FindKey(buffer + BookmarkOffset(), false);
  const TRecord* record = handle_->CurrentRecord();
  if (!found || record == nullptr || record->Sequence() != cl::GetU32LE(buffer + kRecSequence)) {
    RaiseEngineError(kErrRecordNotFound, handle_->FileName());
  }
}

void TTesseraDataSet::InternalGotoBookmark(const TBookmark& bookmark) {
  if (static_cast<int>(bookmark.size()) != BookmarkSize()) return;
  // A key that is gone leaves the engine on the next record; standing after the last one
  // instead makes the layer report the record as not found rather than show another.
  if (!handle_->FindKey(bookmark.data(), false)) handle_->MoveToEnd();
}

void TTesseraDataSet::GetBookmarkData(TRecordBuffer buffer, TBookmark& bookmark) {
  const uint8_t* key = buffer + BookmarkOffset();
  bookmark.assign(key, key + BookmarkSize());
}

void TTesseraDataSet::SetBookmarkData(TRecordBuffer buffer, const TBookmark& bookmark) {
  if (static_cast<int>(bookmark.size()) == BookmarkSize()) {
    std::memcpy(buffer + BookmarkOffset(), bookmark.data(), bookmark.size());
  }
}

TBookmarkFlag TTesseraDataSet::GetBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(buffer[RecordInfoOffset() + kInfoFlag]);
}

void TTesseraDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  buffer[RecordInfoOffset() + kInfoFlag] = flag;
}

bool TTesseraDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (handle_ == nullptr || static_cast<int>(bookmark.size()) != BookmarkSize()) return false;
  CursorPosChanged();
  if (!handle_->FindKey(bookmark.data(), false)) return false;
  return handle_->GetCurrentRecord(nullptr, false) == 0;
}

int TTesseraDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  if (a.empty() && b.empty()) return 0;
  if (a.empty()) return 1;
  if (b.empty()) return -1;
  if (handle_ == nullptr || a.size() != b.size() || static_cast<int>(a.size()) != BookmarkSize()) {
    return 0;
  }
  return handle_->CompareKey(a.data(), b.data());
}

int TTesseraDataSet::GetRecordCount() {
  CheckActive();
  return static_cast<int>(handle_->GetRecordCount());
}

int TTesseraDataSet::GetRecNo() {
  CheckActive();
  if (State() == dsBrowse && IsEmpty()) return 0;
  TRecordBuffer buffer = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
  if (buffer == nullptr) return -1;
  return GetI32LE(buffer + RecordInfoOffset() + kInfoSequence);
}

void TTesseraDataSet::SetRecNo(int value) {
  CheckBrowseMode();
  if (value == GetRecNo()) return;
  DoBeforeScroll();
  handle_->GoToPosition(static_cast<uint32_t>(std::max(value, 1)));
  Resync(TResyncMode{rmCenter});
  DoAfterScroll();
}

bool TTesseraDataSet::GetCurrentRecord(TRecordBuffer buffer) {
  if (IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != bfCurrent) return false;
  UpdateCursorPos();
  return handle_->GetCurrentRecord(buffer, false) == 0;
}

// ---- editing -----------------------------------------------------------------------------------

void TTesseraDataSet::InternalEdit() {
  GotoActiveRecord();
  Check(handle_->GetCurrentRecord(ActiveBuffer(), true));
}

void TTesseraDataSet::InternalCancel() {
  // By the record's own number: the cursor may no longer stand on a record that another user
  // deleted meanwhile, and the lock must still go.
  uint32_t number = GetU32LE(ActiveBuffer() + kRecLink);
  if (handle_->HoldsRecordLock(number)) handle_->UnlockRecord(number);
}

void TTesseraDataSet::InternalPost() {
  if (State() == dsEdit) {
    GotoActiveRecord();
    handle_->ModifyRecord(ActiveBuffer());
  } else {
    handle_->InsertRecord(ActiveBuffer());
  }
}

void TTesseraDataSet::InsertRecordIntoFile(TRecordBuffer buffer, bool) {
  handle_->InsertRecord(buffer);
}

void TTesseraDataSet::InternalDelete() {
  GotoActiveRecord();
  handle_->DeleteRecord();
}

void TTesseraDataSet::InternalRefresh() { handle_->RefreshFromDisk(); }

void TTesseraDataSet::CloseBlob(TField* field) {
  if (handle_ == nullptr || IsEmpty() || field->FieldNo() <= 0) return;
  uint16_t code = handle_->CloseBlob(TFieldSet::kWorking, static_cast<uint16_t>(field->FieldNo()),
                                     ActiveBuffer());
  // After a post the engine has taken the value already: nothing is left open to end.
  if (code != kErrInvalidBlobHandle) Check(code);
}

// ---- field values ------------------------------------------------------------------------------

void TTesseraDataSet::ReadOldValues() {
  UpdateCursorPos();
  Check(handle_->GetCurrentRecord(old_value_buffer_.get(), false));
}

uint8_t* TTesseraDataSet::SelectBuffer() {
  switch (State()) {
    case dsBrowse:
      return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit:
    case dsInsert:
    case dsNewValue:
      return ActiveBuffer();
    case dsSetKey:
      return key_edit_buffer_ == nullptr ? nullptr : key_edit_buffer_ + kKeyHeaderSize;
    case dsCalcFields:
      return lookup_record_ != nullptr ? lookup_record_ : CalcBuffer();
    case dsFilter:
      return const_cast<uint8_t*>(filter_record_);
    case dsOldValue:
      if (old_value_buffer_ == nullptr || IsEmpty()) return nullptr;
      ReadOldValues();
      return old_value_buffer_.get();
    default:
      return nullptr;
  }
}

bool TTesseraDataSet::GetFieldValue(const TField* field, void* buffer) {
  if (handle_ == nullptr) return false;
  if (!IsStoredField(field)) {
    TDataSetState state = State();
    if (state != dsBrowse && state != dsEdit && state != dsInsert && state != dsCalcFields) {
      return false;
    }
    uint8_t* record = SelectBuffer();
    if (record == nullptr) return false;
    return ReadCalcValue(record + record_size_, field, buffer);
  }
  uint8_t* record = SelectBuffer();
  if (record == nullptr) return false;
  auto number = static_cast<uint16_t>(field->FieldNo());
  const TFieldDefinition& d = handle_->GetFieldDefinition(TFieldSet::kWorking, number);
  std::vector<uint8_t> stored(std::max<size_t>(d.stored_size, 8));
  if (handle_->GetFieldValue(TFieldSet::kWorking, number, stored.data(), record)) return false;
  if (buffer == nullptr || field->DataSize() == 0) return true;
  auto size = static_cast<size_t>(field->DataSize());
  if (d.type == kFieldMoney) {
    int64_t raw = StoredToMoney(GetI64LE(stored.data())).Raw;
    PutI64LE(static_cast<uint8_t*>(buffer), raw);
    return true;
  }
  std::memset(buffer, 0, size);
  std::memcpy(buffer, stored.data(), std::min<size_t>(size, d.stored_size));
  return true;
}

bool TTesseraDataSet::IsKeyField(const TField* field) const {
  for (int i = 0; i < index_.field_count; ++i) {
    if (index_.field_numbers[i] == field->FieldNo()) return true;
  }
  return false;
}

bool TTesseraDataSet::GetIsIndexField(TField* field) { return IsKeyField(field); }

void TTesseraDataSet::SetFieldValue(TField* field, const void* buffer) {
  TDataSetState state = State();
  bool stored = IsStoredField(field);
  if (state == dsOldValue) DatabaseErrorFmt(SFieldReadOnly, {field->DisplayName()});
  if (state < dsEdit || state > dsNewValue) DatabaseError(SNotEditing);
  if (state == dsSetKey && (!stored || (index_.field_count > 0 && !IsKeyField(field)))) {
    DatabaseErrorFmt(SNotIndexField, {field->DisplayName()});
  }
  if (stored && state == dsCalcFields) DatabaseError(SNotEditing);
  if (field->ReadOnly() && state != dsSetKey && state != dsFilter) {
    DatabaseErrorFmt(SFieldReadOnly, {field->DisplayName()});
  }
  uint8_t* record = SelectBuffer();
  if (record == nullptr) DatabaseError(SNotEditing);
  field->Validate(buffer);
  if (!stored) {
    if (field->FieldKind() != fkInternalCalc) WriteCalcValue(record + record_size_, field, buffer);
  } else if (field->FieldKind() != fkInternalCalc) {
    auto number = static_cast<uint16_t>(field->FieldNo());
    const TFieldDefinition& d = handle_->GetFieldDefinition(TFieldSet::kWorking, number);
    if (buffer == nullptr) {
      handle_->PutFieldValue(TFieldSet::kWorking, number, false, nullptr, record);
    } else {
      std::vector<uint8_t> value(std::max<size_t>(d.stored_size, 8));
      if (d.type == kFieldMoney) {
        Currency amount = Currency::FromRaw(GetI64LE(static_cast<const uint8_t*>(buffer)));
        PutI64LE(value.data(), MoneyToStored(d.decimals, amount));
      } else {
        std::memcpy(value.data(), buffer,
                    std::min<size_t>(static_cast<size_t>(field->DataSize()), d.stored_size));
      }
      handle_->PutFieldValue(TFieldSet::kWorking, number, false, value.data(), record);
    }
  }
  if (state != dsCalcFields && state != dsFilter && state != dsNewValue) {
    DataEvent(deFieldChange, field);
  }
}

}  // namespace tessera
