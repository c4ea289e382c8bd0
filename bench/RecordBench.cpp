// The storage engine against SQLite on the same work, through our public table calls as the
// dataset components make them.  Run by hand on a Release build:
//   build-release/bench/RecordBench [--quick] [--runs R] [--csv FILE] [--dir PARENT] [--only W3,W5]
//   build-release/bench/RecordBench --walks [--dir PARENT]   (our engine alone, as before)
//
// Records: an integer key, a 30-character string, a date, a float and a 200-character memo, made
// by one generator from the record's key; our table has a primary index on the key and a
// case-insensitive secondary index on the string, SQLite the same table, indexes and texts
// (journal_mode=WAL, synchronous=OFF; our engine does not flush per write either).
//
//   W1 bulk insert of N records (our table opened exclusively; SQLite one transaction)
//   W2 N/5 inserts into a shared table, each its own lock cycle (SQLite autocommit)
//   W3 N random finds by key
//   W4 a scan in secondary-index order reading every field, memo included
//   W5 N/10 moves to a random ordinal position in secondary order (SQLite ORDER BY ... OFFSET)
//   W6 a count that an index serves, and one that reads every record
//   W7 N/10 updates of the secondary key, then N/10 deletes, one at a time (shared; autocommit)
//   W8 4 processes inserting N/20 records each into one shared table at once (SQLite: a busy
//      timeout)
//
// Every measurement runs in a child process of its own (this program again), so that its peak
// memory (getrusage) belongs to one side alone; the sides alternate which goes first.  After each
// workload the child runs the table check on our table.  The median of the runs is printed and,
// with --csv, written as CSV.  Everything goes into a new directory under PARENT (the system's
// temporary directory by default), removed at the end.
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/expr/ExpressionChecker.h"
#include "engine/storage/expr/TExpressionParser.h"
#include "engine/storage/table/FieldExpressionValues.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCheck.h"
#include "engine/storage/table/TableCreation.h"

