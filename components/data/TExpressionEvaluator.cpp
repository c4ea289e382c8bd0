#include "components/data/TExpressionEvaluator.h"

#include <algorithm>
#include <vector>

#include "classlib/rtl/FormatSettings.h"
#include "classlib/rtl/NumberText.h"

namespace comp {

using namespace cl;

namespace {

enum TokenKind { kStart, kOperand, kPrefix, kBinary, kPostfix, kEnd, kNothing };

constexpr const char* SInvalidChar = "Caract\xE8re invalide : \"%s\", ASCII %d";

[[noreturn]] void InvalidChar(char c, int position) {
  throw EEvaluatorError(
      FormatMessage(SInvalidChar,
                    {std::string(1, c), std::to_string(static_cast<unsigned char>(c))}),
      position);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

struct TExpressionEvaluator::Token {
  int kind = kNothing;
  int position = 0;
  std::unique_ptr<TExpression> operand;
  int height = 1;  // the operand's
  std::unique_ptr<TOperator> op;
  uint8_t priority = 0;
};

struct TExpressionEvaluator::Operand {
  std::unique_ptr<TExpression> expression;
  int height;
};

struct TExpressionEvaluator::PendingOperator {
  std::unique_ptr<TOperator> op;
  int kind;
  uint8_t priority;
  int position;
};

TCustomEvalParser::TCustomEvalParser(std::string text) : TCustomParser(std::move(text)) {
  for (unsigned char c : {'\n', '\r', ' '}) blanks_.set(c);
  for (int c = 0; c < 256; ++c) {
    if (IsIdentChar(static_cast<char>(c))) ident_chars_.set(static_cast<size_t>(c));
  }
}

void TCustomEvalParser::SkipBlanks() {
  while (!AtEnd() && IsBlank(Current())) ++position_;
}

TExpressionEvaluator::TExpressionEvaluator(TEvaluator* evaluator, std::string text)
    : TCustomEvalParser(std::move(text)), evaluator_(evaluator) {}

std::unique_ptr<TExpression> TExpressionEvaluator::Parse() {
  nesting_ = 0;
  int height = 0;
  return ParseSub('\0', height);
}

void TExpressionEvaluator::CheckNesting(int levels, int position) const {
  if (levels > kMaxEvalNesting) {
    throw EEvaluatorError(
        "Expression trop imbriqu\xE9"
        "e",
        position);
  }
}

std::unique_ptr<TExpression> TExpressionEvaluator::ParseSub(char closing, int& height) {
  CheckNesting(nesting_ + 1, position_);
  ++nesting_;
  struct Leave {
    int& nesting;
    ~Leave() { --nesting; }
  } leave{nesting_};
  std::vector<Operand> operands;
  std::vector<PendingOperator> pending;
  auto reduce = [&] {
    PendingOperator top = std::move(pending.back());
    pending.pop_back();
    Operand right = std::move(operands.back());
    operands.pop_back();
    Operand left{nullptr, 0};
    if (top.kind == kBinary) {
      left = std::move(operands.back());
      operands.pop_back();
    }
    const int tree_height = 1 + std::max(left.height, right.height);
    CheckNesting(tree_height, top.position);
    TExprKind kind = top.op->ResultKind(left.expression ? left.expression->GetKind() : ekNone,
                                        right.expression->GetKind());
    if (kind == ekNone) {
      throw EEvaluatorError("Param\xE8tres de fonction incorrects", top.position);
    }
    operands.push_back(
        {std::make_unique<TOperatedExpression>(std::move(top.op), std::move(left.expression),
                                               std::move(right.expression), kind),
         tree_height});
  };
  int previous = kStart;
  for (;;) {
    Token token = NextToken(closing, previous);
    bool expects_operand = previous == kStart || previous == kPrefix || previous == kBinary;
    if (token.kind == kNothing) throw EEvaluatorError("Expression incorrecte", token.position);
    if (expects_operand) {
      if (token.kind != kOperand && token.kind != kPrefix) {
        throw EEvaluatorError("Expression attendue", token.position);
      }
    } else if (token.kind != kBinary && token.kind != kPostfix && token.kind != kEnd) {
      throw EEvaluatorError("Op\xE9rateur attendu", token.position);
    }
    switch (token.kind) {
      case kOperand:
        operands.push_back({std::move(token.operand), token.height});
        break;
      case kPrefix:
        pending.push_back({std::move(token.op), kPrefix, token.priority, token.position});
        break;
      case kBinary:
      case kPostfix:
        while (!pending.empty() && pending.back().priority >= token.priority) reduce();
        if (token.kind == kBinary) {
          pending.push_back({std::move(token.op), kBinary, token.priority, token.position});
        } else {
          Operand left = std::move(operands.back());
          operands.pop_back();
          CheckNesting(left.height + 1, token.position);
          TExprKind kind = token.op->ResultKind(left.expression->GetKind(), ekNone);
          if (kind == ekNone) {
            throw EEvaluatorError("Param\xE8tres de fonction incorrects", token.position);
          }
          operands.push_back({std::make_unique<TOperatedExpression>(
                                  std::move(token.op), std::move(left.expression), nullptr, kind),
                              left.height + 1});
        }
        break;
      case kEnd:
        while (!pending.empty()) reduce();
        height = operands.back().height;
        return std::move(operands.back().expression);
    }
    previous = token.kind;
  }
}

TExpressionEvaluator::Token TExpressionEvaluator::NextToken(char closing, int previous) {
  SkipBlanks();
  Token token;
  token.position = position_;
  if (AtEnd()) {
    // A sub-expression still waiting for its closing character is left open.
    if (closing != '\0') throw EEvaluatorError("Expression incorrecte", position_);
    token.kind = kEnd;
    return token;
  }
  char c = Current();
  if (closing != '\0' && c == closing) {
    ++position_;
    token.kind = kEnd;
    return token;
  }
  if (c == quote_) {
    token.kind = kOperand;
    token.operand = ScanString();
    return token;
  }
  if (IsDigit(c) || c == decimal_) {
    token.kind = kOperand;
    token.operand = ScanNumber();
    return token;
  }
  if (c == '[') return ResolveSymbol(ScanFreeSymbol(), token.position, previous);
  if (IsOperatorChar(c) || IsIdent(c)) {
    bool op = IsOperatorChar(c);
    int start = position_;
    while (!AtEnd() && (op ? IsOperatorChar(Current()) : IsIdent(Current()))) ++position_;
    return ResolveSymbol(
        text_.substr(static_cast<size_t>(start - 1), static_cast<size_t>(position_ - start)), start,
        previous);
  }
  if (c == '(') {
    ++position_;
    token.kind = kOperand;
    token.operand = ParseSub(')', token.height);
    return token;
  }
  InvalidChar(c, position_);
}

std::unique_ptr<TExpression> TExpressionEvaluator::ScanString() {
  ++position_;  // the opening quote
  std::string value;
  for (;;) {
    if (AtEnd())
      throw EParserError(
          "Expression cha\xEEne non termin\xE9"
          "e");
    char c = Current();
    ++position_;
    if (c == quote_) {
      if (Current() != quote_ || AtEnd()) break;
      ++position_;
    }
    value += c;
  }
  auto constant = std::make_unique<TConstExpression>(ekString);
  constant->SetAsString(value);
  return constant;
}

std::unique_ptr<TExpression> TExpressionEvaluator::ScanNumber() {
  int start = position_;
  auto read_so_far = [&] {
    int end = std::min(position_, static_cast<int>(text_.size()));
    return text_.substr(static_cast<size_t>(start - 1), static_cast<size_t>(end - start + 1));
  };
  auto fail = [&]() {
    throw EParserError(
        FormatMessage("Expression num\xE9rique incorrecte : \"%s\"", {read_so_far()}));
  };
  auto digits = [&] {
    int count = 0;
    while (!AtEnd() && IsDigit(Current())) {
      ++position_;
      ++count;
    }
    return count;
  };
  auto exponent = [&] {
    // E, then a sign or digit, then at least one more digit.
    ++position_;
    if (AtEnd() || !(IsDigit(Current()) || Current() == '+' || Current() == '-')) fail();
    ++position_;
    if (digits() == 0) fail();
  };
  bool integral = true;
  digits();
  if (!AtEnd() && (Current() == 'E' || Current() == 'e')) {
    integral = false;
    exponent();
  } else if (!AtEnd() && Current() == decimal_) {
    integral = false;
    ++position_;
    if (digits() == 0) fail();
    if (!AtEnd() && (Current() == 'E' || Current() == 'e')) exponent();
  }
  if (!AtEnd() && IsIdent(Current())) fail();
  std::string text =
      text_.substr(static_cast<size_t>(start - 1), static_cast<size_t>(position_ - start));
  int64_t whole = 0;
  if (integral && TryStrToInt64(text, whole) && whole <= 2147483647) {
    auto constant = std::make_unique<TConstExpression>(ekInteger);
    constant->SetAsInteger(static_cast<int32_t>(whole));
    return constant;
  }
  TFormatSettings settings = CurrentFormatSettings();
  for (char& c : text) {
    if (c == decimal_) c = settings.DecimalSeparator;
  }
  double value = 0;
  if (!TryStrToFloat(text, value, settings)) fail();
  auto constant = std::make_unique<TConstExpression>(ekFloat);
  constant->SetAsFloat(value);
  return constant;
}

std::string TExpressionEvaluator::ScanFreeSymbol() {
  ++position_;  // "["
  std::string name;
  for (;;) {
    if (AtEnd()) throw EEvaluatorError("Symbole libre non termin\xE9", position_);
    char c = Current();
    if (c == ']') break;
    if (static_cast<unsigned char>(c) < 32) InvalidChar(c, position_);
    name += c;
    ++position_;
  }
  ++position_;
  return name;
}

TExpressionEvaluator::Token TExpressionEvaluator::ResolveSymbol(const std::string& name, int start,
                                                                int previous) {
  const TSymbol* symbol = evaluator_->Symbols().Find(name);
  if (symbol == nullptr) symbol = GlobalSymbolList().Find(name);
  if (symbol == nullptr) {
    throw EEvaluatorError(FormatMessage("Symbole inconnu : \"%s\"", {name}), start);
  }
  Token token;
  token.position = start;
  switch (symbol->kind) {
    case skVariable:
      token.kind = kOperand;
      token.operand = std::make_unique<TVarExpression>(symbol->variable.get());
      break;
    case skFunction: {
      std::unique_ptr<TFunction> function = symbol->function_class();
      if (function->ParamCount() > 0) token.height = 1 + ParseParameters(function.get());
      token.kind = kOperand;
      token.operand = std::move(function);
      break;
    }
    case skOperator: {
      token.op = symbol->operator_class(evaluator_);
      token.priority = symbol->priority;
      int arity = token.op->Arity();
      token.kind = arity == 1 ? kPostfix : arity == 2 ? kPrefix : kBinary;
      bool expects_operand = previous == kStart || previous == kPrefix || previous == kBinary;
      if (token.kind == kBinary && expects_operand && token.op->CanBePrefix()) token.kind = kPrefix;
      break;
    }
  }
  return token;
}

int TExpressionEvaluator::ParseParameters(TFunction* function) {
  SkipBlanks();
  if (AtEnd() || Current() != '(') {
    throw EEvaluatorError("Fonction incompl\xE8te : Parenth\xE8se attendue", position_);
  }
  ++position_;
  int count = function->ParamCount();
  int highest = 0;
  for (int i = 0; i < count; ++i) {
    int height = 0;
    function->SetParam(i, ParseSub(i + 1 < count ? ',' : ')', height));
    highest = std::max(highest, height);
  }
  CheckNesting(highest + 1, position_);
  return highest;
}

}  // namespace comp
