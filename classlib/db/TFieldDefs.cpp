#include "classlib/db/TFieldDefs.h"

#include "classlib/db/DBConsts.h"
#include "classlib/db/TBlobField.h"
#include "classlib/db/TDataSet.h"
#include "classlib/db/TFields.h"
#include "classlib/rtl/Blanks.h"
#include "classlib/rtl/Collation.h"

namespace cl {
namespace {

// The field class of each field type.
TField* NewFieldOfType(TFieldType type, TComponent* owner) {
  switch (type) {
    case ftString:
      return Create<TStringField>(owner);
    case ftSmallint:
      return Create<TSmallintField>(owner);
    case ftInteger:
      return Create<TIntegerField>(owner);
    case ftWord:
      return Create<TWordField>(owner);
    case ftAutoInc:
      return Create<TAutoIncField>(owner);
    case ftBoolean:
      return Create<TBooleanField>(owner);
    case ftFloat:
      return Create<TFloatField>(owner);
    case ftCurrency:
      return Create<TCurrencyField>(owner);
    case ftBCD:
      return Create<TBCDField>(owner);
    case ftDate:
      return Create<TDateField>(owner);
    case ftTime:
      return Create<TTimeField>(owner);
    case ftDateTime:
      return Create<TDateTimeField>(owner);
    case ftBytes:
      return Create<TBytesField>(owner);
    case ftVarBytes:
      return Create<TVarBytesField>(owner);
    case ftBlob:
    case ftFmtMemo:
    case ftTypedBinary:
      return Create<TBlobField>(owner);
    case ftMemo:
      return Create<TMemoField>(owner);
    case ftGraphic:
      return Create<TGraphicField>(owner);
    case ftUnknown:
    case ftCursor:
      break;
  }
  return nullptr;
}

}  // namespace

// ---- TFieldDef ---------------------------------------------------------------------------------

TFieldDef::TFieldDef(TFieldDefs* collection, std::string name, TFieldType data_type, int size,
                     bool required, int field_no)
    : collection_(collection),
      name_(std::move(name)),
      data_type_(data_type),
      size_(size),
      required_(required),
      field_no_(field_no) {}

TField* TFieldDef::CreateField(TComponent* owner) const {
  TDataSet* dataset = collection_->DataSet();
  if (dataset != nullptr) dataset->CheckInactive();
  TField* field = NewFieldOfType(data_type_, owner);
  if (field == nullptr) DatabaseErrorFmt(SUnknownFieldType, {name_, FieldTypeName(data_type_)});
  try {
    if (auto* blob = dynamic_cast<TBlobField*>(field); blob != nullptr) {
      blob->SetBlobType(data_type_);  // formatted memos and typed binaries keep their type
    }
    field->SetFieldName(name_);
    if (data_type_ == ftString || data_type_ == ftBytes || data_type_ == ftVarBytes ||
        data_type_ == ftBCD || field->IsBlob()) {
      field->SetSize(size_);
    }
    field->SetRequired(required_);
    field->SetFieldNo(field_no_);
    if (auto* bcd = dynamic_cast<TBCDField*>(field); bcd != nullptr && precision_ > 0) {
      bcd->SetPrecision(precision_);
    }
    if (internal_calc_field_) field->SetFieldKind(fkInternalCalc);
    field->SetDataSet(dataset);
  } catch (...) {
    delete field;
    throw;
  }
  return field;
}

// ---- TFieldDefs --------------------------------------------------------------------------------

TFieldDef* TFieldDefs::Items(int index) const {
  if (index < 0 || index >= Count()) ListIndexError(index);
  return items_[static_cast<size_t>(index)].get();
}

TFieldDef* TFieldDefs::Add(const std::string& name, TFieldType data_type, int size, bool required) {
  items_.push_back(std::make_unique<TFieldDef>(this, name, data_type, size, required, Count() + 1));
  updated_ = false;
  return items_.back().get();
}

void TFieldDefs::Clear() {
  items_.clear();
  updated_ = false;
}

int TFieldDefs::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (AnsiSameText(items_[i]->Name(), name)) return static_cast<int>(i);
  }
  return -1;
}

TFieldDef* TFieldDefs::Find(std::string_view name) const {
  int index = IndexOf(name);
  if (index < 0) DatabaseErrorFmt(SFieldNotFound, {name});
  return items_[static_cast<size_t>(index)].get();
}

void TFieldDefs::Update() {
  if (dataset_ != nullptr) dataset_->InitFieldDefs();
}

// ---- TIndexDefs --------------------------------------------------------------------------------

TIndexDef* TIndexDefs::Items(int index) const {
  if (index < 0 || index >= Count()) ListIndexError(index);
  return items_[static_cast<size_t>(index)].get();
}

TIndexDef* TIndexDefs::Add(const std::string& name, const std::string& fields,
                           TIndexOptions options) {
  items_.push_back(std::make_unique<TIndexDef>(name, fields, options));
  return items_.back().get();
}

void TIndexDefs::Clear() {
  items_.clear();
  updated_ = false;
}

int TIndexDefs::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (AnsiSameText(items_[i]->Name(), name)) return static_cast<int>(i);
  }
  return -1;
}

void TIndexDefs::Update() {
  if (dataset_ != nullptr) dataset_->UpdateIndexDefs();
}

TIndexDef* TIndexDefs::GetIndexForFields(std::string_view fields, bool case_insensitive) const {
  std::string wanted(cl::TrimBlanks(fields));
  auto usable = [case_insensitive](const TIndexDef& def) {
    TIndexOptions options = def.Options();
    if (options.Contains(ixExpression) || options.Contains(ixDescending)) return false;
    return !case_insensitive || options.Contains(ixCaseInsensitive);
  };
  for (const auto& def : items_) {
    if (usable(*def) && AnsiSameText(def->Fields(), wanted)) return def.get();
  }
  for (const auto& def : items_) {
    const std::string& list = def->Fields();
    if (usable(*def) && list.size() > wanted.size() && list[wanted.size()] == ';' &&
        AnsiSameText(std::string_view(list).substr(0, wanted.size()), wanted)) {
      return def.get();
    }
  }
  return nullptr;
}

}  // namespace cl
