// The expression language: scanner and parser errors as one table, precedence, constants,
// live variables, functions and the value conversions.
#include "components/data/TExpressionEvaluator.h"

#include <gtest/gtest.h>

#include <functional>

namespace comp {
namespace {

using cl::Variant;

bool IsNumber(TExprKind k) { return k == ekInteger || k == ekFloat; }

// Integer or float arithmetic; "-" may also stand before its operand.
class TArithmetic : public TOperator {
 public:
  TArithmetic(TEvaluator* evaluator, char op) : TOperator(evaluator), op_(op) {}
  bool CanBePrefix() const override { return op_ == '-'; }
  TExprKind ResultKind(TExprKind left, TExprKind right) const override {
    if (left == ekNone && op_ == '-') left = ekInteger;
    if (!IsNumber(left) || !IsNumber(right)) return TOperator::ResultKind(left, right);
    return left == ekFloat || right == ekFloat ? ekFloat : ekInteger;
  }
  void Evaluate(const TExpression* left, const TExpression* right,
                TExpression* result) const override {
    long double a = left == nullptr ? 0 : left->GetAsFloat();
    long double b = right->GetAsFloat();
    long double value = op_ == '+' ? a + b : op_ == '-' ? a - b : a * b;
    if (result->GetKind() == ekInteger) {
      result->SetAsInteger(static_cast<int32_t>(value));
    } else {
      result->SetAsFloat(value);
    }
  }

 private:
  char op_;
};

// MAX(float, float).
class TMaxFunction : public TFunction {
 public:
  TMaxFunction() : TFunction(ekFloat) {}
  int ParamCount() const override { return 2; }
  TExprKind ParamKind(int index) const override {
    return index < 2 ? ekFloat : TFunction::ParamKind(index);
  }

 protected:
  void Compute(TExpression* result) const override {
    result->SetAsFloat(std::max(Param(0)->GetAsFloat(), Param(1)->GetAsFloat()));
  }
};

class ExpressionEvaluatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Register(2);
    auto a = std::make_unique<TExpression>(ekInteger);
    a->SetAsInteger(4);
    a_ = a.get();
    evaluator_.AddVariable("A", std::move(a));
    auto b = std::make_unique<TExpression>(ekInteger);
    b->SetAsInteger(10);
    evaluator_.AddVariable("B", std::move(b));
    auto s = std::make_unique<TExpression>(ekString);
    s->SetAsString("texte");
    evaluator_.AddVariable("S", std::move(s));
    evaluator_.AddFunction("MAX", [] { return std::make_unique<TMaxFunction>(); });
  }

  void Register(uint8_t times_priority) {
    for (char op : {'+', '-', '*'}) {
      evaluator_.AddOperator(std::string(1, op), op == '*' ? times_priority : 1,
                             [op](TEvaluator* e) { return std::make_unique<TArithmetic>(e, op); });
    }
  }

  TExpression* Compile(const std::string& text) {
    evaluator_.Compile(text);
    return evaluator_.Expression();
  }

  TEvaluator evaluator_{nullptr};
  TExpression* a_ = nullptr;
};

