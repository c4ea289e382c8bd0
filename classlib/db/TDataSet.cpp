// TDataSet: activity, fields, states, data events and the calculated area.  Editing lives in
// TDataSetEditing.cpp, navigation and the buffer window in TDataSetNavigation.cpp.
#include "classlib/db/TDataSet.h"

#include <algorithm>
#include <cstring>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TBlobField.h"
#include "classlib/db/TDataLink.h"
#include "classlib/db/TDataSource.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Blanks.h"
#include "classlib/rtl/Collation.h"

namespace cl {
namespace {

// Whether a persistent field of `field_type` may show a definition of `def_type`.
bool TypesCompatible(TFieldType field_type, TFieldType def_type) {
  if (field_type == def_type) return true;
  if (field_type == ftInteger && def_type == ftAutoInc) return true;
  return field_type == ftBlob && (def_type == ftFmtMemo || def_type == ftTypedBinary);
}

}  // namespace

TDataSet::TDataSet(TComponent* owner)
    : TComponent(owner), field_defs_(std::make_unique<TFieldDefs>(this)) {}

TDataSet::~TDataSet() {
  Destroying();
  // The descendant has closed the dataset (DestroyingClose); what remains are references.
  for (TField* field : fields_) field->dataset_ = nullptr;
  fields_.clear();
  while (!data_sources_.empty()) {
    TDataSource* source = data_sources_.back();
    try {
      source->SetDataSet(nullptr);
    } catch (...) {
      std::erase(data_sources_, source);
      source->dataset_ = nullptr;
      Application().HandleException(this);
    }
  }
}

void TDataSet::DestroyingClose() noexcept {
  Destroying();
  try {
    SetActive(false);
  } catch (...) {
    Application().HandleException(this);
  }
}

// ---- activity ----------------------------------------------------------------------------------

void TDataSet::CheckActive() const {
  if (state_ == dsInactive) DatabaseError(SDataSetClosed);
}

void TDataSet::CheckInactive() const {
  if (state_ != dsInactive) DatabaseError(SDataSetOpen);
}

void TDataSet::SetActive(bool active) {
  if (ComponentState().Contains(csReading)) {
    stream_active_ = active;
    return;
  }
  if (Active() == active) return;
  if (active) {
    Fire(before_open_);
    try {
      OpenCursor(false);
    } catch (...) {
      SetState(dsInactive);
      try {
        CloseCursor();
      } catch (...) {
        Application().HandleException(this);
      }
      throw;
    }
    SetState(dsBrowse);
    Fire(after_open_);
    if (!IsEmpty()) Fire(after_scroll_);
  } else {
    bool destroying = ComponentState().Contains(csDestroying);
    if (!destroying) Fire(before_close_);
    SetState(dsInactive);
    CloseCursor();
    if (!destroying) Fire(after_close_);
  }
}

void TDataSet::OpenCursor(bool info_query) {
  if (info_query) {
    InternalInitFieldDefs();
  } else {
    DoInternalOpen();
  }
}

void TDataSet::DoInternalOpen() {
  default_fields_ = fields_.empty();
  ClearBuffers();
  InternalOpen();
  cursor_open_ = true;
  buffer_count_ = 0;
  UpdateBufferCount();
  bof_ = true;
}

void TDataSet::CloseCursor() {
  FreeFieldBuffers();
  ClearBuffers();
  SetBufListSize(0);
  buffer_count_ = 0;
  cursor_open_ = false;
  InternalClose();
  BindFields(false);
  if (default_fields_) DestroyFields();
  default_fields_ = false;
}

void TDataSet::InitFieldDefs() {
  if (HasHandle()) {
    InternalInitFieldDefs();
  } else {
    try {
      OpenCursor(true);
    } catch (...) {
      CloseCursor();
      throw;
    }
    CloseCursor();
  }
  field_defs_->SetUpdated(true);
}

void TDataSet::Loaded() {
  TComponent::Loaded();
  if (stream_active_) {
    stream_active_ = false;
    SetActive(true);
  }
}

void TDataSet::InternalHandleException() { Application().HandleException(this); }

// ---- fields ------------------------------------------------------------------------------------

TField* TDataSet::Fields(int index) const {
  if (index < 0 || index >= FieldCount()) ListIndexError(index);
  return fields_[static_cast<size_t>(index)];
}

TField* TDataSet::FindField(std::string_view name) const {
  for (TField* field : fields_) {
    if (AnsiSameText(field->FieldName(), name)) return field;
  }
  return nullptr;
}

TField* TDataSet::FieldByName(std::string_view name) const {
  TField* field = FindField(name);
  if (field == nullptr) DatabaseErrorFmt(SFieldNotFound, {name});
  return field;
}

TField* TDataSet::FieldByNumber(int field_no) const {
  for (TField* field : fields_) {
    if (field->FieldNo() == field_no) return field;
  }
  return nullptr;
}

void TDataSet::GetFieldNames(TStrings& list) const {
  list.BeginUpdate();
  try {
    list.Clear();
    if (!fields_.empty()) {
      for (TField* field : fields_) list.Add(field->FieldName());
    } else {
      field_defs_->Update();
      for (int i = 0; i < field_defs_->Count(); ++i) list.Add(field_defs_->Items(i)->Name());
    }
  } catch (...) {
    list.EndUpdate();
    throw;
  }
  list.EndUpdate();
}

void TDataSet::GetFieldList(std::vector<TField*>& list, std::string_view names) const {
  if (cl::TrimBlanks(names).empty()) return;
  size_t pos = 0;
  while (pos <= names.size()) {
    size_t end = names.find(';', pos);
    if (end == std::string_view::npos) end = names.size();
    std::string_view name = cl::TrimBlanks(names.substr(pos, end - pos));
    bool last = end == names.size();
    if (!(last && name.empty() && pos > 0)) list.push_back(FieldByName(name));
    pos = end + 1;
  }
}

Variant TDataSet::FieldValues(std::string_view names) const {
  if (names.find(';') == std::string_view::npos) return FieldByName(cl::TrimBlanks(names))->Value();
  std::vector<TField*> list;
  GetFieldList(list, names);
  std::vector<Variant> values;
  values.reserve(list.size());
  for (TField* field : list) values.push_back(field->Value());
  return VarArrayOf(std::move(values));
}

void TDataSet::CreateFields() {
  for (int i = 0; i < field_defs_->Count(); ++i) {
    TFieldDef* def = field_defs_->Items(i);
    if (def->DataType() != ftUnknown && def->DataType() != ftCursor) def->CreateField(this);
  }
}

void TDataSet::DestroyFields() {
  while (!fields_.empty()) delete fields_.back();  // each field leaves the list as it dies
}

void TDataSet::BindFields(bool binding) {
  calc_fields_size_ = 0;
  for (TField* field : fields_) {
    if (!binding) {
      field->field_no_ = 0;
      continue;
    }
    if (field->FieldKind() == fkCalculated || field->FieldKind() == fkLookup) {
      field->field_no_ = -1;
      field->offset_ = calc_fields_size_;
      calc_fields_size_ += field->DataSize() + 1;
      if (field->FieldKind() == fkLookup) {
        if (field->LookupDataSet() == nullptr || field->KeyFields().empty() ||
            field->LookupKeyFields().empty() || field->LookupResultField().empty()) {
          DatabaseErrorFmt(SLookupInfoError, {field->DisplayName()});
        }
        if (field->LookupDataSet() == this) DatabaseError(SCircularDataLink);
        std::vector<TField*> keys;
        GetFieldList(keys, field->KeyFields());
        if (field->LookupCache()) field->RefreshLookupList();
      }
      continue;
    }
    TFieldDef* def = field_defs_->Find(field->FieldName());
    if (!TypesCompatible(field->DataType(), def->DataType())) {
      DatabaseErrorFmt(SFieldTypeMismatch, {field->DisplayName(), FieldTypeName(field->DataType()),
                                            FieldTypeName(def->DataType())});
    }
    TFieldType type = def->DataType();
    if ((type == ftString || type == ftBytes || type == ftVarBytes) &&
        field->Size() != def->Size()) {
      // A value wider than the field's buffer would be copied past its end.
      DatabaseErrorFmt(SFieldSizeMismatch, {field->DisplayName(), std::to_string(field->Size()),
                                            std::to_string(def->Size())});
    }
    field->field_no_ = def->FieldNo();
  }
}

// ---- states ------------------------------------------------------------------------------------

void TDataSet::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  modified_ = false;
  DataEvent(deUpdateState);
}

