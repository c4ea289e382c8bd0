#include "engine/storage/values/FieldValues.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/Exceptions.h"
#include "engine/storage/values/MoneyStorage.h"

namespace tessera {
namespace {

constexpr uint8_t kString = 1, kDate = 2, kBlob = 3, kBoolean = 4, kInt16 = 5, kInt32 = 6,
                  kFloat = 7, kMoney = 8, kBytes = 9, kTime = 10, kTimeStamp = 11, kWord = 12;

const TEngineFormatSettings& Fixed() { return FixedFormatSettings(); }
const TEngineFormatSettings& French() {
  static const TEngineFormatSettings s = BuildEngineFormatSettings(0x040C, 0);
  return s;
}

// A 64-byte value area filled with a marker, so that untouched bytes show.
struct Area {
  uint8_t bytes[64];
  Area() { std::memset(bytes, 0xCC, sizeof bytes); }
  void SetString(std::string_view s) {
    std::memcpy(bytes, s.data(), s.size());
    bytes[s.size()] = 0;
  }
  std::string String() const { return reinterpret_cast<const char*>(bytes); }
};

Area Of16(int16_t v) {
  Area a;
  cl::PutI16LE(a.bytes, v);
  return a;
}
Area OfU16(uint16_t v) {
  Area a;
  cl::PutU16LE(a.bytes, v);
  return a;
}
Area Of32(int32_t v) {
  Area a;
  cl::PutI32LE(a.bytes, v);
  return a;
}
Area OfU32(uint32_t v) {
  Area a;
  cl::PutU32LE(a.bytes, v);
  return a;
}
Area OfF64(double v) {
  Area a;
  cl::PutF64LE(a.bytes, v);
  return a;
}
Area OfI64(int64_t v) {
  Area a;
  cl::PutI64LE(a.bytes, v);
  return a;
}
Area OfText(std::string_view s) {
  Area a;
  a.SetString(s);
  return a;
}

const cl::TDateTime kSample =
    cl::ComposeDateTime(cl::EncodeDate(2024, 3, 5), cl::EncodeTime(14, 7, 9, 0));
const uint32_t kSampleDay = 738950;  // 2024-03-05
const uint32_t kSampleMs = (14 * 3600 + 7 * 60 + 9) * 1000;

TEST(FieldValues, StoredFormsOfDatesAndTimes) {
  EXPECT_EQ(DateTimeToStoredDate(0.0), 693594u);
  EXPECT_EQ(DateTimeToStoredDate(cl::EncodeDate(1, 1, 1)), 1u);
  EXPECT_EQ(DateTimeToStoredDate(kSample), kSampleDay);
  EXPECT_EQ(DateTimeToStoredTime(kSample), kSampleMs);
  EXPECT_EQ(DateTimeToStoredTimeStamp(kSample), kSampleDay * 86400000.0 + kSampleMs);
  EXPECT_EQ(StoredDateToDateTime(kSampleDay), cl::EncodeDate(2024, 3, 5));
  EXPECT_EQ(StoredTimeToDateTime(kSampleMs), cl::EncodeTime(14, 7, 9, 0));
  EXPECT_EQ(StoredTimeStampToDateTime(kSampleDay * 86400000.0 + kSampleMs), kSample);
  EXPECT_THROW(StoredDateToDateTime(0), cl::EConvertError);
  EXPECT_THROW(StoredDateToDateTime(0x80000000u), cl::EConvertError);
  EXPECT_THROW(StoredTimeStampToDateTime(-1.0), cl::EConvertError);
}

// The parsed value goes to its own output; the text is never written over.
TEST(FieldValues, TextToDateTimeValueWritesOnlyTheStoredForm) {
  const std::string text = "3/5/2024";
  Area out;
  ASSERT_TRUE(TextToDateTimeValue(text, kDate, Fixed(), out.bytes));
  EXPECT_EQ(cl::GetU32LE(out.bytes), kSampleDay);
  EXPECT_EQ(out.bytes[4], 0xCC);
  EXPECT_EQ(text, "3/5/2024");
  ASSERT_TRUE(TextToDateTimeValue("2:07:09 PM", kTime, Fixed(), out.bytes));
  EXPECT_EQ(cl::GetU32LE(out.bytes), kSampleMs);
  ASSERT_TRUE(TextToDateTimeValue("05/03/2024 14:07:09", kTimeStamp, French(), out.bytes));
  EXPECT_EQ(cl::GetF64LE(out.bytes), kSampleDay * 86400000.0 + kSampleMs);
  EXPECT_EQ(out.bytes[8], 0xCC);
  Area untouched;
  EXPECT_FALSE(TextToDateTimeValue("3/5/2024", kInt32, Fixed(), untouched.bytes));
  EXPECT_EQ(untouched.bytes[0], 0xCC);
  try {
    TextToDateTimeValue("x", kDate, Fixed(), untouched.bytes);
    FAIL();
  } catch (const cl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "'x' is not a valid date");
  }
  EXPECT_EQ(untouched.bytes[0], 0xCC);
}

TEST(FieldValues, ValidateFieldText) {
  struct Case {
    uint8_t type;
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {kWord, "65535", true},
      {kWord, "65536", false},
      {kWord, "-1", false},
      {kWord, "0", true},
      {kInt16, "-32768", true},
      {kInt16, "32768", false},
      {kInt32, "-2147483648", true},
      {kInt32, "2147483648", false},
      {kInt32, "1.5", false},
      {kFloat, "1.5e3", true},
      {kFloat, "1,5", false},
      {kMoney, "12.345", true},
      {kMoney, "abc", false},
      {kBoolean, "true", true},
      {kBoolean, "FALSE", true},
      {kBoolean, "yes", false},
      {kDate, "date", true},
      {kDate, "DATE", true},
      {kDate, "now", false},
      {kDate, "TIME", false},
      {kDate, "12/31/1999", true},
      {kDate, "2/30/2024", false},
      {kTime, "TIME", true},
      {kTime, "Time", true},
      {kTime, "DATE", false},
      {kTime, "11:59 PM", true},
      {kTime, "25:00", false},
      {kTimeStamp, "now", true},
      {kTimeStamp, "Date", true},
      {kTimeStamp, "time", true},
      {kTimeStamp, "12/31/1999", true},
      {kTimeStamp, "12/31/1999 11:00 PM", true},
      {kTimeStamp, "23:00", true},
      {kTimeStamp, "nowhere", false},
      {kString, "anything", true},
      {kBytes, "anything", true},
      {kBlob, "x", false},
      {13, "x", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ValidateFieldText(c.text, c.type, Fixed()), c.valid)
        << "type " << int(c.type) << " '" << c.text << "'";
  }
  for (uint8_t type = 1; type <= 15; ++type) EXPECT_TRUE(ValidateFieldText("", type, Fixed()));
  // The format set decides the separators and the date order.
  EXPECT_TRUE(ValidateFieldText("1,5", kFloat, French()));
  EXPECT_FALSE(ValidateFieldText("1.5", kFloat, French()));
  EXPECT_TRUE(ValidateFieldText("31/12/1999", kDate, French()));
  EXPECT_FALSE(ValidateFieldText("12/31/1999", kDate, French()));
}

TEST(FieldValues, Booleans) {
  EXPECT_EQ(BoolToText(true), "True");
  EXPECT_EQ(BoolToText(false), "False");
  EXPECT_TRUE(TextToBool("true"));
  EXPECT_TRUE(TextToBool("TrUe"));
  EXPECT_FALSE(TextToBool("FALSE"));
  try {
    TextToBool("yes");
    FAIL();
  } catch (const cl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "'yes' is not a valid boolean value");
  }
  EXPECT_THROW(TextToBool(" true"), cl::EConvertError);
}

