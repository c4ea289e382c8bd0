// The in-memory dataset against SQLite's in-memory database on the same work: 100,000 records of
// an integer, a 30-character string, a date-time and a float.  Run by hand on a Release build:
//   build-release/bench/VirtualDataSetBench [runs]
// Prints, per line, our median, SQLite's median and the ratio SQLite / ours (above 1: faster).
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "classlib/db/TFields.h"
#include "components/data/TVirtualDataSet.h"

namespace {

using namespace cl;
using comp::TVirtualDataSet;

constexpr int kRecords = 100000;
constexpr int kScans = 100;

struct Row {
  int32_t numero;
  std::string nom;
  double date;
  double valeur;
};

std::vector<Row> MakeRows(unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<Row> rows;
  rows.reserve(kRecords);
  for (int i = 0; i < kRecords; ++i) {
    std::string nom(30, ' ');
    for (char& c : nom) c = static_cast<char>('A' + rng() % 26);
    rows.push_back({i, nom, 45000.0 + i / 1000.0, static_cast<double>(rng() % 1000000) / 100.0});
  }
  return rows;
}

double Seconds(const std::function<void()>& work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// ---- ours --------------------------------------------------------------------------------------

struct Ours {
  std::unique_ptr<TComponent> owner = std::make_unique<TComponent>(nullptr);
  TVirtualDataSet* ds = Create<TVirtualDataSet>(owner.get());
  TField* numero;
  TField* nom;
  TField* date;
  TField* valeur;

  Ours() {
    numero = Add<TIntegerField>("Numero");
    nom = Add<TStringField>("Nom", 30);
    date = Add<TDateTimeField>("DateAppel");
    valeur = Add<TFloatField>("Valeur");
    ds->Open();
  }
  template <class T>
  TField* Add(const char* name, int size = 0) {
    auto* field = Create<T>(owner.get());
    field->SetFieldName(name);
    if (size > 0) field->SetSize(size);
    field->SetDataSet(ds);
    return field;
  }
  void AppendAll(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
      ds->Append();
      numero->SetAsInteger(row.numero);
      nom->SetAsString(row.nom);
      date->SetAsDateTime(row.date);
      valeur->SetAsFloat(row.valeur);
      ds->Post();
    }
  }
};

// ---- SQLite ------------------------------------------------------------------------------------

struct Lite {
  sqlite3* db = nullptr;
  Lite() {
    sqlite3_open(":memory:", &db);
    Exec("CREATE TABLE t (numero INTEGER, nom TEXT, date REAL, valeur REAL)");
  }
  ~Lite() { sqlite3_close(db); }
  void Exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      std::fprintf(stderr, "%s\n", error);
      std::exit(1);
    }
  }
  void InsertAll(const std::vector<Row>& rows) {
    Exec("BEGIN");
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO t VALUES (?, ?, ?, ?)", -1, &insert, nullptr);
    for (const Row& row : rows) {
      sqlite3_bind_int(insert, 1, row.numero);
      sqlite3_bind_text(insert, 2, row.nom.data(), static_cast<int>(row.nom.size()), SQLITE_STATIC);
      sqlite3_bind_double(insert, 3, row.date);
      sqlite3_bind_double(insert, 4, row.valeur);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    Exec("COMMIT");
  }
  // The numero of the first row where `column` = the bound value.
  int Find(sqlite3_stmt* select) {
    int result = -1;
    if (sqlite3_step(select) == SQLITE_ROW) result = sqlite3_column_int(select, 0);
    sqlite3_reset(select);
    return result;
  }
};

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  std::vector<Row> rows = MakeRows(42);
  std::mt19937 rng(7);
  std::vector<int> probes(kRecords);
  for (int& p : probes) p = static_cast<int>(rng() % kRecords);

  struct Line {
    const char* name;
    std::vector<double> ours, lite;
  };
  std::vector<Line> lines = {{"append, no index", {}, {}},
                             {"insert under an index on the string", {}, {}},
                             {"build an index (sort)", {}, {}},
                             {"100,000 lookups by the index", {}, {}},
                             {"100 lookups that scan", {}, {}}};
  long checksum = 0;
  for (int run = 0; run < runs; ++run) {
    {
      Ours ours;
      lines[0].ours.push_back(Seconds([&] { ours.AppendAll(rows); }));
      lines[2].ours.push_back(Seconds([&] { ours.ds->SetIndexFieldNames("Nom"); }));
      lines[3].ours.push_back(Seconds([&] {
        for (int p : probes) {
          checksum +=
              ours.ds->Locate("Nom", Variant(rows[static_cast<size_t>(p)].nom), TLocateOptions{});
        }
      }));
      lines[4].ours.push_back(Seconds([&] {
        for (int i = 0; i < kScans; ++i) {
          checksum += ours.ds->Locate(
              "Valeur", Variant(rows[static_cast<size_t>(probes[i])].valeur), TLocateOptions{});
        }
      }));
    }
    {
      Ours indexed;
      indexed.ds->SetIndexFieldNames("Nom");
      lines[1].ours.push_back(Seconds([&] { indexed.AppendAll(rows); }));
    }
    {
      Lite lite;
      lines[0].lite.push_back(Seconds([&] { lite.InsertAll(rows); }));
      lines[2].lite.push_back(Seconds([&] { lite.Exec("CREATE INDEX ix_nom ON t (nom)"); }));
      sqlite3_stmt* by_nom = nullptr;
      sqlite3_prepare_v2(lite.db, "SELECT numero FROM t WHERE nom = ? LIMIT 1", -1, &by_nom,
                         nullptr);
      lines[3].lite.push_back(Seconds([&] {
        for (int p : probes) {
          const std::string& nom = rows[static_cast<size_t>(p)].nom;
          sqlite3_bind_text(by_nom, 1, nom.data(), static_cast<int>(nom.size()), SQLITE_STATIC);
          checksum += lite.Find(by_nom) >= 0;
        }
      }));
      sqlite3_finalize(by_nom);
      sqlite3_stmt* by_valeur = nullptr;
      sqlite3_prepare_v2(lite.db, "SELECT numero FROM t WHERE valeur = ? LIMIT 1", -1, &by_valeur,
                         nullptr);
      lines[4].lite.push_back(Seconds([&] {
        for (int i = 0; i < kScans; ++i) {
          sqlite3_bind_double(by_valeur, 1, rows[static_cast<size_t>(probes[i])].valeur);
          checksum += lite.Find(by_valeur) >= 0;
        }
      }));
      sqlite3_finalize(by_valeur);
    }
    {
      Lite lite;
      lite.Exec("CREATE INDEX ix_nom ON t (nom)");
      lines[1].lite.push_back(Seconds([&] { lite.InsertAll(rows); }));
    }
  }
  std::printf("%-38s %12s %12s %8s\n", "work (100,000 records)", "ours (s)", "SQLite (s)", "ratio");
  for (const Line& line : lines) {
    double ours = Median(line.ours);
    double lite = Median(line.lite);
    std::printf("%-38s %12.4f %12.4f %8.2f\n", line.name, ours, lite, lite / ours);
  }
  std::printf("(checksum %ld)\n", checksum);
  return 0;
}