TDataSetState TDataSet::SetTempState(TDataSetState state) {
  TDataSetState old = state_;
  state_ = state;
  ++disable_count_;
  saved_modified_.push_back(modified_);
  modified_ = false;
  return old;
}

void TDataSet::RestoreState(TDataSetState state) {
  state_ = state;
  if (disable_count_ > 0) --disable_count_;
  if (!saved_modified_.empty()) {
    modified_ = saved_modified_.back();
    saved_modified_.pop_back();
  }
}

void TDataSet::DisableControls() {
  if (disable_count_ == 0) {
    disable_state_ = state_;
    enable_event_ = deDataSetChange;
  }
  ++disable_count_;
}

void TDataSet::EnableControls() {
  if (disable_count_ == 0) return;
  if (--disable_count_ > 0) return;
  if (disable_state_ != state_) DataEvent(deUpdateState);
  if (disable_state_ != dsInactive && state_ != dsInactive) DataEvent(enable_event_);
}

// ---- data events -------------------------------------------------------------------------------

void TDataSet::DataEvent(TDataEvent event, intptr_t info) {
  bool notify = !ControlsDisabled();
  TField* changed = nullptr;
  switch (event) {
    case deFieldChange:
      changed = reinterpret_cast<TField*>(info);
      if (changed->FieldKind() == fkData || changed->FieldKind() == fkInternalCalc) {
        modified_ = true;
      }
      if (state_ != dsSetKey && changed->FieldKind() == fkData && auto_calc_fields_ &&
          calc_fields_size_ > 0) {
        GetCalcFields(ActiveBuffer());
      }
      break;
    case dePropertyChange:
      field_defs_->SetUpdated(false);
      break;
    case deLayoutChange:
      if (!notify) enable_event_ = deLayoutChange;
      break;
    case deUpdateState:
      if (!notify && state_ == dsInactive) enable_event_ = deLayoutChange;
      break;
    default:
      break;
  }
  std::vector<TDataSource*> sources = data_sources_;
  for (TDataSource* source : sources) {
    if (std::find(data_sources_.begin(), data_sources_.end(), source) == data_sources_.end()) {
      continue;
    }
    // Opening and closing reach the links even while controls are disabled: a control must
    // never keep a field of a closed dataset (default fields die with the cursor).
    bool activity_changed =
        event == deUpdateState && (state_ == dsInactive) != (source->State() == dsInactive);
    if (notify || activity_changed) source->DataEvent(event, info);
  }
  // The controls show the new value (and the recalculated fields) before OnChange runs.
  if (changed != nullptr && state_ != dsSetKey) changed->Change();
}