namespace {

namespace fs = std::filesystem;
using tessera::TDataFile;
using tessera::TFieldSet;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

[[noreturn]] void Die(const std::string& what) { throw std::runtime_error(what); }

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// ---- the data ----------------------------------------------------------------------------------

constexpr int kStringSize = 30;
constexpr int kMemoSize = 200;
enum Field : uint16_t { kId = 1, kNom = 2, kJour = 3, kMontant = 4, kMemo = 5 };

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// One record, a function of its key and a variant (an update gives the string another variant).
struct Row {
  int32_t id = 0;
  char nom[kStringSize + 1] = {};
  uint32_t jour = 0;
  double montant = 0;
  char memo[kMemoSize + 1] = {};
};

void MakeNom(uint32_t id, uint32_t variant, char* out) {
  uint64_t h = Mix(id * 7919ull + variant);
  // Mixed case, so the case-insensitive order is not the byte order; a Windows-1252 letter now
  // and then, the same bytes on both sides.
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (int i = 0; i < kStringSize; ++i) {
    if (i % 10 == 0) h = Mix(h);
    out[i] = kLetters[h % 52];
    h /= 52;
  }
  if (id % 17 == 0) out[kStringSize - 1] = '\xE9';
  out[kStringSize] = 0;
}

Row MakeRow(uint32_t id, uint32_t variant = 0) {
  Row r;
  r.id = static_cast<int32_t>(id);
  MakeNom(id, variant, r.nom);
  const uint64_t h = Mix(id);
  r.jour = 730000 + static_cast<uint32_t>(h % 20000);
  r.montant = static_cast<double>((h >> 20) % 1000000) / 100.0;
  for (int i = 0; i < kMemoSize; ++i) r.memo[i] = static_cast<char>('a' + (id + i * 7) % 26);
  r.memo[0] = '\xC7';  // another Windows-1252 letter
  r.memo[kMemoSize] = 0;
  return r;
}

// Keys 1..count in a random order fixed by the seed.
std::vector<uint32_t> Shuffled(uint32_t count, uint32_t seed) {
  std::vector<uint32_t> ids(count);
  for (uint32_t i = 0; i < count; ++i) ids[i] = i + 1;
  std::shuffle(ids.begin(), ids.end(), std::mt19937(seed));
  return ids;
}

// The sizes of one run.
struct Sizes {
  uint32_t n;        // W1, W3, W4, W6
  uint32_t shared;   // W2
  uint32_t moves;    // W5, W7
  uint32_t writers;  // W8: records per process
};
Sizes SizesFor(uint32_t n) { return {n, n / 5, n / 10, n / 20}; }
constexpr int kWriters = 4;
constexpr double kIndexedBelow = 0.3;  // W6: keys below 30% of N, counted through the index
constexpr double kMontantAbove = 2500.0;

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

// ---- SQLite ------------------------------------------------------------------------------------

class Db {
 public:
  explicit Db(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) Die("sqlite open " + path);
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=OFF");
    sqlite3_busy_timeout(db_, 60000);
  }
  ~Db() {
    for (auto& [text, statement] : statements_) sqlite3_finalize(statement);
    sqlite3_close(db_);
  }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  void Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string text = error ? error : "?";
      sqlite3_free(error);
      Die(std::string("sqlite: ") + sql + ": " + text);
    }
  }
  // Prepared once per connection, reset before each use.
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt*& statement = statements_[sql];
    if (statement == nullptr &&
        sqlite3_prepare_v2(db_, sql, -1, &statement, nullptr) != SQLITE_OK) {
      Die(std::string("sqlite prepare: ") + sql + ": " + sqlite3_errmsg(db_));
    }
    sqlite3_reset(statement);
    return statement;
  }
  int Step(sqlite3_stmt* statement) {
    const int rc = sqlite3_step(statement);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) Die(std::string("sqlite: ") + sqlite3_errmsg(db_));
    return rc;
  }

 private:
  sqlite3* db_ = nullptr;
  std::map<std::string, sqlite3_stmt*> statements_;
};

void CreateSqlite(const std::string& path) {
  Db db(path);
  db.Exec(
      "CREATE TABLE t(id INTEGER PRIMARY KEY, nom TEXT, jour INTEGER, montant REAL, memo TEXT)");
  db.Exec("CREATE INDEX par_nom ON t(nom COLLATE NOCASE)");
}

void InsertSqlite(Db& db, uint32_t id) {
  const Row row = MakeRow(id);
  sqlite3_stmt* s = db.Prepare("INSERT INTO t VALUES(?,?,?,?,?)");
  sqlite3_bind_int(s, 1, row.id);
  sqlite3_bind_text(s, 2, row.nom, kStringSize, SQLITE_STATIC);
  sqlite3_bind_int(s, 3, static_cast<int>(row.jour));
  sqlite3_bind_double(s, 4, row.montant);
  sqlite3_bind_text(s, 5, row.memo, kMemoSize, SQLITE_STATIC);
  db.Step(s);
}

uint32_t CountSqlite(Db& db, const char* sql) {
  sqlite3_stmt* s = db.Prepare(sql);
  db.Step(s);
  return static_cast<uint32_t>(sqlite3_column_int64(s, 0));
}

// ---- child processes ---------------------------------------------------------------------------

std::string self_path;

