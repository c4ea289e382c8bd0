#include "engine/storage/expr/TExpressionParser.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "classlib/rtl/AsciiText.h"
#include "classlib/rtl/DateTime.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/values/EngineStrings.h"

namespace tessera {

namespace {

uint32_t TodayDayNumber() {
  return static_cast<uint32_t>(cl::DateTimeToTimeStamp(cl::Date()).Date);
}

bool IsLetter(unsigned char c) { return IsNameLetter(static_cast<char>(c)); }
bool IsDigit(unsigned char c) { return IsDigitChar(static_cast<char>(c)); }

[[noreturn]] void RaiseSql(std::string_view message) {
  RaiseEngineError(kErrSql, {}, {}, {}, message);
}

ExpressionNodePtr MakeNullConstant(std::string_view text) {
  auto node = MakeExpressionNode(kNodeConstant, 0, text, kExprTypeNone);
  node->is_null = 1;
  return node;
}

ExpressionNodePtr MakeBooleanConstant(std::string_view text, bool v) {
  auto node = MakeExpressionNode(kNodeConstant, 0, text, kExprTypeBoolean);
  node->SetBoolean(v);
  return node;
}

}  // namespace

// A parsed subtree with its height (IN value chains count as one level: every walker loops over
// them).
struct TExpressionParser::Parsed {
  ExpressionNodePtr node;
  int height = 0;
};

// Counts one level of parser recursion for the life of the guard.
class TExpressionParser::NestingGuard {
 public:
  explicit NestingGuard(TExpressionParser& parser) : parser_(parser) {
    if (++parser_.nesting_ > kMaxExpressionNesting) {
      --parser_.nesting_;
      parser_.FailIn("Expression nesting too deep in ");
    }
  }
  ~NestingGuard() { --parser_.nesting_; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;

 private:
  TExpressionParser& parser_;
};

// ---- tokenizer ----------------------------------------------------------------------------------

void TExpressionParser::SetText(std::string_view text) {
  size_t nul = text.find('\0');
  text_.assign(text.substr(0, nul));
  pos_ = 0;
  token_start_ = 0;
  token_end_ = 0;
  token_kind_ = kTokenEnd;
  previous_token_start_ = 0;
  mark_ = 0;
}

void TExpressionParser::SkipBlanks() {
  while (At(pos_) >= 1 && At(pos_) <= 32) ++pos_;
}

int TExpressionParser::NextToken() {
  previous_token_start_ = token_start_;
  SkipBlanks();
  // One comment may stand here; it ends at its first "*", which must be followed by "/".
  if (At(pos_) == '/' && At(pos_ + 1) == '*') {
    size_t p = pos_ + 2;
    while (At(p) != 0 && At(p) != '*') ++p;
    if (At(p) != '*' || At(p + 1) != '/') {
      RaiseSql("Missing ending comment slash and asterisk in SQL statement");
    }
    pos_ = p + 2;
    SkipBlanks();
  }
  token_start_ = pos_;
  token_closed_ = true;
  unsigned char c = At(pos_);
  if (c == 0) {
    token_end_ = pos_;
    token_kind_ = kTokenEnd;
    return token_kind_;
  }
  size_t p = pos_ + 1;
  if (IsLetter(c) || c == '_') {
    while (IsLetter(At(p)) || IsDigit(At(p)) || At(p) == '_') ++p;
    token_kind_ = kTokenSymbol;
  } else if (c == '\'' || c == '"') {
    for (;;) {
      if (At(p) == 0) {
        token_end_ = p;
        token_kind_ = kTokenQuotedText;
        token_closed_ = false;
        pos_ = p;
        RaiseSql(std::string(c == '\'' ? "Missing single quote after '"
                                       : "Missing double quote after '") +
                 TokenText() + "' in SQL statement");
      }
      if (At(p) == c) {
        if (At(p + 1) != c) break;
        ++p;
      }
      ++p;
    }
    ++p;
    token_kind_ = kTokenQuotedText;
  } else if (c == '[') {
    while (At(p) != 0 && At(p) != ']') ++p;
    if (At(p) == 0) {
      token_end_ = p;
      token_kind_ = kTokenBracketedName;
      token_closed_ = false;
      pos_ = p;
      RaiseSql("Missing right bracket after '" + TokenText() + "' in SQL statement");
    }
    ++p;
    token_kind_ = kTokenBracketedName;
  } else if (IsDigit(c)) {
    while (IsDigit(At(p))) ++p;
    token_kind_ = kTokenInteger;
    for (;;) {
      unsigned char d = At(p);
      bool after_exponent = At(p - 1) == 'E' || At(p - 1) == 'e';
      if (d == '.' || d == 'E' || d == 'e' || IsDigit(d) ||
          ((d == '+' || d == '-') && after_exponent)) {
        token_kind_ = kTokenFloat;
        ++p;
      } else {
        break;
      }
    }
  } else {
    token_kind_ = c;
  }
  token_end_ = p;
  pos_ = p;
  return token_kind_;
}

std::string_view TExpressionParser::RawToken() const {
  return std::string_view(text_).substr(token_start_, token_end_ - token_start_);
}

std::string_view TExpressionParser::TokenBody() const {
  std::string_view t = RawToken();
  if (token_kind_ == kTokenQuotedText || token_kind_ == kTokenBracketedName) {
    t.remove_prefix(1);
    if (token_closed_) t.remove_suffix(1);
  }
  return t;
}

std::string TExpressionParser::TokenText() const {
  return std::string(TokenBody().substr(0, kMaxNodeTextLength));
}

// The quoted text's characters with each doubled delimiter taken once (not cut).
std::string TExpressionParser::UndoubledQuotedText() const {
  std::string_view t = RawToken();
  char quote = t[0];
  std::string out;
  for (size_t i = 1; i + 1 < t.size(); ++i) {
    out.push_back(t[i]);
    if (t[i] == quote) ++i;  // the second of a doubled pair
  }
  return out;
}

std::string TExpressionParser::TokenName() const {
  return FullTokenName().substr(0, kMaxNodeTextLength);
}

std::string TExpressionParser::FullTokenName() const {
  if (token_kind_ != kTokenQuotedText) return std::string(TokenBody());
  return UndoubledQuotedText();
}

bool TExpressionParser::TokenIs(std::string_view word) const {
  if (token_kind_ == kTokenSymbol) return cl::SameAsciiText(RawToken(), word);
  if (token_kind_ == kTokenBracketedName) {
    std::string_view t = RawToken();
    return cl::SameAsciiText(t.substr(1, t.size() - 2), word);
  }
  return false;
}

// The text from the mark to the current token, trailing blanks dropped.
std::string_view TExpressionParser::SourceText() const {
  size_t end = std::max(token_start_, mark_);
  while (end > mark_ && At(end - 1) >= 1 && At(end - 1) <= 32) --end;
  return std::string_view(text_).substr(mark_, end - mark_);
}

std::string TExpressionParser::CaptureSourceText() const {
  std::string_view source = SourceText();
  if (source.size() > kMaxNodeTextLength) {
    RaiseSql("Source column expression exceeds maximum expression length of 255 characters");
  }
  return std::string(source);
}

std::string TExpressionParser::CaptureSourceTextCut() const {
  return std::string(SourceText().substr(0, kMaxNodeTextLength));
}

// ---- errors -------------------------------------------------------------------------------------

// message + token + "' in " + clause, for messages ending in "instead found '".
void TExpressionParser::FailFound(std::string_view message) const {
  RaiseSql(std::string(message) + TokenText() + "' in " + clause_);
}

// message + clause, for messages ending in " in ".
void TExpressionParser::FailIn(std::string_view message) const {
  RaiseSql(std::string(message) + clause_);
}

// message + token + "' found in " + clause.
void TExpressionParser::FailSymbolFound(std::string_view message) const {
  RaiseSql(std::string(message) + TokenText() + "' found in " + clause_);
}

void TExpressionParser::ExpectToken(int kind, std::string_view message) {
  if (token_kind_ != kind) FailFound(message);
  NextToken();
}

void TExpressionParser::CheckHeight(int height) const {
  if (height > kMaxExpressionNesting) FailIn("Expression nesting too deep in ");
}

// ---- grammar ------------------------------------------------------------------------------------

ExpressionNodePtr TExpressionParser::ParseExpression(uint32_t flags, std::string_view clause) {
  if (token_kind_ == kTokenEnd) return nullptr;
  flags_ = flags;
  clause_ = std::string(clause);
  nesting_ = 0;
  return ParseOr().node;
}

ExpressionNodePtr TExpressionParser::ParsePrimary(uint32_t flags, std::string_view clause) {
  if (token_kind_ == kTokenEnd) return nullptr;
  flags_ = flags;
  clause_ = std::string(clause);
  nesting_ = 0;
  return ParsePrimaryNode().node;
}

namespace {

// Combines two operands under a binary node of the given code.
ExpressionNodePtr MakeBinary(uint32_t code, std::string_view text, uint8_t type,
                             ExpressionNodePtr left, ExpressionNodePtr right) {
  auto node = MakeExpressionNode(kNodeBinary, code, text, type);
  node->first = std::move(left);
  node->second = std::move(right);
  return node;
}

}  // namespace

TExpressionParser::Parsed TExpressionParser::ParseOr() {
  Parsed left = ParseAnd();
  while (TokenIs("OR")) {
    std::string op = TokenText();
    NextToken();
    Parsed right = ParseAnd();
    int height = std::max(left.height, right.height) + 1;
    CheckHeight(height);
    left.node =
        MakeBinary(kOpOr, op, kExprTypeBoolean, std::move(left.node), std::move(right.node));
    left.height = height;
  }
  return left;
}

TExpressionParser::Parsed TExpressionParser::ParseAnd() {
  Parsed left = ParseComparison();
  while (TokenIs("AND")) {
    std::string op = TokenText();
    NextToken();
    Parsed right = ParseComparison();
    int height = std::max(left.height, right.height) + 1;
    CheckHeight(height);
    left.node =
        MakeBinary(kOpAnd, op, kExprTypeBoolean, std::move(left.node), std::move(right.node));
    left.height = height;
  }
  return left;
}

TExpressionParser::Parsed TExpressionParser::ParseComparison() {
  Parsed left = ParseAdditive();
  uint32_t code = 0;
  const char* symbol = nullptr;
  if (TokenKindIs('=')) {
    code = kOpEqual;
    symbol = "=";
    NextToken();
  } else if (TokenKindIs('<')) {
    NextToken();
    if (TokenKindIs('>')) {
      code = kOpNotEqual;
      symbol = "<>";
      NextToken();
    } else if (TokenKindIs('=')) {
      code = kOpLessEqual;
      symbol = "<=";
      NextToken();
    } else {
      code = kOpLess;
      symbol = "<";
    }
  } else if (TokenKindIs('>')) {
    NextToken();
    if (TokenKindIs('=')) {
      code = kOpGreaterEqual;
      symbol = ">=";
      NextToken();
    } else {
      code = kOpGreater;
      symbol = ">";
    }
  } else if (TokenIs("LIKE") || TokenIs("BETWEEN") || TokenIs("IN") || TokenIs("NOT") ||
             TokenIs("IS")) {
    if ((flags_ & kAllowExtendedPredicates) == 0) {
      FailIn("Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in ");
    }
    return ParseExtendedPredicate(std::move(left));
  } else {
    return left;
  }
  Parsed right = ParseNestedComparison();
  int height = std::max(left.height, right.height) + 1;
  CheckHeight(height);
  return {MakeBinary(code, symbol, kExprTypeBoolean, std::move(left.node), std::move(right.node)),
          height};
}

// A comparison-level operand of a comparison or predicate: one more level of nesting.
TExpressionParser::Parsed TExpressionParser::ParseNestedComparison() {
  NestingGuard guard(*this);
  return ParseComparison();
}

TExpressionParser::Parsed TExpressionParser::ParseExtendedPredicate(Parsed tested) {
  if (TokenIs("IS")) {
    NextToken();
    uint32_t code = kOpEqual;
    const char* symbol = "=";
    if (TokenIs("NOT")) {
      NextToken();
      code = kOpNotEqual;
      symbol = "<>";
    }
    if (!TokenIs("NULL")) FailSymbolFound("Unknown or unexpected symbol '");
    auto null_constant = MakeNullConstant(TokenText());
    NextToken();
    int height = tested.height + 1;
    CheckHeight(height);
    return {MakeBinary(code, symbol, kExprTypeBoolean, std::move(tested.node),
                       std::move(null_constant)),
            height};
  }
  bool negated = false;
  if (TokenIs("NOT")) {
    NextToken();
    negated = true;
    if (!TokenIs("BETWEEN") && !TokenIs("LIKE") && !TokenIs("IN")) {
      FailSymbolFound("Unknown or unexpected symbol '");
    }
  }
  if (TokenIs("IN")) {
    NextToken();
    return ParseInList(std::move(tested), negated ? kOpNotIn : kOpIn);
  }
  bool like = TokenIs("LIKE");
  NextToken();
  uint32_t code = like ? (negated ? kOpNotLike : kOpLike) : (negated ? kOpNotBetween : kOpBetween);
  const char* name = like ? (negated ? "NOT LIKE" : "LIKE") : (negated ? "NOT BETWEEN" : "BETWEEN");
  auto node = MakeExpressionNode(kNodePredicate, code, name, kExprTypeBoolean);
  Parsed operand = ParseNestedComparison();
  int height = std::max(tested.height, operand.height) + 1;
  if (!like) {
    if (!TokenIs("AND")) FailFound("Expected AND operator in BETWEEN operator, instead found '");
    NextToken();
    Parsed high = ParseNestedComparison();
    height = std::max(height, high.height + 1);
    operand.node->next = std::move(high.node);
  }
  CheckHeight(height);
  node->first = std::move(tested.node);
  node->second = std::move(operand.node);
  return {std::move(node), height};
}

TExpressionParser::Parsed TExpressionParser::ParseInList(Parsed tested, uint32_t code) {
  if (!TokenKindIs('(')) {
    FailFound(code == kOpNotIn ? "Expected left parentheses for IN operator, instead found '"
                               : "Expected left parentheses after IN operator, instead found '");
  }
  NextToken();
  if (TokenKindIs(')')) {
    FailIn("You must provide at least one value as an operand of the IN operator  in ");
  }
  auto node = MakeExpressionNode(kNodePredicate, code, code == kOpNotIn ? "NOT IN" : "IN",
                                 kExprTypeBoolean);
  int height = tested.height + 1;
  node->first = std::move(tested.node);
  ExpressionNode* tail = nullptr;
  for (;;) {
    // A value may itself hold an IN list ("a IN (b IN (...))"): one more level of nesting.
    Parsed value = ParseNestedComparison();
    height = std::max(height, value.height + 1);
    CheckHeight(height);
    ExpressionNode* raw = value.node.get();
    if (tail == nullptr) {
      node->second = std::move(value.node);
    } else {
      tail->next = std::move(value.node);
    }
    tail = raw;
    if (TokenKindIs(',')) {
      NextToken();
      continue;
    }
    if (!TokenKindIs(')'))
      FailFound("Expected right parentheses after IN operator, instead found '");
    NextToken();
    break;
  }
  return {std::move(node), height};
}

TExpressionParser::Parsed TExpressionParser::ParseAdditive() {
  Parsed left = ParseMultiplicative();
  for (;;) {
    uint32_t code;
    std::string symbol;
    if (TokenKindIs('+')) {
      code = kOpAdd;
      symbol = "+";
    } else if (TokenKindIs('-')) {
      code = kOpSubtract;
      symbol = "-";
    } else if (TokenKindIs('|')) {
      NextToken();
      if (!TokenKindIs('|')) {
        FailFound(
            "Second concatenation symbol '|' expected after first concatentation symbol, "
            "instead found '");
      }
      code = kOpAdd;
      symbol = "||";
    } else {
      return left;
    }
    NextToken();
    Parsed right = ParseMultiplicative();
    int height = std::max(left.height, right.height) + 1;
    CheckHeight(height);
    uint8_t type = left.node->type;
    left.node = MakeBinary(code, symbol, type, std::move(left.node), std::move(right.node));
    left.height = height;
  }
}

TExpressionParser::Parsed TExpressionParser::ParseMultiplicative() {
  Parsed left = ParseUnary();
  for (;;) {
    uint32_t code;
    if (TokenKindIs('*')) {
      code = kOpMultiply;
    } else if (TokenKindIs('/')) {
      code = kOpDivide;
    } else {
      return left;
    }
    std::string symbol = TokenText();
    NextToken();
    Parsed right = ParseUnary();
    int height = std::max(left.height, right.height) + 1;
    CheckHeight(height);
    uint8_t type = left.node->type;
    left.node = MakeBinary(code, symbol, type, std::move(left.node), std::move(right.node));
    left.height = height;
  }
}

TExpressionParser::Parsed TExpressionParser::ParseUnary() {
  uint32_t code;
  if (TokenIs("NOT")) {
    code = kOpNot;
  } else if (TokenKindIs('+')) {
    code = kOpPlus;
  } else if (TokenKindIs('-')) {
    code = kOpNegate;
  } else {
    return ParsePrimaryNode();
  }
  std::string symbol = TokenText();
  NextToken();
  Parsed operand = ParsePrimaryNode();
  int height = operand.height + 1;
  CheckHeight(height);
  uint8_t type = code == kOpNot ? kExprTypeBoolean : operand.node->type;
  auto node = MakeExpressionNode(kNodeUnary, code, symbol, type);
  node->first = std::move(operand.node);
  return {std::move(node), height};
}

TExpressionParser::Parsed TExpressionParser::ParsePrimaryNode() {
  NestingGuard guard(*this);
  switch (token_kind_) {
    case kTokenInteger:
    case kTokenFloat:
      return ParseNumber();
    case kTokenQuotedText:
      return ParseQuotedText();
    case kTokenBracketedName: {
      std::string name = TokenText();
      NextToken();
      return ParseName(std::move(name));
    }
    case kTokenSymbol:
      return ParseSymbol();
    case '(': {
      NextToken();
      Parsed inner = ParseOr();
      if (!TokenKindIs(')')) FailFound("Right parentheses expected, instead found '");
      NextToken();
      return inner;
    }
    case '*': {
      if ((flags_ & kAllowAllColumns) == 0) FailIn("* (all columns) symbol is not allowed in ");
      auto node = MakeExpressionNode(kNodeColumn, 0, "*", kExprTypeNone);
      node->column_name = "*";
      NextToken();
      return {std::move(node), 1};
    }
    case '?': {
      if ((flags_ & kAllowParameters) == 0) FailIn("Parameters are not allowed in ");
      auto node = MakeExpressionNode(kNodeConstant, 0, "?", kExprTypeNone);
      node->is_parameter = 1;
      NextToken();
      return {std::move(node), 1};
    }
    default:
      FailSymbolFound("Unknown or unexpected symbol '");
  }
}

TExpressionParser::Parsed TExpressionParser::ParseNumber() {
  std::string_view raw = RawToken();
  const char* begin = raw.data();
  const char* end = begin + raw.size();
  ExpressionNodePtr node;
  if (token_kind_ == kTokenInteger) {
    int32_t v = 0;
    auto [ptr, ec] = std::from_chars(begin, end, v);
    if (ec != std::errc() || ptr != end) FailFound("Invalid numeric constant '");
    node = MakeExpressionNode(kNodeConstant, 0, raw, kExprTypeInt32);
    node->SetInt32(v);
  } else {
    double v = 0;
    auto [ptr, ec] = std::from_chars(begin, end, v, std::chars_format::general);
    if (ec != std::errc() || ptr != end) FailFound("Invalid numeric constant '");
    node = MakeExpressionNode(kNodeConstant, 0, raw, kExprTypeFloat);
    node->SetFloat(v);
  }
  NextToken();
  return {std::move(node), 1};
}

TExpressionParser::Parsed TExpressionParser::ParseQuotedText() {
  std::string text = TokenText();
  std::string value = UndoubledQuotedText();
  NextToken();
  if (TokenKindIs('.')) return ParseName(std::move(value));
  if (cl::SameAsciiText(value, "TRUE") || cl::SameAsciiText(value, "FALSE")) {
    return {MakeBooleanConstant(text, cl::SameAsciiText(value, "TRUE")), 1};
  }
  if (value.empty()) return {MakeNullConstant(text), 1};
  if (value.size() > kMaxStringValueLength) {
    FailIn("String constant exceeds maximum length of 254 characters in ");
  }
  auto node = MakeExpressionNode(kNodeConstant, 0, text, kExprTypeString);
  node->SetString(value);
  node->size = static_cast<uint8_t>(value.size() + 1);
  return {std::move(node), 1};
}

// A column, or with "." after it a correlation name followed by the column (or by "*" where all
// columns are allowed).  The current token is the one after `name`.
TExpressionParser::Parsed TExpressionParser::ParseName(std::string name) {
  auto node = MakeExpressionNode(kNodeColumn, 0, name, kExprTypeNone);
  if (TokenKindIs('.')) {
    NextToken();
    std::string column;
    if (token_kind_ == kTokenSymbol || token_kind_ == kTokenBracketedName) {
      column = TokenText();
    } else if (token_kind_ == kTokenQuotedText) {
      column = UndoubledQuotedText().substr(0, kMaxNodeTextLength);
    } else if (token_kind_ == '*' && (flags_ & kAllowAllColumns) != 0) {
      column = "*";  // every field of that table, as t."*" and t.[*] already said
    } else {
      FailFound(
          "Symbol or string expression expected after table correlation name separator '.', "
          "instead found '");
    }
    NextToken();
    node->text = (name + "." + column).substr(0, kMaxNodeTextLength);
    node->correlation_name = std::move(name);
    node->column_name = std::move(column);
  } else {
    node->column_name = std::move(name);
  }
  return {std::move(node), 1};
}

TExpressionParser::Parsed TExpressionParser::ParseSymbol() {
  std::string word = TokenText();
  if (TokenIs("TRUE") || TokenIs("FALSE")) {
    auto node = MakeBooleanConstant(word, TokenIs("TRUE"));
    NextToken();
    return {std::move(node), 1};
  }
  if (TokenIs("NULL")) {
    NextToken();
    return {MakeNullConstant(word), 1};
  }
  if (TokenIs("DATE")) {
    auto node = MakeExpressionNode(kNodeConstant, 0, word, kExprTypeDate);
    node->SetUInt32(TodayDayNumber());
    NextToken();
    return {std::move(node), 1};
  }
  if (TokenIs("NOW")) {
    // Today at midnight, not the time of day: existing statements rely on it.
    auto node = MakeExpressionNode(kNodeConstant, 0, word, kExprTypeTimestamp);
    node->SetFloat(static_cast<double>(TodayDayNumber()) * cl::kMSecsPerDay);
    NextToken();
    return {std::move(node), 1};
  }
  if (uint32_t aggregate = AggregateCodeFromName(word)) return ParseAggregate(aggregate);
  if (TokenIs("UPPER")) return ParseCaseFunction(kFnUpper, "UPPER");
  if (TokenIs("LOWER")) return ParseCaseFunction(kFnLower, "LOWER");
  if (TokenIs("SUBSTRING")) return ParseSubstring();
  if (TokenIs("TRIM")) return ParseTrim();
  if (TokenIs("EXTRACT")) return ParseExtract();
  NextToken();
  if (TokenKindIs('(')) {
    RaiseSql("Unknown or unexpected function '" + word + "' found in " + clause_);
  }
  return ParseName(std::move(word));
}

TExpressionParser::Parsed TExpressionParser::ParseAggregate(uint32_t code) {
  if ((flags_ & kAllowAggregates) == 0) FailIn("Aggregate functions are not allowed in ");
  std::string name = TokenText();
  NextToken();
  ExpectToken('(',
              "Left parentheses expectedafter aggregate function '" + name + "', instead found '");
  Parsed argument = ParseAdditive();
  ExpectToken(')', "Right parentheses expected after aggregate " + name +
                       " function argument, instead found '");
  int height = argument.height + 1;
  CheckHeight(height);
  auto node = MakeExpressionNode(kNodeFunction, code, name, argument.node->type);
  node->first = std::move(argument.node);
  return {std::move(node), height};
}

TExpressionParser::Parsed TExpressionParser::ParseCaseFunction(uint32_t code, const char* word) {
  std::string name = TokenText();
  NextToken();
  ExpectToken('(',
              std::string("Left parentheses expectedafter ") + word + " keyword, instead found '");
  Parsed argument = ParseAdditive();
  ExpectToken(')', std::string("Right parentheses expected after ") + word +
                       " function argument, instead found '");
  int height = argument.height + 1;
  CheckHeight(height);
  auto node = MakeExpressionNode(kNodeFunction, code, name, kExprTypeString);
  node->first = std::move(argument.node);
  return {std::move(node), height};
}

TExpressionParser::Parsed TExpressionParser::ParseSubstring() {
  std::string name = TokenText();
  NextToken();
  ExpectToken('(', "Left parentheses expected after SUBSTRING keyword, instead found '");
  Parsed argument = ParseAdditive();
  if (!TokenIs("FROM")) {
    FailFound("FROM keyword expected after first SUBSTRING function argument, instead found '");
  }
  NextToken();
  Parsed from = ParsePrimaryNode();
  int height = std::max(argument.height, from.height) + 1;
  if (TokenIs("FOR")) {
    NextToken();
    Parsed length = ParsePrimaryNode();
    height = std::max(height, length.height + 1);
    from.node->next = std::move(length.node);
  }
  ExpectToken(')',
              "Right parentheses expected after SUBSTRING function arguments, instead found '");
  CheckHeight(height);
  auto node = MakeExpressionNode(kNodeFunction, kFnSubstring, name, kExprTypeString);
  node->first = std::move(argument.node);
  node->second = std::move(from.node);
  return {std::move(node), height};
}

TExpressionParser::Parsed TExpressionParser::ParseTrim() {
  std::string name = TokenText();
  NextToken();
  ExpectToken('(', "Left parentheses expected after TRIM keyword, instead found '");
  uint32_t code;
  if (TokenIs("LEADING")) {
    code = kFnTrimLeading;
  } else if (TokenIs("TRAILING")) {
    code = kFnTrimTrailing;
  } else if (TokenIs("BOTH")) {
    code = kFnTrimBoth;
  } else {
    FailFound("LEADING, TRAILING, or BOTH keyword expected after TRIM keyword, instead found '");
  }
  NextToken();
  Parsed trim_character = ParsePrimaryNode();
  if (!TokenIs("FROM")) {
    FailFound("FROM keyword expected after second TRIM function argument, instead found '");
  }
  NextToken();
  Parsed argument = ParseAdditive();
  ExpectToken(')', "Right parentheses expected after TRIM function arguments, instead found '");
  int height = std::max(argument.height, trim_character.height) + 1;
  CheckHeight(height);
  auto node = MakeExpressionNode(kNodeFunction, code, name, kExprTypeString);
  node->first = std::move(argument.node);
  node->second = std::move(trim_character.node);
  return {std::move(node), height};
}

TExpressionParser::Parsed TExpressionParser::ParseExtract() {
  std::string name = TokenText();
  NextToken();
  ExpectToken('(', "Left parentheses expected after EXTRACT keyword, instead found '");
  uint32_t code;
  if (TokenIs("YEAR")) {
    code = kFnExtractYear;
  } else if (TokenIs("MONTH")) {
    code = kFnExtractMonth;
  } else if (TokenIs("DAY")) {
    code = kFnExtractDay;
  } else {
    FailFound("YEAR, MONTH, or DAY keyword expected after EXTRACT keyword, instead found '");
  }
  NextToken();
  if (!TokenIs("FROM")) {
    FailFound("FROM keyword expected after second EXTRACT function argument, instead found '");
  }
  NextToken();
  Parsed argument = ParsePrimaryNode();
  ExpectToken(')', "Right parentheses expected after EXTRACT function arguments, instead found '");
  int height = argument.height + 1;
  CheckHeight(height);
  auto node = MakeExpressionNode(kNodeFunction, code, name, kExprTypeInt32);
  node->first = std::move(argument.node);
  return {std::move(node), height};
}

uint32_t AggregateCodeFromName(std::string_view name) {
  if (cl::SameAsciiText(name, "SUM")) return kFnSum;
  if (cl::SameAsciiText(name, "AVG")) return kFnAvg;
  if (cl::SameAsciiText(name, "MIN")) return kFnMin;
  if (cl::SameAsciiText(name, "MAX")) return kFnMax;
  if (cl::SameAsciiText(name, "COUNT")) return kFnCount;
  return 0;
}

}  // namespace tessera
