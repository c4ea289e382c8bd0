#include "engine/storage/expr/IndexAnalysis.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ExpressionTestUtil.h"
#include "engine/storage/expr/ExpressionEvaluator.h"

namespace tessera {
namespace {

using testing::FakeColumn;
using testing::Sexpr;

const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new testing::EngineEnvironment);

const std::vector<FakeColumn> kColumns = {
    {"Name", kExprTypeString, 0, 31},
    {"Age", kExprTypeInt32},
    {"City", kExprTypeString, 0, 31},
    {"Code", kExprTypeInt32},  // not indexed
};

// A table of 100 records (Age = record number 1..100, Code = 0, Name "n<k>", City "c<k mod 3>")
// with indexes given as (field number, case-insensitive) pairs.  Counting evaluates the condition
// over every record and, as a real count does, selects an index on the way.
class FakeIndexTable : public IndexAnalysisHost {
 public:
  explicit FakeIndexTable(std::vector<std::pair<uint16_t, bool>> indexes)
      : indexes_(std::move(indexes)) {}

  bool HasIndexLedBy(uint16_t field, bool case_insensitive) override {
    for (auto [f, ci] : indexes_) {
      if (f == field && ci == case_insensitive) return true;
    }
    return false;
  }

  uint32_t CountConditionKeys(const ExpressionNode& condition) override {
    ++counts;
    if (fail_counting) throw std::runtime_error("count failed");
    current_index = 99;  // counting walks some other index
    uint32_t n = 0;
    for (int record = 1; record <= 100; ++record) {
      ExpressionNode result;
      EvaluateExpression(condition, result, 0, 0, [&](ExpressionNode& column) {
        column.is_null = 0;
        switch (column.field_number) {
          case 1:
            column.SetString("n" + std::to_string(record));
            break;
          case 2:
            column.SetInt32(record);
            break;
          case 3:
            column.SetString("c" + std::to_string(record % 3));
            break;
          default:
            column.SetInt32(0);
            break;
        }
      });
      if (result.BooleanValue()) ++n;
    }
    return n;
  }

  uint32_t CurrentRangeKeyCount() override {
    EXPECT_EQ(current_index, 1u) << "the range must be measured on the caller's index";
    return range_keys;
  }
  uint32_t SaveCurrentIndex() override { return current_index; }
  void RestoreCurrentIndex(uint32_t saved) override {
    current_index = saved;
    ++restores;
  }

  uint32_t current_index = 1;
  uint32_t range_keys = 100;
  int counts = 0;
  int restores = 0;
  bool fail_counting = false;

