// libFuzzer target: any bytes as a blob file (block size 64), opened from an in-memory file and
// worked on: its values read, rewritten and freed.  Only engine errors may come out.  Fuzzed with
// clang and -DMIRVEL_FUZZ=ON; every build replays its seeds.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/storage/blob/TBlobFile.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineSession.h"

namespace {

class Owner : public tessera::TBlobFileOwner {
 public:
  std::string name = "Fuzz.DAT";
  const std::string& DataFileName() const override { return name; }
  bool Encrypted() const override { return false; }
  bool StrictChangeDetection() const override { return false; }
  bool InExclusivePhase() const override { return false; }
  bool TakeReadLevel() override { return false; }
};

template <class F>
void Attempt(F&& f) {
  try {
    f();
  } catch (const tessera::ETesseraEngineError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = (tessera::InitializeEngine(), true);
  (void)started;
  if (size == 0 || size > 1 << 16) return 0;
  {
    tessera::TFileHandler raw;
    raw.SetInMemory(true);
    raw.SetExclusive(true);
    raw.SetFileName("Fuzz.BLB");
    raw.CreateNew();
    raw.WriteAt(0, data, static_cast<int32_t>(size));
  }
  Owner owner;
  tessera::TBlobFile file(owner, 64);
  file.SetInMemory(true);
  file.SetExclusive(true);
  file.SetFileName("Fuzz");
  Attempt([&] {
    file.Open();
    const std::vector<uint8_t> value(size % 500, 0x5A);
    for (uint32_t record = 1; record <= 4; ++record) {
      const uint32_t first = 512 + 64 * (record - 1);
      Attempt([&] {
        int32_t h = 0;
        if (file.OpenBlob(record, 1, first, h) != 0) return;
        if (record % 2 == 0) {
          file.TruncateBlob(h, 0);
          file.WriteBlob(h, 0, static_cast<int32_t>(value.size()), value.data());
        }
        file.SaveOpenBlobs();
        uint32_t out = 0;
        file.CloseBlob(h, out);
      });
      file.FreeOpenBlobs();
    }
    file.UnpinAll();
    file.FlushDirtyBlocks();
    file.WriteHeader(false);
  });
  return 0;
}