bool Convert(Area& a, uint8_t from, size_t from_size, uint8_t to, size_t to_size,
             uint8_t decimals = 0, const TEngineFormatSettings& s = Fixed()) {
  return ConvertFieldValue(from, from_size, a.bytes, to, to_size, decimals, s);
}

TEST(FieldValues, ConvertToText) {
  Area a = Of16(-5);
  ASSERT_TRUE(Convert(a, kInt16, 2, kString, 21));
  EXPECT_EQ(a.String(), "-5");
  a = OfU16(65535);
  ASSERT_TRUE(Convert(a, kWord, 2, kString, 21));
  EXPECT_EQ(a.String(), "65535");
  a = OfF64(1234.5);
  ASSERT_TRUE(Convert(a, kFloat, 8, kString, 21, 0, French()));
  EXPECT_EQ(a.String(), "1234,5");
  a = OfI64(-72);
  ASSERT_TRUE(Convert(a, kMoney, 8, kString, 21));
  EXPECT_EQ(a.String(), "-0.07");
  a = OfU16(1);
  ASSERT_TRUE(Convert(a, kBoolean, 2, kString, 21));
  EXPECT_EQ(a.String(), "True");
  a = OfU32(kSampleDay);
  ASSERT_TRUE(Convert(a, kDate, 4, kString, 21));
  EXPECT_EQ(a.String(), "3/5/2024");
  a = OfU32(kSampleMs);
  ASSERT_TRUE(Convert(a, kTime, 4, kString, 21));
  EXPECT_EQ(a.String(), "2:07:09 PM");
  a = OfF64(kSampleDay * 86400000.0 + kSampleMs);
  ASSERT_TRUE(Convert(a, kTimeStamp, 8, kString, 30, 0, French()));
  EXPECT_EQ(a.String(), "05/03/2024 14:07:09");
  // Strings are cut to the destination and zero-terminated and zero-filled.
  a = OfText("abcdef");
  ASSERT_TRUE(Convert(a, kString, 7, kString, 4));
  EXPECT_EQ(a.String(), "abc");
  a = OfI64(123456789012);
  ASSERT_TRUE(Convert(a, kMoney, 8, kString, 6));
  EXPECT_EQ(a.String(), "12345");
  EXPECT_EQ(a.bytes[8], 0xCC);
}

