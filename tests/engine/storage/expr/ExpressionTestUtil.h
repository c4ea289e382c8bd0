// Helpers shared by the expression tests: an S-expression printer for golden trees, a fully
// parenthesised infix printer for round trips, and the capture of an engine error's SQL text.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <charconv>
#include <functional>
#include <string>
#include <vector>

#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/expr/ExpressionChecker.h"
#include "engine/storage/expr/ExpressionNode.h"
#include "engine/storage/expr/TExpressionParser.h"

namespace tessera::testing {

// Starts the engine once so that raised errors keep their SQL text in the session.
class EngineEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { InitializeEngine(); }
  void TearDown() override { ShutdownEngine(); }
};

inline const char* OperatorName(uint32_t code) {
  switch (code) {
    case kOpIsNull:
      return "ISNULL";
    case kOpIsNotNull:
      return "ISNOTNULL";
    case kOpEqual:
      return "=";
    case kOpNotEqual:
      return "<>";
    case kOpGreater:
      return ">";
    case kOpLess:
      return "<";
    case kOpGreaterEqual:
      return ">=";
    case kOpLessEqual:
      return "<=";
    case kOpNot:
      return "NOT";
    case kOpAnd:
      return "AND";
    case kOpOr:
      return "OR";
    case kOpNegate:
      return "-";
    case kOpPlus:
      return "+";
    case kOpAdd:
      return "+";
    case kOpSubtract:
      return "-";
    case kOpMultiply:
      return "*";
    case kOpDivide:
      return "/";
    case kFnSum:
      return "SUM";
    case kFnCount:
      return "COUNT";
    case kFnMin:
      return "MIN";
    case kFnMax:
      return "MAX";
    case kFnAvg:
      return "AVG";
    case kOpLike:
      return "LIKE";
    case kOpIn:
      return "IN";
    case kFnUpper:
      return "UPPER";
    case kFnLower:
      return "LOWER";
    case kOpBetween:
      return "BETWEEN";
    case kOpNotBetween:
      return "NOT BETWEEN";
    case kOpNotLike:
      return "NOT LIKE";
    case kOpNotIn:
      return "NOT IN";
    case kFnSubstring:
      return "SUBSTRING";
    case kFnTrimLeading:
      return "LEADING";
    case kFnTrimTrailing:
      return "TRAILING";
    case kFnTrimBoth:
      return "BOTH";
    case kFnExtractYear:
      return "YEAR";
    case kFnExtractMonth:
      return "MONTH";
    case kFnExtractDay:
      return "DAY";
    default:
      return "?op";
  }
}

inline std::string FormatFloat(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, r.ptr);
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

inline std::string QuoteText(std::string_view s) {
  std::string out = "'";
  for (char c : s) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out + "'";
}

inline std::string ConstantText(const ExpressionNode& n) {
  if (n.is_parameter) return "?";
  if (n.is_null) return "NULL";
  switch (n.type) {
    case kExprTypeString:
      return QuoteText(n.StringValue());
    case kExprTypeBoolean:
      return n.BooleanValue() ? "TRUE" : "FALSE";
    case kExprTypeInt32:
      return std::to_string(n.Int32Value());
    case kExprTypeInt16:
      return std::to_string(n.Int16Value());
    case kExprTypeWord:
      return std::to_string(n.WordValue());
    case kExprTypeFloat:
      return FormatFloat(n.FloatValue());
    case kExprTypeDate:
      return "#d" + std::to_string(n.UInt32Value());
    case kExprTypeTime:
      return "#t" + std::to_string(n.UInt32Value());
    case kExprTypeTimestamp:
      return "#ts" + FormatFloat(n.FloatValue());
    case kExprTypeMoney:
      return "#m" + std::to_string(n.Int64Value());
    default:
      return "#?";
  }
}

inline std::string ColumnText(const ExpressionNode& n) {
  if (n.correlation_name.empty()) return n.column_name;
  return n.correlation_name + "." + n.column_name;
}

// (op child ...) with IN values, BETWEEN bounds and SUBSTRING arguments in a row.
inline std::string Sexpr(const ExpressionNode* n) {
  if (n == nullptr) return "<null>";
  switch (n->kind) {
    case kNodeConstant:
      return ConstantText(*n);
    case kNodeColumn:
      return ColumnText(*n);
    case kNodeUnary:
      return std::string("(") + OperatorName(n->code) + " " + Sexpr(n->first.get()) + ")";
    case kNodeBinary:
    case kNodePrefixCompare:
      return std::string("(") +
             (n->code == kOpAdd && n->text == "||" ? "||" : OperatorName(n->code)) + " " +
             Sexpr(n->first.get()) + " " + Sexpr(n->second.get()) + ")";
    case kNodePredicate:
    case kNodeFunction: {
      // The second operand is followed by the values linked after it.
      std::string s = std::string("(") + OperatorName(n->code) + " " + Sexpr(n->first.get());
      for (const ExpressionNode* v = n->second.get(); v; v = v->next.get()) s += " " + Sexpr(v);
      return s + ")";
    }
    default:
      return "#kind" + std::to_string(n->kind);
  }
}

// The SQL text of the engine error raised by `action`, or "<no error>"; the code must be 11949.
inline std::string SqlErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ETesseraEngineError& e) {
    EXPECT_EQ(e.GetError(0).ErrorCode(), 11949);
    return GetEngineSession()->ErrorSql();
  }
  return "<no error>";
}

// Parses a whole text: NextToken, ParseExpression, and the text must be used up.
inline ExpressionNodePtr ParseText(std::string_view text, uint32_t flags = 15,
                                   std::string_view clause = "WHERE clause") {
  TExpressionParser parser;
  parser.SetText(text);
  parser.NextToken();
  ExpressionNodePtr root = parser.ParseExpression(flags, clause);
  EXPECT_TRUE(parser.TokenKindIs(kTokenEnd)) << "left over at: " << parser.TokenText();
  return root;
}

inline std::string ParseError(std::string_view text, uint32_t flags = 15,
                              std::string_view clause = "WHERE clause") {
  return SqlErrorOf([&] {
    TExpressionParser parser;
    parser.SetText(text);
    parser.NextToken();
    parser.ParseExpression(flags, clause);
  });
}

// Column definitions of a test table; a column's field number is its position + 1.
struct FakeColumn {
  std::string name;
  uint8_t type;
  uint8_t sub_type = 0;
  uint8_t size = 0;  // 0: the natural size of the type
  uint8_t decimals = 0;
};

inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// A lookup over `columns` accepting the correlation names "" and "T".
inline ColumnLookup LookupOf(const std::vector<FakeColumn>& columns, int* calls = nullptr) {
  return [&columns, calls](ExpressionNode& n) {
    if (calls) ++*calls;
    if (!n.correlation_name.empty() && !SameName(n.correlation_name, "T")) return false;
    for (size_t i = 0; i < columns.size(); ++i) {
      const FakeColumn& c = columns[i];
      if (!SameName(c.name, n.column_name)) continue;
      n.field_number = static_cast<uint16_t>(i + 1);
      n.type = c.type;
      n.sub_type = c.sub_type;
      n.size = c.size ? c.size : ValueSizeOfType(c.type);
      n.decimals = c.decimals;
      return true;
    }
    return false;
  };
}

}  // namespace tessera::testing
