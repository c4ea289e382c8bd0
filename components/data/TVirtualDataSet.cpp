// TVirtualDataSet: layout, the record protocol, posting and deleting.  Compare, search, sort,
// indexes, locate, ranges and master/detail live in TVirtualDataSetIndexes.cpp, filtering in
// TVirtualDataSetFilter.cpp.
#include "components/data/TVirtualDataSet.h"

#include <algorithm>
#include <cstring>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TBlobField.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/AsciiText.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Filer.h"
#include "components/data/TFilterEvaluator.h"

namespace comp {

using namespace cl;

namespace {

constexpr const char* SNoRecords = "Pas d'enregistrements disponibles";
constexpr const char* SIndexFieldKind = "Type de champ incompatible pour les indexs : %s, %s";
constexpr int kPointerSlot = static_cast<int>(sizeof(TMemoryStream*));

void CopyStream(const TMemoryStream* from, TMemoryStream* to) {
  to->Clear();
  auto size = static_cast<int32_t>(const_cast<TMemoryStream*>(from)->Size());
  if (size > 0) to->WriteBuffer(from->Memory(), size);
  to->SetPosition(0);
}

}  // namespace

// A stream over the blob value of one record buffer, at its own position.
class TBlobStream : public TStream {
 public:
  TBlobStream(TVirtualDataSet* dataset, TField* field, TMemoryStream* blob)
      : dataset_(dataset), field_(field), blob_(blob) {}

  ~TBlobStream() override {
    if (!modified_) return;
    if (auto* blob_field = dynamic_cast<TBlobField*>(field_)) blob_field->SetModified(true);
    try {
      dataset_->DataEvent(deFieldChange, field_);
    } catch (...) {
      Application().HandleException(dataset_);
    }
  }

  void MarkModified() { modified_ = true; }

  int32_t Read(void* buffer, int32_t count) override {
    if (blob_ == nullptr || count <= 0) return 0;
    int64_t size = blob_->Size();
    if (position_ >= size) return 0;
    auto n = static_cast<int32_t>(std::min<int64_t>(count, size - position_));
    std::memcpy(buffer, static_cast<uint8_t*>(blob_->Memory()) + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
  }

  int32_t Write(const void* buffer, int32_t count) override {
    if (blob_ == nullptr || count <= 0) return 0;
    blob_->SetPosition(position_);
    blob_->WriteBuffer(buffer, count);
    position_ += count;
    // The blob ends where the data written ends.
    blob_->SetSize(position_);
    modified_ = true;
    return count;
  }

  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    int64_t size = blob_ == nullptr ? 0 : blob_->Size();
    int64_t base = origin == soFromBeginning ? 0 : origin == soFromCurrent ? position_ : size;
    position_ = std::max<int64_t>(0, base + offset);
    return position_;
  }

  void SetSize(int64_t size) override {
    if (blob_ == nullptr) return;
    blob_->SetSize(std::max<int64_t>(0, size));
    modified_ = true;
  }