TEST(FieldValues, ConvertFromText) {
  Area a = OfText("42");
  ASSERT_TRUE(Convert(a, kString, 3, kInt16, 2));
  EXPECT_EQ(cl::GetI16LE(a.bytes), 42);
  EXPECT_EQ(a.bytes[2], 0);  // the rest of the source text is left
  a = OfText("65535");
  ASSERT_TRUE(Convert(a, kString, 6, kWord, 2));
  EXPECT_EQ(cl::GetU16LE(a.bytes), 65535);
  a = OfText("-2147483648");
  ASSERT_TRUE(Convert(a, kString, 12, kInt32, 4));
  EXPECT_EQ(cl::GetI32LE(a.bytes), INT32_MIN);
  a = OfText("1,5");
  ASSERT_TRUE(Convert(a, kString, 4, kFloat, 8, 0, French()));
  EXPECT_EQ(cl::GetF64LE(a.bytes), 1.5);
  a = OfText("12.345");
  ASSERT_TRUE(Convert(a, kString, 7, kMoney, 8, 2));
  EXPECT_EQ(cl::GetI64LE(a.bytes), 12352);  // 12.35 at 2 decimals
  a = OfText("true");
  ASSERT_TRUE(Convert(a, kString, 5, kBoolean, 2));
  EXPECT_EQ(cl::GetU16LE(a.bytes), 0xFFFF);
  a = OfText("3/5/2024");
  ASSERT_TRUE(Convert(a, kString, 9, kDate, 4));
  EXPECT_EQ(cl::GetU32LE(a.bytes), kSampleDay);
  a = OfText("2:07:09 PM");
  ASSERT_TRUE(Convert(a, kString, 11, kTime, 4));
  EXPECT_EQ(cl::GetU32LE(a.bytes), kSampleMs);
  a = OfText("3/5/2024 2:07:09 PM");
  ASSERT_TRUE(Convert(a, kString, 20, kTimeStamp, 8));
  EXPECT_EQ(cl::GetF64LE(a.bytes), kSampleDay * 86400000.0 + kSampleMs);
  a = OfText("ab");
  ASSERT_TRUE(Convert(a, kString, 3, kBytes, 5));
  EXPECT_EQ(std::vector<uint8_t>(a.bytes, a.bytes + 6),
            (std::vector<uint8_t>{'a', 'b', 0, 0, 0, 0xCC}));
  for (const auto& [text, type] : std::vector<std::pair<const char*, uint8_t>>{{"70000", kInt16},
                                                                               {"-1", kWord},
                                                                               {"abc", kInt32},
                                                                               {"x", kFloat},
                                                                               {"1e15", kMoney},
                                                                               {"maybe", kBoolean},
                                                                               {"2/30/2024", kDate},
                                                                               {"25:00", kTime},
                                                                               {"x", kTimeStamp}}) {
    Area b = OfText(text);
    const Area before = b;
    EXPECT_THROW(Convert(b, kString, 21, type, 8, 2), cl::EConvertError) << text;
    EXPECT_EQ(std::memcmp(b.bytes, before.bytes, sizeof b.bytes), 0) << text;
  }
}

