// The checker's verdicts and the evaluator's results must agree for every operator and every
// pair of operand types.
#include "engine/storage/expr/ExpressionTypes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExpressionTestUtil.h"
#include "engine/storage/expr/ExpressionChecker.h"
#include "engine/storage/expr/ExpressionOperators.h"

namespace tessera {
namespace {

const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new testing::EngineEnvironment);

const uint8_t kAllTypes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
const uint32_t kBinaryCodes[] = {kOpEqual,        kOpNotEqual,  kOpGreater,  kOpLess,
                                 kOpGreaterEqual, kOpLessEqual, kOpAnd,      kOpOr,
                                 kOpAdd,          kOpSubtract,  kOpMultiply, kOpDivide};
const uint32_t kUnaryCodes[] = {kOpNot, kOpNegate, kOpPlus, kOpIsNull, kOpIsNotNull};

// A non-NULL sample of each type, chosen so that every accepted operation has a defined result
// (dates and timestamps on day 10, so that differences fit 32 bits).
ExpressionNodePtr Sample(uint8_t type) {
  auto n = std::make_unique<ExpressionNode>();
  n->kind = kNodeConstant;
  n->type = type;
  n->size = ValueSizeOfType(type);
  switch (type) {
    case kExprTypeNone:
      n->is_null = 1;
      break;
    case kExprTypeString:
      n->SetString("ab");
      n->size = 3;
      break;
    case kExprTypeDate:
      n->SetUInt32(10);
      break;
    case kExprTypeBoolean:
      n->SetBoolean(true);
      break;
    case kExprTypeInt16:
      n->SetInt16(3);
      break;
    case kExprTypeInt32:
      n->SetInt32(2);
      break;
    case kExprTypeFloat:
      n->SetFloat(1.5);
      break;
    case kExprTypeMoney:
      n->SetInt64(25000);
      break;
    case kExprTypeTime:
      n->SetUInt32(3600000);
      break;
    case kExprTypeTimestamp:
      n->SetFloat(10 * 86400000.0 + 7200000.0);
      break;
    case kExprTypeWord:
      n->SetWord(5);
      break;
    default:
      n->SetInt32(1);
      break;
  }
  return n;
}

std::string ColumnName(uint8_t type) { return "c" + std::to_string(type); }

// Columns c1 .. c12 of each type.
ColumnLookup TypeLookup() {
  return [](ExpressionNode& n) {
    if (n.column_name.size() < 2 || n.column_name[0] != 'c') return false;
    int type = std::stoi(n.column_name.substr(1));
    if (type < 1 || type > 12) return false;
    n.type = static_cast<uint8_t>(type);
    n.size = ValueSizeOfType(n.type);
    n.field_number = static_cast<uint16_t>(type);
    return true;
  };
}

// A column of the type, or the NULL constant for "no type".
ExpressionNodePtr Operand(uint8_t type) {
  auto n = std::make_unique<ExpressionNode>();
  if (type == kExprTypeNone) {
    n->kind = kNodeConstant;
    n->text = "NULL";
    n->is_null = 1;
  } else {
    n->kind = kNodeColumn;
    n->column_name = ColumnName(type);
    n->text = n->column_name;
  }
  return n;
}

std::string Describe(uint8_t type, bool wrapped) {
  if (wrapped) return "expression '='";
  if (type == kExprTypeNone) return "constant 'NULL'";
  return "column '" + ColumnName(type) + "'";
}

TEST(ExprTypesTest, CheckerAndEvaluatorAgreeOnEveryBinaryPair) {
  int accepted_pairs = 0;
  for (uint32_t code : kBinaryCodes) {
    for (uint8_t lt : kAllTypes) {
      for (uint8_t rt : kAllTypes) {
        SCOPED_TRACE("code " + std::to_string(code) + " types " + std::to_string(lt) + ", " +
                     std::to_string(rt));
        bool accepted = OperandTypesCompatible(code, lt, rt);
        uint8_t result_type = BinaryResultType(code, lt, rt);
        EXPECT_EQ(accepted, result_type != 0);

        // The evaluator computes exactly the accepted pairs, in the checker's result type.
        ExpressionNodePtr l = Sample(lt);
        ExpressionNodePtr r = Sample(rt);
        ExpressionNode result;
        result.type = 0xEE;
        result.decimals = 2;
        EvaluateBinaryOperator(code, *l, *r, result);
        if (accepted) {
          ++accepted_pairs;
          EXPECT_EQ(result.type, result_type);
          EXPECT_EQ(result.is_null, 0);
        } else {
          EXPECT_EQ(result.type, 0xEE);
        }

        // The checker gives the same verdict on a tree, naming both operands when it refuses.
        ExpressionNode root;
        root.kind = kNodeBinary;
        root.code = code;
        root.text = "op";
        root.first = Operand(lt);
        root.second = Operand(rt);
        bool logical = code == kOpAnd || code == kOpOr;
        std::string message =
            testing::SqlErrorOf([&] { CheckExpression("W", root, TypeLookup()); });
        if (accepted) {
          EXPECT_EQ(message, "<no error>");
          EXPECT_EQ(root.type, result_type);
        } else {
          EXPECT_EQ(message, "Type mismatch between " +
                                 Describe(lt, logical && lt == kExprTypeBoolean) + " and " +
                                 Describe(rt, logical && rt == kExprTypeBoolean) + " in W");
        }
      }
    }
  }
  EXPECT_GT(accepted_pairs, 150);
}

TEST(ExprTypesTest, CheckerAndEvaluatorAgreeOnEveryUnaryOperand) {
  for (uint32_t code : kUnaryCodes) {
    for (uint8_t type : kAllTypes) {
      SCOPED_TRACE("code " + std::to_string(code) + " type " + std::to_string(type));
      if (!UnaryOperandAccepted(code, type)) continue;
      ExpressionNodePtr operand = Sample(type);
      ExpressionNode result;
      result.type = 0xEE;
      EvaluateUnaryOperator(code, *operand, result);
      EXPECT_EQ(result.type, UnaryResultType(code, type));
      EXPECT_EQ(result.is_null, 0);
    }
  }
  // The unary operators over a column of each type; is-null and is-not-null as filters build
  // them, over any column that can be blank.
  for (uint32_t code : kUnaryCodes) {
    for (uint8_t type : kAllTypes) {
      if (type == kExprTypeNone) continue;
      SCOPED_TRACE("code " + std::to_string(code) + " type " + std::to_string(type));
      ExpressionNode root;
      root.kind = kNodeUnary;
      root.code = code;
      root.text = "u";
      root.first = Operand(type);
      std::string message = testing::SqlErrorOf([&] { CheckExpression("W", root, TypeLookup()); });
      // NOT wraps a boolean column as a comparison, which it accepts.
      if (UnaryOperandAccepted(code, type)) {
        EXPECT_EQ(message, "<no error>");
        EXPECT_EQ(root.type, UnaryResultType(code, type));
      } else {
        EXPECT_EQ(message,
                  "Type mismatch between 'u' operator and '" + ColumnName(type) + "' in W");
      }
    }
  }
}

TEST(ExprTypesTest, CurrencySubType) {
  const uint8_t c = kSubTypeCurrency;
  EXPECT_EQ(BinaryResultSubType(kOpAdd, kExprTypeInt32, 0, kExprTypeMoney, c), c);
  EXPECT_EQ(BinaryResultSubType(kOpMultiply, kExprTypeMoney, c, kExprTypeInt16, 0), c);
  EXPECT_EQ(BinaryResultSubType(kOpSubtract, kExprTypeMoney, c, kExprTypeMoney, 0), c);
  EXPECT_EQ(BinaryResultSubType(kOpSubtract, kExprTypeMoney, 0, kExprTypeMoney, c), 0);
  EXPECT_EQ(BinaryResultSubType(kOpDivide, kExprTypeInt32, 0, kExprTypeMoney, c), 0);
  EXPECT_EQ(BinaryResultSubType(kOpEqual, kExprTypeMoney, c, kExprTypeMoney, c), 0);
  EXPECT_EQ(BinaryResultSubType(kOpAdd, kExprTypeDate, 0, kExprTypeMoney, c), 0);
  EXPECT_EQ(UnaryResultSubType(kOpNegate, c), c);
  EXPECT_EQ(UnaryResultSubType(kOpNot, c), 0);
}

}  // namespace
}  // namespace tessera
