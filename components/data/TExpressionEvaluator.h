// The expression language's tokenizer and operator-precedence parser.
//
// Tokens (after blanks: LF, CR and space; a TAB is not a blank):
//   'text'      a string constant; '' stands for one quote; no length limit
//   number      digits, then either E/e + a sign or digit + at least one more digit, or "." +
//               at least one digit (and optionally such an exponent); a number may start with
//               "."; an identifier character right after it is an error.  No fraction or
//               exponent and <= 2147483647: an integer constant, else a float constant
//   [name]      a free symbol (blanks and operator characters allowed, nothing below 32)
//   operator    the longest run of ! # % & * + - / : < = > \ ^ | ~ @ 0xB2
//   identifier  the longest run of 0-9 A-Z _ a-z
//   ( ... )     a sub-expression
// A symbol is looked up in the evaluator's table, then in the global one.
//
// Sequencing of token kinds (previous -> allowed next, else the error):
//   start, prefix op, binary op  -> operand, prefix op         "Expression attendue"
//   operand, postfix op          -> binary op, postfix op, end "Opérateur attendu"
//   nothing recognised                                         "Expression incorrecte"
// A binary operator standing where an operand is expected and answering CanBePrefix is taken as
// a prefix operator.  Precedence: a stacked priority greater than or equal to the new one is
// reduced first (higher binds tighter, ties group left to right).
//
// Errors: the scanner's string and number errors are EParserError; every other parse error is
// EEvaluatorError with the 1-based position where it was found.
//
// Hostile input: sub-expressions (parentheses, function parameters) nest at most
// kMaxEvalNesting deep and the built tree is at most kMaxEvalNesting high, else "Expression
// trop imbriquée": parsing, evaluating and freeing a tree all recurse along its height, and
// 100,000 nested parentheses or a chain of as many ORs would overflow the stack.
#pragma once

#include <bitset>
#include <memory>
#include <string>

#include "classlib/rtl/Classes.h"
#include "components/data/TEvaluator.h"

namespace comp {

inline constexpr int kMaxEvalNesting = 512;

// The text and the current 1-based position.
class TCustomParser : public cl::TPersistent {
 public:
  explicit TCustomParser(std::string text) : text_(std::move(text)) {}

  const std::string& Text() const { return text_; }
  int Position() const { return position_; }

 protected:
  bool AtEnd() const { return position_ > static_cast<int>(text_.size()); }
  // The character at the position; 0 at the end.
  char Current() const { return AtEnd() ? '\0' : text_[static_cast<size_t>(position_ - 1)]; }

  std::string text_;
  int position_ = 1;
};

// The scanning parameters: quote, decimal character, blank and identifier sets.
class TCustomEvalParser : public TCustomParser {
 public:
  explicit TCustomEvalParser(std::string text);

 protected:
  bool IsBlank(char c) const { return blanks_[static_cast<unsigned char>(c)]; }
  bool IsIdent(char c) const { return ident_chars_[static_cast<unsigned char>(c)]; }
  void SkipBlanks();

  char quote_ = '\'';
  char decimal_ = '.';
  std::bitset<256> blanks_;
  std::bitset<256> ident_chars_;
};

// One compilation: parses the whole text against an evaluator's symbols.
class TExpressionEvaluator : public TCustomEvalParser {
 public:
  TExpressionEvaluator(TEvaluator* evaluator, std::string text);

  std::unique_ptr<TExpression> Parse();

 private:
  struct Token;
  struct PendingOperator;
  struct Operand;

  // Parses up to `closing` (0: the end of the text), consuming it; `height` receives the height
  // of the built tree.
  std::unique_ptr<TExpression> ParseSub(char closing, int& height);
  Token NextToken(char closing, int previous);
  std::unique_ptr<TExpression> ScanString();
  std::unique_ptr<TExpression> ScanNumber();
  std::string ScanFreeSymbol();
  Token ResolveSymbol(const std::string& name, int start, int previous);
  // Returns the highest parameter's height.
  int ParseParameters(TFunction* function);
  // Raises past kMaxEvalNesting.
  void CheckNesting(int levels, int position) const;

  TEvaluator* evaluator_;
  int nesting_ = 0;
};

}  // namespace comp
