#include "engine/storage/expr/TExpressionParser.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "ExpressionTestUtil.h"

namespace tessera {
namespace {

using testing::ParseError;
using testing::ParseText;
using testing::Sexpr;

const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new testing::EngineEnvironment);

std::string Tree(std::string_view text, uint32_t flags = 15) {
  ExpressionNodePtr root = ParseText(text, flags);
  return Sexpr(root.get());
}

TEST(ExprParserTest, PrecedenceAndAssociativity) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"10 - 5 - 2", "(- (- 10 5) 2)"},
      {"8 / 4 / 2", "(/ (/ 8 4) 2)"},
      {"1 + 2 * 3", "(+ 1 (* 2 3))"},
      {"(1 + 2) * 3", "(* (+ 1 2) 3)"},
      {"a = 1 AND b = 2 OR c = 3", "(OR (AND (= a 1) (= b 2)) (= c 3))"},
      {"a = 1 OR b = 2 AND c = 3", "(OR (= a 1) (AND (= b 2) (= c 3)))"},
      {"a OR b OR c", "(OR (OR a b) c)"},
      {"a AND b AND c", "(AND (AND a b) c)"},
      {"a = b = c", "(= a (= b c))"},
      {"a < b >= c", "(< a (>= b c))"},
      {"NOT a = b", "(= (NOT a) b)"},
      {"NOT (a = b)", "(NOT (= a b))"},
      {"- a * b", "(* (- a) b)"},
      {"-a + +b", "(+ (- a) (+ b))"},
      {"a || b || 'c'", "(|| (|| a b) 'c')"},
      {"a + b || c - d", "(- (|| (+ a b) c) d)"},
      {"a <> b", "(<> a b)"},
      {"a <= b", "(<= a b)"},
      {"a>b", "(> a b)"},
      {"a = b LIKE 'x%'", "(= a (LIKE b 'x%'))"},
      {"a + 1 LIKE b", "(LIKE (+ a 1) b)"},
      {"x BETWEEN 1 AND 5 AND y = 2", "(AND (BETWEEN x 1 5) (= y 2))"},
      {"x NOT BETWEEN 1 AND 5", "(NOT BETWEEN x 1 5)"},
      {"x IN (1, 2, 3)", "(IN x 1 2 3)"},
      {"x NOT IN ('a', -1)", "(NOT IN x 'a' (- 1))"},
      // A list value or bound written as an expression keeps both its operands.
      {"x IN (a + 1, 2, b * c)", "(IN x (+ a 1) 2 (* b c))"},
      {"x BETWEEN a + 1 AND 5", "(BETWEEN x (+ a 1) 5)"},
      {"x NOT BETWEEN 1 AND b - 2", "(NOT BETWEEN x 1 (- b 2))"},
      {"SUBSTRING(a FROM (1 + 1) FOR (2 * 3))", "(SUBSTRING a (+ 1 1) (* 2 3))"},
      {"x NOT LIKE 'a_'", "(NOT LIKE x 'a_')"},
      {"x IS NULL", "(= x NULL)"},
      {"x IS NOT NULL", "(<> x NULL)"},
      {"x = ''", "(= x NULL)"},
      {"x = 'TRUE' OR y = \"false\"", "(OR (= x TRUE) (= y FALSE))"},
      {"[First Name] = 'Jo'", "(= First Name 'Jo')"},
      {"T.a = \"U\".[b c]", "(= T.a U.b c)"},
      {"'T'.'x' > 2.5", "(> T.x 2.5)"},
      {"SUM(a) + COUNT(*)", "(+ (SUM a) (COUNT *))"},
      {"max(a * 2)", "(MAX (* a 2))"},
      {"UPPER(a) = lower(b || 'X')", "(= (UPPER a) (LOWER (|| b 'X')))"},
      {"SUBSTRING(a FROM 2 FOR 3)", "(SUBSTRING a 2 3)"},
      {"SUBSTRING(a || b FROM 2)", "(SUBSTRING (|| a b) 2)"},
      {"TRIM(BOTH 'x' FROM a)", "(BOTH a 'x')"},
      {"TRIM(leading ' ' FROM a || b)", "(LEADING (|| a b) ' ')"},
      {"TRIM(TRAILING 'x' FROM a)", "(TRAILING a 'x')"},
      {"EXTRACT(YEAR FROM d) = 2024", "(= (YEAR d) 2024)"},
      {"EXTRACT(month FROM d)", "(MONTH d)"},
      {"EXTRACT(DAY FROM d)", "(DAY d)"},
      {"a = ?", "(= a ?)"},
      {"TRUE AND NOT FALSE", "(AND TRUE (NOT FALSE))"},
      {"a [AND] b", "(AND a b)"},
      {"[NOT] a", "(NOT a)"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(Tree(text), expected) << text;
}