 private:
  TVirtualDataSet* dataset_;
  TField* field_;
  TMemoryStream* blob_;
  bool modified_ = false;
  int64_t position_ = 0;
};

TVirtualDataSet::TVirtualDataSet(TComponent* owner)
    : TDataSet(owner), master_link_(std::make_unique<TMasterDataLink>(this)) {}

TVirtualDataSet::~TVirtualDataSet() {
  DestroyingClose();
  master_link_->SetDataSource(nullptr);
}

// ---- properties --------------------------------------------------------------------------------

void TVirtualDataSet::SetIndexFieldNames(const std::string& names) {
  if (CompareText(names, index_field_names_) == 0) return;
  SetIndex(names, index_options_, false);
}

void TVirtualDataSet::SetIndexOptions(TIndexOptions options) {
  TIndexOptions masked;
  for (TIndexOption o : {ixUnique, ixDescending, ixCaseInsensitive}) {
    if (options.Contains(o)) masked.Include(o);
  }
  if (masked == index_options_) return;
  SetIndex(index_field_names_, masked, false);
}

void TVirtualDataSet::SetMasterSource(TDataSource* source) {
  if (source != nullptr && IsLinkedTo(source)) DatabaseError(SCircularDataLink);
  if (MasterSource() != nullptr) RemoveFreeNotification(MasterSource());
  master_link_->SetDataSource(source);
  if (source != nullptr) FreeNotification(source);
}

void TVirtualDataSet::Notification(TComponent* component, TOperation operation) {
  TDataSet::Notification(component, operation);
  if (operation == opRemove && component == MasterSource()) master_link_->SetDataSource(nullptr);
}

bool TVirtualDataSet::GetIsIndexField(TField* field) {
  return std::find(index_fields_.begin(), index_fields_.end(), field) != index_fields_.end();
}

// ---- layout ------------------------------------------------------------------------------------

bool TVirtualDataSet::IsStored(const TField* field) const {
  return field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc;
}

void TVirtualDataSet::CheckIndexFields(const std::vector<TField*>& fields) const {
  for (TField* field : fields) {
    if (!IsStored(field)) {
      throw Exception(
          DBFormat(SIndexFieldKind, {field->FieldName(), FieldKindName(field->FieldKind())}));
    }
  }
}

void TVirtualDataSet::InternalInitFieldDefs() {
  if (FieldCount() == 0) return;  // default fields: the definitions given stay
  FieldDefs()->Clear();
  for (TField* field : FieldList()) {
    if (!IsStored(field)) continue;
    TFieldDef* def =
        FieldDefs()->Add(field->FieldName(), field->DataType(), field->Size(), field->Required());
    def->SetInternalCalcField(field->FieldKind() == fkInternalCalc);
  }
}

void TVirtualDataSet::BuildLayout() {
  int defs = FieldDefs()->Count();
  field_offsets_.assign(static_cast<size_t>(defs), 0);
  field_is_blob_.assign(static_cast<size_t>(defs), false);
  stored_fields_.clear();
  plain_size_ = 0;
  blob_count_ = 0;
  for (TField* field : FieldList()) {
    if (!IsStored(field) || field->FieldNo() < 1 || field->FieldNo() > defs) continue;
    stored_fields_.push_back(field);
    auto slot = static_cast<size_t>(field->FieldNo() - 1);
    if (field->IsBlob()) {
      field_is_blob_[slot] = true;
      field_offsets_[slot] = blob_count_++;
    } else {
      field_offsets_[slot] = plain_size_;
      plain_size_ += 1 + field->DataSize();
    }
  }
  data_size_ = plain_size_ + blob_count_ * kPointerSlot;
  buffer_size_ = data_size_ + CalcFieldsSize() + 4 + 1;
}

void TVirtualDataSet::BuildIndexFieldList() {
  std::vector<TField*> fields;
  GetFieldList(fields, index_field_names_);
  CheckIndexFields(fields);
  index_fields_ = std::move(fields);
  for (int i = 0; i < maintained_.Count(); ++i) {
    TMaintainedIndex* index = maintained_.Items(i);
    std::vector<TField*> list;
    GetFieldList(list, index->field_names);
    CheckIndexFields(list);
    index->fields = std::move(list);
  }
}

void TVirtualDataSet::InternalOpen() {
  InternalInitFieldDefs();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  BuildLayout();
  SetBookmarkSize(4);
  records_.Clear();
  cursor_ = -1;
  open_ = true;
  try {
    key_buffer_ = AllocRecordBuffer();
    range_start_key_ = AllocRecordBuffer();
    range_end_key_ = AllocRecordBuffer();
    BuildIndexFieldList();
    if (range_active_) BuildRangeList();
    if (Filtered()) {
      CompileFilter();
      BuildFilteredList();
    }
  } catch (...) {
    InternalClose();
    throw;
  }
}

void TVirtualDataSet::InternalClose() {
  FreeAllRecords();
  filter_evaluator_.reset();
  for (TRecordBuffer* buffer : {&key_buffer_, &range_start_key_, &range_end_key_}) {
    if (*buffer != nullptr) FreeRecordBuffer(*buffer);
  }
  key_record_ = nullptr;
  index_fields_.clear();
  for (int i = 0; i < maintained_.Count(); ++i) maintained_.Items(i)->fields.clear();
  open_ = false;
}

// ---- data blocks -------------------------------------------------------------------------------

TMemoryStream* TVirtualDataSet::BlobStream(const uint8_t* data, int blob_index) const {
  TMemoryStream* stream = nullptr;
  std::memcpy(&stream, data + plain_size_ + blob_index * kPointerSlot, sizeof stream);
  return stream;
}

int TVirtualDataSet::BlobIndexOf(const TField* field) const {
  auto slot = static_cast<size_t>(field->FieldNo() - 1);
  if (field->FieldNo() < 1 || slot >= field_is_blob_.size() || !field_is_blob_[slot]) return -1;
  return field_offsets_[slot];
}

void TVirtualDataSet::InitBlobSlots(uint8_t* data) const {
  int made = 0;
  try {
    for (; made < blob_count_; ++made) {
      auto* stream = new TMemoryStream();
      std::memcpy(data + plain_size_ + made * kPointerSlot, &stream, sizeof stream);
    }
  } catch (...) {
    for (int i = 0; i < made; ++i) delete BlobStream(data, i);
    throw;
  }
}

std::unique_ptr<uint8_t[]> TVirtualDataSet::NewData() const {
  auto data = std::make_unique<uint8_t[]>(static_cast<size_t>(data_size_));
  InitBlobSlots(data.get());
  return data;
}

TStoredRecord* TVirtualDataSet::NewRecord() const {
  size_t size = sizeof(TStoredRecord) + static_cast<size_t>(data_size_);
  auto* block = static_cast<uint8_t*>(::operator new(size));
  std::memset(block, 0, size);
  auto* record = reinterpret_cast<TStoredRecord*>(block);
  record->id = 0;
  record->data = block + sizeof(TStoredRecord);
  try {
    InitBlobSlots(record->data);
  } catch (...) {
    ::operator delete(block);
    throw;
  }
  return record;
}

void TVirtualDataSet::FreeData(uint8_t* data) const {
  for (int i = 0; i < blob_count_; ++i) delete BlobStream(data, i);
}

void TVirtualDataSet::CopyData(const uint8_t* from, uint8_t* to) const {
  std::memcpy(to, from, static_cast<size_t>(plain_size_));
  for (int i = 0; i < blob_count_; ++i) CopyStream(BlobStream(from, i), BlobStream(to, i));
}

void TVirtualDataSet::FreeRecord(TStoredRecord* record) {
  FreeData(record->data);
  store_.erase(record->id);
  ::operator delete(record);
}

void TVirtualDataSet::FreeAllRecords() {
  for (auto& [id, record] : store_) {
    FreeData(record->data);
    ::operator delete(record);
  }
  store_.clear();
  records_.Clear();
  range_list_.Clear();
  filtered_list_.Clear();
  for (int i = 0; i < maintained_.Count(); ++i) maintained_.Items(i)->records.Clear();
  cursor_ = -1;
}

TStoredRecord* TVirtualDataSet::RecordOfId(uint32_t id) const {
  auto it = store_.find(id);
  return it == store_.end() ? nullptr : it->second;
}

uint32_t TVirtualDataSet::BufferId(TRecordBuffer buffer) const {
  return GetU32LE(buffer + data_size_ + CalcFieldsSize());
}

// ---- buffers -----------------------------------------------------------------------------------

TRecordBuffer TVirtualDataSet::AllocRecordBuffer() {
  auto buffer = std::make_unique<uint8_t[]>(static_cast<size_t>(buffer_size_));
  std::unique_ptr<uint8_t[]> data = NewData();
  // The buffer takes over the streams of the new block.
  std::memcpy(buffer.get(), data.get(), static_cast<size_t>(data_size_));
  return buffer.release();
}

void TVirtualDataSet::FreeRecordBuffer(TRecordBuffer& buffer) {
  FreeData(buffer);
  delete[] buffer;
  buffer = nullptr;
}

TRecordBuffer TVirtualDataSet::SelectBuffer() const {
  switch (State()) {
    case dsBrowse:
      return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit:
    case dsInsert:
      return ActiveBuffer();
    case dsSetKey:
    case dsFilter:
      return key_record_;
    case dsCalcFields:
      return CalcBuffer();
    default:
      return nullptr;
  }
}

// ---- views -------------------------------------------------------------------------------------

TRecordList& TVirtualDataSet::View() {
  if (Filtered()) return filtered_list_;
  if (range_active_) return range_list_;
  return records_;
}

const TRecordList& TVirtualDataSet::View() const {
  if (Filtered()) return filtered_list_;
  if (range_active_) return range_list_;
  return records_;
}

int TVirtualDataSet::PositionIn(const TRecordList& list, const TStoredRecord* record,
                                int hint) const {
  int n = static_cast<int>(list.size());
  for (int i : {hint, hint - 1, hint + 1}) {
    if (i >= 0 && i < n && list[static_cast<size_t>(i)] == record) return i;
  }
  bool sorted = !index_fields_.empty() &&
                (&list == &records_ || &list == &range_list_ || &list == &filtered_list_);
  if (sorted) {
    // Lists of the active index are in key order: the record is among those of its key.
    uint8_t flags = IndexFlags(index_options_);
    bool found = false;
    int at = Search(list, record->data, index_fields_, flags, false, found);
    for (size_t i = static_cast<size_t>(at); found && i < list.size(); ++i) {
      if (list[i] == record) return static_cast<int>(i);
      if (CompareRecords(list[i]->data, record->data, index_fields_, flags) != 0) break;
    }
  }
  return list.IndexOf(record);
}

// ---- the record protocol -----------------------------------------------------------------------

TGetResult TVirtualDataSet::FetchRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) {
  const TRecordList& view = View();
  int n = static_cast<int>(view.size());
  if (n == 0) return grEOF;
  switch (mode) {
    case gmNext:
      if (cursor_ + 1 >= n) return grEOF;
      cursor_ = std::max(cursor_ + 1, 0);
      break;
    case gmPrior:
      if (std::min(cursor_, n) - 1 < 0) return grBOF;
      cursor_ = std::min(cursor_, n) - 1;
      break;
    case gmCurrent:
      if (cursor_ < 0 || cursor_ >= n) {
        if (do_check) DatabaseError(SNoRecords);
        return grError;
      }
      break;
  }
  TStoredRecord* record = view[static_cast<size_t>(cursor_)];
  CopyData(record->data, buffer);
  PutU32LE(buffer + data_size_ + CalcFieldsSize(), record->id);
  buffer[data_size_ + CalcFieldsSize() + 4] = bfCurrent;
  GetCalcFields(buffer);
  return grOK;
}

