#include "engine/storage/core/TSystemList.h"

#include <cstring>

#include "classlib/rtl/Exceptions.h"
#include "engine/storage/core/EngineAlloc.h"

namespace tessera {

TSystemList::~TSystemList() { EngineFreeAndNil(items_); }

void TSystemList::Grow() {
  int32_t delta = capacity_ > 64 ? capacity_ / 4 : capacity_ > 8 ? 16 : 4;
  SetCapacity(capacity_ + delta);
}

int32_t TSystemList::Add(void* item) {
  if (count_ == capacity_) Grow();
  items_[count_] = item;
  return count_++;
}

void TSystemList::Insert(int32_t index, void* item) {
  if (index < 0 || index > count_) cl::ListIndexError(index);
  if (count_ == capacity_) Grow();
  if (index < count_) {
    std::memmove(items_ + index + 1, items_ + index,
                 static_cast<size_t>(count_ - index) * sizeof(void*));
  }
  items_[index] = item;
  ++count_;
}

void TSystemList::Delete(int32_t index) {
  if (index < 0 || index >= count_) cl::ListIndexError(index);
  --count_;
  if (index < count_) {
    std::memmove(items_ + index, items_ + index + 1,
                 static_cast<size_t>(count_ - index) * sizeof(void*));
  }
}

void* TSystemList::Get(int32_t index) const {
  if (index < 0 || index >= count_) cl::ListIndexError(index);
  return items_[index];
}

void TSystemList::Move(int32_t from, int32_t to) {
  if (from == to) return;
  if (to < 0 || to >= count_) cl::ListIndexError(to);
  void* item = Get(from);
  Delete(from);
  Insert(to, item);
}

void TSystemList::Clear() {
  count_ = 0;
  SetCapacity(0);
}

void TSystemList::SetCapacity(int32_t capacity) {
  if (capacity < count_ || capacity >= kCapacityLimit) cl::ListCapacityError(capacity);
  if (capacity == capacity_) return;
  const int64_t bytes = static_cast<int64_t>(capacity) * static_cast<int64_t>(sizeof(void*));
  if (capacity == 0) {
    EngineFreeAndNil(items_);
  } else {
    items_ = static_cast<void**>(EngineRealloc(items_, bytes));
  }
  capacity_ = capacity;
}

void TSystemList::SetCount(int32_t count) {
  if (count < 0 || count >= kCapacityLimit) cl::ListCountError(count);
  if (count > capacity_) SetCapacity(count);
  if (count > count_) {
    // The slots may hold pointers left by an earlier, longer count.
    std::memset(items_ + count_, 0, static_cast<size_t>(count - count_) * sizeof(void*));
  }
  count_ = count;
}

}  // namespace tessera
