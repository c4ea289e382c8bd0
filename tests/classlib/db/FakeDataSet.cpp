#include "FakeDataSet.h"

#include <algorithm>
#include <cstring>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TBlobField.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Collation.h"

namespace cl::test {
namespace {

int NativeSize(TFieldType type, int size) {
  switch (type) {
    case ftString:
      return size + 1;
    case ftSmallint:
    case ftWord:
    case ftBoolean:
      return 2;
    case ftInteger:
    case ftAutoInc:
    case ftDate:
    case ftTime:
      return 4;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftDateTime:
      return 8;
    case ftBytes:
      return size;
    case ftVarBytes:
      return size + 2;
    default:
      return 0;
  }
}

bool IsBlobType(TFieldType type) { return type >= ftBlob && type <= ftTypedBinary; }

const char* ModeName(TGetMode mode) {
  switch (mode) {
    case gmCurrent:
      return "current";
    case gmNext:
      return "next";
    default:
      return "prior";
  }
}

const char* ResultName(TGetResult result) {
  switch (result) {
    case grOK:
      return "OK";
    case grBOF:
      return "BOF";
    case grEOF:
      return "EOF";
    default:
      return "Error";
  }
}

}  // namespace

// A stream over one blob value of a record buffer.
class TFakeBlobStream : public TStream {
 public:
  TFakeBlobStream(TFakeDataSet* dataset, TField* field, std::string* value, bool modified)
      : dataset_(dataset), field_(field), value_(value), modified_(modified) {}

  ~TFakeBlobStream() override {
    if (!modified_) return;
    if (auto* blob = dynamic_cast<TBlobField*>(field_)) blob->SetModified(true);
    try {
      dataset_->DataEvent(deFieldChange, field_);
    } catch (...) {
      Application().HandleException(dataset_);
    }
  }

  int32_t Read(void* buffer, int32_t count) override {
    if (count <= 0 || position_ >= static_cast<int64_t>(value_->size())) return 0;
    int32_t n = static_cast<int32_t>(
        std::min<int64_t>(count, static_cast<int64_t>(value_->size()) - position_));
    std::memcpy(buffer, value_->data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
  }

  int32_t Write(const void* buffer, int32_t count) override {
    if (count <= 0) return 0;
    size_t end = static_cast<size_t>(position_) + static_cast<size_t>(count);
    if (end > value_->size()) value_->resize(end);
    std::memcpy(value_->data() + position_, buffer, static_cast<size_t>(count));
    position_ = static_cast<int64_t>(end);
    modified_ = true;
    return count;
  }

  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    int64_t base = origin == soFromBeginning ? 0
                   : origin == soFromCurrent ? position_
                                             : static_cast<int64_t>(value_->size());
    position_ = std::max<int64_t>(0, base + offset);
    return position_;
  }

  void SetSize(int64_t size) override {
    value_->resize(static_cast<size_t>(std::max<int64_t>(0, size)));
    modified_ = true;
  }

