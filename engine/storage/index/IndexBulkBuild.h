// A whole index tree built at once from entries already in the index's order, for a table that
// receives all its rows in one go (a query result).
//
// The leaves are filled left to right as full as their capacity (or, compressed, their 4083 bytes)
// allows, each level above from the first keys and key counts of the one below, until one page
// remains: the root.  Pages are appended at the end offset in the disk format the incremental
// inserts use, so the tree passes the index check and later inserts and deletes work on it as on
// any other.  A full leaf splits on the next insert into it; that is the price of reading fewer
// pages.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessera {

class TIndexTreeHost;
class TPageCache;

// Builds the tree of the host's current index, through its page cache, from `count` entries: key i (the index's key
// length) at keys + i * key length, its record number numbers[i].  Sets the root and the end
// offset in the header image.  A file that would pass its size limit raises 9479; the caller's
// store stage puts the header and pages back.
// REQUIRES: the current index is a tree whose root and free chain are empty; the entries are in
// the index's order (strictly for slot 0 and unique indexes).
// The tree's version is the caller's to bump.
void BuildIndexTree(TIndexTreeHost& host, TPageCache& cache, const uint8_t* keys,
                    const uint32_t* numbers, size_t count);

}  // namespace tessera