TEST(FieldValues, ConvertBetweenNumbersTruncatesAndChecksTheRange) {
  Area a = OfF64(3.9);
  ASSERT_TRUE(Convert(a, kFloat, 8, kInt32, 4));
  EXPECT_EQ(cl::GetI32LE(a.bytes), 3);
  a = OfF64(-3.9);
  ASSERT_TRUE(Convert(a, kFloat, 8, kInt16, 2));
  EXPECT_EQ(cl::GetI16LE(a.bytes), -3);
  a = OfF64(-0.5);
  ASSERT_TRUE(Convert(a, kFloat, 8, kWord, 2));
  EXPECT_EQ(cl::GetU16LE(a.bytes), 0);
  a = OfI64(-7992);  // -7.99
  ASSERT_TRUE(Convert(a, kMoney, 8, kInt32, 4));
  EXPECT_EQ(cl::GetI32LE(a.bytes), -7);
  a = OfI64(12502);
  ASSERT_TRUE(Convert(a, kMoney, 8, kFloat, 8));
  EXPECT_EQ(cl::GetF64LE(a.bytes), 12.5);
  a = Of32(7);
  ASSERT_TRUE(Convert(a, kInt32, 4, kMoney, 8, 2));
  EXPECT_EQ(cl::GetI64LE(a.bytes), 7002);  // 7.00, then the decimals digit
  a = OfF64(-0.07);
  ASSERT_TRUE(Convert(a, kFloat, 8, kMoney, 8, 2));
  EXPECT_EQ(cl::GetI64LE(a.bytes), -72);
  a = OfU16(65535);
  ASSERT_TRUE(Convert(a, kWord, 2, kInt32, 4));
  EXPECT_EQ(cl::GetI32LE(a.bytes), 65535);
  a = Of32(-300);
  ASSERT_TRUE(Convert(a, kInt32, 4, kFloat, 8));
  EXPECT_EQ(cl::GetF64LE(a.bytes), -300.0);
  // Out of the destination's range: a conversion error, the buffer unchanged.
  const std::vector<std::tuple<Area, uint8_t, uint8_t>> too_big = {
      {OfF64(1e10), kFloat, kInt32},    {OfF64(40000.0), kFloat, kInt16},
      {OfF64(-1.0), kFloat, kWord},     {OfF64(std::nan("")), kFloat, kInt32},
      {OfF64(1e300), kFloat, kMoney},   {Of32(70000), kInt32, kInt16},
      {Of32(-1), kInt32, kWord},        {Of16(-1), kInt16, kWord},
      {OfU16(40000), kWord, kInt16},    {OfI64(50000000000002), kMoney, kInt32},
      {Of32(INT32_MAX), kInt32, kMoney}};  // 2147483647 at 9 decimals needs 20 digits
  for (const auto& [area, from, to] : too_big) {
    Area b = area;
    EXPECT_THROW(Convert(b, from, 8, to, 8, 9), cl::EConvertError) << int(from) << "->" << int(to);
    EXPECT_EQ(std::memcmp(b.bytes, area.bytes, sizeof b.bytes), 0);
  }
}

