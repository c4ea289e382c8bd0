// Records, writes and the cursor of TDataFile against an in-memory model, with the whole-table
// checker after every batch and after close and reopen; then the edge cases of the record cache,
// the slots and the seeks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCheck.h"
#include "engine/storage/table/TableCreation.h"
#include "engine/storage/values/TextCompare.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace tessera {
namespace {

using testing::EngineCode;
using testing::Field;
using testing::Index;
using Bytes = std::vector<uint8_t>;

// Field numbers of every test table (absent ones are never touched).
enum FieldNo : uint16_t { kId = 1, kNom = 2, kVal = 3, kCode = 4, kMemo = 5 };

struct Row {
  int32_t id = 0;
  std::string nom;
  int16_t val = 0;
  int32_t code = 0;
  std::string memo;
  uint32_t seq = 0;
};

// One index as the model orders it.
struct IndexModel {
  uint8_t slot;
  std::vector<std::pair<FieldNo, bool>> fields;  // field, descending
  bool case_insensitive = false;
  bool descending = false;
  bool unique = false;
  bool record_order = false;  // slot 0 of a table without primary key fields
};

struct Shape {
  const char* name;
  uint16_t language = 0;
  bool memo = false;
  bool auto_increment = false;
  std::vector<IndexModel> indexes;  // slot order
};

TNewTable MakeTable(const Shape& shape) {
  TNewTable t;
  t.language = shape.language;
  t.fields = {Field(kId, "Id", kFieldInt32), Field(kNom, "Nom", kFieldString, 12),
              Field(kVal, "Val", kFieldInt16), Field(kCode, "Code", kFieldInt32)};
  if (shape.auto_increment) t.fields[0].sub_type = kSubTypeAutoIncrement;
  if (shape.memo) t.fields.push_back(Field(kMemo, "Memo", kFieldBlob));
  for (const IndexModel& m : shape.indexes) {
    TIndexDescriptor d;
    if (!m.record_order) {
      std::vector<uint16_t> numbers;
      d = Index(m.slot == 0 ? "" : ("I" + std::to_string(m.slot)).c_str(), {}, m.unique);
      for (size_t i = 0; i < m.fields.size(); ++i) {
        d.field_numbers[i] = m.fields[i].first;
        d.field_descending[i] = m.fields[i].second ? 1 : 0;
      }
      d.field_count = static_cast<uint8_t>(m.fields.size());
      d.case_insensitive = m.case_insensitive ? 1 : 0;
      d.descending = m.descending ? 1 : 0;
    }
    t.indexes.push_back(d);
  }
  return t;
}

std::vector<Shape> Shapes() {
  return {
      {"French",
       0x040C,
       true,
       false,
       {{0, {{kId, false}}, false, false, true},
        {1, {{kNom, false}}, true, false, false},
        {2, {{kNom, true}, {kVal, false}}, false, false, false},
        {3, {{kCode, false}}, false, false, true}}},
      {"NoPrimary",
       0,
       true,
       false,
       {{0, {}, false, false, false, true},
        {1, {{kVal, false}}, false, false, false},
        {2, {{kNom, false}}, true, true, false},
        {3, {{kCode, false}}, false, false, true}}},
      {"AutoIncrement",
       0,
       false,
       true,
       {{0, {{kId, false}}, false, false, true},
        {1, {{kNom, true}, {kVal, false}}, false, false, true},
        {2, {{kCode, true}}, false, false, false}}},
  };
}

// The table's key order, written from the rules rather than from the key builder.
class Model {
 public:
  explicit Model(const Shape& shape) : shape_(shape) {}

  int CompareStringsOf(const std::string& a, const std::string& b, bool ci) const {
    if (a.empty() || b.empty()) return a.empty() == b.empty() ? 0 : (a.empty() ? -1 : 1);
    const std::string x = ci ? UpperCaseText(shape_.language, 0, a) : a;
    const std::string y = ci ? UpperCaseText(shape_.language, 0, b) : b;
    if (shape_.language != 0) {
      return CompareStrings(shape_.language, 0, x.c_str(), false, 0, y.c_str(),
                            cl::TSortMode::kString);
    }
    const int r = x.compare(y);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
  }

