// A small extensible expression language: expression objects, operators, functions, the symbol
// table and the TEvaluator component.  The tokenizer and parser are in TExpressionEvaluator.h.
//
// Nothing is built in: operators (name, priority, class), functions (class) and variables (an
// expression object, read live at evaluation time) are registered by name in a symbol table.  A
// compiled tree is evaluated on demand, each time a value is read; nothing is cached.
//
// Value kinds and the conversions of a read (anything else raises EExpressionError
// "Conversion incorrecte"):
//
//   read as   boolean     integer          float           string/symbol       variant
//   boolean   itself      value <> 0       error           "True"/"False"      variant
//   integer   0 or 1      itself           toward zero (*) decimal text        Null: 0
//   float     error       itself           itself          text to float       Null: 0
//   string    True/False  decimal text     FloatToStr      itself              Null: ""
//   variant   the value as a variant
//
// (*) a float outside the int32 range is a conversion error, not undefined behaviour.
// Writes follow the kind already held (SetAsBoolean on an integer stores 0/1, on a string
// "True"/"False"; SetAsInteger on a boolean accepts 0 and 1 only; SetAsVariant converts to the
// held kind or stores it); other combinations raise "Conversion incorrecte".
//
// Ownership: an operated expression owns its operator and operands; a variable reference does
// not own its variable, which the symbol list owns.  A compiled tree stays valid as long as the
// variables it refers to.  Threads: GUI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/TComponent.h"
#include "classlib/rtl/Variant.h"

namespace comp {

class EParserError : public cl::Exception {
 public:
  using cl::Exception::Exception;
};

// A parse error at a 1-based position of the text.
class EEvaluatorError : public cl::Exception {
 public:
  EEvaluatorError(std::string message, int position)
      : cl::Exception(std::move(message)), position_(position) {}
  int Position() const { return position_; }

 private:
  int position_;
};

class EExpressionError : public cl::Exception {
 public:
  using cl::Exception::Exception;
};

class EOperationError : public cl::Exception {
 public:
  using cl::Exception::Exception;
};

class EFunctionError : public cl::Exception {
 public:
  using cl::Exception::Exception;
};

class ESymbolListError : public cl::Exception {
 public:
  using cl::Exception::Exception;
};

enum TExprKind : uint8_t { ekBoolean, ekInteger, ekFloat, ekString, ekVariant, ekSymbol, ekNone };

// `format` with "%s" and "%d" replaced by the arguments in order.
std::string FormatMessage(std::string_view format, std::initializer_list<std::string> args);

class TExpression : public cl::TPersistent {
 public:
  TExpression() = default;
  // An expression of `kind` holding that kind's zero value.
  explicit TExpression(TExprKind kind) { SetKind(kind); }

  // Copies kind and value through the variant form.
  void Assign(const cl::TPersistent* source) override;

  virtual TExprKind GetKind() const { return kind_; }
  virtual bool GetAsBoolean() const;
  virtual int32_t GetAsInteger() const;
  virtual long double GetAsFloat() const;
  virtual std::string GetAsString() const;
  virtual cl::Variant GetAsVariant() const;
  virtual void SetAsBoolean(bool value);
  virtual void SetAsInteger(int32_t value);
  virtual void SetAsFloat(long double value);
  virtual void SetAsString(const std::string& value);
  virtual void SetAsVariant(const cl::Variant& value);

  // Changing the kind drops the old value.
  void SetKind(TExprKind kind);

 private:
  TExprKind kind_ = ekNone;
  bool boolean_ = false;
  int32_t integer_ = 0;
  long double float_ = 0;
  std::string string_;
  cl::Variant variant_;
};

// A constant written in the text (a string literal or a number).
class TConstExpression : public TExpression {
 public:
  using TExpression::TExpression;
};

class TEvaluator;

class TOperator : public cl::TPersistent {
 public:
  explicit TOperator(TEvaluator* evaluator) : evaluator_(evaluator) {}

  virtual bool CanBePrefix() const { return false; }
  // 0 binary, 1 postfix, 2 prefix.
  virtual int Arity() const { return 0; }
  // Variant when either side is a variant, else none (which refuses the operands).
  virtual TExprKind ResultKind(TExprKind left, TExprKind right) const;
  // Computes into `result`.  A prefix operator gets its operand as `right` (left null), a postfix
  // one as `left` (right null).
  virtual void Evaluate(const TExpression* left, const TExpression* right,
                        TExpression* result) const = 0;

  TEvaluator* Evaluator() const { return evaluator_; }

 private:
  TEvaluator* evaluator_;
};

// An operator applied to its operands, evaluated again on every read.
class TOperatedExpression : public TExpression {
 public:
  TOperatedExpression(std::unique_ptr<TOperator> op, std::unique_ptr<TExpression> left,
                      std::unique_ptr<TExpression> right, TExprKind kind);

  bool GetAsBoolean() const override;
  int32_t GetAsInteger() const override;
  long double GetAsFloat() const override;
  std::string GetAsString() const override;
  cl::Variant GetAsVariant() const override;

  const TExpression* Left() const { return left_.get(); }
  const TExpression* Right() const { return right_.get(); }

 private:
  template <class Read>
  auto Evaluated(Read read) const;

