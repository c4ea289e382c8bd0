#include "components/data/TEvaluator.h"

#include <cmath>

#include "classlib/rtl/AsciiText.h"
#include "classlib/rtl/NumberText.h"
#include "components/data/TExpressionEvaluator.h"

namespace comp {

using namespace cl;

namespace {

constexpr const char* SConversion = "Conversion incorrecte";

[[noreturn]] void ConversionError() { throw EExpressionError(SConversion); }

bool TextToBoolean(const std::string& text) {
  if (CompareText(text, "True") == 0) return true;
  if (CompareText(text, "False") == 0) return false;
  ConversionError();
}

int32_t FloatToInteger(long double value) {
  long double truncated = std::trunc(value);
  if (!(truncated >= -2147483648.0L && truncated <= 2147483647.0L)) ConversionError();
  return static_cast<int32_t>(truncated);
}

// Runs a variant conversion, answering its failure with the expression's own error.
template <class F>
auto ViaVariant(F f) {
  try {
    return f();
  } catch (const EVariantError&) {
    ConversionError();
  }
}

}  // namespace

std::string FormatMessage(std::string_view format, std::initializer_list<std::string> args) {
  std::string result;
  auto next = args.begin();
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() &&
        (format[i + 1] == 's' || format[i + 1] == 'd')) {
      if (next != args.end()) result += *next++;
      ++i;
    } else {
      result += format[i];
    }
  }
  return result;
}

// ---- TExpression -------------------------------------------------------------------------------

void TExpression::SetKind(TExprKind kind) {
  kind_ = kind;
  boolean_ = false;
  integer_ = 0;
  float_ = 0;
  string_.clear();
  variant_ = Variant();
}

