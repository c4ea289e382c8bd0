#include "classlib/db/TFields.h"

#include <cstring>

#include "classlib/db/DBConsts.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Collation.h"
#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/NumberText.h"
#include "classlib/rtl/Rounding.h"

namespace cl {
namespace {

// Besides signs and digits, a float or BCD text takes the decimal separator and an exponent.
bool IsDecimalChar(char c) {
  return c == CurrentFormatSettings().DecimalSeparator || c == 'E' || c == 'e';
}

}  // namespace

// ---- TStringField ------------------------------------------------------------------------------

TStringField::TStringField(TComponent* owner) : TField(owner) {
  SetDataType(ftString);
  SetSize(20);
}

bool TStringField::GetValue(std::string& value) const {
  std::vector<uint8_t> buffer;
  if (!ReadNative(buffer)) {
    value.clear();
    return false;
  }
  size_t length = strnlen(reinterpret_cast<const char*>(buffer.data()), buffer.size());
  value.assign(reinterpret_cast<const char*>(buffer.data()), length);
  return true;
}

std::string TStringField::AsString() const {
  std::string value;
  GetValue(value);
  return value;
}

void TStringField::SetAsString(const std::string& value) {
  std::vector<uint8_t> buffer(static_cast<size_t>(DataSize()), 0);
  size_t length = std::min(value.size(), static_cast<size_t>(Size()));
  std::memcpy(buffer.data(), value.data(), length);
  SetData(buffer.data());
}

int32_t TStringField::AsInteger() const {
  std::string text;
  return GetValue(text) ? StrToInt(text) : 0;
}

void TStringField::SetAsInteger(int32_t value) { SetAsString(IntToStr(value)); }

double TStringField::AsFloat() const {
  std::string text;
  return GetValue(text) ? StrToFloat(text) : 0.0;
}

void TStringField::SetAsFloat(double value) { SetAsString(FloatToStr(value)); }

bool TStringField::AsBoolean() const {
  std::string text = AsString();
  return !text.empty() && std::strchr("TtYy", text[0]) != nullptr;
}

void TStringField::SetAsBoolean(bool value) { SetAsString(value ? "T" : "F"); }

TDateTime TStringField::AsDateTime() const {
  std::string text;
  return GetValue(text) ? StrToDateTime(text) : 0.0;
}

void TStringField::SetAsDateTime(TDateTime value) { SetAsString(DateTimeToStr(value)); }

Variant TStringField::AsVariant() const {
  std::string text;
  return GetValue(text) ? Variant(text) : Variant::Null();
}

// ---- TNumericField -----------------------------------------------------------------------------

TNumericField::TNumericField(TComponent* owner) : TField(owner) { SetAlignment(taRightJustify); }

bool TNumericField::IsValidChar(char c) const {
  return c == 0 || std::strchr("+-0123456789", c) != nullptr;
}

// ---- TIntegerField family ----------------------------------------------------------------------

TIntegerField::TIntegerField(TComponent* owner)
    : TIntegerField(owner, ftInteger, INT32_MIN, INT32_MAX) {}

TIntegerField::TIntegerField(TComponent* owner, TFieldType type, int64_t low, int64_t high)
    : TNumericField(owner), type_low_(low), type_high_(high) {
  SetDataType(type);
}

TSmallintField::TSmallintField(TComponent* owner)
    : TIntegerField(owner, ftSmallint, INT16_MIN, INT16_MAX) {}
TWordField::TWordField(TComponent* owner) : TIntegerField(owner, ftWord, 0, UINT16_MAX) {}
TAutoIncField::TAutoIncField(TComponent* owner)
    : TIntegerField(owner, ftAutoInc, INT32_MIN, INT32_MAX) {}

int TIntegerField::DataSize() const {
  return (DataType() == ftSmallint || DataType() == ftWord) ? 2 : 4;
}

int TIntegerField::DefaultWidth() const {
  switch (DataType()) {
    case ftSmallint:
      return 6;
    case ftWord:
      return 5;
    default:
      return 11;
  }
}

bool TIntegerField::GetValue(int32_t& value) const {
  uint8_t buffer[4] = {0, 0, 0, 0};
  if (!GetData(buffer)) {
    value = 0;
    return false;
  }
  switch (DataType()) {
    case ftSmallint:
      value = GetI16LE(buffer);
      break;
    case ftWord:
      value = GetU16LE(buffer);
      break;
    default:
      value = GetI32LE(buffer);
      break;
  }
  return true;
}

void TIntegerField::SetChecked(int64_t value) {
  int64_t low = type_low_;
  int64_t high = type_high_;
  if (min_value_ != 0 || max_value_ != 0) {
    low = std::max<int64_t>(low, min_value_);
    high = std::min<int64_t>(high, max_value_);
  }
  if (value < low || value > high) {
    DatabaseErrorFmt(SFieldRangeError,
                     {IntToStr(value), DisplayName(), IntToStr(low), IntToStr(high)});
  }
  uint8_t buffer[4];
  if (DataSize() == 2) {
    PutU16LE(buffer, static_cast<uint16_t>(value));
  } else {
    PutI32LE(buffer, static_cast<int32_t>(value));
  }
  SetData(buffer);
}

std::string TIntegerField::AsString() const {
  int32_t value;
  return GetValue(value) ? IntToStr(value) : std::string();
}

void TIntegerField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  int64_t number;
  if (!TryStrToInt64(value, number)) {
    DatabaseErrorFmt(SInvalidIntegerValue, {value, DisplayName()});
  }
  SetChecked(number);
}

