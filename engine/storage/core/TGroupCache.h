// Groups of a cache of file pieces: the images of about 4 KB of consecutive units (records of a
// data file, blocks of a blob file; whole units, numbered from 1, group g holding units
// g * GroupUnits() + 1 on) as one read brought them, so that a miss of one unit can read its
// neighbours in the same call and later misses among them cost no read.  A fixed number of slots
// in one buffer, least recently used first out, found through a flat map from group number + 1
// to slot.  The owner decides when a group read is trusted, patches the groups with the units it
// writes itself, and forgets or empties them whenever the units they hold may differ from the
// disk (another process's change, a write that failed).  Not thread-safe.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/storage/core/TFlatIndex.h"

namespace tessera {

class TGroupCache {
 public:
  static constexpr size_t kGroupBytes = 4096;
  static constexpr uint32_t kMaxGroups = 2048;
  // Fewer units than this in a group make a group read not worth its bytes.
  static constexpr uint32_t kMinGroupUnits = 4;

  // Units of `unit_size` bytes; empties the groups and gives their memory back.
  void Configure(size_t unit_size);
  // Units per group; 0 when groups are not used for this unit size.
  uint32_t GroupUnits() const { return per_group_; }
  // The group of unit `number`, and the first unit of group `group`.
  uint32_t GroupOf(uint32_t number) const { return (number - 1) / per_group_; }
  uint32_t FirstOf(uint32_t group) const { return group * per_group_ + 1; }
  // Whether a file of `units` units is small enough for the groups to hold a fair share of it.
  bool Worth(uint32_t units) const {
    return per_group_ != 0 && units / per_group_ <= size_t{kMaxGroups} * 4;
  }
  // Copies unit `number` into `out` when a group holds it.
  bool Copy(uint32_t number, uint8_t* out);
  // Room for the images of group `group` (whose old images go), valid until the next Take; Keep
  // makes the group findable with the `count` images read into it.  A Take without its Keep (a
  // read that failed) leaves the room free.
  uint8_t* Take(uint32_t group);
  void Keep(uint32_t group, uint32_t count);
  // Reads the group of unit `number`, in a file of `units` units, through `read(first, count,
  // room)` (which gives the whole units it read) and copies the unit into `out`; false when the
  // file is too large for groups, the unit lies past it or the read fell short of it.
  template <class Read>
  bool ReadThrough(uint32_t number, uint32_t units, uint8_t* out, Read&& read) {
    if (number == 0 || number > units || !Worth(units)) return false;
    const uint32_t group = GroupOf(number);
    const uint32_t first = FirstOf(group);
    uint8_t* room = Take(group);
    Keep(group, read(first, std::min(per_group_, units - first + 1), room));
    return Copy(number, out);
  }
  // Drops the groups that hold any of `count` units from `first` on.
  void Forget(uint32_t first, uint32_t count);
  // Copies the images of `count` units from `first` on over those the groups hold.
  void Patch(uint32_t first, uint32_t count, const uint8_t* images);
  void Clear();
  size_t Size() const { return by_group_.Size(); }

 private:
  static constexpr uint32_t kNone = UINT32_MAX;
  struct Slot {
    uint32_t group = kNone;
    uint32_t count = 0;
    uint32_t newer = kNone;
    uint32_t older = kNone;
  };
  void Unlink(uint32_t slot);
  void PushNewest(uint32_t slot);
  // Empties `slot` and puts it at the old end, to be taken first.
  void Free(uint32_t slot);

  size_t unit_size_ = 0;
  uint32_t per_group_ = 0;
  std::vector<Slot> slots_;
  // Slot i's images at i * per_group_ * unit_size_; set aside whole at the first Take and never
  // cleared, so that a page of it costs only when a group first lands there.
  std::unique_ptr<uint8_t[]> bytes_;
  TFlatIndex<uint32_t> by_group_;
  uint32_t newest_ = kNone;
  uint32_t oldest_ = kNone;
  uint32_t taken_ = kNone;  // the slot of the last Take
};

}  // namespace tessera
