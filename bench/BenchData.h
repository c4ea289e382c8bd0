// What both sides of RecordBench share: the records and their generator, the sizes of a run,
// and the workload entry points of each side (OursWorkloads.cpp, SqliteWorkloads.cpp).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// With RECORDBENCH_WINDOW set, the timed window goes to stderr in both clocks, so a profile or a
// system-call trace of the whole child can be cut down to it (perf -k CLOCK_MONOTONIC, strace -ttt).
inline double Seconds(Clock::time_point since) {
  const Clock::time_point now = Clock::now();
  const double seconds = std::chrono::duration<double>(now - since).count();
  if (std::getenv("RECORDBENCH_WINDOW") != nullptr) {
    const double mono = std::chrono::duration<double>(now.time_since_epoch()).count();
    const double wall =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    std::fprintf(stderr, "# window monotonic %.6f %.6f wall %.6f %.6f\n", mono - seconds, mono,
                 wall - seconds, wall);
  }
  return seconds;
}

[[noreturn]] inline void Die(const std::string& what) { throw std::runtime_error(what); }

// This process's peak resident memory so far.
long PeakKilobytes();

// ---- the data ----------------------------------------------------------------------------------

constexpr int kStringSize = 30;
constexpr int kMemoSize = 200;
enum Field : uint16_t { kId = 1, kNom = 2, kJour = 3, kMontant = 4, kMemo = 5 };

// One record, a function of its key and a variant (an update gives the string another variant).
struct Row {
  int32_t id = 0;
  char nom[kStringSize + 1] = {};
  uint32_t jour = 0;
  double montant = 0;
  char memo[kMemoSize + 1] = {};
};

void MakeNom(uint32_t id, uint32_t variant, char* out);
Row MakeRow(uint32_t id, uint32_t variant = 0);
// Keys 1..count in a random order fixed by the seed.
std::vector<uint32_t> Shuffled(uint32_t count, uint32_t seed);
// How many of the rows of keys 1..count have a montant above kMontantAbove (W6's second count).
uint32_t CountMontantAbove(uint32_t count);

// The sizes of one run.
struct Sizes {
  uint32_t n;        // W1, W3, W4, W6
  uint32_t shared;   // W2
  uint32_t moves;    // W5, W7
  uint32_t writers;  // W8: records per process
};
inline Sizes SizesFor(uint32_t n) { return {n, n / 5, n / 10, n / 20}; }
constexpr int kWriters = 4;
constexpr double kIndexedBelow = 0.3;  // W6: keys below 30% of N, counted through the index
constexpr double kMontantAbove = 2500.0;

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

// `w` is "setup" (the base table of a run) or W1..W8.
Measure OursWorkload(const std::string& w, const Paths& p, const Sizes& z);
// `mode` is SQLite's journal mode, "WAL" or "DELETE".
Measure SqliteWorkload(const std::string& mode, const std::string& w, const Paths& p,
                       const Sizes& z);
// One W8 writer: `ids` (each plus `first` - 1) inserted one at a time into the shared table.
void OursWriter(const std::string& path, uint32_t first, const std::vector<uint32_t>& ids);
void SqliteWriter(const std::string& mode, const std::string& path, uint32_t first,
                  const std::vector<uint32_t>& ids);
// W8: the writer processes started together on `side`'s table; the largest peak memory of them.
long RunWriters(const std::string& side, const std::string& path, uint32_t per_writer);
// The record timings of our engine alone, as this program measured them first (--walks).
void Walks(const std::filesystem::path& dir, bool exclusive);

}  // namespace bench