TEST(ExprParserTest, NodeKindsCodesAndTypes) {
  ExpressionNodePtr root = ParseText("a + 1 = 2.5");
  EXPECT_EQ(root->kind, kNodeBinary);
  EXPECT_EQ(root->code, kOpEqual);
  EXPECT_EQ(root->type, kExprTypeBoolean);
  const ExpressionNode& sum = *root->first;
  EXPECT_EQ(sum.kind, kNodeBinary);
  EXPECT_EQ(sum.code, kOpAdd);
  EXPECT_EQ(sum.text, "+");
  EXPECT_EQ(sum.first->kind, kNodeColumn);
  EXPECT_EQ(sum.first->column_name, "a");
  EXPECT_EQ(sum.second->type, kExprTypeInt32);
  EXPECT_EQ(sum.second->size, 4);
  EXPECT_EQ(sum.second->Int32Value(), 1);
  EXPECT_EQ(root->second->type, kExprTypeFloat);
  EXPECT_EQ(root->second->size, 8);
  EXPECT_EQ(root->second->FloatValue(), 2.5);

  ExpressionNodePtr s = ParseText("'abc'");
  EXPECT_EQ(s->kind, kNodeConstant);
  EXPECT_EQ(s->type, kExprTypeString);
  EXPECT_EQ(s->size, 4);
  EXPECT_EQ(s->StringValue(), "abc");

  ExpressionNodePtr b = ParseText("True");
  EXPECT_EQ(b->type, kExprTypeBoolean);
  EXPECT_EQ(b->size, 2);
  EXPECT_EQ(b->Int16Value(), -1);

  ExpressionNodePtr n = ParseText("NULL");
  EXPECT_EQ(n->is_null, 1);
  EXPECT_EQ(n->type, kExprTypeNone);

  ExpressionNodePtr p = ParseText("?");
  EXPECT_EQ(p->is_parameter, 1);
  EXPECT_EQ(p->type, kExprTypeNone);

  ExpressionNodePtr d = ParseText("DATE");
  EXPECT_EQ(d->type, kExprTypeDate);
  EXPECT_EQ(d->size, 4);
  ExpressionNodePtr now = ParseText("NOW");
  EXPECT_EQ(now->type, kExprTypeTimestamp);
  EXPECT_EQ(now->size, 8);
  // NOW is today at midnight.
  EXPECT_EQ(now->FloatValue(), static_cast<double>(d->UInt32Value()) * 86400000.0);

  ExpressionNodePtr like = ParseText("x LIKE 'a%'");
  EXPECT_EQ(like->kind, kNodePredicate);
  EXPECT_EQ(like->code, kOpLike);
  EXPECT_EQ(like->type, kExprTypeBoolean);

  ExpressionNodePtr e = ParseText("EXTRACT(YEAR FROM d)");
  EXPECT_EQ(e->kind, kNodeFunction);
  EXPECT_EQ(e->type, kExprTypeInt32);

  ExpressionNodePtr neg = ParseText("-2.5");
  EXPECT_EQ(neg->kind, kNodeUnary);
  EXPECT_EQ(neg->type, kExprTypeFloat);  // the primary's type
}