  std::unique_ptr<TOperator> op_;
  std::unique_ptr<TExpression> left_;
  std::unique_ptr<TExpression> right_;
  mutable bool evaluating_ = false;
  // Evaluation writes into the result value through the base class.
  mutable std::unique_ptr<TExpression> value_;
};

// A reference to a registered variable: every operation reads or writes the variable itself.
class TVarExpression : public TExpression {
 public:
  explicit TVarExpression(TExpression* variable) : variable_(variable) {}

  TExprKind GetKind() const override { return variable_->GetKind(); }
  bool GetAsBoolean() const override { return variable_->GetAsBoolean(); }
  int32_t GetAsInteger() const override { return variable_->GetAsInteger(); }
  long double GetAsFloat() const override { return variable_->GetAsFloat(); }
  std::string GetAsString() const override { return variable_->GetAsString(); }
  cl::Variant GetAsVariant() const override { return variable_->GetAsVariant(); }
  void SetAsBoolean(bool value) override { variable_->SetAsBoolean(value); }
  void SetAsInteger(int32_t value) override { variable_->SetAsInteger(value); }
  void SetAsFloat(long double value) override { variable_->SetAsFloat(value); }
  void SetAsString(const std::string& value) override { variable_->SetAsString(value); }
  void SetAsVariant(const cl::Variant& value) override { variable_->SetAsVariant(value); }

  TExpression* Variable() const { return variable_; }

 private:
  TExpression* variable_;
};

// A function: its class declares its parameters (count and kind of each) and computes its
// value into itself, from its parameters, on every read.
class TFunction : public TExpression {
 public:
  explicit TFunction(TExprKind kind) : TExpression(kind) {}

  virtual int ParamCount() const { return 0; }
  // REQUIRES: 0 <= index < ParamCount(), else EFunctionError.
  virtual TExprKind ParamKind(int index) const;
  // Takes a parameter; EFunctionError when its kind does not fit (a variant value fits anything;
  // a float parameter takes an integer; a variant parameter takes any kind).
  void SetParam(int index, std::unique_ptr<TExpression> value);
  const TExpression* Param(int index) const;

  bool GetAsBoolean() const override;
  int32_t GetAsInteger() const override;
  long double GetAsFloat() const override;
  std::string GetAsString() const override;
  cl::Variant GetAsVariant() const override;

 protected:
  // Writes the function's value into `result` (an expression of the function's kind).
  virtual void Compute(TExpression* result) const = 0;

 private:
  TExpression Computed() const;

  std::vector<std::unique_ptr<TExpression>> params_;
};

using TOperatorClass = std::function<std::unique_ptr<TOperator>(TEvaluator* evaluator)>;
using TFunctionClass = std::function<std::unique_ptr<TFunction>()>;

enum TSymbolKind : uint8_t { skOperator, skFunction, skVariable };

struct TSymbol {
  TSymbolKind kind;
  uint8_t priority = 0;
  TOperatorClass operator_class;
  TFunctionClass function_class;
  std::unique_ptr<TExpression> variable;
};

// Symbols by name, sorted and found regardless of letter case.  Adding checks the name for its
// kind (ESymbolListError "Nom de symbole invalide : "%s"") and refuses duplicates ("Symbole
// dupliqué : "%s""); a refused variable is destroyed.  Errors leave the table unchanged.
class TSymbolList {
 public:
  void AddOperator(const std::string& name, uint8_t priority, TOperatorClass operator_class);
  void AddFunction(const std::string& name, TFunctionClass function_class);
  void AddVariable(const std::string& name, std::unique_ptr<TExpression> variable);
  // nullptr when absent.
  const TSymbol* Find(std::string_view name) const;
  int Count() const { return static_cast<int>(symbols_.size()); }

 private:
  struct Less {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  void Add(const std::string& name, TSymbol symbol);

  std::map<std::string, TSymbol, Less> symbols_;
};

// The table shared by every evaluator, created when first used and freed at exit.
TSymbolList& GlobalSymbolList();

// Whether `c` may appear in an operator name: ! # % & * + - / : < = > \ ^ | ~ @ and 0xB2.
bool IsOperatorChar(char c);
// 0-9, A-Z, "_", a-z.
bool IsIdentChar(char c);

class TEvaluator : public cl::TComponent {
 public:
  explicit TEvaluator(cl::TComponent* owner);
  ~TEvaluator() override;

  void AddOperator(const std::string& name, uint8_t priority, TOperatorClass operator_class) {
    symbols_.AddOperator(name, priority, std::move(operator_class));
  }
  void AddFunction(const std::string& name, TFunctionClass function_class) {
    symbols_.AddFunction(name, std::move(function_class));
  }
  // The list takes ownership of `variable`.
  void AddVariable(const std::string& name, std::unique_ptr<TExpression> variable) {
    symbols_.AddVariable(name, std::move(variable));
  }
  TSymbolList& Symbols() { return symbols_; }

  // Parses `text`; a failure keeps the previous expression and frees what the parse built.
  void Compile(const std::string& text);
  // nullptr before the first successful Compile.
  TExpression* Expression() const { return expression_.get(); }

 private:
  TSymbolList symbols_;
  std::unique_ptr<TExpression> expression_;
};

}  // namespace comp
