// What the counted B-tree code (TPageCache, TIndexTree, TIndexCursor) asks of the index file that
// owns it, and through the index file of the table's data file.
//
// The index file keeps the 4096-byte header image (engine/storage/index/IndexFormat.h) and the current
// index; the tree code reads and updates roots, free-chain heads, the end offset and the record
// count in that image and marks it changed, but never writes it: the header reaches the disk only
// through the index file's header write.  Pages are read and written through the host so that the
// host decides about short reads and the data file's locks.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "engine/storage/core/TWriteBehindFile.h"
#include "engine/storage/index/IndexFormat.h"
#include "engine/storage/index/TPage.h"
#include "engine/storage/values/FieldTypes.h"

namespace tessera {

// Type (FieldTypes.h; strings compare by the table's collation) and stored size of one key field,
// from the data file's field definitions.
struct TKeyField {
  uint8_t type = 0;
  uint16_t size = 0;
};

class TIndexTreeHost {
 public:
  virtual ~TIndexTreeHost() = default;
  // What pages of this file take their parameters, cipher and error file name from.
  virtual TPageOwner& PageOwner() = 0;
  const std::string& ErrorFileName() { return PageOwner().ErrorFileName(); }

  // The 4096-byte header image; the tree code changes it only through the accessors below.
  virtual uint8_t* HeaderImage() = 0;
  virtual void MarkHeaderChanged() = 0;

  // The current index slot (kRecordOrderSlot for record-number order) and its descriptor.
  virtual uint8_t CurrentSlot() const = 0;
  virtual bool InRecordOrder() const = 0;

  // The table's language and sort ids (language 0: keys compare as bytes).
  virtual uint16_t LanguageId() const = 0;
  virtual uint16_t SortId() const = 0;
  // Type and stored size of a field of the table; false when the number is unknown.
  virtual bool KeyFieldInfo(uint16_t field_number, TKeyField& field) const = 0;
  // Next record number - 1: every record slot of the data file, deleted ones included.
  virtual uint32_t PhysicalRecordCount() const = 0;

  // Reads kIndexPageSize bytes at `offset` into `image`.  A short read is accepted (the rest
  // zero) only while appended pages may not have reached the disk yet (exclusive file or
  // exclusive phase); otherwise it raises 9217.
  virtual void ReadPageImage(uint32_t offset, uint8_t* image) = 0;
  // Writes `count` bytes of consecutive page images at `offset`, of which only the bytes in
  // `changed` (sorted file ranges) may differ from what the file holds there.
  virtual void WritePageImages(uint32_t offset, const uint8_t* images, size_t count,
                               std::span<const TWriteBehindFile::Range> changed) = 0;

  // The data file holds its exclusive phase: nothing may reach the disk before commit.
  virtual bool InExclusivePhase() const = 0;
  // Called before a page is read from disk.  When no lock is held the data file takes its read
  // lock, which re-reads the change counters; true when another process changed the table (the
  // host has then invalidated the page cache and the operation starts again from the root).
  virtual bool TakeReadLockChanged() = 0;
};

// Header accessors on a host's image.
uint32_t IndexRoot(TIndexTreeHost& host, int slot);
void SetIndexRoot(TIndexTreeHost& host, int slot, uint32_t offset);
uint32_t IndexFreeHead(TIndexTreeHost& host, int slot);
void SetIndexFreeHead(TIndexTreeHost& host, int slot, uint32_t offset);
uint32_t IndexEndOffset(TIndexTreeHost& host);
void SetIndexEndOffset(TIndexTreeHost& host, uint32_t offset);
uint32_t IndexRecordCount(TIndexTreeHost& host);

}  // namespace tessera
