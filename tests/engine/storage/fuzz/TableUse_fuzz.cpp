// libFuzzer target: a real table met damaged while in use.  A table of 60 records (5 of them
// deleted) with a primary and three secondary indexes (case-insensitive, descending, unique on two
// fields) and memos of one to four blocks is made once; each input patches its three files, then
// the table is opened (exclusive or shared) and used as a program would: every index walked both
// ways with the memos read, searches, a range, a filter, an insert, an edit with a new memo, a
// delete, and the close.  Only engine errors may come out.
//
// Input: a flags byte (bit 0: shared; the rest pick the values the operations use), then patches
// until the input ends: u8 file (0 .DAT, 1 .IDX, 2 .BLB, modulo 3), u24 LE offset (modulo the
// file's length), u8 length, then that many bytes written at the offset.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCreation.h"
#include "tests/engine/storage/StorageTestSupport.h"

namespace {

using namespace tessera;
using tessera::testing::Field;
using tessera::testing::Index;
using tessera::testing::ParseFilter;
using Bytes = std::vector<uint8_t>;
constexpr TFieldSet kSet = TFieldSet::kTable;
enum : uint16_t { kK = 1, kS = 2, kA = 3, kM = 4 };
const char* const kExtensions[] = {".DAT", ".IDX", ".BLB"};

template <class F>
void Attempt(F&& f) {
  try {
    f();
  } catch (const ETesseraEngineError&) {
  }
}

void PutInt(TDataFile& t, uint16_t field, int32_t v, uint8_t* r) {
  uint8_t b[4];
  cl::PutU32LE(b, static_cast<uint32_t>(v));
  t.PutFieldValue(kSet, field, false, b, r);
}

void PutText(TDataFile& t, uint16_t field, const std::string& text, uint8_t* r) {
  std::vector<uint8_t> b(t.GetFieldDefinition(kSet, field).stored_size, 0);
  std::copy_n(text.begin(), std::min(text.size(), b.size() - 1), b.begin());
  t.PutFieldValue(kSet, field, false, b.data(), r);
}

void SetMemo(TDataFile& t, size_t length, uint8_t* r) {
  const std::string text(length, 'm');
  if (t.OpenBlob(kSet, kM, 0, r) != 0) return;
  t.TruncateBlob(kSet, kM, 0, r);
  t.WriteBlob(kSet, kM, static_cast<int32_t>(length), text.data(), 0, r);
}

void ReadMemo(TDataFile& t, uint8_t* r) {
  if (t.OpenBlob(kSet, kM, 0, r) != 0) return;
  int32_t size = 0;
  if (t.GetBlobSize(kSet, kM, size, r) == 0 && size > 0) {
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min(size, 1 << 16)));
    int32_t count = 0;
    t.ReadBlob(kSet, kM, count, static_cast<int32_t>(bytes.size()), bytes.data(), 0, r);
  }
  t.CloseBlob(kSet, kM, r);
}

TDataFile& Handle(TDataFile& t, bool exclusive) {
  t.SetInMemory(true);
  t.SetExclusive(exclusive);
  t.SetFileName("Use");
  return t;
}

Bytes ReadFile(const std::string& name) {
  TFileHandler f;
  f.SetInMemory(true);
  f.SetFileName(name);
  f.Open();
  Bytes bytes(static_cast<size_t>(f.Size()));
  if (!bytes.empty()) f.ReadAt(0, bytes.data(), static_cast<int32_t>(bytes.size()));
  f.Close();
  return bytes;
}

void WriteFile(const std::string& name, const Bytes& bytes) {
  TFileHandler f;
  f.SetInMemory(true);
  f.SetExclusive(true);
  f.SetFileName(name);
  f.CreateNew();
  if (!bytes.empty()) f.WriteAt(0, bytes.data(), static_cast<int32_t>(bytes.size()));
  f.Close();
}

// The sound table's three files.
std::vector<Bytes> MakeTable() {
  TNewTable table;
  table.fields = {Field(kK, "K", kFieldInt32), Field(kS, "S", kFieldString, 20),
                  Field(kA, "A", kFieldInt32), Field(kM, "M", kFieldBlob)};
  TIndexDescriptor by_s = Index("ByS", {kS}, false);
  by_s.case_insensitive = 1;
  TIndexDescriptor by_a = Index("ByA", {kA}, false);
  by_a.descending = 1;
  table.indexes = {Index("", {kK}, true), by_s, by_a, Index("BySA", {kS, kA}, true)};
  {
    TDataFile t;
    Handle(t, true).SetupNewTable(table);
  }
  TDataFile t;
  Handle(t, true).Open();
  Bytes r(t.GetRecordBufferSize());
  for (int32_t k = 1; k <= 60; ++k) {
    t.ApplyFieldDefaults(r.data());
    PutInt(t, kK, k, r.data());
    PutText(t, kS, (k % 2 ? "name" : "NAME") + std::to_string(k % 7), r.data());
    PutInt(t, kA, 3 * k, r.data());
    if (k % 4 != 0) SetMemo(t, static_cast<size_t>(k * 29 % 1900 + 1), r.data());
    t.InsertRecord(r.data());
    if (t.IsBlobOpen(kSet, kM, r.data())) t.CloseBlob(kSet, kM, r.data());
  }
  for (int32_t k : {7, 20, 33, 41, 58}) {
    PutInt(t, kK, k, r.data());
    if (t.FindRecordByKey(r.data(), nullptr)) t.DeleteRecord();
  }
  t.Close();
  std::vector<Bytes> files;
  for (const char* ext : kExtensions) files.push_back(ReadFile(std::string("Use") + ext));
  return files;
}