TEST(FieldValues, ConvertBooleansDatesAndBytes) {
  Area a = OfU16(2);  // any nonzero value is true
  ASSERT_TRUE(Convert(a, kBoolean, 2, kInt32, 4));
  EXPECT_EQ(cl::GetI32LE(a.bytes), 1);
  a = OfU16(1);
  ASSERT_TRUE(Convert(a, kBoolean, 2, kMoney, 8, 0));
  EXPECT_EQ(cl::GetI64LE(a.bytes), 10);
  a = Of16(5);
  ASSERT_TRUE(Convert(a, kInt16, 2, kBoolean, 2));
  EXPECT_EQ(cl::GetU16LE(a.bytes), 0xFFFF);
  a = OfU16(0);
  ASSERT_TRUE(Convert(a, kWord, 2, kBoolean, 2));
  EXPECT_EQ(cl::GetU16LE(a.bytes), 0);
  a = OfF64(kSampleDay * 86400000.0 + kSampleMs);
  ASSERT_TRUE(Convert(a, kTimeStamp, 8, kDate, 4));
  EXPECT_EQ(cl::GetU32LE(a.bytes), kSampleDay);
  a = OfF64(kSampleDay * 86400000.0 + kSampleMs);
  ASSERT_TRUE(Convert(a, kTimeStamp, 8, kTime, 4));
  EXPECT_EQ(cl::GetU32LE(a.bytes), kSampleMs);
  a = OfU32(kSampleDay);
  ASSERT_TRUE(Convert(a, kDate, 4, kTimeStamp, 8));
  EXPECT_EQ(cl::GetF64LE(a.bytes), kSampleDay * 86400000.0);
  a = OfU32(kSampleMs);
  ASSERT_TRUE(Convert(a, kTime, 4, kTimeStamp, 8));
  EXPECT_EQ(cl::GetF64LE(a.bytes), 693594 * 86400000.0 + kSampleMs);
  EXPECT_EQ(StoredTimeStampToDateTime(cl::GetF64LE(a.bytes)), cl::EncodeTime(14, 7, 9, 0));
  a = OfU32(0x01020304);
  ASSERT_TRUE(Convert(a, kDate, 4, kBytes, 6));
  EXPECT_EQ(std::vector<uint8_t>(a.bytes, a.bytes + 7),
            (std::vector<uint8_t>{4, 3, 2, 1, 0, 0, 0xCC}));
  a = OfF64(-1.0);  // a damaged timestamp
  EXPECT_THROW(Convert(a, kTimeStamp, 8, kDate, 4), cl::EConvertError);
}

TEST(FieldValues, UnsupportedPairsLeaveTheBufferUnchanged) {
  const std::vector<std::pair<uint8_t, uint8_t>> unsupported = {
      {kBlob, kString},     {kString, kBlob},   {kDate, kInt32},    {kInt32, kDate},
      {kBoolean, kFloat},   {kInt32, kBoolean}, {kFloat, kBoolean}, {kTime, kDate},
      {kDate, kTime},       {kBytes, kString},  {kBytes, kInt32},   {kMoney, kBoolean},
      {kTimeStamp, kFloat}, {kBlob, kBytes},    {13, kString},      {kString, 14}};
  for (const auto& [from, to] : unsupported) {
    Area a = Of32(12345);
    const Area before = a;
    EXPECT_FALSE(Convert(a, from, 8, to, 8)) << int(from) << "->" << int(to);
    EXPECT_EQ(std::memcmp(a.bytes, before.bytes, sizeof a.bytes), 0);
  }
  for (uint8_t type : {kDate, kBoolean, kInt16, kInt32, kFloat, kMoney, kTime, kTimeStamp, kWord,
                       kBlob, uint8_t{13}}) {
    Area a = Of32(12345);
    const Area before = a;
    EXPECT_TRUE(Convert(a, type, 8, type, 8)) << int(type);  // the same type stays as it is
    EXPECT_EQ(std::memcmp(a.bytes, before.bytes, sizeof a.bytes), 0);
  }
}

