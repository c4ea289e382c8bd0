// tessera-stress: several processes share one table and do a random mix of inserts, edits under
// record locks, deletes and reads; afterwards the table must pass the whole-table check and hold
// exactly the records that the workers' journals say it holds.
//
//   tessera-stress [--procs N] [--ops N] [--shape keyed|nokey|memo] [--seed N] [--kill N]
//                  [--lock-retries N] [--lock-wait MS] <dir>
//
// Without --shape the three shapes of tools/StressTable.h run one after the other, each on a new
// table in <dir>/table.  With --kill, N times at a random moment a random running worker is
// killed (as a crash would end it) and replaced by a new one; workers that all end before the
// kills do are started again.  Every worker keeps the journal of its writes (tools/StressTable.h)
// and its report in <dir>/log, never in the table's folder (the workers run this program with
// --worker and --generation).
//
// The final check replays the journals by sequence number: every record whose insert is done and
// whose delete is not must be there (else "lost"), no sequence number twice ("duplicated"), each
// record as its insert or one of its edits left it, never older than its last edit done, with
// B = K ("wrong"), and nothing else (a record only a write of unknown outcome explains is
// accepted).  Prints, per shape, the operations per second, the conflicts (refused record locks,
// vanished records, duplicate keys), the retries of the lock levels and those counts; exits 0
// when every shape passed.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "classlib/rtl/Coding.h"
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
namespace stress = tessera::stress;

struct Options {
  int procs = 8;
  int ops = 5000;
  int kill = 0;
  bool all_shapes = true;
  TShape shape = TShape::kKeyed;
  unsigned seed = 1;
  int lock_retries = 15;
  int lock_wait = 100;
  int worker = -1;
  int generation = 0;
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
    } else if (a == "--kill") {
      if (!number(o.kill) || o.kill < 0) return false;
    } else if (a == "--seed") {
      if (!number(seed)) return false;
      o.seed = static_cast<unsigned>(seed);
    } else if (a == "--lock-retries") {
      if (!number(o.lock_retries) || o.lock_retries < 0 || o.lock_retries > 255) return false;
    } else if (a == "--lock-wait") {
      if (!number(o.lock_wait) || o.lock_wait < 0 || o.lock_wait > 65535) return false;
    } else if (a == "--worker") {
      if (!number(o.worker)) return false;
    } else if (a == "--generation") {
      if (!number(o.generation)) return false;
    } else if (a == "--shape") {
      if (i + 1 >= argc || !stress::ParseShape(argv[++i], o.shape)) return false;
      o.all_shapes = false;
    } else if (!a.empty() && a[0] != '-' && o.dir.empty()) {
      o.dir = a;
    } else {
      return false;
    }
  }
  return !o.dir.empty();
}

std::string TableDir(const Options& o) { return o.dir + "/table"; }
std::string LogDir(const Options& o) { return o.dir + "/log"; }
std::string TablePath(const Options& o) {
  return TableDir(o) + "/stress_" + stress::ShapeName(o.shape);
}
// A worker's files: its journal (".log") and its counts (".txt").
std::string WorkerFile(const Options& o, int worker, int generation, const char* ext) {
  return LogDir(o) + "/" + stress::ShapeName(o.shape) + "-" + std::to_string(worker) + "-" +
         std::to_string(generation) + ext;
}

// Each line goes to the system before the write it announces, so that a kill loses none.
class FileJournal : public stress::TWriteJournal {
 public:
  explicit FileJournal(const std::string& path) : file_(std::fopen(path.c_str(), "w")) {}
  ~FileJournal() override {
    if (file_ != nullptr) std::fclose(file_);
  }
  bool ok() const { return file_ != nullptr; }
  void Line(const std::string& text) override {
    std::fputs((text + "\n").c_str(), file_);
    std::fflush(file_);
  }

 private:
  std::FILE* file_;
};

// One worker: opens the shared table, runs its operations and writes its counts.
int RunWorker(const Options& o) {
  TStressCounts counts;
  FileJournal journal(WorkerFile(o, o.worker, o.generation, ".log"));
  if (!journal.ok()) return 1;
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
    std::mt19937 rng(o.seed * 7919u + static_cast<unsigned>(o.worker) +
                     104729u * static_cast<unsigned>(o.generation));
    stress::RunOperations(table, o.shape, o.ops, rng, counts, &journal);
    table.Close();
  } catch (const tessera::ETesseraEngineError& e) {
    ++counts.errors;
    counts.first_error = "open or close: engine error " + std::to_string(e.GetError(0).ErrorCode());
  }
  std::ofstream out(WorkerFile(o, o.worker, o.generation, ".txt"));
  out << counts.inserts << ' ' << counts.deletes << ' ' << counts.edits << ' ' << counts.reads
      << ' ' << counts.conflicts << ' ' << counts.retries << ' ' << counts.errors << '\n'
      << counts.first_error << '\n';
  return out ? 0 : 1;
}

