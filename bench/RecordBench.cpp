// The storage engine against SQLite on the same work, through our public table calls as the
// dataset components make them.  Run by hand on a Release build:
//   build-release/bench/RecordBench [--quick] [--runs R] [--n N | --sizes N1,N2,...]
//                                   [--csv FILE] [--dir PARENT] [--only W3,W5]
//   build-release/bench/RecordBench --walks [--dir PARENT]   (our engine alone, as before)
//
// Records: an integer key, a 30-character string, a date, a float and a 200-character memo, made
// by one generator from the record's key; our table has a primary index on the key and a
// case-insensitive secondary index on the string, SQLite the same table, indexes and texts
// (synchronous=OFF; our engine does not flush per write either).  SQLite runs twice, as two
// peers: journal_mode=WAL, its fastest on one machine, and journal_mode=DELETE, the rollback
// journal a table in a shared network directory needs.
//
//   W1 bulk insert of N records (our table opened exclusively; SQLite one transaction)
//   W2 N/5 inserts into a shared table, each its own lock cycle (SQLite autocommit)
//   W3 N random finds by key
//   W4 a scan in secondary-index order reading every field, memo included
//   W5 N/10 moves to a random ordinal position in secondary order (SQLite ORDER BY ... OFFSET;
//      above kSqliteMovesUpTo records SQLite's side would take hours and is not run)
//   W6 a count that an index serves, and one that reads every record
//   W7 N/10 updates of the secondary key, then N/10 deletes, one at a time (shared; autocommit)
//   W8 4 processes inserting N/20 records each into one shared table at once (SQLite: a busy
//      timeout)
// W3 to W6 read through a shared handle, as a dataset opens a table (each read from the disk
// takes the transient read level and the change check), SQLite through an ordinary connection.
// The sides live in OursWorkloads.cpp and SqliteWorkloads.cpp, the data in BenchData.h.
//
// Every measurement runs in a child process of its own (this program again), so that its peak
// memory (getrusage, taken before the check) belongs to one side alone; the sides take turns at
// going first.  After each workload the child runs the table check on our table.  Per size, the
// medians are printed with each peer's ratio of medians and, in brackets, the lowest and highest
// ratio of one run's pair; --csv writes the same as CSV.  Everything goes into a new directory
// under PARENT (the system's temporary directory by default), removed at the end.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchData.h"
#include "engine/storage/core/EngineSession.h"

namespace bench {

namespace fs = std::filesystem;

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
  const std::vector<uint32_t> ids = Shuffled(count, first);
  if (side == "ours") {
    OursWriter(path, first, ids);
  } else {
    SqliteWriter(side == "wal" ? "WAL" : "DELETE", path, first, ids);
  }
  std::printf("%ld\n", PeakKilobytes());
  return 0;
}

// The child: one workload, one side; prints "seconds peak_kb".
int Child(const std::string& side, const std::string& workload, const Paths& p, uint32_t n) {
  const Sizes z = SizesFor(n);
  const Measure m = side == "ours"
                        ? OursWorkload(workload, p, z)
                        : SqliteWorkload(side == "wal" ? "WAL" : "DELETE", workload, p, z);
  std::printf("%.6f %ld\n", m.seconds, m.peak_kb);
  return 0;
}

// ---- the parent --------------------------------------------------------------------------------

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t half = values.size() / 2;
  return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

constexpr int kSideCount = 3;
const char* const kSides[kSideCount] = {"ours", "wal", "delete"};
const char* const kSideHeads[kSideCount] = {"ours", "WAL", "DELETE"};
// SQLite's W5 reads OFFSET rows per move: N/10 moves cost N^2/20 row visits.
constexpr uint32_t kSqliteMovesUpTo = 100000;

// One workload's figures at one size; a run that was not made is missing (NaN).
struct Figures {
  std::vector<double> seconds[kSideCount];
  long peak_kb[kSideCount] = {0, 0, 0};
};

// A peer's ratio of medians with the lowest and highest ratio of one run's pair.
struct Ratio {
  double median = 0, low = 0, high = 0;
  bool known = false;
};