void TVirtualDataSet::InternalInitRecord(TRecordBuffer buffer) {
  std::memset(buffer, 0, static_cast<size_t>(plain_size_));
  for (int i = 0; i < blob_count_; ++i) BlobStream(buffer, i)->Clear();
}

void TVirtualDataSet::ClearCalcFields(TRecordBuffer buffer) {
  std::memset(buffer + data_size_, 0, static_cast<size_t>(CalcFieldsSize()));
}

void TVirtualDataSet::InternalFirst() { cursor_ = -1; }

void TVirtualDataSet::InternalLast() { cursor_ = ViewCount(); }

void TVirtualDataSet::InternalSetToRecord(TRecordBuffer buffer) {
  TStoredRecord* record = RecordOfId(BufferId(buffer));
  if (record == nullptr) return;
  int position = PositionIn(View(), record, cursor_);
  if (position >= 0) cursor_ = position;
}

void TVirtualDataSet::InternalGotoBookmark(const TBookmark& bookmark) {
  if (bookmark.size() != 4) return;
  TStoredRecord* record = RecordOfId(GetU32LE(bookmark.data()));
  if (record == nullptr) return;  // a bookmark not found leaves the cursor
  int position = PositionIn(View(), record, cursor_);
  if (position >= 0) cursor_ = position;
}

