#include "engine/storage/table/FieldAccess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "tests/engine/storage/StorageTestSupport.h"

namespace tessera {
namespace {

using Bytes = std::vector<uint8_t>;

using testing::EngineCode;
using testing::Field;

// One field of every type, an auto-increment field last.
std::vector<TFieldDefinition> AllTypes() {
  std::vector<TFieldDefinition> f = {
      Field(1, "S", kFieldString, 10),  Field(2, "D", kFieldDate),
      Field(3, "B", kFieldBlob),        Field(4, "L", kFieldBoolean),
      Field(5, "I", kFieldInt16),       Field(6, "J", kFieldInt32),
      Field(7, "F", kFieldFloat),       Field(8, "M", kFieldMoney),
      Field(9, "Y", kFieldBytes, 5),    Field(10, "T", kFieldTime),
      Field(11, "TS", kFieldTimeStamp), Field(12, "W", kFieldWord),
      Field(13, "X4", kFieldFourBytes), Field(14, "X10", kFieldTenBytes),
      Field(15, "X", kFieldSized, 7),   Field(16, "No", kFieldInt32)};
  f[7].decimals = 2;
  f[15].sub_type = kSubTypeAutoIncrement;
  AssignFieldOffsets(f);
  return f;
}

const TOpenBlobSize kNoBlobs;

class FieldAccessTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }
  void TearDown() override { ShutdownEngine(); }
};

TEST_F(FieldAccessTest, EveryTypeLiesAtItsOffsetAndRoundTrips) {
  std::vector<TFieldDefinition> f = AllTypes();
  // Offsets worked out by hand: a null byte and the stored size per field, from +9.
  const uint16_t offsets[16] = {9, 21, 26, 31, 34, 37, 42, 51, 60, 66, 71, 80, 83, 88, 99, 5};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(f[i].offset, offsets[i]) << f[i].name;

  Bytes record(107, 0);
  std::mt19937 rng(7);
  std::vector<Bytes> values;
  for (const TFieldDefinition& d : f) {
    Bytes v(d.stored_size);
    for (auto& b : v) b = static_cast<uint8_t>(rng() % 200 + 33);  // printable, no blanks
    if (d.type == kFieldString) v.back() = 0;
    if (d.type == kFieldBoolean) v = {1, 0};
    if (d.type == kFieldBlob) v = {0x00, 0x02, 0x00, 0x00};  // first block at 512
    values.push_back(v);
    ASSERT_TRUE(PutFieldValue(d, false, v.data(), record.data(), kNoBlobs));
  }
  for (size_t i = 0; i < f.size(); ++i) {
    Bytes out(f[i].stored_size, 0xAA);
    EXPECT_FALSE(GetFieldValue(f[i], record.data(), out.data(), kNoBlobs)) << f[i].name;
    EXPECT_EQ(out, values[i]) << f[i].name;
    if (f[i].IsAutoIncrement()) continue;
    EXPECT_EQ(record[f[i].offset], 1) << f[i].name;
    EXPECT_EQ(Bytes(record.begin() + f[i].offset + 1,
                    record.begin() + f[i].offset + 1 + f[i].stored_size),
              values[i]);
  }
  EXPECT_EQ(Bytes(record.begin() + 5, record.begin() + 9), values[15]);
  // Blank: null byte 0 and zeroed data, except the auto-increment field, which keeps its value.
  for (const TFieldDefinition& d : f) PutFieldValue(d, false, nullptr, record.data(), kNoBlobs);
  for (const TFieldDefinition& d : f) {
    Bytes out(d.stored_size, 0xAA);
    const bool blank = GetFieldValue(d, record.data(), out.data(), kNoBlobs);
    EXPECT_EQ(blank, !d.IsAutoIncrement()) << d.name;
    if (!d.IsAutoIncrement()) {
      EXPECT_EQ(out, Bytes(d.stored_size, 0)) << d.name;
    }
  }
  EXPECT_EQ(Bytes(record.begin() + 5, record.begin() + 9), values[15]);
}