int32_t TIntegerField::AsInteger() const {
  int32_t value;
  GetValue(value);
  return value;
}

void TIntegerField::SetAsInteger(int32_t value) { SetChecked(value); }

double TIntegerField::AsFloat() const { return AsInteger(); }

void TIntegerField::SetAsFloat(double value) { SetChecked(Round(value)); }

bool TIntegerField::AsBoolean() const { return AsInteger() != 0; }

Variant TIntegerField::AsVariant() const {
  int32_t value;
  return GetValue(value) ? Variant(value) : Variant::Null();
}

void TIntegerField::SetAsVariant(const Variant& value) {
  switch (value.Kind()) {
    case Variant::Type::Empty:
    case Variant::Type::Null:
      Clear();
      break;
    case Variant::Type::String:
      SetAsString(value.AsString());
      break;
    case Variant::Type::Double:
    case Variant::Type::Date:
      SetAsFloat(value.AsDouble());
      break;
    default:
      SetChecked(value.AsInteger());
      break;
  }
}

// ---- TDecimalField -----------------------------------------------------------------------------

bool TDecimalField::IsValidChar(char c) const {
  return TNumericField::IsValidChar(c) || IsDecimalChar(c);
}

// ---- TFloatField -------------------------------------------------------------------------------

TFloatField::TFloatField(TComponent* owner) : TDecimalField(owner, 15) { SetDataType(ftFloat); }

TCurrencyField::TCurrencyField(TComponent* owner) : TFloatField(owner) {
  SetDataType(ftCurrency);
  SetCurrency(true);
}

bool TFloatField::GetValue(double& value) const {
  uint8_t buffer[8] = {};
  if (!GetData(buffer)) {
    value = 0;
    return false;
  }
  value = GetF64LE(buffer);
  return true;
}

std::string TFloatField::AsString() const {
  double value;
  return GetValue(value) ? FloatToStr(value) : std::string();
}

std::string TFloatField::GetText(bool display_text) const {
  double value;
  if (!GetValue(value)) return std::string();
  const TFormatSettings settings = CurrentFormatSettings();
  if (!currency_) return FloatToStrF(value, ffGeneral, Precision(), 0, settings);
  // Money is edited without its currency string, so that the edit text reads back.
  return FloatToStrF(value, display_text ? ffCurrency : ffFixed, Precision(),
                     settings.CurrencyDecimals, settings);
}

void TFloatField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  double number;
  if (!TryStrToFloat(value, number, CurrentFormatSettings())) {
    DatabaseErrorFmt(SInvalidFloatValue, {value, DisplayName()});
  }
  SetAsFloat(number);
}

int32_t TFloatField::AsInteger() const {
  double value;
  if (!GetValue(value)) return 0;
  int64_t rounded = Round(value);
  if (rounded < INT32_MIN || rounded > INT32_MAX) {
    DatabaseErrorFmt(SFieldRangeError,
                     {FloatToStr(value), DisplayName(), IntToStr(INT32_MIN), IntToStr(INT32_MAX)});
  }
  return static_cast<int32_t>(rounded);
}

void TFloatField::SetAsInteger(int32_t value) { SetAsFloat(value); }

double TFloatField::AsFloat() const {
  double value;
  GetValue(value);
  return value;
}

void TFloatField::SetAsFloat(double value) {
  if ((min_value_ != 0 || max_value_ != 0) && (value < min_value_ || value > max_value_)) {
    DatabaseErrorFmt(SFieldRangeError, {FloatToStr(value), DisplayName(), FloatToStr(min_value_),
                                        FloatToStr(max_value_)});
  }
  uint8_t buffer[8];
  PutF64LE(buffer, value);
  SetData(buffer);
}

