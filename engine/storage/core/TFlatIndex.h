// A map from nonzero 32-bit numbers (record numbers, page offsets) to small values, for the
// engine's caches: one flat array of slots with open addressing and linear probing, so that a
// lookup touches one or two cache lines and neither an insert nor an erase allocates (the array
// only grows, doubling when half full).  Erase shifts the following entries of its probe run
// back instead of leaving tombstones, so lookups never slow down as a cache turns over.
//
// Keys are spread by Fibonacci hashing (the high bits of a multiplication), which also spreads
// page offsets, whose low twelve bits are all zero.  Not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace tessera {

template <class Value>
class TFlatIndex {
 public:
  TFlatIndex() { Rehash(kMinSlots); }

  size_t Size() const { return size_; }

  // The value of `key`, nullptr when absent.  The pointer is valid until the next Insert.
  Value* Find(uint32_t key) {
    if (key == 0) return nullptr;
    for (size_t i = Home(key);; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (s.key == key) return &s.value;
      if (s.key == 0) return nullptr;
    }
  }
  const Value* Find(uint32_t key) const { return const_cast<TFlatIndex*>(this)->Find(key); }
  bool Contains(uint32_t key) const { return Find(key) != nullptr; }

  // Sets the value of `key`, adding it when absent.  REQUIRES: key != 0.
  void Insert(uint32_t key, Value value) {
    if ((size_ + 1) * 2 > slots_.size()) Rehash(slots_.size() * 2);
    for (size_t i = Home(key);; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (s.key == key) {
        s.value = std::move(value);
        return;
      }
      if (s.key == 0) {
        s.key = key;
        s.value = std::move(value);
        ++size_;
        return;
      }
    }
  }

  // Removes `key` when present.
  void Erase(uint32_t key) {
    if (key == 0) return;
    size_t hole = Home(key);
    while (slots_[hole].key != key) {
      if (slots_[hole].key == 0) return;
      hole = (hole + 1) & mask_;
    }
    // Pull back every later entry of the run whose home does not lie cyclically in (hole, i].
    for (size_t i = (hole + 1) & mask_; slots_[i].key != 0; i = (i + 1) & mask_) {
      const size_t home = Home(slots_[i].key);
      if (((i - home) & mask_) >= ((i - hole) & mask_)) {
        slots_[hole] = std::move(slots_[i]);
        hole = i;
      }
    }
    slots_[hole].key = 0;
    slots_[hole].value = Value{};
    --size_;
  }

  void Clear() {
    for (Slot& s : slots_) s = Slot{};
    size_ = 0;
  }

 private:
  static constexpr size_t kMinSlots = 16;

  struct Slot {
    uint32_t key = 0;  // 0: empty
    Value value{};
  };

  size_t Home(uint32_t key) const {
    return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_) & mask_;
  }

  void Rehash(size_t slot_count) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(slot_count, Slot{});
    mask_ = slot_count - 1;
    shift_ = 64;
    for (size_t n = slot_count; n > 1; n >>= 1) --shift_;
    size_ = 0;
    for (Slot& s : old) {
      if (s.key != 0) Insert(s.key, std::move(s.value));
    }
  }

  std::vector<Slot> slots_;
  size_t mask_ = 0;
  unsigned shift_ = 64;
  size_t size_ = 0;
};

}  // namespace tessera
