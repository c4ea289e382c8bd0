// SQL statements of the engine against SQLite on the same generated data, each prepared,
// executed and read to the end:
//   J  the application's caller search: 20,000 callers joined to 2,000 clients on the client
//      number, ORDER BY the caller's name;
//   G  a grouped query over 100,000 rows in about 100 groups with COUNT, SUM, AVG, MIN and MAX.
// --scale K multiplies the three tables' rows by K (the groups stay about 100).  SQLite works on
// a file database (synchronous=OFF) with the same indexes.  Run by hand on a Release build:
//   build-release/bench/SqlQueryBench [runs] [DIR] [--scale K]
// Prints, per shape, our median, SQLite's median and the ratio SQLite / ours (above 1: faster).
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/sql/TDataQuery.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCreation.h"

namespace {

using namespace tessera;

constexpr int kClients = 2000;  // each times the scale
constexpr int kCallers = 20000;
constexpr int kGroupRows = 100000;
constexpr int kGroups = 100;

const char kJoinSql[] =
    "SELECT I.NoSociete, I.NoInterlocuteur, I.Nom, I.Fonction, C.Societe, C.Ville\n"
    "FROM \nInter I, Clients C\nWHERE \nI.NoSociete = C.NoSociete\nORDER BY \nI.Nom";
const char kGroupSql[] =
    "SELECT Grp, COUNT(*), SUM(Val), AVG(Amt), MIN(Val), MAX(Amt) FROM G GROUP BY Grp";

double Seconds(const std::function<void()>& work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string Word(std::mt19937& rng, size_t length) {
  std::string s(length, ' ');
  for (char& c : s) c = static_cast<char>('a' + rng() % 26);
  s[0] = static_cast<char>(s[0] - 'a' + 'A');
  return s;
}

struct Client {
  int32_t number;
  std::string societe, ville;
};
struct Caller {
  int32_t number, client;
  std::string nom, fonction;
};
struct GroupRow {
  int32_t id, group, value;
  double amount;
};

// ---- ours ---------------------------------------------------------------------------------------

TFieldDefinition Field(uint16_t number, const char* name, uint8_t type, uint8_t size = 0) {
  TFieldDefinition d;
  d.number = number;
  d.name = name;
  d.type = type;
  d.size = size;
  return d;
}

TIndexDescriptor Index(const char* name, uint16_t field, bool unique) {
  TIndexDescriptor x;
  x.name = name;
  x.unique = unique ? 1 : 0;
  x.field_numbers[x.field_count++] = field;
  return x;
}

// Creates the table and fills it through `fill`, which puts one row's values into the buffer.
void MakeTable(const std::string& path, std::vector<TFieldDefinition> fields,
               std::vector<TIndexDescriptor> indexes, size_t rows,
               const std::function<void(TDataFile&, size_t, uint8_t*)>& fill) {
  TNewTable t;
  t.fields = std::move(fields);
  t.indexes = std::move(indexes);
  TDataFile d;
  d.SetFileName(path);
  d.SetExclusive(true);
  d.SetupNewTable(std::move(t));
  d.Open();
  std::vector<uint8_t> record(d.GetRecordBufferSize());
  for (size_t i = 0; i < rows; ++i) {
    d.ApplyFieldDefaults(record.data());
    fill(d, i, record.data());
    d.InsertRecord(record.data());
  }
  d.Close();
}

void PutInt(TDataFile& d, uint16_t field, int32_t v, uint8_t* record) {
  uint8_t bytes[4];
  cl::PutU32LE(bytes, static_cast<uint32_t>(v));
  d.PutFieldValue(TFieldSet::kTable, field, false, bytes, record);
}

void PutText(TDataFile& d, uint16_t field, const std::string& s, uint8_t* record) {
  std::vector<uint8_t> bytes(256, 0);
  std::copy(s.begin(), s.end(), bytes.begin());
  d.PutFieldValue(TFieldSet::kTable, field, false, bytes.data(), record);
}

void PutFloat(TDataFile& d, uint16_t field, double v, uint8_t* record) {
  uint8_t bytes[8];
  cl::PutF64LE(bytes, v);
  d.PutFieldValue(TFieldSet::kTable, field, false, bytes, record);
}

// Prepares, executes and reads every field of every row; returns the row count.
size_t RunOurs(const std::string& directory, const char* sql) {
  TDataQuery q;
  q.SetDirectory(directory);
  q.PrepareQuery(sql);
  TDataFile* result = nullptr;
  q.ExecuteQuery(result);
  std::vector<uint8_t> record(result->GetRecordBufferSize());
  uint8_t value[260];
  size_t rows = 0;
  result->MoveToBeginning();
  while (result->GetNextRecord(record.data()) == 0) {
    for (uint16_t f = 1; f <= result->GetFieldsInUse(); ++f) {
      result->GetFieldValue(TFieldSet::kWorking, f, value, record.data());
    }
    ++rows;
  }
  return rows;
}

// ---- SQLite -------------------------------------------------------------------------------------

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", error);
    std::exit(1);
  }
}

