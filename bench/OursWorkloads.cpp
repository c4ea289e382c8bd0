// RecordBench on our engine, through the table calls the dataset components make.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchData.h"
#include "classlib/rtl/Coding.h"
#include "engine/storage/expr/ExpressionChecker.h"
#include "engine/storage/expr/TExpressionParser.h"
#include "engine/storage/table/FieldExpressionValues.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCheck.h"
#include "engine/storage/table/TableCreation.h"

namespace bench {
namespace {

namespace fs = std::filesystem;
using tessera::TDataFile;
using tessera::TFieldSet;

// ---- our engine --------------------------------------------------------------------------------

tessera::TFieldDefinition Definition(uint16_t number, const char* name, uint8_t type,
                                     uint8_t size) {
  tessera::TFieldDefinition d;
  d.number = number;
  d.name = name;
  d.type = type;
  d.size = size;
  return d;
}

void CreateOurs(const std::string& path) {
  tessera::TNewTable table;
  table.fields = {Definition(kId, "Id", tessera::kFieldInt32, 0),
                  Definition(kNom, "Nom", tessera::kFieldString, kStringSize),
                  Definition(kJour, "Jour", tessera::kFieldDate, 0),
                  Definition(kMontant, "Montant", tessera::kFieldFloat, 0),
                  Definition(kMemo, "Memo", tessera::kFieldBlob, 0)};
  tessera::TIndexDescriptor primary;
  primary.field_count = 1;
  primary.field_numbers[0] = kId;
  primary.unique = 1;
  tessera::TIndexDescriptor by_name;
  by_name.name = "ParNom";
  by_name.field_count = 1;
  by_name.field_numbers[0] = kNom;
  by_name.case_insensitive = 1;
  table.indexes = {primary, by_name};
  TDataFile t;
  t.SetFileName(path);
  t.SetExclusive(true);
  t.SetupNewTable(table);
}

void OpenOurs(TDataFile& t, const std::string& path, bool exclusive) {
  t.SetFileName(path);
  t.SetExclusive(exclusive);
  t.Open();
}

void PutInt(TDataFile& t, uint16_t field, uint32_t value, uint8_t* record) {
  uint8_t bytes[4];
  cl::PutU32LE(bytes, value);
  t.PutFieldValue(TFieldSet::kTable, field, false, bytes, record);
}

// The record buffer of `row`, memo opened and written (the caller closes it after the write).
void FillRecord(TDataFile& t, const Row& row, uint8_t* record) {
  t.ApplyFieldDefaults(record);
  PutInt(t, kId, static_cast<uint32_t>(row.id), record);
  t.PutFieldValue(TFieldSet::kTable, kNom, false, reinterpret_cast<const uint8_t*>(row.nom),
                  record);
  PutInt(t, kJour, row.jour, record);
  uint8_t bytes[8];
  cl::PutF64LE(bytes, row.montant);
  t.PutFieldValue(TFieldSet::kTable, kMontant, false, bytes, record);
  if (t.OpenBlob(TFieldSet::kTable, kMemo, 0, record) != 0 ||
      t.WriteBlob(TFieldSet::kTable, kMemo, kMemoSize, row.memo, 0, record) != 0) {
    Die("memo write refused");
  }
}

void InsertOurs(TDataFile& t, uint32_t id, uint8_t* record) {
  FillRecord(t, MakeRow(id), record);
  t.InsertRecord(record);
  t.CloseBlob(TFieldSet::kTable, kMemo, record);
}

// The peak memory of the workload so far, then the table check (whose own memory is not the
// workload's).
long peak_before_check = 0;

void CheckOurs(TDataFile& t, uint32_t expected) {
  peak_before_check = PeakKilobytes();
  const tessera::TTableCheckReport report = tessera::CheckTable(t);
  if (!report.ok()) Die("table check: " + report.problems.front());
  if (report.live_records != expected) {
    Die("table check: " + std::to_string(report.live_records) + " records, expected " +
        std::to_string(expected));
  }
}

// Stands on record `id` in the primary index; false when missing.
bool FindOurs(TDataFile& t, uint32_t id, uint8_t* key, uint8_t* out) {
  PutInt(t, kId, id, key);
  return t.SeekRecordKey(false, key, out, 0, false, 0);
}

uint32_t CountOurs(TDataFile& t, const std::string& condition) {
  tessera::TExpressionParser parser;
  parser.SetText(condition);
  parser.NextToken();
  tessera::ExpressionNodePtr tree =
      parser.ParseExpression(tessera::kAllowExtendedPredicates, "filter");
  tessera::CheckExpression("filter", *tree, [&](tessera::ExpressionNode& column) {
    for (const tessera::TFieldDefinition& f : t.TableFields()) {
      if (f.name == column.column_name) {
        tessera::BindColumnNode(f, column);
        return true;
      }
    }
    return false;
  });
  tessera::TFilter* filter = nullptr;
  if (t.AddFilter({}, tree.release(), true, false, nullptr, nullptr, &filter) != 0 ||
      t.ActivateFilter(filter) != 0) {
    Die("filter refused: " + condition);
  }
  const uint32_t count = t.GetRecordCount();
  t.DropFilter(filter);
  return count;
}

}  // namespace

Measure OursWorkload(const std::string& w, const Paths& p, const Sizes& z) {
  Measure m;
  const std::string table = p.work + "/Table";
  TDataFile t;
  Clock::time_point start;
  std::vector<uint8_t> record, key;
  auto open = [&](const std::string& path, bool exclusive) {
    OpenOurs(t, path, exclusive);
    record.assign(t.GetRecordBufferSize(), 0);
    key.assign(t.GetRecordBufferSize(), 0);
  };
  if (w == "setup" || w == "W1") {
    CreateOurs(w == "setup" ? p.base_ours : table);
    open(w == "setup" ? p.base_ours : table, true);
    const std::vector<uint32_t> ids = Shuffled(z.n, 1);
    start = Clock::now();
    for (uint32_t id : ids) InsertOurs(t, id, record.data());
    t.Close();
    m.seconds = Seconds(start);
    open(w == "setup" ? p.base_ours : table, false);
    CheckOurs(t, z.n);
  } else if (w == "W2") {
    CreateOurs(table);
    open(table, false);
    const std::vector<uint32_t> ids = Shuffled(z.shared, 2);
    start = Clock::now();
    for (uint32_t id : ids) InsertOurs(t, id, record.data());
    m.seconds = Seconds(start);
    CheckOurs(t, z.shared);
  } else if (w == "W3") {
    open(p.base_ours, false);
    std::mt19937 rng(3);
    uint32_t found = 0;
    start = Clock::now();
    for (uint32_t i = 0; i < z.n; ++i) {
      if (FindOurs(t, 1 + rng() % z.n, key.data(), record.data())) ++found;
    }
    m.seconds = Seconds(start);
    if (found != z.n) Die("W3 found " + std::to_string(found));
    CheckOurs(t, z.n);
  } else if (w == "W4") {
    open(p.base_ours, false);
    uint64_t sum = 0;
    uint32_t seen = 0;
    char memo[kMemoSize + 1];
    uint8_t value[64];
    start = Clock::now();
    t.SetCurrentIndexByNumber(1);
    t.MoveToBeginning();
    while (t.GetNextRecord(record.data()) == 0) {
      for (uint16_t f : {kId, kNom, kJour, kMontant}) {
        t.GetFieldValue(TFieldSet::kTable, f, value, record.data());
        sum += value[0];
      }
      int32_t got = 0;
      if (t.OpenBlob(TFieldSet::kTable, kMemo, 0, record.data()) != 0 ||
          t.ReadBlob(TFieldSet::kTable, kMemo, got, kMemoSize, memo, 0, record.data()) != 0 ||
          got != kMemoSize) {
        Die("W4 memo read");
      }
      t.CloseBlob(TFieldSet::kTable, kMemo, record.data());
      sum += static_cast<uint8_t>(memo[1]);
      ++seen;
    }
    m.seconds = Seconds(start);
    if (seen != z.n || sum == 0) Die("W4 saw " + std::to_string(seen));
    CheckOurs(t, z.n);
  } else if (w == "W5") {
    open(p.base_ours, false);
    std::mt19937 rng(5);
    uint64_t sum = 0;
    start = Clock::now();
    t.SetCurrentIndexByNumber(1);
    for (uint32_t i = 0; i < z.moves; ++i) {
      t.GoToPosition(1 + rng() % z.n);
      if (t.GetCurrentRecord(record.data()) != 0) Die("W5 move");
      uint8_t id[4];
      t.GetFieldValue(TFieldSet::kTable, kId, id, record.data());
      sum += cl::GetU32LE(id);
    }
    m.seconds = Seconds(start);
    if (sum == 0) Die("W5 read nothing");
    CheckOurs(t, z.n);
  } else if (w == "W6") {
    open(p.base_ours, false);
    const uint32_t below = static_cast<uint32_t>(z.n * kIndexedBelow);
    start = Clock::now();
    const uint64_t fetches = t.FilterRecordFetches();
    const uint32_t indexed = CountOurs(t, "Id < " + std::to_string(below));
    const bool served = t.FilterRecordFetches() == fetches;
    const uint32_t scanned = CountOurs(t, "Montant > " + std::to_string(kMontantAbove));
    m.seconds = Seconds(start);
    if (indexed != below - 1 || !served) Die("W6 indexed count");
    if (scanned != CountMontantAbove(z.n)) Die("W6 scanned count");
    std::printf("# W6 counts %u %u\n", indexed, scanned);
    CheckOurs(t, z.n);
  } else if (w == "W7") {
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) fs::copy_file(p.base_ours + ext, table + ext);
    open(table, false);
    const std::vector<uint32_t> ids = Shuffled(z.n, 7);
    start = Clock::now();
    for (uint32_t i = 0; i < z.moves; ++i) {
      if (!FindOurs(t, ids[i], key.data(), record.data())) Die("W7 update find");
      char nom[kStringSize + 1];
      MakeNom(ids[i], 1, nom);
      t.PutFieldValue(TFieldSet::kTable, kNom, false, reinterpret_cast<const uint8_t*>(nom),
                      record.data());
      t.ModifyRecord(record.data());
    }
    for (uint32_t i = 0; i < z.moves; ++i) {
      if (!FindOurs(t, ids[z.moves + i], key.data(), record.data())) Die("W7 delete find");
      t.DeleteRecord();
    }
    m.seconds = Seconds(start);
    CheckOurs(t, z.n - z.moves);
  } else if (w == "W8") {
    CreateOurs(table);
    start = Clock::now();
    m.peak_kb = RunWriters("ours", table, z.writers);
    m.seconds = Seconds(start);
    open(table, false);
    CheckOurs(t, kWriters * z.writers);
  } else {
    Die("unknown workload " + w);
  }
  if (t.IsOpen()) t.Close();
  if (m.peak_kb == 0) m.peak_kb = peak_before_check;
  return m;
}

