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
#include <cstring>
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
  // Groups one ReadSpanThrough reads at most (64 KB).
  static constexpr uint32_t kSpanGroups = 16;

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
  // Whether group `group` is held.
  bool Holds(uint32_t group) const { return by_group_.Contains(group + 1); }
  // The image of unit `number` when a group holds it, else null; it stays where it is until the
  // group goes (Patch writes over it in place).
  const uint8_t* Image(uint32_t number);
  // Asks the processor for the image of unit `number`, when a group holds it, ahead of its use:
  // units taken in a scattered order miss the processor's caches one after another otherwise.
  void Prefetch(uint32_t number) const;
  // Copies unit `number` into `out` when a group holds it.
  bool Copy(uint32_t number, uint8_t* out) {
    const uint8_t* image = Image(number);
    if (image != nullptr) std::memcpy(out, image, unit_size_);
    return image != nullptr;
  }
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
  // As ReadThrough; but in a file whose groups all fit, the groups about that of `number` that are
  // not held come with it in the same call (up to kSpanGroups, aligned), so that the file is in
  // after a few reads rather than one read per group.
  template <class Read>
  bool ReadSpanThrough(uint32_t number, uint32_t units, uint8_t* out, Read&& read) {
    if (number == 0 || number > units || per_group_ == 0) return false;
    const uint32_t last_group = (units - 1) / per_group_;
    if (last_group >= kMaxGroups) return ReadThrough(number, units, out, read);
    const uint32_t group = GroupOf(number);
    uint32_t low = group - group % kSpanGroups;
    uint32_t high = std::min(low + kSpanGroups, last_group + 1);
    while (low < group && Holds(low)) ++low;
    while (high > group + 1 && Holds(high - 1)) --high;
    const uint32_t first = FirstOf(low);
    const uint32_t count = std::min(units - first + 1, (high - low) * per_group_);
    span_.resize(size_t{count} * unit_size_);
    const uint32_t got = read(first, count, span_.data());
    for (uint32_t g = low, at = 0; g < high && at < got; ++g, at += per_group_) {
      // A group held keeps its images: the file's, or the owner's own writes to it.
      if (Holds(g)) continue;
      const uint32_t n = std::min(per_group_, got - at);
      std::memcpy(Take(g), span_.data() + size_t{at} * unit_size_, size_t{n} * unit_size_);
      Keep(g, n);
    }
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
  uint32_t taken_ = kNone;     // the slot of the last Take
  std::vector<uint8_t> span_;  // ReadSpanThrough's read
};

}  // namespace tessera