TEST_F(ExpressionEvaluatorTest, ErrorsCarryTheirClassMessageAndPosition) {
  enum Kind { kParser, kEvaluator, kFunction };
  struct Case {
    std::string text;
    Kind kind;
    std::string message;
    int position;  // EEvaluatorError only
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"'abc", kParser, "Expression cha\xEEne non termin\xE9" "e", 0},
      {"1E5", kParser, "Expression num\xE9rique incorrecte : \"1E5\"", 0},
      {"5.", kParser, "Expression num\xE9rique incorrecte : \"5.\"", 0},
      {"12ab", kParser, "Expression num\xE9rique incorrecte : \"12a\"", 0},
      {"1E+", kParser, "Expression num\xE9rique incorrecte : \"1E+\"", 0},
      {"A B", kEvaluator, "Op\xE9rateur attendu", 3},
      {"A +", kEvaluator, "Expression attendue", 4},
      {"* A", kEvaluator, "Expression attendue", 1},
      {"(A + 1", kEvaluator, "Expression incorrecte", 7},
      {"A\t+ 1", kEvaluator, "Caract\xE8re invalide : \"\t\", ASCII 9", 2},
      {"A + \xE9", kEvaluator, "Caract\xE8re invalide : \"\xE9\", ASCII 233", 5},
      {"Z + 1", kEvaluator, "Symbole inconnu : \"Z\"", 1},
      {"[A", kEvaluator, "Symbole libre non termin\xE9", 3},
      {"[A\x01]", kEvaluator, "Caract\xE8re invalide : \"\x01\", ASCII 1", 3},
      {"MAX 1", kEvaluator, "Fonction incompl\xE8te : Parenth\xE8se attendue", 5},
      {"S + 1", kEvaluator, "Param\xE8tres de fonction incorrects", 3},
      {"MAX('x', 1)", kFunction, "Param\xE8tre d'un type non autoris\xE9", 0},
  };
  // clang-format on
  TExpression* previous = Compile("A + 1");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      evaluator_.Compile(c.text);
      ADD_FAILURE() << "accepted";
    } catch (const EParserError& e) {
      EXPECT_EQ(c.kind, kParser);
      EXPECT_EQ(e.Message(), c.message);
    } catch (const EEvaluatorError& e) {
      EXPECT_EQ(c.kind, kEvaluator);
      EXPECT_EQ(e.Message(), c.message);
      EXPECT_EQ(e.Position(), c.position);
    } catch (const EFunctionError& e) {
      EXPECT_EQ(c.kind, kFunction);
      EXPECT_EQ(e.Message(), c.message);
    }
    // A failed compile keeps the previous expression.
    EXPECT_EQ(evaluator_.Expression(), previous);
  }
}

TEST_F(ExpressionEvaluatorTest, PrecedenceAndConstants) {
  EXPECT_EQ(Compile("1+2*3")->GetAsInteger(), 7);
  EXPECT_EQ(Compile("(1+2)*3")->GetAsInteger(), 9);
  EXPECT_EQ(Compile("10 - 2 - 3")->GetAsInteger(), 5);  // left to right
  EXPECT_EQ(Compile("-A + 1")->GetAsInteger(), -3);     // "-" taken as a prefix
  struct Number {
    std::string text;
    TExprKind kind;
    long double value;
  };
  for (const Number& n : std::vector<Number>{{"2147483647", ekInteger, 2147483647.0L},
                                             {"2147483648", ekFloat, 2147483648.0L},
                                             {"1E55", ekFloat, 1e55L},
                                             {"1E+5", ekFloat, 1e5L},
                                             {".5", ekFloat, 0.5L},
                                             {"1.5", ekFloat, 1.5L}}) {
    TExpression* e = Compile(n.text);
    EXPECT_EQ(e->GetKind(), n.kind) << n.text;
    EXPECT_NEAR(static_cast<double>(e->GetAsFloat()), static_cast<double>(n.value),
                static_cast<double>(n.value) * 1e-12)
        << n.text;
  }
  EXPECT_EQ(Compile("'It''s'")->GetAsString(), "It's");
  EXPECT_EQ(Compile("MAX(A, 2.5)")->GetAsFloat(), 4.0L);

  TEvaluator flat(nullptr);
  for (char op : {'+', '*'}) {
    flat.AddOperator(std::string(1, op), 1,
                     [op](TEvaluator* e) { return std::make_unique<TArithmetic>(e, op); });
  }
  flat.Compile("1+2*3");
  EXPECT_EQ(flat.Expression()->GetAsInteger(), 9);  // equal priorities group left to right
}

TEST_F(ExpressionEvaluatorTest, VariablesAreReadLiveAndFoundInAnyCase) {
  TExpression* e = Compile("a * 2 + b");
  EXPECT_EQ(e->GetAsInteger(), 18);
  a_->SetAsInteger(5);
  EXPECT_EQ(e->GetAsInteger(), 20);  // evaluated again, not cached
}

