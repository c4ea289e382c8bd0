// The index cursor of an index file: the current key as an ordinal position in the current index,
// the beginning and end flags, the key range, record-number order and record-bit-map mode.
//
// Positions are ordinals over the whole index (1 = its first key); a range narrows them to
// [RangeFirst, RangeLast], and the public positions (GotoPosition, CurrentPosition) count from the
// range's first key.  Each bound of a range is either absent (no limit on that side) or a key
// prefix of a given length: the start bound admits every key whose prefix is not below it, the end
// bound every key whose prefix is not above it, so a partial string bound needs no sentinel
// bytes, whatever the collation.
//
// The cursor remembers its key and record number; when the tree changed since it was placed (a
// write of this process, or another process's change that emptied the cache) it finds its entry
// again, or the next one when its entry went.
//
// Record-number order (slot 255, or slot 0 of a table without primary key fields) walks record
// numbers 1..the physical record count (deleted slots included, so no record is out of reach),
// restricted to the visible map in bit-map mode.  In bit-map mode on an index, only keys whose
// record number is set in the visible map count.
//
// Not thread-safe: used by its index file's thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/storage/index/IndexFormat.h"
#include "engine/storage/index/TIndexTree.h"

namespace tessera {

class TIndexTreeHost;

class TIndexCursor {
 public:
  TIndexCursor(TIndexTreeHost& host, TIndexTree& tree);

  // Both flags set, no current key (empty index, a new current index, emptied file).
  void Reset();
  // The first or last key inside the range; with none both flags are set.
  void First();
  void Last();
  // Steps `count` keys forward (> 0) or back (< 0); running out of the range sets the end or
  // beginning flag and leaves the cursor on the last or first key.  From the beginning flag a
  // step forward lands on the first key (from the end flag, back on the last).
  void MoveBy(int32_t count);
  // The key at `position` (1-based inside the range): below 1 stays at First, beyond the last
  // sets the end flag.
  void GotoPosition(uint32_t position);
  // Places the cursor on the first key not below `key` (current key length).  Found: that key
  // equals `key` and lies inside the range (and is visible in bit-map mode).  Not found and not
  // `nearest`: the cursor stays where it was.  Nearest with a range: below the start goes to
  // First, above the end to Last; past the last key of the index sets the end flag.  In
  // record-number order the key holds the record number (u32, little-endian).  A `length` below
  // the key length compares only that prefix of `key` (a prefix seek on a descending index,
  // where no fill byte is the first of its prefix under every collation).
  bool FindKey(const uint8_t* key, bool nearest, size_t length = 0);
  // Stands on the entry of `key` (current key length) and `record_number` without looking for
  // it: the first use finds it, as after any change of the tree.  A write's own record needs no
  // search when nothing reads the cursor before the next write.
  // REQUIRES: that entry is in the current index, which is not in record-number order.
  void PlaceOnEntry(const uint8_t* key, uint32_t record_number);

  bool AtBeginning() const { return bof_; }
  bool AtEnd() const { return eof_; }
  // The record number of the current entry; 0 when a flag is set.
  uint32_t CurrentRecordNumber();
  // 1-based position inside the range (the record number in plain record-number order); 0 when
  // a flag is set.
  uint32_t CurrentPosition();
  // Copies the current key (the record number in record-number order); false when none.
  bool CurrentKey(uint8_t* key);

  // Range bounds: `length` bytes of `key` (at most the key length) are significant; a null key
  // removes the bound.  They take effect with ApplyRange.
  void SetRangeStart(const uint8_t* key, size_t length);
  void SetRangeEnd(const uint8_t* key, size_t length);
  void ApplyRange();
  // Removes both bounds: the range is the whole index.
  void CancelRange();
  bool RangeActive() const { return range_active_; }
  // Whole-index positions of the first and last key inside the range (first > last when empty).
  uint32_t RangeFirst();
  uint32_t RangeLast();
  // Keys inside the range; in bit-map mode the visible count; in record-number order without
  // bit-map mode the physical record count.
  uint32_t RangeCount();
  // How many of the next keys (up to `count`, forward when direction >= 0) carry record numbers
  // running on by one from the current one (backward: down by one).
  uint32_t CountSequential(uint32_t count, int direction);
  // The record numbers of up to `count` of the next keys (forward when direction >= 0) inside the
  // range, into `out`, stopping at the first one not visible; how many.  Nothing in record-number
  // order.
  uint32_t FollowingRecords(uint32_t count, int direction, uint32_t* out);

  // Record-bit-map mode: the visible map (one bit per physical record number) and its set-bit
  // count belong to the filter code, which keeps them current.
  void SetBitMapMode(bool on) { bitmap_mode_ = on; }
  bool BitMapMode() const { return bitmap_mode_; }
  std::vector<uint8_t>& VisibleMap() { return visible_; }
  void SetVisibleCount(uint32_t count) { visible_count_ = count; }
  uint32_t VisibleCount() const { return visible_count_; }

 private:
  struct Bound {
    bool present = false;
    size_t length = 0;
    std::array<uint8_t, kMaxKeyLength> key{};
  };

  bool RecordOrder() const;
  size_t KeyLength() const;
  bool Visible(uint32_t record_number) const;
  void Bounds(uint32_t& first, uint32_t& last);
  void Load(const TTreeSpot& spot);
  bool Fresh();
  void SetBound(Bound& bound, const uint8_t* key, size_t length);

  // Key order.
  void PlaceAt(uint32_t position, bool forward_to_visible, uint32_t first, uint32_t last);
  bool StepVisible(bool forward, uint32_t first, uint32_t last);
  // Hands the record numbers of up to `count` keys after the current one (inside the range) to
  // `take` until it answers false; reads the leaf level in batches.  How many it took.
  template <class Take>
  uint32_t TakeFollowing(uint32_t count, bool forward, Take&& take);

  // Record-number order.
  void PlaceOnRecord(uint32_t record_number);
  uint32_t Limit() const;
  bool NextRecord(uint32_t& record) const;
  bool PriorRecord(uint32_t& record) const;

  TIndexTreeHost& host_;
  TIndexTree& tree_;

  bool bof_ = true;
  bool eof_ = true;
  int slot_ = -1;  // the index the cursor was placed in
  TTreeSpot spot_;
  uint64_t spot_version_ = 0;
  std::array<uint8_t, kMaxKeyLength> key_{};
  uint32_t record_ = 0;  // record number of the current entry, or the current record

  Bound start_;
  Bound end_;
  bool range_active_ = false;
  bool bounds_valid_ = false;
  uint64_t bounds_version_ = 0;
  int bounds_slot_ = -1;
  uint32_t first_ = 1;
  uint32_t last_ = 0;
  bool computing_ = false;

  bool bitmap_mode_ = false;
  std::vector<uint8_t> visible_;
  uint32_t visible_count_ = 0;
};

}  // namespace tessera
