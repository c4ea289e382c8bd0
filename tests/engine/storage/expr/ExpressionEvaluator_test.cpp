#include "engine/storage/expr/ExpressionEvaluator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "ExpressionTestUtil.h"
#include "classlib/rtl/Collation.h"
#include "classlib/rtl/DateTime.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/expr/ExpressionOperators.h"
#include "engine/storage/expr/ExpressionTypes.h"
#include "engine/storage/expr/TExpressionParser.h"
#include "engine/storage/values/MoneyStorage.h"

namespace tessera {
namespace {

using testing::FakeColumn;

const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new testing::EngineEnvironment);

const std::vector<FakeColumn> kColumns = {
    {"Name", kExprTypeString, 0, 255},
    {"Active", kExprTypeBoolean},
    {"Age", kExprTypeInt16},
    {"Total", kExprTypeInt32},
    {"Price", kExprTypeMoney, kSubTypeCurrency, 0, 2},
    {"Ratio", kExprTypeFloat},
    {"BirthDate", kExprTypeDate},
    {"Stamp", kExprTypeTimestamp},
    {"Clock", kExprTypeTime},
    {"W", kExprTypeWord},
    {"Other", kExprTypeString, 0, 255},
};
enum Field { kName, kActive, kAge, kTotal, kPrice, kRatio, kBirthDate, kStamp, kClock, kW, kOther };

// One record: a value node per column (type set, NULL unless given a value).
struct Record {
  std::vector<ExpressionNodeFields> values;
  Record() : values(kColumns.size()) {
    for (size_t i = 0; i < kColumns.size(); ++i) {
      values[i].type = kColumns[i].type;
      values[i].is_null = 1;
    }
  }
  ExpressionNodeFields& operator[](Field f) {
    values[f].is_null = 0;
    return values[f];
  }
};

ColumnSource SourceOf(const Record& record, int* calls = nullptr) {
  return [&record, calls](ExpressionNode& column) {
    if (calls) ++*calls;
    const ExpressionNodeFields& v = record.values[column.field_number - 1];
    column.value = v.value;
    column.is_null = v.is_null;
  };
}

ExpressionNodePtr CheckedTree(std::string_view text) {
  ExpressionNodePtr root = testing::ParseText(text);
  CheckExpression("W", *root, testing::LookupOf(kColumns));
  return root;
}

ExpressionNodeFields Eval(std::string_view text, const Record& record, uint16_t language = 0) {
  ExpressionNodePtr root = CheckedTree(text);
  ExpressionNode result;
  EvaluateExpression(*root, result, language, 0, SourceOf(record));
  return result.Fields();
}

bool EvalBool(std::string_view text, const Record& record, uint16_t language = 0) {
  ExpressionNodeFields r = Eval(text, record, language);
  EXPECT_EQ(r.type, kExprTypeBoolean) << text;
  EXPECT_EQ(r.is_null, 0) << text;
  return r.BooleanValue();
}

uint32_t DayOf(int y, int m, int d) {
  return static_cast<uint32_t>(cl::DateTimeToTimeStamp(cl::EncodeDate(y, m, d)).Date);
}

TEST(ExprEvalTest, ResultIsAConstantOfTheNodesType) {
  Record rec;
  rec[kTotal].SetInt32(41);
  ExpressionNodePtr root = CheckedTree("Total + 1");
  ExpressionNode result;
  result.first = std::make_unique<ExpressionNode>();
  EvaluateExpression(*root, result, 0, 0, SourceOf(rec));
  EXPECT_EQ(result.kind, kNodeConstant);
  EXPECT_EQ(result.first, nullptr);
  EXPECT_EQ(result.type, kExprTypeInt32);
  EXPECT_EQ(result.size, 4);
  EXPECT_EQ(result.Int32Value(), 42);
  // Without a column source a column keeps the value its node holds.
  ExpressionNodePtr column = CheckedTree("Total");
  column->SetInt32(7);
  EvaluateExpression(*column, result, 0, 0, nullptr);
  EXPECT_EQ(result.Int32Value(), 7);
}

TEST(ExprEvalTest, AndOrShortCutOnTheRightValue) {
  Record rec;
  rec[kTotal].SetInt32(1);
  rec[kAge].SetInt16(1);
  int calls = 0;
  auto run = [&](std::string_view text) {
    calls = 0;
    ExpressionNodePtr root = CheckedTree(text);
    ExpressionNode result;
    EvaluateExpression(*root, result, 0, 0, SourceOf(rec, &calls));
    return result.BooleanValue();
  };
  EXPECT_FALSE(run("Total = 1 AND Age = 2"));
  EXPECT_EQ(calls, 1);  // the left side was never read
  EXPECT_TRUE(run("Total = 2 OR Age = 1"));
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(run("Total = 1 AND Age = 1"));
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(run("Total = 2 OR Age = 2"));
  EXPECT_EQ(calls, 2);
}

TEST(ExprEvalTest, NullRules) {
  Record rec;  // every column NULL
  rec[kAge].SetInt16(5);
  EXPECT_TRUE(EvalBool("Total = NULL", rec));
  EXPECT_TRUE(EvalBool("Total = Total", rec));
  EXPECT_FALSE(EvalBool("Total <> NULL", rec));
  EXPECT_TRUE(EvalBool("Total <> 5", rec));
  EXPECT_FALSE(EvalBool("Total = 5", rec));
  EXPECT_TRUE(EvalBool("Age <> Total", rec));
  // An ordering comparison with NULL is false both ways (an index range agrees).
  EXPECT_FALSE(EvalBool("Total > -1", rec));
  EXPECT_FALSE(EvalBool("Total <= -1", rec));
  EXPECT_FALSE(EvalBool("Age < Total", rec));
  EXPECT_FALSE(EvalBool("Total BETWEEN -10 AND 10", rec));
  EXPECT_TRUE(EvalBool("Total NOT BETWEEN -10 AND 10", rec));
  EXPECT_FALSE(EvalBool("Name LIKE '%'", rec));
  EXPECT_TRUE(EvalBool("Name NOT LIKE '%'", rec));
  EXPECT_TRUE(EvalBool("Total IN (1, NULL)", rec));
  EXPECT_FALSE(EvalBool("Total IN (1, 2)", rec));
  EXPECT_TRUE(EvalBool("Total IS NULL AND Age IS NOT NULL", rec));
  EXPECT_TRUE(EvalBool("NOT Active", rec));  // NULL = True is false
  // Arithmetic and functions of NULL are NULL; concatenation reads NULL as empty.
  for (const char* text : {"Total + 1", "-Total", "Price * 2", "BirthDate + 1", "UPPER(Name)",
                           "SUBSTRING(Name FROM 1)", "TRIM(BOTH 'x' FROM Name)",
                           "EXTRACT(YEAR FROM Stamp)", "Ratio / 2", "Name || Other"}) {
    EXPECT_EQ(Eval(text, rec).is_null, 1) << text;
  }
  rec[kOther].SetString("abc");
  EXPECT_EQ(Eval("Name || Other", rec).StringValue(), "abc");
  EXPECT_EQ(Eval("Name || Other", rec).is_null, 0);
}

TEST(ExprEvalTest, DivisionAndOverflow) {
  Record rec;
  rec[kTotal].SetInt32(2147483647);
  rec[kAge].SetInt16(-32768);
  rec[kW].SetWord(3);
  ExpressionNodeFields r = Eval("7 / 0", rec);
  EXPECT_EQ(r.is_null, 1);
  r = Eval("7 / 2", rec);
  EXPECT_EQ(r.type, kExprTypeFloat);
  EXPECT_EQ(r.FloatValue(), 3.5);
  EXPECT_EQ(Eval("Ratio / 0", rec).is_null, 1);
  EXPECT_EQ(Eval("Total + 1", rec).is_null, 1);
  EXPECT_EQ(Eval("Total * Total", rec).is_null, 1);
  EXPECT_EQ(Eval("-Age", rec).is_null, 1);  // -(-32768) does not fit 16 bits
  EXPECT_EQ(Eval("Total - 1", rec).Int32Value(), 2147483646);
  EXPECT_EQ(Eval("W - 4", rec).is_null, 1);  // below 0 in a word
  EXPECT_EQ(Eval("W - 2", rec).WordValue(), 1);
  rec[kTotal].SetInt32(-2147483647 - 1);
  EXPECT_EQ(Eval("-Total", rec).is_null, 1);
  EXPECT_EQ(Eval("1e308 * 10", rec).is_null, 1);
}

TEST(ExprEvalTest, StringFunctions) {
  Record rec;
  EXPECT_EQ(Eval("SUBSTRING('abcdef' FROM 2 FOR 3)", rec).StringValue(), "bcd");
  EXPECT_EQ(Eval("SUBSTRING('abcdef' FROM 4)", rec).StringValue(), "def");
  EXPECT_EQ(Eval("SUBSTRING('abcdef' FROM 5 FOR 10)", rec).StringValue(), "ef");
  ExpressionNodeFields past = Eval("SUBSTRING('abcdef' FROM 7)", rec);
  EXPECT_EQ(past.is_null, 1);  // the empty string is blank
  EXPECT_TRUE(EvalBool("SUBSTRING('abc' FROM 9) = ''", rec));
  EXPECT_EQ(Eval("TRIM(BOTH 'x' FROM 'xxabxx')", rec).StringValue(), "ab");
  EXPECT_EQ(Eval("TRIM(LEADING 'x' FROM 'xxabxx')", rec).StringValue(), "abxx");
  EXPECT_EQ(Eval("TRIM(TRAILING 'x' FROM 'xxabxx')", rec).StringValue(), "xxab");
  EXPECT_EQ(Eval("TRIM(BOTH 'x' FROM 'xxxx')", rec).is_null, 1);
  EXPECT_EQ(Eval("UPPER('abc\xE9')", rec).StringValue(), "ABC\xE9");  // ASCII only without language
  EXPECT_EQ(Eval("UPPER('abc\xE9')", rec, 0x040C).StringValue(), "ABC\xC9");
  EXPECT_EQ(Eval("LOWER('ABC\xC9')", rec, 0x040C).StringValue(), "abc\xE9");

  // 254-character values: case mapping and concatenation stay within the value area.
  std::string full(254, 'a');
  rec[kName].SetString(full);
  rec[kOther].SetString(std::string(254, 'b'));
  ExpressionNodeFields upper = Eval("UPPER(Name)", rec, 0x040C);
  EXPECT_EQ(upper.StringValue(), std::string(254, 'A'));
  ExpressionNodeFields joined = Eval("Name || Other", rec);
  EXPECT_EQ(joined.StringValue(), full);  // cut at 254
  EXPECT_EQ(joined.size, 255);
  EXPECT_EQ(Eval("SUBSTRING(Name FROM 250 FOR 10)", rec).StringValue(), "aaaaa");
}

TEST(ExprEvalTest, Extract) {
  Record rec;
  uint32_t day = DayOf(2024, 2, 29);
  rec[kBirthDate].SetUInt32(day);
  rec[kStamp].SetFloat(day * 86400000.0 + 86399999.6);  // rounds to the next day
  ExpressionNodeFields month = Eval("EXTRACT(MONTH FROM BirthDate)", rec);
  EXPECT_EQ(month.type, kExprTypeInt32);
  EXPECT_EQ(month.Int32Value(), 2);
  EXPECT_EQ(Eval("EXTRACT(YEAR FROM BirthDate)", rec).Int32Value(), 2024);
  EXPECT_EQ(Eval("EXTRACT(DAY FROM BirthDate)", rec).Int32Value(), 29);
  EXPECT_EQ(Eval("EXTRACT(MONTH FROM Stamp)", rec).Int32Value(), 3);
  EXPECT_EQ(Eval("EXTRACT(DAY FROM Stamp)", rec).Int32Value(), 1);
  rec[kBirthDate].SetUInt32(0);  // no valid day
  EXPECT_EQ(Eval("EXTRACT(YEAR FROM BirthDate)", rec).is_null, 1);
}

TEST(ExprEvalTest, Like) {
  Record rec;
  auto like = [&](const std::string& text, const std::string& pattern) {
    rec[kName].SetString(text);
    rec[kOther].SetString(pattern);
    ExpressionNodePtr root = CheckedTree("Name LIKE 'p'");
    root->second->SetString(pattern);
    ExpressionNode result;
    EvaluateExpression(*root, result, 0, 0, SourceOf(rec));
    return result.BooleanValue();
  };
  EXPECT_TRUE(like("a", "a%"));
  EXPECT_TRUE(like("abc", "a%"));
  EXPECT_TRUE(like("abc", "a_c"));
  EXPECT_FALSE(like("ac", "a_c"));
  EXPECT_FALSE(like("abc", "ABC"));
  EXPECT_FALSE(like("abcd", "abc"));
  EXPECT_TRUE(like("xyz", "%"));
  EXPECT_TRUE(EvalBool("'abc' NOT LIKE 'b%'", rec));

  // A pattern that makes a backtracking matcher explode finishes at once.
  std::string pattern;
  for (int i = 0; i < 120; ++i) pattern += "%a";
  pattern = pattern.substr(0, 240) + "b";
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(like(std::string(254, 'a'), pattern));
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 50);
}