void OursWriter(const std::string& path, uint32_t first, const std::vector<uint32_t>& ids) {
  TDataFile t;
  OpenOurs(t, path, false);
  std::vector<uint8_t> record(t.GetRecordBufferSize());
  for (uint32_t id : ids) InsertOurs(t, id + first - 1, record.data());
  t.Close();
}

// ---- the record timings of our engine alone (--walks) ------------------------------------------

void Walks(const fs::path& dir, bool exclusive) {
  constexpr uint32_t kRecords = 100000;
  const std::string path = (dir / (exclusive ? "Exclusive" : "Shared")).string();
  CreateOurs(path);
  const std::vector<uint32_t> ids = Shuffled(kRecords, 42);
  TDataFile t;
  OpenOurs(t, path, exclusive);
  std::vector<uint8_t> record(t.GetRecordBufferSize());
  auto start = Clock::now();
  for (uint32_t id : ids) InsertOurs(t, id, record.data());
  t.Close();
  const double insert = Seconds(start);

  t.Open();
  double walks[2];
  for (uint8_t slot : {0, 1}) {
    start = Clock::now();
    t.SetCurrentIndexByNumber(slot);
    t.MoveToBeginning();
    uint32_t seen = 0;
    while (t.GetNextRecord(record.data()) == 0) ++seen;
    walks[slot] = Seconds(start);
    if (seen != kRecords) std::printf("  walk of slot %d saw %u records\n", slot, seen);
  }
  t.SetCurrentIndexByNumber(0);
  std::vector<uint8_t> key(t.GetRecordBufferSize());
  std::mt19937 rng(42);
  uint32_t found = 0;
  start = Clock::now();
  for (uint32_t i = 0; i < kRecords; ++i) {
    if (FindOurs(t, 1 + static_cast<uint32_t>(rng() % kRecords), key.data(), record.data())) {
      ++found;
    }
  }
  const double finds = Seconds(start);
  t.Close();
  std::printf(
      "%-9s insert %7.2f s   walk primary %6.3f s   walk secondary %6.3f s   "
      "finds %6.3f s (%u found)   .DAT %lld KB  .IDX %lld KB\n",
      exclusive ? "exclusive" : "shared", insert, walks[0], walks[1], finds, found,
      static_cast<long long>(fs::file_size(path + ".DAT") / 1024),
      static_cast<long long>(fs::file_size(path + ".IDX") / 1024));
}

}  // namespace bench