  int CompareField(const Row& a, const Row& b, FieldNo f, bool ci) const {
    auto three = [](auto x, auto y) { return x < y ? -1 : (x > y ? 1 : 0); };
    switch (f) {
      case kId:
        return three(a.id, b.id);
      case kNom:
        return CompareStringsOf(a.nom, b.nom, ci);
      case kVal:
        return three(a.val, b.val);
      default:
        return three(a.code, b.code);
    }
  }

  // Negative when a sorts before b (record numbers break ties in record order).
  int Compare(const IndexModel& m, const std::pair<uint32_t, Row>& a,
              const std::pair<uint32_t, Row>& b) const {
    if (m.record_order) return a.first < b.first ? -1 : (a.first > b.first ? 1 : 0);
    for (const auto& [f, desc] : m.fields) {
      const int r = CompareField(a.second, b.second, f, m.case_insensitive);
      if (r != 0) return (desc || m.descending) ? -r : r;
    }
    if (m.unique || m.slot == 0) return 0;
    const int r = a.second.seq < b.second.seq ? -1 : (a.second.seq > b.second.seq ? 1 : 0);
    return m.descending ? -r : r;
  }

  std::vector<uint32_t> Order(const IndexModel& m) const {
    std::vector<std::pair<uint32_t, Row>> rows(rows_.begin(), rows_.end());
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const auto& a, const auto& b) { return Compare(m, a, b) < 0; });
    std::vector<uint32_t> order;
    for (const auto& r : rows) order.push_back(r.first);
    return order;
  }

  // Whether `row` would duplicate another record's key in a unique index or the primary index.
  bool Duplicates(const Row& row, uint32_t self) const {
    for (const IndexModel& m : shape_.indexes) {
      if (m.record_order || !(m.unique || m.slot == 0)) continue;
      for (const auto& [n, other] : rows_) {
        if (n == self) continue;
        bool same = true;
        for (const auto& [f, desc] : m.fields) {
          // Unique keys compare as stored bytes: equal only when equal after case mapping.
          same = same && CompareField(row, other, f, m.case_insensitive) == 0;
        }
        if (same) return true;
      }
    }
    return false;
  }

  std::map<uint32_t, Row> rows_;

 private:
  const Shape& shape_;
};

class RecordsTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }

  std::string Table(const char* name) { return dir_.File(name); }

  void Create(const std::string& path, TNewTable table) {
    TDataFile t;
    t.SetFileName(path);
    t.SetExclusive(true);
    t.SetupNewTable(std::move(table));
  }

  static void OpenOn(TDataFile& t, const std::string& path, bool exclusive) {
    t.SetFileName(path);
    t.SetExclusive(exclusive);
    t.Open();
  }

  static void PutInt(TDataFile& t, uint16_t field, int64_t v, uint8_t* buf) {
    uint8_t bytes[8] = {};
    cl::PutU64LE(bytes, static_cast<uint64_t>(v));
    t.PutFieldValue(false, field, false, bytes, buf);
  }
  static void PutText(TDataFile& t, uint16_t field, const std::string& s, uint8_t* buf) {
    uint8_t bytes[252] = {};
    std::memcpy(bytes, s.data(), s.size());
    t.PutFieldValue(false, field, false, bytes, buf);
  }
  static int64_t GetInt(TDataFile& t, uint16_t field, const uint8_t* buf) {
    uint8_t bytes[8] = {};
    t.GetFieldValue(false, field, bytes, buf);
    const uint16_t size = t.GetFieldDefinition(false, field).stored_size;
    return size == 2 ? static_cast<int16_t>(cl::GetU16LE(bytes))
                     : static_cast<int32_t>(cl::GetU32LE(bytes));
  }
  static std::string GetText(TDataFile& t, uint16_t field, const uint8_t* buf) {
    char bytes[252] = {};
    t.GetFieldValue(false, field, reinterpret_cast<uint8_t*>(bytes), buf);
    return bytes;
  }
  static std::string ReadMemo(TDataFile& t, uint8_t* buf) {
    EXPECT_EQ(t.OpenBlob(false, kMemo, 0, buf), 0);
    int32_t size = 0;
    t.GetBlobSize(false, kMemo, size, buf);
    std::string s(static_cast<size_t>(size), '\0');
    int32_t count = 0;
    if (size > 0) {
      EXPECT_EQ(t.ReadBlob(false, kMemo, count, size, s.data(), 0, buf), 0);
    }
    t.CloseBlob(false, kMemo, buf);
    return s;
  }
  static void WriteMemo(TDataFile& t, const std::string& s, uint8_t* buf) {
    ASSERT_EQ(t.OpenBlob(false, kMemo, 0, buf), 0);
    ASSERT_EQ(t.TruncateBlob(false, kMemo, 0, buf), 0);
    if (!s.empty()) {
      ASSERT_EQ(t.WriteBlob(false, kMemo, static_cast<int32_t>(s.size()), s.data(), 0, buf), 0);
    }
  }

  mirvel_test::TempDirectory dir_;
};

