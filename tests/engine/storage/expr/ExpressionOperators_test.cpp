// The value operations against a brute-force reference on random operands: comparisons with the
// NULL rules, strings under a language and in binary order, and arithmetic on integers,
// money and dates computed exactly in 128 bits.
#include "engine/storage/expr/ExpressionOperators.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "ExpressionTestUtil.h"
#include "classlib/rtl/Collation.h"
#include "engine/storage/expr/ExpressionTypes.h"

namespace tessera {
namespace {

using Int128 = __int128;

const uint8_t kNumberTypes[] = {kExprTypeInt16, kExprTypeInt32, kExprTypeWord, kExprTypeMoney,
                                kExprTypeFloat};

class RandomValues {
 public:
  explicit RandomValues(uint32_t seed) : rng_(seed) {}

  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }

  // A value of the type; numbers stay small enough to be exact in every representation, and
  // often collide so that equality is exercised.
  ExpressionNodePtr Value(uint8_t type, bool may_be_null = true) {
    auto n = std::make_unique<ExpressionNode>();
    n->kind = kNodeConstant;
    n->type = type;
    n->size = ValueSizeOfType(type);
    n->decimals = 2;
    if (may_be_null && Pick(6) == 0) {
      n->is_null = 1;
      return n;
    }
    int64_t small = Pick(41) - 20;
    switch (type) {
      case kExprTypeInt16:
        n->SetInt16(static_cast<int16_t>(Pick(3) ? small : Pick(65536) - 32768));
        break;
      case kExprTypeInt32:
        n->SetInt32(Pick(3) ? static_cast<int32_t>(small)
                            : static_cast<int32_t>(static_cast<int64_t>(rng_()) - 2147483648LL));
        break;
      case kExprTypeWord:
        n->SetWord(static_cast<uint16_t>(Pick(3) ? small + 20 : Pick(65536)));
        break;
      case kExprTypeMoney:
        n->SetInt64((Pick(3) ? small * 2500 : static_cast<int64_t>(rng_()) * 7));
        break;
      case kExprTypeFloat:
        n->SetFloat(static_cast<double>(small) * 0.25);
        break;
      case kExprTypeDate:
        n->SetUInt32(static_cast<uint32_t>(730000 + small));
        break;
      case kExprTypeTimestamp:
        n->SetFloat((730000.0 + small) * 86400000.0 + Pick(3) * 43200000.0);
        break;
      case kExprTypeTime:
        n->SetUInt32(static_cast<uint32_t>(Pick(86400000)));
        break;
      case kExprTypeString:
        n->SetString(Text());
        break;
      default:
        break;
    }
    return n;
  }

  std::string Text() {
    static const char* kPieces[] = {"a", "b", "A", "e", "\xE9", "f", "-", "oe", "\x9C", " "};
    std::string s;
    for (int i = Pick(5); i > 0; --i) s += kPieces[Pick(10)];
    return s;
  }