// Against a reference model: each field's expected value or blank, after the storing rules.
TEST_F(FieldAccessTest, RandomStoresMatchAReferenceModel) {
  std::vector<TFieldDefinition> f = AllTypes();
  Bytes record(107, 0);
  std::map<size_t, std::optional<Bytes>> model;
  for (size_t i = 0; i < f.size(); ++i) model[i] = std::nullopt;
  Bytes sequence(4, 0);
  std::mt19937 rng(11);
  for (int step = 0; step < 20000; ++step) {
    const size_t i = rng() % f.size();
    const TFieldDefinition& d = f[i];
    if (rng() % 4 == 0) {
      PutFieldValue(d, false, nullptr, record.data(), kNoBlobs);
      if (!d.IsAutoIncrement()) model[i] = std::nullopt;
    } else {
      Bytes v(d.stored_size);
      for (auto& b : v) b = static_cast<uint8_t>(rng() % 4 == 0 ? ' ' : rng() % 4 == 0 ? 0 : rng());
      if (d.type == kFieldBlob) v[3] &= 0x7F;  // a stored offset, not an open handle
      PutFieldValue(d, false, v.data(), record.data(), kNoBlobs);
      Bytes expect = v;
      bool blank = false;
      if (d.type == kFieldString) {
        expect.back() = 0;
        size_t n = std::find(expect.begin(), expect.end(), 0) - expect.begin();
        while (n > 0 && expect[n - 1] == ' ') --n;
        std::fill(expect.begin() + n, expect.end(), 0);
        blank = n == 0;
      } else if (d.type == kFieldBoolean) {
        expect = {cl::GetU16LE(v.data()) > 1 ? uint8_t{1} : v[0], 0};
      } else if (d.type == kFieldBlob) {
        blank = cl::GetI32LE(v.data()) == 0;
      }
      if (d.IsAutoIncrement()) sequence = v;
      model[i] = blank ? std::nullopt : std::optional<Bytes>(expect);
    }
    for (size_t k = 0; k < f.size(); ++k) {
      Bytes out(f[k].stored_size);
      const bool blank = GetFieldValue(f[k], record.data(), out.data(), kNoBlobs);
      if (f[k].IsAutoIncrement()) {
        ASSERT_FALSE(blank);
        ASSERT_EQ(out, sequence);
      } else if (f[k].type == kFieldBlob && !blank) {
        ASSERT_EQ(out, *model[k]);
      } else {
        ASSERT_EQ(blank, !model[k].has_value()) << "step " << step << " field " << f[k].name;
        ASSERT_EQ(out, model[k] ? *model[k] : Bytes(f[k].stored_size, 0)) << "step " << step;
      }
    }
  }
}

TEST_F(FieldAccessTest, StringsBooleansAndComputedFields) {
  std::vector<TFieldDefinition> f = {Field(1, "S", kFieldString, 250), Field(2, "L", kFieldBoolean),
                                     Field(3, "C", kFieldWord)};
  f[2].computed = true;
  const TRecordLayout layout = AssignFieldOffsets(f);
  ASSERT_EQ(f[0].stored_size, 251);
  Bytes record(layout.record_size + layout.computed_area_size, 0);

  Bytes text(251, 'x');  // 251 characters offered: 250 kept and the terminating zero
  PutFieldValue(f[0], false, text.data(), record.data(), kNoBlobs);
  EXPECT_EQ(record[9], 1);
  EXPECT_EQ(record[9 + 250], 'x');
  EXPECT_EQ(record[9 + 251], 0);
  EXPECT_EQ(f[1].offset, 9 + 252);  // the next field starts right after

  Bytes blanks(251, 0);
  std::memset(blanks.data(), ' ', 20);
  PutFieldValue(f[0], false, blanks.data(), record.data(), kNoBlobs);
  EXPECT_TRUE(GetFieldValue(f[0], record.data(), nullptr, kNoBlobs));
  Bytes trailing(251, 0);
  std::memcpy(trailing.data(), " a b  ", 6);
  PutFieldValue(f[0], false, trailing.data(), record.data(), kNoBlobs);
  Bytes out(251);
  EXPECT_FALSE(GetFieldValue(f[0], record.data(), out.data(), kNoBlobs));
  EXPECT_STREQ(reinterpret_cast<const char*>(out.data()), " a b");
  // Nothing after the terminator is kept, and a text taken from the record itself stays whole.
  Bytes stray(251, 'z');
  std::memcpy(stray.data(), "ab \0", 4);
  for (const uint8_t* value : {stray.data(), record.data() + 10}) {
    PutFieldValue(f[0], false, value, record.data(), kNoBlobs);
    EXPECT_EQ(Bytes(record.begin() + 9, record.begin() + 12), (Bytes{1, 'a', 'b'}));
    EXPECT_EQ(std::count(record.begin() + 12, record.begin() + 9 + 252, 0), 249);
  }

  for (uint16_t v : {uint16_t{2}, uint16_t{65535}}) {
    Bytes b = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    PutFieldValue(f[1], false, b.data(), record.data(), kNoBlobs);
    Bytes got(2);
    GetFieldValue(f[1], record.data(), got.data(), kNoBlobs);
    EXPECT_EQ(got, (Bytes{1, 0}));
  }

  // A computed field is written only when forced.
  Bytes w = {0x34, 0x12};
  EXPECT_FALSE(PutFieldValue(f[2], false, w.data(), record.data(), kNoBlobs));
  EXPECT_TRUE(GetFieldValue(f[2], record.data(), nullptr, kNoBlobs));
  EXPECT_TRUE(PutFieldValue(f[2], true, w.data(), record.data(), kNoBlobs));
  EXPECT_EQ(record[layout.record_size], 1);
  EXPECT_EQ(cl::GetU16LE(&record[layout.record_size + 1]), 0x1234);
}

