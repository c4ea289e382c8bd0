// Variant: a small value of varying type, as dataset values, lookups, keys and filter operands
// travel through the class library.
//
// Kinds: Empty (never assigned), Null (no value), Boolean, Integer (32-bit), Double, Currency,
// Date (a TDateTime tagged as a date), String (Windows-1252; byte values of binary fields travel
// as strings too) and Array (of Variant, lower bound 0, immutable once built).
//
// Conversions (As...):
//   from Empty: False, 0, 0.0, "" ; from Null: EVariantError (VarToStr gives "").
//   Boolean True is -1 as a number and "True" as text; False is 0 and "False".
//   Numbers become Boolean by being non-zero; the texts "True"/"False" (any case) and numeric
//   texts become Boolean too.  Doubles become integers by rounding half to even.
//   Texts become numbers through the current format set's decimal separator, dates through its
//   date and time formats; numbers become text with IntToStr, FloatToStr, CurrToStr,
//   DateTimeToStr.
//   Anything that does not convert, an array included, raises EVariantError "Conversion de
//   type de variant incorrecte".
//
// Comparison (the six operators), with fixed rules for Null:
//   Null = Null is true, Null = x is false, Null <> x is true, and every ordering comparison
//   with a Null operand is false.  Two strings compare byte by byte (case-sensitive); a string
//   against a number is read as a number (EVariantError when it is not one); numbers, currency,
//   dates and Booleans compare by value; Empty is "" against a string and 0 against anything
//   else.  Arrays do not compare (EVariantError).
//
// VarAnd / VarOr: a Null operand gives Null; two Booleans give the logical result; otherwise
// both operands are read as integers and combined bit by bit.
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "classlib/rtl/Currency.h"
#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/Exceptions.h"

namespace cl {

class EVariantError : public Exception {
 public:
  using Exception::Exception;
};

class Variant {
 public:
  enum class Type : uint8_t {
    Empty,
    Null,
    Boolean,
    Integer,
    Double,
    Currency,
    Date,
    String,
    Array
  };

  Variant() = default;
  static Variant Null();
  Variant(bool value) : value_(value) {}
  // Any integer type: a value outside 32 bits is kept as a Double.
  template <std::integral T>
  requires(!std::same_as<T, bool> && !std::same_as<T, char>) Variant(T value) {
    if (std::in_range<int32_t>(value)) {
      value_ = static_cast<int32_t>(value);
    } else {
      value_ = static_cast<double>(value);
    }
  }
  Variant(double value) : value_(value) {}
  Variant(cl::Currency value) : value_(value) {}
  Variant(std::string value) : value_(std::move(value)) {}
  Variant(const char* value) : value_(std::string(value)) {}
  static Variant FromDate(TDateTime value);
  static Variant Array(std::vector<Variant> elements);

  Type Kind() const { return static_cast<Type>(value_.index()); }
  bool IsNull() const { return Kind() == Type::Null; }
  bool IsEmpty() const { return Kind() == Type::Empty; }
  bool IsArray() const { return Kind() == Type::Array; }

  bool AsBoolean() const;
  int32_t AsInteger() const;
  double AsDouble() const;
  cl::Currency AsCurrency() const;
  TDateTime AsDateTime() const;
  std::string AsString() const;

  // REQUIRES: IsArray(), else EVariantError.
  const std::vector<Variant>& Elements() const;
  // The element i (0-based); EVariantError outside the array.
  const Variant& operator[](int index) const;

 private:
  struct NullTag {};
  struct DateValue {
    TDateTime value;
  };
  using Elements_ = std::shared_ptr<const std::vector<Variant>>;

  std::variant<std::monostate, NullTag, bool, int32_t, double, cl::Currency, DateValue, std::string,
               Elements_>
      value_;

  friend int VarCompareValues(const Variant& a, const Variant& b);
};

bool VarIsNull(const Variant& v);
bool VarIsEmpty(const Variant& v);
bool VarIsArray(const Variant& v);
Variant VarArrayOf(std::initializer_list<Variant> elements);
Variant VarArrayOf(std::vector<Variant> elements);
// The highest index of an array (Count - 1); EVariantError for a value that is not an array.
int VarArrayHighBound(const Variant& v);
int VarArrayLowBound(const Variant& v);
// The text of a value; "" for Null and Empty.
std::string VarToStr(const Variant& v);

// -1, 0 or 1 for two values neither of which is Null (see the rules above).
int VarCompareValues(const Variant& a, const Variant& b);

bool operator==(const Variant& a, const Variant& b);
bool operator!=(const Variant& a, const Variant& b);
bool operator<(const Variant& a, const Variant& b);
bool operator>(const Variant& a, const Variant& b);
bool operator<=(const Variant& a, const Variant& b);
bool operator>=(const Variant& a, const Variant& b);

Variant VarAnd(const Variant& a, const Variant& b);
Variant VarOr(const Variant& a, const Variant& b);

}  // namespace cl
