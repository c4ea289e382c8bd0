// Records, writes and the cursor of TDataFile against an in-memory model, with the whole-table
// checker after every batch and after close and reopen; then the edge cases of the record cache,
// the slots and the seeks.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
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
#include "platform/FaultyFile.h"
#include "platform/OsFile.h"
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
  bool encrypted = false;           // password "Secret"
};

TNewTable MakeTable(const Shape& shape) {
  TNewTable t;
  t.language = shape.language;
  t.encrypted = shape.encrypted;
  if (shape.encrypted) t.password = "Secret";
  t.fields = {Field(kId, "Id", kFieldInt32), Field(kNom, "Nom", kFieldString, 12),
              Field(kVal, "Val", kFieldInt16), Field(kCode, "Code", kFieldInt32)};
  if (shape.auto_increment) t.fields[0].sub_type = kSubTypeAutoIncrement;
  if (shape.memo) t.fields.push_back(Field(kMemo, "Memo", kFieldBlob));
  for (const IndexModel& m : shape.indexes) {
    TIndexDescriptor d;
    if (!m.record_order) {
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
        {3, {{kCode, false}}, false, false, true}},
       true},
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
    t.PutFieldValue(TFieldSet::kTable, field, false, bytes, buf);
  }
  static void PutText(TDataFile& t, uint16_t field, const std::string& s, uint8_t* buf) {
    uint8_t bytes[252] = {};
    std::memcpy(bytes, s.data(), s.size());
    t.PutFieldValue(TFieldSet::kTable, field, false, bytes, buf);
  }
  static int64_t GetInt(TDataFile& t, uint16_t field, const uint8_t* buf) {
    uint8_t bytes[8] = {};
    t.GetFieldValue(TFieldSet::kTable, field, bytes, buf);
    const uint16_t size = t.GetFieldDefinition(TFieldSet::kTable, field).stored_size;
    return size == 2 ? static_cast<int16_t>(cl::GetU16LE(bytes))
                     : static_cast<int32_t>(cl::GetU32LE(bytes));
  }
  static std::string GetText(TDataFile& t, uint16_t field, const uint8_t* buf) {
    char bytes[252] = {};
    t.GetFieldValue(TFieldSet::kTable, field, reinterpret_cast<uint8_t*>(bytes), buf);
    return bytes;
  }
  static std::string ReadMemo(TDataFile& t, uint8_t* buf) {
    EXPECT_EQ(t.OpenBlob(TFieldSet::kTable, kMemo, 0, buf), 0);
    int32_t size = 0;
    t.GetBlobSize(TFieldSet::kTable, kMemo, size, buf);
    std::string s(static_cast<size_t>(size), '\0');
    int32_t count = 0;
    if (size > 0) {
      EXPECT_EQ(t.ReadBlob(TFieldSet::kTable, kMemo, count, size, s.data(), 0, buf), 0);
    }
    t.CloseBlob(TFieldSet::kTable, kMemo, buf);
    return s;
  }
  static void WriteMemo(TDataFile& t, const std::string& s, uint8_t* buf) {
    ASSERT_EQ(t.OpenBlob(TFieldSet::kTable, kMemo, 0, buf), 0);
    ASSERT_EQ(t.TruncateBlob(TFieldSet::kTable, kMemo, 0, buf), 0);
    if (!s.empty()) {
      ASSERT_EQ(
          t.WriteBlob(TFieldSet::kTable, kMemo, static_cast<int32_t>(s.size()), s.data(), 0, buf),
          0);
    }
  }

  mirvel_test::TempDirectory dir_;
};