 private:
  TFakeDataSet* dataset_;
  TField* field_;
  std::string* value_;
  bool modified_;
  int64_t position_ = 0;
};

void AddStandardDefs(TFakeDataSet* dataset) {
  dataset->AddFieldDef("Numero", ftInteger);
  dataset->AddFieldDef("Nom", ftString, 20);
  dataset->AddFieldDef("DateAppel", ftDateTime, 0, true);
  dataset->AddFieldDef("Message", ftMemo);
}

TFakeDataSet::TFakeDataSet(TComponent* owner, TTrace* trace) : TDataSet(owner), trace_(trace) {}

TFakeDataSet::~TFakeDataSet() { DestroyingClose(); }

void TFakeDataSet::AddFieldDef(const std::string& name, TFieldType type, int size, bool required) {
  CheckInactive();
  defs_.push_back({name, type, size, required});
}

void TFakeDataSet::FailNext(FakeSlot slot, int count, int code, std::string message) {
  failures_[slot] = Failure{count, code, std::move(message)};
}

int TFakeDataSet::Calls(FakeSlot slot) const {
  auto it = calls_.find(slot);
  return it == calls_.end() ? 0 : it->second;
}

void TFakeDataSet::Trace(const std::string& entry) {
  if (trace_ != nullptr) trace_->Add("v:" + entry);
}

void TFakeDataSet::MaybeFail(FakeSlot slot) {
  ++calls_[slot];
  Failure& failure = failures_[slot];
  if (failure.count > 0) {
    --failure.count;
    throw EFakeEngineError(failure.code, failure.message);
  }
}

// ---- opening -----------------------------------------------------------------------------------

void TFakeDataSet::InternalInitFieldDefs() {
  Trace("InternalInitFieldDefs");
  FieldDefs()->Clear();
  for (const Def& def : defs_) FieldDefs()->Add(def.name, def.type, def.size, def.required);
}

void TFakeDataSet::InternalOpen() {
  Trace("InternalOpen");
  MaybeFail(FakeSlot::Open);
  FieldDefs()->Clear();
  for (const Def& def : defs_) FieldDefs()->Add(def.name, def.type, def.size, def.required);
  if (DefaultFields()) CreateFields();
  BindFields(true);
  offsets_.clear();
  blob_slots_.clear();
  data_size_ = 0;
  int blobs = 0;
  for (const Def& def : defs_) {
    offsets_.push_back(data_size_);
    if (IsBlobType(def.type)) {
      blob_slots_.push_back(blobs++);
    } else {
      blob_slots_.push_back(-1);
      data_size_ += 1 + NativeSize(def.type, def.size);
    }
  }
  record_size_ = data_size_;
  buffer_size_ = data_size_ + CalcFieldsSize() + 1 + 4;
  for (Record& record : records_) record.blobs.resize(static_cast<size_t>(blobs));
  SetBookmarkSize(4);
  work_buffer_ = AllocRecordBuffer();
  key_buffer_ = AllocRecordBuffer();
  saved_key_ = AllocRecordBuffer();
  cursor_ = -1;
  handle_ = true;
}

void TFakeDataSet::InternalClose() {
  Trace("InternalClose");
  if (work_buffer_ != nullptr) FreeRecordBuffer(work_buffer_);
  if (key_buffer_ != nullptr) FreeRecordBuffer(key_buffer_);
  if (saved_key_ != nullptr) FreeRecordBuffer(saved_key_);
  handle_ = false;
}

// ---- buffers -----------------------------------------------------------------------------------

TRecordBuffer TFakeDataSet::AllocRecordBuffer() {
  auto* buffer = new uint8_t[static_cast<size_t>(buffer_size_)]();
  size_t blobs = static_cast<size_t>(
      std::count_if(blob_slots_.begin(), blob_slots_.end(), [](int slot) { return slot >= 0; }));
  buffer_blobs_[buffer].assign(blobs, std::string());
  return buffer;
}

void TFakeDataSet::FreeRecordBuffer(TRecordBuffer& buffer) {
  buffer_blobs_.erase(buffer);
  delete[] buffer;
  buffer = nullptr;
}

std::vector<std::string>& TFakeDataSet::BlobsOf(TRecordBuffer buffer) {
  return buffer_blobs_[buffer];
}

int32_t TFakeDataSet::IdOf(TRecordBuffer buffer) const {
  return GetI32LE(buffer + data_size_ + CalcFieldsSize() + 1);
}

int TFakeDataSet::IndexOfId(int32_t id) const {
  for (size_t i = 0; i < records_.size(); ++i) {
    if (records_[i].id == id) return static_cast<int>(i);
  }
  return -1;
}

void TFakeDataSet::LoadRecord(int index, TRecordBuffer buffer) {
  const Record& record = records_[static_cast<size_t>(index)];
  std::memcpy(buffer, record.data.data(), static_cast<size_t>(data_size_));
  BlobsOf(buffer) = record.blobs;
  buffer[data_size_ + CalcFieldsSize()] = bfCurrent;
  PutI32LE(buffer + data_size_ + CalcFieldsSize() + 1, record.id);
}

void TFakeDataSet::StoreRecord(TRecordBuffer buffer, Record& record) {
  record.data.assign(buffer, buffer + data_size_);
  record.blobs = BlobsOf(buffer);
}

TRecordBuffer TFakeDataSet::SelectBuffer() const {
  switch (State()) {
    case dsBrowse:
      return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit:
    case dsInsert:
      return ActiveBuffer();
    case dsSetKey:
      return key_buffer_;
    case dsCalcFields:
      return CalcBuffer();
    case dsFilter:
      return filter_buffer_;
    default:
      return nullptr;
  }
}

void TFakeDataSet::WithWorkRecordInFilterState(const std::function<void()>& work) {
  TRecordBuffer saved = filter_buffer_;
  filter_buffer_ = work_buffer_;
  TDataSetState old = SetTempState(dsFilter);
  try {
    work();
  } catch (...) {
    RestoreState(old);
    filter_buffer_ = saved;
    throw;
  }
  RestoreState(old);
  filter_buffer_ = saved;
}

bool TFakeDataSet::Accept(int index, bool use_filter) {
  if (!use_filter || !OnFilterRecord()) return true;
  LoadRecord(index, work_buffer_);
  bool accept = true;
  WithWorkRecordInFilterState([&] { OnFilterRecord()(this, accept); });
  return accept;
}

// ---- the record protocol -----------------------------------------------------------------------

TGetResult TFakeDataSet::FetchRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) {
  int n = static_cast<int>(records_.size());
  try {
    MaybeFail(FakeSlot::Fetch);
  } catch (EFakeEngineError&) {
    Trace(std::string("FetchRecord(") + ModeName(mode) + ")=Error");
    if (do_check) throw;
    return grError;
  }
  bool filtered = Filtered();
  TGetResult result = grOK;
  int from = std::min(cursor_, n);
  switch (mode) {
    case gmCurrent:
      if (!(cursor_ >= 0 && cursor_ < n && Accept(cursor_, filtered))) {
        result = cursor_ < 0 ? grBOF : grEOF;
      }
      break;
    case gmNext: {
      int i = from + 1;
      while (i < n && !Accept(i, filtered)) ++i;
      if (i < n) {
        cursor_ = i;
      } else {
        cursor_ = n;
        result = grEOF;
      }
      break;
    }
    case gmPrior: {
      int i = from - 1;
      while (i >= 0 && !Accept(i, filtered)) --i;
      if (i >= 0) {
        cursor_ = i;
      } else {
        cursor_ = -1;
        result = grBOF;
      }
      break;
    }
  }
  Trace(std::string("FetchRecord(") + ModeName(mode) + ")=" + ResultName(result));
  if (result == grOK) {
    LoadRecord(cursor_, buffer);
    GetCalcFields(buffer);
  }
  return result;
}

