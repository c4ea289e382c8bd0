// Parameters: the translation of named parameters, the stored "Data" bytes, and the engine
// value of each type.
#include "engine/components/TTesseraParams.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/Streams.h"
#include "tests/engine/components/ComponentTestSupport.h"

namespace tessera {
namespace {

using testing::ErrorOf;
using V = std::vector<std::string>;

TEST(ParamsTest, Translation) {
  struct Row {
    std::string text;
    std::string translated;
    V names;
  };
  const Row rows[] = {
      {"SELECT * FROM T WHERE a = :p AND b = :p",
       "SELECT * FROM T WHERE a = ? AND b = ?",
       {"p", "p"}},
      {"WHERE s = ':x' AND t = \":y\" AND u = :z",
       "WHERE s = ':x' AND t = \":y\" AND u = ?",
       {"z"}},
      {"SELECT 1::2, 'a::b'", "SELECT 1:2, 'a::b'", {}},
      {"WHERE :a=1", "WHERE ?", {"a=1"}},
      {"WHERE x = :", "WHERE x = ?", {""}},
      {"VALUES (:a,:b);", "VALUES (?,?);", {"a", "b"}},
      {"WHERE x = :\"my name\" AND", "WHERE x = ? AND", {"my name"}},
      {"WHERE x = :'q'", "WHERE x = ?", {"q"}},
      {"a = :p\r\nAND b = :q\nOR", "a = ?\r\nAND b = ?\nOR", {"p", "q"}},
      {"WHERE 'it''s' = :p", "WHERE 'it''s' = ?", {"p"}},
  };
  for (const Row& row : rows) {
    std::string text = row.text;
    TTesseraParams params;
    TranslateParams(text, &params);
    EXPECT_EQ(text, row.translated) << row.text;
    V names;
    for (int i = 0; i < params.Count(); ++i) names.push_back(params.Item(i)->Name());
    EXPECT_EQ(names, row.names) << row.text;
  }
}

// Hand-written bytes of a two-parameter list, read and written back; damage and a value too
// large to store are refused.
TEST(ParamsTest, StoredData) {
  // clang-format off
  const std::vector<uint8_t> golden = {
      1, 0,  2, 0,                              // version 1, two parameters
      2, 'i', 'd',  1,  3,  4, 0,  0x39, 0x30, 0, 0,  0,  1,   // integer 12345, not null, bound
      1, 's',  1,  1,  3, 0,  'a', 'b', 0,  0,  0,             // string "ab", not null, unbound
  };
  // clang-format on
  TTesseraParams params;
  cl::TMemoryStream in;
  in.WriteBuffer(golden.data(), static_cast<int32_t>(golden.size()));
  in.SetPosition(0);
  params.ReadData(in);
  ASSERT_EQ(params.Count(), 2);
  EXPECT_EQ(params.Item(0)->AsInteger(), 12345);
  EXPECT_EQ(params.Item(0)->ParamType(), cl::ptInput);
  EXPECT_TRUE(params.Item(0)->Bound());
  EXPECT_EQ(params.Item(1)->AsString(), "ab");
  EXPECT_FALSE(params.Item(1)->Bound());
  cl::TMemoryStream out;
  params.WriteData(out);
  EXPECT_EQ(out.Bytes(), golden);

  for (size_t cut = 0; cut < golden.size(); ++cut) {
    cl::TMemoryStream damaged;
    damaged.WriteBuffer(golden.data(), static_cast<int32_t>(cut));
    damaged.SetPosition(0);
    EXPECT_EQ(ErrorOf([&] { params.ReadData(damaged); }), SBadParamData) << cut;
  }
  std::vector<uint8_t> v3 = golden;
  v3[0] = 3;
  cl::TMemoryStream newer;
  newer.WriteBuffer(v3.data(), static_cast<int32_t>(v3.size()));
  newer.SetPosition(0);
  EXPECT_EQ(ErrorOf([&] { params.ReadData(newer); }), SBadParamData);
  EXPECT_EQ(params.Count(), 2);  // unchanged by the refused reads

  params.Item(1)->SetAsMemo(std::string(2048, 'm'));
  cl::TMemoryStream large;
  EXPECT_EQ(ErrorOf([&] { params.WriteData(large); }),
            "Parameter 's', cannot save data larger than 2048 bytes");
}

// Every type through its engine bytes and back, the null flag and the wide format included.
TEST(ParamsTest, EngineValuesRoundTrip) {
  TTesseraParams params;
  params.Add("s")->SetAsString("caf\xE9");
  params.Add("m")->SetAsMemo("memo");
  params.Add("si")->SetAsSmallInt(-2);
  params.Add("i")->SetAsInteger(-70000);
  params.Add("w")->SetAsWord(65535);
  params.Add("b")->SetAsBoolean(true);
  params.Add("f")->SetAsFloat(-1.25);
  params.Add("c")->SetAsCurrency(3.5);
  params.Add("bcd")->SetAsBCD(cl::Currency::FromRaw(-123456789));
  params.Add("d")->SetAsDate(cl::EncodeDate(1, 1, 1));
  params.Add("t")->SetAsTime(cl::EncodeTime(23, 59, 59, 999));
  params.Add("dt")->SetAsDateTime(cl::EncodeDate(9999, 12, 31) + cl::EncodeTime(1, 2, 3, 4));
  params.Add("null")->SetAsInteger(1);
  params.Item(12)->Clear();
  params.Add(std::string(300, 'L'))->SetValue(cl::Variant("wide"));
  cl::TMemoryStream stream;
  params.WriteData(stream);
  EXPECT_EQ(stream.Bytes()[0], 2);  // a name past 255 bytes needs the wide format
  stream.SetPosition(0);
  TTesseraParams copy;
  copy.ReadData(stream);
  cl::TMemoryStream again;
  copy.WriteData(again);
  EXPECT_EQ(again.Bytes(), stream.Bytes());
  EXPECT_EQ(copy.Item(0)->AsString(), "caf\xE9");
  EXPECT_TRUE(copy.Item(12)->IsNull());
  uint8_t bytes[8];
  params.Item(9)->GetData(bytes);
  EXPECT_EQ(bytes[0], 1);  // 0001-01-01 is day 1
  EXPECT_EQ(params.Item(5)->DataSize(), 2u);
  EXPECT_EQ(params.Item(0)->DataSize(), 5u);
}

}  // namespace
}  // namespace tessera
