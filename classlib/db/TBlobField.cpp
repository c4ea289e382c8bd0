#include "classlib/db/TBlobField.h"

#include "classlib/db/TDataSet.h"
#include "classlib/rtl/Collation.h"

namespace cl {

TBlobField::TBlobField(TComponent* owner) : TBlobField(owner, ftBlob) {}

TBlobField::TBlobField(TComponent* owner, TFieldType type) : TField(owner) { SetDataType(type); }

TMemoField::TMemoField(TComponent* owner) : TBlobField(owner, ftMemo) {}
TGraphicField::TGraphicField(TComponent* owner) : TBlobField(owner, ftGraphic) {}

void TBlobField::SetBlobType(TFieldType type) {
  if (type >= ftBlob && type <= ftTypedBinary) SetDataType(type);
}

// A blob is read from the record the state selects; browsing an empty dataset selects none.
bool TBlobField::HasRecord() const {
  TDataSet* dataset = DataSet();
  if (dataset == nullptr || !dataset->Active()) return false;
  return !(dataset->State() == dsBrowse && dataset->IsEmpty());
}

int64_t TBlobField::BlobSize() const {
  if (!HasRecord()) return 0;
  auto stream = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  return stream->Size();
}

void TBlobField::LoadFromStream(TStream& stream) {
  if (DataSet() == nullptr) TField::SetData(nullptr);  // raises the missing-dataset error
  auto blob = DataSet()->CreateBlobStream(this, bmWrite);
  blob->CopyFrom(stream, 0);
}

void TBlobField::SaveToStream(TStream& stream) const {
  if (!HasRecord()) return;
  auto blob = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  if (blob->Size() > 0) stream.CopyFrom(*blob, 0);
}

std::string TBlobField::AsString() const {
  TMemoryStream bytes;
  SaveToStream(bytes);
  const auto& data = bytes.Bytes();
  return std::string(reinterpret_cast<const char*>(data.data()), static_cast<size_t>(bytes.Size()));
}

void TBlobField::SetAsString(const std::string& value) {
  if (DataSet() == nullptr) TField::SetData(nullptr);
  auto blob = DataSet()->CreateBlobStream(this, bmWrite);
  if (!value.empty()) blob->WriteBuffer(value.data(), static_cast<int32_t>(value.size()));
}

Variant TBlobField::AsVariant() const { return IsNull() ? Variant::Null() : Variant(AsString()); }

void TBlobField::Clear() { SetAsString(std::string()); }

void TBlobField::Assign(const TPersistent* source) {
  if (const auto* blob = dynamic_cast<const TBlobField*>(source)) {
    TMemoryStream bytes;
    blob->SaveToStream(bytes);
    LoadFromStream(bytes);
    return;
  }
  TField::Assign(source);
}

std::string TBlobField::GetText(bool) const {
  std::string name;
  switch (DataType()) {
    case ftMemo:
      name = "MEMO";
      break;
    case ftGraphic:
      name = "GRAPHIC";
      break;
    default:
      name = "BLOB";
      break;
  }
  if (IsNull()) name = AnsiLowerCase(name);
  return "(" + name + ")";
}

}  // namespace cl