void TFakeDataSet::InternalInitRecord(TRecordBuffer buffer) {
  Trace("InternalInitRecord");
  std::memset(buffer, 0, static_cast<size_t>(data_size_));
  for (std::string& blob : BlobsOf(buffer)) blob.clear();
}

void TFakeDataSet::ClearCalcFields(TRecordBuffer buffer) {
  std::memset(buffer + data_size_, 0, static_cast<size_t>(CalcFieldsSize()));
}

void TFakeDataSet::InternalFirst() {
  Trace("InternalFirst");
  cursor_ = -1;
}

void TFakeDataSet::InternalLast() {
  Trace("InternalLast");
  cursor_ = static_cast<int>(records_.size());
}

void TFakeDataSet::InternalSetToRecord(TRecordBuffer buffer) {
  Trace("InternalSetToRecord");
  int index = IndexOfId(IdOf(buffer));
  if (index >= 0) cursor_ = index;
}

void TFakeDataSet::InternalGotoBookmark(const TBookmark& bookmark) {
  Trace("InternalGotoBookmark");
  int index = bookmark.size() == 4 ? IndexOfId(GetI32LE(bookmark.data())) : -1;
  // A record that is gone leaves the cursor nowhere, so that the exact resync fails.
  cursor_ =
      (index >= 0 && Accept(index, Filtered())) ? index : static_cast<int>(records_.size()) + 1;
}

void TFakeDataSet::GetBookmarkData(TRecordBuffer buffer, TBookmark& bookmark) {
  const uint8_t* id = buffer + data_size_ + CalcFieldsSize() + 1;
  bookmark.assign(id, id + 4);
}

