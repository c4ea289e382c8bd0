// TCollection and TCollectionItem: an owned, ordered list of items of one class that the
// collection makes itself (grid columns, stored item lists).
//
// The collection owns its items: Add creates one through the factory given at construction,
// Clear and the destructor free them; freeing an item takes it out of its collection.  Changes
// between BeginUpdate and the matching EndUpdate are reported once, by Update(nullptr) at the end.
//
// Threads: GUI thread only.
#pragma once

#include <functional>
#include <vector>

#include "classlib/rtl/Classes.h"

namespace cl {

class TCollection;

class TCollectionItem : public TPersistent {
 public:
  // Adds itself to `collection` (which may be null).
  explicit TCollectionItem(TCollection* collection);
  ~TCollectionItem() override;
  TCollectionItem(const TCollectionItem&) = delete;
  TCollectionItem& operator=(const TCollectionItem&) = delete;

  TCollection* Collection() const { return collection_; }
  // The position in the collection; -1 without one.
  int Index() const;

 private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
};

class TCollection : public TPersistent {
 public:
  using TItemFactory = std::function<TCollectionItem*(TCollection* collection)>;

  // `factory` makes one item of the collection's class (constructed with the collection, so it
  // adds itself).
  explicit TCollection(TItemFactory factory);
  ~TCollection() override;
  TCollection(const TCollection&) = delete;
  TCollection& operator=(const TCollection&) = delete;

  // The factory for items of class T.
  template <class T>
  static TItemFactory ItemsOf() {
    return [](TCollection* c) -> TCollectionItem* { return new T(c); };
  }

  int Count() const { return static_cast<int>(items_.size()); }
  // REQUIRES: 0 <= index < Count(), else EListError.
  TCollectionItem* Items(int index) const;
  TCollectionItem* Add();
  void Clear();

  void BeginUpdate() { ++update_count_; }
  void EndUpdate();
  int UpdateCount() const { return update_count_; }

 protected:
  // Called after a change (the item, or nullptr for many) outside an update; the base does
  // nothing.
  virtual void Update(TCollectionItem* item);

 private:
  friend class TCollectionItem;
  void Changed(TCollectionItem* item);

  TItemFactory factory_;
  std::vector<TCollectionItem*> items_;
  int update_count_ = 0;
};

}  // namespace cl
