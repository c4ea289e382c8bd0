// The record cache of a table: whole record buffers (TRecord) between the data file and the
// cursor, most recently used first, with pins, read-ahead of consecutive records and write-back of
// dirty records in runs of consecutive numbers.
//
// The cache holds up to its capacity of entries (131070 bytes of buffers, at most 65535 entries).
// An entry that must come in takes a new TRecord while the cache is below capacity, else the least
// recently used entry that is neither dirty, pinned nor part of the read under way; failing that
// (and outside an exclusive phase) the dirty unpinned entries are written back and the search is
// repeated.  In an exclusive phase nothing may reach the disk before commit, so the capacity grows
// by 1024 instead; outside it a cache of pinned and dirty entries is error 8962, as is a 65th pin.
//
// Entries have the engine's one cache shape (engine/storage/core/TCacheEntry.h): the offset of a
// record's bytes in the .DAT, dirty, pins; dirty records go back through its WriteBackRuns.
// Lookups go through a flat map (TFlatIndex) from record number to entry, so a hit costs the same
// whatever the cache's size; links in the entries keep the recency order.  Entries and their
// buffers come in chunks that stay put until Drop (the table holds pointers to pinned entries), so
// that a miss allocates nothing once the cache has filled.
//
// Beside the record buffers the cache keeps groups (TGroupCache.h): the images of about 4 KB of
// consecutive whole records, as one read brought them.  A single record that misses the buffers
// is read with its whole group when the host vouches for the group (GroupReadLimit: a reader
// level held, or a file nobody writes) and the table is small enough for the groups to hold a
// fair share of it; with up to 15 neighbouring groups not yet held when all of the file's groups
// fit.  Groups hold the file's images: a write-back patches the records it writes into them (and
// drops their groups when it fails), and every Invalidate, Drop and Configure empties them, so
// they follow the record buffers' invalidation rules, and a later miss among them is served as a
// cached record is, without a level (TakeFromGroup).
//
// A cached record is the host's own bytes: the host deciphers records as it reads them and
// enciphers a copy as it writes them, so a buffer in the cache is always plain.
//
// Not thread-safe: used by its table's thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/storage/core/TCacheEntry.h"
#include "engine/storage/core/TFlatIndex.h"
#include "engine/storage/core/TGroupCache.h"

namespace tessera {

// One cached record.  The buffer holds the record size plus the computed-field area.
struct TRecord : public TCacheEntry {
  uint32_t number = 0;        // 0: a free entry
  bool computed = false;      // computed fields of this buffer are current
  bool in_read = false;       // part of the multi-record read under way
  std::span<uint8_t> buffer;  // the cache's memory
  // The cache's recency order.
  TRecord* newer = nullptr;
  TRecord* older = nullptr;

  bool Deleted() const { return buffer[0] != 0; }
  // The deleted chain's link; 0 for a live record.
  uint32_t Link() const;
  uint32_t Sequence() const;
  void SetDeleted(bool deleted);
  void SetLink(uint32_t link);
  void SetSequence(uint32_t sequence);
  // Sets the number, and writes it into +1 of a live record.
  void SetNumber(uint32_t number);
};

// What the cache asks of the table that owns it.
class TRecordCacheHost {
 public:
  virtual ~TRecordCacheHost() = default;
  // Reads up to `count` records from `first` on into `records` (record size each, deciphered);
  // answers how many whole records came (fewer only where a short read is acceptable; otherwise
  // the host raises 9217).
  virtual uint32_t ReadRecordImages(uint32_t first, uint32_t count, uint8_t* records,
                                    bool short_ok = false) = 0;
  // Writes `count` consecutive records from `first` on; `records` is the cache's copy, which the
  // host may encipher in place.
  virtual void WriteRecordImages(uint32_t first, uint8_t* records, uint32_t count) = 0;
  // The last record a read of a whole group may reach now; 0 when neighbours of a wanted record
  // are not to be read with it.  Such a read (ReadRecordImages with `short_ok`) may come up
  // short without an error.
  virtual uint32_t GroupReadLimit() const = 0;
  // The exclusive transaction phase: dirty records may not be written before commit.
  virtual bool InExclusivePhase() const = 0;
  [[noreturn]] virtual void RaiseRecordError(uint16_t code) const = 0;
};

class TRecordCache {
 public:
  static constexpr size_t kGrowth = 1024;

  explicit TRecordCache(TRecordCacheHost& host) : host_(host) {}
  TRecordCache(const TRecordCache&) = delete;
  TRecordCache& operator=(const TRecordCache&) = delete;

  // Layout of the open table; drops every entry.
  void Configure(size_t data_start, size_t record_size, size_t buffer_size, size_t capacity);
  size_t Capacity() const { return capacity_; }
  size_t Size() const { return size_; }

