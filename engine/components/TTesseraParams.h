// The query component's parameters: TTesseraParam (one named value with its field type) and
// TTesseraParams, the ordered list of them, with the translation of a statement text's named
// parameters into the engine's positional "?" markers.
//
// Parameters are positional: the n-th "?" of the translated text is the n-th parameter of the
// list, duplicates included (":p ... :p" gives two parameters named p).  Names are found without
// regard to case; the first of several same-named parameters answers.
//
// Engine value form (what a parameter hands the statement, and what the stored "Data" holds):
//
//   data type                     engine type  size        bytes
//   ftString, ftMemo              1 / 3        length + 1  the text, then a zero byte
//   ftSmallint                    5            2           i16
//   ftInteger, ftAutoInc          6            4           i32
//   ftWord                        12           2           u16
//   ftBoolean                     4            2           i16, -1 or 0
//   ftFloat, ftCurrency           7            8           f64
//   ftBCD                         8            8           i64 in 1/10000, 4 decimals
//   ftDate                        2            4           u32 day number (0001-01-01 = 1)
//   ftTime                        10           4           u32 milliseconds of the day
//   ftDateTime                    11           8           f64 milliseconds since day 1
//
// Stored "Data" of the list (little-endian; version 2 widens the marked fields to 32 bits):
//
//   offset  size     field
//   0       2        version (1 when written; above 2 refused)
//   2       2 (v2:4) parameter count
//   then per parameter:
//           1 (v2:4) name length, then the name bytes
//           1        parameter type (TParamType)
//           1        data type (TFieldType)
//           2 (v2:4) value size, then the value bytes      (only when the data type is not 0)
//           1        null flag (1 = null)
//           1        bound flag
//
// Owned by the query component; GUI thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/db/DBTypes.h"
#include "classlib/rtl/Classes.h"
#include "classlib/rtl/Currency.h"
#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/Variant.h"

namespace cl {
class TField;
class TFiler;
class TStream;
}  // namespace cl

namespace tessera {

class TTesseraParams;

inline constexpr const char* SParameterNotFound = "Parameter '%s' not found";
inline constexpr const char* SNoParameterValue = "No value for parameter '%s'";
inline constexpr const char* SUnsupportedParamType = "Field '%s' is of an unsupported type";
inline constexpr const char* SBadParamData = "Unable to load bind parameters";
inline constexpr const char* SParamTooLarge =
    "Parameter '%s', cannot save data larger than %d bytes";
inline constexpr int kMaxStoredParamSize = 2048;
// A value the engine takes in its 255-byte value area: text of at most 254 characters.
inline constexpr size_t kMaxParamTextLength = 254;

class TTesseraParam {
 public:
  explicit TTesseraParam(TTesseraParams* owner, std::string name = {},
                         cl::TParamType param_type = cl::ptUnknown);

  TTesseraParams* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }
  cl::TFieldType DataType() const { return data_type_; }
  // A new type keeps the value, converted on the next read.
  void SetDataType(cl::TFieldType type) { data_type_ = type; }
  cl::TParamType ParamType() const { return param_type_; }
  void SetParamType(cl::TParamType type) { param_type_ = type; }
  bool IsNull() const { return null_; }
  bool Bound() const { return bound_; }
  void SetBound(bool bound) { bound_ = bound; }
  const cl::Variant& Value() const { return value_; }