class ModelTest : public RecordsTest, public ::testing::WithParamInterface<std::tuple<int, bool>> {
 protected:
  const Shape shape_ = Shapes()[static_cast<size_t>(std::get<0>(GetParam()))];
  const bool exclusive_ = std::get<1>(GetParam());
  Model model_{shape_};
  std::mt19937 rng_{0};

  int Rand(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  std::string RandomText(int max_length) {
    static const char kLetters[] =
        "aAbBeE\xE9\xC9"
        "35-";
    std::string s;
    for (int n = Rand(0, max_length); n > 0; --n) s += kLetters[Rand(0, sizeof kLetters - 2)];
    return s;
  }

  Row RandomRow() {
    Row r;
    r.id = Rand(1, 600);
    r.nom = RandomText(6);
    r.val = static_cast<int16_t>(Rand(-20, 20));
    r.code = Rand(0, 3000);
    if (shape_.memo && Rand(0, 1) == 1)
      r.memo = std::string(static_cast<size_t>(Rand(1, 1400)), 'm');
    for (char& c : r.memo) c = static_cast<char>('a' + Rand(0, 25));
    return r;
  }

  void Fill(TDataFile& t, const Row& r, uint8_t* buf) {
    PutInt(t, kId, r.id, buf);  // the auto-increment field: +5, which a write replaces
    PutText(t, kNom, r.nom, buf);
    PutInt(t, kVal, r.val, buf);
    PutInt(t, kCode, r.code, buf);
  }

  void Insert(TDataFile& t) {
    Bytes buf(t.GetRecordBufferSize());
    t.ApplyFieldDefaults(buf.data());
    Row r = RandomRow();
    if (shape_.auto_increment) r.id = static_cast<int32_t>(t.NextAutoIncrement());
    Fill(t, r, buf.data());
    if (shape_.memo) WriteMemo(t, r.memo, buf.data());
    const bool dup = model_.Duplicates(r, 0);
    const int code = EngineCode([&] { t.InsertRecord(buf.data()); });
    if (shape_.memo) t.CloseBlob(false, kMemo, buf.data());
    ASSERT_EQ(code, dup ? kErrKeyViolation : 0) << "insert";
    if (dup) return;
    r.seq = cl::GetU32LE(buf.data() + 5);
    ASSERT_NE(t.CurrentRecord(), nullptr);
    model_.rows_[t.CurrentRecord()->number] = r;
  }

  // Stands on a random record of the current index; its record number, 0 when empty.
  uint32_t StandOnRandom(TDataFile& t, Bytes& buf) {
    if (model_.rows_.empty()) return 0;
    t.GoToPosition(static_cast<uint32_t>(Rand(1, static_cast<int>(t.GetRecordCount()))));
    EXPECT_EQ(t.GetCurrentRecord(buf.data()), 0);
    return t.CurrentRecord()->number;
  }

  void Modify(TDataFile& t) {
    Bytes buf(t.GetRecordBufferSize());
    const uint32_t n = StandOnRandom(t, buf);
    if (n == 0) return;
    Row r = model_.rows_.at(n);
    const Row fresh = RandomRow();
    switch (Rand(0, 3)) {
      case 0:
        r.nom = fresh.nom;
        break;
      case 1:
        r.val = fresh.val;
        r.code = fresh.code;
        break;
      case 2:
        if (!shape_.auto_increment) r.id = fresh.id;
        break;
      default:
        r.memo = fresh.memo;
        break;
    }
    Fill(t, r, buf.data());
    if (shape_.memo) WriteMemo(t, r.memo, buf.data());
    const bool dup = model_.Duplicates(r, n);
    const int code = EngineCode([&] { t.ModifyRecord(buf.data()); });
    if (shape_.memo) t.CloseBlob(false, kMemo, buf.data());
    ASSERT_EQ(code, dup ? kErrKeyViolation : 0) << "modify " << n;
    if (!dup) model_.rows_[n] = r;
  }

  void Delete(TDataFile& t) {
    Bytes buf(t.GetRecordBufferSize());
    const uint32_t n = StandOnRandom(t, buf);
    if (n == 0) return;
    ASSERT_EQ(EngineCode([&] { t.DeleteRecord(); }), 0);
    model_.rows_.erase(n);
  }

  // A seek on a random index for a random record's fields finds a record with those fields.
  void Seek(TDataFile& t) {
    if (model_.rows_.empty()) return;
    const IndexModel& m =
        shape_.indexes[static_cast<size_t>(Rand(0, static_cast<int>(shape_.indexes.size()) - 1))];
    if (m.record_order) return;
    t.SetCurrentIndexByNumber(m.slot);
    auto it = model_.rows_.begin();
    std::advance(it, Rand(0, static_cast<int>(model_.rows_.size()) - 1));
    Bytes key_record(t.GetRecordBufferSize());
    t.ApplyFieldDefaults(key_record.data());
    Fill(t, it->second, key_record.data());
    Bytes out(t.GetRecordBufferSize());
    ASSERT_TRUE(t.SeekRecordKey(false, key_record.data(), out.data(), 0, false, 0));
    const Row& found = model_.rows_.at(t.CurrentRecord()->number);
    for (const auto& [f, desc] : m.fields) {
      EXPECT_EQ(model_.CompareField(found, it->second, f, m.case_insensitive), 0);
    }
  }

  // A range over the first key field of an index that starts with an ascending number.
  void Range(TDataFile& t) {
    std::vector<const IndexModel*> usable;
    for (const IndexModel& m : shape_.indexes) {
      if (!m.record_order && !m.descending && m.fields[0].first != kNom && !m.fields[0].second) {
        usable.push_back(&m);
      }
    }
    if (usable.empty()) return;
    const IndexModel& m =
        *usable[static_cast<size_t>(Rand(0, static_cast<int>(usable.size()) - 1))];
    const FieldNo f = m.fields[0].first;
    const int span = f == kVal ? 20 : (f == kCode ? 3000 : 600);
    int lo = Rand(f == kVal ? -span : 0, span), hi = Rand(f == kVal ? -span : 0, span);
    if (lo > hi) std::swap(lo, hi);
    t.SetCurrentIndexByNumber(m.slot);
    Bytes low(t.GetRecordBufferSize()), high(t.GetRecordBufferSize());
    PutInt(t, f, lo, low.data());
    PutInt(t, f, hi, high.data());
    t.SetRange(false, low.data(), 1, high.data(), 1);
    std::vector<uint32_t> expected;
    for (uint32_t n : model_.Order(m)) {
      const Row& r = model_.rows_.at(n);
      const int v = f == kVal ? r.val : (f == kCode ? r.code : r.id);
      if (v >= lo && v <= hi) expected.push_back(n);
    }
    EXPECT_EQ(t.GetRecordCount(), expected.size());
    EXPECT_EQ(Walk(t), expected) << "range " << lo << ".." << hi << " on slot " << int{m.slot};
    if (!expected.empty()) {
      t.GoToPosition(1);
      EXPECT_EQ(t.GetCurrentRecordNumber(), 1u);
    }
    t.ResetRange();
  }

  std::vector<uint32_t> Walk(TDataFile& t) {
    std::vector<uint32_t> seen;
    Bytes buf(t.GetRecordBufferSize());
    t.MoveToBeginning();
    while (t.GetNextRecord(buf.data()) == 0 && seen.size() <= model_.rows_.size()) {
      seen.push_back(t.CurrentRecord()->number);
    }
    return seen;
  }

  void Verify(TDataFile& t, const std::string& when) {
    SCOPED_TRACE(when);
    Bytes buf(t.GetRecordBufferSize());
    for (const IndexModel& m : shape_.indexes) {
      t.SetCurrentIndexByNumber(m.slot);
      const std::vector<uint32_t> order = model_.Order(m);
      ASSERT_EQ(Walk(t), order) << "index slot " << int{m.slot};
      ASSERT_EQ(t.GetRecordCount(), order.size());
      for (int i = 0; i < 3 && !order.empty(); ++i) {
        const uint32_t k = static_cast<uint32_t>(Rand(1, static_cast<int>(order.size())));
        t.GoToPosition(k);
        EXPECT_EQ(t.GetCurrentRecordNumber(), k);
        ASSERT_EQ(t.GetCurrentRecord(buf.data()), 0);
        EXPECT_EQ(t.CurrentRecord()->number, order[k - 1]);
      }
    }
    t.SetCurrentIndexByNumber(0);
    t.MoveToBeginning();
    while (t.GetNextRecord(buf.data()) == 0) {
      const Row& r = model_.rows_.at(t.CurrentRecord()->number);
      EXPECT_EQ(GetInt(t, kId, buf.data()), r.id);
      EXPECT_EQ(GetText(t, kNom, buf.data()), r.nom);
      EXPECT_EQ(GetInt(t, kVal, buf.data()), r.val);
      EXPECT_EQ(GetInt(t, kCode, buf.data()), r.code);
      if (shape_.memo) {
        EXPECT_EQ(ReadMemo(t, buf.data()), r.memo);
      }
    }
    if (exclusive_) {
      t.ReleaseAllPins();
      t.CommitTransaction(false, false, false);
      t.PinCurrentRecord();
    }
    const TTableCheckReport report = CheckTable(t);
    EXPECT_TRUE(report.ok()) << report.problems.front();
    EXPECT_EQ(report.live_records, model_.rows_.size());
  }
};

TEST_P(ModelTest, RandomWritesAgreeWithTheModel) {
  // RECORDS_SEED replays a printed seed.
  const char* replay = std::getenv("RECORDS_SEED");
  const unsigned seed = replay != nullptr ? static_cast<unsigned>(std::strtoul(replay, nullptr, 10))
                                          : static_cast<unsigned>(std::random_device{}());
  rng_.seed(seed);
  SCOPED_TRACE("seed " + std::to_string(seed) + " shape " + shape_.name);
  const std::string path = Table("Model");
  Create(path, MakeTable(shape_));
  constexpr int kOperations = 3500;
  constexpr int kBatch = 500;
  {
    TDataFile t;
    OpenOn(t, path, exclusive_);
    for (int op = 1; op <= kOperations; ++op) {
      const int pick = Rand(0, 99);
      // Deletes weigh more once the table has grown, so slots are reused and the chain is long.
      const int insert_share = model_.rows_.size() < 250 ? 45 : 30;
      if (pick < insert_share) {
        Insert(t);
      } else if (pick < insert_share + 20) {
        Modify(t);
      } else if (pick < insert_share + 40) {
        Delete(t);
      } else if (pick < insert_share + 50) {
        Seek(t);
      } else {
        Range(t);
      }
      if (::testing::Test::HasFatalFailure()) return;
      if (op % kBatch == 0) Verify(t, "after operation " + std::to_string(op));
      if (::testing::Test::HasFatalFailure()) return;
    }
    t.Close();
  }
  TDataFile reopened;
  OpenOn(reopened, path, false);
  Verify(reopened, "after reopening");
  reopened.Close();
  const TTableCheckReport files = CheckTableFiles(path);
  EXPECT_TRUE(files.ok()) << files.problems.front();
}

INSTANTIATE_TEST_SUITE_P(Shapes, ModelTest,
                         ::testing::Combine(::testing::Values(0, 1, 2), ::testing::Bool()));

}  // namespace
}  // namespace tessera