  // The entry of record `number`, moved to the front; nullptr on a miss.
  TRecord* Find(uint32_t number);
  // The entry of record `number` without touching the order; nullptr on a miss.
  const TRecord* Peek(uint32_t number) const {
    TRecord* const* hit = by_number_.Find(number);
    return hit == nullptr ? nullptr : *hit;
  }
  // A free entry at the front, unpinned, with a zeroed buffer (see the class comment), given
  // `number` (0: none).
  TRecord* TakeFree(uint32_t number = 0);
  // Records one read brings in at most: half the capacity, which leaves room for the pinned and
  // dirty entries (a read larger than the cache could not place its records: 8962).
  uint32_t ReadLimit() const { return static_cast<uint32_t>(std::max<size_t>(capacity_ / 2, 1)); }
  // Reads `count` records (at most ReadLimit) ending (backward) or starting (forward) at `number`
  // in one read and merges them with the cached entries: a cached entry keeps its bytes when
  // pinned or dirty.  Returns the entry of `number`; nullptr when the read came up short of it.
  TRecord* ReadRecords(uint32_t number, uint32_t count, bool forward);
  // The entry of record `number` made from the group that holds it, at the front; nullptr when
  // no group holds it.  Reads nothing: a group is as current as the record buffers, since every
  // change check that finds the file moved empties both.
  // REQUIRES: `number` is not cached.
  TRecord* TakeFromGroup(uint32_t number);
  // The image of record `number` a group holds, or nullptr; valid until the groups next change.
  const uint8_t* GroupImage(uint32_t number) { return groups_.Image(number); }
  // Starts bringing in the group image of record `number` (see TGroupCache::Prefetch).
  void PrefetchImage(uint32_t number) const { groups_.Prefetch(number); }
  // Writes every dirty entry that is neither pinned nor in a read, in runs of consecutive
  // numbers; true when something was written.
  bool FlushDirty();

  // 8962 past TCacheEntry::kMaxPins.
  void Pin(TRecord* record);
  static void Unpin(TRecord* record) {
    if (record != nullptr) record->Unpin();
  }
  void UnpinAll();

  // Another process changed the file: every entry is cleared (pins 0, number 0) but kept.
  void Invalidate();
  // Frees every entry.
  void Drop();
  // Every entry's computed fields are to be evaluated again (the computed fields changed).
  void ForgetComputed();
  // Frees entries past the capacity, least recently used first (clean, unpinned ones only).
  void Shrink();

  // Groups held (tests).
  size_t GroupCount() const { return groups_.Size(); }

  uint64_t RecordReads() const { return reads_; }
  uint64_t RecordWrites() const { return writes_; }
  void ClearStatistics() { reads_ = writes_ = 0; }

 private:
  // A chunk's entries and their buffers, allocated together.
  struct Chunk {
    std::unique_ptr<TRecord[]> records;
    std::unique_ptr<uint8_t[]> bytes;
  };
  // Chunks hold about this many bytes of buffers (at least one entry, at most 256).
  static constexpr size_t kChunkBytes = 32768;

  TRecord* FindEvictable();
  TRecord* Recycle(TRecord* r);
  // A zeroed entry out of the chunks, in no list.
  TRecord* NewEntry();
  void Unlink(TRecord* r);
  void PushNewest(TRecord* r);
  // Resets `r` to a free entry (number 0, clean, unpinned, zeroed).
  void Clear(TRecord* r);
  // The images of `count` records from `first` on, as ReadRecordImages; a single record through
  // the groups where they serve.
  uint32_t ReadImages(uint32_t first, uint32_t count, uint8_t* images);

  uint32_t OffsetOf(uint32_t number) const {
    return static_cast<uint32_t>(data_start_ + (number - 1) * record_size_);
  }

  TRecordCacheHost& host_;
  size_t data_start_ = 0;
  size_t record_size_ = 0;
  size_t buffer_size_ = 0;
  size_t capacity_ = 0;
  size_t base_capacity_ = 0;
  TCacheLedger ledger_;  // before the entries, which leave it as they go
  std::vector<Chunk> chunks_;
  size_t chunk_entries_ = 1;
  size_t made_ = 0;  // entries taken out of the chunks
  size_t size_ = 0;  // entries in the recency list
  TRecord* newest_ = nullptr;
  TRecord* oldest_ = nullptr;
  std::vector<TRecord*> spare_;  // free entries Shrink took out of the list
  TFlatIndex<TRecord*> by_number_;
  TGroupCache groups_;
  uint64_t reads_ = 0;   // physical reads
  uint64_t writes_ = 0;  // physical writes
  // ReadRecords' buffers (at most one read's records), kept so that a read allocates nothing.
  std::vector<TRecord*> read_entries_;
  std::vector<uint8_t> read_images_;
};

}  // namespace tessera