// Runs this program with `args`; its standard output comes back.  A failed child fails the run.
std::string RunSelf(const std::vector<std::string>& args) {
  int fds[2];
  if (pipe(fds) != 0) Die("pipe");
  const pid_t pid = fork();
  if (pid < 0) Die("fork");
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(self_path.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(self_path.c_str(), argv.data());
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buffer[256];
  ssize_t got;
  while ((got = read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, got);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string what;
    for (const std::string& a : args) what += " " + a;
    Die("child failed:" + what);
  }
  return out;
}

// W8's writers, started together; each prints its peak memory.  The largest comes back.
long RunWriters(const std::string& side, const std::string& path, uint32_t per_writer) {
  std::vector<std::pair<pid_t, int>> children;
  for (int w = 0; w < kWriters; ++w) {
    int fds[2];
    if (pipe(fds) != 0) Die("pipe");
    const pid_t pid = fork();
    if (pid < 0) Die("fork");
    if (pid == 0) {
      dup2(fds[1], STDOUT_FILENO);
      close(fds[0]);
      close(fds[1]);
      const std::string first = std::to_string(1 + w * per_writer);
      const std::string count = std::to_string(per_writer);
      execl(self_path.c_str(), self_path.c_str(), "--writer", side.c_str(), path.c_str(),
            first.c_str(), count.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    children.emplace_back(pid, fds[0]);
  }
  long peak = 0;
  bool failed = false;
  for (auto [pid, fd] : children) {
    std::string out;
    char buffer[64];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) out.append(buffer, got);
    close(fd);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) failed = true;
    peak = std::max(peak, std::atol(out.c_str()));
  }
  if (failed) Die("a W8 writer failed");
  return peak;
}

int Writer(const std::string& side, const std::string& path, uint32_t first, uint32_t count) {
  // Each writer inserts its own keys in an order of its own.
  std::vector<uint32_t> ids = Shuffled(count, first);
  if (side == "ours") {
    TDataFile t;
    OpenOurs(t, path, false);
    std::vector<uint8_t> record(t.GetRecordBufferSize());
    for (uint32_t& id : ids) InsertOurs(t, id + first - 1, record.data());
    t.Close();
  } else {
    Db db(path);
    for (uint32_t& id : ids) InsertSqlite(db, id + first - 1);
  }
  std::printf("%ld\n", PeakKilobytes());
  return 0;
}

// ---- the workloads -----------------------------------------------------------------------------

struct Paths {
  std::string base_ours, base_sqlite;  // N records, made once per run
  std::string work;                    // a directory for the workload's own files
};

// One workload on one side, in this (child) process: the seconds it took and the peak memory.
struct Measure {
  double seconds = 0;
  long peak_kb = 0;
};

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

Measure SqliteWorkload(const std::string& w, const Paths& p, const Sizes& z) {
  Measure m;
  const std::string table = p.work + "/table.db";
  Clock::time_point start;
  if (w == "setup" || w == "W1") {
    const std::string path = w == "setup" ? p.base_sqlite : table;
    CreateSqlite(path);
    const std::vector<uint32_t> ids = Shuffled(z.n, 1);
    start = Clock::now();
    {
      Db db(path);
      db.Exec("BEGIN");
      for (uint32_t id : ids) InsertSqlite(db, id);
      db.Exec("COMMIT");
    }
    m.seconds = Seconds(start);
  } else if (w == "W2") {
    CreateSqlite(table);
    Db db(table);
    const std::vector<uint32_t> ids = Shuffled(z.shared, 2);
    start = Clock::now();
    for (uint32_t id : ids) InsertSqlite(db, id);
    m.seconds = Seconds(start);
  } else if (w == "W3") {
    Db db(p.base_sqlite);
    std::mt19937 rng(3);
    uint32_t found = 0;
    start = Clock::now();
    for (uint32_t i = 0; i < z.n; ++i) {
      sqlite3_stmt* s = db.Prepare("SELECT id, nom, jour, montant FROM t WHERE id = ?");
      sqlite3_bind_int(s, 1, static_cast<int>(1 + rng() % z.n));
      if (db.Step(s) == SQLITE_ROW) ++found;
    }
    m.seconds = Seconds(start);
    if (found != z.n) Die("W3 found " + std::to_string(found));
  } else if (w == "W4") {
    Db db(p.base_sqlite);
    uint64_t sum = 0;
    uint32_t seen = 0;
    start = Clock::now();
    sqlite3_stmt* s =
        db.Prepare("SELECT id, nom, jour, montant, memo FROM t ORDER BY nom COLLATE NOCASE");
    while (db.Step(s) == SQLITE_ROW) {
      sum += static_cast<uint64_t>(sqlite3_column_int(s, 0));
      sum += sqlite3_column_text(s, 1)[0];
      sum += static_cast<uint64_t>(sqlite3_column_int(s, 2));
      sum += static_cast<uint64_t>(sqlite3_column_double(s, 3));
      sum += sqlite3_column_text(s, 4)[1];
      ++seen;
    }
    m.seconds = Seconds(start);
    if (seen != z.n || sum == 0) Die("W4 saw " + std::to_string(seen));
  } else if (w == "W5") {
    Db db(p.base_sqlite);
    std::mt19937 rng(5);
    uint64_t sum = 0;
    start = Clock::now();
    for (uint32_t i = 0; i < z.moves; ++i) {
      sqlite3_stmt* s = db.Prepare(
          "SELECT id, nom, jour, montant, memo FROM t ORDER BY nom COLLATE NOCASE "
          "LIMIT 1 OFFSET ?");
      sqlite3_bind_int(s, 1, static_cast<int>(rng() % z.n));
      if (db.Step(s) != SQLITE_ROW) Die("W5 move");
      sum += static_cast<uint64_t>(sqlite3_column_int(s, 0));
    }
    m.seconds = Seconds(start);
    if (sum == 0) Die("W5 read nothing");
  } else if (w == "W6") {
    Db db(p.base_sqlite);
    const uint32_t below = static_cast<uint32_t>(z.n * kIndexedBelow);
    start = Clock::now();
    sqlite3_stmt* s = db.Prepare("SELECT count(*) FROM t WHERE id < ?");
    sqlite3_bind_int(s, 1, static_cast<int>(below));
    db.Step(s);
    const uint32_t indexed = static_cast<uint32_t>(sqlite3_column_int64(s, 0));
    s = db.Prepare("SELECT count(*) FROM t WHERE montant > ?");
    sqlite3_bind_double(s, 1, kMontantAbove);
    db.Step(s);
    const uint32_t scanned = static_cast<uint32_t>(sqlite3_column_int64(s, 0));
    m.seconds = Seconds(start);
    if (indexed != below - 1) Die("W6 indexed count");
    std::printf("# W6 counts %u %u\n", indexed, scanned);
  } else if (w == "W7") {
    fs::copy_file(p.base_sqlite, table);
    Db db(table);
    const std::vector<uint32_t> ids = Shuffled(z.n, 7);
    start = Clock::now();
    for (uint32_t i = 0; i < z.moves; ++i) {
      char nom[kStringSize + 1];
      MakeNom(ids[i], 1, nom);
      sqlite3_stmt* s = db.Prepare("UPDATE t SET nom = ? WHERE id = ?");
      sqlite3_bind_text(s, 1, nom, kStringSize, SQLITE_STATIC);
      sqlite3_bind_int(s, 2, static_cast<int>(ids[i]));
      db.Step(s);
    }
    for (uint32_t i = 0; i < z.moves; ++i) {
      sqlite3_stmt* s = db.Prepare("DELETE FROM t WHERE id = ?");
      sqlite3_bind_int(s, 1, static_cast<int>(ids[z.moves + i]));
      db.Step(s);
    }
    m.seconds = Seconds(start);
    if (CountSqlite(db, "SELECT count(*) FROM t") != z.n - z.moves) Die("W7 count");
  } else if (w == "W8") {
    CreateSqlite(table);
    start = Clock::now();
    m.peak_kb = RunWriters("sqlite", table, z.writers);
    m.seconds = Seconds(start);
    Db db(table);
    if (CountSqlite(db, "SELECT count(*) FROM t") != kWriters * z.writers) Die("W8 count");
  } else {
    Die("unknown workload " + w);
  }
  if (m.peak_kb == 0) m.peak_kb = PeakKilobytes();
  return m;
}

// The child: one workload, one side; prints "seconds peak_kb".
int Child(const std::string& side, const std::string& workload, const Paths& p, uint32_t n) {
  const Sizes z = SizesFor(n);
  const Measure m = side == "ours" ? OursWorkload(workload, p, z) : SqliteWorkload(workload, p, z);
  std::printf("%.6f %ld\n", m.seconds, m.peak_kb);
  return 0;
}

// ---- the parent --------------------------------------------------------------------------------

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t half = values.size() / 2;
  return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

struct Figures {
  std::vector<double> seconds[2];
  long peak_kb[2] = {0, 0};
};

const char* const kSides[2] = {"ours", "sqlite"};
const char* const kWorkloads[] = {"W1", "W2", "W3", "W4", "W5", "W6", "W7", "W8"};
const char* const kLabels[] = {"bulk insert (exclusive / one transaction)",
                               "shared inserts, one lock cycle each",
                               "random finds by key",
                               "scan in secondary order, every field",
                               "moves to a position in secondary order",
                               "two counts: index-served, every record",
                               "secondary-key updates, then deletes",
                               "4 processes inserting at once"};

uint32_t CountOf(int workload, const Sizes& z) {
  switch (workload) {
    case 1:
      return z.shared;
    case 4:
      return z.moves;
    case 5:
      return 2;
    case 6:
      return 2 * z.moves;
    case 7:
      return kWriters * z.writers;
    default:
      return z.n;
  }
}

int Parent(uint32_t n, int runs, const std::string& csv, const fs::path& dir,
           const std::vector<std::string>& only) {
  const Sizes z = SizesFor(n);
  std::map<std::string, Figures> figures;
  const std::string nstr = std::to_string(n);
  for (int run = 0; run < runs; ++run) {
    const fs::path run_dir = dir / ("run" + std::to_string(run));
    fs::create_directories(run_dir);
    const std::string base_ours = (run_dir / "Base").string();
    const std::string base_sqlite = (run_dir / "base.db").string();
    for (const char* side : kSides) {
      RunSelf({"--child", side, "setup", base_ours, base_sqlite, run_dir.string(), nstr});
    }
    for (const char* w : kWorkloads) {
      if (!only.empty() && std::find(only.begin(), only.end(), w) == only.end()) continue;
      for (int k = 0; k < 2; ++k) {
        const int side = (run + k) % 2;  // alternate which side goes first
        const fs::path work = run_dir / (std::string(w) + kSides[side]);
        fs::create_directories(work);
        const std::string out =
            RunSelf({"--child", kSides[side], w, base_ours, base_sqlite, work.string(), nstr});
        fs::remove_all(work);
        // The figures are the last line; lines starting with # are notes.
        const size_t last = out.find_last_of('\n', out.size() - 2);
        const std::string line = last == std::string::npos ? out : out.substr(last + 1);
        double seconds = 0;
        long peak = 0;
        if (std::sscanf(line.c_str(), "%lf %ld", &seconds, &peak) != 2) Die("child output");
        Figures& f = figures[w];
        f.seconds[side].push_back(seconds);
        f.peak_kb[side] = std::max(f.peak_kb[side], peak);
      }
      std::fprintf(stderr, "run %d %s done\n", run + 1, w);
    }
    fs::remove_all(run_dir);
  }
  std::FILE* out = csv.empty() ? nullptr : std::fopen(csv.c_str(), "w");
  if (!csv.empty() && out == nullptr) Die("cannot write " + csv);
  if (out)
    std::fprintf(out, "workload,operations,ours_s,sqlite_s,ratio,ours_peak_kb,sqlite_peak_kb\n");
  std::printf("N = %u, %d runs, medians\n", n, runs);
  std::printf("%-3s %-42s %9s %10s %10s %7s %9s %9s\n", "", "workload", "ops", "ours s", "SQLite s",
              "ratio", "ours MB", "SQLite MB");
  for (int i = 0; i < 8; ++i) {
    auto it = figures.find(kWorkloads[i]);
    if (it == figures.end()) continue;
    const double ours = Median(it->second.seconds[0]);
    const double theirs = Median(it->second.seconds[1]);
    const double ratio = theirs / ours;
    std::printf("%-3s %-42s %9u %10.4f %10.4f %7.2f %9.1f %9.1f\n", kWorkloads[i], kLabels[i],
                CountOf(i, z), ours, theirs, ratio, it->second.peak_kb[0] / 1024.0,
                it->second.peak_kb[1] / 1024.0);
    if (out) {
      std::fprintf(out, "%s,%u,%.6f,%.6f,%.3f,%ld,%ld\n", kWorkloads[i], CountOf(i, z), ours,
                   theirs, ratio, it->second.peak_kb[0], it->second.peak_kb[1]);
    }
  }
  if (out) std::fclose(out);
  return 0;
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

fs::path MakeDirectory(const fs::path& parent) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate =
        parent / ("record-bench-" + std::to_string(std::random_device{}() % 1000000));
    std::error_code error;
    if (fs::create_directory(candidate, error)) return candidate;
  }
  Die("cannot make a directory under " + parent.string());
}