 private:
  std::mt19937 rng_;
};

// A number as an exact multiple of 1/10000, or (dates, times, timestamps) in milliseconds.
Int128 Exact(const ExpressionNode& n) {
  switch (n.type) {
    case kExprTypeInt16:
      return Int128(n.Int16Value()) * 10000;
    case kExprTypeInt32:
      return Int128(n.Int32Value()) * 10000;
    case kExprTypeWord:
      return Int128(n.WordValue()) * 10000;
    case kExprTypeMoney:
      return n.Int64Value();
    case kExprTypeFloat:
      return static_cast<Int128>(std::llround(n.FloatValue() * 10000));
    case kExprTypeDate:
      return Int128(n.UInt32Value()) * 86400000;
    case kExprTypeTimestamp:
      return static_cast<Int128>(std::llround(n.FloatValue()));
    case kExprTypeTime:
      return n.UInt32Value();
    default:
      return 0;
  }
}

int BinaryOrder(std::string_view a, std::string_view b) {
  int c = a.compare(b);
  // std::string_view compares chars as unsigned through char_traits<char>::compare (memcmp).
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool ExpectedComparison(uint32_t code, int c) {
  switch (code) {
    case kOpEqual:
      return c == 0;
    case kOpNotEqual:
      return c != 0;
    case kOpGreater:
      return c > 0;
    case kOpLess:
      return c < 0;
    case kOpGreaterEqual:
      return c >= 0;
    default:
      return c <= 0;
  }
}

TEST(ExprOperatorsTest, ComparisonsMatchTheReference) {
  RandomValues rnd(2024);
  const uint32_t codes[] = {kOpEqual, kOpNotEqual,     kOpGreater,
                            kOpLess,  kOpGreaterEqual, kOpLessEqual};
  const uint8_t families[][2] = {{kExprTypeDate, kExprTypeTimestamp},
                                 {kExprTypeTimestamp, kExprTypeTimestamp},
                                 {kExprTypeDate, kExprTypeDate},
                                 {kExprTypeTime, kExprTypeTime},
                                 {kExprTypeString, kExprTypeString}};
  const cl::TCollation& french = *cl::FindCollation(0x040C);
  for (int i = 0; i < 20000; ++i) {
    uint8_t lt, rt;
    if (rnd.Pick(2)) {
      lt = kNumberTypes[rnd.Pick(5)];
      rt = kNumberTypes[rnd.Pick(5)];
    } else {
      const uint8_t* f = families[rnd.Pick(5)];
      bool swap = rnd.Pick(2);
      lt = f[swap ? 1 : 0];
      rt = f[swap ? 0 : 1];
    }
    uint32_t code = codes[rnd.Pick(6)];
    uint16_t language = rnd.Pick(2) ? 0x040C : 0;
    ExpressionNodePtr l = rnd.Value(lt);
    ExpressionNodePtr r = rnd.Value(rt);
    ExpressionNode result;
    EvaluateBinaryOperator(code, *l, *r, result, language, 0);
    ASSERT_EQ(result.type, kExprTypeBoolean);
    bool expected;
    if (l->is_null || r->is_null) {
      bool both = l->is_null && r->is_null;
      expected = code == kOpEqual ? both : code == kOpNotEqual ? !both : false;
    } else if (lt == kExprTypeString) {
      int c = language ? cl::CollateCompare(french, l->StringValue(), r->StringValue(), false,
                                            cl::TSortMode::kWord)
                       : BinaryOrder(l->StringValue(), r->StringValue());
      expected = ExpectedComparison(code, c);
    } else {
      Int128 a = Exact(*l);
      Int128 b = Exact(*r);
      expected = ExpectedComparison(code, a < b ? -1 : (a > b ? 1 : 0));
    }
    ASSERT_EQ(result.BooleanValue(), expected)
        << "code " << code << " types " << int(lt) << "," << int(rt) << " values "
        << testing::ConstantText(*l) << " " << testing::ConstantText(*r);
  }
}

// The reference of integer and money arithmetic: exact, NULL outside the result's range.
bool ReferenceArithmetic(uint32_t code, const ExpressionNode& l, const ExpressionNode& r,
                         uint8_t result_type, Int128& out) {
  if (result_type == kExprTypeMoney) {
    Int128 a = Exact(l);
    Int128 b = Exact(r);
    Int128 v;
    if (code == kOpAdd) {
      v = a + b;
    } else if (code == kOpSubtract) {
      v = a - b;
    } else if (code == kOpMultiply) {
      // Exact product in 1/10^8, rounded half away from zero to 2 decimals (100 units).
      Int128 p = a * b;
      Int128 step = Int128(10000) * 100;
      Int128 q = p / step;
      Int128 rest = p % step;
      if ((rest < 0 ? -rest : rest) * 2 >= step) q += p < 0 ? -1 : 1;
      v = q * 100;
    } else {
      return false;
    }
    if (v > INT64_MAX || v < INT64_MIN) return false;
    out = v;
    return true;
  }
  Int128 a = Exact(l) / 10000;
  Int128 b = Exact(r) / 10000;
  Int128 v = code == kOpAdd ? a + b : code == kOpSubtract ? a - b : a * b;
  if (result_type == kExprTypeWord) {
    if (v < 0 || v > 65535) return false;
  } else if (v < INT32_MIN || v > INT32_MAX) {
    return false;
  }
  out = v;
  return true;
}

TEST(ExprOperatorsTest, IntegerAndMoneyArithmeticMatchesTheReference) {
  RandomValues rnd(99);
  const uint32_t codes[] = {kOpAdd, kOpSubtract, kOpMultiply};
  const uint8_t exact_types[] = {kExprTypeInt16, kExprTypeInt32, kExprTypeWord, kExprTypeMoney};
  int nulls = 0;
  for (int i = 0; i < 20000; ++i) {
    uint8_t lt = exact_types[rnd.Pick(4)];
    uint8_t rt = exact_types[rnd.Pick(4)];
    uint32_t code = codes[rnd.Pick(3)];
    ExpressionNodePtr l = rnd.Value(lt);
    ExpressionNodePtr r = rnd.Value(rt);
    uint8_t result_type = BinaryResultType(code, lt, rt);
    ASSERT_NE(result_type, 0);
    ExpressionNode result;
    result.decimals = 2;
    EvaluateBinaryOperator(code, *l, *r, result);
    ASSERT_EQ(result.type, result_type);
    Int128 expected = 0;
    bool defined =
        !l->is_null && !r->is_null && ReferenceArithmetic(code, *l, *r, result_type, expected);
    ASSERT_EQ(result.is_null == 0, defined)
        << "code " << code << " " << testing::ConstantText(*l) << " " << testing::ConstantText(*r);
    if (!defined) {
      ++nulls;
      continue;
    }
    Int128 got = result_type == kExprTypeMoney  ? Int128(result.Int64Value())
                 : result_type == kExprTypeWord ? Int128(result.WordValue())
                                                : Int128(result.Int32Value());
    ASSERT_TRUE(got == expected) << "code " << code << " " << testing::ConstantText(*l) << " "
                                 << testing::ConstantText(*r);
  }
  EXPECT_GT(nulls, 100);  // overflows and NULL operands were met
}

TEST(ExprOperatorsTest, DateArithmeticMatchesTheReference) {
  RandomValues rnd(7);
  for (int i = 0; i < 20000; ++i) {
    int kind = rnd.Pick(4);
    ExpressionNodePtr base = rnd.Value(kind < 2    ? kExprTypeDate
                                       : kind == 2 ? kExprTypeTime
                                                   : kExprTypeTimestamp,
                                       false);
    ExpressionNodePtr count = rnd.Value(kExprTypeInt32, false);
    uint32_t code = rnd.Pick(2) ? kOpAdd : kOpSubtract;
    ExpressionNode result;
    EvaluateBinaryOperator(code, *base, *count, result);
    int64_t n = count->Int32Value();
    if (code == kOpSubtract) n = -n;
    if (base->type == kExprTypeDate) {
      int64_t day = int64_t{base->UInt32Value()} + n;
      bool valid = day >= 1 && day <= 3652059;
      ASSERT_EQ(result.is_null == 0, valid);
      if (valid) {
        ASSERT_EQ(result.UInt32Value(), static_cast<uint32_t>(day));
      }
    } else if (base->type == kExprTypeTime) {
      int64_t ms = int64_t{base->UInt32Value()} + n;
      bool valid = ms >= 0 && ms < 86400000;
      ASSERT_EQ(result.is_null == 0, valid);
      if (valid) {
        ASSERT_EQ(result.UInt32Value(), static_cast<uint32_t>(ms));
      }
    } else {
      long double ms = static_cast<long double>(base->FloatValue()) + n * 86400000.0L;
      bool valid = ms >= 86400000.0L && ms < 3652060.0L * 86400000.0L;
      ASSERT_EQ(result.is_null == 0, valid);
      if (valid) {
        ASSERT_EQ(result.FloatValue(), static_cast<double>(ms));
      }
    }
    // Differences of two dates are days.
    ExpressionNodePtr other = rnd.Value(kExprTypeDate, false);
    ExpressionNodePtr date = rnd.Value(kExprTypeDate, false);
    EvaluateBinaryOperator(kOpSubtract, *date, *other, result);
    ASSERT_EQ(result.Int32Value(), int64_t{date->UInt32Value()} - int64_t{other->UInt32Value()});
  }
}

TEST(ExprOperatorsTest, FloatArithmeticAndDivision) {
  RandomValues rnd(5);
  for (int i = 0; i < 5000; ++i) {
    ExpressionNodePtr l = rnd.Value(kNumberTypes[rnd.Pick(5)], false);
    ExpressionNodePtr r = rnd.Value(kNumberTypes[rnd.Pick(5)], false);
    ExpressionNode result;
    result.decimals = 4;
    EvaluateBinaryOperator(kOpDivide, *l, *r, result);
    long double a = static_cast<long double>(Exact(*l)) / 10000;
    long double b = static_cast<long double>(Exact(*r)) / 10000;
    if (b == 0) {
      ASSERT_EQ(result.is_null, 1);
      continue;
    }
    long double expected = a / b;
    double got =
        result.type == kExprTypeMoney ? result.Int64Value() / 10000.0 : result.FloatValue();
    long double tolerance =
        result.type == kExprTypeMoney ? 0.00005L + 1e-9L : std::fabs(expected) * 1e-12L;
    ASSERT_LE(std::fabs(got - expected), tolerance)
        << testing::ConstantText(*l) << " / " << testing::ConstantText(*r);
  }
}

}  // namespace
}  // namespace tessera