TEST(ExprParserTest, Tokens) {
  TExpressionParser p;
  p.SetText(" 12.5e+3 12 'it''s' [First Name] 1e sym_1 \xE9t\xE9 /* note */ <> \"q\" 1e-5x");
  EXPECT_EQ(p.NextToken(), kTokenFloat);
  EXPECT_EQ(p.TokenText(), "12.5e+3");
  EXPECT_EQ(p.NextToken(), kTokenInteger);
  EXPECT_EQ(p.TokenText(), "12");
  EXPECT_EQ(p.NextToken(), kTokenQuotedText);
  EXPECT_EQ(p.TokenText(), "it''s");  // doubled quotes stay doubled in the token text
  EXPECT_EQ(p.TokenName(), "it's");   // a name takes them once
  EXPECT_EQ(p.NextToken(), kTokenBracketedName);
  EXPECT_EQ(p.TokenText(), "First Name");
  EXPECT_EQ(p.TokenName(), "First Name");
  EXPECT_EQ(p.NextToken(), kTokenFloat);
  EXPECT_EQ(p.TokenText(), "1e");
  EXPECT_EQ(p.NextToken(), kTokenSymbol);
  EXPECT_EQ(p.TokenText(), "sym_1");
  EXPECT_EQ(p.NextToken(), kTokenSymbol);  // bytes 0x81-0xFE are letters
  EXPECT_EQ(p.TokenText(), "\xE9t\xE9");
  EXPECT_EQ(p.NextToken(), '<');  // the comment is skipped
  EXPECT_EQ(p.NextToken(), '>');
  EXPECT_EQ(p.NextToken(), kTokenQuotedText);
  EXPECT_EQ(p.TokenText(), "q");
  EXPECT_EQ(p.NextToken(), kTokenFloat);
  EXPECT_EQ(p.TokenText(), "1e-5");
  EXPECT_EQ(p.NextToken(), kTokenSymbol);
  EXPECT_EQ(p.NextToken(), kTokenEnd);
  EXPECT_EQ(p.NextToken(), kTokenEnd);  // the end does not advance
  EXPECT_EQ(p.TokenText(), "");

  // 1-2 is three tokens: a sign counts only directly after an exponent letter.
  p.SetText("1-2 1.2.3 \x80");
  EXPECT_EQ(p.NextToken(), kTokenInteger);
  EXPECT_EQ(p.NextToken(), '-');
  EXPECT_EQ(p.NextToken(), kTokenInteger);
  EXPECT_EQ(p.NextToken(), kTokenFloat);
  EXPECT_EQ(p.TokenText(), "1.2.3");
  EXPECT_EQ(p.NextToken(), 0x80);  // 0x80 is not a letter

  // TokenIs matches symbols and bracketed names, ignoring case, nothing else.
  p.SetText("select [Select] 'select'");
  p.NextToken();
  EXPECT_TRUE(p.TokenIs("SELECT"));
  p.NextToken();
  EXPECT_TRUE(p.TokenIs("select"));
  p.NextToken();
  EXPECT_FALSE(p.TokenIs("SELECT"));
  EXPECT_TRUE(p.TokenKindIs(kTokenQuotedText));

  // Token texts are cut at 255 characters.
  p.SetText(std::string(300, 'n'));
  p.NextToken();
  EXPECT_EQ(p.TokenText(), std::string(255, 'n'));

  // Text after an embedded NUL is not part of the statement.
  p.SetText(std::string("a\0b", 3));
  p.NextToken();
  EXPECT_EQ(p.TokenText(), "a");
  EXPECT_EQ(p.NextToken(), kTokenEnd);

  // Only one comment is skipped before a token: a second one starts with the "/" token.
  p.SetText("/* a */ /* b */ x");
  EXPECT_EQ(p.NextToken(), '/');
}

TEST(ExprParserTest, QuotedTextValues) {
  // Doubled quotes are taken once in the value; the node text keeps the token as written.
  ExpressionNodePtr c = ParseText(
      "'L''Or\xE9"
      "al'");
  EXPECT_EQ(c->StringValue(),
            "L'Or\xE9"
            "al");
  EXPECT_EQ(c->size, 8);
  EXPECT_EQ(c->text,
            "L''Or\xE9"
            "al");
  ExpressionNodePtr d = ParseText("\"say \"\"hi\"\"\"");
  EXPECT_EQ(d->StringValue(), "say \"hi\"");
  ExpressionNodePtr mixed = ParseText("\"it's\"");
  EXPECT_EQ(mixed->StringValue(), "it's");

  // 254 characters fit the value area; 255 are refused rather than cut.
  std::string max(254, 'x');
  ExpressionNodePtr m = ParseText("'" + max + "'");
  EXPECT_EQ(m->StringValue(), max);
  EXPECT_EQ(m->size, 255);
  EXPECT_EQ(ParseError("a = '" + std::string(255, 'x') + "'"),
            "String constant exceeds maximum length of 254 characters in WHERE clause");
  // Doubled quotes count once.
  std::string doubled(200, 'x');
  doubled += std::string(100, '\'');
  ExpressionNodePtr q = ParseText("'" + doubled + "'");
  EXPECT_EQ(q->StringValue().size(), 250u);
}