void TVirtualDataSet::GetBookmarkData(TRecordBuffer buffer, TBookmark& bookmark) {
  const uint8_t* id = buffer + data_size_ + CalcFieldsSize();
  bookmark.assign(id, id + 4);
}

void TVirtualDataSet::SetBookmarkData(TRecordBuffer buffer, const TBookmark& bookmark) {
  if (bookmark.size() == 4) std::memcpy(buffer + data_size_ + CalcFieldsSize(), bookmark.data(), 4);
}

TBookmarkFlag TVirtualDataSet::GetBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(buffer[data_size_ + CalcFieldsSize() + 4]);
}

void TVirtualDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  buffer[data_size_ + CalcFieldsSize() + 4] = flag;
}

bool TVirtualDataSet::BookmarkValid(const TBookmark& bookmark) {
  if (!open_ || bookmark.size() != 4) return false;
  TStoredRecord* record = RecordOfId(GetU32LE(bookmark.data()));
  return record != nullptr && PositionIn(View(), record, cursor_) >= 0;
}

int TVirtualDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  if (a.empty() && b.empty()) return 0;
  if (a.empty()) return 1;
  if (b.empty()) return -1;
  auto position = [this](const TBookmark& bookmark) {
    TStoredRecord* record = bookmark.size() == 4 ? RecordOfId(GetU32LE(bookmark.data())) : nullptr;
    return record == nullptr ? -1 : PositionIn(View(), record, cursor_);
  };
  int x = position(a);
  int y = position(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

int TVirtualDataSet::GetRecordCount() { return ViewCount(); }

int TVirtualDataSet::GetRecNo() {
  int n = ViewCount();
  TRecordBuffer buffer = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
  if (buffer != nullptr && !IsEmpty() && GetBookmarkFlag(buffer) == bfCurrent) {
    // The active record's own number: the cursor itself may stand elsewhere in the window.
    TStoredRecord* record = RecordOfId(BufferId(buffer));
    int position = record == nullptr ? -1 : PositionIn(View(), record, cursor_);
    if (position >= 0) return position + 1;
  }
  if (cursor_ >= 0 && cursor_ < n) return cursor_ + 1;
  return n > 0 ? 1 : 0;
}

void TVirtualDataSet::SetRecNo(int value) {
  CheckBrowseMode();
  if (value < 0 || value > ViewCount() || value == GetRecNo()) return;
  DoBeforeScroll();
  cursor_ = value - 1;
  Resync(TResyncMode{rmCenter});
  DoAfterScroll();
}

// ---- field values ------------------------------------------------------------------------------

bool TVirtualDataSet::GetFieldValue(const TField* field, void* buffer) {
  uint8_t* record = SelectBuffer();
  if (record == nullptr) return false;
  if (!IsStored(field)) {
    bool has_calc = State() != dsSetKey && State() != dsFilter;
    if (!has_calc && !key_record_has_calc_) return false;
    return ReadCalcValue(record + data_size_, field, buffer);
  }
  auto slot = static_cast<size_t>(field->FieldNo() - 1);
  if (field->FieldNo() < 1 || slot >= field_offsets_.size()) return false;
  if (field_is_blob_[slot]) return BlobStream(record, field_offsets_[slot])->Size() > 0;
  const uint8_t* value = record + field_offsets_[slot];
  if (value[0] == 0) return false;
  if (buffer != nullptr) std::memcpy(buffer, value + 1, static_cast<size_t>(field->DataSize()));
  return true;
}

void TVirtualDataSet::SetFieldValue(TField* field, const void* buffer) {
  TDataSetState state = State();
  bool stored = IsStored(field);
  if (state < dsEdit || state > dsNewValue || (stored && state == dsCalcFields)) {
    DatabaseError(SNotEditing);
  }
  if (field->ReadOnly() && state != dsSetKey && state != dsFilter && state != dsCalcFields) {
    DatabaseErrorFmt(SFieldReadOnly, {field->DisplayName()});
  }
  uint8_t* record = SelectBuffer();
  if (record == nullptr) DatabaseError(SNotEditing);
  if (!stored) {
    WriteCalcValue(record + data_size_, field, buffer);
  } else {
    field->Validate(buffer);
    auto slot = static_cast<size_t>(field->FieldNo() - 1);
    if (field->FieldNo() < 1 || slot >= field_offsets_.size()) DatabaseError(SNotEditing);
    if (field_is_blob_[slot]) {
      TMemoryStream* blob = BlobStream(record, field_offsets_[slot]);
      if (buffer == nullptr) blob->Clear();
    } else {
      uint8_t* value = record + field_offsets_[slot];
      auto size = static_cast<size_t>(field->DataSize());
      value[0] = buffer != nullptr ? 1 : 0;
      // Without a source the slot is zeroed: nothing is ever copied from a null pointer.
      if (buffer != nullptr) {
        std::memcpy(value + 1, buffer, size);
      } else {
        std::memset(value + 1, 0, size);
      }
    }
  }
  if (state != dsCalcFields && state != dsFilter && state != dsNewValue) {
    DataEvent(deFieldChange, field);
  }
}

std::unique_ptr<TStream> TVirtualDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  if (dynamic_cast<TBlobField*>(field) == nullptr) {
    DatabaseErrorFmt(SFieldAccessError, {field->DisplayName(), "BLOB"});
  }
  if (mode != bmRead) {
    if (State() != dsEdit && State() != dsInsert && State() != dsSetKey) {
      DatabaseError(SNotEditing);
    }
    if (field->ReadOnly()) DatabaseErrorFmt(SFieldReadOnly, {field->DisplayName()});
  }
  uint8_t* record = SelectBuffer();
  int blob_index = BlobIndexOf(field);
  TMemoryStream* blob =
      record == nullptr || blob_index < 0 ? nullptr : BlobStream(record, blob_index);
  auto stream = std::make_unique<TBlobStream>(this, field, blob);
  if (mode == bmWrite && blob != nullptr) {
    if (blob->Size() > 0) stream->MarkModified();
    blob->Clear();
  }
  return stream;
}