TEST_F(FieldAccessTest, OpenBlobValuesAreBlankByTheirSize) {
  std::vector<TFieldDefinition> f = {Field(1, "Memo", kFieldBlob)};
  AssignFieldOffsets(f);
  Bytes record(14, 0);
  std::map<int32_t, int32_t> open = {{3, 0}, {4, 100}};
  const TOpenBlobSize sizes = [&](int32_t handle, int32_t& size) {
    auto it = open.find(handle);
    if (it == open.end()) return false;
    size = it->second;
    return true;
  };
  auto put_handle = [&](int32_t stored) {
    Bytes v(4);
    cl::PutI32LE(v.data(), stored);
    PutFieldValue(f[0], false, v.data(), record.data(), sizes);
  };
  put_handle(StoredBlobHandle(3));
  EXPECT_EQ(record[9], 0);
  EXPECT_TRUE(GetFieldValue(f[0], record.data(), nullptr, sizes));
  put_handle(StoredBlobHandle(4));
  EXPECT_EQ(record[9], 1);
  EXPECT_FALSE(GetFieldValue(f[0], record.data(), nullptr, sizes));
  open[4] = 0;  // emptied since: blank by its size, whatever the null byte says
  EXPECT_TRUE(GetFieldValue(f[0], record.data(), nullptr, sizes));
  put_handle(-77);  // a handle the blob file does not know is not blank
  EXPECT_FALSE(GetFieldValue(f[0], record.data(), nullptr, sizes));
  put_handle(INT32_MIN);
  int32_t handle = 0;
  EXPECT_FALSE(BlobHandleOf(INT32_MIN, handle));
  EXPECT_TRUE(BlobHandleOf(-5, handle));
  EXPECT_EQ(handle, 5);
}

class DefaultsTest : public FieldAccessTest {
 protected:
  // Applies the defaults of one field and returns its stored bytes.
  Bytes DefaultOf(TFieldDefinition d, const std::string& text,
                  const TEngineFormatSettings& settings = FixedFormatSettings(),
                  cl::TDateTime now = 37623.75) {
    d.number = 1;
    d.name = "F";
    d.default_value = text;
    std::vector<TFieldDefinition> f = {d};
    const TRecordLayout layout = AssignFieldOffsets(f);
    Bytes record(layout.record_size, 0xCC);
    ApplyFieldDefaults(f, 1, settings, now, record.data(), record.size(), kNoBlobs, "T.DAT");
    Bytes out(f[0].stored_size);
    blank_ = GetFieldValue(f[0], record.data(), out.data(), kNoBlobs);
    return out;
  }
  static Bytes U32(uint32_t v) {
    Bytes b(4);
    cl::PutU32LE(b.data(), v);
    return b;
  }
  static Bytes F64(double v) {
    Bytes b(8);
    cl::PutF64LE(b.data(), v);
    return b;
  }
  bool blank_ = false;
};