// Every type that converts to text and back returns to its stored value, under both sets.
TEST(FieldValues, EveryTextPairRoundTrips) {
  const std::vector<std::tuple<uint8_t, Area, size_t>> values = {
      {kInt16, Of16(-32768), 2},
      {kInt32, Of32(123456789), 4},
      {kWord, OfU16(65535), 2},
      {kFloat, OfF64(-0.1), 8},
      {kFloat, OfF64(6.02214076e23), 8},
      {kMoney, OfI64(-1234567892), 8},
      {kBoolean, OfU16(0xFFFF), 2},
      {kBoolean, OfU16(0), 2},
      {kDate, OfU32(1), 4},
      {kDate, OfU32(3652059), 4},
      {kTime, OfU32(86399000), 4},
      {kTime, OfU32(0), 4},
      {kTimeStamp, OfF64(86400000.0 + 3723000), 8},
      {kTimeStamp, OfF64(3652059 * 86400000.0 + 86399000), 8}};
  for (const TEngineFormatSettings* s : {&Fixed(), &French()}) {
    for (const auto& [type, value, size] : values) {
      Area a = value;
      ASSERT_TRUE(ConvertFieldValue(type, size, a.bytes, kString, 40, 0, *s));
      const std::string text = a.String();
      // The money value has 2 decimals, which the destination keeps.
      ASSERT_TRUE(ConvertFieldValue(kString, 40, a.bytes, type, size, 2, *s)) << text;
      EXPECT_EQ(std::memcmp(a.bytes, value.bytes, size), 0) << int(type) << " " << text;
    }
  }
}

// The process locale never changes a conversion: the same calls give the same bytes under a
// locale with a decimal comma.
std::vector<std::string> LocaleSensitiveResults() {
  std::vector<std::string> results;
  for (const TEngineFormatSettings* s : {&Fixed(), &French()}) {
    for (const char* text :
         {"1.5", "1,5", "-1234.5e-3", "12/31/1999", "31/12/1999 23:59:59", "11:30 PM", "12.345"}) {
      for (uint8_t type : {kFloat, kMoney, kDate, kTimeStamp, kTime}) {
        Area a = OfText(text);
        std::string r;
        try {
          r = ConvertFieldValue(kString, 40, a.bytes, type, 8, 2, *s)
                  ? std::string(reinterpret_cast<char*>(a.bytes), 8)
                  : "unsupported";
          Area back = a;
          if (ConvertFieldValue(type, 8, back.bytes, kString, 40, 0, *s)) r += "|" + back.String();
        } catch (const cl::EConvertError& e) {
          r = e.Message();
        }
        results.push_back(r);
      }
    }
  }
  return results;
}

TEST(FieldValues, ProcessLocaleNeverMatters) {
  const std::vector<std::string> in_c = LocaleSensitiveResults();
  EXPECT_EQ(in_c[0].substr(9), "1.5");  // float "1.5" under the fixed set
  const std::string old = std::setlocale(LC_ALL, nullptr);
  if (std::setlocale(LC_ALL, "fr_FR.UTF-8") == nullptr) {
    // The set-up script generates the locale, so under CI its absence is a failure.
    if (std::getenv("CI") != nullptr) FAIL() << "the fr_FR.UTF-8 locale is not installed";
    GTEST_SKIP() << "the fr_FR.UTF-8 locale is not installed";
  }
  const std::vector<std::string> in_french = LocaleSensitiveResults();
  std::setlocale(LC_ALL, old.c_str());
  EXPECT_EQ(in_french, in_c);
}

}  // namespace
}  // namespace tessera