bool ReadReport(const std::string& path, TStressCounts& c) {
  std::ifstream in(path);
  if (!(in >> c.inserts >> c.deletes >> c.edits >> c.reads >> c.conflicts >> c.retries >>
        c.errors)) {
    return false;
  }
  std::getline(in, c.first_error);
  std::getline(in, c.first_error);
  return true;
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

// ---- the final check ----

// A record's content as a write left it: K, A, B and the memo ("-" none, "<length>:<char>").
struct Content {
  int32_t k = 0, a = 0, b = 0;
  std::string memo;
  bool operator==(const Content&) const = default;
};

// What the journals say of one sequence number.
struct History {
  bool inserted = false;  // an insert done gave it
  Content insert;
  std::vector<Content> edits;  // done or of unknown outcome; memo "=" keeps the one before
  int32_t last_done_a = INT32_MIN;
  bool deleted = false;        // a delete done
  bool maybe_deleted = false;  // a delete of unknown outcome
};

struct Journals {
  std::map<uint32_t, History> by_sequence;
  std::vector<Content> unknown_inserts;  // the worker died before it learnt the outcome
};

void ReadJournal(const std::string& path, Journals& j) {
  std::ifstream in(path);
  std::string line;
  std::vector<std::string> intent;
  auto settle = [&](const std::vector<std::string>* outcome) {
    if (intent.empty()) return;
    const bool done = outcome != nullptr && (*outcome)[0] == "D";
    const bool unknown = outcome == nullptr;
    auto content = [&](size_t at) {
      return Content{std::atoi(intent[at].c_str()), std::atoi(intent[at + 1].c_str()),
                     std::atoi(intent[at + 2].c_str()), intent[at + 3]};
    };
    if (intent[0] == "I" && intent.size() == 5) {
      if (done && outcome->size() == 2) {
        History& h = j.by_sequence[std::strtoul((*outcome)[1].c_str(), nullptr, 10)];
        h.inserted = true;
        h.insert = content(1);
      } else if (unknown) {
        j.unknown_inserts.push_back(content(1));
      }
    } else if (intent[0] == "E" && intent.size() == 6 && (done || unknown)) {
      History& h = j.by_sequence[std::strtoul(intent[1].c_str(), nullptr, 10)];
      h.edits.push_back(content(2));
      if (done) h.last_done_a = std::max(h.last_done_a, h.edits.back().a);
    } else if (intent[0] == "X" && intent.size() == 3 && (done || unknown)) {
      History& h = j.by_sequence[std::strtoul(intent[1].c_str(), nullptr, 10)];
      (done ? h.deleted : h.maybe_deleted) = true;
    }
    intent.clear();
  };
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string x; words >> x;) w.push_back(x);
    if (w.empty()) continue;
    if (w[0] == "D" || w[0] == "F") {
      settle(&w);
    } else {
      settle(nullptr);  // an intent without outcome is followed by nothing in a live worker
      intent = w;
    }
  }
  settle(nullptr);
}

// True when `found` is what one of `candidates` left; a memo "=" matches any memo that an earlier
// state of the record had.
bool Explains(const std::vector<Content>& candidates, const Content& found) {
  std::set<std::string> memos;
  for (const Content& c : candidates) memos.insert(c.memo);
  for (const Content& c : candidates) {
    if (c.k != found.k || c.a != found.a || c.b != found.b) continue;
    if (c.memo == found.memo || (c.memo == "=" && memos.count(found.memo) != 0)) return true;
  }
  return false;
}

struct Verdict {
  uint64_t records = 0, lost = 0, duplicated = 0, wrong = 0, unexpected = 0;
  std::string first;
  void Note(const std::string& text) {
    if (first.empty()) first = text;
  }
};

