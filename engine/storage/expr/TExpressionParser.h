// The tokenizer and recursive-descent parser of filter conditions and SQL expressions.
//
// The parser only builds ExpressionNode trees; names are bound and types checked later by
// CheckExpression.  Every syntax error raises engine error 11949 whose SQL text is the message;
// the messages (misspellings included) are part of what users and callers see and never change.
//
// Precedence, loosest first:
//   OR  >  AND  >  comparison  >  + - ||  >  * /  >  unary NOT + -  >  primary
// Comparisons nest to the right (a = b = c is a = (b = c)); a unary operator applies to one
// primary (NOT a = b compares NOT a with b); the other binary levels combine from the left.
//
// Hostile input: nesting (parentheses, right-nested comparisons, function arguments) and the height
// of the built tree are both limited to kMaxExpressionNesting levels, so that neither the parser
// nor the recursive walkers of the checker and evaluator can run out of stack.  IN lists are
// chained through `next` links and may be of any length; every walker loops over that chain.
//
// Not thread-safe; one parser per statement or filter.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/storage/expr/ExpressionNode.h"

namespace tessera {

// Token kinds; any other character is a one-character token whose kind is its code.
inline constexpr int kTokenEnd = 0;
inline constexpr int kTokenSymbol = 1;
inline constexpr int kTokenBracketedName = 2;
inline constexpr int kTokenQuotedText = 3;
inline constexpr int kTokenInteger = 4;
inline constexpr int kTokenFloat = 5;

// What a clause allows (combined bit flags).
inline constexpr uint32_t kAllowAggregates = 1;
inline constexpr uint32_t kAllowAllColumns = 2;
inline constexpr uint32_t kAllowExtendedPredicates = 4;
inline constexpr uint32_t kAllowParameters = 8;

inline constexpr int kMaxExpressionNesting = 512;

class TExpressionParser {
 public:
  TExpressionParser() = default;
  TExpressionParser(const TExpressionParser&) = delete;
  TExpressionParser& operator=(const TExpressionParser&) = delete;

  // Takes a private copy of the text (up to its first NUL) and resets the scan.
  void SetText(std::string_view text);

  // Reads the next token and returns its kind.  Raises 11949 for an unterminated comment, quoted
  // text or bracketed name.
  int NextToken();

  int TokenKind() const { return token_kind_; }
  // The current token, at most 255 characters; quoted texts and bracketed names without their
  // delimiters (doubled quotes inside stay doubled).
  std::string TokenText() const;
  // The current token as a name or password: TokenText, but a quoted text has each doubled
  // quote taken once, as in a string constant's value (at most 255 characters).
  std::string TokenName() const;
  // TokenName before the cut at 255 characters, for names that must be refused, not cut.
  std::string FullTokenName() const;
  // The current token is a symbol or bracketed name equal to `word` ignoring case.
  bool TokenIs(std::string_view word) const;
  bool TokenKindIs(int kind) const { return token_kind_ == kind; }

  // Marks the start of the current token; CaptureSourceText returns the text from there to the
  // start of the current token (trailing blanks dropped).  More than 255 characters raises 11949.
  void MarkSourceStart() { mark_ = token_start_; }
  std::string CaptureSourceText() const;
  // As CaptureSourceText, but a longer text is cut at 255 characters: for a text kept only to
  // name what was parsed.
  std::string CaptureSourceTextCut() const;

  // Parses one expression starting at the current token and leaves the token after it current.
  // Returns nullptr when the current token is the end of the text (the caller names the empty
  // clause); raises 11949 with a message ending in " in " + clause for any syntax error.
  ExpressionNodePtr ParseExpression(uint32_t flags, std::string_view clause);
  // As ParseExpression for a single primary (a name, constant, function or parenthesised
  // expression).
  ExpressionNodePtr ParsePrimary(uint32_t flags, std::string_view clause);

 private:
  struct Parsed;
  class NestingGuard;

  unsigned char At(size_t pos) const {
    return pos < text_.size() ? static_cast<unsigned char>(text_[pos]) : 0;
  }
  void SkipBlanks();
  std::string_view RawToken() const;
  // The current token without the delimiters of a quoted text or bracketed name.
  std::string_view TokenBody() const;
  std::string_view SourceText() const;
  std::string UndoubledQuotedText() const;

  Parsed ParseOr();
  Parsed ParseAnd();
  Parsed ParseComparison();
  Parsed ParseNestedComparison();
  Parsed ParseExtendedPredicate(Parsed tested);
  Parsed ParseInList(Parsed tested, uint32_t code);
  Parsed ParseAdditive();
  Parsed ParseMultiplicative();
  Parsed ParseUnary();
  Parsed ParsePrimaryNode();
  Parsed ParseNumber();
  Parsed ParseQuotedText();
  Parsed ParseName(std::string name);
  Parsed ParseSymbol();
  Parsed ParseAggregate(uint32_t code);
  Parsed ParseCaseFunction(uint32_t code, const char* word);
  Parsed ParseSubstring();
  Parsed ParseTrim();
  Parsed ParseExtract();

  void ExpectToken(int kind, std::string_view message);
  [[noreturn]] void FailFound(std::string_view message) const;
  [[noreturn]] void FailIn(std::string_view message) const;
  [[noreturn]] void FailSymbolFound(std::string_view message) const;
  void CheckHeight(int height) const;

  std::string text_;
  size_t pos_ = 0;
  size_t token_start_ = 0;
  size_t token_end_ = 0;
  int token_kind_ = kTokenEnd;
  bool token_closed_ = true;  // a quoted text or bracketed name has its closing delimiter
  size_t previous_token_start_ = 0;
  size_t mark_ = 0;

  // Set for the duration of one ParseExpression / ParsePrimary call.
  uint32_t flags_ = 0;
  std::string clause_;
  int nesting_ = 0;
};

// "SUM" 23, "AVG" 27, "MIN" 25, "MAX" 26, "COUNT" 24 ignoring case; 0 for any other name.
uint32_t AggregateCodeFromName(std::string_view name);

}  // namespace tessera