void TFakeDataSet::SetBookmarkData(TRecordBuffer buffer, const TBookmark& bookmark) {
  if (bookmark.size() == 4) {
    std::memcpy(buffer + data_size_ + CalcFieldsSize() + 1, bookmark.data(), 4);
  }
}

TBookmarkFlag TFakeDataSet::GetBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(buffer[data_size_ + CalcFieldsSize()]);
}

void TFakeDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  buffer[data_size_ + CalcFieldsSize()] = flag;
}

void TFakeDataSet::InternalEdit() {
  Trace("InternalEdit");
  MaybeFail(FakeSlot::Edit);
}

void TFakeDataSet::InternalPost() {
  Trace("InternalPost");
  MaybeFail(FakeSlot::Post);
  int n = static_cast<int>(records_.size());
  if (State() == dsEdit) {
    if (cursor_ < 0 || cursor_ >= n) DatabaseError(SRecordNotFound);
    StoreRecord(ActiveBuffer(), records_[static_cast<size_t>(cursor_)]);
    return;
  }
  Record record;
  record.id = next_id_++;
  StoreRecord(ActiveBuffer(), record);
  int position = std::clamp(cursor_, 0, n);
  records_.insert(records_.begin() + position, std::move(record));
  cursor_ = position;
}

void TFakeDataSet::InternalCancel() { Trace("InternalCancel"); }

void TFakeDataSet::InternalDelete() {
  Trace("InternalDelete");
  MaybeFail(FakeSlot::Delete);
  int n = static_cast<int>(records_.size());
  if (cursor_ < 0 || cursor_ >= n) DatabaseError(SRecordNotFound);
  records_.erase(records_.begin() + cursor_);
  if (cursor_ >= n - 1) cursor_ = n - 2;
}

void TFakeDataSet::InsertRecordIntoFile(TRecordBuffer buffer, bool append) {
  Trace(std::string("InsertRecordIntoFile(") + (append ? "append" : "insert") + ")");
  MaybeFail(FakeSlot::InsertRecord);
  int n = static_cast<int>(records_.size());
  Record record;
  record.id = next_id_++;
  StoreRecord(buffer, record);
  int position = append ? n : std::clamp(cursor_, 0, n);
  records_.insert(records_.begin() + position, std::move(record));
  cursor_ = position;
}

void TFakeDataSet::InternalRefresh() { Trace("InternalRefresh"); }

// ---- fields ------------------------------------------------------------------------------------

bool TFakeDataSet::GetFieldValue(const TField* field, void* buffer) {
  TRecordBuffer record = SelectBuffer();
  if (record == nullptr) return false;
  if (field->FieldKind() == fkCalculated || field->FieldKind() == fkLookup) {
    return ReadCalcValue(record + data_size_, field, buffer);
  }
  size_t index = static_cast<size_t>(field->FieldNo() - 1);
  if (field->FieldNo() < 1 || index >= defs_.size()) return false;
  if (blob_slots_[index] >= 0) {
    return !BlobsOf(record)[static_cast<size_t>(blob_slots_[index])].empty();
  }
  const uint8_t* slot = record + offsets_[index];
  if (slot[0] == 0) return false;
  if (buffer != nullptr) std::memcpy(buffer, slot + 1, static_cast<size_t>(field->DataSize()));
  return true;
}

void TFakeDataSet::SetFieldValue(TField* field, const void* buffer) {
  Trace("SetFieldValue(" + field->FieldName() + ")");
  TDataSetState state = State();
  bool stored = field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc;
  if (state < dsEdit || state > dsNewValue || (stored && state == dsCalcFields)) {
    DatabaseError(SNotEditing);
  }
  if (field->ReadOnly() && state != dsSetKey && state != dsFilter) {
    DatabaseErrorFmt(SFieldReadOnly, {field->DisplayName()});
  }
  TRecordBuffer record = SelectBuffer();
  if (record == nullptr) DatabaseError(SNotEditing);
  if (state != dsCalcFields) field->Validate(buffer);
  if (!stored) {
    WriteCalcValue(record + data_size_, field, buffer);
  } else {
    size_t index = static_cast<size_t>(field->FieldNo() - 1);
    uint8_t* slot = record + offsets_[index];
    size_t size = static_cast<size_t>(field->DataSize());
    slot[0] = buffer != nullptr ? 1 : 0;
    if (buffer != nullptr) {
      std::memcpy(slot + 1, buffer, size);
    } else {
      std::memset(slot + 1, 0, size);
    }
  }
  if (state != dsCalcFields && state != dsFilter && state != dsNewValue) {
    DataEvent(deFieldChange, field);
  }
}

