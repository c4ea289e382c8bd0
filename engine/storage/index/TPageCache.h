// The page cache of an index file: one list of TPage per index slot, most recently used first.
//
// A list holds up to 512 pages (up to about 10 MB with their images and expanded entries): every
// page of a 100,000-key index on a short key, and the inner pages and a good share of the leaves
// of larger ones, whose finds and inserts would otherwise read, unpack and (when dirty) pack a
// page on most calls.  A page that must come in takes an unused TPage while the list is below its
// capacity, else the least recently used clean, unpinned page; failing that the least recently
// used dirty, unpinned page is written back and taken.
// A lookup (a find or a move to a position, not a change nor a walk along the leaves) that misses
// in a full list grows it by its page instead, while the whole cache holds less than kMaxBytes
// (measured every kMeasureEvery new pages; pages of long or compressed keys weigh more): the
// leaves of a large index then stay unpacked, where recycling them would read and unpack a page on
// most finds.  A scan's leaves, which come once, and a change's pages recycle as before, so only
// lookups pay the memory.
// While the data file holds its exclusive phase nothing may reach the disk before commit, so the
// list grows by 64 pages instead.  A list whose every page is pinned by the operation under way
// takes one page more for a while (a deep tree may pin more than the capacity), rather than
// failing a sound operation.  Flush writes every dirty page, pinned or not, sorted by offset in
// runs of consecutive pages, and trims the lists back to their capacity.
//
// The store stage of an exclusive handle's write runs under the store journal (TPageJournal):
// every page it changes is saved first, and stays in memory (neither written nor recycled) until
// EndStore; RollBackStore puts the saved pages back and drops the pages it appended, which leaves
// the cache as it was when BeginStore ran, dirty pages of earlier writes included.  So those
// writes need not reach the file at the start of each write.
//
// Pins keep a page in memory while an operation uses it; a page is never recycled while pinned.
// Invalidate (another process changed the file) resets every page and forgets its offset but
// keeps the TPage objects, so a pointer held by an operation that is being abandoned stays valid.
//
// Before a page is read from disk the host may take the data file's read lock; when that shows
// another process changed the table the host has invalidated the cache and Fetch throws
// TTreeRestart, which the tree operation catches to start again from the root.
//
// Not thread-safe: used by its index file's thread.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <vector>

#include "engine/storage/core/TFlatIndex.h"
#include "engine/storage/core/TWriteBehindFile.h"
#include "engine/storage/index/IndexFormat.h"
#include "engine/storage/index/TPage.h"

namespace tessera {

class TIndexTreeHost;

// Thrown by TPageCache::Fetch when the table changed under a lock-free read; never escapes the
// tree operations.
struct TTreeRestart {};

class TPageCache {
 public:
  static constexpr size_t kListCapacity = 512;
  static constexpr size_t kGrowth = 64;
  static constexpr size_t kMaxBytes = size_t{40} << 20;
  static constexpr size_t kMeasureEvery = 64;

  explicit TPageCache(TIndexTreeHost& host);
  TPageCache(const TPageCache&) = delete;
  TPageCache& operator=(const TPageCache&) = delete;

  // The page at `offset` of index `slot`, pinned (the caller unpins).  A miss reads it from disk
  // (8965 for damage), into a new page when a `lookup` may grow the list (above).  Throws
  // TTreeRestart as described above.
  TPage* Fetch(int slot, uint32_t offset, bool lookup = false);
  // A page for an offset just appended to the file: nothing is read; pinned, empty and dirty.
  TPage* Adopt(int slot, uint32_t offset);
  // Drops the page of a failed append (it was never part of the tree).
  void Discard(int slot, uint32_t offset);

  // Writes every dirty page of every list and trims the lists to their capacity.
  void Flush();
  // Resets every page (dirty ones are dropped) and forgets all offsets.
  void Invalidate();
  void UnpinAll();

  // The store journal (above).  RollBackStore cannot fail: the saved pages are still in the cache.
  void BeginStore() { journal_.Open(); }
  void EndStore() { journal_.Close(); }
  void RollBackStore() noexcept;

  // Tests force a small cache (at least 1 page per list), which lookups grow up to `max_pages`
  // pages in all (not at all by default) and `max_bytes`.
  void SetListCapacity(size_t capacity, size_t max_pages = 0, size_t max_bytes = kMaxBytes);

  uint64_t PageReads() const { return reads_; }
  uint64_t PageWrites() const { return writes_; }
  uint64_t CacheHits() const { return hits_; }
  // Pages that failed stores put back (RollBackStore).
  uint64_t RolledBackPages() const { return rolled_back_; }
  void ClearStatistics() { reads_ = writes_ = hits_ = rolled_back_ = 0; }
  // Pages held by the list of `slot`, and by all lists (tests).
  size_t ListSize(int slot) const { return lists_[slot].pages.size(); }
  size_t PageCount() const { return page_count_; }
  // Dirty pages of all lists.
  size_t DirtyCount() const;

 private:
  struct List {
    std::list<std::unique_ptr<TPage>> pages;  // most recently used first
    TFlatIndex<std::list<std::unique_ptr<TPage>>::iterator> by_offset;
    size_t capacity = kListCapacity;
    // What lookups grew the capacity to; a flush trims no further.
    size_t grown = 0;
  };

  static int ListIndex(int slot);
  // Whether `page` may be written back or recycled now (unpinned and not held by the journal).
  bool Movable(const TPage& page) const { return page.PinCount() == 0 && !journal_.Holds(page); }
  TPage* NewPage(List& list);
  // An unpinned page to load a new offset into, moved to the front and pinned; a new one when
  // `grow` and the cache is below its bounds (MayGrow).
  TPage* TakeSlot(List& list, bool grow = false);
  bool MayGrow();
  // Writes `pages` back in runs of consecutive offsets (TCacheEntry.h).
  void WriteRuns(std::vector<TPage*> pages);
  void Trim(List& list);

  TIndexTreeHost& host_;
  TCacheLedger ledger_;  // before the pages, which leave it as they go
  TPageJournal journal_;
  std::vector<List> lists_;
  // The pages of the run being written and the bytes they changed (WriteRuns).
  std::vector<TPage*> run_;
  std::vector<TWriteBehindFile::Range> run_changes_;
  size_t base_capacity_ = kListCapacity;
  size_t max_pages_ = SIZE_MAX;
  size_t max_bytes_ = kMaxBytes;
  size_t page_count_ = 0;  // pages of all lists
  // The memory of all pages as last measured, and the page count then.
  size_t measured_bytes_ = 0;
  size_t measured_at_ = 0;
  uint64_t reads_ = 0;
  uint64_t writes_ = 0;
  uint64_t hits_ = 0;
  uint64_t rolled_back_ = 0;
};

}  // namespace tessera
