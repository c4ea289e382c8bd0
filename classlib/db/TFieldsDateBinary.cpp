// The date-time and byte fields of TFields.h.
#include <algorithm>
#include <cstring>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TFields.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/DateTimeText.h"

namespace cl {

// ---- TDateTimeField family ---------------------------------------------------------------------

TDateTimeField::TDateTimeField(TComponent* owner) : TDateTimeField(owner, ftDateTime) {}

TDateTimeField::TDateTimeField(TComponent* owner, TFieldType type) : TField(owner) {
  SetDataType(type);
}

TDateField::TDateField(TComponent* owner) : TDateTimeField(owner, ftDate) {}
TTimeField::TTimeField(TComponent* owner) : TDateTimeField(owner, ftTime) {}

int TDateTimeField::DataSize() const { return DataType() == ftDateTime ? 8 : 4; }

int TDateTimeField::DefaultWidth() const {
  switch (DataType()) {
    case ftDate:
      return 10;
    case ftTime:
      return 8;
    default:
      return 19;
  }
}

bool TDateTimeField::GetValue(TDateTime& value) const {
  uint8_t buffer[8] = {};
  value = 0;
  if (!GetData(buffer)) return false;
  switch (DataType()) {
    case ftDate:
      value = TimeStampToDateTime(TTimeStamp{0, GetI32LE(buffer)});
      break;
    case ftTime:
      value = TimeStampToDateTime(TTimeStamp{GetI32LE(buffer), kDateDelta});
      break;
    default:
      value = TimeStampToDateTime(MSecsToTimeStamp(GetF64LE(buffer)));
      break;
  }
  return true;
}

std::string TDateTimeField::AsString() const {
  TDateTime value;
  if (!GetValue(value)) return std::string();
  switch (DataType()) {
    case ftDate:
      return DateToStr(value);
    case ftTime:
      return TimeToStr(value);
    default:
      return DateTimeToStr(value);
  }
}

void TDateTimeField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  switch (DataType()) {
    case ftDate:
      SetAsDateTime(StrToDate(value));
      break;
    case ftTime:
      SetAsDateTime(StrToTime(value));
      break;
    default:
      SetAsDateTime(StrToDateTime(value));
      break;
  }
}

double TDateTimeField::AsFloat() const { return AsDateTime(); }
void TDateTimeField::SetAsFloat(double value) { SetAsDateTime(value); }

TDateTime TDateTimeField::AsDateTime() const {
  TDateTime value;
  GetValue(value);
  return value;
}

void TDateTimeField::SetAsDateTime(TDateTime value) {
  TTimeStamp stamp = DateTimeToTimeStamp(value);
  uint8_t buffer[8];
  switch (DataType()) {
    case ftDate:
      PutI32LE(buffer, stamp.Date);
      break;
    case ftTime:
      PutI32LE(buffer, stamp.Time);
      break;
    default:
      PutF64LE(buffer, TimeStampToMSecs(stamp));
      break;
  }
  SetData(buffer);
}

Variant TDateTimeField::AsVariant() const {
  TDateTime value;
  return GetValue(value) ? Variant::FromDate(value) : Variant::Null();
}

void TDateTimeField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) {
    Clear();
  } else if (value.Kind() == Variant::Type::String) {
    SetAsString(value.AsString());
  } else {
    SetAsDateTime(value.AsDateTime());
  }
}

// ---- byte fields -------------------------------------------------------------------------------

TBinaryField::TBinaryField(TComponent* owner, TFieldType type) : TField(owner) {
  SetDataType(type);
  SetSize(16);
}

TBytesField::TBytesField(TComponent* owner) : TBinaryField(owner, ftBytes) {}
TVarBytesField::TVarBytesField(TComponent* owner) : TBytesField(owner, ftVarBytes) {}

std::string TBinaryField::AsString() const {
  std::vector<uint8_t> buffer;
  if (!ReadNative(buffer)) return std::string();
  const char* bytes = reinterpret_cast<const char*>(buffer.data());
  if (DataType() != ftVarBytes) return std::string(bytes, buffer.size());
  // The stored length is trusted no further than the field's size.
  size_t length = std::min<size_t>(GetU16LE(buffer.data()), static_cast<size_t>(Size()));
  return std::string(bytes + 2, length);
}

void TBinaryField::SetAsString(const std::string& value) {
  std::vector<uint8_t> buffer(static_cast<size_t>(DataSize()), 0);
  size_t length = std::min(value.size(), static_cast<size_t>(Size()));
  if (DataType() == ftVarBytes) {
    PutU16LE(buffer.data(), static_cast<uint16_t>(length));
    std::memcpy(buffer.data() + 2, value.data(), length);
  } else {
    std::memcpy(buffer.data(), value.data(), length);
  }
  SetData(buffer.data());
}

Variant TBinaryField::AsVariant() const { return IsNull() ? Variant::Null() : Variant(AsString()); }

}  // namespace cl