// ---- posting -----------------------------------------------------------------------------------

void TVirtualDataSet::InternalPost() {
  if (State() == dsEdit) {
    PostEdit();
    return;
  }
  TRecordBuffer buffer = ActiveBuffer();
  InsertRecordIntoFile(buffer, GetBookmarkFlag(buffer) == bfEOF);
}

void TVirtualDataSet::InsertRecordIntoFile(TRecordBuffer buffer, bool append) {
  const TRecordList& view = View();
  int n = static_cast<int>(view.size());
  int position = std::clamp(cursor_, 0, n);
  if (append || GetBookmarkFlag(buffer) == bfEOF) {
    position = n;
  } else if (GetBookmarkFlag(buffer) == bfBOF) {
    position = 0;
  } else if (TStoredRecord* before = RecordOfId(BufferId(buffer))) {
    // The insert buffer carries the bookmark of the record it goes before.
    int at = PositionIn(view, before, cursor_);
    if (at >= 0) position = at;
  }
  CheckUnique(buffer, nullptr);
  TStoredRecord* raw = NewRecord();
  try {
    CopyData(buffer, raw->data);
  } catch (...) {
    FreeData(raw->data);
    ::operator delete(raw);
    throw;
  }
  raw->id = next_id_++;
  store_[raw->id] = raw;
  try {
    PlaceNewRecord(raw, position);
  } catch (...) {
    records_.Remove(raw);
    range_list_.Remove(raw);
    filtered_list_.Remove(raw);
    for (int i = 0; i < maintained_.Count(); ++i) maintained_.Items(i)->records.Remove(raw);
    FreeRecord(raw);
    throw;
  }
}

