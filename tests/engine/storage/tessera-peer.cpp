// The second process of the multi-process tests.  It reads one command a line on stdin and answers
// one line on stdout: "ok", "ok <value>", or "err <number>" (the platform's error number for the
// file commands, the engine's code for the table commands).
//
// File commands, on platform files:
//   open <h> <rw|ro> <shared|excl> <path>   open <path> as handle h (0..3)
//   create <h> <path>                        create-new as handle h
//   lock <h> <offset> <length>               one lock attempt
//   unlock <h> <offset> <length>
//   close <h>
//   delete <path>
//   rename <from> <to>
//   exit                                     ends at once, leaving its files open
//
// Table commands, on table handles t (0..3) of the tables of tools/StressTable.h:
//   tcreate <shape> <path>                   creates the table (keyed, nokey, memo)
//   topen <t> <rw|ro> <shared|excl> <path>   opens it
//   tclose <t>
//   settings <t> <retries> <wait-ms> [<region-retries> <region-wait-ms>]   before topen
//   insert <t> <k> <a> <b>                   a new record (the current one after it)
//   seek <t> <k>                             stands on key k ("err 8710" when absent)
//   get <t> [lock]                           "ok <k> <a> <b>" of the current record, locking it
//   set <t> <a|b> <value> [keep]             the current record with that field changed; its
//                                            record lock released after it unless `keep`
//   tdelete <t>                              deletes the current record
//   lockrec <t> | unlockrec <t>              the current record's lock
//   locktable <t> | unlocktable <t> | lockread <t> | unlockread <t>
//   count <t>                                "ok <records in the range>"
//   refresh <t>                              "ok 1" when another process changed the table
//   append <t> <n> <first-k>                 n inserts with keys first-k, first-k + 1, ...
//   readloop <t> <n>                         n times: refresh, then a walk over every record
//   opencheck <path> <n>                     n times: open shared, check the whole table, close;
//                                            "bad <problem>" for a check that failed
//   elapsed                                  "ok <ms>" that the previous command took
//
// End of input ends it as well.  Paths must not contain blanks.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCheck.h"
#include "platform/OsFile.h"
#include "tools/StressTable.h"

namespace {

constexpr int kHandles = 4;

std::string Answer(platform::OsError error) {
  return error == platform::kErrorSuccess ? "ok" : "err " + std::to_string(error);
}

using tessera::TDataFile;
namespace stress = tessera::stress;

// Runs one table command; an engine error becomes "err <code>".
std::string Engine(const std::function<std::string()>& action) {
  try {
    return action();
  } catch (const tessera::ETesseraEngineError& e) {
    return "err " + std::to_string(e.GetError(0).ErrorCode());
  }
}

std::string Current(TDataFile& t, bool lock) {
  std::vector<uint8_t> record(t.GetRecordBufferSize());
  const uint16_t code = t.GetCurrentRecord(record.data(), lock);
  if (code != 0) return "err " + std::to_string(code);
  return "ok " + std::to_string(stress::GetInt(t, stress::kK, record.data())) + " " +
         std::to_string(stress::GetInt(t, stress::kA, record.data())) + " " +
         std::to_string(stress::GetInt(t, stress::kB, record.data()));
}

void Insert(TDataFile& t, int32_t k, int32_t a, int32_t b) {
  std::vector<uint8_t> record(t.GetRecordBufferSize());
  t.ApplyFieldDefaults(record.data());
  stress::PutInt(t, stress::kK, k, record.data());
  stress::PutInt(t, stress::kA, a, record.data());
  stress::PutInt(t, stress::kB, b, record.data());
  t.InsertRecord(record.data());
}

std::string Seek(TDataFile& t, int32_t k) {
  std::vector<uint8_t> record(t.GetRecordBufferSize());
  t.ApplyFieldDefaults(record.data());
  stress::PutInt(t, stress::kK, k, record.data());
  if (!t.FindRecordByKey(record.data(), nullptr)) return "err 8710";
  return "ok";
}

std::string TableCommand(const std::string& command, std::istringstream& in,
                         std::unique_ptr<TDataFile> (&tables)[kHandles]) {
  if (command == "tcreate") {
    std::string shape_name, path;
    in >> shape_name >> path;
    stress::TShape shape;
    if (!stress::ParseShape(shape_name, shape)) return "err bad-shape";
    stress::CreateTable(path, shape);
    return "ok";
  }
  if (command == "opencheck") {
    std::string path;
    int n = 0;
    in >> path >> n;
    for (int i = 0; i < n; ++i) {
      TDataFile t;
      t.SetFileName(path);
      t.Open();
      t.LockRead();  // no writer between the first and the last byte checked
      const tessera::TTableCheckReport report = tessera::CheckTable(t);
      t.Close();
      if (!report.ok()) return "bad " + report.problems.front();
    }
    return "ok";
  }
  int h = -1;
  if (!(in >> h) || h < 0 || h >= kHandles) return "err bad-handle";
  std::unique_ptr<TDataFile>& slot = tables[h];
  if (!slot) slot = std::make_unique<TDataFile>();
  TDataFile& t = *slot;
  if (command == "settings") {
    int retries = 0, wait = 0;
    in >> retries >> wait;
    t.SetLockRetryCount(static_cast<uint8_t>(retries));
    t.SetLockWaitTime(static_cast<uint16_t>(wait));
    TDataFile::TLockTuning tuning;
    if (in >> tuning.region_retries >> tuning.region_wait_ms) t.SetLockTuning(tuning);
    return "ok";
  }
  if (command == "topen") {
    std::string access, share, path;
    in >> access >> share >> path;
    t.SetFileName(path);
    t.SetReadOnly(access == "ro");
    t.SetExclusive(share == "excl");
    t.Open();
    return "ok";
  }
  if (command == "tclose") {
    t.Close();
    return "ok";
  }
  if (command == "insert") {
    int32_t k = 0, a = 0, b = 0;
    in >> k >> a >> b;
    Insert(t, k, a, b);
    return "ok";
  }
  if (command == "append") {
    int n = 0;
    int32_t first = 0;
    in >> n >> first;
    for (int i = 0; i < n; ++i) Insert(t, first + i, i, i);
    return "ok";
  }
  if (command == "seek") {
    int32_t k = 0;
    in >> k;
    return Seek(t, k);
  }
  if (command == "get") {
    std::string lock;
    in >> lock;
    return Current(t, lock == "lock");
  }
  if (command == "set") {
    std::string field, keep;
    int32_t value = 0;
    in >> field >> value >> keep;
    std::vector<uint8_t> record(t.GetRecordBufferSize());
    const uint16_t code = t.GetCurrentRecord(record.data());
    if (code != 0) return "err " + std::to_string(code);
    stress::PutInt(t, field == "a" ? stress::kA : stress::kB, value, record.data());
    t.ModifyRecord(record.data(), keep != "keep");
    return "ok";
  }
  if (command == "tdelete") {
    t.DeleteRecord();
    return "ok";
  }
  if (command == "lockrec") {
    t.LockRecord(0);
  } else if (command == "unlockrec") {
    t.UnlockRecord(0);
  } else if (command == "locktable") {
    t.LockTable();
  } else if (command == "unlocktable") {
    t.UnlockTable();
  } else if (command == "lockread") {
    t.LockRead();
  } else if (command == "unlockread") {
    t.UnlockRead();
  } else if (command == "count") {
    return "ok " + std::to_string(t.GetRecordCount());
  } else if (command == "refresh") {
    return t.RefreshFromDisk() ? "ok 1" : "ok 0";
  } else if (command == "readloop") {
    int n = 0;
    in >> n;
    for (int i = 0; i < n; ++i) {
      t.RefreshFromDisk();
      t.MoveToBeginning();
      while (t.GetNextRecord(nullptr) == 0) {
      }
    }
  } else {
    return "err bad-command";
  }
  return "ok";
}

}  // namespace