TEST(ExprParserTest, NumericConstants) {
  EXPECT_EQ(ParseText("2147483647")->Int32Value(), 2147483647);
  EXPECT_EQ(ParseText("12.5e+3")->FloatValue(), 12500.0);
  EXPECT_EQ(ParseText("1.")->FloatValue(), 1.0);
  EXPECT_EQ(ParseText("007")->Int32Value(), 7);
  for (const char* bad : {"2147483648", "12345678901", "1e", "1e+", "1.2.3", "1e5e5", "1e999",
                          "1ee2", "99999999999999999999999"}) {
    EXPECT_EQ(ParseError(std::string("a = ") + bad),
              std::string("Invalid numeric constant '") + bad + "' in WHERE clause")
        << bad;
  }
}

TEST(ExprParserTest, TokenizerMessages) {
  EXPECT_EQ(ParseError("a /* x * y */"),
            "Missing ending comment slash and asterisk in SQL statement");
  EXPECT_EQ(ParseError("a /* never closed"),
            "Missing ending comment slash and asterisk in SQL statement");
  EXPECT_EQ(ParseError("a = 'abc"), "Missing single quote after 'abc' in SQL statement");
  EXPECT_EQ(ParseError("a = \"abc"), "Missing double quote after 'abc' in SQL statement");
  EXPECT_EQ(ParseError("a = 'it''s"), "Missing single quote after 'it''s' in SQL statement");
  EXPECT_EQ(ParseError("[First"), "Missing right bracket after 'First' in SQL statement");
}

TEST(ExprParserTest, GrammarMessages) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"x BETWEEN 1 OR 2", "Expected AND operator in BETWEEN operator, instead found 'OR' in W"},
      {"x IN 1", "Expected left parentheses after IN operator, instead found '1' in W"},
      {"x IN (1, 2", "Expected right parentheses after IN operator, instead found '' in W"},
      {"x IN (1 2)", "Expected right parentheses after IN operator, instead found '2' in W"},
      {"x IN ()", "You must provide at least one value as an operand of the IN operator  in W"},
      {"x NOT IN x", "Expected left parentheses for IN operator, instead found 'x' in W"},
      {"x NOT y", "Unknown or unexpected symbol 'y' found in W"},
      {"x IS 5", "Unknown or unexpected symbol '5' found in W"},
      {"x IS NOT 5", "Unknown or unexpected symbol '5' found in W"},
      {"a | b",
       "Second concatenation symbol '|' expected after first concatentation symbol, instead "
       "found 'b' in W"},
      {"(a + b", "Right parentheses expected, instead found '' in W"},
      {"(a + b]", "Right parentheses expected, instead found ']' in W"},
      {"foo(1)", "Unknown or unexpected function 'foo' found in W"},
      {"a = )", "Unknown or unexpected symbol ')' found in W"},
      {"a = ", "Unknown or unexpected symbol '' found in W"},
      {"T.5",
       "Symbol or string expression expected after table correlation name separator '.', "
       "instead found '5' in W"},
      {"SUM a", "Left parentheses expectedafter aggregate function 'SUM', instead found 'a' in W"},
      {"count(a",
       "Right parentheses expected after aggregate count function argument, instead "
       "found '' in W"},
      {"UPPER a", "Left parentheses expectedafter UPPER keyword, instead found 'a' in W"},
      {"UPPER(a b",
       "Right parentheses expected after UPPER function argument, instead found 'b' "
       "in W"},
      {"LOWER a", "Left parentheses expectedafter LOWER keyword, instead found 'a' in W"},
      {"LOWER(a",
       "Right parentheses expected after LOWER function argument, instead found '' "
       "in W"},
      {"SUBSTRING a", "Left parentheses expected after SUBSTRING keyword, instead found 'a' in W"},
      {"SUBSTRING(a, 1)",
       "FROM keyword expected after first SUBSTRING function argument, "
       "instead found ',' in W"},
      {"SUBSTRING(a FROM 1 FOR 2 3)",
       "Right parentheses expected after SUBSTRING function "
       "arguments, instead found '3' in W"},
      {"TRIM a", "Left parentheses expected after TRIM keyword, instead found 'a' in W"},
      {"TRIM(MIDDLE 'x' FROM a)",
       "LEADING, TRAILING, or BOTH keyword expected after TRIM "
       "keyword, instead found 'MIDDLE' in W"},
      {"TRIM(BOTH 'x' a)",
       "FROM keyword expected after second TRIM function argument, instead "
       "found 'a' in W"},
      {"TRIM(BOTH 'x' FROM a",
       "Right parentheses expected after TRIM function arguments, "
       "instead found '' in W"},
      {"EXTRACT YEAR",
       "Left parentheses expected after EXTRACT keyword, instead found 'YEAR' "
       "in W"},
      {"EXTRACT(HOUR FROM d)",
       "YEAR, MONTH, or DAY keyword expected after EXTRACT keyword, "
       "instead found 'HOUR' in W"},
      {"EXTRACT(YEAR d)",
       "FROM keyword expected after second EXTRACT function argument, "
       "instead found 'd' in W"},
      {"EXTRACT(YEAR FROM d",
       "Right parentheses expected after EXTRACT function arguments, "
       "instead found '' in W"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ParseError(text, 15, "W"), expected) << text;
  }
}