void TVirtualDataSet::CheckUnique(const uint8_t* data, const TStoredRecord* self) {
  auto check = [&](const TRecordList& list, const std::vector<TField*>& fields,
                   TIndexOptions options, const std::string& names) {
    if (!options.Contains(ixUnique) || fields.empty()) return;
    uint8_t flags = IndexFlags(options);
    if (self != nullptr && CompareRecords(self->data, data, fields, flags) == 0) return;
    bool found = false;
    Search(list, data, fields, flags, false, found);
    if (found) {
      throw Exception(
          DBFormat("Validation impossible : violation de cl\xE9 dans l'index \"%s\" !", {names}));
    }
  };
  check(records_, index_fields_, index_options_, index_field_names_);
  for (int i = 0; i < maintained_.Count(); ++i) {
    TMaintainedIndex* index = maintained_.Items(i);
    check(index->records, index->fields, index->options, index->field_names);
  }
}

int TVirtualDataSet::SortedInsertPosition(const TRecordList& list, const uint8_t* data,
                                          const std::vector<TField*>& fields, uint8_t flags) const {
  bool found = false;
  return Search(list, data, fields, flags, false, found);
}

void TVirtualDataSet::PlaceNewRecord(TStoredRecord* record, int position) {
  const uint8_t* data = record->data;
  bool indexed = !index_fields_.empty();
  uint8_t flags = IndexFlags(index_options_);
  auto place = [&](TRecordList& list, int at) {
    int where = indexed ? SortedInsertPosition(list, data, index_fields_, flags) : at;
    where = std::clamp(where, 0, static_cast<int>(list.size()));
    list.Insert(static_cast<size_t>(where), record);
    return where;
  };
  // Every test that may fail runs before any list changes.
  bool in_range = range_active_ && InRange(data);
  bool accepted = Filtered() && (!range_active_ || in_range) && AcceptRecord(record);
  std::vector<int> maintained_at;
  for (int i = 0; i < maintained_.Count(); ++i) {
    TMaintainedIndex* index = maintained_.Items(i);
    maintained_at.push_back(
        SortedInsertPosition(index->records, data, index->fields, IndexFlags(index->options)));
  }
  if (!range_active_ && !Filtered()) {
    cursor_ = place(records_, position);
  } else if (!range_active_) {
    place(records_, static_cast<int>(records_.size()));
    if (accepted) cursor_ = place(filtered_list_, position);
  } else {
    place(records_, static_cast<int>(records_.size()));
    if (in_range) {
      cursor_ = place(range_list_, static_cast<int>(range_list_.size()));
      if (Filtered() && accepted) cursor_ = place(filtered_list_, position);
    }
  }
  for (int i = 0; i < maintained_.Count(); ++i) {
    TRecordList& list = maintained_.Items(i)->records;
    list.Insert(static_cast<size_t>(maintained_at[static_cast<size_t>(i)]), record);
  }
}