Verdict Verify(const Options& o, const Journals& j) {
  Verdict v;
  tessera::TDataFile table;
  table.SetFileName(TablePath(o));
  table.SetReadOnly(true);
  table.Open();
  std::vector<uint8_t> record(table.GetRecordBufferSize());
  std::set<uint32_t> seen;
  std::vector<bool> unknown_used(j.unknown_inserts.size(), false);
  table.MoveToBeginning();
  while (table.GetNextRecord(record.data()) == 0) {
    ++v.records;
    const uint32_t sequence = cl::GetU32LE(record.data() + tessera::kRecSequence);
    Content found{stress::GetInt(table, stress::kK, record.data()),
                  stress::GetInt(table, stress::kA, record.data()),
                  stress::GetInt(table, stress::kB, record.data()), "-"};
    if (o.shape == TShape::kMemo) {
      int32_t size = 0;
      std::string text;
      if (table.OpenBlob(tessera::TFieldSet::kTable, stress::kM, 0, record.data()) == 0) {
        table.GetBlobSize(tessera::TFieldSet::kTable, stress::kM, size, record.data());
        text.resize(static_cast<size_t>(std::max(size, 0)));
        int32_t count = 0;
        if (size > 0) {
          table.ReadBlob(tessera::TFieldSet::kTable, stress::kM, count, size, text.data(), 0,
                         record.data());
        }
        table.CloseBlob(tessera::TFieldSet::kTable, stress::kM, record.data());
      }
      // A memo is one character repeated; anything else reads as no memo that was written.
      if (!text.empty()) {
        found.memo = text.find_first_not_of(text[0]) == std::string::npos
                         ? std::to_string(text.size()) + ":" + text[0]
                         : "?";
      }
    }
    const std::string at =
        "sequence " + std::to_string(sequence) + " (K " + std::to_string(found.k) + ")";
    if (!seen.insert(sequence).second) {
      ++v.duplicated;
      v.Note(at + " twice");
      continue;
    }
    const auto it = j.by_sequence.find(sequence);
    std::vector<Content> candidates;
    if (it != j.by_sequence.end()) {
      if (it->second.inserted) candidates.push_back(it->second.insert);
      candidates.insert(candidates.end(), it->second.edits.begin(), it->second.edits.end());
    }
    if (it == j.by_sequence.end() || !it->second.inserted) {
      // Only an insert of unknown outcome (perhaps edited since) can explain it.
      bool explained = false;
      for (size_t i = 0; i < j.unknown_inserts.size() && !explained; ++i) {
        if (unknown_used[i] || j.unknown_inserts[i].k != found.k) continue;
        std::vector<Content> with = candidates;
        with.push_back(j.unknown_inserts[i]);
        explained = unknown_used[i] = Explains(with, found);
      }
      if (!explained) {
        ++v.unexpected;
        v.Note(at + ": no write reported or pending made it");
      } else if (it != j.by_sequence.end() && it->second.deleted) {
        ++v.wrong;
        v.Note(at + ": deleted, yet there");
      }
      continue;
    }
    const History& h = it->second;
    if (h.deleted || found.b != found.k || found.a < h.last_done_a ||
        !Explains(candidates, found)) {
      ++v.wrong;
      v.Note(at + (h.deleted ? ": deleted, yet there" : ": not as a write reported it"));
    }
  }
  table.Close();
  for (const auto& [sequence, h] : j.by_sequence) {
    if (h.inserted && !h.deleted && !h.maybe_deleted && seen.count(sequence) == 0) {
      ++v.lost;
      v.Note("sequence " + std::to_string(sequence) + " (K " + std::to_string(h.insert.k) +
             ") lost");
    }
  }
  return v;
}

// ---- the run ----

int32_t StartWorker(const Options& o, const std::string& self, int worker, int generation) {
  std::ostringstream command;
  command << Quote(self) << " --worker " << worker << " --generation " << generation << " --shape "
          << stress::ShapeName(o.shape) << " --ops " << o.ops << " --seed " << o.seed
          << " --lock-retries " << o.lock_retries << " --lock-wait " << o.lock_wait << ' '
          << Quote(o.dir);
  return platform::StartProcess(command.str());
}