TEST_F(DefaultsTest, EachTypeTakesItsDefaultText) {
  // 2003-01-02 18:00 is 37623.75 days after 1899-12-30, which is day 693594 of the stored form.
  const uint32_t day = 37623 + 693594;
  const uint32_t six_pm = 18 * 3600 * 1000;
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldDate), "DATE"), U32(day));
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldDate), "1/2/2003"), U32(day));
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldTime), "time"), U32(six_pm));
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldTime), "6:30 AM"), U32(6 * 3600000 + 30 * 60000));
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldTimeStamp), "now"), F64(day * 86400000.0 + six_pm));
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldTimeStamp), "Date"), F64(day * 86400000.0));
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldTimeStamp), "TIME"), F64(693594 * 86400000.0 + six_pm));
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldInt16), "-42"), (Bytes{0xD6, 0xFF}));
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldInt32), "70000"), U32(70000));
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldWord), "65535"), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldFloat), "1.5"), F64(1.5));
  TFieldDefinition money = Field(0, "", kFieldMoney);
  money.decimals = 2;
  Bytes stored(8);
  cl::PutI64LE(stored.data(), 12502);  // 12.5 with 2 decimals
  EXPECT_EQ(DefaultOf(money, "12.5"), stored);
  cl::PutI64LE(stored.data(), 123502);  // 123.50: rounded to the field's decimals
  EXPECT_EQ(DefaultOf(money, "123.4999"), stored);
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldBoolean), "true"), (Bytes{1, 0}));
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldBoolean), "FALSE"), (Bytes{0, 0}));
  EXPECT_FALSE(blank_);  // false is a value, not a blank
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldString, 4), "abcdef  "), (Bytes{'a', 'b', 'c', 'd', 0}));
  // No default for bytes and the uninterpreted types: the buffer is only zeroed.
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldBytes, 3), "abc"), Bytes(3, 0));
  EXPECT_TRUE(blank_);
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldFourBytes), "1"), Bytes(4, 0));
  EXPECT_TRUE(blank_);
}

TEST_F(DefaultsTest, TextsFollowTheTablesFormatsAndDamageIsAnEngineError) {
  const TEngineFormatSettings french = BuildEngineFormatSettings(0x040C, 0);
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldFloat), "2,5", french), F64(2.5));
  EXPECT_EQ(DefaultOf(Field(0, "", kFieldDate), "2/1/2003", french), U32(37623 + 693594));
  // The same texts under the fixed formats of a table without a language do not read.
  EXPECT_EQ(EngineCode([&] { DefaultOf(Field(0, "", kFieldFloat), "2,5"); }),
            kErrInvalidValidityCheck);
  EXPECT_EQ(EngineCode([&] { DefaultOf(Field(0, "", kFieldInt16), "40000"); }),
            kErrInvalidValidityCheck);
  EXPECT_EQ(EngineCode([&] { DefaultOf(Field(0, "", kFieldBoolean), "yes"); }),
            kErrInvalidValidityCheck);
  EXPECT_EQ(EngineCode([&] { DefaultOf(Field(0, "", kFieldDate), "NOW"); }),
            kErrInvalidValidityCheck);
  EXPECT_EQ(GetEngineSession()->ErrorField(), "F");
}

TEST_F(DefaultsTest, NowIsTheCurrentDateTime) {
  const cl::TDateTime before = cl::Now();
  TFieldDefinition d = Field(1, "Quand", kFieldTimeStamp);
  d.default_value = "now";
  std::vector<TFieldDefinition> f = {d};
  AssignFieldOffsets(f);
  Bytes record(18, 0);
  ApplyFieldDefaults(f, 1, FixedFormatSettings(), cl::Now(), record.data(), record.size(), kNoBlobs,
                     "T.DAT");
  const cl::TDateTime after = cl::Now();
  const double stored = cl::GetF64LE(&record[10]);
  EXPECT_GE(stored, std::floor((before + 693594) * 86400000.0) - 1);
  EXPECT_LE(stored, std::ceil((after + 693594) * 86400000.0) + 1);
}

class ValidationTest : public FieldAccessTest {
 public:
  void Build(std::vector<TFieldDefinition> f) {
    fields_ = std::move(f);
    const TRecordLayout layout = AssignFieldOffsets(fields_);
    record_.assign(layout.record_size, 0);
  }
  template <class T>
  void Put(size_t i, T value) {
    Bytes v(fields_[i].stored_size, 0);
    std::memcpy(v.data(), &value, sizeof value < v.size() ? sizeof value : v.size());
    PutFieldValue(fields_[i], false, v.data(), record_.data(), kNoBlobs);
  }
  void PutText(size_t i, const std::string& s) {
    Bytes v(fields_[i].stored_size, 0);
    std::memcpy(v.data(), s.data(), s.size());
    PutFieldValue(fields_[i], false, v.data(), record_.data(), kNoBlobs);
  }
  uint16_t Check(uint16_t language = 0) {
    return EngineCode([&] {
      ValidateRecord(fields_, language, 0, BuildEngineFormatSettings(language, 0), 40000.5,
                     record_.data(), kNoBlobs, "T.DAT");
    });
  }
  std::vector<TFieldDefinition> fields_;
  Bytes record_;
};