void TVirtualDataSet::PostEdit() {
  TRecordBuffer buffer = ActiveBuffer();
  TStoredRecord* record = RecordOfId(BufferId(buffer));
  if (record == nullptr) DatabaseError(SRecordNotFound);
  CheckUnique(buffer, record);

  // Where the record goes in each sorted list, found while nothing has changed yet.
  struct Move {
    TRecordList* list;
    int from;
    int to;
  };
  std::vector<Move> moves;
  auto plan = [&](TRecordList& list, const std::vector<TField*>& fields, uint8_t flags) {
    if (fields.empty() || CompareRecords(record->data, buffer, fields, flags) == 0) return;
    int from = PositionIn(list, record, cursor_);
    if (from < 0) return;
    int to = SortedInsertPosition(list, buffer, fields, flags);
    if (to > from) --to;
    moves.push_back({&list, from, to});
  };
  uint8_t flags = IndexFlags(index_options_);
  plan(records_, index_fields_, flags);
  if (range_active_) plan(range_list_, index_fields_, flags);
  if (Filtered()) plan(filtered_list_, index_fields_, flags);
  for (int i = 0; i < maintained_.Count(); ++i) {
    TMaintainedIndex* index = maintained_.Items(i);
    plan(index->records, index->fields, IndexFlags(index->options));
  }

  // The old values are kept aside, so that the range and filter tests can run on the new ones
  // and a failure can put everything back.
  std::unique_ptr<uint8_t[]> old_data = NewData();
  struct FreeOld {
    const TVirtualDataSet* self;
    uint8_t* data;
    ~FreeOld() { self->FreeData(data); }
  } free_old{this, old_data.get()};
  CopyData(record->data, old_data.get());
  CopyData(buffer, record->data);
  bool leaves_range = false;
  bool leaves_filter = false;
  try {
    leaves_range = range_active_ && !InRange(record->data);
    leaves_filter = Filtered() && !leaves_range && !AcceptRecord(record);
  } catch (...) {
    CopyData(old_data.get(), record->data);
    throw;
  }

  for (const Move& move : moves) {
    TRecordList& list = *move.list;
    list.Erase(static_cast<size_t>(move.from));
    list.Insert(static_cast<size_t>(move.to), record);
  }
  int position = PositionIn(View(), record, cursor_);
  if (position >= 0) cursor_ = position;
  if (leaves_range) {
    range_list_.Remove(record);
    filtered_list_.Remove(record);
  } else if (leaves_filter) {
    filtered_list_.Remove(record);
  }
}

void TVirtualDataSet::RemoveFrom(TRecordList& list, TStoredRecord* record,
                                 const std::vector<TField*>& fields, uint8_t flags) {
  int n = static_cast<int>(list.size());
  if (!fields.empty()) {
    bool found = false;
    int i = Search(list, record->data, fields, flags, false, found);
    for (; found && i < n; ++i) {
      if (list[static_cast<size_t>(i)] == record) {
        list.Erase(static_cast<size_t>(i));
        return;
      }
      if (CompareRecords(list[static_cast<size_t>(i)]->data, record->data, fields, flags) != 0) {
        break;
      }
    }
  }
  int at = PositionIn(list, record, cursor_);
  if (at >= 0) list.Erase(static_cast<size_t>(at));
}