class ModelTest : public RecordsTest, public ::testing::WithParamInterface<std::tuple<int, bool>> {
 protected:
  void SetUp() override {
    RecordsTest::SetUp();
    GetEngineSession()->AddPassword("Secret");
  }

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
    // Now and then the whole declared size, so that descending keys reach the terminator.
    r.nom = Rand(0, 7) == 0 ? RandomText(12) : RandomText(6);
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
    if (shape_.memo) t.CloseBlob(TFieldSet::kTable, kMemo, buf.data());
    ASSERT_EQ(code, dup ? kErrKeyViolation : 0) << "insert";
    if (dup) return;
    r.seq = cl::GetU32LE(buf.data() + 5);
    ASSERT_NE(t.CurrentRecord(), nullptr);
    model_.rows_[t.CurrentRecord()->number] = r;
    ExpectCursorOn(t, t.CurrentRecord()->number);
  }

  // After a write the cursor stands on its record, at its place in the current index, and steps
  // from there to the model's next record.
  void ExpectCursorOn(TDataFile& t, uint32_t n) {
    const uint8_t slot = t.IndexFile().CurrentSlot();
    const auto m = std::find_if(shape_.indexes.begin(), shape_.indexes.end(),
                                [&](const IndexModel& i) { return i.slot == slot; });
    if (m == shape_.indexes.end() || m->record_order) return;
    const std::vector<uint32_t> order = model_.Order(*m);
    const auto at = std::find(order.begin(), order.end(), n);
    ASSERT_NE(at, order.end());
    const auto position = static_cast<uint32_t>(at - order.begin() + 1);
    EXPECT_EQ(t.GetCurrentRecordNumber(), position) << "slot " << int{slot};
    Bytes buf(t.GetRecordBufferSize());
    ASSERT_EQ(t.GetCurrentRecord(buf.data()), 0);
    EXPECT_EQ(t.CurrentRecord()->number, n);
    const uint16_t code = t.GetNextRecord(buf.data());
    if (position < order.size()) {
      ASSERT_EQ(code, 0);
      EXPECT_EQ(t.CurrentRecord()->number, order[position]) << "slot " << int{slot};
    } else {
      EXPECT_NE(code, 0);
    }
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
    const int change = Rand(0, 3);
    switch (change) {
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
    t.IndexFile().PageCache().ClearStatistics();
    const int code = EngineCode([&] { t.ModifyRecord(buf.data()); });
    if (shape_.memo) t.CloseBlob(TFieldSet::kTable, kMemo, buf.data());
    ASSERT_EQ(code, dup ? kErrKeyViolation : 0) << "modify " << n;
    // With every key as it was, no index page is written (an exclusive handle's commit at the
    // start of a write flushes what earlier writes left).
    if (change == 3 && !exclusive_) {
      EXPECT_EQ(t.IndexFile().PageCache().PageWrites(), 0u);
    }
    if (dup) return;
    model_.rows_[n] = r;
    ExpectCursorOn(t, n);
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

// ---- edge cases ---------------------------------------------------------------------------------

// Users with a memo: Id primary, Nom in a case-insensitive index, Code unique.
TNewTable UsersTable(bool primary = true) {
  Shape shape{"Users", 0, true, false, {}};
  shape.indexes = {{0, {{kId, false}}, false, false, true, !primary},
                   {1, {{kNom, false}}, true, false, false},
                   {2, {{kCode, false}}, false, false, true}};
  TNewTable t = MakeTable(shape);
  t.fields[1].default_value = "Anonyme";
  return t;
}

class EdgeTest : public RecordsTest {
 protected:
  // Inserts a user; returns its record number.
  uint32_t Add(TDataFile& t, int32_t id, const std::string& nom, int32_t code,
               const std::string& memo = "") {
    Bytes buf(t.GetRecordBufferSize());
    t.ApplyFieldDefaults(buf.data());
    PutInt(t, kId, id, buf.data());
    PutText(t, kNom, nom, buf.data());
    PutInt(t, kCode, code, buf.data());
    if (!memo.empty()) WriteMemo(t, memo, buf.data());
    // The value is closed whatever the insert does, as the dataset layer closes it.
    const int failure = EngineCode([&] { t.InsertRecord(buf.data()); });
    if (!memo.empty()) t.CloseBlob(TFieldSet::kTable, kMemo, buf.data());
    if (failure != 0) RaiseEngineError(static_cast<uint16_t>(failure));
    return t.CurrentRecord()->number;
  }

  Bytes Files(const std::string& path) {
    Bytes all;
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
      const Bytes b = mirvel_test::ReadFileBytes(path + ext);
      all.insert(all.end(), b.begin(), b.end());
    }
    return all;
  }

  std::vector<std::pair<uint8_t, uint32_t>> SysDeleted(TDataFile& t) {
    std::vector<std::pair<uint8_t, uint32_t>> keys;
    const uint8_t saved = t.IndexFile().CurrentSlot();
    t.IndexFile().SelectIndex(kSysDeletedSlot);
    TIndexTree& tree = t.IndexFile().Tree();
    uint8_t key[kMaxKeyLength];
    for (TTreeSpot s = tree.AtPosition(1); s.leaf != 0; s = tree.Step(s, true)) {
      tree.ReadEntry(s, key);
      const uint32_t encoded =
          uint32_t{key[1]} << 24 | uint32_t{key[2]} << 16 | uint32_t{key[3]} << 8 | key[4];
      keys.emplace_back(key[0], encoded ^ 0x80000000u);
    }
    t.IndexFile().SelectIndex(saved);
    return keys;
  }
};

// A duplicate key is an everyday event: it changes no byte of the three files and leaves no lock,
// so another handle writes at once.
TEST_F(EdgeTest, ADuplicateKeyChangesNothingAndHoldsNothing) {
  const std::string path = Table("Users");
  Create(path, UsersTable());
  TDataFile t;
  OpenOn(t, path, false);
  Add(t, 1, "Anne", 10, std::string(700, 'a'));
  Add(t, 2, "Bruno", 20);
  const Bytes before = Files(path);
  EXPECT_EQ(EngineCode([&] { Add(t, 1, "Claire", 30, std::string(900, 'c')); }), kErrKeyViolation);
  EXPECT_EQ(EngineCode([&] { Add(t, 3, "Claire", 20); }), kErrKeyViolation);
  Bytes buf(t.GetRecordBufferSize());
  t.GoToPosition(1);
  ASSERT_EQ(t.GetCurrentRecord(buf.data()), 0);
  PutInt(t, kCode, 20, buf.data());
  EXPECT_EQ(EngineCode([&] { t.ModifyRecord(buf.data()); }), kErrKeyViolation);
  EXPECT_EQ(Files(path), before);
  // Every lock was given back: another handle (which locks against this one) writes at once.
  auto other = t.Clone();
  other->SetLockRetryCount(0);
  EXPECT_EQ(EngineCode([&] { Add(*other, 3, "Claire", 30); }), 0);
  EXPECT_EQ(EngineCode([&] { Add(t, 4, "Denis", 40); }), 0);
  other->Close();
  t.Close();
  EXPECT_TRUE(CheckTableFiles(path).ok());
}

// A private delete-on-close table goes without writing its pages out; a shared one still writes
// them, and an exclusive table kept on close loses nothing.
TEST_F(EdgeTest, DeleteOnCloseDropsOnlyAPrivateTable) {
  for (const bool exclusive : {true, false}) {
    for (const bool delete_on_close : {true, false}) {
      SCOPED_TRACE(::testing::Message() << exclusive << delete_on_close);
      const std::string path = Table("Work");
      Create(path, UsersTable());
      TDataFile t;
      t.SetDeleteOnClose(delete_on_close);
      OpenOn(t, path, exclusive);
      t.SetDeferredCommit(true);
      for (int i = 1; i <= 300; ++i) {
        Add(t, i, "Nom" + std::to_string(1000 - i), i, i % 50 == 0 ? std::string(600, 'm') : "");
      }
      EXPECT_NO_THROW(t.Close());
      EXPECT_EQ(std::filesystem::exists(path + ".DAT"), !delete_on_close);
      EXPECT_EQ(std::filesystem::exists(path + ".IDX"), !delete_on_close);
      EXPECT_EQ(std::filesystem::exists(path + ".BLB"), !delete_on_close);
      if (delete_on_close) continue;
      EXPECT_TRUE(CheckTableFiles(path).ok());
      TDataFile again;
      OpenOn(again, path, false);
      EXPECT_EQ(again.GetRecordCount(), 300u);
      again.Close();
      again.DeleteTableFiles();
    }
  }
}

// Slots come back through the deleted chain, and "Sys Deleted" follows each slot.
TEST_F(EdgeTest, DeletedSlotsAreReusedUnlessTheTableHasNoPrimaryKey) {
  const std::string reuse = Table("Reuse"), never = Table("Never");
  Create(reuse, UsersTable());
  Create(never, UsersTable(false));
  TDataFile t;
  OpenOn(t, reuse, false);
  EXPECT_EQ(Add(t, 1, "Anne", 10), 1u);
  EXPECT_EQ(t.Header().DeletedHead(), 0u);
  t.DeleteRecord();
  EXPECT_EQ(t.Header().DeletedHead(), 1u);
  EXPECT_EQ(SysDeleted(t), (std::vector<std::pair<uint8_t, uint32_t>>{{1, 1}}));
  EXPECT_EQ(Add(t, 2, "Bruno", 20), 1u);  // slot 1 again, with the next sequence number
  EXPECT_EQ(t.Header().DeletedHead(), 0u);
  EXPECT_EQ(t.GetPhysicalRecordCount(), 1u);
  EXPECT_EQ(SysDeleted(t), (std::vector<std::pair<uint8_t, uint32_t>>{{0, 2}}));
  t.Close();

  OpenOn(t, never, false);
  EXPECT_EQ(Add(t, 1, "Anne", 10), 1u);
  t.DeleteRecord();
  EXPECT_EQ(Add(t, 2, "Bruno", 20), 2u);
  EXPECT_EQ(t.Header().DeletedHead(), 1u);
  EXPECT_EQ(t.GetPhysicalRecordCount(), 2u);
  EXPECT_EQ(t.GetRecordCount(), 1u);  // the deleted slot is not walked
  Bytes buf(t.GetRecordBufferSize());
  t.MoveToBeginning();
  ASSERT_EQ(t.GetNextRecord(buf.data()), 0);
  EXPECT_EQ(t.CurrentRecord()->number, 2u);
  EXPECT_EQ(t.GetNextRecord(buf.data()), kErrEndOfFile);
  EXPECT_TRUE(SysDeleted(t).empty());
  // Record-number order: a key is the record number, whatever partial length comes with it.
  uint8_t number[4];
  cl::PutU32LE(number, 2);
  EXPECT_TRUE(t.SeekRecordKey(true, number, buf.data(), 3, false, 1));
  cl::PutU32LE(number, 1);
  EXPECT_FALSE(t.SeekRecordKey(true, number, buf.data(), 0, false, 0));  // deleted
  t.Close();
  EXPECT_TRUE(CheckTableFiles(never).ok());
}

// The sequence number after 2147483647 is 1 in the header, the record and its keys alike.
TEST_F(EdgeTest, SequenceNumbersWrapToOne) {
  const std::string path = Table("Wrap");
  Shape shape{"Wrap", 0, false, true, {{0, {{kId, false}}, false, false, true}}};
  Create(path, MakeTable(shape));
  Bytes dat = mirvel_test::ReadFileBytes(path + ".DAT");
  cl::PutU32LE(dat.data() + kDatLastAutoIncrement, 2147483646);
  mirvel_test::WriteFileBytes(path + ".DAT", dat);
  TDataFile t;
  OpenOn(t, path, true);
  Bytes buf(t.GetRecordBufferSize());
  for (uint32_t expected : {2147483647u, 1u, 2u}) {
    t.ApplyFieldDefaults(buf.data());
    t.InsertRecord(buf.data());
    EXPECT_EQ(cl::GetU32LE(buf.data() + kRecSequence), expected);
    EXPECT_EQ(t.CurrentRecord()->Sequence(), expected);
    EXPECT_EQ(t.Header().LastAutoIncrement(), expected);
  }
  PutInt(t, kId, 1, buf.data());
  EXPECT_TRUE(t.SeekRecordKey(false, buf.data(), nullptr, 0, false, 0));
  EXPECT_EQ(t.CurrentRecord()->number, 2u);
  EXPECT_EQ(t.GetCurrentRecordNumber(), 1u);  // 1 sorts first
  t.ReleaseAllPins();
  t.CommitTransaction(false, false, false);
  EXPECT_TRUE(CheckTable(t).ok());
}

// Pins, read-ahead and the limits of one read.
TEST_F(EdgeTest, RecordCacheLimits) {
  const std::string path = Table("Cache");
  Create(path, UsersTable());
  {
    TDataFile t;
    OpenOn(t, path, true);
    for (int i = 1; i <= 2000; ++i) Add(t, i, "N" + std::to_string(i), i);
    t.ReleaseAllPins();
    bool retry = false;
    for (int i = 0; i < 64; ++i) ASSERT_NE(t.GetRecord(1, false, 1, false, retry), nullptr);
    EXPECT_EQ(EngineCode([&] { t.GetRecord(1, false, 1, false, retry); }), kErrRecordBufferCorrupt);
    t.ReleaseAllPins();
  }
  TDataFile t;
  OpenOn(t, path, false);
  const uint32_t per_read = t.PerReadMaximum();
  ASSERT_LT(per_read, 2000u);
  t.RecordCache().ClearStatistics();
  Bytes buf(t.GetRecordBufferSize());
  t.MoveToBeginning();
  uint32_t walked = 0;
  while (t.GetNextRecord(buf.data()) == 0) ++walked;
  EXPECT_EQ(walked, 2000u);
  // Keys in record order: each read brings as many records as one read may.
  EXPECT_EQ(t.RecordCache().RecordReads(), (2000 + per_read - 1) / per_read);
  t.Close();

  // A record above 32767 bytes: one record per read.
  TNewTable wide;
  for (uint16_t i = 1; i <= 140; ++i) {
    wide.fields.push_back(Field(i, ("S" + std::to_string(i)).c_str(), kFieldString, 250));
  }
  wide.indexes = {Index("", {}, false)};
  Create(Table("Wide"), wide);
  OpenOn(t, Table("Wide"), false);
  EXPECT_EQ(t.PerReadMaximum(), 1u);
  Bytes row(t.GetRecordBufferSize());
  for (int i = 0; i < 3; ++i) {
    t.ApplyFieldDefaults(row.data());
    t.InsertRecord(row.data());
  }
  t.Close();
  OpenOn(t, Table("Wide"), false);
  t.RecordCache().ClearStatistics();
  t.MoveToBeginning();
  while (t.GetNextRecord(row.data()) == 0) {
  }
  EXPECT_EQ(t.RecordCache().RecordReads(), 3u);
}

// The ends of the table, seeks by prefix, ranges and index choice.
TEST_F(EdgeTest, CursorEndsSeeksAndRanges) {
  const std::string path = Table("Users");
  Create(path, UsersTable());
  TDataFile t;
  OpenOn(t, path, false);
  Bytes buf(t.GetRecordBufferSize());
  t.MoveToBeginning();
  EXPECT_EQ(t.GetNextRecord(buf.data()), kErrEndOfFile);
  EXPECT_EQ(GetText(t, kNom, buf.data()), "Anonyme");  // the blank record with its defaults
  EXPECT_EQ(t.GetPriorRecord(buf.data()), kErrBeginningOfFile);

  const char* names[] = {"mARTIN", "Dupont", "martinez", "Durand", "Marchand", "Dupond"};
  for (int i = 0; i < 6; ++i) Add(t, 10 - i, names[i], i);
  t.MoveToBeginning();
  ASSERT_EQ(t.GetNextRecord(buf.data()), 0);
  EXPECT_EQ(GetInt(t, kId, buf.data()), 5);
  EXPECT_EQ(t.GetPriorRecord(buf.data()), kErrBeginningOfFile);
  ASSERT_EQ(t.GetNextRecord(buf.data()), 0);  // still before the first key
  EXPECT_EQ(GetInt(t, kId, buf.data()), 5);

  // Two lower-case letters on the case-insensitive index: the first name starting with them.
  t.SetCurrentIndexByName("i1");
  Bytes key_record(t.GetRecordBufferSize());
  PutText(t, kNom, "ma", key_record.data());
  EXPECT_TRUE(t.SeekRecordKey(false, key_record.data(), buf.data(), 2, false, 0));
  EXPECT_EQ(GetText(t, kNom, buf.data()), "Marchand");
  PutText(t, kNom, "mz", key_record.data());
  EXPECT_FALSE(t.SeekRecordKey(false, key_record.data(), buf.data(), 2, true, 0));
  // All the fields of a non-unique index: a prefix search, whatever the sequence suffix.
  PutText(t, kNom, "MARTIN", key_record.data());
  EXPECT_TRUE(t.SeekRecordKey(false, key_record.data(), buf.data(), 0, false, 0));
  EXPECT_EQ(GetText(t, kNom, buf.data()), "mARTIN");
  EXPECT_TRUE(t.FindRecordByKey(key_record.data(), buf.data()));
  // A partial length past the field stops at the key's fields.
  EXPECT_TRUE(t.SeekRecordKey(false, key_record.data(), buf.data(), 250, false, 0));
  EXPECT_EQ(GetText(t, kNom, buf.data()), "mARTIN");

  // A range from "D" on, with no upper bound: the first record of the range is number 1.
  PutText(t, kNom, "D", key_record.data());
  t.SetRange(false, key_record.data(), 0, nullptr, 0);
  EXPECT_EQ(t.GetRecordCount(), 6u);
  t.GoToPosition(1);
  EXPECT_EQ(t.GetCurrentRecordNumber(), 1u);
  t.SetRange(false, nullptr, 0, key_record.data(), 0);  // up to "D": nothing
  EXPECT_EQ(t.GetRecordCount(), 0u);
  PutText(t, kNom, "Dur", key_record.data());
  t.SetRange(false, nullptr, 0, key_record.data(), 0);
  EXPECT_EQ(t.GetRecordCount(), 2u);  // Dupond, Dupont

  // An unknown index changes nothing.
  t.GoToPosition(2);
  const uint32_t before = t.CurrentRecord()->number;
  EXPECT_EQ(EngineCode([&] { t.SetCurrentIndexByName("Nowhere"); }), kErrInvalidIndexName);
  EXPECT_EQ(EngineCode([&] { t.SetCurrentIndexByNumber(7); }), kErrInvalidIndexName);
  EXPECT_EQ(t.GetCurrentIndexNumber(), 1);
  EXPECT_EQ(t.GetRecordCount(), 2u);
  EXPECT_EQ(t.CurrentRecord()->number, before);

  // An index entry past the last slot is damage to report, not a slot to make.
  t.ResetRange();
  const uint32_t next = t.Header().NextRecord();
  uint8_t key[kMaxKeyLength];
  t.BuildKey(buf.data(), key);
  t.IndexFile().InsertKey(key, next);
  EXPECT_EQ(EngineCode([&] {
              t.MoveToBeginning();
              while (t.GetNextRecord(buf.data()) == 0) {
              }
            }),
            kErrRecordBufferCorrupt);
  EXPECT_EQ(t.Header().NextRecord(), next);
}

// A prefix seek on a descending index of a language table lands on the first key of the prefix
// in index order, whatever a fill byte weighs in the collation.
TEST_F(EdgeTest, PrefixSeeksOnADescendingIndexOfALanguageTable) {
  const std::string path = Table("Desc");
  const Shape shape{"Desc",
                    0x040C,
                    false,
                    false,
                    {{0, {{kId, false}}, false, false, true},
                     {1, {{kNom, false}}, false, true, false},                  // descending index
                     {2, {{kNom, true}, {kId, false}}, false, false, false}}};  // field
  Create(path, MakeTable(shape));
  TDataFile t;
  OpenOn(t, path, false);
  int id = 0;
  for (const char* nom : {"LUC", "MARTIN", "MAYER", "MAZET", "MBAPPE"}) {
    Bytes buf(t.GetRecordBufferSize());
    PutInt(t, kId, ++id, buf.data());
    PutText(t, kNom, nom, buf.data());
    t.InsertRecord(buf.data());
  }
  for (uint8_t slot : {1, 2}) {
    t.SetCurrentIndexByNumber(slot);
    Bytes key(t.GetRecordBufferSize()), out(t.GetRecordBufferSize());
    PutText(t, kNom, "MA", key.data());
    EXPECT_TRUE(t.SeekRecordKey(false, key.data(), out.data(), 2, false, 0));
    EXPECT_EQ(GetText(t, kNom, out.data()), "MAZET") << int{slot};
    EXPECT_EQ(t.GetCurrentRecordNumber(), 2u);
  }
}

// A clone stands where its source stands, locks against it, and sees its writes.
TEST_F(EdgeTest, ClonesAndVanishedRecords) {
  const std::string path = Table("Users");
  Create(path, UsersTable());
  TDataFile t;
  OpenOn(t, path, false);
  for (int i = 1; i <= 6; ++i) Add(t, i, "N" + std::to_string(i), i);
  t.SetCurrentIndexByNumber(2);
  Bytes buf(t.GetRecordBufferSize());
  t.GoToPosition(4);
  ASSERT_EQ(t.GetCurrentRecord(buf.data()), 0);
  auto clone = t.Clone();
  clone->SetLockRetryCount(0);
  EXPECT_EQ(clone->GetCurrentIndexNumber(), 2);
  EXPECT_EQ(clone->GetCurrentRecordNumber(), 4u);
  EXPECT_EQ(clone->CurrentRecord()->number, t.CurrentRecord()->number);
  // The record lock of the source's handle holds the clone off.
  const uint32_t n = t.CurrentRecord()->number;
  ASSERT_TRUE(t.Lock(kRecordLockBase - n, 1, true));
  EXPECT_EQ(EngineCode([&] { clone->DeleteRecord(); }), kErrRecordLocked);
  ASSERT_TRUE(t.Lock(kRecordLockBase - n, 1, false));
  // The clone deletes the record under the source: the source's delete and modify refuse
  // rather than act on the record next to it.
  clone->DeleteRecord();
  EXPECT_EQ(EngineCode([&] { t.DeleteRecord(); }), kErrRecordNotFound);
  ASSERT_EQ(clone->GotoCurrentOf(t), 0);  // the record the source stands on now
  ASSERT_EQ(t.GetCurrentRecord(buf.data()), 0);
  clone->DeleteRecord();
  PutText(t, kNom, "Edited", buf.data());
  EXPECT_EQ(EngineCode([&] { t.ModifyRecord(buf.data()); }), kErrRecordNotFound);
  EXPECT_EQ(t.GetRecordCount(), 4u);
  clone->Close();
  t.Close();
  TTableCheckReport report = CheckTableFiles(path);
  EXPECT_TRUE(report.ok());
  EXPECT_EQ(report.live_records, 4u);
  TDataFile exclusive;
  OpenOn(exclusive, path, true);
  EXPECT_EQ(EngineCode([&] { exclusive.Clone(); }), kErrAccessDenied);
}

// A store that fails half-way leaves nothing behind: the key stored before the failure never
// reaches the disk, not even with the next successful write.
TEST_F(EdgeTest, AFailedStoreLeavesNoKeyBehind) {
  const std::string path = Table("Users");
  Create(path, UsersTable());
  TDataFile t;
  OpenOn(t, path, false);
  for (int i = 1; i <= 400; ++i) Add(t, i, "N" + std::to_string(i % 50), i);
  t.Close();
  auto faults = std::make_shared<platform::FileFaults>();
  t.IndexFile().InjectFaults(faults);
  OpenOn(t, path, false);
  Bytes buf(t.GetRecordBufferSize());
  t.MoveToBeginning();
  while (t.GetNextRecord(buf.data()) == 0) {
  }
  t.SetCurrentIndexByNumber(2);  // the unique index's pages come in too; "i1" stays on disk
  t.MoveToBeginning();
  while (t.GetNextRecord(buf.data()) == 0) {
  }
  const Bytes before = Files(path);
  faults->read_limit = 100;  // pages no longer read whole
  EXPECT_EQ(EngineCode([&] { Add(t, 1000, "Nouveau", 1000); }), kErrReadFailure);
  EXPECT_EQ(Files(path), before);
  faults->read_limit = -1;
  EXPECT_EQ(EngineCode([&] { Add(t, 1001, "Suivant", 1001); }), 0);
  // A change check that cannot read gives the write level back: another handle writes at once.
  faults->read_error = platform::kErrorDiskFull;
  EXPECT_EQ(EngineCode([&] { Add(t, 1002, "Refus", 1002); }), kErrReadFailure);
  faults->read_error = platform::kErrorSuccess;
  auto other = t.Clone();
  EXPECT_EQ(EngineCode([&] { Add(*other, 1003, "Autre", 1003); }), 0);
  other->Close();
  t.Close();
  const TTableCheckReport report = CheckTableFiles(path);
  EXPECT_TRUE(report.ok()) << report.problems.front();
  EXPECT_EQ(report.live_records, 402u);
}

// On an exclusive handle every write begins with a commit; after a failed store whose reload
// failed too, that commit must not write what the failed store left in the caches (its keys for
// a slot that stayed deleted), and the next write starts from the files.
TEST_F(EdgeTest, AFailedReloadOnAnExclusiveHandleCommitsNothingOfTheFailedWrite) {
  const std::string path = Table("Users");
  Create(path, UsersTable());
  TDataFile t;
  OpenOn(t, path, true);
  for (int i = 1; i <= 5000; ++i) Add(t, i, "N" + std::to_string(i % 50), i);
  Bytes buf(t.GetRecordBufferSize());
  for (int id : {1, 2}) {
    PutInt(t, kId, id, buf.data());
    ASSERT_TRUE(t.SeekRecordKey(false, buf.data(), nullptr, 0, false, 0));
    t.DeleteRecord();
  }
  EXPECT_EQ(Add(t, 6000, "Entre", 6000), 2u);  // its commit writes both deletions
  // Every other record comes in, so slot 1, which the next insert takes, is read from the file.
  ASSERT_LT(t.RecordCacheCapacity(), 4500u);
  t.MoveToBeginning();
  while (t.GetNextRecord(buf.data()) == 0) {
  }
  auto faults = std::make_shared<platform::FileFaults>();
  t.InjectFaults(faults);
  faults->read_error = platform::kErrorDiskFull;  // the slot's read, then the reload's, fail
  EXPECT_EQ(EngineCode([&] { Add(t, 9000, "Nouveau", 9000); }), kErrReadFailure);
  faults->read_error = platform::kErrorSuccess;
  EXPECT_EQ(EngineCode([&] { Add(t, 9001, "Suivant", 9001); }), 0);
  t.Close();
  const TTableCheckReport report = CheckTableFiles(path);
  ASSERT_TRUE(report.ok()) << report.problems.front();
  EXPECT_EQ(report.live_records, 5000u);
}

// An exclusive handle keeps the index pages of its committed writes in the page cache and runs
// each store under the cache's page journal.  Whatever file fails, in whichever stage (the commit
// a write begins with, the key checks, or half-way through the store, with pages of earlier
// writes still unwritten and a cache so small that pages leave it during the store), a failed
// write leaves the table exactly as the model has it and every later write builds on that.
TEST_F(EdgeTest, FailedWritesOnAnExclusiveHandleLeaveTheTableAsItWas) {
  enum Target { kData, kIndexFile, kBlob };
  struct Fault {
    const char* name;
    Target target;
    bool reads;  // else writes
    int64_t limit;
    uint16_t code;
  };
  const Fault faults_table[] = {
      {"index reads fail", kIndexFile, true, 0, kErrReadFailure},
      {"index writes stop half-way", kIndexFile, false, 1000, kErrWriteFailure},
      {"record writes fail", kData, false, 0, kErrWriteFailure},
      {"blob writes fail", kBlob, false, 0, kErrWriteFailure},
  };
  int row = 0;
  for (const Fault& fault : faults_table) {
    SCOPED_TRACE(fault.name);
    const std::string path = Table(("Journal" + std::to_string(++row)).c_str());
    Create(path, UsersTable());
    TDataFile t;
    OpenOn(t, path, true);
    t.IndexFile().PageCache().SetListCapacity(2);
    std::mt19937 rng(20);
    auto name_of = [&] { return "N" + std::to_string(rng() % 400); };
    std::map<int32_t, std::string> model;  // id -> nom
    int32_t next_id = 1;
    for (; next_id <= 600; ++next_id) {
      model[next_id] = name_of();
      Add(t, next_id, model[next_id], next_id, next_id % 3 == 0 ? std::string(150, 'm') : "");
    }
    auto faults = std::make_shared<platform::FileFaults>();
    TFileHandler& file = fault.target == kData        ? static_cast<TFileHandler&>(t)
                         : fault.target == kIndexFile ? static_cast<TFileHandler&>(t.IndexFile())
                                                      : *t.BlobFile();
    file.InjectFaults(faults);
    auto arm = [&](bool on) {
      (fault.reads ? faults->read_limit : faults->write_limit) = on ? fault.limit : -1;
      if (fault.reads && fault.limit == 0) {
        faults->read_limit = -1;
        faults->read_error = on ? platform::kErrorDiskFull : platform::kErrorSuccess;
      }
    };
    Bytes buf(t.GetRecordBufferSize());
    auto verify = [&](const std::string& when) {
      SCOPED_TRACE(when);
      for (uint8_t slot : {0, 1}) {
        t.SetCurrentIndexByNumber(slot);
        t.MoveToBeginning();
        std::map<int32_t, std::string> seen;
        std::string last;
        while (t.GetNextRecord(buf.data()) == 0) {
          const std::string nom = GetText(t, kNom, buf.data());
          if (slot == 1) {
            ASSERT_LE(last, nom);  // "N" and digits: the case-insensitive order is the plain one
          }
          last = nom;
          seen[static_cast<int32_t>(GetInt(t, kId, buf.data()))] = nom;
        }
        ASSERT_EQ(seen, model) << "index " << int{slot};
      }
      t.SetCurrentIndexByNumber(0);
    };
    int failures = 0;
    for (int round = 1; round <= 120; ++round) {
      // Every other write runs without the fault: it reloads what a failed reload left pending.
      const bool armed = round % 2 == 1;
      const int kind = static_cast<int>(rng() % 3);
      auto victim = model.begin();
      std::advance(victim, static_cast<long>(rng() % model.size()));
      const int32_t id = kind == 0 ? next_id : victim->first;
      const std::string nom = name_of();
      if (kind == 0) {
        // The key checks of the unique indexes find their pages in the cache, so that a read
        // fault strikes the store, after the primary index has taken its key.
        for (uint8_t slot : {2, 0}) {
          t.SetCurrentIndexByNumber(slot);
          t.MoveToEnd();
          ASSERT_EQ(t.GetPriorRecord(buf.data()), 0);
        }
      } else {
        PutInt(t, kId, id, buf.data());
        ASSERT_TRUE(t.SeekRecordKey(false, buf.data(), buf.data(), 0, false, 0));
      }
      arm(armed);
      const int code = EngineCode([&] {
        if (kind == 0) {
          Add(t, id, nom, id, round % 2 ? std::string(400000, 'b') : "");
        } else if (kind == 1) {
          PutText(t, kNom, nom, buf.data());
          t.ModifyRecord(buf.data());
        } else {
          t.DeleteRecord();
        }
      });
      arm(false);
      if (code == 0) {
        if (kind == 0) model[next_id++] = nom;
        if (kind == 1) model[id] = nom;
        if (kind == 2) model.erase(id);
      } else {
        ASSERT_EQ(code, fault.code) << "round " << round;
        ++failures;
      }
      if (armed) continue;
      verify("round " + std::to_string(round));
      if (::testing::Test::HasFatalFailure()) return;
      if (round % 40 == 0) {
        t.CommitTransaction(false, false, false);
        const TTableCheckReport report = CheckTable(t);
        ASSERT_TRUE(report.ok()) << report.problems.front();
        EXPECT_EQ(report.live_records, model.size());
      }
    }
    EXPECT_GT(failures, 20);
    // Some of those failures came half-way through a store, with pages to put back.
    if (fault.target != kData) {
      EXPECT_GT(t.IndexFile().PageCache().RolledBackPages(), 0u);
    }
    t.Close();
    const TTableCheckReport report = CheckTableFiles(path);
    ASSERT_TRUE(report.ok()) << report.problems.front();
    EXPECT_EQ(report.live_records, model.size());
  }
}

// A save of blob values that fails part-way (the disk full while blocks are written back) leaves
// each open value to be saved whole by the next attempt, also the one saved before the failure.
TEST_F(EdgeTest, AFailedBlobSaveIsSavedWholeNextTime) {
  const std::string path = Table("Memos");
  TNewTable table = UsersTable();
  table.fields.push_back(Field(6, "Notes", kFieldBlob));
  table.blob_block_size = 64;
  Create(path, table);
  TDataFile t;
  OpenOn(t, path, false);
  Add(t, 1, "Anne", 1, "first");
  auto faults = std::make_shared<platform::FileFaults>();
  ASSERT_NE(t.BlobFile(), nullptr);
  t.BlobFile()->InjectFaults(faults);
  Bytes buf(t.GetRecordBufferSize());
  t.ApplyFieldDefaults(buf.data());
  PutInt(t, kId, 2, buf.data());
  PutInt(t, kCode, 2, buf.data());
  const std::string small(300, 's'), large(400000, 'L');
  WriteMemo(t, small, buf.data());  // saved first, in the cache
  ASSERT_EQ(t.OpenBlob(TFieldSet::kTable, 6, 0, buf.data()), 0);
  ASSERT_EQ(t.WriteBlob(TFieldSet::kTable, 6, static_cast<int32_t>(large.size()), large.data(), 0,
                        buf.data()),
            0);
  faults->write_limit = 0;  // the large value needs more blocks than the cache holds
  EXPECT_EQ(EngineCode([&] { t.InsertRecord(buf.data()); }), kErrWriteFailure);
  faults->write_limit = -1;
  ASSERT_EQ(EngineCode([&] { t.InsertRecord(buf.data()); }), 0);
  t.CloseBlob(TFieldSet::kTable, kMemo, buf.data());
  t.CloseBlob(TFieldSet::kTable, 6, buf.data());
  t.Close();
  const TTableCheckReport report = CheckTableFiles(path);
  ASSERT_TRUE(report.ok()) << report.problems.front();
  OpenOn(t, path, false);
  Bytes key(t.GetRecordBufferSize());
  PutInt(t, kId, 2, key.data());
  ASSERT_TRUE(t.SeekRecordKey(false, key.data(), buf.data(), 0, false, 0));
  EXPECT_EQ(ReadMemo(t, buf.data()), small);
}

// Several processes insert, modify and delete at once in one shared table; each write takes the
// write level and re-reads what the others wrote, so the table checks sound afterwards.  What a
// process positions on from its cache may be gone by the time it writes, so errors of the
// positioning are counted, not failed; a write may only fail with a duplicate key, a vanished
// record or a record lock held by another process.
TEST_F(EdgeTest, ProcessesWritingAtOnceLeaveASoundTable) {
  for (bool primary : {true, false}) {
    const std::string path = Table(primary ? "Shared" : "SharedNoKey");
    Create(path, UsersTable(primary));
    constexpr int kProcesses = 6;
    constexpr int kOperations = 250;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
      const pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid > 0) {
        children.push_back(pid);
        continue;
      }
      int status = 0;
      try {
        TDataFile t;
        OpenOn(t, path, false);
        t.SetLockRetryCount(3);
        t.SetLockWaitTime(2);
        std::mt19937 rng(static_cast<unsigned>(p) * 7919u + (primary ? 1 : 2));
        Bytes buf(t.GetRecordBufferSize());
        for (int op = 0; op < kOperations && status == 0; ++op) {
          const int kind = static_cast<int>(rng() % 10);
          bool positioned = kind < 5;
          if (!positioned) {
            positioned = EngineCode([&] {
                           const uint32_t count = t.GetRecordCount();
                           if (count == 0) return;
                           t.GoToPosition(1 + static_cast<uint32_t>(rng() % count));
                           t.GetCurrentRecord(buf.data());
                         }) == 0 &&
                         t.CurrentRecord() != nullptr;
          }
          if (!positioned) continue;
          const int code = EngineCode([&] {
            if (kind < 5) {
              Add(t, static_cast<int32_t>(rng() % 5000), "P" + std::to_string(rng() % 40),
                  static_cast<int32_t>(rng() % 100000),
                  rng() % 2 == 0 ? std::string(1 + rng() % 900, 'm') : std::string());
            } else if (kind < 8) {
              PutText(t, kNom, "M" + std::to_string(rng() % 40), buf.data());
              t.ModifyRecord(buf.data());
            } else {
              t.DeleteRecord();
            }
          });
          if (code != 0 && code != kErrKeyViolation && code != kErrRecordNotFound &&
              code != kErrRecordLocked) {
            std::fprintf(stderr, "process %d, operation %d: error %d\n", p, op, code);
            status = 1;
          }
        }
        t.Close();
      } catch (...) {
        status = 2;
      }
      _exit(status);
    }
    for (pid_t pid : children) {
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const TTableCheckReport report = CheckTableFiles(path);
    EXPECT_TRUE(report.ok()) << report.problems.front();
    EXPECT_GT(report.live_records, 0u);
  }
}

