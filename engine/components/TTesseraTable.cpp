#include "engine/components/TTesseraTable.h"

#include <cstring>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TDataSource.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/AsciiText.h"
#include "engine/components/ComponentConsts.h"
#include "engine/components/TTesseraMasterDataLink.h"
#include "engine/storage/core/FilePaths.h"

namespace tessera {

using namespace cl;

namespace {

// A database-use flag held for one scope.
class DBFlagScope {
 public:
  DBFlagScope(TTesseraDBDataSet* dataset, int flag) : dataset_(dataset), flag_(flag) {
    dataset->SetDBFlag(flag, true);
  }
  ~DBFlagScope() {
    try {
      dataset_->SetDBFlag(flag_, false);
    } catch (...) {
      Application().HandleException(dataset_);
    }
  }
  DBFlagScope(const DBFlagScope&) = delete;
  DBFlagScope& operator=(const DBFlagScope&) = delete;

 private:
  TTesseraDBDataSet* dataset_;
  int flag_;
};

// Closes a handle made only to read definitions; a close error is passed on after the handle
// is freed.
void CloseTemporary(std::unique_ptr<TDataFile>& handle) {
  std::unique_ptr<TDataFile> owned = std::move(handle);
  owned->Close();
}

}  // namespace

TTesseraTable::TTesseraTable(TComponent* owner)
    : TTesseraDBDataSet(owner),
      index_defs_(std::make_unique<TIndexDefs>(this)),
      master_link_(std::make_unique<TTesseraMasterDataLink>(this)) {
  master_link_->SetOnMasterChange([this] { MasterChanged(); });
  master_link_->SetOnMasterDisable([this] { MasterDisabled(); });
}

TTesseraTable::~TTesseraTable() {
  DestroyingClose();
  master_link_->SetDataSource(nullptr);
}

const char* TTesseraTable::EngineVersion() const { return kEngineVersion; }

// ---- properties --------------------------------------------------------------------------------

void TTesseraTable::SetExclusive(bool value) {
  CheckInactive();
  exclusive_ = value;
}

void TTesseraTable::SetReadOnly(bool value) {
  CheckInactive();
  read_only_ = value;
}

void TTesseraTable::SetInMemory(bool value) {
  CheckInactive();
  in_memory_ = value;
}

void TTesseraTable::SetStrictChangeDetection(bool value) {
  CheckInactive();
  strict_change_detection_ = value;
}

void TTesseraTable::SetForceBufferFlush(bool value) {
  CheckInactive();
  force_buffer_flush_ = value;
}

void TTesseraTable::SetTableName(const std::string& name) {
  CheckInactive();
  if (name == table_name_) return;
  table_name_ = name;
  DataEvent(dePropertyChange);
}

void TTesseraTable::SetLockRetryCount(uint8_t value) {
  lock_retry_count_ = value;
  if (Handle() != nullptr) Handle()->SetLockRetryCount(value);
}

void TTesseraTable::SetLockWaitTime(uint16_t value) {
  lock_wait_time_ = value;
  if (Handle() != nullptr) Handle()->SetLockWaitTime(value);
}

std::string TTesseraTable::IndexName() const {
  return selector_is_fields_ ? std::string() : index_selector_;
}

std::string TTesseraTable::IndexFieldNames() const {
  return selector_is_fields_ ? index_selector_ : std::string();
}

void TTesseraTable::SetIndexName(const std::string& name) { SetIndexSelector(name, false); }

void TTesseraTable::SetIndexFieldNames(const std::string& names) { SetIndexSelector(names, true); }

void TTesseraTable::SetIndexSelector(const std::string& value, bool field_names) {
  if (value.empty()) field_names = false;
  if (Active()) CheckBrowseMode();
  if (value == index_selector_ && field_names == selector_is_fields_) return;
  if (!Active()) {
    index_selector_ = value;
    selector_is_fields_ = field_names;
    return;
  }
  std::string old_selector = index_selector_;
  bool old_is_fields = selector_is_fields_;
  index_selector_ = value;
  selector_is_fields_ = field_names;
  std::string name;
  try {
    name = ResolveIndexName();
    SwitchToIndex(name);
  } catch (...) {
    index_selector_ = old_selector;
    selector_is_fields_ = old_is_fields;
    throw;
  }
  ApplyMasterRange();
  Resync(TResyncMode{});
}

TDataSource* TTesseraTable::MasterSource() const { return master_link_->DataSource(); }

void TTesseraTable::SetMasterSource(TDataSource* source) {
  if (source != nullptr && IsLinkedTo(source)) DatabaseError(SCircularDataLink);
  if (MasterSource() != nullptr) RemoveFreeNotification(MasterSource());
  master_link_->SetDataSource(source);
  if (source != nullptr) FreeNotification(source);
}

std::string TTesseraTable::MasterFields() const { return master_link_->FieldNames(); }

void TTesseraTable::SetMasterFields(const std::string& names) {
  master_link_->SetFieldNames(names);
}

void TTesseraTable::Notification(TComponent* component, TOperation operation) {
  TTesseraDBDataSet::Notification(component, operation);
  if (operation == opRemove && master_link_ != nullptr && component == MasterSource()) {
    master_link_->SetDataSource(nullptr);
  }
}

void TTesseraTable::DataEvent(TDataEvent event, intptr_t info) {
  if (event == dePropertyChange) index_defs_->SetUpdated(false);
  TTesseraDBDataSet::DataEvent(event, info);
}

bool TTesseraTable::GetCanModify() { return TTesseraDBDataSet::GetCanModify() && !read_only_; }

// ---- handles -----------------------------------------------------------------------------------

std::string TTesseraTable::FullFileName() const {
  std::string directory = Database() == nullptr ? std::string() : Database()->Directory();
  std::string path = AddTrailingBackslash(directory);
  return path + table_name_;
}

std::unique_ptr<TDataFile> TTesseraTable::OpenNewHandle(bool for_definitions) {
  if (table_name_.empty()) DatabaseError(SMissingTableName);
  TTesseraSession* session = Database()->Session();
  if (session != nullptr) session->MakeCurrent();
  auto file = std::make_unique<TDataFile>();
  file->SetFileName(FullFileName());
  file->SetExclusive(exclusive_ && !for_definitions);
  file->SetReadOnly(read_only_);
  file->SetInMemory(in_memory_);
  file->SetStrictChangeDetection(strict_change_detection_);
  file->SetForceBufferFlush(force_buffer_flush_);
  file->SetLockRetryCount(lock_retry_count_);
  file->SetLockWaitTime(lock_wait_time_);
  // The password request belongs to this open only: the handle must not call back into a
  // session later.
  struct PasswordScope {
    TDataFile& file;
    ~PasswordScope() { file.SetPasswordEvent(nullptr); }
  } password{*file};
  if (session != nullptr) file->SetPasswordEvent([session] { return session->PasswordRequest(); });
  file->Open();
  return file;
}

TDataFile* TTesseraTable::CreateHandle() {
  if (table_name_.empty()) DatabaseError(SMissingTableName);
  index_defs_->SetUpdated(false);
  std::unique_ptr<TDataFile> file = OpenNewHandle(false);
  // What the engine granted: a file nobody may write opens read-only whatever was asked.
  read_only_ = file->ReadOnly() || file->ReadOnlyAttribute();
  if (selector_is_fields_) ReadIndexDefs(*file);
  file->SetCurrentIndexByName(ResolveIndexName());
  return file.release();
}

void TTesseraTable::DestroyHandle() {
  ReleaseCloneHandle();
  TTesseraDBDataSet::DestroyHandle();
}

void TTesseraTable::ReleaseCloneHandle() {
  clone_asked_ = false;
  clone_fields_.clear();
  if (clone_ == nullptr) return;
  CloseTemporary(clone_);
}

TDataFile* TTesseraTable::CloneHandle(std::string_view fields, bool case_insensitive) {
  if (clone_asked_ && CompareText(fields, clone_fields_) == 0 && case_insensitive == clone_case_) {
    return clone_.get();
  }
  ReleaseCloneHandle();
  if (!index_defs_->Updated()) UpdateIndexDefs();
  TIndexDef* def = index_defs_->GetIndexForFields(fields, case_insensitive);
  bool master_active = master_link_->Active() && !master_link_->Fields().empty();
  if (def != nullptr && def->Options().Contains(ixCaseInsensitive) == case_insensitive &&
      !master_active) {
    std::unique_ptr<TDataFile> clone = Handle()->Clone();
    std::string name = def->Options().Contains(ixPrimary) ? std::string() : def->Name();
    clone->SetCurrentIndexByName(name);
    clone_ = std::move(clone);
  }
  clone_fields_ = std::string(fields);
  clone_case_ = case_insensitive;
  clone_asked_ = true;
  return clone_.get();
}

void TTesseraTable::AfterOpenCursor() {
  ResolveIndexName();
  if (ApplyMasterRange()) Handle()->MoveToBeginning();
}

// ---- definitions -------------------------------------------------------------------------------

void TTesseraTable::InternalInitFieldDefs() {
  if (Handle() != nullptr) {
    TTesseraDBDataSet::InternalInitFieldDefs();
    return;
  }
  DBFlagScope flag(this, kDbFlagFieldDefs);
  if (table_name_.empty()) DatabaseError(SMissingTableName);
  std::unique_ptr<TDataFile> file = OpenNewHandle(true);
  ReadFieldDefs(*file);
  CloseTemporary(file);
}

void TTesseraTable::ReadIndexDefs(TDataFile& file) {
  index_defs_->Clear();
  int count = file.GetSecondaryIndexCount();
  for (int slot = 0; slot <= count; ++slot) {
    TIndexDescriptor d = file.GetIndexDescriptor(slot);
    std::string fields;
    for (int i = 0; i < d.field_count; ++i) {
      if (i > 0) fields += ";";
      fields += file.GetFieldDefinition(TFieldSet::kTable, d.field_numbers[i]).name;
    }
    TIndexOptions options;
    if (slot == 0) options.Include(ixPrimary);
    if (d.descending != 0) options.Include(ixDescending);
    if (d.case_insensitive != 0) options.Include(ixCaseInsensitive);
    if (d.unique != 0) options.Include(ixUnique);
    index_defs_->Add(slot == 0 ? std::string() : d.name, fields, options);
  }
  index_defs_->SetUpdated(true);
}

void TTesseraTable::UpdateIndexDefs() {
  if (index_defs_->Updated()) return;
  if (Handle() != nullptr) {
    ReadIndexDefs(*Handle());
    return;
  }
  DBFlagScope flag(this, kDbFlagIndexDefs);
  FieldDefs()->Update();
  std::unique_ptr<TDataFile> file = OpenNewHandle(true);
  ReadIndexDefs(*file);
  CloseTemporary(file);
}

std::string TTesseraTable::ResolveIndexName() {
  if (!selector_is_fields_) {
    // The primary index has no name; asking the engine for "Primary" would not find it.
    return CompareText(index_selector_, "Primary") == 0 ? std::string() : index_selector_;
  }
  if (!index_defs_->Updated()) UpdateIndexDefs();
  TIndexDef* def = index_defs_->GetIndexForFields(index_selector_, false);
  if (def == nullptr) DatabaseErrorFmt(SNoIndexForFields, {table_name_, index_selector_});
  return def->Options().Contains(ixPrimary) ? std::string() : def->Name();
}

// ---- keys --------------------------------------------------------------------------------------

void TTesseraTable::FlushBuffers() {
  CheckActive();
  TDataFile* handle = Handle();
  if (handle->Exclusive()) {
    handle->ReleaseAllPins();
    handle->CommitTransaction(false, true, true);
    if (handle->CurrentRecord() != nullptr) handle->PinCurrentRecord();
  }
  handle->FlushFiles();
}

bool TTesseraTable::FindKey(const std::vector<Variant>& values) {
  CheckBrowseMode();
  if (values.empty()) DatabaseError(SFieldIndexError);
  SetKeyFields(kiLookup, values, static_cast<int>(values.size()) - 1);
  return GotoKey();
}

bool TTesseraTable::GotoKey() {
  CheckBrowseMode();
  DoBeforeScroll();
  CursorPosChanged();
  std::vector<uint8_t> key = BuildKeyOf(KeyRecord(kiLookup));
  bool found = Handle()->SeekRecordKey(true, key.data(), nullptr, 0, false,
                                       static_cast<uint8_t>(KeyFieldCount(kiLookup)));
  if (!found) return false;
  Resync(TResyncMode{rmExact, rmCenter});
  DoAfterScroll();
  return true;
}

void TTesseraTable::SetKey() { SetKeyBuffer(kiLookup, true); }

void TTesseraTable::EditKey() { SetKeyBuffer(kiLookup, false); }

// ---- master/detail -----------------------------------------------------------------------------

bool TTesseraTable::ApplyMasterRange() {
  const std::vector<TField*>& fields = master_link_->Fields();
  if (!master_link_->Active() || fields.empty()) return false;
  std::vector<Variant> values;
  for (TField* field : fields) values.push_back(field->Value());
  SetKeyFields(kiRangeStart, values, static_cast<int>(values.size()) - 1);
  std::memcpy(KeyBuffer(kiRangeEnd), KeyBuffer(kiRangeStart),
              static_cast<size_t>(kKeyHeaderSize + GetRecordBufferSize()));
  return ApplyKeyRange();
}

void TTesseraTable::MasterChanged() {
  CheckBrowseMode();
  if (ApplyMasterRange()) First();
}

void TTesseraTable::MasterDisabled() {
  UpdateCursorPos();
  if (CancelKeyRange()) Resync(TResyncMode{});
}

void TTesseraTable::DoOnNewRecord() {
  const std::vector<TField*>& fields = master_link_->Fields();
  if (master_link_->Active() && !fields.empty()) {
    const TIndexDescription& index = IndexDescription();
    for (size_t i = 0; i < fields.size() && static_cast<int>(i) < index.field_count; ++i) {
      TField* field = FieldByNumber(index.field_numbers[i]);
      if (field != nullptr) field->SetAsVariant(fields[i]->Value());
    }
  }
  TTesseraDBDataSet::DoOnNewRecord();
}

}  // namespace tessera