TEST(ExprParserTest, ClauseFlags) {
  EXPECT_EQ(ParseError("a LIKE 'x'", 0, "source columns"),
            "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in source "
            "columns");
  for (const char* text : {"a BETWEEN 1 AND 2", "a IN (1)", "a NOT LIKE 'x'", "a IS NULL"}) {
    EXPECT_EQ(ParseError(text, 11, "values"),
              "Extended predicate operators (LIKE, BETWEEN, IN, IS NULL) are not allowed in values")
        << text;
  }
  EXPECT_EQ(ParseError("a = ?", 3, "source columns"),
            "Parameters are not allowed in source columns");
  EXPECT_EQ(ParseError("COUNT(*)", 1, "values"), "* (all columns) symbol is not allowed in values");
  EXPECT_EQ(ParseError("SUM(a)", 12, "WHERE or JOIN clause"),
            "Aggregate functions are not allowed in WHERE or JOIN clause");
  // A column named like an aggregate is read as the aggregate.
  EXPECT_EQ(ParseError("Count > 5", 12, "WHERE or JOIN clause"),
            "Aggregate functions are not allowed in WHERE or JOIN clause");
  // Each construct passes with its flag.
  EXPECT_EQ(Tree("a LIKE 'x'", 4), "(LIKE a 'x')");
  EXPECT_EQ(Tree("a = ?", 8), "(= a ?)");
  EXPECT_EQ(Tree("COUNT(*)", 3), "(COUNT *)");
  EXPECT_EQ(Tree("a * b", 0), "(* a b)");  // "*" in operator position needs no flag
  // A qualified "*" is the same column node as t."*", under the same flag.
  for (const char* text : {"t.*", "t.\"*\"", "[t].[*]"}) {
    ExpressionNodePtr star = ParseText(text, 2, "source columns");
    ASSERT_NE(star, nullptr) << text;
    EXPECT_EQ(star->kind, kNodeColumn) << text;
    EXPECT_EQ(star->column_name, "*") << text;
    EXPECT_EQ(star->correlation_name, "t") << text;
    EXPECT_EQ(star->text, "t.*") << text;
  }
  EXPECT_EQ(Tree("COUNT(t.*) * 2", 3), "(* (COUNT t.*) 2)");
  EXPECT_EQ(ParseError("t.* = 1", 13, "WHERE or JOIN clause"),
            "Symbol or string expression expected after table correlation name separator '.', "
            "instead found '*' in WHERE or JOIN clause");
}