// LIKE as the engine defines it, written directly from its recursive definition.
bool ReferenceLike(std::string_view text, std::string_view pattern) {
  if (pattern == "%") return true;
  if (text.empty()) return pattern.empty();
  if (pattern.empty()) return false;
  if (pattern[0] == '%') {
    return ReferenceLike(text, pattern.substr(1)) || ReferenceLike(text.substr(1), pattern);
  }
  if (pattern[0] == '_' || pattern[0] == text[0]) {
    return ReferenceLike(text.substr(1), pattern.substr(1));
  }
  return false;
}

TEST(ExprEvalTest, LikeAgreesWithItsDefinition) {
  // Patterns without a run of "%": the matcher and the definition agree on every text.
  std::mt19937 rng(31);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  const char kPatternChars[] = {'a', 'b', '%', '_'};
  ExpressionNodePtr root = CheckedTree("'t' LIKE 'p'");
  for (int i = 0; i < 20000; ++i) {
    std::string text, pattern;
    for (int k = pick(7); k > 0; --k) text.push_back("ab"[pick(2)]);
    for (int k = pick(6); k > 0; --k) {
      char c = kPatternChars[pick(4)];
      if (c == '%' && !pattern.empty() && pattern.back() == '%') continue;
      pattern.push_back(c);
    }
    root->first->SetString(text);
    root->first->is_null = text.empty();
    root->second->SetString(pattern);
    root->second->is_null = pattern.empty();
    ExpressionNode result;
    EvaluateExpression(*root, result, 0, 0, nullptr);
    // Empty texts are blank (NULL), which LIKE never matches.
    bool expected = !text.empty() && !pattern.empty() && ReferenceLike(text, pattern);
    ASSERT_EQ(result.BooleanValue(), expected) << "'" << text << "' LIKE '" << pattern << "'";
  }
}