Currency TFloatField::AsCurrency() const { return FloatToCurr(AsFloat()); }
void TFloatField::SetAsCurrency(cl::Currency value) { SetAsFloat(CurrToFloat(value)); }

Variant TFloatField::AsVariant() const {
  double value;
  return GetValue(value) ? Variant(value) : Variant::Null();
}

void TFloatField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) {
    Clear();
  } else if (value.Kind() == Variant::Type::String) {
    SetAsString(value.AsString());
  } else {
    SetAsFloat(value.AsDouble());
  }
}

// ---- TBCDField ---------------------------------------------------------------------------------

TBCDField::TBCDField(TComponent* owner) : TDecimalField(owner, 20) {
  SetDataType(ftBCD);
  SetSize(4);
}

bool TBCDField::GetValue(cl::Currency& value) const {
  uint8_t buffer[8] = {};
  if (!GetData(buffer)) {
    value = cl::Currency{};
    return false;
  }
  value = cl::Currency::FromRaw(GetI64LE(buffer));
  return true;
}

std::string TBCDField::AsString() const {
  cl::Currency value;
  return GetValue(value) ? CurrToStr(value) : std::string();
}

void TBCDField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  cl::Currency amount;
  if (!TryStrToCurr(value, amount, CurrentFormatSettings())) {
    DatabaseErrorFmt(SInvalidFloatValue, {value, DisplayName()});
  }
  SetAsCurrency(amount);
}

int32_t TBCDField::AsInteger() const {
  cl::Currency value;
  if (!GetValue(value)) return 0;
  int64_t rounded = Round(CurrToFloat(value));
  if (rounded < INT32_MIN || rounded > INT32_MAX) {
    DatabaseErrorFmt(SFieldRangeError,
                     {CurrToStr(value), DisplayName(), IntToStr(INT32_MIN), IntToStr(INT32_MAX)});
  }
  return static_cast<int32_t>(rounded);
}

void TBCDField::SetAsInteger(int32_t value) { SetAsCurrency(IntToCurr(value)); }

double TBCDField::AsFloat() const {
  cl::Currency value;
  return GetValue(value) ? CurrToFloat(value) : 0.0;
}

void TBCDField::SetAsFloat(double value) { SetAsCurrency(FloatToCurr(value)); }

Currency TBCDField::AsCurrency() const {
  cl::Currency value;
  GetValue(value);
  return value;
}

void TBCDField::SetAsCurrency(cl::Currency value) {
  uint8_t buffer[8];
  PutI64LE(buffer, value.Raw);
  SetData(buffer);
}

Variant TBCDField::AsVariant() const {
  cl::Currency value;
  return GetValue(value) ? Variant(value) : Variant::Null();
}

void TBCDField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) {
    Clear();
  } else if (value.Kind() == Variant::Type::String) {
    SetAsString(value.AsString());
  } else {
    SetAsCurrency(value.AsCurrency());
  }
}

// ---- TBooleanField -----------------------------------------------------------------------------

TBooleanField::TBooleanField(TComponent* owner) : TField(owner) { SetDataType(ftBoolean); }

bool TBooleanField::GetValue(bool& value) const {
  uint8_t buffer[2] = {0, 0};
  if (!GetData(buffer)) {
    value = false;
    return false;
  }
  value = GetU16LE(buffer) != 0;
  return true;
}

std::string TBooleanField::AsString() const {
  bool value;
  if (!GetValue(value)) return std::string();
  return value ? STextTrue : STextFalse;
}

void TBooleanField::SetAsString(const std::string& value) {
  if (value.empty()) {
    Clear();
    return;
  }
  auto is_prefix_of = [&value](std::string_view text) {
    return value.size() <= text.size() && AnsiSameText(value, text.substr(0, value.size()));
  };
  if (is_prefix_of(STextTrue)) {
    SetAsBoolean(true);
  } else if (is_prefix_of(STextFalse)) {
    SetAsBoolean(false);
  } else {
    DatabaseErrorFmt(SInvalidBoolValue, {value, DisplayName()});
  }
}

bool TBooleanField::AsBoolean() const {
  bool value;
  GetValue(value);
  return value;
}

void TBooleanField::SetAsBoolean(bool value) {
  uint8_t buffer[2];
  PutU16LE(buffer, value ? 0xFFFF : 0);
  SetData(buffer);
}

Variant TBooleanField::AsVariant() const {
  bool value;
  return GetValue(value) ? Variant(value) : Variant::Null();
}

void TBooleanField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) {
    Clear();
  } else if (value.Kind() == Variant::Type::String) {
    SetAsString(value.AsString());
  } else {
    SetAsBoolean(value.AsBoolean());
  }
}

}  // namespace cl