TEST(ExprParserTest, ParseEntriesAndSourceText) {
  TExpressionParser p;
  p.SetText("   ");
  p.NextToken();
  EXPECT_EQ(p.ParseExpression(15, "WHERE"), nullptr);  // the caller names the empty clause
  EXPECT_EQ(p.ParsePrimary(0, "table columns"), nullptr);

  // ParsePrimary stops after one primary: the UPDATE target "a + 1" leaves "+" current.
  p.SetText("a + 1 = 2");
  p.NextToken();
  ExpressionNodePtr target = p.ParsePrimary(0, "table columns");
  EXPECT_EQ(Sexpr(target.get()), "a");
  EXPECT_TRUE(p.TokenKindIs('+'));

  // Source text of a select column: from the mark to the token after the expression.
  p.SetText("SELECT a +  b*2   AS x, c");
  p.NextToken();
  p.NextToken();
  p.MarkSourceStart();
  ExpressionNodePtr column = p.ParseExpression(3, "source columns");
  EXPECT_TRUE(p.TokenIs("AS"));
  EXPECT_EQ(p.CaptureSourceText(), "a +  b*2");

  std::string long_column = "a";
  for (int i = 0; i < 130; ++i) long_column += "+b";
  p.SetText(long_column + " FROM t");
  p.NextToken();
  p.MarkSourceStart();
  p.ParseExpression(3, "source columns");
  EXPECT_EQ(testing::SqlErrorOf([&] { p.CaptureSourceText(); }),
            "Source column expression exceeds maximum expression length of 255 characters");
  // A text kept only as a name is cut instead, trailing blanks dropped first.
  EXPECT_EQ(p.CaptureSourceTextCut(), long_column.substr(0, 255));
  p.SetText("a +  b*2   , c");
  p.NextToken();
  p.MarkSourceStart();
  p.ParseExpression(8, "values");
  EXPECT_EQ(p.CaptureSourceTextCut(), "a +  b*2");
}

TEST(ExprParserTest, NestingLimits) {
  std::string deep = std::string(1000, '(') + "a" + std::string(1000, ')');
  EXPECT_EQ(ParseError(deep), "Expression nesting too deep in WHERE clause");
  std::string fine = std::string(500, '(') + "a" + std::string(500, ')');
  EXPECT_EQ(Tree(fine), "a");

  std::string right_nested = "a";
  for (int i = 0; i < 2000; ++i) right_nested += " = a";
  EXPECT_EQ(ParseError(right_nested), "Expression nesting too deep in WHERE clause");

  // A long left-leaning chain is limited by the height of the tree it builds.
  std::string ors = "a = 1";
  for (int i = 0; i < 5000; ++i) ors += " OR a = 1";
  EXPECT_EQ(ParseError(ors), "Expression nesting too deep in WHERE clause");
  std::string sums = "1";
  for (int i = 0; i < 300; ++i) sums += " + 1";
  EXPECT_NE(ParseText(sums), nullptr);

  std::string unary_chain = "1";
  for (int i = 0; i < 3000; ++i) unary_chain = "UPPER(" + unary_chain + ")";
  EXPECT_EQ(ParseError(unary_chain), "Expression nesting too deep in WHERE clause");

  // IN lists inside IN values: each list is one level deeper.
  auto nested_in = [](int depth) {
    std::string text = "a";
    for (int i = 0; i < depth; ++i) text += " IN (a";
    return text + std::string(depth, ')');
  };
  EXPECT_EQ(Tree(nested_in(2)), "(IN a (IN a a))");
  EXPECT_NE(ParseText(nested_in(200)), nullptr);
  EXPECT_EQ(ParseError(nested_in(100000)), "Expression nesting too deep in WHERE clause");
}

TEST(ExprParserTest, HugeInListIsCopiedAndFreedIteratively) {
  std::string text = "x IN (0";
  for (int i = 1; i < 100000; ++i) text += "," + std::to_string(i);
  text += ")";
  ExpressionNodePtr root = ParseText(text);
  ExpressionNodePtr copy = CopyExpressionTree(root.get());
  size_t count = 0;
  int64_t sum = 0;
  for (const ExpressionNode* v = copy->second.get(); v; v = v->next.get()) {
    ++count;
    sum += v->Int32Value();
  }
  EXPECT_EQ(count, 100000u);
  EXPECT_EQ(sum, int64_t{99999} * 100000 / 2);
  FreeExpressionTree(root);
  EXPECT_EQ(root, nullptr);
  FreeExpression(root);  // an empty holder is accepted
  FreeExpression(copy);
}

