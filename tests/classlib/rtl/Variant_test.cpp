#include "classlib/rtl/Variant.h"

#include <gtest/gtest.h>

#include "classlib/rtl/FormatSettings.h"

namespace cl {
namespace {

// The conversions follow the current format set: the French one, decimal comma, dd/MM/yyyy.
class VariantTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = CurrentFormatSettings();
    SetCurrentFormatSettings(SystemFormatSettings());
  }
  void TearDown() override { SetCurrentFormatSettings(saved_); }

 private:
  TFormatSettings saved_;
};

void ExpectBadConversion(const std::function<void()>& f) {
  try {
    f();
    ADD_FAILURE() << "conversion accepted";
  } catch (const EVariantError& e) {
    EXPECT_EQ(e.Message(), "Conversion de type de variant incorrecte");
  }
}

TEST_F(VariantTest, EmptyAndNull) {
  const Variant empty;
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_FALSE(empty.AsBoolean());
  EXPECT_EQ(empty.AsInteger(), 0);
  EXPECT_EQ(empty.AsDouble(), 0.0);
  EXPECT_EQ(empty.AsString(), "");
  const Variant null = Variant::Null();
  EXPECT_TRUE(VarIsNull(null));
  EXPECT_EQ(VarToStr(null), "");
  EXPECT_EQ(VarToStr(empty), "");
  ExpectBadConversion([&] { null.AsBoolean(); });
  ExpectBadConversion([&] { null.AsInteger(); });
  ExpectBadConversion([&] { null.AsDouble(); });
  ExpectBadConversion([&] { null.AsCurrency(); });
  ExpectBadConversion([&] { null.AsDateTime(); });
  ExpectBadConversion([&] { null.AsString(); });
}