std::unique_ptr<TStream> TFakeDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  Trace("CreateBlobStream(" + field->FieldName() + ")");
  if (mode != bmRead) {
    if (State() != dsEdit && State() != dsInsert) DatabaseError(SNotEditing);
    if (field->ReadOnly()) DatabaseErrorFmt(SFieldReadOnly, {field->DisplayName()});
    MaybeFail(FakeSlot::BlobWrite);
  }
  size_t index = static_cast<size_t>(field->FieldNo() - 1);
  TRecordBuffer record = SelectBuffer();
  if (record == nullptr || field->FieldNo() < 1 || blob_slots_[index] < 0) {
    static std::string empty;
    empty.clear();
    return std::make_unique<TFakeBlobStream>(this, field, &empty, false);
  }
  std::string* value = &BlobsOf(record)[static_cast<size_t>(blob_slots_[index])];
  bool truncated = mode == bmWrite && !value->empty();
  if (mode == bmWrite) value->clear();
  return std::make_unique<TFakeBlobStream>(this, field, value, truncated);
}

void TFakeDataSet::CloseBlob(TField* field) { Trace("CloseBlob(" + field->FieldName() + ")"); }

// ---- counts, numbers, bookmarks ----------------------------------------------------------------

int TFakeDataSet::GetRecordCount() {
  int count = 0;
  for (int i = 0; i < static_cast<int>(records_.size()); ++i) {
    if (Accept(i, Filtered())) ++count;
  }
  return count;
}

int TFakeDataSet::GetRecNo() {
  TRecordBuffer buffer = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
  if (buffer == nullptr || IsEmpty() || GetBookmarkFlag(buffer) != bfCurrent) return 0;
  int index = IndexOfId(IdOf(buffer));
  int number = 0;
  for (int i = 0; i <= index; ++i) {
    if (Accept(i, Filtered())) ++number;
  }
  return number;
}

void TFakeDataSet::SetRecNo(int value) {
  CheckBrowseMode();
  if (value == GetRecNo()) return;
  DoBeforeScroll();
  int number = 0;
  for (int i = 0; i < static_cast<int>(records_.size()); ++i) {
    if (Accept(i, Filtered()) && ++number == value) {
      cursor_ = i;
      break;
    }
  }
  Resync(TResyncMode{rmCenter});
  DoAfterScroll();
}

bool TFakeDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (bookmark.size() != 4 || !handle_) return false;
  int index = IndexOfId(GetI32LE(bookmark.data()));
  return index >= 0 && Accept(index, Filtered());
}

int TFakeDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  Trace("CompareBookmarks");
  if (a.empty() && b.empty()) return 0;
  if (a.empty()) return 1;
  if (b.empty()) return -1;
  int x = IndexOfId(GetI32LE(a.data()));
  int y = IndexOfId(GetI32LE(b.data()));
  return x < y ? -1 : (x > y ? 1 : 0);
}

// ---- locate, lookup, find ----------------------------------------------------------------------

bool TFakeDataSet::Matches(int index, const std::vector<TField*>& fields,
                           const std::vector<Variant>& keys, TLocateOptions options) {
  LoadRecord(index, work_buffer_);
  bool match = true;
  WithWorkRecordInFilterState([&] {
    for (size_t i = 0; i < fields.size() && match; ++i) {
      Variant value = fields[i]->Value();
      const Variant& key = keys[i];
      if (key.IsNull() || key.IsEmpty()) {
        match = value.IsNull();
      } else if (value.IsNull()) {
        match = false;
      } else if (fields[i]->DataType() == ftString || fields[i]->DataType() == ftMemo) {
        std::string text = value.AsString();
        std::string wanted = key.AsString();
        if (options.Contains(loPartialKey)) text = text.substr(0, wanted.size());
        match = options.Contains(loCaseInsensitive) ? AnsiSameText(text, wanted) : text == wanted;
      } else {
        match = LookupKeysEqual(value, key);
      }
    }
  });
  return match;
}