// A writer stopped after any write of one commit (killed: every later write vanishes) or inside
// it (killed after the write's first page), or whose write fails there (the disk full), on a
// shared and on an exclusive handle, for an insert, a modify and a delete of a record with a memo
// and two more indexes, an insert that splits an index page, a delete that merges two and an
// exclusive handle's many inserts.  The next handle opens the table sound, holding exactly the
// state before or after; a refused write leaves the state before and a handle that writes once
// the fault is gone.
class CrashTest : public EdgeTest {
 protected:
  using State = std::map<int32_t, std::string>;  // id -> nom, code, memo size and end

  State Read(TDataFile& t) {
    State state;
    Bytes buf(t.GetRecordBufferSize());
    t.SetCurrentIndexByNumber(0);
    t.MoveToBeginning();
    while (t.GetNextRecord(buf.data()) == 0) {
      const std::string memo = ReadMemo(t, buf.data());
      state[static_cast<int32_t>(GetInt(t, kId, buf.data()))] =
          GetText(t, kNom, buf.data()) + "|" + std::to_string(GetInt(t, kCode, buf.data())) + "|" +
          std::to_string(memo.size()) + memo.substr(memo.size() - std::min<size_t>(3, memo.size()));
    }
    return state;
  }

  void CopyTable(const std::string& from, const std::string& to) {
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
      std::filesystem::copy_file(from + ext, to + ext,
                                 std::filesystem::copy_options::overwrite_existing);
    }
    std::filesystem::remove(to + ".JNL");
  }
};