void TDataSet::AddDataSource(TDataSource* source) {
  data_sources_.push_back(source);
  source->dataset_ = this;
  UpdateBufferCount();
  source->DataEvent(deUpdateState, 0);
}

void TDataSet::RemoveDataSource(TDataSource* source) {
  source->dataset_ = nullptr;
  std::erase(data_sources_, source);
  source->DataEvent(deUpdateState, 0);
  UpdateBufferCount();
}

bool TDataSet::IsLinkedTo(TDataSource* source) const {
  std::vector<const TDataSet*> seen;
  while (source != nullptr) {
    TDataSet* dataset = source->DataSet();
    if (dataset == nullptr) return false;
    if (dataset == this) return true;
    if (std::find(seen.begin(), seen.end(), dataset) != seen.end()) return false;
    seen.push_back(dataset);
    source = dataset->GetDataSource();
  }
  return false;
}

// ---- calculated fields -------------------------------------------------------------------------

void TDataSet::ClearCalcFields(TRecordBuffer) {}

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
  if (calc_fields_size_ <= 0) return;
  TRecordBuffer saved_buffer = calc_buffer_;
  TDataSetState old = SetTempState(dsCalcFields);
  calc_buffer_ = buffer;
  try {
    CalculateFields(buffer);
  } catch (...) {
    calc_buffer_ = saved_buffer;
    RestoreState(old);
    throw;
  }
  calc_buffer_ = saved_buffer;
  RestoreState(old);
}

void TDataSet::CalculateFields(TRecordBuffer buffer) {
  ClearCalcFields(buffer);
  for (TField* field : fields_) {
    if (field->FieldKind() != fkLookup) continue;
    Variant value = field->LookupValue();
    if (!value.IsNull() && !value.IsEmpty()) field->SetValue(value);
  }
  Fire(on_calc_fields_);
}

bool TDataSet::ReadCalcValue(const uint8_t* calc_area, const TField* field, void* buffer) {
  const uint8_t* slot = calc_area + field->Offset();
  if (slot[0] == 0) return false;
  if (buffer != nullptr) std::memcpy(buffer, slot + 1, static_cast<size_t>(field->DataSize()));
  return true;
}

void TDataSet::WriteCalcValue(uint8_t* calc_area, const TField* field, const void* buffer) {
  uint8_t* slot = calc_area + field->Offset();
  size_t size = static_cast<size_t>(field->DataSize());
  slot[0] = buffer != nullptr ? 1 : 0;
  if (buffer != nullptr) {
    std::memcpy(slot + 1, buffer, size);
  } else {
    std::memset(slot + 1, 0, size);
  }
}

// ---- defaults of the optional protocol ---------------------------------------------------------

void TDataSet::DoOnNewRecord() { Fire(on_new_record_); }

bool TDataSet::GetCurrentRecord(TRecordBuffer) { return false; }

std::string TDataSet::Translate(std::string_view source, bool) {
  size_t end = source.find('\0');
  return std::string(source.substr(0, end));
}

bool TDataSet::GetIsIndexField(TField*) { return false; }

bool TDataSet::BookmarkValid(const TBookmark&) { return false; }

int TDataSet::CompareBookmarks(const TBookmark&, const TBookmark&) { return 0; }

bool TDataSet::LocateRecord(std::string_view, const Variant&, TLocateOptions, bool) {
  return false;
}

Variant TDataSet::LookupValues(std::string_view, const Variant&, std::string_view) {
  return Variant::Null();
}

bool TDataSet::FindRecord(bool, bool) { return false; }

void TDataSet::FinishKeyEdit(bool) { SetState(dsBrowse); }

}  // namespace cl