TEST(ExprEvalTest, StringComparisonUnderALanguage) {
  Record rec;
  rec[kName].SetString("\xE9t\xE9");                 // été
  EXPECT_FALSE(EvalBool("Name < 'f'", rec));         // binary: 0xE9 sorts after 'f'
  EXPECT_TRUE(EvalBool("Name < 'f'", rec, 0x040C));  // French: é sorts with e
  rec[kName].SetString("abc");
  EXPECT_TRUE(EvalBool("Name < 'abd'", rec));
  EXPECT_TRUE(EvalBool("Name > 'ab'", rec));
  EXPECT_FALSE(EvalBool("Name = 'ABC'", rec, 0x040C));  // case-sensitive
  EXPECT_TRUE(EvalBool("Name <> 'ABC'", rec));
}

TEST(ExprEvalTest, DateTimeArithmetic) {
  Record rec;
  uint32_t day = DayOf(2000, 2, 28);
  rec[kBirthDate].SetUInt32(day);
  rec[kStamp].SetFloat(day * 86400000.0 + 3600000.0);
  rec[kClock].SetUInt32(86399000);
  rec[kTotal].SetInt32(2);
  EXPECT_EQ(Eval("BirthDate + 1", rec).UInt32Value(), DayOf(2000, 2, 29));
  EXPECT_EQ(Eval("Total + BirthDate", rec).UInt32Value(), DayOf(2000, 3, 1));
  EXPECT_EQ(Eval("BirthDate - 28", rec).UInt32Value(), DayOf(2000, 1, 31));
  ExpressionNodeFields diff = Eval("BirthDate - (BirthDate - 365)", rec);
  EXPECT_EQ(diff.type, kExprTypeInt32);
  EXPECT_EQ(diff.Int32Value(), 365);
  EXPECT_EQ(Eval("Stamp - BirthDate", rec).Int32Value(), 3600000);
  EXPECT_EQ(Eval("Stamp + 1", rec).FloatValue(), (day + 1) * 86400000.0 + 3600000.0);
  ExpressionNodeFields span = Eval("Stamp - (Stamp - 2)", rec);
  EXPECT_EQ(span.type, kExprTypeFloat);
  EXPECT_EQ(span.FloatValue(), 2 * 86400000.0);
  EXPECT_EQ(Eval("Clock - 1000", rec).UInt32Value(), 86398000u);
  EXPECT_EQ(Eval("Clock + 1000", rec).is_null, 1);  // past the end of the day
  EXPECT_EQ(Eval("Clock - Clock", rec).Int32Value(), 0);
  EXPECT_EQ(Eval("BirthDate + 5000000", rec).is_null, 1);       // past 9999-12-31
  EXPECT_EQ(Eval("Stamp - (BirthDate - 30)", rec).is_null, 1);  // beyond 32 bits of ms
  // A date faces a timestamp at 00:00 of its day.
  EXPECT_TRUE(EvalBool("Stamp > BirthDate", rec));
  EXPECT_TRUE(EvalBool("BirthDate < Stamp", rec));
  EXPECT_TRUE(EvalBool("BirthDate >= '2/28/2000'", rec));
  EXPECT_FALSE(EvalBool("BirthDate > '2/28/2000'", rec));
}

