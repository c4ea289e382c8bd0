// libFuzzer target: any bytes as an index page of any index shape.  A page that unpacks must pack
// and unpack again to the same entries.  Fuzzed with clang and
// -DMIRVEL_FUZZ=ON; every build replays its seeds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/index/TPage.h"

namespace {

class Owner : public tessera::TPageOwner {
 public:
  tessera::TIndexParams params;
  std::string name = "Fuzz.DAT";
  tessera::TIndexParams CurrentIndexParams() const override { return params; }
  bool PagesEnciphered() const override { return false; }
  const std::string& ErrorFileName() const override { return name; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  Owner owner;
  owner.params.key_length = static_cast<uint16_t>((data[0] | data[1] << 8) % 1100);
  owner.params.slot = data[2] % 32;
  owner.params.unique = (data[3] & 1) != 0;
  owner.params.compression = (data[3] >> 1) % 5;  // 4: a damaged descriptor
  uint8_t image[tessera::kIndexPageSize] = {};
  std::memcpy(image, data + 4, std::min(size - 4, sizeof image));
  tessera::TPage page(owner);
  try {
    page.Unpack(image, false);
  } catch (const tessera::ETesseraEngineError&) {
    return 0;
  }
  uint8_t packed[tessera::kIndexPageSize];
  page.Pack(packed);
  tessera::TPage again(owner);
  again.Unpack(packed, false);
  if (again.Count() != page.Count()) std::abort();
  for (uint16_t slot = 1; slot <= page.Count(); ++slot) {
    if (std::memcmp(again.KeyAt(slot), page.KeyAt(slot), page.KeyLength()) != 0 ||
        again.ValueAt(slot) != page.ValueAt(slot)) {
      std::abort();
    }
  }
  return 0;
}