TEST_F(VariantTest, ConversionTable) {
  // Boolean
  EXPECT_EQ(Variant(true).AsInteger(), -1);
  EXPECT_EQ(Variant(true).AsDouble(), -1.0);
  EXPECT_EQ(Variant(true).AsString(), "True");
  EXPECT_EQ(Variant(false).AsString(), "False");
  EXPECT_TRUE(Variant("tRUE").AsBoolean());
  EXPECT_FALSE(Variant("False").AsBoolean());
  EXPECT_TRUE(Variant("2,5").AsBoolean());
  EXPECT_FALSE(Variant("0").AsBoolean());
  EXPECT_TRUE(Variant(0.25).AsBoolean());
  EXPECT_FALSE(Variant(Currency::FromRaw(0)).AsBoolean());
  ExpectBadConversion([] { Variant("oui").AsBoolean(); });

  // Integer: doubles round half to even; out of range fails.
  EXPECT_EQ(Variant(2.5).AsInteger(), 2);
  EXPECT_EQ(Variant(3.5).AsInteger(), 4);
  EXPECT_EQ(Variant(-2.5).AsInteger(), -2);
  EXPECT_EQ(Variant(Currency::FromRaw(25000)).AsInteger(), 2);
  EXPECT_EQ(Variant(Currency::FromRaw(-35000)).AsInteger(), -4);
  EXPECT_EQ(Variant("  42").AsInteger(), 42);
  EXPECT_EQ(Variant("7,5").AsInteger(), 8);
  ExpectBadConversion([] { Variant(3e10).AsInteger(); });
  ExpectBadConversion([] { Variant("7.5").AsInteger(); });  // the point is not the separator
  EXPECT_EQ(Variant(int64_t{5'000'000'000}).Kind(), Variant::Type::Double);
  EXPECT_EQ(Variant(uint16_t{65535}).Kind(), Variant::Type::Integer);

  // Float, currency, date.
  EXPECT_EQ(Variant("1,5").AsDouble(), 1.5);
  EXPECT_EQ(Variant(7).AsDouble(), 7.0);
  EXPECT_EQ(Variant(0.01).AsCurrency(), Currency::FromRaw(100));
  EXPECT_EQ(Variant("12,3456").AsCurrency(), Currency::FromRaw(123456));
  ExpectBadConversion([] { Variant(1e300).AsCurrency(); });
  EXPECT_EQ(Variant("31/01/2024").AsDateTime(), EncodeDate(2024, 1, 31));
  ExpectBadConversion([] { Variant("31/13/2024").AsDateTime(); });

  // String.
  EXPECT_EQ(Variant(-12).AsString(), "-12");
  EXPECT_EQ(Variant(1.5).AsString(), "1,5");
  EXPECT_EQ(Variant(Currency::FromRaw(125000)).AsString(), "12,5");
  const TDateTime noon = EncodeDate(2024, 1, 31) + 0.5;
  EXPECT_EQ(Variant::FromDate(noon).AsString(), "31/01/2024 12:00:00");
  EXPECT_EQ(Variant::FromDate(noon).AsDouble(), noon);
  EXPECT_EQ(Variant::FromDate(noon).Kind(), Variant::Type::Date);
}

TEST_F(VariantTest, Arrays) {
  const Variant keys = VarArrayOf({Variant(3), Variant("Dupont"), Variant::Null()});
  EXPECT_TRUE(VarIsArray(keys));
  EXPECT_EQ(VarArrayLowBound(keys), 0);
  EXPECT_EQ(VarArrayHighBound(keys), 2);
  EXPECT_EQ(keys[1].AsString(), "Dupont");
  EXPECT_TRUE(keys[2].IsNull());
  const Variant copy = keys;  // shares the elements
  EXPECT_EQ(copy.Elements().size(), 3u);
  EXPECT_THROW(keys[3], EVariantError);
  EXPECT_THROW(VarArrayHighBound(Variant(1)), EVariantError);
  ExpectBadConversion([&] { keys.AsString(); });
  EXPECT_THROW((void)(keys == keys), EVariantError);
}

TEST_F(VariantTest, ComparisonsWithFixedNullRules) {
  const Variant null = Variant::Null();
  const Variant one(1);
  EXPECT_TRUE(null == null);
  EXPECT_FALSE(null != null);
  EXPECT_FALSE(null == one);
  EXPECT_TRUE(null != one);
  EXPECT_TRUE(one != null);
  for (const Variant& other : {one, null, Variant("x"), Variant()}) {
    EXPECT_FALSE(null < other);
    EXPECT_FALSE(null > other);
    EXPECT_FALSE(null <= other);
    EXPECT_FALSE(null >= other);
    EXPECT_FALSE(other < null);
    EXPECT_FALSE(other >= null);
  }

  EXPECT_TRUE(Variant("B") < Variant("a")) << "strings compare byte by byte";
  EXPECT_FALSE(Variant("abc") == Variant("ABC"));
  EXPECT_TRUE(Variant("10") == Variant(10)) << "a string against a number is read as a number";
  EXPECT_TRUE(Variant("9,5") < Variant(10));
  EXPECT_THROW((void)(Variant("abc") < Variant(1)), EVariantError);
  EXPECT_TRUE(Variant() == Variant(""));
  EXPECT_TRUE(Variant() == Variant(0));
  EXPECT_TRUE(Variant() < Variant(1));
  EXPECT_TRUE(Variant() < Variant("a"));
  EXPECT_TRUE(Variant(true) == Variant(-1));
  EXPECT_TRUE(Variant(Currency::FromRaw(10000)) == Variant(1));
  EXPECT_TRUE(Variant(Currency::FromRaw(1)) < Variant(Currency::FromRaw(2)));
  EXPECT_TRUE(Variant::FromDate(45000.25) == Variant(45000.25));
  EXPECT_TRUE(Variant(2.5) >= Variant(2));
  EXPECT_TRUE(Variant(2) <= Variant(2));
}

TEST_F(VariantTest, AndOr) {
  EXPECT_EQ(VarAnd(Variant(true), Variant(false)).Kind(), Variant::Type::Boolean);
  EXPECT_FALSE(VarAnd(Variant(true), Variant(false)).AsBoolean());
  EXPECT_TRUE(VarOr(Variant(true), Variant(false)).AsBoolean());
  const Variant bits = VarAnd(Variant(12), Variant(10));
  EXPECT_EQ(bits.Kind(), Variant::Type::Integer);
  EXPECT_EQ(bits.AsInteger(), 8);
  EXPECT_EQ(VarOr(Variant(12), Variant(3)).AsInteger(), 15);
  EXPECT_TRUE(VarAnd(Variant::Null(), Variant(true)).IsNull());
  EXPECT_TRUE(VarOr(Variant(true), Variant::Null()).IsNull());
  EXPECT_TRUE(VarAnd(Variant(0), Variant::Null()).IsNull());
  EXPECT_EQ(VarAnd(Variant(true), Variant(5)).AsInteger(), 5);
  EXPECT_THROW(VarOr(Variant("x"), Variant(1)), EVariantError);
}

}  // namespace
}  // namespace cl