TEST(ExprParserTest, CopyIsDeepAndIndependent) {
  ExpressionNodePtr root = ParseText("SUBSTRING(a FROM 2 FOR 3) = 'x' AND b BETWEEN 1 AND 2");
  ExpressionNodePtr copy = CopyExpressionTree(root.get());
  EXPECT_EQ(Sexpr(copy.get()), Sexpr(root.get()));
  copy->first->first->first->column_name = "changed";
  EXPECT_EQ(root->first->first->first->column_name, "a");
  EXPECT_EQ(CopyExpressionTree(nullptr), nullptr);
}

TEST(ExprParserTest, AggregateCodes) {
  EXPECT_EQ(AggregateCodeFromName("sum"), 23u);
  EXPECT_EQ(AggregateCodeFromName("Count"), 24u);
  EXPECT_EQ(AggregateCodeFromName("MIN"), 25u);
  EXPECT_EQ(AggregateCodeFromName("max"), 26u);
  EXPECT_EQ(AggregateCodeFromName("AVG"), 27u);
  EXPECT_EQ(AggregateCodeFromName("TOTAL"), 0u);
}

// ---- random expressions -------------------------------------------------------------------------

// Fully parenthesised infix text of a tree, which must parse back to the same tree.
std::string Infix(const ExpressionNode* n) {
  switch (n->kind) {
    case kNodeConstant:
      return testing::ConstantText(*n);
    case kNodeColumn:
      return n->correlation_name.empty() ? "[" + n->column_name + "]"
                                         : "[" + n->correlation_name + "].[" + n->column_name + "]";
    case kNodeUnary:
      return std::string(n->code == kOpNot      ? "NOT "
                         : n->code == kOpNegate ? "-"
                                                : "+") +
             "(" + Infix(n->first.get()) + ")";
    case kNodeBinary:
      return "(" + Infix(n->first.get()) + " " + n->text + " " + Infix(n->second.get()) + ")";
    case kNodePredicate: {
      std::string s = "(" + Infix(n->first.get()) + " " + testing::OperatorName(n->code) + " ";
      if (n->code == kOpLike || n->code == kOpNotLike) return s + Infix(n->second.get()) + ")";
      if (n->code == kOpBetween || n->code == kOpNotBetween) {
        return s + Infix(n->second.get()) + " AND " + Infix(n->second->next.get()) + ")";
      }
      s += "(";
      for (const ExpressionNode* v = n->second.get(); v; v = v->next.get()) {
        s += Infix(v);
        if (v->next) s += ", ";
      }
      return s + "))";
    }
    case kNodeFunction: {
      std::string name = testing::OperatorName(n->code);
      if (n->code == kFnSubstring) {
        std::string s = "SUBSTRING(" + Infix(n->first.get()) + " FROM " + Infix(n->second.get());
        if (n->second->next) s += " FOR " + Infix(n->second->next.get());
        return s + ")";
      }
      if (n->code >= kFnTrimLeading && n->code <= kFnTrimBoth) {
        return "TRIM(" + name + " " + Infix(n->second.get()) + " FROM " + Infix(n->first.get()) +
               ")";
      }
      if (n->code >= kFnExtractYear)
        return "EXTRACT(" + name + " FROM " + Infix(n->first.get()) + ")";
      return name + "(" + Infix(n->first.get()) + ")";
    }
  }
  return "?";
}

// Random well-formed expression text from the grammar.
class ExpressionGenerator {
 public:
  explicit ExpressionGenerator(uint32_t seed) : rng_(seed) {}

  std::string Expression(int depth) {
    int pick = Pick(depth <= 0 ? 2 : 12);
    switch (pick) {
      case 0:
        return Column();
      case 1:
        return Constant();
      case 2:
        return Operand(depth - 1) + " " + Binary() + " " + Operand(depth - 1);
      case 3:
        return Unary() + Primary(depth - 1);
      case 4:
        return Operand(depth - 1) + (Pick(2) ? " NOT" : "") + " LIKE " + String();
      case 5:
        return Column() + (Pick(2) ? " NOT" : "") + " BETWEEN " + ListValue(depth - 1) + " AND " +
               ListValue(depth - 1);
      case 6: {
        std::string s = Column() + (Pick(2) ? " NOT" : "") + " IN (" + ListValue(depth - 1);
        for (int i = Pick(4); i > 0; --i) s += ", " + ListValue(depth - 1);
        return s + ")";
      }
      case 7:
        return Column() + (Pick(2) ? " IS NULL" : " IS NOT NULL");
      case 8:
        return std::string(Pick(2) ? "UPPER(" : "SUM(") + Operand(depth - 1) + ")";
      case 9:
        return "SUBSTRING(" + Operand(depth - 1) + " FROM " + std::to_string(1 + Pick(9)) +
               (Pick(2) ? " FOR 2" : "") + ")";
      case 10:
        return "(" + Expression(depth - 1) + ")";
      default:
        return "TRIM(BOTH 'x' FROM " + Operand(depth - 1) + ")";
    }
  }

