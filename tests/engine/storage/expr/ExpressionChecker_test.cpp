#include "engine/storage/expr/ExpressionChecker.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ExpressionTestUtil.h"
#include "classlib/rtl/DateTime.h"
#include "engine/storage/expr/ExpressionTypes.h"

namespace tessera {
namespace {

using testing::FakeColumn;
using testing::Sexpr;

const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new testing::EngineEnvironment);

const std::vector<FakeColumn> kColumns = {
    {"Name", kExprTypeString, 0, 31},
    {"Active", kExprTypeBoolean},
    {"Age", kExprTypeInt16},
    {"Total", kExprTypeInt32},
    {"Price", kExprTypeMoney, kSubTypeCurrency, 0, 2},
    {"Amount", kExprTypeMoney, 0, 0, 3},
    {"Ratio", kExprTypeFloat},
    {"BirthDate", kExprTypeDate},
    {"Stamp", kExprTypeTimestamp},
    {"Clock", kExprTypeTime},
    {"W", kExprTypeWord},
    {"Memo", kExprTypeBlob},
    {"Short", kExprTypeString, 0, 51},
    {"Notes", kExprTypeString, 0, 251},
    {"Smith2", kExprTypeString, 0, 11},
};

ExpressionNodePtr Checked(std::string_view text, int* lookups = nullptr) {
  ExpressionNodePtr root = testing::ParseText(text);
  CheckExpression("W", *root, testing::LookupOf(kColumns, lookups));
  return root;
}

std::string CheckError(std::string_view text) {
  return testing::SqlErrorOf([&] { Checked(text); });
}

uint32_t DayOf(int y, int m, int d) {
  return static_cast<uint32_t>(cl::DateTimeToTimeStamp(cl::EncodeDate(y, m, d)).Date);
}

TEST(ExprCheckerTest, BooleanOperandsOfLogicalOperatorsAreWrapped) {
  EXPECT_EQ(Sexpr(Checked("Active AND Age > 30").get()), "(AND (= Active TRUE) (> Age 30))");
  EXPECT_EQ(Sexpr(Checked("Age > 30 OR Active").get()), "(OR (> Age 30) (= Active TRUE))");
  EXPECT_EQ(Sexpr(Checked("NOT Active").get()), "(NOT (= Active TRUE))");
  EXPECT_EQ(Sexpr(Checked("NOT (Age > 3)").get()), "(NOT (> Age 3))");
  // A bare boolean column at the root and a comparison operand are left as they are.
  EXPECT_EQ(Sexpr(Checked("Active").get()), "Active");
  EXPECT_EQ(Sexpr(Checked("Active = FALSE").get()), "(= Active FALSE)");
  ExpressionNodePtr wrapped = Checked("Active AND TRUE");
  const ExpressionNode& eq = *wrapped->first;
  EXPECT_EQ(eq.kind, kNodeBinary);
  EXPECT_EQ(eq.code, kOpEqual);
  EXPECT_EQ(eq.type, kExprTypeBoolean);
  EXPECT_EQ(eq.second->text, "True");
  EXPECT_EQ(eq.second->Int16Value(), -1);
  EXPECT_EQ(eq.second->size, 2);
}

TEST(ExprCheckerTest, QuotedTextsNamingColumnsAreBound) {
  ExpressionNodePtr a = Checked("Name = 'Smith'");
  EXPECT_EQ(a->second->kind, kNodeConstant);
  EXPECT_EQ(a->second->StringValue(), "Smith");

  ExpressionNodePtr b = Checked("'Name' = 'Smith'");
  EXPECT_EQ(b->first->kind, kNodeColumn);
  EXPECT_EQ(b->first->field_number, 1);
  EXPECT_EQ(b->first->from_quoted_text, 1);
  EXPECT_EQ(b->first->saved_type, kExprTypeString);
  EXPECT_EQ(b->first->saved_size, 5);
  EXPECT_EQ(b->second->kind, kNodeConstant);

  // Both sides bound: the right one is turned back into a constant with its own typing.
  ExpressionNodePtr c = Checked("'Name' = 'Smith2'");
  EXPECT_EQ(c->first->kind, kNodeColumn);
  EXPECT_EQ(c->second->kind, kNodeConstant);
  EXPECT_EQ(c->second->type, kExprTypeString);
  EXPECT_EQ(c->second->size, 7);
  EXPECT_EQ(c->second->from_quoted_text, 0);
  EXPECT_EQ(c->second->StringValue(), "Smith2");
  // A real column against a bound text: the text goes back.
  ExpressionNodePtr d = Checked("'Age' = Name");
  EXPECT_EQ(d->first->kind, kNodeConstant);
  EXPECT_EQ(d->first->type, kExprTypeString);
  EXPECT_EQ(d->second->kind, kNodeColumn);
  // A bound text facing a column goes back: two columns are never compared through a text.
  ExpressionNodePtr e = Checked("Name = 'Short'");
  EXPECT_EQ(e->second->kind, kNodeConstant);
  EXPECT_EQ(e->second->StringValue(), "Short");
  // Facing anything else the binding stays.
  ExpressionNodePtr f = Checked("'Total' > 5");
  EXPECT_EQ(f->first->kind, kNodeColumn);
  EXPECT_EQ(f->first->field_number, 4);
  EXPECT_EQ(f->first->type, kExprTypeInt32);

  // LIKE patterns, BETWEEN and IN values, parameters and NULL texts are never offered.
  int lookups = 0;
  Checked("Name LIKE 'Name'", &lookups);
  EXPECT_EQ(lookups, 1);
  lookups = 0;
  Checked(
      "Name IN ('Name', 'Short') AND Name BETWEEN 'Name' AND 'Notes' AND Name = ? AND "
      "Name = ''",
      &lookups);
  EXPECT_EQ(lookups, 4);
}

TEST(ExprCheckerTest, StringConstantsFacingDatesAreConverted) {
  ExpressionNodePtr a = Checked("BirthDate > '12/31/1990'");
  EXPECT_EQ(a->second->type, kExprTypeDate);
  EXPECT_EQ(a->second->size, 4);
  EXPECT_EQ(a->second->UInt32Value(), DayOf(1990, 12, 31));
  ExpressionNodePtr b = Checked("'1/2/2000' <= BirthDate");
  EXPECT_EQ(b->first->UInt32Value(), DayOf(2000, 1, 2));
  ExpressionNodePtr c = Checked("Stamp = '1/2/2000 10:30:00'");
  EXPECT_EQ(c->second->type, kExprTypeTimestamp);
  EXPECT_EQ(c->second->FloatValue(), DayOf(2000, 1, 2) * 86400000.0 + 37800000.0);
  ExpressionNodePtr d = Checked("Clock < '10:30:00'");
  EXPECT_EQ(d->second->type, kExprTypeTime);
  EXPECT_EQ(d->second->UInt32Value(), 37800000u);
  ExpressionNodePtr e = Checked(
      "BirthDate IN ('1/2/2000', NULL) AND BirthDate NOT BETWEEN "
      "'1/1/1990' AND '12/31/1990'");
  EXPECT_EQ(e->first->second->UInt32Value(), DayOf(2000, 1, 2));
  EXPECT_EQ(e->second->second->next->UInt32Value(), DayOf(1990, 12, 31));

  EXPECT_EQ(CheckError("BirthDate > 'abc'"),
            "Date, time, or timestamp expression expected, instead found 'abc' in W");
  EXPECT_EQ(CheckError("BirthDate IN ('1/2/2000', 'bad')"),
            "Date, time, or timestamp expression expected, instead found 'bad' in W");
  // A string column facing a date is a type mismatch, not a date text.
  EXPECT_EQ(CheckError("Name = DATE"),
            "Type mismatch between column 'Name' and constant 'DATE' in W");
  EXPECT_EQ(CheckError("BirthDate = Name"),
            "Type mismatch between column 'BirthDate' and column 'Name' in W");
}

TEST(ExprCheckerTest, ResultTypesSubTypesAndSizes) {
  struct Case {
    const char* text;
    uint8_t type;
    uint8_t sub_type;
    uint8_t size;
    uint8_t decimals;
  };
  const Case cases[] = {
      {"BirthDate - BirthDate", kExprTypeInt32, 0, 4, 0},
      {"Stamp - Stamp", kExprTypeFloat, 0, 8, 0},
      {"Stamp - BirthDate", kExprTypeInt32, 0, 4, 0},
      {"BirthDate + 1", kExprTypeDate, 0, 4, 0},
      {"1 + Stamp", kExprTypeTimestamp, 0, 8, 0},
      {"Clock - 5", kExprTypeTime, 0, 4, 0},
      {"Age + Age", kExprTypeInt32, 0, 4, 0},
      {"Age - W", kExprTypeInt32, 0, 4, 0},
      {"W - Age", kExprTypeWord, 0, 2, 0},
      {"W * Age", kExprTypeInt32, 0, 4, 0},
      {"Age / Total", kExprTypeFloat, 0, 8, 0},
      {"Total / Price", kExprTypeMoney, 0, 8, 2},
      {"Price * Total", kExprTypeMoney, kSubTypeCurrency, 8, 2},
      {"Total * Price", kExprTypeMoney, kSubTypeCurrency, 8, 2},
      {"Price - Amount", kExprTypeMoney, kSubTypeCurrency, 8, 3},
      {"Amount - Price", kExprTypeMoney, 0, 8, 3},
      {"Amount / Price", kExprTypeMoney, 0, 8, 3},
      {"Price + Ratio", kExprTypeFloat, kSubTypeCurrency, 8, 2},
      {"Ratio * 2", kExprTypeFloat, 0, 8, 0},
      {"-Price", kExprTypeMoney, kSubTypeCurrency, 8, 2},
      {"+W", kExprTypeWord, 0, 2, 0},
      {"Name || 'abc'", kExprTypeString, 0, 34, 0},
      {"Short || Notes", kExprTypeString, 0, 255, 0},  // 51 + 251 - 1 clamped
      {"UPPER(Name)", kExprTypeString, 0, 31, 0},
      {"SUBSTRING(Name FROM 2)", kExprTypeString, 0, 30, 0},
      {"SUBSTRING(Name FROM 40)", kExprTypeString, 0, 1, 0},  // FROM past the end
      {"SUBSTRING(Notes FROM 2 FOR 3)", kExprTypeString, 0, 4, 0},
      {"TRIM(BOTH 'x' FROM Short)", kExprTypeString, 0, 51, 0},
      {"EXTRACT(YEAR FROM Stamp)", kExprTypeInt32, 0, 4, 0},
      {"Name LIKE 'a%'", kExprTypeBoolean, 0, 2, 0},
      {"Name = 'a'", kExprTypeBoolean, 0, 2, 0},
      {"Age IS NULL", kExprTypeBoolean, 0, 2, 0},
  };
  for (const Case& c : cases) {
    ExpressionNodePtr root = Checked(c.text);
    EXPECT_EQ(root->type, c.type) << c.text;
    EXPECT_EQ(root->sub_type, c.sub_type) << c.text;
    EXPECT_EQ(root->size, c.size) << c.text;
    EXPECT_EQ(root->decimals, c.decimals) << c.text;
  }

  TExpressionParser p;
  p.SetText("SUM(Price) COUNT(*) MAX(BirthDate)");
  p.NextToken();
  auto lookup = testing::LookupOf(kColumns);
  ExpressionNodePtr sum = p.ParseExpression(3, "source columns");
  CheckExpression("source columns", *sum, lookup);
  EXPECT_EQ(sum->type, kExprTypeMoney);
  EXPECT_EQ(sum->sub_type, kSubTypeCurrency);
  EXPECT_EQ(sum->decimals, 2);
  ExpressionNodePtr count = p.ParseExpression(3, "source columns");
  CheckExpression("source columns", *count, lookup);
  EXPECT_EQ(count->type, kExprTypeInt32);
  EXPECT_EQ(count->size, 4);
  ExpressionNodePtr max = p.ParseExpression(3, "source columns");
  CheckExpression("source columns", *max, lookup);
  EXPECT_EQ(max->type, kExprTypeDate);
}

TEST(ExprCheckerTest, Messages) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Active = 5", "Type mismatch between column 'Active' and constant '5' in W"},
      {"Age + 1 = 'x'", "Type mismatch between expression '+' and constant 'x' in W"},
      {"UPPER(Name) > 3", "Type mismatch between function 'UPPER' and constant '3' in W"},
      {"Memo = Memo", "Type mismatch between column 'Memo' and column 'Memo' in W"},
      {"Active > FALSE", "Type mismatch between column 'Active' and constant 'FALSE' in W"},
      {"-Name", "Type mismatch between '-' operator and 'Name' in W"},
      {"-W", "Type mismatch between '-' operator and 'W' in W"},
      {"NOT Age", "Type mismatch between 'NOT' operator and 'Age' in W"},
      {"Nope = 1", "Invalid column name 'Nope' or table correlation name '' specified in W"},
      {"X.Name = 1", "Invalid column name 'Name' or table correlation name 'X' specified in W"},
      {"UPPER(Age) = 'A'", "Type mismatch between UPPER function and function argument in W"},
      {"LOWER(Total) = 'a'", "Type mismatch between LOWER function and function argument in W"},
      {"SUBSTRING(Age FROM 1) = 'a'",
       "Expression argument of SUBSTRING function must be a string in W"},
      {"SUBSTRING(Name FROM 0) = 'a'",
       "FROM argument of SUBSTRING function must be an integer constant between 1 and 250 in W"},
      {"SUBSTRING(Name FROM 251) = 'a'",
       "FROM argument of SUBSTRING function must be an integer constant between 1 and 250 in W"},
      {"SUBSTRING(Name FROM 2.5) = 'a'",
       "FROM argument of SUBSTRING function must be an integer constant in W"},
      {"SUBSTRING(Name FROM Total) = 'a'",
       "FROM argument of SUBSTRING function must be an integer constant in W"},
      {"SUBSTRING(Name FROM 1 FOR 0) = 'a'",
       "FOR argument of SUBSTRING function must be an integer constant between 1 and 250 in W"},
      {"SUBSTRING(Name FROM 1 FOR 'x') = 'a'",
       "FOR argument of SUBSTRING function must be an integer constant in W"},
      {"TRIM(BOTH 'ab' FROM Name) = 'a'",
       "Trim character argument of TRIM function must be a single character constant in W"},
      {"TRIM(BOTH Name FROM Name) = 'a'",
       "Trim character argument of TRIM function must be a single character constant in W"},
      {"TRIM(LEADING 'x' FROM Age) = 'a'", "FROM argument of TRIM function must be a string in W"},
      {"EXTRACT(YEAR FROM Name) = 1",
       "FROM argument of EXTRACT function must be a date or date and time in W"},
      {"EXTRACT(DAY FROM Clock) = 1",
       "FROM argument of EXTRACT function must be a date or date and time in W"},
      {"Age LIKE 'x'", "Type mismatch between LIKE operator and expression 'Age' in W"},
      {"Name LIKE Short",
       "Constant expression expected after LIKE operator, instead found "
       "'Short' in W"},
      {"Name NOT LIKE 5", "Type mismatch between NOT LIKE operator and expression '5' in W"},
      {"Age BETWEEN Total AND 5",
       "Constant expression expected after BETWEEN operator, "
       "instead found 'Total' in W"},
      {"Age BETWEEN Age + 1 AND 5",
       "Constant expression expected after BETWEEN operator, "
       "instead found '+' in W"},
      {"Age NOT BETWEEN 1 AND 'x'",
       "Type mismatch between NOT BETWEEN operator and expression 'x' in W"},
      {"Age IN (1, 'x')", "Type mismatch between IN operator and expression 'x' in W"},
      {"Age NOT IN (1, Age + 1)",
       "Constant expression expected after NOT IN operator, instead "
       "found '+' in W"},
      {"Name IN (-'a')", "Type mismatch between '-' operator and 'a' in W"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(CheckError(text), expected) << text;

  TExpressionParser p;
  p.SetText("AVG(Name)");
  p.NextToken();
  ExpressionNodePtr avg = p.ParseExpression(3, "source columns");
  EXPECT_EQ(testing::SqlErrorOf(
                [&] { CheckExpression("source columns", *avg, testing::LookupOf(kColumns)); }),
            "AVG aggregate function must contain a numeric, date, time, or timestamp expression "
            "in source columns");
}

TEST(ExprCheckerTest, AcceptedForms) {
  // Each of these checks without error.
  for (const char* text :
       {"Age NOT IN (-1, 2, NULL)", "Name LIKE ?", "Name NOT LIKE ''", "Name = ?",
        "Price > 2.5 AND Ratio < Total", "W + BirthDate = BirthDate", "Stamp > BirthDate",
        "T.Name = 'x'", "BirthDate BETWEEN DATE AND NOW", "Clock - Clock > 5", "Name IS NOT NULL",
        "Active IS NULL", "Name || Short LIKE 'a%'", "EXTRACT(MONTH FROM BirthDate) = 2"}) {
    EXPECT_EQ(CheckError(text), "<no error>") << text;
  }
}

}  // namespace
}  // namespace tessera