TEST(ExprEvalTest, MoneyArithmeticAndComparison) {
  Record rec;
  rec[kPrice].SetInt64(125000);  // 12.50
  rec[kAge].SetInt16(12);
  rec[kTotal].SetInt32(3);
  EXPECT_TRUE(EvalBool("Price = 12.5", rec));
  EXPECT_TRUE(EvalBool("Price > Age", rec));  // 12.50 > 12, by value
  EXPECT_TRUE(EvalBool("Price < 13", rec));
  EXPECT_TRUE(EvalBool("Price - 0.5 = Age", rec));
  ExpressionNodeFields sum = Eval("Price + Total", rec);
  EXPECT_EQ(sum.type, kExprTypeMoney);
  EXPECT_EQ(sum.Int64Value(), 155000);
  EXPECT_EQ(Eval("Price * Total", rec).Int64Value(), 375000);
  ExpressionNodeFields third = Eval("Price / Total", rec);  // 4.1666.. rounded to 2 decimals
  EXPECT_EQ(third.type, kExprTypeMoney);
  EXPECT_EQ(third.Int64Value(), 41700);
  EXPECT_EQ(Eval("Price / 0", rec).is_null, 1);
  EXPECT_EQ(Eval("-Price", rec).Int64Value(), -125000);
  ExpressionNodeFields as_float = Eval("Price + 0.25", rec);
  EXPECT_EQ(as_float.type, kExprTypeFloat);
  EXPECT_EQ(as_float.FloatValue(), 12.75);
  rec[kPrice].SetInt64(INT64_MAX - 5);
  EXPECT_EQ(Eval("Price + 1", rec).is_null, 1);
  EXPECT_EQ(Eval("Price * 2", rec).is_null, 1);
}

