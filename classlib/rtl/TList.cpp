#include "classlib/rtl/TList.h"

#include <utility>

#include "classlib/rtl/Exceptions.h"

namespace cl {
namespace {

void QuickSort(std::vector<void*>& items, int left, int right, const TListSortCompare& compare) {
  while (left < right) {
    int i = left;
    int j = right;
    void* pivot = items[static_cast<size_t>((left + right) / 2)];
    do {
      while (compare(items[static_cast<size_t>(i)], pivot) < 0) ++i;
      while (compare(items[static_cast<size_t>(j)], pivot) > 0) --j;
      if (i <= j) {
        std::swap(items[static_cast<size_t>(i)], items[static_cast<size_t>(j)]);
        ++i;
        --j;
      }
    } while (i <= j);
    // Recurse into the smaller part, loop on the larger: the stack stays logarithmic.
    if (j - left < right - i) {
      if (left < j) QuickSort(items, left, j, compare);
      left = i;
    } else {
      if (i < right) QuickSort(items, i, right, compare);
      right = j;
    }
  }
}

}  // namespace

void TList::Check(int index) const {
  if (index < 0 || index >= Count()) ListIndexError(index);
}

void TList::SetCount(int count) {
  if (count < 0) ListCountError(count);
  items_.resize(static_cast<size_t>(count), nullptr);
}

void TList::SetCapacity(int capacity) {
  if (capacity < Count()) ListCapacityError(capacity);
  if (capacity > Capacity()) {
    items_.reserve(static_cast<size_t>(capacity));
  } else if (capacity < Capacity()) {
    std::vector<void*> shrunk;
    shrunk.reserve(static_cast<size_t>(capacity));
    shrunk.assign(items_.begin(), items_.end());
    items_.swap(shrunk);
  }
}

void* TList::Items(int index) const {
  Check(index);
  return items_[static_cast<size_t>(index)];
}

void TList::SetItems(int index, void* item) {
  Check(index);
  items_[static_cast<size_t>(index)] = item;
}

int TList::Add(void* item) {
  items_.push_back(item);
  return Count() - 1;
}

void TList::Insert(int index, void* item) {
  if (index < 0 || index > Count()) ListIndexError(index);
  items_.insert(items_.begin() + index, item);
}

void TList::Delete(int index) {
  Check(index);
  items_.erase(items_.begin() + index);
}

int TList::Remove(void* item) {
  const int index = IndexOf(item);
  if (index >= 0) Delete(index);
  return index;
}

void* TList::Extract(void* item) {
  const int index = IndexOf(item);
  if (index < 0) return nullptr;
  Delete(index);
  return item;
}

int TList::IndexOf(void* item) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i] == item) return static_cast<int>(i);
  }
  return -1;
}

void TList::Exchange(int index1, int index2) {
  Check(index1);
  Check(index2);
  std::swap(items_[static_cast<size_t>(index1)], items_[static_cast<size_t>(index2)]);
}

void TList::Move(int current, int target) {
  if (current == target) return;
  Check(current);
  Check(target);
  void* item = items_[static_cast<size_t>(current)];
  items_.erase(items_.begin() + current);
  items_.insert(items_.begin() + target, item);
}

void TList::Clear() {
  items_.clear();
  items_.shrink_to_fit();
}

void TList::Sort(const TListSortCompare& compare) {
  if (items_.size() > 1) QuickSort(items_, 0, Count() - 1, compare);
}

}  // namespace cl
