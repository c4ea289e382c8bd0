#include "tools/StressTable.h"

#include <string>
#include <utility>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCreation.h"

namespace tessera::stress {
namespace {

TFieldDefinition MakeField(uint16_t number, const char* name, uint8_t type) {
  TFieldDefinition d;
  d.number = number;
  d.name = name;
  d.type = type;
  return d;
}

TIndexDescriptor MakeIndex(const char* name, uint16_t field, bool unique) {
  TIndexDescriptor x;
  x.name = name;
  x.unique = unique ? 1 : 0;
  x.field_numbers[0] = field;
  x.field_count = 1;
  return x;
}

bool IsConflict(uint16_t code) {
  return code == kErrKeyViolation || code == kErrRecordNotFound || code == kErrRecordLocked;
}

// Runs `action`; an engine error is counted as a conflict or an error and answered with its code.
template <class F>
uint16_t Attempt(TStressCounts& counts, F&& action) {
  try {
    action();
    return 0;
  } catch (const ETesseraEngineError& e) {
    const uint16_t code = e.GetError(0).ErrorCode();
    if (IsConflict(code)) {
      ++counts.conflicts;
    } else {
      ++counts.errors;
      if (counts.first_error.empty()) counts.first_error = "engine error " + std::to_string(code);
    }
    return code;
  }
}

// Mostly a block or two; now and then a chain long enough to need read-ahead.
std::string MemoText(std::mt19937& rng) {
  const size_t length = rng() % 8 == 0 ? 2000 + rng() % 6000 : 1 + rng() % 700;
  return std::string(length, static_cast<char>('a' + rng() % 26));
}

std::string MemoSpec(const std::string& text) {
  return text.empty() ? "-" : std::to_string(text.size()) + ":" + text[0];
}

// One write told to the journal: `intent` first, then "D" (or what `done` makes after the write)
// or the code that refused it, which goes on to the caller.
template <class W, class D>
void Journaled(TWriteJournal* journal, const std::string& intent, W&& write, D&& done) {
  if (journal == nullptr) return write();
  journal->Line(intent);
  try {
    write();
  } catch (const ETesseraEngineError& e) {
    journal->Line("F " + std::to_string(e.GetError(0).ErrorCode()));
    throw;
  }
  journal->Line(done());
}

// Stands on a random record of the range; false when the table is empty.
bool PositionRandomly(TDataFile& table, std::mt19937& rng) {
  const uint32_t count = table.GetRecordCount();
  if (count == 0) return false;
  table.GoToPosition(1 + static_cast<uint32_t>(rng() % count));
  return table.CurrentRecord() != nullptr;
}

}  // namespace

void CreateTable(const std::string& path, TShape shape) {
  TNewTable t;
  t.fields = {MakeField(kK, "K", kFieldInt32), MakeField(kA, "A", kFieldInt32),
              MakeField(kB, "B", kFieldInt32)};
  if (shape == TShape::kMemo) t.fields.push_back(MakeField(kM, "M", kFieldBlob));
  if (shape == TShape::kNoKey) {
    t.indexes = {TIndexDescriptor{}, MakeIndex("ByK", kK, true), MakeIndex("ByA", kA, false)};
  } else {
    t.indexes = {MakeIndex("", kK, true)};
  }
  TDataFile table;
  table.SetFileName(path);
  table.SetExclusive(true);
  table.SetupNewTable(std::move(t));
}

bool ParseShape(const std::string& name, TShape& shape) {
  for (TShape s : {TShape::kKeyed, TShape::kNoKey, TShape::kMemo}) {
    if (name == ShapeName(s)) {
      shape = s;
      return true;
    }
  }
  return false;
}

const char* ShapeName(TShape shape) {
  switch (shape) {
    case TShape::kKeyed:
      return "keyed";
    case TShape::kNoKey:
      return "nokey";
    case TShape::kMemo:
      return "memo";
  }
  return "?";
}

void PutInt(TDataFile& table, uint16_t field, int32_t value, uint8_t* record) {
  uint8_t bytes[8] = {};
  cl::PutU32LE(bytes, static_cast<uint32_t>(value));
  table.PutFieldValue(TFieldSet::kTable, field, false, bytes, record);
}

int32_t GetInt(TDataFile& table, uint16_t field, const uint8_t* record) {
  uint8_t bytes[8] = {};
  if (table.GetFieldValue(TFieldSet::kTable, field, bytes, record)) return 0;
  return static_cast<int32_t>(cl::GetU32LE(bytes));
}

uint16_t SetMemo(TDataFile& table, const std::string& text, uint8_t* record) {
  uint16_t code = table.OpenBlob(TFieldSet::kTable, kM, 0, record);
  if (code == 0) code = table.TruncateBlob(TFieldSet::kTable, kM, 0, record);
  if (code == 0) {
    code = table.WriteBlob(TFieldSet::kTable, kM, static_cast<int32_t>(text.size()), text.data(), 0,
                           record);
  }
  return code;
}

void CloseMemo(TDataFile& table, uint8_t* record) {
  if (table.IsBlobOpen(TFieldSet::kTable, kM, record)) {
    table.CloseBlob(TFieldSet::kTable, kM, record);
  }
}

void RunOperations(TDataFile& table, TShape shape, int operations, std::mt19937& rng,
                   TStressCounts& counts, TWriteJournal* journal) {
  std::vector<uint8_t> record(table.GetRecordBufferSize());
  const bool memo = shape == TShape::kMemo;
  auto sequence = [&] { return std::to_string(cl::GetU32LE(record.data() + kRecSequence)); };
  auto values = [&] {
    return std::to_string(GetInt(table, kK, record.data())) + " " +
           std::to_string(GetInt(table, kA, record.data())) + " " +
           std::to_string(GetInt(table, kB, record.data()));
  };
  for (int op = 0; op < operations; ++op) {
    const int kind = static_cast<int>(rng() % 20);
    if (kind < 7) {
      const int32_t k = static_cast<int32_t>(1 + rng() % 50000);
      table.ApplyFieldDefaults(record.data());
      PutInt(table, kK, k, record.data());
      PutInt(table, kA, static_cast<int32_t>(rng() % 1000), record.data());
      PutInt(table, kB, k, record.data());
      const std::string text = memo && rng() % 2 == 0 ? MemoText(rng) : std::string();
      const uint16_t code = Attempt(counts, [&] {
        if (!text.empty()) {
          const uint16_t c = SetMemo(table, text, record.data());
          if (c != 0) RaiseEngineError(c);
        }
        Journaled(
            journal, "I " + values() + " " + MemoSpec(text),
            [&] { table.InsertRecord(record.data()); }, [&] { return "D " + sequence(); });
      });
      if (memo) CloseMemo(table, record.data());
      if (code == 0) ++counts.inserts;
    } else if (kind < 13) {
      uint32_t locked = 0;
      bool written = false;
      const uint16_t code = Attempt(counts, [&] {
        if (!PositionRandomly(table, rng)) return;
        if (table.GetCurrentRecord(record.data(), true) != 0) return;
        locked = table.CurrentRecord()->number;
        PutInt(table, kA, GetInt(table, kA, record.data()) + 1, record.data());
        // The record's own key, so that an edit that lands on another record shows.
        PutInt(table, kB, GetInt(table, kK, record.data()), record.data());
        std::string text;
        if (memo) {
          text = MemoText(rng);
          const uint16_t c = SetMemo(table, text, record.data());
          if (c != 0) RaiseEngineError(c);
        }
        written = true;
        Journaled(
            journal, "E " + sequence() + " " + values() + " " + (memo ? MemoSpec(text) : "="),
            [&] { table.ModifyRecord(record.data(), true); }, [] { return std::string("D"); });
      });
      if (memo) CloseMemo(table, record.data());
      // A failed edit leaves its record lock to be given back here, as the dataset's cancel does.
      if (locked != 0 && table.HoldsRecordLock(locked)) {
        Attempt(counts, [&] { table.UnlockRecord(locked); });
      }
      if (code == 0 && written) ++counts.edits;
    } else if (kind < 16) {
      bool deleted = false;
      Attempt(counts, [&] {
        if (!PositionRandomly(table, rng)) return;
        if (table.GetCurrentRecord(record.data()) != 0) return;
        Journaled(
            journal, "X " + sequence() + " " + std::to_string(GetInt(table, kK, record.data())),
            [&] { table.DeleteRecord(); }, [] { return std::string("D"); });
        deleted = true;
      });
      if (deleted) ++counts.deletes;
    } else {
      Attempt(counts, [&] {
        table.RefreshFromDisk();
        table.MoveToBeginning();
        for (int i = 0; i < 20 && table.GetNextRecord(record.data()) == 0; ++i) {
        }
      });
      ++counts.reads;
    }
  }
}

}  // namespace tessera::stress