void TExpression::Assign(const TPersistent* source) {
  const auto* other = dynamic_cast<const TExpression*>(source);
  if (other == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  TExprKind kind = other->GetKind();
  Variant value = kind == ekNone ? Variant() : other->GetAsVariant();
  SetKind(kind);
  if (kind != ekNone) SetAsVariant(value);
}

bool TExpression::GetAsBoolean() const {
  switch (kind_) {
    case ekBoolean:
      return boolean_;
    case ekInteger:
      return integer_ != 0;
    case ekString:
    case ekSymbol:
      return TextToBoolean(string_);
    case ekVariant:
      return ViaVariant([&] { return variant_.AsBoolean(); });
    default:
      ConversionError();
  }
}

int32_t TExpression::GetAsInteger() const {
  switch (kind_) {
    case ekBoolean:
      return boolean_ ? 1 : 0;
    case ekInteger:
      return integer_;
    case ekFloat:
      return FloatToInteger(float_);
    case ekString:
    case ekSymbol: {
      int32_t value = 0;
      if (!TryStrToInt(string_, value)) ConversionError();
      return value;
    }
    case ekVariant:
      if (variant_.IsNull()) return 0;
      return ViaVariant([&] { return variant_.AsInteger(); });
    default:
      ConversionError();
  }
}

long double TExpression::GetAsFloat() const {
  switch (kind_) {
    case ekInteger:
      return integer_;
    case ekFloat:
      return float_;
    case ekString:
    case ekSymbol: {
      double value = 0;
      if (!TryStrToFloat(string_, value, CurrentFormatSettings())) ConversionError();
      return value;
    }
    case ekVariant:
      if (variant_.IsNull()) return 0;
      return ViaVariant([&] { return variant_.AsDouble(); });
    default:
      ConversionError();
  }
}

std::string TExpression::GetAsString() const {
  switch (kind_) {
    case ekBoolean:
      return boolean_ ? "True" : "False";
    case ekInteger:
      return IntToStr(integer_);
    case ekFloat:
      return FloatToStr(static_cast<double>(float_));
    case ekString:
    case ekSymbol:
      return string_;
    case ekVariant:
      return ViaVariant([&] { return VarToStr(variant_); });
    default:
      ConversionError();
  }
}

Variant TExpression::GetAsVariant() const {
  switch (kind_) {
    case ekBoolean:
      return Variant(boolean_);
    case ekInteger:
      return Variant(integer_);
    case ekFloat:
      return Variant(static_cast<double>(float_));
    case ekString:
    case ekSymbol:
      return Variant(string_);
    case ekVariant:
      return variant_;
    default:
      ConversionError();
  }
}

void TExpression::SetAsBoolean(bool value) {
  switch (kind_) {
    case ekBoolean:
      boolean_ = value;
      return;
    case ekInteger:
      integer_ = value ? 1 : 0;
      return;
    case ekString:
    case ekSymbol:
      string_ = value ? "True" : "False";
      return;
    case ekVariant:
      variant_ = Variant(value);
      return;
    default:
      ConversionError();
  }
}

void TExpression::SetAsInteger(int32_t value) {
  switch (kind_) {
    case ekBoolean:
      if (value != 0 && value != 1) ConversionError();
      boolean_ = value == 1;
      return;
    case ekInteger:
      integer_ = value;
      return;
    case ekFloat:
      float_ = value;
      return;
    case ekString:
    case ekSymbol:
      string_ = IntToStr(value);
      return;
    case ekVariant:
      variant_ = Variant(value);
      return;
    default:
      ConversionError();
  }
}

void TExpression::SetAsFloat(long double value) {
  switch (kind_) {
    case ekFloat:
      float_ = value;
      return;
    case ekString:
    case ekSymbol:
      string_ = FloatToStr(static_cast<double>(value));
      return;
    case ekVariant:
      variant_ = Variant(static_cast<double>(value));
      return;
    default:
      ConversionError();
  }
}

void TExpression::SetAsString(const std::string& value) {
  switch (kind_) {
    case ekBoolean:
      boolean_ = TextToBoolean(value);
      return;
    case ekInteger:
      if (!TryStrToInt(value, integer_)) ConversionError();
      return;
    case ekFloat: {
      double number = 0;
      if (!TryStrToFloat(value, number, CurrentFormatSettings())) ConversionError();
      float_ = number;
      return;
    }
    case ekString:
    case ekSymbol:
      string_ = value;
      return;
    case ekVariant:
      variant_ = Variant(value);
      return;
    default:
      ConversionError();
  }
}

void TExpression::SetAsVariant(const Variant& value) {
  switch (kind_) {
    case ekBoolean:
      boolean_ = ViaVariant([&] { return value.AsBoolean(); });
      return;
    case ekInteger:
      integer_ = ViaVariant([&] { return value.AsInteger(); });
      return;
    case ekFloat:
      float_ = ViaVariant([&] { return value.AsDouble(); });
      return;
    case ekString:
    case ekSymbol:
      string_ = ViaVariant([&] { return VarToStr(value); });
      return;
    case ekVariant:
      variant_ = value;
      return;
    default:
      ConversionError();
  }
}

// ---- operators and operated expressions --------------------------------------------------------

TExprKind TOperator::ResultKind(TExprKind left, TExprKind right) const {
  return left == ekVariant || right == ekVariant ? ekVariant : ekNone;
}

TOperatedExpression::TOperatedExpression(std::unique_ptr<TOperator> op,
                                         std::unique_ptr<TExpression> left,
                                         std::unique_ptr<TExpression> right, TExprKind kind)
    : TExpression(kind),
      op_(std::move(op)),
      left_(std::move(left)),
      right_(std::move(right)),
      value_(std::make_unique<TExpression>(kind)) {}

template <class Read>
auto TOperatedExpression::Evaluated(Read read) const {
  bool outer = !evaluating_;
  if (outer) {
    evaluating_ = true;
    try {
      value_->SetKind(TExpression::GetKind());
      op_->Evaluate(left_.get(), right_.get(), value_.get());
    } catch (...) {
      evaluating_ = false;
      throw;
    }
  }
  struct Clear {
    bool outer;
    bool& flag;
    ~Clear() {
      if (outer) flag = false;
    }
  } clear{outer, evaluating_};
  return read(*value_);
}

bool TOperatedExpression::GetAsBoolean() const {
  return Evaluated([](const TExpression& v) { return v.GetAsBoolean(); });
}
int32_t TOperatedExpression::GetAsInteger() const {
  return Evaluated([](const TExpression& v) { return v.GetAsInteger(); });
}
long double TOperatedExpression::GetAsFloat() const {
  return Evaluated([](const TExpression& v) { return v.GetAsFloat(); });
}
std::string TOperatedExpression::GetAsString() const {
  return Evaluated([](const TExpression& v) { return v.GetAsString(); });
}
Variant TOperatedExpression::GetAsVariant() const {
  return Evaluated([](const TExpression& v) { return v.GetAsVariant(); });
}

// ---- functions ---------------------------------------------------------------------------------

TExprKind TFunction::ParamKind(int) const {
  throw EFunctionError("Index de Param\xE8tre de fonction invalide");
}

void TFunction::SetParam(int index, std::unique_ptr<TExpression> value) {
  if (index < 0 || index >= ParamCount()) {
    throw EFunctionError("Index de Param\xE8tre de fonction invalide");
  }
  TExprKind wanted = ParamKind(index);
  TExprKind given = value->GetKind();
  bool fits = given == ekVariant || wanted == ekVariant || wanted == given ||
              (wanted == ekFloat && given == ekInteger);
  if (!fits) throw EFunctionError("Param\xE8tre d'un type non autoris\xE9");
  if (params_.size() < static_cast<size_t>(ParamCount())) {
    params_.resize(static_cast<size_t>(ParamCount()));
  }
  params_[static_cast<size_t>(index)] = std::move(value);
}

const TExpression* TFunction::Param(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= params_.size()) {
    throw EFunctionError("Index de Param\xE8tre de fonction invalide");
  }
  return params_[static_cast<size_t>(index)].get();
}

