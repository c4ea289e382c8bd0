// tessera-stress: several processes share one table and do a random mix of inserts, edits under
// record locks, deletes and reads; afterwards the table must pass the whole-table check and hold
// exactly the records inserted less those deleted.
//
//   tessera-stress [--procs N] [--ops N] [--shape keyed|nokey|memo] [--seed N]
//                  [--lock-retries N] [--lock-wait MS] <dir>
//
// Without --shape the three shapes of tools/StressTable.h run one after the other, each on a new
// table in <dir>.  Prints, per shape, the operations per second, the conflicts (refused record
// locks, vanished records, duplicate keys) and the retries of the lock levels; exits 0 when every
// shape passed.  Each process reports to <dir>/stress-<n>.txt (the workers run this program with
// --worker).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCheck.h"
#include "platform/Environment.h"
#include "platform/FileNames.h"
#include "platform/OsFile.h"
#include "platform/ProcessStart.h"
#include "platform/ProcessWait.h"
#include "tools/StressTable.h"

namespace {

using tessera::stress::TShape;
using tessera::stress::TStressCounts;

struct Options {
  int procs = 8;
  int ops = 5000;
  bool all_shapes = true;
  TShape shape = TShape::kKeyed;
  unsigned seed = 1;
  int lock_retries = 15;
  int lock_wait = 100;
  int worker = -1;
  std::string dir;
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto number = [&](int& out) {
      if (i + 1 >= argc) return false;
      out = std::atoi(argv[++i]);
      return true;
    };
    int seed = 0;
    if (a == "--procs") {
      if (!number(o.procs) || o.procs < 1) return false;
    } else if (a == "--ops") {
      if (!number(o.ops) || o.ops < 0) return false;
    } else if (a == "--seed") {
      if (!number(seed)) return false;
      o.seed = static_cast<unsigned>(seed);
    } else if (a == "--lock-retries") {
      if (!number(o.lock_retries) || o.lock_retries < 0 || o.lock_retries > 255) return false;
    } else if (a == "--lock-wait") {
      if (!number(o.lock_wait) || o.lock_wait < 0 || o.lock_wait > 65535) return false;
    } else if (a == "--worker") {
      if (!number(o.worker)) return false;
    } else if (a == "--shape") {
      if (i + 1 >= argc || !tessera::stress::ParseShape(argv[++i], o.shape)) return false;
      o.all_shapes = false;
    } else if (!a.empty() && a[0] != '-' && o.dir.empty()) {
      o.dir = a;
    } else {
      return false;
    }
  }
  return !o.dir.empty();
}

std::string TablePath(const Options& o) {
  return o.dir + "/stress_" + tessera::stress::ShapeName(o.shape);
}

std::string ReportPath(const Options& o, int worker) {
  return o.dir + "/stress-" + std::to_string(worker) + ".txt";
}

// One worker: opens the shared table, runs its operations and writes its counts.
int RunWorker(const Options& o) {
  TStressCounts counts;
  try {
    tessera::TDataFile table;
    table.SetFileName(TablePath(o));
    table.SetLockRetryCount(static_cast<uint8_t>(o.lock_retries));
    table.SetLockWaitTime(static_cast<uint16_t>(o.lock_wait));
    tessera::TDataFile::TLockTuning tuning;
    tuning.wait = [&counts](int32_t ms) {
      ++counts.retries;
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    };
    table.SetLockTuning(std::move(tuning));
    table.Open();
    std::mt19937 rng(o.seed * 7919u + static_cast<unsigned>(o.worker));
    tessera::stress::RunOperations(table, o.shape, o.ops, rng, counts);
    table.Close();
  } catch (const tessera::ETesseraEngineError& e) {
    ++counts.errors;
    counts.first_error = "open or close: engine error " + std::to_string(e.GetError(0).ErrorCode());
  }
  std::ofstream out(ReportPath(o, o.worker));
  out << counts.inserts << ' ' << counts.deletes << ' ' << counts.edits << ' ' << counts.reads
      << ' ' << counts.conflicts << ' ' << counts.retries << ' ' << counts.errors << '\n'
      << counts.first_error << '\n';
  return out ? 0 : 1;
}

