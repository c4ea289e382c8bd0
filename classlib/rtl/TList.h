// TList: the class library's list of untyped pointers.
//
// Indexes outside the list raise EListError carrying the index.  Sort is a quicksort with the
// middle element as pivot; the order of equal items is whatever that algorithm gives (callers
// that need a duplicate check do it themselves).  The list never dereferences its items.
#pragma once

#include <functional>
#include <vector>

namespace cl {

// Negative, zero or positive as `a` sorts before, with or after `b`.
using TListSortCompare = std::function<int(void* a, void* b)>;

class TList {
 public:
  TList() = default;
  virtual ~TList() = default;

  int Count() const { return static_cast<int>(items_.size()); }
  // Setting a larger count appends null items; a smaller one drops the tail.
  void SetCount(int count);
  int Capacity() const { return static_cast<int>(items_.capacity()); }
  // REQUIRES: capacity >= Count(), else EListError.
  void SetCapacity(int capacity);

  void* Items(int index) const;
  void SetItems(int index, void* item);
  void* operator[](int index) const { return Items(index); }

  // Returns the new item's index.
  int Add(void* item);
  // REQUIRES: 0 <= index <= Count().
  void Insert(int index, void* item);
  void Delete(int index);
  // Removes the first occurrence; returns its former index, or -1.
  int Remove(void* item);
  // Removes the first occurrence and returns it, or nullptr when absent.
  void* Extract(void* item);
  int IndexOf(void* item) const;
  void Exchange(int index1, int index2);
  void Move(int current, int target);
  void* First() const { return Items(0); }
  void* Last() const { return Items(Count() - 1); }
  virtual void Clear();
  void Sort(const TListSortCompare& compare);

  // The items as a vector (for range loops).
  const std::vector<void*>& List() const { return items_; }

 private:
  void Check(int index) const;

  std::vector<void*> items_;
};

}  // namespace cl