TEST(ExprEvalTest, MoneyFieldsCrossTheColumnSourceInUnits) {
  // A money field stores 12.5 with 2 decimals as 12502; the column source hands the evaluator
  // 1/10000 units, and values go back to a field through the field's decimals.
  const int64_t stored = 12502;
  ExpressionNodePtr root = CheckedTree("Price = 12.5 AND Price * 2 = 25");
  ColumnSource source = [&](ExpressionNode& column) {
    column.SetInt64(StoredToMoney(stored).Raw);
    column.is_null = 0;
  };
  ExpressionNode result;
  EvaluateExpression(*root, result, 0, 0, source);
  EXPECT_TRUE(result.BooleanValue());

  ExpressionNodePtr computed = CheckedTree("Price + 0.004");  // a float
  EvaluateExpression(*computed, result, 0, 0, source);
  ExpressionNode money;
  ConvertValue(result, kExprTypeMoney, 2, money);
  EXPECT_EQ(MoneyToStored(2, cl::Currency::FromRaw(money.Int64Value())), stored);
}

TEST(ExprEvalTest, InAndBetween) {
  Record rec;
  rec[kAge].SetInt16(7);
  rec[kName].SetString("b");
  EXPECT_TRUE(EvalBool("Age IN (1, 7, 9)", rec));
  EXPECT_FALSE(EvalBool("Age NOT IN (1, 7, 9)", rec));
  EXPECT_TRUE(EvalBool("Age IN (-7, 7.0)", rec));
  EXPECT_TRUE(EvalBool("Age BETWEEN 7 AND 7", rec));
  EXPECT_FALSE(EvalBool("Age BETWEEN 8 AND 1", rec));
  EXPECT_TRUE(EvalBool("Age NOT BETWEEN -1 AND 6", rec));
  EXPECT_TRUE(EvalBool("Name BETWEEN 'a' AND 'c'", rec));
  EXPECT_TRUE(EvalBool("Name IN ('a', 'b')", rec));
}

