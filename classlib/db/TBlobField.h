// Blob fields: values of any length, reached only through the dataset's blob streams.
//
// A blob field has no native buffer form (DataSize 0).  Reading opens CreateBlobStream(bmRead),
// writing CreateBlobStream(bmWrite), which empties the value first; the dataset's stream marks
// the field Modified and signals the field change when it is destroyed after a write.  A
// modified value stays open in the record until Post, Cancel or Delete, when the dataset closes
// it (CloseBlob) and clears Modified.  IsNull is the dataset's answer (an empty value is null).
#pragma once

#include <cstdint>
#include <string>

#include "classlib/db/TField.h"
#include "classlib/rtl/Streams.h"

namespace cl {

class TBlobField : public TField {
 public:
  explicit TBlobField(TComponent* owner);
  bool IsBlob() const override { return true; }
  // The blob type (ftBlob .. ftTypedBinary); other types are ignored.
  void SetBlobType(TFieldType type);

  // Written since the record was last posted or cancelled.
  bool Modified() const { return modified_; }
  void SetModified(bool modified) { modified_ = modified; }
  // Bytes of the value; 0 without a record.
  int64_t BlobSize() const;
  // Replaces the value by the whole of `stream` (from its start).
  void LoadFromStream(TStream& stream);
  // Appends the value to `stream` at its position.
  void SaveToStream(TStream& stream) const;

  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  Variant AsVariant() const override;
  // Empties the value (which makes it null).
  void Clear() override;
  // A blob source copies its bytes; other sources as for every field.
  void Assign(const TPersistent* source) override;

 protected:
  TBlobField(TComponent* owner, TFieldType type);
  // "(BLOB)", or "(blob)" when null; "(MEMO)" and "(GRAPHIC)" likewise.
  std::string GetText(bool display_text) const override;

 private:
  bool HasRecord() const;

  bool modified_ = false;
};

class TMemoField : public TBlobField {
 public:
  explicit TMemoField(TComponent* owner);
};

class TGraphicField : public TBlobField {
 public:
  explicit TGraphicField(TComponent* owner);
};

}  // namespace cl