  // Each setter gives the parameter its type and value and marks it bound and not null.
  void SetAsString(const std::string& value) { Set(cl::ftString, value); }
  void SetAsMemo(const std::string& value) { Set(cl::ftMemo, value); }
  void SetAsSmallInt(int16_t value) { Set(cl::ftSmallint, value); }
  void SetAsInteger(int32_t value) { Set(cl::ftInteger, value); }
  void SetAsWord(uint16_t value) { Set(cl::ftWord, value); }
  void SetAsBoolean(bool value) { Set(cl::ftBoolean, value); }
  void SetAsFloat(double value) { Set(cl::ftFloat, value); }
  void SetAsCurrency(double value) { Set(cl::ftCurrency, value); }
  void SetAsBCD(cl::Currency value) { Set(cl::ftBCD, value); }
  void SetAsDate(cl::TDateTime value) { Set(cl::ftDate, cl::Variant::FromDate(value)); }
  void SetAsTime(cl::TDateTime value) { Set(cl::ftTime, cl::Variant::FromDate(value)); }
  void SetAsDateTime(cl::TDateTime value) { Set(cl::ftDateTime, cl::Variant::FromDate(value)); }
  // The type follows the variant's kind when the parameter has none yet; a null or empty
  // variant makes the parameter null.
  void SetValue(const cl::Variant& value);
  // Null, keeping the type; bound.
  void Clear();
  // The field's type and value (a null field gives a null parameter).
  void AssignField(const cl::TField& field);
  void Assign(const TTesseraParam& other);

  std::string AsString() const { return null_ ? std::string() : value_.AsString(); }
  int32_t AsInteger() const { return null_ ? 0 : value_.AsInteger(); }
  double AsFloat() const { return null_ ? 0.0 : value_.AsDouble(); }
  bool AsBoolean() const { return !null_ && value_.AsBoolean(); }
  cl::TDateTime AsDateTime() const { return null_ ? 0.0 : value_.AsDateTime(); }

  // ---- engine values (table in the file comment) ----
  // The engine type; raises "No value for parameter" for an unassigned type and "Field ... is
  // of an unsupported type" for binary types.
  uint8_t EngineType() const;
  // The engine value's size; same errors.
  size_t DataSize() const;
  // Writes DataSize() bytes (zeros for a null value).
  void GetData(uint8_t* buffer) const;
  // Reads the value of the parameter's type from `size` bytes.
  void SetData(const uint8_t* buffer, size_t size);

 private:
  friend class TTesseraParams;
  void Set(cl::TFieldType type, const cl::Variant& value);

  TTesseraParams* owner_;
  cl::Variant value_;
  std::string name_;
  cl::TFieldType data_type_ = cl::ftUnknown;
  bool null_ = true;
  bool bound_ = false;
  cl::TParamType param_type_ = cl::ptUnknown;
};

class TTesseraParams : public cl::TPersistent {
 public:
  TTesseraParams() = default;
  TTesseraParams(const TTesseraParams&) = delete;
  TTesseraParams& operator=(const TTesseraParams&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // REQUIRES: 0 <= index < Count().
  TTesseraParam* Item(int index) const { return items_.at(static_cast<size_t>(index)).get(); }
  TTesseraParam* Add(std::string name, cl::TParamType param_type = cl::ptInput);
  void Clear() { items_.clear(); }
  // The first parameter of that name (ignoring case), or nullptr.
  TTesseraParam* FindParam(std::string_view name) const;
  // Raises "Parameter '%s' not found" when absent.
  TTesseraParam* ParamByName(std::string_view name) const;
  // Each parameter of `source` gives its value, type and flags to this list's parameter of the
  // same name, when there is one.
  void AssignValues(const TTesseraParams& source);

  // The stored "Data" (format in the file comment).
  void WriteData(cl::TStream& stream) const;
  // Replaces the list; a damaged stream raises and leaves the list as it was.
  void ReadData(cl::TStream& stream);
  void DefineProperties(cl::TFiler& filer) override;

 private:
  std::vector<std::unique_ptr<TTesseraParam>> items_;
};

// Translates the named parameters of `text` in place into "?" markers (the rules below) and adds
// one parameter per marker to `params` when it is not nullptr:
//   - a quote (' or ") opens a quoted string that only the same quote closes;
//   - outside quotes a comment ("/*" to the first "*/") is passed over whole;
//   - outside quotes "::" becomes ":";
//   - outside quotes ":" starts a name that runs to the end of the text or, outside quotes, to a
//     line feed, carriage return, blank, ")", "," or ";" (so "=" stays in the name); a quoted
//     name loses its enclosing quotes; the colon becomes "?" and the name goes.
void TranslateParams(std::string& text, TTesseraParams* params);

}  // namespace tessera