TEST(ExprEvalTest, PrefixCompare) {
  auto node = [](const char* s, uint8_t type = kExprTypeString) {
    auto n = std::make_unique<ExpressionNode>();
    n->kind = kNodeConstant;
    n->type = type;
    if (s)
      n->SetString(s);
    else
      n->is_null = 1;
    return n;
  };
  ExpressionNode r;
  EvaluatePrefixCompare(kOpEqual, 3, false, *node("abcdef"), *node("abcxyz"), r);
  EXPECT_TRUE(r.BooleanValue());
  EvaluatePrefixCompare(kOpEqual, 4, false, *node("abcdef"), *node("abcxyz"), r);
  EXPECT_FALSE(r.BooleanValue());
  EvaluatePrefixCompare(kOpEqual, 0, false, *node("abc"), *node("abc"), r);
  EXPECT_TRUE(r.BooleanValue());
  EvaluatePrefixCompare(kOpEqual, 3, true, *node("ABcdef"), *node("abC"), r);
  EXPECT_TRUE(r.BooleanValue());
  EvaluatePrefixCompare(kOpEqual, 3, false, *node("ABcdef"), *node("abC"), r);
  EXPECT_FALSE(r.BooleanValue());
  EvaluatePrefixCompare(kOpNotEqual, 3, false, *node("ABcdef"), *node("abC"), r);
  EXPECT_TRUE(r.BooleanValue());
  EvaluatePrefixCompare(kOpEqual, 5, false, *node("ab"), *node("abcde"), r);  // short side
  EXPECT_FALSE(r.BooleanValue());
  EvaluatePrefixCompare(kOpEqual, 2, false, *node(nullptr), *node("ab"), r);
  EXPECT_FALSE(r.BooleanValue());
  EvaluatePrefixCompare(kOpNotEqual, 2, false, *node(nullptr), *node("ab"), r);
  EXPECT_TRUE(r.BooleanValue());
  // A right side without a type asks whether the left is NULL.
  EvaluatePrefixCompare(kOpEqual, 2, false, *node(nullptr), *node(nullptr, 0), r);
  EXPECT_TRUE(r.BooleanValue());
  EvaluatePrefixCompare(kOpEqual, 2, false, *node("x"), *node(nullptr, 0), r);
  EXPECT_FALSE(r.BooleanValue());
}

TEST(ExprEvalTest, ConvertValue) {
  auto value = [](uint8_t type) {
    ExpressionNode n;
    n.kind = kNodeConstant;
    n.type = type;
    return n;
  };
  ExpressionNode out;
  auto to = [&](const ExpressionNode& from, uint8_t type, uint8_t decimals = 0) {
    ConvertValue(from, type, decimals, out);
    EXPECT_EQ(out.type, type);
    return &out;
  };
  ExpressionNode f = value(kExprTypeFloat);
  f.SetFloat(2.5);
  EXPECT_EQ(to(f, kExprTypeInt32)->Int32Value(), 3);  // halves away from zero
  f.SetFloat(-2.5);
  EXPECT_EQ(to(f, kExprTypeInt32)->Int32Value(), -3);
  EXPECT_EQ(to(f, kExprTypeInt16)->Int16Value(), -3);
  f.SetFloat(1e10);
  EXPECT_EQ(to(f, kExprTypeInt32)->is_null, 1);
  f.SetFloat(70000);
  EXPECT_EQ(to(f, kExprTypeInt16)->is_null, 1);
  f.SetFloat(2.345);
  ExpressionNode* m = to(f, kExprTypeMoney, 2);
  EXPECT_EQ(m->Int64Value(), 23500);
  EXPECT_EQ(m->decimals, 2);
  f.SetFloat(-0.005);
  EXPECT_EQ(to(f, kExprTypeMoney, 2)->Int64Value(), -100);

  ExpressionNode i = value(kExprTypeInt32);
  i.SetInt32(70000);
  EXPECT_EQ(to(i, kExprTypeInt16)->Int16Value(), 4464);  // the low 16 bits
  EXPECT_EQ(to(i, kExprTypeWord)->WordValue(), 4464);
  i.SetInt32(-1);
  EXPECT_EQ(to(i, kExprTypeWord)->WordValue(), 65535);
  EXPECT_EQ(to(i, kExprTypeMoney, 2)->Int64Value(), -10000);
  EXPECT_EQ(to(i, kExprTypeFloat)->FloatValue(), -1.0);

  ExpressionNode s = value(kExprTypeInt16);
  s.SetInt16(-5);
  EXPECT_EQ(to(s, kExprTypeInt32)->Int32Value(), -5);
  ExpressionNode w = value(kExprTypeWord);
  w.SetWord(65535);
  EXPECT_EQ(to(w, kExprTypeInt32)->Int32Value(), 65535);

  ExpressionNode money = value(kExprTypeMoney);
  money.SetInt64(25000);  // 2.5
  EXPECT_EQ(to(money, kExprTypeFloat)->FloatValue(), 2.5);
  EXPECT_EQ(to(money, kExprTypeInt32)->Int32Value(), 3);
  money.SetInt64(-25000);
  EXPECT_EQ(to(money, kExprTypeInt16)->Int16Value(), -3);

  ExpressionNode date = value(kExprTypeDate);
  date.SetUInt32(730000);
  EXPECT_EQ(to(date, kExprTypeTimestamp)->FloatValue(), 730000 * 86400000.0);
  ExpressionNode ts = value(kExprTypeTimestamp);
  ts.SetFloat(730000 * 86400000.0 + 86399999.0);
  EXPECT_EQ(to(ts, kExprTypeDate)->UInt32Value(), 730000u);

  // Other pairs are copied unchanged and keep their own type.
  ExpressionNode text = value(kExprTypeString);
  text.SetString("12");
  ConvertValue(text, kExprTypeInt32, 0, out);
  EXPECT_EQ(out.type, kExprTypeString);
  EXPECT_EQ(out.StringValue(), "12");
  ExpressionNode time = value(kExprTypeTime);
  time.SetUInt32(1000);
  ConvertValue(time, kExprTypeTimestamp, 0, out);
  EXPECT_EQ(out.type, kExprTypeTime);
  EXPECT_EQ(out.UInt32Value(), 1000u);
  // NULL stays NULL in the target type.
  ExpressionNode null_float = value(kExprTypeFloat);
  null_float.is_null = 1;
  EXPECT_EQ(to(null_float, kExprTypeMoney, 2)->is_null, 1);
}