int main() {
  tessera::InitializeEngine();
  platform::OsFile files[kHandles];
  std::unique_ptr<TDataFile> tables[kHandles];
  int64_t last_ms = 0;
  std::string line;
  while (std::getline(std::cin, line)) {
    const auto start = std::chrono::steady_clock::now();
    std::istringstream in(line);
    std::string command;
    in >> command;
    int h = 0;
    std::string reply = "err bad-command";
    if (command == "elapsed") {
      std::cout << "ok " << last_ms << std::endl;
      continue;
    }
    if (!command.empty() && command != "open" && command != "create" && command != "lock" &&
        command != "unlock" && command != "close" && command != "delete" && command != "rename" &&
        command != "exit") {
      reply = Engine([&] { return TableCommand(command, in, tables); });
      last_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start)
                    .count();
      std::cout << reply << std::endl;
      continue;
    }
    if (command == "open" || command == "create" || command == "lock" || command == "unlock" ||
        command == "close") {
      if (!(in >> h) || h < 0 || h >= kHandles) {
        std::cout << "err bad-handle" << std::endl;
        continue;
      }
    }
    if (command == "open") {
      std::string access, share, path;
      in >> access >> share >> path;
      reply = Answer(files[h].Open(
          path, access == "ro" ? platform::FileAccess::kRead : platform::FileAccess::kReadWrite,
          share == "excl" ? platform::FileShare::kExclusive : platform::FileShare::kDenyNone,
          false));
    } else if (command == "create") {
      std::string path;
      in >> path;
      reply = Answer(files[h].CreateNew(path, false));
    } else if (command == "lock" || command == "unlock") {
      uint64_t offset = 0, length = 0;
      in >> offset >> length;
      reply = Answer(command == "lock" ? files[h].Lock(offset, length)
                                       : files[h].Unlock(offset, length));
    } else if (command == "close") {
      files[h].Close();
      reply = "ok";
    } else if (command == "delete") {
      std::string path;
      in >> path;
      reply = Answer(platform::DeleteFile(path));
    } else if (command == "rename") {
      std::string from, to;
      in >> from >> to;
      reply = Answer(platform::RenameFile(from, to));
    } else if (command == "exit") {
      std::_Exit(0);
    }
    std::cout << reply << std::endl;
  }
  return 0;
}