TExpression TFunction::Computed() const {
  TExpression result(TExpression::GetKind());
  Compute(&result);
  return result;
}

bool TFunction::GetAsBoolean() const { return Computed().GetAsBoolean(); }
int32_t TFunction::GetAsInteger() const { return Computed().GetAsInteger(); }
long double TFunction::GetAsFloat() const { return Computed().GetAsFloat(); }
std::string TFunction::GetAsString() const { return Computed().GetAsString(); }
Variant TFunction::GetAsVariant() const { return Computed().GetAsVariant(); }

// ---- symbols -----------------------------------------------------------------------------------

bool IsOperatorChar(char c) {
  switch (c) {
    case '!':
    case '#':
    case '%':
    case '&':
    case '*':
    case '+':
    case '-':
    case '/':
    case ':':
    case '<':
    case '=':
    case '>':
    case '\\':
    case '^':
    case '|':
    case '~':
    case '@':
    case '\xB2':
      return true;
    default:
      return false;
  }
}

bool IsIdentChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == '_' || (c >= 'a' && c <= 'z');
}

bool TSymbolList::Less::operator()(const std::string& a, const std::string& b) const {
  return CompareText(a, b) < 0;
}

void TSymbolList::Add(const std::string& name, TSymbol symbol) {
  if (symbols_.count(name) != 0) {
    throw ESymbolListError(FormatMessage("Symbole dupliqu\xE9 : \"%s\"", {name}));
  }
  symbols_.emplace(name, std::move(symbol));
}

namespace {

bool AllOf(const std::string& name, bool (*test)(char)) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!test(c)) return false;
  }
  return true;
}

[[noreturn]] void InvalidName(const std::string& name) {
  throw ESymbolListError(FormatMessage("Nom de symbole invalide : \"%s\"", {name}));
}

}  // namespace

void TSymbolList::AddOperator(const std::string& name, uint8_t priority,
                              TOperatorClass operator_class) {
  if (!AllOf(name, IsOperatorChar) && !AllOf(name, IsIdentChar)) InvalidName(name);
  TSymbol symbol{skOperator, priority, std::move(operator_class), nullptr, nullptr};
  Add(name, std::move(symbol));
}

void TSymbolList::AddFunction(const std::string& name, TFunctionClass function_class) {
  if (!AllOf(name, IsIdentChar)) InvalidName(name);
  TSymbol symbol{skFunction, 0, nullptr, std::move(function_class), nullptr};
  Add(name, std::move(symbol));
}

void TSymbolList::AddVariable(const std::string& name, std::unique_ptr<TExpression> variable) {
  // A refused variable dies with `variable` here: the caller gave it away either way.
  if (name.empty()) InvalidName(name);
  TSymbol symbol{skVariable, 0, nullptr, nullptr, std::move(variable)};
  Add(name, std::move(symbol));
}

const TSymbol* TSymbolList::Find(std::string_view name) const {
  auto it = symbols_.find(std::string(name));
  return it == symbols_.end() ? nullptr : &it->second;
}

TSymbolList& GlobalSymbolList() {
  static TSymbolList list;
  return list;
}

// ---- TEvaluator --------------------------------------------------------------------------------

TEvaluator::TEvaluator(TComponent* owner) : TComponent(owner) {}

TEvaluator::~TEvaluator() = default;

void TEvaluator::Compile(const std::string& text) {
  TExpressionEvaluator parser(this, text);
  expression_ = parser.Parse();
}

}  // namespace comp