TEST(ExprEvalTest, ColumnSourceMayEvaluateExpressions) {
  // A computed column evaluates its own expression from inside the column source.
  Record rec;
  rec[kTotal].SetInt32(20);
  ExpressionNodePtr computed = CheckedTree("Total * 2 + 1");
  ExpressionNodePtr root = CheckedTree("Age + Total = 61");
  ColumnSource source = [&](ExpressionNode& column) {
    if (column.field_number == kAge + 1) {
      ExpressionNode inner;
      EvaluateExpression(*computed, inner, 0, 0, SourceOf(rec));
      column.SetInt16(static_cast<int16_t>(inner.Int32Value()));
      column.is_null = 0;
    } else {
      SourceOf(rec)(column);
    }
  };
  ExpressionNode result;
  EvaluateExpression(*root, result, 0, 0, source);
  EXPECT_TRUE(result.BooleanValue());
}

TEST(ExprEvalTest, DeepTreesEvaluate) {
  std::string text = "Total";
  for (int i = 0; i < 500; ++i) text = "(" + text + " + 1)";
  Record rec;
  rec[kTotal].SetInt32(1);
  EXPECT_EQ(Eval(text, rec).Int32Value(), 501);
  std::string in = "Total IN (0";
  for (int i = 1; i < 20000; ++i) in += "," + std::to_string(i);
  rec[kTotal].SetInt32(19999);
  EXPECT_TRUE(EvalBool(in + ")", rec));
}