TEST_F(CrashTest, EveryWriteOfACommitLeavesTheTableBeforeOrAfter) {
  const std::string memo(300, 'm');
  auto nom_of = [](int i) { return "Nom" + std::to_string(100000 + i) + "xy"; };
  // The small table, and one whose next insert splits an index page.
  const std::string small = Table("Small");
  Create(small, UsersTable());
  const std::string split = Table("Split");
  int split_id = 0;
  {
    TDataFile t;
    OpenOn(t, small, false);
    for (int i = 1; i <= 40; ++i) Add(t, i, nom_of(i), i * 10, memo + std::to_string(i));
    t.Close();
    Create(split, UsersTable());
    OpenOn(t, split, true);
    for (int i = 1; split_id == 0; ++i) {
      const uint32_t end = t.IndexFile().EndOffset();
      Add(t, i, nom_of(i), i * 10, i % 8 == 0 ? memo : "");
      if (i > 1 && t.IndexFile().EndOffset() > end) split_id = i;
    }
    t.Close();
    Create(split, UsersTable());
    OpenOn(t, split, true);
    for (int i = 1; i < split_id; ++i) Add(t, i, nom_of(i), i * 10, i % 8 == 0 ? memo : "");
    t.Close();
  }
  auto delete_id = [](TDataFile& t, int id) {
    Bytes buf(t.GetRecordBufferSize());
    t.SetCurrentIndexByNumber(0);
    PutInt(t, kId, id, buf.data());
    ASSERT_TRUE(t.SeekRecordKey(false, buf.data(), buf.data(), 0, false, 0));
    t.DeleteRecord();
  };
  // And one whose next delete merges two index pages: a page goes to an index's free chain.
  const std::string merge = Table("Merge");
  int merge_id = 0;
  {
    auto freed = [](TDataFile& t) {
      bool any = false;
      for (int slot = 0; slot <= t.GetSecondaryIndexCount(); ++slot) {
        t.SetCurrentIndexByNumber(static_cast<uint8_t>(slot));
        any = any || t.IndexFile().FreeHead() != 0;
      }
      t.SetCurrentIndexByNumber(0);
      return any;
    };
    TDataFile t;
    CopyTable(split, merge);
    OpenOn(t, merge, true);
    Add(t, split_id, nom_of(split_id), split_id * 10);
    for (int i = 1; merge_id == 0 && i < split_id; ++i) {
      delete_id(t, i);
      if (freed(t)) merge_id = i;
    }
    t.Close();
    ASSERT_NE(merge_id, 0);
    CopyTable(split, merge);
    OpenOn(t, merge, true);
    Add(t, split_id, nom_of(split_id), split_id * 10);
    for (int i = 1; i < merge_id; ++i) delete_id(t, i);
    t.Close();
  }
  // kLargeMemo: a memo larger than the blob cache, whose blocks leave the cache during the save;
  // kNoMemo: a modify that leaves the blob file alone (its commit holds nothing of it);
  // kUnderRoot: an insert below inner pages that changes only their counts; kBulk: an exclusive
  // handle's commit of many inserts, whose new pages follow its index header in the file.
  enum Op {
    kInsert,
    kModify,
    kDelete,
    kSplitting,
    kMerging,
    kLargeMemo,
    kNoMemo,
    kUnderRoot,
    kBulk
  };
  const std::string work = Table("Work");
  for (const bool exclusive : {false, true}) {
    for (const Op op : {kInsert, kModify, kDelete, kSplitting, kMerging, kLargeMemo, kNoMemo,
                        kUnderRoot, kBulk}) {
      // A shared handle commits each insert: a kill between them leaves a state in between.
      if (op == kBulk && !exclusive) continue;
      SCOPED_TRACE(::testing::Message() << "exclusive " << exclusive << " op " << op);
      const std::string& base = op == kSplitting                     ? split
                                : op == kMerging || op == kUnderRoot ? merge
                                                                     : small;
      auto write = [&](TDataFile& t) {
        Bytes buf(t.GetRecordBufferSize());
        if (op == kInsert) Add(t, 77, nom_of(77), 770, memo + "new");
        if (op == kLargeMemo) Add(t, 77, nom_of(77), 770, std::string(400000, 'L') + "end");
        if (op == kSplitting) Add(t, split_id, nom_of(split_id), split_id * 10);
        if (op == kMerging) delete_id(t, merge_id);
        if (op == kUnderRoot) Add(t, 500000, nom_of(500000), 5);
        for (int i = 0; op == kBulk && i < 30; ++i) {
          Add(t, 2000 + i, nom_of(2000 + i), 20000 + i, i % 4 == 0 ? memo : "");
        }
        if (op == kModify || op == kDelete || op == kNoMemo) {
          PutInt(t, kId, 17, buf.data());
          ASSERT_TRUE(t.SeekRecordKey(false, buf.data(), buf.data(), 0, false, 0));
        }
        if (op == kNoMemo) {
          PutText(t, kNom, "Renamed", buf.data());
          t.ModifyRecord(buf.data());
        }
        if (op == kModify) {
          PutText(t, kNom, "Changed", buf.data());
          PutInt(t, kCode, 9999, buf.data());
          WriteMemo(t, "edited", buf.data());
          const int code = EngineCode([&] { t.ModifyRecord(buf.data()); });
          t.CloseBlob(TFieldSet::kTable, kMemo, buf.data());
          if (code != 0) RaiseEngineError(static_cast<uint16_t>(code));
        }
        if (op == kDelete) t.DeleteRecord();
        // An exclusive handle's commits reach the files when they are flushed (or closed).
        if (exclusive) {
          t.ReleaseAllPins();
          // As a close commits (headers only when they changed), or as a flush forces them.
          t.CommitTransaction(false, op != kNoMemo, op != kNoMemo);
          t.PinCurrentRecord();
        }
      };
      auto faults = std::make_shared<platform::FileFaults>();
      State before, after;
      int64_t writes = 0;
      {
        CopyTable(base, work);
        TDataFile t;
        t.InjectFaults(faults);
        OpenOn(t, work, exclusive);
        before = Read(t);
        faults->writes = 0;
        write(t);
        writes = faults->writes;
        after = Read(t);
        t.Close();
      }
      ASSERT_NE(before, after);
      ASSERT_GE(writes, 5);
      // Killed after write k; the disk full from write k on; an I/O error from write k on, which
      // past the commit point (write 2 puts the mark down) leaves a commit to complete; killed
      // inside write k, after its first page.
      enum Fault { kKilled, kDiskFull, kIoError, kTorn };
      for (const Fault fault : {kKilled, kDiskFull, kIoError, kTorn}) {
        for (int64_t k = 1; k <= writes; ++k) {
          SCOPED_TRACE(::testing::Message() << "fault " << fault << " at write " << k);
          CopyTable(base, work);
          faults = std::make_shared<platform::FileFaults>();
          TDataFile t;
          t.InjectFaults(faults);
          OpenOn(t, work, exclusive);
          if (fault == kTorn) {
            faults->tear_write = k;
            faults->tear_bytes = 4096;
          } else {
            (fault == kKilled ? faults->stop_after : faults->fail_write) = k;
          }
          if (fault == kIoError) faults->write_error = platform::kErrorIoDevice;
          faults->writes = 0;
          // Shared, every other kill: the next workstation opens while the writer holds the
          // semaphore (a stranger's lock stands in for it until the open waits), after its first
          // look for a mark, and the writer dies inside its commit.
          TDataFile next;
          const bool meanwhile = fault == kKilled && !exclusive && k % 2 == 1;
          int code = 0;
          if (meanwhile) {
            platform::OsFile stranger;
            ASSERT_EQ(stranger.Open(work + ".DAT", platform::FileAccess::kReadWrite,
                                    platform::FileShare::kDenyNone, false),
                      platform::kErrorSuccess);
            ASSERT_EQ(stranger.Lock(kDataSemaphoreOffset, 1), platform::kErrorSuccess);
            next.SetLockTuning(TDataFile::TLockTuning{3, 3, [&](int32_t) {
                                                        if (!stranger.IsOpen()) return;
                                                        stranger.Close();
                                                        code = EngineCode([&] { write(t); });
                                                      }});
            ASSERT_EQ(EngineCode([&] { OpenOn(next, work, false); }), 0);
            ASSERT_FALSE(stranger.IsOpen());
          } else {
            code = EngineCode([&] { write(t); });
          }
          const bool refused =
              fault == kDiskFull ? faults->failed > 0 : fault == kIoError && k <= 2;
          if (fault == kTorn) {
            EngineCode([&] { t.Close(); });  // whatever it says, its writes vanish
          } else if (fault == kKilled) {
            ASSERT_EQ(code, 0);
            t.Close();  // its writes vanish: the process is gone
          } else if (!refused) {
            ASSERT_EQ(code, 0);
            if (fault == kIoError) {
              // Committed: the handle completes it before anything else, raising until it can.
              EXPECT_EQ(EngineCode([&] { Read(t); }), kErrWriteFailure);
              faults->fail_write = -1;
              EXPECT_EQ(Read(t), after);
            }
            t.Close();
          } else {
            ASSERT_EQ(code, kErrWriteFailure);
            if (!exclusive) {
              EXPECT_EQ(Read(t), before);
              faults->fail_write = -1;
              ASSERT_EQ(EngineCode([&] { write(t); }), 0);
            } else {
              // While the disk refuses, every write raises and the close leaves the last commit.
              EXPECT_EQ(EngineCode([&] { Add(t, 78, nom_of(78), 780, memo); }), kErrWriteFailure);
              EXPECT_EQ(EngineCode([&] { t.Close(); }), kErrWriteFailure);
              faults->fail_write = -1;
              OpenOn(t, work, true);
              EXPECT_EQ(Read(t), before);
              write(t);
            }
            t.Close();
          }
          if (!meanwhile) {
            ASSERT_EQ(EngineCode([&] { OpenOn(next, work, false); }), 0);
          } else if (k % 4 == 1) {
            Add(next, 99999, nom_of(99999), 7, memo);  // and writes on it
          }
          const State state = Read(next);
          next.Close();
          const TTableCheckReport report = CheckTableFiles(work);
          ASSERT_TRUE(report.ok()) << report.problems.front();
          if (fault == kKilled || fault == kTorn) {
            State without = state;
            if (meanwhile && k % 4 == 1) {
              EXPECT_EQ(without.erase(99999), 1u);
            }
            EXPECT_TRUE(without == before || without == after);
          } else {
            EXPECT_EQ(state, after);
          }
        }
      }
    }
  }
}