Ratio RatioOf(const Figures& f, int peer) {
  Ratio r;
  const std::vector<double>& ours = f.seconds[0];
  const std::vector<double>& theirs = f.seconds[peer];
  if (ours.empty() || theirs.size() != ours.size()) return r;
  r.known = true;
  r.median = Median(theirs) / Median(ours);
  r.low = r.high = theirs[0] / ours[0];
  for (size_t i = 1; i < ours.size(); ++i) {
    r.low = std::min(r.low, theirs[i] / ours[i]);
    r.high = std::max(r.high, theirs[i] / ours[i]);
  }
  return r;
}

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

// Every selected workload `runs` times at size `n`, each side in a child of its own.
std::map<std::string, Figures> MeasureSize(uint32_t n, int runs, const fs::path& dir,
                                           const std::vector<std::string>& only) {
  std::map<std::string, Figures> figures;
  const std::string nstr = std::to_string(n);
  for (int run = 0; run < runs; ++run) {
    const fs::path run_dir = dir / ("run" + std::to_string(run));
    fs::create_directories(run_dir);
    const std::string base_ours = (run_dir / "Base").string();
    auto base_sqlite = [&](int side) {
      return (run_dir / (kSides[side] + std::string(".db"))).string();
    };
    for (int side = 0; side < kSideCount; ++side) {
      RunSelf(
          {"--child", kSides[side], "setup", base_ours, base_sqlite(side), run_dir.string(), nstr});
    }
    for (const char* w : kWorkloads) {
      if (!only.empty() && std::find(only.begin(), only.end(), w) == only.end()) continue;
      for (int k = 0; k < kSideCount; ++k) {
        const int side = (run + k) % kSideCount;  // the sides take turns at going first
        if (side != 0 && std::string(w) == "W5" && n > kSqliteMovesUpTo) continue;
        const fs::path work = run_dir / (std::string(w) + kSides[side]);
        fs::create_directories(work);
        const std::string out = RunSelf(
            {"--child", kSides[side], w, base_ours, base_sqlite(side), work.string(), nstr});
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
      std::fprintf(stderr, "N = %u run %d %s done\n", n, run + 1, w);
    }
    fs::remove_all(run_dir);
  }
  return figures;
}

std::string SecondsText(const std::vector<double>& values) {
  char text[32];
  if (values.empty()) return "-";
  std::snprintf(text, sizeof text, "%.4f", Median(values));
  return text;
}

std::string RatioText(const Ratio& r) {
  char text[48];
  if (!r.known) return "-";
  std::snprintf(text, sizeof text, "%.2f (%.2f-%.2f)", r.median, r.low, r.high);
  return text;
}

std::string Megabytes(long kb) {
  char text[32];
  if (kb == 0) return "-";
  std::snprintf(text, sizeof text, "%.1f", kb / 1024.0);
  return text;
}

void Print(uint32_t n, int runs, const std::map<std::string, Figures>& figures, std::FILE* csv) {
  const Sizes z = SizesFor(n);
  std::printf("\nN = %u, %d runs: medians; ratio = SQLite / ours (lowest-highest of one run)\n", n,
              runs);
  std::printf("%-3s %-42s %8s %8s %8s %19s %8s %19s %7s %7s %7s\n", "", "workload", "ops", "ours s",
              "WAL s", "ratio WAL", "DELETE s", "ratio DELETE", "ours MB", "WAL MB", "DEL MB");
  for (int i = 0; i < 8; ++i) {
    auto it = figures.find(kWorkloads[i]);
    if (it == figures.end()) continue;
    const Figures& f = it->second;
    const Ratio wal = RatioOf(f, 1);
    const Ratio del = RatioOf(f, 2);
    std::printf("%-3s %-42s %8u %8s %8s %19s %8s %19s %7s %7s %7s\n", kWorkloads[i], kLabels[i],
                CountOf(i, z), SecondsText(f.seconds[0]).c_str(), SecondsText(f.seconds[1]).c_str(),
                RatioText(wal).c_str(), SecondsText(f.seconds[2]).c_str(), RatioText(del).c_str(),
                Megabytes(f.peak_kb[0]).c_str(), Megabytes(f.peak_kb[1]).c_str(),
                Megabytes(f.peak_kb[2]).c_str());
    if (csv == nullptr) continue;
    std::fprintf(csv, "%u,%s,%u,%s", n, kWorkloads[i], CountOf(i, z),
                 SecondsText(f.seconds[0]).c_str());
    for (int peer = 1; peer < kSideCount; ++peer) {
      const Ratio r = RatioOf(f, peer);
      if (r.known) {
        std::fprintf(csv, ",%s,%.3f,%.3f,%.3f", SecondsText(f.seconds[peer]).c_str(), r.median,
                     r.low, r.high);
      } else {
        std::fprintf(csv, ",,,,");
      }
    }
    std::fprintf(csv, ",%ld,%ld,%ld\n", f.peak_kb[0], f.peak_kb[1], f.peak_kb[2]);
  }
  std::fflush(stdout);
}

int Parent(const std::vector<uint32_t>& sizes, int runs, const std::string& csv,
           const fs::path& dir, const std::vector<std::string>& only) {
  std::FILE* out = csv.empty() ? nullptr : std::fopen(csv.c_str(), "w");
  if (!csv.empty() && out == nullptr) Die("cannot write " + csv);
  if (out) {
    std::fprintf(out,
                 "n,workload,operations,ours_s,wal_s,wal_ratio,wal_ratio_low,wal_ratio_high,"
                 "delete_s,delete_ratio,delete_ratio_low,delete_ratio_high,ours_peak_kb,"
                 "wal_peak_kb,delete_peak_kb\n");
  }
  for (uint32_t n : sizes) Print(n, runs, MeasureSize(n, runs, dir, only), out);
  if (out) std::fclose(out);
  return 0;
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

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> items;
  for (size_t start = 0; start <= list.size();) {
    const size_t comma = std::min(list.find(',', start), list.size());
    items.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return items;
}

int Usage() {
  std::fprintf(stderr,
               "usage: RecordBench [--quick] [--runs R] [--n N | --sizes N1,N2,...] [--csv FILE] "
               "[--dir PARENT] [--only W1,W2,...]\n       RecordBench --walks [--dir PARENT]\n");
  return 2;
}

}  // namespace bench

int main(int argc, char** argv) {
  using namespace bench;
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

  std::vector<uint32_t> sizes = {100000};
  int runs = 5;
  bool walks = false;
  std::string csv;
  fs::path parent = fs::temp_directory_path();
  std::vector<std::string> only;
  for (size_t i = 0; i < args.size(); ++i) {
    const bool has_value = i + 1 < args.size();
    // A size below 100 leaves W8's writers nothing; a multiple of 20 divides evenly among them.
    auto size_of = [](const std::string& text) {
      const uint32_t n = static_cast<uint32_t>(std::max(100L, std::atol(text.c_str())));
      return n - n % 20;
    };
    if (args[i] == "--quick") {
      sizes = {20000};
      runs = 3;
    } else if (args[i] == "--walks") {
      walks = true;
    } else if (args[i] == "--runs" && has_value) {
      runs = std::max(1, std::atoi(args[++i].c_str()));
    } else if (args[i] == "--n" && has_value) {
      sizes = {size_of(args[++i])};
    } else if (args[i] == "--sizes" && has_value) {
      sizes.clear();
      for (const std::string& item : SplitList(args[++i])) sizes.push_back(size_of(item));
    } else if (args[i] == "--csv" && has_value) {
      csv = args[++i];
    } else if (args[i] == "--dir" && has_value) {
      parent = args[++i];
    } else if (args[i] == "--only" && has_value) {
      only = SplitList(args[++i]);
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
      status = Parent(sizes, runs, csv, dir, only);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "RecordBench: %s\n", e.what());
    status = 1;
  }
  std::error_code ignored;
  if (!dir.empty()) fs::remove_all(dir, ignored);  // made above: ours to remove
  return status;
}