size_t RunSqlite(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
  size_t rows = 0;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    for (int i = 0; i < sqlite3_column_count(statement); ++i) {
      if (sqlite3_column_type(statement, i) == SQLITE_TEXT) {
        sqlite3_column_text(statement, i);
      } else {
        sqlite3_column_double(statement, i);
      }
    }
    ++rows;
  }
  sqlite3_finalize(statement);
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  int scale = 1;
  std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int i = 1, positional = 0; i < argc; ++i) {
    if (std::string(argv[i]) == "--scale" && i + 1 < argc) {
      scale = std::max(1, std::atoi(argv[++i]));
    } else if (positional++ == 0) {
      runs = std::max(1, std::atoi(argv[i]));
    } else {
      base = argv[i];
    }
  }
  const int clients_count = kClients * scale;
  const int callers_count = kCallers * scale;
  const int group_rows_count = kGroupRows * scale;
  std::random_device seed_source;
  const std::filesystem::path dir = base / ("sqlbench-" + std::to_string(seed_source()));
  std::filesystem::create_directories(dir);
  const std::string d = dir.string();

  std::mt19937 rng(19);
  std::vector<Client> clients;
  for (int i = 1; i <= clients_count; ++i) clients.push_back({i, Word(rng, 20), Word(rng, 12)});
  std::vector<Caller> callers;
  for (int i = 1; i <= callers_count; ++i) {
    callers.push_back(
        {i, 1 + static_cast<int32_t>(rng() % clients_count), Word(rng, 14), Word(rng, 10)});
  }
  std::vector<GroupRow> group_rows;
  for (int i = 1; i <= group_rows_count; ++i) {
    group_rows.push_back({i, static_cast<int32_t>(rng() % kGroups),
                          static_cast<int32_t>(rng() % 20000) - 10000, (rng() % 1000000) / 100.0});
  }

  InitializeEngine();
  GetEngineSession()->SetPrivateDirectory(d);
  MakeTable(d + "/Clients.DAT",
            {Field(1, "NoSociete", kFieldInt32), Field(2, "Societe", kFieldString, 30),
             Field(3, "Ville", kFieldString, 20)},
            {Index("", 1, true)}, clients.size(), [&](TDataFile& t, size_t i, uint8_t* r) {
              PutInt(t, 1, clients[i].number, r);
              PutText(t, 2, clients[i].societe, r);
              PutText(t, 3, clients[i].ville, r);
            });
  MakeTable(d + "/Inter.DAT",
            {Field(1, "NoInterlocuteur", kFieldInt32), Field(2, "NoSociete", kFieldInt32),
             Field(3, "Nom", kFieldString, 30), Field(4, "Fonction", kFieldString, 20)},
            {Index("", 1, true), Index("BySociete", 2, false), Index("ByNom", 3, false)},
            callers.size(), [&](TDataFile& t, size_t i, uint8_t* r) {
              PutInt(t, 1, callers[i].number, r);
              PutInt(t, 2, callers[i].client, r);
              PutText(t, 3, callers[i].nom, r);
              PutText(t, 4, callers[i].fonction, r);
            });
  MakeTable(d + "/G.DAT",
            {Field(1, "Id", kFieldInt32), Field(2, "Grp", kFieldInt32),
             Field(3, "Val", kFieldInt32), Field(4, "Amt", kFieldFloat)},
            {Index("", 1, true), Index("ByGrp", 2, false)}, group_rows.size(),
            [&](TDataFile& t, size_t i, uint8_t* r) {
              PutInt(t, 1, group_rows[i].id, r);
              PutInt(t, 2, group_rows[i].group, r);
              PutInt(t, 3, group_rows[i].value, r);
              PutFloat(t, 4, group_rows[i].amount, r);
            });

  sqlite3* db = nullptr;
  sqlite3_open((d + "/peer.sqlite").c_str(), &db);
  Exec(db, "PRAGMA synchronous=OFF");
  Exec(db,
       "CREATE TABLE Clients (NoSociete INTEGER PRIMARY KEY, Societe TEXT, Ville TEXT);"
       "CREATE TABLE Inter (NoInterlocuteur INTEGER PRIMARY KEY, NoSociete INTEGER, Nom TEXT,"
       " Fonction TEXT);"
       "CREATE INDEX BySociete ON Inter(NoSociete); CREATE INDEX ByNom ON Inter(Nom);"
       "CREATE TABLE G (Id INTEGER PRIMARY KEY, Grp INTEGER, Val INTEGER, Amt REAL);"
       "CREATE INDEX ByGrp ON G(Grp); BEGIN");
  for (const Client& c : clients) {
    Exec(db, "INSERT INTO Clients VALUES (" + std::to_string(c.number) + ", '" + c.societe +
                 "', '" + c.ville + "')");
  }
  for (const Caller& c : callers) {
    Exec(db, "INSERT INTO Inter VALUES (" + std::to_string(c.number) + ", " +
                 std::to_string(c.client) + ", '" + c.nom + "', '" + c.fonction + "')");
  }
  for (const GroupRow& g : group_rows) {
    char amount[32];
    std::snprintf(amount, sizeof amount, "%.2f", g.amount);
    Exec(db, "INSERT INTO G VALUES (" + std::to_string(g.id) + ", " + std::to_string(g.group) +
                 ", " + std::to_string(g.value) + ", " + amount + ")");
  }
  Exec(db, "COMMIT; ANALYZE");

  struct Shape {
    const char* name;
    const char* sql;
  };
  const Shape shapes[] = {{"J caller search", kJoinSql}, {"G grouped", kGroupSql}};
  std::printf("scale %d: %d clients, %d callers, %d grouped rows; medians of %d runs\n", scale,
              clients_count, callers_count, group_rows_count, runs);
  std::printf("%-18s %12s %12s %8s %8s\n", "shape", "ours (s)", "sqlite (s)", "ratio", "rows");
  for (const Shape& shape : shapes) {
    std::vector<double> ours, theirs;
    size_t our_rows = 0, their_rows = 0;
    for (int i = 0; i < runs; ++i) {
      ours.push_back(Seconds([&] { our_rows = RunOurs(d, shape.sql); }));
      theirs.push_back(Seconds([&] { their_rows = RunSqlite(db, shape.sql); }));
    }
    const double a = Median(ours), b = Median(theirs);
    std::printf("%-18s %12.4f %12.4f %8.2f %4zu/%zu\n", shape.name, a, b, b / a, our_rows,
                their_rows);
  }
  sqlite3_close(db);
  ShutdownEngine();
  std::filesystem::remove_all(dir);
  return 0;
}