// Eight processes insert records with memos until their files may not grow any more (the
// system's file size limit stands in for a full disk).  Every refused insert changes nothing:
// afterwards the table opens sound and holds exactly the records reported done, memos whole.
TEST_F(CrashTest, ProcessesFillingTheDiskKeepEveryRecordReportedDone) {
  const std::string path = Table("Full");
  Create(path, UsersTable());
  constexpr int kWriters = 8;
  std::vector<pid_t> children;
  std::vector<int> reports;
  for (int p = 0; p < kWriters; ++p) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid > 0) {
      close(fds[1]);
      children.push_back(pid);
      reports.push_back(fds[0]);
      continue;
    }
    close(fds[0]);
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{200 * 1024, 200 * 1024};
    int status = setrlimit(RLIMIT_FSIZE, &limit) == 0 ? 0 : 3;
    try {
      TDataFile t;
      OpenOn(t, path, false);
      for (int i = 0, refused = 0; refused < 25 && i < 5000 && status == 0; ++i) {
        const int32_t id = p * 100000 + i;
        const int code = EngineCode([&] {
          Add(t, id, "W" + std::to_string(id), id,
              std::string(300 + id % 200, static_cast<char>('a' + p)));
        });
        if (code == 0 && write(fds[1], &id, sizeof id) != sizeof id) status = 4;
        if (code == kErrWriteFailure) ++refused;
        if (code != 0 && code != kErrWriteFailure) status = 2;
      }
      t.Close();
    } catch (...) {
      status = 5;
    }
    _exit(status);
  }
  std::map<int32_t, std::string> done;
  for (int fd : reports) {
    int32_t id = 0;
    while (read(fd, &id, sizeof id) == sizeof id) {
      done[id] = "W" + std::to_string(id) + "|" + std::to_string(id) + "|" +
                 std::to_string(300 + id % 200);
    }
    close(fd);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  EXPECT_GT(done.size(), 100u);
  TDataFile t;
  OpenOn(t, path, false);
  std::map<int32_t, std::string> found;
  for (const auto& [id, text] : Read(t)) found[id] = text.substr(0, text.size() - 3);
  t.Close();
  const TTableCheckReport report = CheckTableFiles(path);
  ASSERT_TRUE(report.ok()) << report.problems.front();
  EXPECT_EQ(found, done);
}

}  // namespace
}  // namespace tessera
