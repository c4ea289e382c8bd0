#include "classlib/rtl/Variant.h"

#include <cmath>

#include "classlib/rtl/AsciiText.h"
#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/FormatSettings.h"
#include "classlib/rtl/NumberText.h"
#include "classlib/rtl/Rounding.h"

namespace cl {
namespace {

[[noreturn]] void BadConversion() {
  throw EVariantError("Conversion de type de variant incorrecte");
}

double TextToDouble(const std::string& text) {
  double value = 0;
  if (!TryStrToFloat(text, value, CurrentFormatSettings())) BadConversion();
  return value;
}

int32_t DoubleToInt32(double value) {
  if (!std::isfinite(value) || value < -2147483648.5 || value > 2147483647.5) BadConversion();
  const int64_t rounded = Round(value);
  if (!std::in_range<int32_t>(rounded)) BadConversion();
  return static_cast<int32_t>(rounded);
}

bool IsText(const Variant& v) { return v.Kind() == Variant::Type::String; }

}  // namespace

Variant Variant::Null() {
  Variant v;
  v.value_ = NullTag{};
  return v;
}

Variant Variant::FromDate(TDateTime value) {
  Variant v;
  v.value_ = DateValue{value};
  return v;
}

Variant Variant::Array(std::vector<Variant> elements) {
  Variant v;
  v.value_ = std::make_shared<const std::vector<Variant>>(std::move(elements));
  return v;
}

// The numeric kinds (and a text that is a number) convert through AsDouble; an amount is never
// zero as a double unless its scaled value is.
bool Variant::AsBoolean() const {
  if (Kind() == Type::Boolean) return std::get<bool>(value_);
  if (Kind() == Type::String) {
    const std::string& text = std::get<std::string>(value_);
    if (SameAsciiText(text, "True")) return true;
    if (SameAsciiText(text, "False")) return false;
  }
  return AsDouble() != 0;
}

int32_t Variant::AsInteger() const {
  switch (Kind()) {
    case Type::Integer:
      return std::get<int32_t>(value_);
    case Type::Currency: {
      // Whole units, halves to even, exactly on the scaled amount.
      const int64_t raw = std::get<cl::Currency>(value_).Raw;
      int64_t units = raw / kCurrencyScale;
      const int64_t rest = raw % kCurrencyScale;
      const int64_t twice = 2 * (rest < 0 ? -rest : rest);
      if (twice > kCurrencyScale || (twice == kCurrencyScale && units % 2 != 0)) {
        units += rest < 0 ? -1 : 1;
      }
      if (!std::in_range<int32_t>(units)) BadConversion();
      return static_cast<int32_t>(units);
    }
    case Type::String: {
      int32_t value = 0;
      if (TryStrToInt(std::get<std::string>(value_), value)) return value;
      break;
    }
    default:
      break;
  }
  return DoubleToInt32(AsDouble());
}

double Variant::AsDouble() const {
  switch (Kind()) {
    case Type::Empty:
      return 0;
    case Type::Boolean:
      return std::get<bool>(value_) ? -1 : 0;
    case Type::Integer:
      return std::get<int32_t>(value_);
    case Type::Double:
      return std::get<double>(value_);
    case Type::Currency:
      return CurrToFloat(std::get<cl::Currency>(value_));
    case Type::Date:
      return std::get<DateValue>(value_).value;
    case Type::String:
      return TextToDouble(std::get<std::string>(value_));
    case Type::Null:
    case Type::Array:
      break;
  }
  BadConversion();
}

cl::Currency Variant::AsCurrency() const {
  if (Kind() == Type::Currency) return std::get<cl::Currency>(value_);
  if (Kind() == Type::String) {
    cl::Currency amount;
    if (!TryStrToCurr(std::get<std::string>(value_), amount, CurrentFormatSettings())) {
      BadConversion();
    }
    return amount;
  }
  cl::Currency amount;
  if (!TryFloatToCurr(AsDouble(), amount)) BadConversion();
  return amount;
}

TDateTime Variant::AsDateTime() const {
  if (Kind() == Type::String) {
    TDateTime value = 0;
    if (!TryStrToDateTime(std::get<std::string>(value_), value, CurrentFormatSettings())) {
      BadConversion();
    }
    return value;
  }
  return AsDouble();
}

std::string Variant::AsString() const {
  switch (Kind()) {
    case Type::Empty:
      return "";
    case Type::Boolean:
      return std::get<bool>(value_) ? "True" : "False";
    case Type::Integer:
      return IntToStr(std::get<int32_t>(value_));
    case Type::Double:
      return FloatToStr(std::get<double>(value_));
    case Type::Currency:
      return CurrToStr(std::get<cl::Currency>(value_));
    case Type::Date:
      return DateTimeToStr(std::get<DateValue>(value_).value);
    case Type::String:
      return std::get<std::string>(value_);
    case Type::Null:
    case Type::Array:
      break;
  }
  BadConversion();
}

const std::vector<Variant>& Variant::Elements() const {
  if (!IsArray()) BadConversion();
  return *std::get<Elements_>(value_);
}

const Variant& Variant::operator[](int index) const {
  const auto& elements = Elements();
  if (index < 0 || index >= static_cast<int>(elements.size())) {
    throw EVariantError("Index de tableau de variants hors limites");
  }
  return elements[static_cast<size_t>(index)];
}

bool VarIsNull(const Variant& v) { return v.IsNull(); }
bool VarIsEmpty(const Variant& v) { return v.IsEmpty(); }
bool VarIsArray(const Variant& v) { return v.IsArray(); }

Variant VarArrayOf(std::initializer_list<Variant> elements) {
  return Variant::Array(std::vector<Variant>(elements));
}

Variant VarArrayOf(std::vector<Variant> elements) { return Variant::Array(std::move(elements)); }

int VarArrayHighBound(const Variant& v) { return static_cast<int>(v.Elements().size()) - 1; }

int VarArrayLowBound(const Variant& v) {
  v.Elements();  // raises for a value that is not an array
  return 0;
}

std::string VarToStr(const Variant& v) {
  if (v.IsNull() || v.IsEmpty()) return "";
  return v.AsString();
}

int VarCompareValues(const Variant& a, const Variant& b) {
  if (a.IsArray() || b.IsArray() || a.IsNull() || b.IsNull()) {
    throw EVariantError("Op\xE9ration de variant incorrecte");
  }
  const bool a_text = IsText(a) || (a.IsEmpty() && IsText(b));
  const bool b_text = IsText(b) || (b.IsEmpty() && IsText(a));
  if (a_text && b_text) {
    const int c = VarToStr(a).compare(VarToStr(b));
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  }
  if (a.Kind() == Variant::Type::Currency && b.Kind() == Variant::Type::Currency) {
    const int64_t x = std::get<cl::Currency>(a.value_).Raw;
    const int64_t y = std::get<cl::Currency>(b.value_).Raw;
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  const double x = a.AsDouble();
  const double y = b.AsDouble();
  return x < y ? -1 : (x > y ? 1 : 0);
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() && b.IsNull();
  return VarCompareValues(a, b) == 0;
}

bool operator!=(const Variant& a, const Variant& b) { return !(a == b); }

bool operator<(const Variant& a, const Variant& b) {
  return !a.IsNull() && !b.IsNull() && VarCompareValues(a, b) < 0;
}

bool operator>(const Variant& a, const Variant& b) {
  return !a.IsNull() && !b.IsNull() && VarCompareValues(a, b) > 0;
}

bool operator<=(const Variant& a, const Variant& b) {
  return !a.IsNull() && !b.IsNull() && VarCompareValues(a, b) <= 0;
}

bool operator>=(const Variant& a, const Variant& b) {
  return !a.IsNull() && !b.IsNull() && VarCompareValues(a, b) >= 0;
}

Variant VarAnd(const Variant& a, const Variant& b) {
  if (a.IsNull() || b.IsNull()) return Variant::Null();
  if (a.Kind() == Variant::Type::Boolean && b.Kind() == Variant::Type::Boolean) {
    return Variant(a.AsBoolean() && b.AsBoolean());
  }
  return Variant(a.AsInteger() & b.AsInteger());
}

Variant VarOr(const Variant& a, const Variant& b) {
  if (a.IsNull() || b.IsNull()) return Variant::Null();
  if (a.Kind() == Variant::Type::Boolean && b.Kind() == Variant::Type::Boolean) {
    return Variant(a.AsBoolean() || b.AsBoolean());
  }
  return Variant(a.AsInteger() | b.AsInteger());
}

}  // namespace cl