TEST_F(ExpressionEvaluatorTest, SymbolTableRefusesBadAndDuplicateNames) {
  TSymbolList list;
  auto op = [](TEvaluator* e) { return std::make_unique<TArithmetic>(e, '+'); };
  list.AddOperator("<=", 1, op);
  list.AddOperator("ET", 0, op);
  EXPECT_THROW(list.AddOperator("+a", 1, op), ESymbolListError);
  EXPECT_THROW(list.AddFunction("F(", [] { return std::make_unique<TMaxFunction>(); }),
               ESymbolListError);
  try {
    list.AddVariable("", std::make_unique<TExpression>(ekInteger));
    FAIL();
  } catch (const ESymbolListError& e) {
    EXPECT_EQ(e.Message(), "Nom de symbole invalide : \"\"");
  }
  list.AddVariable("Nom", std::make_unique<TExpression>(ekString));
  try {
    list.AddVariable("NOM", std::make_unique<TExpression>(ekString));  // destroyed, not leaked
    FAIL();
  } catch (const ESymbolListError& e) {
    EXPECT_EQ(e.Message(), "Symbole dupliqu\xE9 : \"NOM\"");
  }
  EXPECT_EQ(list.Count(), 3);
  EXPECT_NE(list.Find("nom"), nullptr);
}

TEST(ExpressionTest, ConversionTable) {
  auto make = [](TExprKind kind, const std::function<void(TExpression&)>& set) {
    TExpression e(kind);
    set(e);
    return e;
  };
  TExpression b = make(ekBoolean, [](TExpression& e) { e.SetAsBoolean(true); });
  TExpression i = make(ekInteger, [](TExpression& e) { e.SetAsInteger(-7); });
  TExpression f = make(ekFloat, [](TExpression& e) { e.SetAsFloat(-2.75L); });
  TExpression s = make(ekString, [](TExpression& e) { e.SetAsString("false"); });
  TExpression n = make(ekVariant, [](TExpression& e) { e.SetAsVariant(Variant::Null()); });
  TExpression big = make(ekFloat, [](TExpression& e) { e.SetAsFloat(3e9L); });

  EXPECT_EQ(b.GetAsInteger(), 1);
  EXPECT_EQ(b.GetAsString(), "True");
  EXPECT_TRUE(i.GetAsBoolean());
  EXPECT_EQ(i.GetAsString(), "-7");
  EXPECT_EQ(f.GetAsInteger(), -2);  // toward zero
  EXPECT_FALSE(s.GetAsBoolean());
  EXPECT_EQ(n.GetAsInteger(), 0);
  EXPECT_EQ(n.GetAsFloat(), 0);
  EXPECT_EQ(n.GetAsString(), "");
  EXPECT_TRUE(n.GetAsVariant().IsNull());
  for (const std::function<void()>& bad : std::vector<std::function<void()>>{
           [&] { b.GetAsFloat(); },
           [&] { f.GetAsBoolean(); },
           [&] { big.GetAsInteger(); },  // out of the int32 range
           [&] { make(ekString, [](TExpression& e) { e.SetAsString("x"); }).GetAsBoolean(); },
           [&] { b.SetAsInteger(2); },
           [&] { TExpression().GetAsString(); },
       }) {
    try {
      bad();
      ADD_FAILURE() << "converted";
    } catch (const EExpressionError& e) {
      EXPECT_EQ(e.Message(), "Conversion incorrecte");
    }
  }
  b.SetAsInteger(0);
  EXPECT_FALSE(b.GetAsBoolean());
  TExpression copy;
  copy.Assign(&i);
  EXPECT_EQ(copy.GetKind(), ekInteger);
  EXPECT_EQ(copy.GetAsInteger(), -7);
}

}  // namespace
}  // namespace comp
