#include "tools/IndexImageCheck.h"

#include <algorithm>
#include <cstring>

#include "engine/storage/core/TableCipher.h"
#include "engine/storage/index/IndexCheck.h"
#include "engine/storage/index/IndexFormat.h"

namespace tessera {

bool CheckIndexImage(const std::vector<uint8_t>& image, bool encrypted, std::ostream& out) {
  if (image.size() < kIndexHeaderSize) {
    out << "check: the file is shorter than its header\n";
    return false;
  }
  std::vector<uint8_t> header(image.begin(), image.begin() + kIndexHeaderSize);
  if (encrypted) DecipherBuffer(header.data(), header.size(), kDataKeyA, kDataKeyB);
  // Pages past the end of the image read as zeros, as a short read would give them.
  const auto read = [&image](uint32_t offset, uint8_t* page) {
    std::memset(page, 0, kIndexPageSize);
    if (offset < image.size()) {
      std::memcpy(page, image.data() + offset,
                  std::min<size_t>(kIndexPageSize, image.size() - offset));
    }
  };
  const TIndexCheckReport report = CheckIndexFile(header.data(), read, nullptr, encrypted);
  if (!report.ok) {
    out << "check: " << report.problem << "\n";
    return false;
  }
  out << "check: sound; " << report.tree_pages << " tree pages, " << report.free_pages
      << " free pages";
  for (int slot = 0; slot < kIndexSlotCount; ++slot) {
    if (report.keys[slot] != 0) out << "; slot " << slot << ": " << report.keys[slot] << " keys";
  }
  out << "\n";
  return true;
}

}  // namespace tessera
