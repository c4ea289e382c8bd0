// The typed fields, one class per field type, with their native buffer forms.
//
// The native form is what GetData and SetData move and what a record buffer holds for the
// field; it is the engine's stored form, so the engine dataset copies values without converting
// them.  All integers are little-endian.
//
//   class            type         DataSize  native form
//   TStringField     ftString     Size + 1  characters, zero-terminated
//   TSmallintField   ftSmallint   2         int16
//   TIntegerField    ftInteger    4         int32
//   TWordField       ftWord       2         uint16
//   TAutoIncField    ftAutoInc    4         int32
//   TBooleanField    ftBoolean    2         16 bits, 0 = False, anything else True; True is
//                                           written as 0xFFFF
//   TFloatField      ftFloat      8         IEEE double
//   TCurrencyField   ftCurrency   8         IEEE double (Currency() true)
//   TBCDField        ftBCD        8         Currency raw int64 (amount x 10,000); Size = decimals
//   TDateField       ftDate       4         int32 time-stamp day (0001-01-01 = 1)
//   TTimeField       ftTime       4         int32 milliseconds since midnight
//   TDateTimeField   ftDateTime   8         IEEE double, TimeStampToMSecs
//   TBytesField      ftBytes      Size      the bytes
//   TVarBytesField   ftVarBytes   Size + 2  uint16 length, then the bytes
//
// Texts follow the current format settings.  Text given to a non-string field: "" clears it; a
// text that does not read raises EDatabaseError with the field's name, and a value outside the
// type's range (or the MinValue..MaxValue set on the field) raises the range error, before
// anything is written.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/db/TField.h"

namespace cl {

class TStringField : public TField {
 public:
  explicit TStringField(TComponent* owner);
  int DataSize() const override { return Size() + 1; }
  // The stored text; false when null.
  bool GetValue(std::string& value) const;

  std::string AsString() const override;
  // Cut to Size characters.
  void SetAsString(const std::string& value) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  // True when the text starts with T, t, Y or y; written as "T" or "F".
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override;
  TDateTime AsDateTime() const override;
  void SetAsDateTime(TDateTime value) override;
  Variant AsVariant() const override;

 protected:
  int DefaultWidth() const override { return Size(); }
};

class TNumericField : public TField {
 public:
  explicit TNumericField(TComponent* owner);
  // Signs and digits.
  bool IsValidChar(char c) const override;
};

// The extra bounds a numeric field checks when a value is written: both 0 = none, otherwise
// both apply.
template <class T>
class TFieldBounds {
 public:
  T MinValue() const { return min_value_; }
  void SetMinValue(T value) { min_value_ = value; }
  T MaxValue() const { return max_value_; }
  void SetMaxValue(T value) { max_value_ = value; }

 protected:
  T min_value_ = 0;
  T max_value_ = 0;
};

class TIntegerField : public TNumericField, public TFieldBounds<int32_t> {
 public:
  explicit TIntegerField(TComponent* owner);
  int DataSize() const override;
  bool GetValue(int32_t& value) const;

  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t value) override;
  double AsFloat() const override;
  // Rounded half to even.
  void SetAsFloat(double value) override;
  bool AsBoolean() const override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& value) override;

 protected:
  TIntegerField(TComponent* owner, TFieldType type, int64_t low, int64_t high);
  int DefaultWidth() const override;

 private:
  void SetChecked(int64_t value);

  int64_t type_low_;
  int64_t type_high_;
};

class TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(TComponent* owner);
};

class TWordField : public TIntegerField {
 public:
  explicit TWordField(TComponent* owner);
};

class TAutoIncField : public TIntegerField {
 public:
  explicit TAutoIncField(TComponent* owner);
};

// A number with decimals: Precision digits, and typed keys that may also be the decimal separator
// and the exponent letters.
class TDecimalField : public TNumericField {
 public:
  int Precision() const { return precision_; }
  void SetPrecision(int precision) { precision_ = precision; }
  bool IsValidChar(char c) const override;

 protected:
  TDecimalField(TComponent* owner, int precision) : TNumericField(owner), precision_(precision) {}

 private:
  int precision_;
};

class TFloatField : public TDecimalField, public TFieldBounds<double> {
 public:
  explicit TFloatField(TComponent* owner);
  int DataSize() const override { return 8; }
  bool GetValue(double& value) const;
  // Shown as money: the display text in the settings' currency form with CurrencyDecimals
  // decimals ("1 234,50 F"), the edit text with as many decimals and nothing else ("1234,50").
  // Otherwise both texts are the general form of Precision significant digits ("0,3" where
  // AsString keeps every digit, "0,30000000000000004").
  bool Currency() const { return currency_; }
  void SetCurrency(bool currency) { currency_ = currency; }

  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  cl::Currency AsCurrency() const override;
  void SetAsCurrency(cl::Currency value) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& value) override;

 protected:
  std::string GetText(bool display_text) const override;

 private:
  bool currency_ = false;
};

class TCurrencyField : public TFloatField {
 public:
  explicit TCurrencyField(TComponent* owner);
};

class TBCDField : public TDecimalField {
 public:
  explicit TBCDField(TComponent* owner);
  int DataSize() const override { return 8; }
  bool GetValue(cl::Currency& value) const;

  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  cl::Currency AsCurrency() const override;
  void SetAsCurrency(cl::Currency value) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& value) override;
};

class TBooleanField : public TField {
 public:
  explicit TBooleanField(TComponent* owner);
  int DataSize() const override { return 2; }
  bool GetValue(bool& value) const;

  // "Vrai" / "Faux".
  std::string AsString() const override;
  // A case-insensitive prefix of "Vrai" or "Faux".
  void SetAsString(const std::string& value) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& value) override;

 protected:
  int DefaultWidth() const override { return 5; }
};

class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TComponent* owner);
  int DataSize() const override;
  bool GetValue(TDateTime& value) const;

  // DateTimeToStr (TDateField: DateToStr, TTimeField: TimeToStr).
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  TDateTime AsDateTime() const override;
  void SetAsDateTime(TDateTime value) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& value) override;

 protected:
  TDateTimeField(TComponent* owner, TFieldType type);
  int DefaultWidth() const override;
};

class TDateField : public TDateTimeField {
 public:
  explicit TDateField(TComponent* owner);
};

class TTimeField : public TDateTimeField {
 public:
  explicit TTimeField(TComponent* owner);
};

class TBinaryField : public TField {
 public:
  // The raw bytes (TVarBytesField: those of its length).
  std::string AsString() const override;
  // Copies the bytes, cut to Size.
  void SetAsString(const std::string& value) override;
  Variant AsVariant() const override;

 protected:
  TBinaryField(TComponent* owner, TFieldType type);
  int DefaultWidth() const override { return Size() * 2; }
};

class TBytesField : public TBinaryField {
 public:
  explicit TBytesField(TComponent* owner);
  int DataSize() const override { return Size(); }

 protected:
  TBytesField(TComponent* owner, TFieldType type) : TBinaryField(owner, type) {}
};

class TVarBytesField : public TBytesField {
 public:
  explicit TVarBytesField(TComponent* owner);
  int DataSize() const override { return Size() + 2; }
};

}  // namespace cl