int Usage() {
  std::fprintf(stderr,
               "usage: RecordBench [--quick] [--runs R] [--n N] [--csv FILE] [--dir PARENT] "
               "[--only W1,W2,...]\n       RecordBench --walks [--dir PARENT]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  tessera::InitializeEngine();
  self_path = fs::canonical("/proc/self/exe").string();
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 7 && args[0] == "--child") {
      const Paths p{args[3], args[4], args[5]};
      return Child(args[1], args[2], p, static_cast<uint32_t>(std::stoul(args[6])));
    }
    if (args.size() == 5 && args[0] == "--writer") {
      return Writer(args[1], args[2], static_cast<uint32_t>(std::stoul(args[3])),
                    static_cast<uint32_t>(std::stoul(args[4])));
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "RecordBench %s: %s\n", args[0].c_str(), e.what());
    return 1;
  }

  uint32_t n = 100000;
  int runs = 5;
  bool walks = false;
  std::string csv;
  fs::path parent = fs::temp_directory_path();
  std::vector<std::string> only;
  for (size_t i = 0; i < args.size(); ++i) {
    const bool has_value = i + 1 < args.size();
    if (args[i] == "--quick") {
      n = 5000;
      runs = 3;
    } else if (args[i] == "--walks") {
      walks = true;
    } else if (args[i] == "--runs" && has_value) {
      runs = std::max(1, std::atoi(args[++i].c_str()));
    } else if (args[i] == "--n" && has_value) {
      n = static_cast<uint32_t>(std::max(100, std::atoi(args[++i].c_str())));
      n -= n % 20;
    } else if (args[i] == "--csv" && has_value) {
      csv = args[++i];
    } else if (args[i] == "--dir" && has_value) {
      parent = args[++i];
    } else if (args[i] == "--only" && has_value) {
      std::string list = args[++i];
      for (size_t start = 0; start <= list.size();) {
        const size_t comma = std::min(list.find(',', start), list.size());
        only.push_back(list.substr(start, comma - start));
        start = comma + 1;
      }
    } else {
      return Usage();
    }
  }
  int status = 0;
  fs::path dir;
  try {
    dir = MakeDirectory(parent);
    if (walks) {
      std::printf("100000 records, primary Id (random order), secondary Nom, a memo each\n");
      Walks(dir, true);
      Walks(dir, false);
    } else {
      status = Parent(n, runs, csv, dir, only);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "RecordBench: %s\n", e.what());
    status = 1;
  }
  std::error_code ignored;
  if (!dir.empty()) fs::remove_all(dir, ignored);  // made above: ours to remove
  return status;
}
