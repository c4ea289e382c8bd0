#include "engine/storage/core/TGroupCache.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tessera {

void TGroupCache::Configure(size_t unit_size) {
  unit_size_ = unit_size;
  const size_t per_group = unit_size == 0 ? 0 : kGroupBytes / unit_size;
  per_group_ = per_group < kMinGroupUnits ? 0 : static_cast<uint32_t>(per_group);
  Clear();
  std::vector<Slot>().swap(slots_);
  std::vector<uint8_t>().swap(span_);
  bytes_.reset();
}

void TGroupCache::Unlink(uint32_t slot) {
  Slot& s = slots_[slot];
  (s.newer == kNone ? newest_ : slots_[s.newer].older) = s.older;
  (s.older == kNone ? oldest_ : slots_[s.older].newer) = s.newer;
  s.newer = s.older = kNone;
}

void TGroupCache::PushNewest(uint32_t slot) {
  Slot& s = slots_[slot];
  s.newer = kNone;
  s.older = newest_;
  (newest_ == kNone ? oldest_ : slots_[newest_].newer) = slot;
  newest_ = slot;
}

const uint8_t* TGroupCache::Image(uint32_t number) {
  if (per_group_ == 0 || number == 0) return nullptr;
  const uint32_t group = (number - 1) / per_group_;
  const uint32_t* slot = by_group_.Find(group + 1);
  if (slot == nullptr) return nullptr;
  const uint32_t index = (number - 1) % per_group_;
  if (index >= slots_[*slot].count) return nullptr;
  if (newest_ != *slot) {
    Unlink(*slot);
    PushNewest(*slot);
  }
  return bytes_.get() + (size_t{*slot} * per_group_ + index) * unit_size_;
}

void TGroupCache::Prefetch(uint32_t number) const {
  if (per_group_ == 0 || number == 0) return;
  const uint32_t* slot = by_group_.Find((number - 1) / per_group_ + 1);
  if (slot == nullptr) return;
  const uint8_t* image =
      bytes_.get() + (size_t{*slot} * per_group_ + (number - 1) % per_group_) * unit_size_;
  constexpr size_t kLine = 64;
  const uintptr_t first = reinterpret_cast<uintptr_t>(image) & ~uintptr_t{kLine - 1};
  for (uintptr_t line = first; line < reinterpret_cast<uintptr_t>(image) + unit_size_;
       line += kLine) {
    __builtin_prefetch(reinterpret_cast<const void*>(line));
  }
}

uint8_t* TGroupCache::Take(uint32_t group) {
  Forget(group * per_group_ + 1, 1);
  uint32_t slot;
  if (slots_.size() < kMaxGroups) {
    slot = static_cast<uint32_t>(slots_.size());
    if (bytes_ == nullptr) {
      bytes_ =
          std::make_unique_for_overwrite<uint8_t[]>(size_t{kMaxGroups} * per_group_ * unit_size_);
    }
    slots_.emplace_back();
    PushNewest(slot);
  } else {
    slot = oldest_;
    if (slots_[slot].group != kNone) by_group_.Erase(slots_[slot].group + 1);
  }
  Free(slot);
  taken_ = slot;
  return bytes_.get() + size_t{slot} * per_group_ * unit_size_;
}

void TGroupCache::Keep(uint32_t group, uint32_t count) {
  if (taken_ == kNone || count == 0) return;
  const uint32_t slot = std::exchange(taken_, kNone);
  slots_[slot].group = group;
  slots_[slot].count = std::min(count, per_group_);
  by_group_.Insert(group + 1, slot);
  Unlink(slot);
  PushNewest(slot);
}

void TGroupCache::Free(uint32_t slot) {
  Unlink(slot);
  Slot& s = slots_[slot];
  s.group = kNone;
  s.count = 0;
  s.newer = oldest_;
  (oldest_ == kNone ? newest_ : slots_[oldest_].older) = slot;
  oldest_ = slot;
}

void TGroupCache::Forget(uint32_t first, uint32_t count) {
  if (per_group_ == 0 || by_group_.Size() == 0 || first == 0 || count == 0) return;
  const uint32_t last = (first + count - 2) / per_group_;
  for (uint32_t group = (first - 1) / per_group_; group <= last; ++group) {
    const uint32_t* slot = by_group_.Find(group + 1);
    if (slot == nullptr) continue;
    const uint32_t freed = *slot;
    by_group_.Erase(group + 1);
    Free(freed);
  }
}

void TGroupCache::Patch(uint32_t first, uint32_t count, const uint8_t* images) {
  if (per_group_ == 0 || by_group_.Size() == 0 || first == 0) return;
  for (uint32_t done = 0; done < count;) {
    const uint32_t group = (first + done - 1) / per_group_;
    const uint32_t index = (first + done - 1) % per_group_;
    const uint32_t run = std::min(count - done, per_group_ - index);
    const uint32_t* slot = by_group_.Find(group + 1);
    if (slot != nullptr && index < slots_[*slot].count) {
      const uint32_t held = std::min(run, slots_[*slot].count - index);
      std::memcpy(bytes_.get() + (size_t{*slot} * per_group_ + index) * unit_size_,
                  images + size_t{done} * unit_size_, size_t{held} * unit_size_);
    }
    done += run;
  }
}

void TGroupCache::Clear() {
  by_group_.Clear();
  newest_ = oldest_ = taken_ = kNone;
  for (uint32_t i = 0; i < slots_.size(); ++i) {
    slots_[i] = Slot{};
    PushNewest(i);
  }
}

}  // namespace tessera