// Runs one shape: a new table, the workers (killed and replaced --kill times), then the check.
// True when it passed.
bool RunShape(const Options& o, const std::string& self) {
  const char* name = stress::ShapeName(o.shape);
  stress::CreateTable(TablePath(o), o.shape);
  const auto start = std::chrono::steady_clock::now();
  std::vector<int32_t> pids(static_cast<size_t>(o.procs));
  std::vector<int> generations(static_cast<size_t>(o.procs), 0);
  for (int w = 0; w < o.procs; ++w) {
    pids[w] = StartWorker(o, self, w, 0);
    if (pids[w] == 0) {
      std::fprintf(stderr, "%s: worker %d could not be started\n", name, w);
      return false;
    }
  }
  std::mt19937 rng(o.seed * 31u + static_cast<unsigned>(o.shape));
  int killed = 0;
  while (killed < o.kill) {
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 6000));
    std::vector<int> running;
    for (int w = 0; w < o.procs; ++w) {
      if (!platform::WaitForProcessEnd(pids[w], 0)) running.push_back(w);
    }
    if (running.empty()) {
      // Every worker finished before the kills did: a new generation goes on with the same table.
      for (int w = 0; w < o.procs; ++w) {
        pids[w] = StartWorker(o, self, w, ++generations[w]);
        if (pids[w] == 0) {
          std::fprintf(stderr, "%s: worker %d could not be started again\n", name, w);
          return false;
        }
      }
      continue;
    }
    const int w = running[rng() % running.size()];
    if (!platform::KillProcess(pids[w])) continue;
    while (!platform::WaitForProcessEnd(pids[w], 60000)) {
    }
    ++killed;
    pids[w] = StartWorker(o, self, w, ++generations[w]);
    if (pids[w] == 0) {
      std::fprintf(stderr, "%s: worker %d could not be started again\n", name, w);
      return false;
    }
  }
  for (int32_t pid : pids) {
    while (!platform::WaitForProcessEnd(pid, 60000)) {
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  TStressCounts total;
  Journals journals;
  bool ok = killed == o.kill;
  if (!ok)
    std::fprintf(stderr, "%s: the workers ended after %d of %d kills\n", name, killed, o.kill);
  for (int w = 0; w < o.procs; ++w) {
    for (int g = 0; g <= generations[w]; ++g) {
      ReadJournal(WorkerFile(o, w, g, ".log"), journals);
      TStressCounts c;
      if (!ReadReport(WorkerFile(o, w, g, ".txt"), c)) {
        if (g == generations[w]) {
          std::fprintf(stderr, "%s: worker %d left no report\n", name, w);
          ok = false;
        }
        continue;  // killed
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
  }
  Verdict v;
  try {
    const tessera::TTableCheckReport report = tessera::CheckTableFiles(TablePath(o));
    if (!report.ok()) {
      std::fprintf(stderr, "%s: table check: %s\n", name, report.problems.front().c_str());
      ok = false;
    }
    v = Verify(o, journals);
  } catch (const tessera::ETesseraEngineError& e) {
    std::fprintf(stderr, "%s: the table does not open or read: engine error %d\n", name,
                 e.GetError(0).ErrorCode());
    ok = false;
  }
  if (v.lost + v.duplicated + v.wrong + v.unexpected != 0) {
    std::fprintf(stderr, "%s: first problem: %s\n", name, v.first.c_str());
    ok = false;
  }
  std::printf(
      "%s: %d processes x %d operations, %d killed, in %.2f s: inserts %llu, edits %llu, "
      "deletes %llu, reads %llu; conflicts %llu, lock retries %llu; %llu records: %llu lost, "
      "%llu duplicated, %llu wrong, %llu unexpected: %s\n",
      name, o.procs, o.ops, killed, seconds, static_cast<unsigned long long>(total.inserts),
      static_cast<unsigned long long>(total.edits), static_cast<unsigned long long>(total.deletes),
      static_cast<unsigned long long>(total.reads),
      static_cast<unsigned long long>(total.conflicts),
      static_cast<unsigned long long>(total.retries), static_cast<unsigned long long>(v.records),
      static_cast<unsigned long long>(v.lost), static_cast<unsigned long long>(v.duplicated),
      static_cast<unsigned long long>(v.wrong), static_cast<unsigned long long>(v.unexpected),
      ok ? "ok" : "FAILED");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: tessera-stress [--procs N] [--ops N] [--shape keyed|nokey|memo] "
                 "[--seed N] [--kill N] [--lock-retries N] [--lock-wait MS] <dir>\n");
    return 2;
  }
  tessera::InitializeEngine();
  if (o.worker >= 0) return RunWorker(o);
  const std::string self = platform::ExecutablePath();
  if (self.empty()) {
    std::fprintf(stderr, "tessera-stress: cannot tell its own executable\n");
    return 2;
  }
  // The tables and journals are made here, in folders of their own; never over earlier ones.
  for (const std::string& sub : {TableDir(o), LogDir(o)}) {
    std::error_code error;
    if (platform::PathExists(sub) || !std::filesystem::create_directories(sub, error)) {
      std::fprintf(stderr,
                   "tessera-stress: %s exists already or cannot be made; give an empty "
                   "directory\n",
                   sub.c_str());
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
