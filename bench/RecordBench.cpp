// Record timings through TDataFile: 100,000 inserts into a table with a primary index and one
// secondary index, a walk of every record in each index order, then 100,000 random finds by
// primary key; once on an exclusive handle (writes reach the disk at close) and once on a shared
// handle (each insert commits).  Run by hand on a Release build:
//   build-release/bench/RecordBench [parent directory]
// The tables go into a new directory made under the parent (the system's temporary directory by
// default), which is removed at the end; nothing else is touched.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCreation.h"

namespace {

namespace fs = std::filesystem;
using tessera::TDataFile;

constexpr uint32_t kRecords = 100000;

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

tessera::TFieldDefinition Field(uint16_t number, const char* name, uint8_t type, uint8_t size) {
  tessera::TFieldDefinition d;
  d.number = number;
  d.name = name;
  d.type = type;
  d.size = size;
  return d;
}

void CreateTable(const std::string& path) {
  tessera::TNewTable table;
  table.fields = {
      Field(1, "Id", tessera::kFieldInt32, 0), Field(2, "Nom", tessera::kFieldString, 30),
      Field(3, "Ville", tessera::kFieldString, 20), Field(4, "Montant", tessera::kFieldFloat, 0)};
  tessera::TIndexDescriptor primary;
  primary.field_count = 1;
  primary.field_numbers[0] = 1;
  primary.unique = 1;
  tessera::TIndexDescriptor by_name;
  by_name.name = "ParNom";
  by_name.field_count = 1;
  by_name.field_numbers[0] = 2;
  by_name.case_insensitive = 1;
  table.indexes = {primary, by_name};
  TDataFile t;
  t.SetFileName(path);
  t.SetExclusive(true);
  t.SetupNewTable(table);
}

void PutId(TDataFile& t, uint32_t id, uint8_t* record) {
  uint8_t value[4];
  cl::PutU32LE(value, id);
  t.PutFieldValue(tessera::TFieldSet::kTable, 1, false, value, record);
}

void Measure(const fs::path& dir, bool exclusive) {
  const std::string path = (dir / (exclusive ? "Exclusive" : "Shared")).string();
  CreateTable(path);
  std::mt19937 rng(42);
  std::vector<uint32_t> ids(kRecords);
  for (uint32_t i = 0; i < kRecords; ++i) ids[i] = i + 1;
  std::shuffle(ids.begin(), ids.end(), rng);

  TDataFile t;
  t.SetFileName(path);
  t.SetExclusive(exclusive);
  t.Open();
  std::vector<uint8_t> record(t.GetRecordBufferSize());
  auto start = std::chrono::steady_clock::now();
  for (uint32_t id : ids) {
    t.ApplyFieldDefaults(record.data());
    PutId(t, id, record.data());
    char text[32] = {};
    std::snprintf(text, sizeof text, "Nom%06u", static_cast<unsigned>(rng() % 50000));
    t.PutFieldValue(tessera::TFieldSet::kTable, 2, false, reinterpret_cast<uint8_t*>(text),
                    record.data());
    std::snprintf(text, sizeof text, "Ville%u", static_cast<unsigned>(id % 300));
    t.PutFieldValue(tessera::TFieldSet::kTable, 3, false, reinterpret_cast<uint8_t*>(text),
                    record.data());
    t.InsertRecord(record.data());
  }
  t.Close();
  const double insert = Seconds(start);

  t.Open();
  double walks[2];
  for (uint8_t slot : {0, 1}) {
    start = std::chrono::steady_clock::now();
    t.SetCurrentIndexByNumber(slot);
    t.MoveToBeginning();
    uint32_t seen = 0;
    while (t.GetNextRecord(record.data()) == 0) ++seen;
    walks[slot] = Seconds(start);
    if (seen != kRecords) std::printf("  walk of slot %d saw %u records\n", slot, seen);
  }
  t.SetCurrentIndexByNumber(0);
  std::vector<uint8_t> key(t.GetRecordBufferSize());
  uint32_t found = 0;
  start = std::chrono::steady_clock::now();
  for (uint32_t i = 0; i < kRecords; ++i) {
    PutId(t, 1 + static_cast<uint32_t>(rng() % kRecords), key.data());
    if (t.SeekRecordKey(false, key.data(), record.data(), 0, false, 0)) ++found;
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

}  // namespace

int main(int argc, char** argv) {
  tessera::InitializeEngine();
  const fs::path parent = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  fs::path dir;
  for (int attempt = 0; attempt < 100 && dir.empty(); ++attempt) {
    const fs::path candidate =
        parent / ("record-bench-" + std::to_string(std::random_device{}() % 1000000));
    std::error_code error;
    if (fs::create_directory(candidate, error)) dir = candidate;
  }
  if (dir.empty()) {
    std::fprintf(stderr, "RecordBench: cannot make a directory under %s\n", parent.c_str());
    return 2;
  }
  int status = 0;
  try {
    std::printf("%u records, primary Id (random order), secondary Nom\n", kRecords);
    Measure(dir, true);
    Measure(dir, false);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "RecordBench: %s\n", e.what());
    status = 1;
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);  // made above: ours to remove
  return status;
}