// Random expressions over the test table, well-formed by the grammar but often ill-typed, and
// mutated byte by byte: each is parsed, checked and evaluated over random records.  Every failure
// must be engine error 11949, and every evaluated value must have the checked type.
class RandomExpressions {
 public:
  explicit RandomExpressions(uint32_t seed) : rng_(seed) {}

  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }

  std::string Expression(int depth) {
    if (depth <= 0) return Pick(2) ? Column() : Constant();
    switch (Pick(11)) {
      case 0:
        return Expression(depth - 1) + " " + Operator() + " " + Expression(depth - 1);
      case 1:
        return "(" + Expression(depth - 1) + ")";
      case 2:
        return std::string(Pick(2) ? "NOT " : "-") + "(" + Expression(depth - 1) + ")";
      case 3:
        return "(" + Expression(depth - 1) + ")" + (Pick(2) ? " NOT" : "") + " LIKE " + Text();
      case 4:
        return Column() + " BETWEEN " + Constant() + " AND " + Constant();
      case 5:
        return Column() + (Pick(2) ? " NOT IN (" : " IN (") + Constant() + ", " + Constant() + ")";
      case 6:
        return std::string(Pick(2) ? "UPPER(" : "LOWER(") + Operand(depth) + ")";
      case 7:
        return "SUBSTRING(" + Operand(depth) + " FROM " + std::to_string(Pick(260)) +
               (Pick(2) ? " FOR " + std::to_string(Pick(260)) : "") + ")";
      case 8:
        return "TRIM(BOTH " + Text() + " FROM " + Operand(depth) + ")";
      case 9:
        return std::string("EXTRACT(") + (Pick(2) ? "YEAR" : "DAY") + " FROM " + Column() + ")";
      default:
        return Column() + (Pick(2) ? " IS NULL" : " IS NOT NULL");
    }
  }

  std::string Mutate(std::string text) {
    static const char kBytes[] = "()'\",.=<>|+-*/%_ ANDORNOT0123456789\xE9";
    for (int k = Pick(4); k > 0 && !text.empty(); --k) {
      size_t at = static_cast<size_t>(Pick(static_cast<int>(text.size())));
      switch (Pick(3)) {
        case 0:
          text.erase(at, 1);
          break;
        case 1:
          text.insert(at, 1, kBytes[Pick(sizeof kBytes - 1)]);
          break;
        default:
          text[at] = kBytes[Pick(sizeof kBytes - 1)];
      }
    }
    return text;
  }

  void Fill(Record& rec) {
    for (size_t i = 0; i < kColumns.size(); ++i) {
      ExpressionNodeFields& v = rec.values[i];
      v.ClearValue();
      v.is_null = Pick(5) == 0;
      if (v.is_null) continue;
      switch (v.type) {
        case kExprTypeString:
          v.SetString(std::string(static_cast<size_t>(Pick(254) + 1), "ab%x\xE9"[Pick(5)]));
          break;
        case kExprTypeBoolean:
          v.SetBoolean(Pick(2));
          break;
        case kExprTypeInt16:
          v.SetInt16(static_cast<int16_t>(rng_()));
          break;
        case kExprTypeInt32:
          v.SetInt32(static_cast<int32_t>(rng_()));
          break;
        case kExprTypeMoney:
          v.SetInt64(static_cast<int64_t>((uint64_t{rng_()} << 32) | rng_()));
          break;
        case kExprTypeFloat:
          v.SetFloat(static_cast<double>(static_cast<int32_t>(rng_())) / 7);
          break;
        case kExprTypeDate:
          v.SetUInt32(rng_() % 3700000);
          break;
        case kExprTypeTimestamp:
          v.SetFloat(static_cast<double>(rng_()) * 1e5);
          break;
        case kExprTypeTime:
          v.SetUInt32(rng_() % 86400000);
          break;
        case kExprTypeWord:
          v.SetWord(static_cast<uint16_t>(rng_()));
          break;
        default:
          break;
      }
    }
  }

 private:
  std::string Operand(int depth) { return Pick(2) ? Column() : "(" + Expression(depth - 1) + ")"; }
  std::string Column() {
    return kColumns[static_cast<size_t>(Pick(static_cast<int>(kColumns.size())))].name;
  }
  std::string Text() {
    static const char* kTexts[] = {"'a%'", "'x'", "'1/2/2000'", "'Name'", "''", "'%_%'"};
    return kTexts[Pick(6)];
  }
  std::string Constant() {
    switch (Pick(8)) {
      case 0:
        return std::to_string(static_cast<int32_t>(rng_() % 100000));
      case 1:
        return "2147483647";
      case 2:
        return "0.5";
      case 3:
        return Text();
      case 4:
        return Pick(2) ? "TRUE" : "FALSE";
      case 5:
        return "NULL";
      case 6:
        return "DATE";
      default:
        return "NOW";
    }
  }
  std::string Operator() {
    static const char* kOps[] = {"=", "<>", "<", ">=", "AND", "OR", "+", "-", "*", "/", "||"};
    return kOps[Pick(11)];
  }

  std::mt19937 rng_;
};

TEST(ExprEvalTest, RandomExpressionsParseCheckAndEvaluateSafely) {
  RandomExpressions gen(20240611);
  Record rec;
  int evaluated = 0;
  for (int i = 0; i < 4000; ++i) {
    std::string text = gen.Expression(4);
    if (i % 3 == 0) text = gen.Mutate(text);
    ExpressionNodePtr root;
    try {
      TExpressionParser parser;
      parser.SetText(text);
      parser.NextToken();
      root = parser.ParseExpression(15, "W");
      if (root == nullptr || !parser.TokenKindIs(kTokenEnd)) continue;
      CheckExpression("W", *root, testing::LookupOf(kColumns));
    } catch (const ETesseraEngineError& e) {
      ASSERT_EQ(e.GetError(0).ErrorCode(), 11949) << text;
      continue;
    }
    for (int r = 0; r < 4; ++r) {
      gen.Fill(rec);
      ExpressionNode result;
      EvaluateExpression(*root, result, r % 2 ? 0x040C : 0, 0, SourceOf(rec));
      ++evaluated;
      ASSERT_EQ(result.kind, kNodeConstant);
      ASSERT_EQ(result.type, root->type) << text;
      if (result.is_null) continue;
      if (result.type == kExprTypeBoolean) {
        ASSERT_TRUE(result.Int16Value() == -1 || result.Int16Value() == 0) << text;
      }
      if (result.type == kExprTypeString) {
        ASSERT_LE(result.StringValue().size(), 254u) << text;
      }
    }
  }
  EXPECT_GT(evaluated, 1000);
}

}  // namespace
}  // namespace tessera