bool ReadReport(const Options& o, int worker, TStressCounts& c) {
  std::ifstream in(ReportPath(o, worker));
  if (!(in >> c.inserts >> c.deletes >> c.edits >> c.reads >> c.conflicts >> c.retries >>
        c.errors)) {
    return false;
  }
  std::getline(in, c.first_error);
  std::getline(in, c.first_error);
  return true;
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// Runs one shape: a new table, the workers, then the check.  True when it passed.
bool RunShape(const Options& o, const std::string& self) {
  const char* name = tessera::stress::ShapeName(o.shape);
  tessera::stress::CreateTable(TablePath(o), o.shape);
  for (int w = 0; w < o.procs; ++w) platform::DeleteFile(ReportPath(o, w));
  const auto start = std::chrono::steady_clock::now();
  std::vector<int32_t> pids;
  for (int w = 0; w < o.procs; ++w) {
    std::ostringstream command;
    command << Quote(self) << " --worker " << w << " --shape " << name << " --ops " << o.ops
            << " --seed " << o.seed << " --lock-retries " << o.lock_retries << " --lock-wait "
            << o.lock_wait << ' ' << Quote(o.dir);
    const int32_t pid = platform::StartProcess(command.str());
    if (pid == 0) {
      std::fprintf(stderr, "%s: worker %d could not be started\n", name, w);
      return false;
    }
    pids.push_back(pid);
  }
  for (int32_t pid : pids) {
    while (!platform::WaitForProcessEnd(pid, 60000)) {
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  TStressCounts total;
  bool ok = true;
  for (int w = 0; w < o.procs; ++w) {
    TStressCounts c;
    if (!ReadReport(o, w, c)) {
      std::fprintf(stderr, "%s: worker %d left no report\n", name, w);
      ok = false;
      continue;
    }
    if (c.errors != 0) {
      std::fprintf(stderr, "%s: worker %d: %llu errors, first: %s\n", name, w,
                   static_cast<unsigned long long>(c.errors), c.first_error.c_str());
      ok = false;
    }
    total.inserts += c.inserts;
    total.deletes += c.deletes;
    total.edits += c.edits;
    total.reads += c.reads;
    total.conflicts += c.conflicts;
    total.retries += c.retries;
  }
  const tessera::TTableCheckReport report = tessera::CheckTableFiles(TablePath(o));
  if (!report.ok()) {
    std::fprintf(stderr, "%s: table check: %s\n", name, report.problems.front().c_str());
    ok = false;
  }
  const uint64_t expected = total.inserts - total.deletes;
  if (report.live_records != expected) {
    std::fprintf(stderr, "%s: %u records, expected %llu (inserts - deletes)\n", name,
                 report.live_records, static_cast<unsigned long long>(expected));
    ok = false;
  }
  const double operations = static_cast<double>(o.procs) * o.ops;
  std::printf(
      "%s: %d processes x %d operations in %.2f s: %.0f operations/s; inserts %llu, edits %llu, "
      "deletes %llu, reads %llu; conflicts %llu, lock retries %llu; %u records: %s\n",
      name, o.procs, o.ops, seconds, seconds > 0 ? operations / seconds : 0.0,
      static_cast<unsigned long long>(total.inserts), static_cast<unsigned long long>(total.edits),
      static_cast<unsigned long long>(total.deletes), static_cast<unsigned long long>(total.reads),
      static_cast<unsigned long long>(total.conflicts),
      static_cast<unsigned long long>(total.retries), report.live_records, ok ? "ok" : "FAILED");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: tessera-stress [--procs N] [--ops N] [--shape keyed|nokey|memo] "
                 "[--seed N] [--lock-retries N] [--lock-wait MS] <dir>\n");
    return 2;
  }
  tessera::InitializeEngine();
  if (o.worker >= 0) return RunWorker(o);
  const std::string self = platform::ExecutablePath();
  if (self.empty()) {
    std::fprintf(stderr, "tessera-stress: cannot tell its own executable\n");
    return 2;
  }
  // The tables and reports are made here; never over files of the same names that were not.
  for (TShape shape : {TShape::kKeyed, TShape::kNoKey, TShape::kMemo}) {
    if (!o.all_shapes && shape != o.shape) continue;
    Options probe = o;
    probe.shape = shape;
    for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
      if (platform::PathExists(TablePath(probe) + ext)) {
        std::fprintf(stderr, "tessera-stress: %s%s exists already; give an empty directory\n",
                     TablePath(probe).c_str(), ext);
        return 2;
      }
    }
  }
  for (int w = 0; w < o.procs; ++w) {
    if (platform::PathExists(ReportPath(o, w))) {
      std::fprintf(stderr, "tessera-stress: %s exists already; give an empty directory\n",
                   ReportPath(o, w).c_str());
      return 2;
    }
  }
  bool ok = true;
  try {
    if (!o.all_shapes) {
      ok = RunShape(o, self);
    } else {
      for (TShape shape : {TShape::kKeyed, TShape::kNoKey, TShape::kMemo}) {
        o.shape = shape;
        ok = RunShape(o, self) && ok;
      }
    }
  } catch (const tessera::ETesseraEngineError& e) {
    std::fprintf(stderr, "tessera-stress: engine error %d\n", e.GetError(0).ErrorCode());
    return 1;
  }
  return ok ? 0 : 1;
}
