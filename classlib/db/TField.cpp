#include "classlib/db/TField.h"

#include <cstring>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TDataSet.h"
#include "classlib/rtl/Application.h"

namespace cl {

bool LookupKeysEqual(const Variant& a, const Variant& b) {
  if (a.IsNull() || b.IsNull() || a.IsEmpty() || b.IsEmpty()) return false;
  if (a.IsArray() || b.IsArray()) {
    if (!a.IsArray() || !b.IsArray()) return false;
    const auto& x = a.Elements();
    const auto& y = b.Elements();
    if (x.size() != y.size()) return false;
    for (size_t i = 0; i < x.size(); ++i) {
      if (!LookupKeysEqual(x[i], y[i])) return false;
    }
    return true;
  }
  try {
    return VarCompareValues(a, b) == 0;
  } catch (const EVariantError&) {
    return false;  // a text key against a number key that is not one: not the same key
  }
}

TField::TField(TComponent* owner) : TComponent(owner) {}

TField::~TField() {
  Destroying();
  if (dataset_ != nullptr) {
    // The class library's rule: a dataset never runs with one of its fields gone.
    try {
      dataset_->Close();
    } catch (...) {
      Application().HandleException(this);
    }
    auto& list = dataset_->fields_;
    std::erase(list, this);
    dataset_ = nullptr;
  }
}

void TField::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_ != nullptr) dataset_->CheckInactive();
  if (dataset != nullptr) dataset->CheckInactive();
  if (dataset_ != nullptr) std::erase(dataset_->fields_, this);
  dataset_ = dataset;
  if (dataset_ != nullptr) dataset_->fields_.push_back(this);
}

void TField::SetFieldName(const std::string& name) {
  if (dataset_ != nullptr) dataset_->CheckInactive();
  field_name_ = name;
}

void TField::SetFieldKind(TFieldKind kind) {
  if (dataset_ != nullptr) dataset_->CheckInactive();
  field_kind_ = kind;
}

void TField::SetSize(int size) {
  if (dataset_ != nullptr) dataset_->CheckInactive();
  size_ = size < 0 ? 0 : size;
}

int TField::Index() const {
  if (dataset_ == nullptr) return -1;
  const auto& list = dataset_->fields_;
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i] == this) return static_cast<int>(i);
  }
  return -1;
}

void TField::SetLookupDataSet(TDataSet* dataset) {
  if (dataset == lookup_dataset_) return;
  if (dataset_ != nullptr) dataset_->CheckInactive();
  if (lookup_dataset_ != nullptr) RemoveFreeNotification(lookup_dataset_);
  lookup_dataset_ = dataset;
  if (lookup_dataset_ != nullptr) FreeNotification(lookup_dataset_);
  lookup_list_.clear();
}

void TField::SetLookupCache(bool cache) {
  if (cache == lookup_cache_) return;
  lookup_cache_ = cache;
  lookup_list_.clear();
  if (cache && dataset_ != nullptr && dataset_->Active()) RefreshLookupList();
}

void TField::RefreshLookupList() {
  lookup_list_.clear();
  TDataSet* source = lookup_dataset_;
  if (source == nullptr || !source->Active()) return;
  TBookmark position = source->GetBookmark();
  source->DisableControls();
  try {
    source->First();
    while (!source->Eof()) {
      lookup_list_.emplace_back(source->FieldValues(lookup_key_fields_),
                                source->FieldValues(lookup_result_field_));
      source->Next();
    }
    if (!position.empty() && source->BookmarkValid(position)) source->GotoBookmark(position);
  } catch (...) {
    source->EnableControls();
    throw;
  }
  source->EnableControls();
}

Variant TField::LookupValue() const {
  Variant key = dataset_->FieldValues(key_fields_);
  if (lookup_cache_) {
    for (const auto& [k, v] : lookup_list_) {
      if (LookupKeysEqual(k, key)) return v;
    }
    return Variant::Null();
  }
  if (lookup_dataset_ == nullptr || !lookup_dataset_->Active()) return Variant::Null();
  return lookup_dataset_->Lookup(lookup_key_fields_, key, lookup_result_field_);
}