 private:
  std::vector<std::pair<uint16_t, bool>> indexes_;
};

ExpressionNodePtr Tree(std::string_view text) {
  ExpressionNodePtr root = testing::ParseText(text);
  CheckExpression("W", *root, testing::LookupOf(kColumns));
  return root;
}

// Name (case-sensitive), Age, City (case-insensitive) are indexed; Code is not.
FakeIndexTable StandardTable() { return FakeIndexTable({{1, false}, {2, false}, {3, true}}); }

uint8_t Verdict(std::string_view text, uint32_t parent = 0, bool count = false) {
  FakeIndexTable table = StandardTable();
  ExpressionNodePtr root = Tree(text);
  uint8_t verdict = AnalyzeFilterForIndex(table, parent, *root, count);
  EXPECT_EQ(root->index_verdict, verdict);
  EXPECT_EQ(table.current_index, 1u);
  return verdict;
}

TEST(IndexAnalysisTest, SingleConditions) {
  EXPECT_EQ(Verdict("Age = 5"), 0);
  EXPECT_EQ(Verdict("Age >= 5"), 0);
  EXPECT_EQ(Verdict("Age <> 5"), 0);
  EXPECT_EQ(Verdict("Age IS NULL"), 0);  // "=" with the NULL constant
  EXPECT_EQ(Verdict("Code = 5"), 2);     // no index leads with Code
  EXPECT_EQ(Verdict("5 = Age"), 2);      // the column must stand on the left
  EXPECT_EQ(Verdict("Age = Code"), 2);   // against another column
  EXPECT_EQ(Verdict("Age + 1 = 5"), 2);
  EXPECT_EQ(Verdict("Name LIKE 'n1%'"), 2);
  EXPECT_EQ(Verdict("Name NOT LIKE 'n1%'"), 2);
  EXPECT_EQ(Verdict("Age IN (1, 2, 3)"), 0);
  EXPECT_EQ(Verdict("Age NOT IN (1, 2)"), 0);
  EXPECT_EQ(Verdict("Age BETWEEN 1 AND 9"), 0);
  EXPECT_EQ(Verdict("Age NOT BETWEEN 1 AND 9"), 0);
  EXPECT_EQ(Verdict("Age IN (1, -2)"), 2);  // a signed value is no plain key
  EXPECT_EQ(Verdict("Code IN (1, 2)"), 2);
  EXPECT_EQ(Verdict("NOT (Age = 5)"), 0);  // NOT passes its operand's verdict up
  EXPECT_EQ(Verdict("NOT (Code = 5)"), 2);
}

TEST(IndexAnalysisTest, CaseRules) {
  // A plain column needs an exact index, UPPER of a column a case-insensitive one.
  EXPECT_EQ(Verdict("Name = 'n1'"), 0);
  EXPECT_EQ(Verdict("UPPER(Name) = 'N1'"), 2);
  EXPECT_EQ(Verdict("City = 'c1'"), 2);
  EXPECT_EQ(Verdict("UPPER(City) = 'C1'"), 0);
  EXPECT_EQ(Verdict("UPPER(City) IN ('C1', 'C2')"), 0);

  // A prefix comparison takes the case rule from its flag.
  auto prefix = [](const char* column, bool case_insensitive) {
    ExpressionNodePtr root = Tree(std::string(column) + " = 'c'");
    root->kind = kNodePrefixCompare;
    root->prefix_length = 1;
    root->case_insensitive = case_insensitive;
    FakeIndexTable table = StandardTable();
    return AnalyzeFilterForIndex(table, 0, *root, false);
  };
  EXPECT_EQ(prefix("Name", false), 0);
  EXPECT_EQ(prefix("Name", true), 2);
  EXPECT_EQ(prefix("City", true), 0);
  EXPECT_EQ(prefix("City", false), 2);

  // Is-null and is-not-null as filters build them: any index led by the column.
  auto null_test = [](uint32_t code, const char* column) {
    ExpressionNodePtr root = Tree(std::string("-") + column);
    root->code = code;
    FakeIndexTable table = StandardTable();
    return AnalyzeFilterForIndex(table, 0, *root, false);
  };
  EXPECT_EQ(null_test(kOpIsNull, "Age"), 0);
  EXPECT_EQ(null_test(kOpIsNotNull, "Age"), 0);
  EXPECT_EQ(null_test(kOpIsNull, "Code"), 2);
}

TEST(IndexAnalysisTest, AndOrCombination) {
  FakeIndexTable table = StandardTable();
  ExpressionNodePtr root = Tree("Code = 1 AND Age = 5");
  EXPECT_EQ(AnalyzeFilterForIndex(table, 0, *root, false), 1);
  // The served side is moved first.
  EXPECT_EQ(Sexpr(root.get()), "(AND (= Age 5) (= Code 1))");
  EXPECT_EQ(root->first->index_verdict, 0);
  EXPECT_EQ(root->second->index_verdict, 2);

  root = Tree("Age = 5 AND Code = 1");
  EXPECT_EQ(AnalyzeFilterForIndex(table, 0, *root, false), 1);
  EXPECT_EQ(Sexpr(root.get()), "(AND (= Age 5) (= Code 1))");  // already in order

  EXPECT_EQ(Verdict("Age = 5 AND Name = 'n5'"), 0);
  EXPECT_EQ(Verdict("Code = 5 AND Name LIKE 'x%'"), 2);
  EXPECT_EQ(Verdict("Age = 5 OR Name = 'n5'"), 0);
  EXPECT_EQ(Verdict("Age = 5 OR Code = 5"), 2);
  // A partly served side makes the AND partly served and wins over a per-record side.
  root = Tree("Code = 2 AND (Code = 1 AND Age = 5)");
  EXPECT_EQ(AnalyzeFilterForIndex(table, 0, *root, false), 1);
  EXPECT_EQ(root->first->kind, kNodeBinary);
  EXPECT_EQ(root->first->code, kOpAnd);
  EXPECT_EQ(root->first->index_verdict, 1);
  // An OR with a partly served side is evaluated per record.
  EXPECT_EQ(Verdict("Age = 1 OR (Code = 1 AND Age = 5)"), 2);
}

TEST(IndexAnalysisTest, SelectivityCountUnderAParent) {
  // Age > 5 selects 95 of the 100 keys: above trunc(0.9 x 100) = 90.
  EXPECT_EQ(Verdict("Age > 5", kOpAnd, true), 2);
  EXPECT_EQ(Verdict("Age > 10", kOpAnd, true), 0);  // exactly 90
  EXPECT_EQ(Verdict("Age > 9", kOpAnd, true), 2);   // 91
  EXPECT_EQ(Verdict("Age > 5", kOpAnd, false), 0);  // without the count flag
  EXPECT_EQ(Verdict("Age > 5", 0, true), 0);        // nor at the root
  EXPECT_EQ(Verdict("Age <> 50", kOpOr, true), 2);

  FakeIndexTable table = StandardTable();
  ExpressionNodePtr root = Tree("Age > 5 AND Age < 50");
  EXPECT_EQ(AnalyzeFilterForIndex(table, 0, *root, true), 1);
  EXPECT_EQ(table.counts, 2);
  EXPECT_EQ(Sexpr(root.get()), "(AND (< Age 50) (> Age 5))");
  EXPECT_EQ(table.current_index, 1u);  // restored after the counts moved it
  EXPECT_EQ(table.restores, 1);

  // A smaller range makes the same condition relatively broader.
  FakeIndexTable ranged = StandardTable();
  ranged.range_keys = 40;
  root = Tree("Age < 40 AND Name = 'n1'");  // 39 keys > trunc(0.9 x 40) = 36
  EXPECT_EQ(AnalyzeFilterForIndex(ranged, 0, *root, true), 1);
  EXPECT_EQ(Sexpr(root.get()), "(AND (= Name 'n1') (< Age 40))");
}

TEST(IndexAnalysisTest, CurrentIndexIsRestoredWhenTheHostRaises) {
  FakeIndexTable table = StandardTable();
  table.fail_counting = true;
  ExpressionNodePtr root = Tree("Age > 5 AND Code = 1");
  EXPECT_THROW(AnalyzeFilterForIndex(table, 0, *root, true), std::runtime_error);
  EXPECT_EQ(table.restores, 1);
  EXPECT_EQ(table.current_index, 1u);
}

}  // namespace
}  // namespace tessera
