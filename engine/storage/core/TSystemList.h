// The engine's pointer list.
//
// A list of untyped pointers whose array comes from the engine allocator.  It does not own what
// the pointers point to.  Its growth steps (+4 up to 8, +16 up to 64, then +25 %) and its
// capacity limit (below 262,141 items) are part of the engine's behaviour: caches that grow
// during a transaction stop at that limit.  Misuse (an index, capacity or count out of range)
// raises the class library's list errors, which are programming faults, not engine codes.
// Not thread-safe: the owner serialises access.
#pragma once

#include <cstdint>

namespace tessera {

class TSystemList {
 public:
  // Capacities must stay below this.
  static constexpr int32_t kCapacityLimit = 262141;

  TSystemList() = default;
  ~TSystemList();
  TSystemList(const TSystemList&) = delete;
  TSystemList& operator=(const TSystemList&) = delete;

  int32_t Count() const { return count_; }
  int32_t Capacity() const { return capacity_; }

  // Appends, growing when full; returns the new item's index.
  int32_t Add(void* item);
  // REQUIRES: 0 <= index <= Count(), else EListError.
  void Insert(int32_t index, void* item);
  // Shifts the following items down.  REQUIRES: 0 <= index < Count(), else EListError.
  void Delete(int32_t index);
  // REQUIRES: 0 <= index < Count(), else EListError.
  void* Get(int32_t index) const;
  void* First() const { return Get(0); }
  // Nothing when equal; else the item moves to `to`.  REQUIRES: both within 0..Count()-1, else
  // EListError.
  void Move(int32_t from, int32_t to);
  // Count and capacity 0; the array is freed.
  void Clear();
  // REQUIRES: Count() <= capacity < kCapacityLimit, else EListError.
  void SetCapacity(int32_t capacity);
  // New slots are null.  REQUIRES: 0 <= count < kCapacityLimit, else EListError.
  void SetCount(int32_t count);

  // Sorts with `compare(a, b)` returning negative, zero or positive.  The order of equal items is
  // that of this particular quicksort (middle pivot, Hoare partition), which callers may
  // depend on, so it is kept as is rather than replaced by a library sort.
  template <class Compare>
  void Sort(Compare compare) {
    if (items_ == nullptr || count_ == 0) return;
    QuickSort(items_, 0, count_ - 1, compare);
  }

 private:
  void Grow();

  template <class Compare>
  static void QuickSort(void** items, int32_t left, int32_t right, Compare& compare) {
    int32_t i;
    do {
      i = left;
      int32_t j = right;
      void* pivot = items[(left + right) >> 1];
      do {
        while (compare(items[i], pivot) < 0) ++i;
        while (compare(items[j], pivot) > 0) --j;
        if (i <= j) {
          void* t = items[i];
          items[i] = items[j];
          items[j] = t;
          ++i;
          --j;
        }
      } while (i <= j);
      if (left < j) QuickSort(items, left, j, compare);
      left = i;
    } while (i < right);
  }

  void** items_ = nullptr;
  int32_t count_ = 0;
  int32_t capacity_ = 0;
};

}  // namespace tessera