 private:
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
  std::string Primary(int depth) { return Pick(2) ? Column() : "(" + Expression(depth) + ")"; }
  // Anything that can stand as an operand of a binary operator or a function argument.
  std::string Operand(int depth) {
    switch (Pick(3)) {
      case 0:
        return Column();
      case 1:
        return Constant();
      default:
        return "(" + Expression(depth) + ")";
    }
  }
  // An IN value or BETWEEN bound: mostly a constant, sometimes an arithmetic expression (AND and
  // OR would end the value).
  std::string ListValue(int depth) {
    if (Pick(3) != 0) return Constant();
    static const char* kOps[] = {"+", "-", "*", "/", "||"};
    return Operand(depth) + " " + kOps[Pick(5)] + " " + Operand(depth);
  }
  std::string Column() {
    static const char* kNames[] = {"a", "[b c]", "T.x", "\"Q\".y", "Name"};
    return kNames[Pick(5)];
  }
  std::string String() {
    static const char* kTexts[] = {"'x%'", "'it''s'", "\"q\"", "'_a'"};
    return kTexts[Pick(4)];
  }
  std::string Constant() {
    switch (Pick(6)) {
      case 0:
        return std::to_string(Pick(100000));
      case 1:
        return "2.5e-3";
      case 2:
        return String();
      case 3:
        return Pick(2) ? "TRUE" : "FALSE";
      case 4:
        return "NULL";
      default:
        return "?";
    }
  }
  std::string Binary() {
    static const char* kOps[] = {"=",  "<>", "<", "<=", ">", ">=", "AND",
                                 "OR", "+",  "-", "*",  "/", "||"};
    return kOps[Pick(13)];
  }
  std::string Unary() {
    static const char* kOps[] = {"NOT ", "-", "+"};
    return kOps[Pick(3)];
  }

  std::mt19937 rng_;
};

TEST(ExprParserTest, RandomExpressionsRoundTrip) {
  ExpressionGenerator gen(12345);
  for (int i = 0; i < 3000; ++i) {
    std::string text = gen.Expression(5);
    ExpressionNodePtr tree = ParseText(text);
    ASSERT_NE(tree, nullptr) << text;
    std::string printed = Infix(tree.get());
    ExpressionNodePtr again = ParseText(printed);
    ASSERT_EQ(Sexpr(again.get()), Sexpr(tree.get())) << text << "\n" << printed;
  }
}

TEST(ExprParserTest, MutatedAndRandomBytesGiveTreeOrEngineError) {
  ExpressionGenerator gen(777);
  std::mt19937 rng(4242);
  const std::string alphabet = "ab1.e+-*/|=<>()[]'\",?%_ \t NOTANDORLIKEINISNULL\x81\xFE\x01";
  for (int i = 0; i < 5000; ++i) {
    std::string text = gen.Expression(4);
    // Mutate: delete, duplicate or replace a few bytes, or use pure noise.
    if (i % 5 == 0) {
      text.clear();
      for (int k = rng() % 40; k > 0; --k) text.push_back(alphabet[rng() % alphabet.size()]);
    } else {
      for (int k = 1 + rng() % 3; k > 0 && !text.empty(); --k) {
        size_t at = rng() % text.size();
        switch (rng() % 3) {
          case 0:
            text.erase(at, 1);
            break;
          case 1:
            text.insert(at, 1, text[at]);
            break;
          default:
            text[at] = alphabet[rng() % alphabet.size()];
        }
      }
    }
    try {
      TExpressionParser parser;
      parser.SetText(text);
      parser.NextToken();
      parser.ParseExpression(15, "W");
    } catch (const ETesseraEngineError& e) {
      EXPECT_EQ(e.GetError(0).ErrorCode(), 11949) << text;
    }
  }
}

}  // namespace
}  // namespace tessera