void TField::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == lookup_dataset_) {
    lookup_dataset_ = nullptr;
    lookup_list_.clear();
  }
}

void TField::AccessError(const char* type_name) const {
  DatabaseErrorFmt(SFieldAccessError, {DisplayName(), type_name});
}

std::string TField::AsString() const { AccessError("String"); }
void TField::SetAsString(const std::string&) { AccessError("String"); }
int32_t TField::AsInteger() const { AccessError("Integer"); }
void TField::SetAsInteger(int32_t) { AccessError("Integer"); }
double TField::AsFloat() const { AccessError("Float"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
bool TField::AsBoolean() const { AccessError("Boolean"); }
void TField::SetAsBoolean(bool) { AccessError("Boolean"); }
TDateTime TField::AsDateTime() const { AccessError("DateTime"); }
void TField::SetAsDateTime(TDateTime) { AccessError("DateTime"); }
Currency TField::AsCurrency() const { return FloatToCurr(AsFloat()); }
void TField::SetAsCurrency(Currency value) { SetAsFloat(CurrToFloat(value)); }
Variant TField::AsVariant() const { AccessError("Variant"); }

void TField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) {
    Clear();
  } else {
    SetAsString(value.AsString());
  }
}

std::string TField::GetText(bool) const { return AsString(); }

std::string TField::TextWithEvent(bool display_text) const {
  if (on_get_text_) {
    std::string text;
    on_get_text_(const_cast<TField*>(this), text, display_text);
    return text;
  }
  return GetText(display_text);
}

void TField::SetText(const std::string& text) {
  if (on_set_text_) {
    on_set_text_(this, text);
  } else {
    SetAsString(text);
  }
}

bool TField::GetData(void* buffer) const {
  if (validating_) {
    if (validate_buffer_ == nullptr) return false;
    if (buffer != nullptr) std::memcpy(buffer, validate_buffer_, static_cast<size_t>(DataSize()));
    return true;
  }
  if (dataset_ == nullptr) DatabaseErrorFmt(SDataSetMissing, {DisplayName()});
  return dataset_->GetFieldValue(this, buffer);
}

void TField::SetData(const void* buffer) {
  if (dataset_ == nullptr) DatabaseErrorFmt(SDataSetMissing, {DisplayName()});
  dataset_->SetFieldValue(this, buffer);
}

bool TField::ReadNative(std::vector<uint8_t>& buffer) const {
  buffer.assign(static_cast<size_t>(DataSize()), 0);
  if (GetData(buffer.data())) return true;
  std::fill(buffer.begin(), buffer.end(), 0);
  return false;
}

void TField::Validate(const void* buffer) {
  if (!on_validate_) return;
  bool was_validating = validating_;
  const void* was_buffer = validate_buffer_;
  validating_ = true;
  validate_buffer_ = buffer;
  try {
    on_validate_(this);
  } catch (...) {
    validating_ = was_validating;
    validate_buffer_ = was_buffer;
    throw;
  }
  validating_ = was_validating;
  validate_buffer_ = was_buffer;
}

void TField::Change() {
  if (on_change_) on_change_(this);
}

bool TField::CanModify() const {
  if (read_only_ || dataset_ == nullptr) return false;
  switch (field_kind_) {
    case fkData:
    case fkInternalCalc:
      return dataset_->CanModify();
    case fkLookup: {
      if (!dataset_->CanModify() || key_fields_.empty()) return false;
      std::vector<TField*> keys;
      dataset_->GetFieldList(keys, key_fields_);
      for (TField* key : keys) {
        if (!key->CanModify()) return false;
      }
      return true;
    }
    case fkCalculated:
      return false;
  }
  return false;
}

bool TField::IsValidChar(char) const { return true; }

void TField::FocusControl() {
  if (dataset_ != nullptr) {
    TField* self = this;
    dataset_->DataEvent(deFocusControl, reinterpret_cast<intptr_t>(&self));
  }
}

void TField::Assign(const TPersistent* source) {
  if (source == nullptr) {
    Clear();
    return;
  }
  if (const auto* field = dynamic_cast<const TField*>(source)) {
    SetValue(field->Value());
    return;
  }
  TComponent::Assign(source);
}

}  // namespace cl