int TFakeDataSet::FindMatch(std::string_view key_fields, const Variant& key_values,
                            TLocateOptions options) {
  std::vector<TField*> fields;
  GetFieldList(fields, key_fields);
  std::vector<Variant> keys;
  if (fields.size() == 1 && !key_values.IsArray()) {
    keys.push_back(key_values);
  } else {
    keys = key_values.Elements();
    if (keys.size() != fields.size()) DatabaseError("Nombre de valeurs de cl\xE9 incorrect");
  }
  for (int i = 0; i < static_cast<int>(records_.size()); ++i) {
    if (Accept(i, Filtered()) && Matches(i, fields, keys, options)) return i;
  }
  return -1;
}

bool TFakeDataSet::LocateRecord(std::string_view key_fields, const Variant& key_values,
                                TLocateOptions options, bool sync_cursor) {
  Trace("LocateRecord(" + std::string(key_fields) + ")");
  int index = FindMatch(key_fields, key_values, options);
  if (index < 0) return false;
  if (sync_cursor) {
    cursor_ = index;
    CursorPosChanged();
  }
  return true;
}

Variant TFakeDataSet::LookupValues(std::string_view key_fields, const Variant& key_values,
                                   std::string_view result_fields) {
  Trace("LookupValues(" + std::string(key_fields) + ")");
  int index = FindMatch(key_fields, key_values, TLocateOptions{});
  if (index < 0) return Variant::Null();
  LoadRecord(index, work_buffer_);
  GetCalcFields(work_buffer_);
  Variant result;
  WithWorkRecordInFilterState([&] { result = FieldValues(result_fields); });
  return result;
}

bool TFakeDataSet::FindRecord(bool restart, bool go_forward) {
  Trace("FindRecord");
  CheckBrowseMode();
  DoBeforeScroll();
  SetFound(false);
  UpdateCursorPos();
  CursorPosChanged();
  int n = static_cast<int>(records_.size());
  int i = restart ? (go_forward ? -1 : n) : std::clamp(cursor_, -1, n);
  for (;;) {
    i += go_forward ? 1 : -1;
    if (i < 0 || i >= n) return false;
    if (Accept(i, true)) break;
  }
  cursor_ = i;
  Resync(TResyncMode{rmExact, rmCenter});
  DoAfterScroll();
  return true;
}

// ---- filters and keys --------------------------------------------------------------------------

void TFakeDataSet::SetFiltered(bool value) {
  if (Active()) CheckBrowseMode();
  bool changed = value != Filtered();
  TDataSet::SetFiltered(value);
  Trace(std::string("SetFiltered(") + (value ? "true" : "false") + ")");
  if (Active() && changed) First();
}

void TFakeDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  if (Active()) CheckBrowseMode();
  TDataSet::SetOnFilterRecord(std::move(handler));
  if (Active() && Filtered()) First();
}

void TFakeDataSet::SetKey() {
  CheckBrowseMode();
  std::memcpy(saved_key_, key_buffer_, static_cast<size_t>(buffer_size_));
  SetState(dsSetKey);
}

void TFakeDataSet::FinishKeyEdit(bool post) {
  Trace(std::string("FinishKeyEdit(") + (post ? "post" : "cancel") + ")");
  if (post) {
    key_modified_ = true;
  } else {
    std::memcpy(key_buffer_, saved_key_, static_cast<size_t>(buffer_size_));
  }
  SetState(dsBrowse);
}

void TFakeDataSet::WithTempKeyState(const std::function<void()>& work) {
  TDataSetState old = SetTempState(dsSetKey);
  try {
    work();
  } catch (...) {
    RestoreState(old);
    throw;
  }
  RestoreState(old);
}

Variant TFakeDataSet::StoredValue(int row, std::string_view field_name) {
  TField* field = FieldByName(field_name);
  LoadRecord(row, work_buffer_);
  Variant value;
  WithWorkRecordInFilterState([&] { value = field->Value(); });
  return value;
}

}  // namespace cl::test
