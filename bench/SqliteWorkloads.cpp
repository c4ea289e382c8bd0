// RecordBench on SQLite: one connection per process, prepared statements, the same durability
// as our engine (synchronous=OFF), in one of two journal modes: WAL, the fastest on one machine,
// and DELETE, the rollback journal that a table in a shared network directory needs (WAL's
// shared memory does not work across machines).
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchData.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

// ---- SQLite ------------------------------------------------------------------------------------

// "WAL" or "DELETE", set once by the child from its side's name.
std::string journal_mode = "WAL";

class Db {
 public:
  explicit Db(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) Die("sqlite open " + path);
    // Before the pragmas: changing the journal mode takes a lock that a W8 neighbour may hold.
    sqlite3_busy_timeout(db_, 60000);
    Exec(("PRAGMA journal_mode=" + journal_mode).c_str());
    Exec("PRAGMA synchronous=OFF");
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
  // Prepared once per connection, reset before each use.  REQUIRES: `sql` is a literal.
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
    int rc = sqlite3_step(statement);
    // Under a rollback journal, a writer that holds the shared lock while another waits to
    // commit gets BUSY without the busy handler (waiting would deadlock): the statement did
    // nothing, so it runs again, as an application would.
    while (rc == SQLITE_BUSY && sqlite3_get_autocommit(db_)) {
      sqlite3_reset(statement);
      rc = sqlite3_step(statement);
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) Die(std::string("sqlite: ") + sqlite3_errmsg(db_));
    return rc;
  }

 private:
  sqlite3* db_ = nullptr;
  // By the text's address: every statement is a literal, so no string is built per call.
  std::map<const char*, sqlite3_stmt*> statements_;
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

}  // namespace

Measure SqliteWorkload(const std::string& mode, const std::string& w, const Paths& p,
                       const Sizes& z) {
  journal_mode = mode;
  Measure m;
  const std::string table = p.work + "/table.db";
  Clock::time_point start;
  if (w == "setup" || w == "W1") {
    const std::string path = w == "setup" ? p.base_sqlite : table;
    CreateSqlite(path);
    const std::vector<uint32_t> ids = Shuffled(z.n, 1);
    {
      Db db(path);
      start = Clock::now();  // after the open and its pragmas, as our side's open is not timed
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
    if (scanned != CountMontantAbove(z.n)) Die("W6 scanned count");
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
    m.peak_kb = RunWriters(mode == "WAL" ? "wal" : "delete", table, z.writers);
    m.seconds = Seconds(start);
    Db db(table);
    if (CountSqlite(db, "SELECT count(*) FROM t") != kWriters * z.writers) Die("W8 count");
  } else {
    Die("unknown workload " + w);
  }
  if (m.peak_kb == 0) m.peak_kb = PeakKilobytes();
  return m;
}

void SqliteWriter(const std::string& mode, const std::string& path, uint32_t first,
                  const std::vector<uint32_t>& ids) {
  journal_mode = mode;
  Db db(path);
  for (uint32_t id : ids) InsertSqlite(db, id + first - 1);
}

}  // namespace bench
