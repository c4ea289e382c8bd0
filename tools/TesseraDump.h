// Readable accounts of a table's index (.IDX) and blob (.BLB) files, for debugging and tests.
//
// The image is read as it lies on disk and trusted in nothing: every offset is checked against
// the file's grid and end, every chain is followed with a set of what was seen, and damage is
// written into the account instead of stopping it.  The formats are those of
// engine/storage/index/IndexFormat.h and engine/storage/blob/TBlobFile.h.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

namespace tessera {

struct TDumpOptions {
  uint32_t block_size = 512;  // of the blob file: the data file's, 0 meaning 512
  bool encrypted = false;     // the table is encrypted: pieces are deciphered first
  bool entries = false;       // also every page entry or block header
  // The file's length when the image holds only its start, up to the end offset (0: the image
  // is the whole file).
  uint64_t file_size = 0;
};

// Header, the index slots in use, each tree level by level with its neighbour links, and each
// index's free-page chain.  False when anything was found damaged.
bool DumpIndexFile(const std::vector<uint8_t>& image, const TDumpOptions& options,
                   std::ostream& out);

// Header, the free chain, every value's chain (found from the blocks that start one), and the
// blocks that no chain reaches.  False when anything was found damaged.
bool DumpBlobFile(const std::vector<uint8_t>& image, const TDumpOptions& options,
                  std::ostream& out);

}  // namespace tessera