// Walks the current order both ways, reading each record's memo; at most a few hundred steps.
void Walk(TDataFile& t, uint8_t* r) {
  Attempt([&] {
    t.MoveToBeginning();
    for (int i = 0; i < 300 && t.GetNextRecord(r) == 0; ++i) ReadMemo(t, r);
  });
  Attempt([&] {
    t.MoveToEnd();
    for (int i = 0; i < 300 && t.GetPriorRecord(r) == 0; ++i) ReadMemo(t, r);
  });
}

void Use(TDataFile& t, uint8_t pick) {
  Bytes r(t.GetRecordBufferSize() + 1u, 0);
  Bytes other(r.size(), 0);
  for (uint8_t slot : {uint8_t{0}, uint8_t{1}, uint8_t{2}, uint8_t{3}, uint8_t{255}}) {
    Attempt([&] {
      t.SetCurrentIndexByNumber(slot);
      Walk(t, r.data());
    });
  }
  Attempt([&] {
    t.SetCurrentIndexByNumber(0);
    t.ApplyFieldDefaults(r.data());
    PutInt(t, kK, pick % 64, r.data());
    t.SeekRecordKey(false, r.data(), other.data(), 0, true, 1);
    t.FindRecordByKey(r.data(), other.data());
    t.GetRecordCount();
    t.GoToPosition(1 + pick % 50);
  });
  Attempt([&] {
    t.SetCurrentIndexByName("ByA");
    PutInt(t, kA, 150 - pick % 64, r.data());
    PutInt(t, kA, 30, other.data());
    t.SetRange(false, r.data(), 1, other.data(), 1);  // descending: the larger value first
    t.GetRecordCount();
    Walk(t, r.data());
    t.ResetRange();
  });
  Attempt([&] {
    t.SetCurrentIndexByName("ByS");
    TFilter* filter = nullptr;
    const std::string text = "(A > " + std::to_string(pick) + ") AND (S <> 'name3')";
    if (t.AddFilter({}, ParseFilter(t, text).release(), true, false, nullptr, nullptr, &filter) !=
        0) {
      return;
    }
    t.ActivateFilter(filter);
    Walk(t, r.data());
    t.DropFilter(filter);
  });
  Attempt([&] {
    t.SetCurrentIndexByNumber(0);
    t.ApplyFieldDefaults(r.data());
    PutInt(t, kK, 100 + pick, r.data());
    PutText(t, kS, "new", r.data());
    PutInt(t, kA, pick, r.data());
    SetMemo(t, 600u + pick * 7u, r.data());
    t.InsertRecord(r.data());
  });
  Attempt([&] { t.CloseBlob(kSet, kM, r.data()); });
  Attempt([&] {
    t.GoToPosition(1 + pick % 40);
    if (t.GetCurrentRecord(r.data(), true) != 0) return;
    PutInt(t, kA, 7 * pick, r.data());
    SetMemo(t, 1000u + pick, r.data());
    t.ModifyRecord(r.data(), true);
  });
  Attempt([&] { t.CloseBlob(kSet, kM, r.data()); });
  Attempt([&] {
    t.GoToPosition(1 + pick % 30);
    t.DeleteRecord();
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<Bytes> sound = (InitializeEngine(), MakeTable());
  if (size < 1 || size > 1 << 16) return 0;
  std::vector<Bytes> files = sound;
  for (size_t at = 1; at + 5 <= size;) {
    Bytes& file = files[data[at] % 3];
    const size_t offset = (data[at + 1] | data[at + 2] << 8 | data[at + 3] << 16) % file.size();
    const size_t length = std::min<size_t>(data[at + 4], size - at - 5);
    at += 5;
    for (size_t i = 0; i < length && offset + i < file.size(); ++i) file[offset + i] = data[at + i];
    at += length;
  }
  for (size_t i = 0; i < 3; ++i) WriteFile(std::string("Use") + kExtensions[i], files[i]);
  {
    TDataFile t;
    Handle(t, (data[0] & 1) == 0);
    Attempt([&] {
      t.Open();
      Use(t, static_cast<uint8_t>(data[0] >> 1));
      t.Close();
    });
  }
  TDataFile files_left;
  Handle(files_left, true);
  Attempt([&] { files_left.DeleteTableFiles(); });
  return 0;
}