void TVirtualDataSet::InternalDelete() {
  TRecordBuffer buffer = ActiveBuffer();
  TStoredRecord* record = buffer == nullptr ? nullptr : RecordOfId(BufferId(buffer));
  if (record == nullptr) DatabaseError(SRecordNotFound);
  int position = PositionIn(View(), record, cursor_);
  for (int i = 0; i < maintained_.Count(); ++i) {
    TMaintainedIndex* index = maintained_.Items(i);
    RemoveFrom(index->records, record, index->fields, IndexFlags(index->options));
  }
  uint8_t flags = IndexFlags(index_options_);
  if (Filtered()) RemoveFrom(filtered_list_, record, {}, 0);
  if (range_active_) RemoveFrom(range_list_, record, index_fields_, flags);
  RemoveFrom(records_, record, index_fields_, flags);
  FreeRecord(record);
  if (position >= 0) cursor_ = position;
  if (cursor_ >= ViewCount()) cursor_ = ViewCount() - 1;
}

// ---- clearing, streams, RawData ----------------------------------------------------------------

void TVirtualDataSet::ClearRecords() {
  if (State() == dsEdit || State() == dsInsert) Cancel();
  FreeAllRecords();
  if (Active()) {
    ClearBuffers();
    DataEvent(deDataSetChange);
  }
}

void TVirtualDataSet::LoadFromStream(TStream& stream) {
  ClearRecords();
  TDataSetStreamer(this, export_format_, export_calc_fields_).Load(stream);
}

void TVirtualDataSet::SaveToStream(TStream& stream) {
  TDataSetStreamer(this, export_format_, export_calc_fields_).Save(stream);
}

void TVirtualDataSet::DefineProperties(TFiler& filer) {
  TDataSet::DefineProperties(filer);
  filer.DefineBinaryProperty(
      "RawData", [this](TStream& stream) { ReadRawData(stream); },
      [this](TStream& stream) { WriteRawData(stream); }, Active());
}

void TVirtualDataSet::ReadRawData(TStream& stream) {
  uint8_t size_bytes[4];
  stream.ReadBuffer(size_bytes, 4);
  int32_t size = GetI32LE(size_bytes);
  if (size < 0 || size > stream.Size() - stream.Position()) {
    DatabaseError("RawData : taille incorrecte");
  }
  raw_data_.reset();
  if (size == 0) return;
  auto bytes = std::make_unique<TMemoryStream>();
  bytes->CopyFrom(stream, size);
  bytes->SetPosition(0);
  raw_data_ = std::move(bytes);
}

void TVirtualDataSet::WriteRawData(TStream& stream) {
  TExportFormat format = export_format_;
  bool filtered = Filtered();
  bool ranged = range_active_;
  auto restore = [&] {
    if (ranged && !range_active_) ApplyRange();
    if (Filtered() != filtered) SetFiltered(filtered);
    export_format_ = format;
  };
  TMemoryStream bytes;
  try {
    if (filtered) SetFiltered(false);
    if (ranged) CancelRange();
    export_format_ = efDataSet;
    SaveToStream(bytes);
  } catch (...) {
    restore();
    throw;
  }
  restore();
  uint8_t size_bytes[4];
  PutI32LE(size_bytes, static_cast<int32_t>(bytes.Size()));
  stream.WriteBuffer(size_bytes, 4);
  if (bytes.Size() > 0) stream.WriteBuffer(bytes.Memory(), static_cast<int32_t>(bytes.Size()));
}

void TVirtualDataSet::Loaded() {
  TDataSet::Loaded();
  std::unique_ptr<TMemoryStream> bytes = std::move(raw_data_);
  if (bytes == nullptr || !Active()) return;
  TExportFormat format = export_format_;
  export_format_ = efDataSet;
  try {
    LoadFromStream(*bytes);
  } catch (...) {
    export_format_ = format;
    throw;
  }
  export_format_ = format;
}

}  // namespace comp