TEST_F(ValidationTest, RequiredMinimumAndMaximumInFieldOrder) {
  TFieldDefinition n = Field(1, "N", kFieldInt32);
  n.minimum = "10";
  n.maximum = "20";
  TFieldDefinition r = Field(2, "R", kFieldString, 5);
  r.required = true;
  Build({n, r});
  EXPECT_EQ(Check(), kErrBelowMinimum);  // a blank integer compares as 0
  EXPECT_EQ(GetEngineSession()->ErrorField(), "N");
  Put<int32_t>(0, 10);
  EXPECT_EQ(Check(), kErrRequiredField);
  EXPECT_EQ(GetEngineSession()->ErrorField(), "R");
  PutText(1, "   ");  // blanks only: still blank
  EXPECT_EQ(Check(), kErrRequiredField);
  PutText(1, "x");
  EXPECT_EQ(Check(), 0);
  Put<int32_t>(0, 21);
  EXPECT_EQ(Check(), kErrAboveMaximum);
  Put<int32_t>(0, 20);
  EXPECT_EQ(Check(), 0);
  Put<int32_t>(0, -5);
  EXPECT_EQ(Check(), kErrBelowMinimum);
}

TEST_F(ValidationTest, EachTypeComparesInItsOwnDomain) {
  struct Case {
    uint8_t type;
    const char* minimum;
    const char* maximum;
    std::function<void(ValidationTest&)> low, inside, high;
  };
  auto i16 = [](int16_t v) { return [v](ValidationTest& t) { t.Put(0, v); }; };
  auto u16 = [](uint16_t v) { return [v](ValidationTest& t) { t.Put(0, v); }; };
  auto f64 = [](double v) { return [v](ValidationTest& t) { t.Put(0, v); }; };
  auto money = [](int64_t v) { return [v](ValidationTest& t) { t.Put(0, v); }; };
  auto day = [](uint32_t v) { return [v](ValidationTest& t) { t.Put(0, v); }; };
  const uint32_t jan2 = 37623 + 693594;
  const Case cases[] = {
      {kFieldInt16, "-5", "5", i16(-6), i16(-5), i16(6)},
      {kFieldWord, "40000", "50000", u16(39999), u16(40000), u16(50001)},  // unsigned
      {kFieldFloat, "-0.5", "1E3", f64(-0.51), f64(999.9), f64(1000.5)},
      // 1.234 rounds to 1.23 for 2 decimals: 1.23 is inside, 1.24 above
      {kFieldMoney, "-1", "1.234", money(-1012), money(1232), money(1242)},
      {kFieldDate, "1/2/2003", "1/3/2003", day(jan2 - 1), day(jan2 + 1), day(jan2 + 2)},
      {kFieldTime, "1:00 AM", "TIME", day(3599999), day(43200000), day(43200001)},
      {kFieldTimeStamp, "1/2/2003 6:00", "1/2/2003 6:00:01",
       f64(jan2 * 86400000.0 + 6 * 3600000 - 1), f64(jan2 * 86400000.0 + 6 * 3600000 + 1000),
       f64(jan2 * 86400000.0 + 6 * 3600000 + 1001)},
  };
  for (const Case& c : cases) {
    TFieldDefinition d = Field(1, "V", c.type);
    d.decimals = 2;
    d.minimum = c.minimum;
    d.maximum = c.maximum;
    Build({d});
    c.low(*this);
    EXPECT_EQ(Check(), kErrBelowMinimum) << int(c.type);
    c.inside(*this);
    EXPECT_EQ(Check(), 0) << int(c.type);
    c.high(*this);
    EXPECT_EQ(Check(), kErrAboveMaximum) << int(c.type);
  }
}

TEST_F(ValidationTest, StringsCompareByLanguageOrBytes) {
  TFieldDefinition d = Field(1, "S", kFieldString, 10);
  d.minimum = "b";
  Build({d});
  PutText(0, "B");
  // Bytes: "B" (0x42) lies below "b" (0x62); the French collation puts it after "b".
  EXPECT_EQ(Check(0), kErrBelowMinimum);
  EXPECT_EQ(Check(0x040C), 0);
  PutText(0, "a");
  EXPECT_EQ(Check(0x040C), kErrBelowMinimum);
  // Never compared: booleans, blobs, bytes; and damaged bound texts are engine errors.
  TFieldDefinition l = Field(1, "L", kFieldBoolean);
  l.minimum = "TRUE";
  Build({l});
  EXPECT_EQ(Check(), 0);
  TFieldDefinition bad = Field(1, "I", kFieldInt32);
  bad.maximum = "ten";
  Build({bad});
  EXPECT_EQ(Check(), kErrInvalidValidityCheck);
}

}  // namespace
}  // namespace tessera
