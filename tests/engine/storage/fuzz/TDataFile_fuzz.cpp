// libFuzzer target: any bytes as the three files of a table, opened the way a table is opened
// and read: field definitions, each field of the first record slot, blob values and the index
// cursor.  Only engine errors may come out.  Input: u32 .DAT length, u32 .IDX length, then the
// .DAT, the .IDX and (the rest) the .BLB; the first length's top bit asks for a shared open.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TDataFile.h"

namespace {

using namespace tessera;

constexpr TFieldSet kTableSet = TFieldSet::kTable;

void Store(const std::string& name, const uint8_t* data, size_t size) {
  TFileHandler file;
  file.SetInMemory(true);
  file.SetExclusive(true);
  file.SetFileName(name);
  file.CreateNew();
  if (size > 0) file.WriteAt(0, data, static_cast<int32_t>(size));
  file.Close();
}

template <class F>
void Attempt(F&& f) {
  try {
    f();
  } catch (const ETesseraEngineError&) {
  }
}

void Exercise(TDataFile& t) {
  const uint16_t size = t.GetRecordBufferSize();
  std::vector<uint8_t> record(size + 1u, 0);
  // The first record slot as stored, when there is one.
  const int32_t start = static_cast<int32_t>(t.Header().DataStart());
  if (t.Size() >= start + t.GetRecordSize()) t.ReadAt(start, record.data(), t.GetRecordSize());
  for (uint16_t n = 1; n <= t.GetFieldCount(); ++n) {
    const TFieldDefinition& d = t.GetFieldDefinition(kTableSet, n);
    std::vector<uint8_t> value(d.stored_size + 1u, 0);
    Attempt([&] { t.GetFieldValue(kTableSet, n, value.data(), record.data()); });
    if (!d.IsBlob()) continue;
    Attempt([&] {
      if (t.OpenBlob(kTableSet, n, 0, record.data()) != 0) return;
      int32_t length = 0;
      if (t.GetBlobSize(kTableSet, n, length, record.data()) == 0 && length > 0) {
        std::vector<uint8_t> bytes(static_cast<size_t>(length < 1 << 16 ? length : 1 << 16));
        int32_t count = 0;
        t.ReadBlob(kTableSet, n, count, static_cast<int32_t>(bytes.size()), bytes.data(), 0,
                   record.data());
      }
      t.CloseBlob(kTableSet, n, record.data());
    });
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = (InitializeEngine(), true);
  (void)started;
  if (size < 8 || size > 1 << 20) return 0;
  const uint32_t first = cl::GetU32LE(data);
  const bool shared = (first & 0x80000000u) != 0;
  const size_t dat = std::min<size_t>(first & 0x7FFFFFFFu, size - 8);
  const size_t idx = std::min<size_t>(cl::GetU32LE(data + 4), size - 8 - dat);
  const uint8_t* p = data + 8;
  Store("Fuzz.DAT", p, dat);
  Store("Fuzz.IDX", p + dat, idx);
  Store("Fuzz.BLB", p + dat + idx, size - 8 - dat - idx);
  {
    TDataFile t;
    t.SetInMemory(true);
    t.SetExclusive(!shared);
    t.SetFileName("Fuzz");
    Attempt([&] {
      t.Open();
      Exercise(t);
      t.Close();
    });
  }
  TDataFile files;
  files.SetInMemory(true);
  files.SetFileName("Fuzz");
  Attempt([&] { files.DeleteTableFiles(); });
  return 0;
}
