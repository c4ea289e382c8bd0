// A whole-file check of an index file: every tree and every free chain, page by page.
//
// For each index in use: the root has type 0 or 3 and no neighbours; every other page has type 1
// or 2, no page is empty, all leaves lie at the same depth and each level is a doubly linked list
// in the order of the parent entries; every inner entry's key equals its child's first key and
// its count equals the keys below it; keys are in order within and across pages (strictly for slot
// 0 and unique indexes); page fill stays within capacity.  Each free chain is acyclic and holds
// pages written free (count 0).  No page is reached twice, from a tree or a chain, and (unless
// told otherwise) every page below the end offset is reached.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/storage/index/IndexFormat.h"
#include "engine/storage/index/KeyCompare.h"

namespace tessera {

struct TIndexCheckReport {
  bool ok = true;
  std::string problem;  // the first problem found, empty when ok
  std::array<uint32_t, kIndexSlotCount> keys{};
  uint32_t tree_pages = 0;
  uint32_t free_pages = 0;
};

// Reads kIndexPageSize bytes at a page offset as stored (enciphered when the table is).
using TPageImageReader = std::function<void(uint32_t offset, uint8_t* image)>;
// The key order of a slot (language tables); empty: TKeyOrder::WithoutTable.
using TKeyOrderForSlot = std::function<TKeyOrder(int slot, const TIndexDescriptor& descriptor)>;

// REQUIRES: `header` holds kIndexHeaderSize bytes, deciphered.  Read failures and damaged pages
// are reported, never raised.
TIndexCheckReport CheckIndexFile(const uint8_t* header, const TPageImageReader& read,
                                 const TKeyOrderForSlot& order_for_slot, bool enciphered,
                                 bool require_every_page = true);

}  // namespace tessera
