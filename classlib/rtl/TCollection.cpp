#include "classlib/rtl/TCollection.h"

#include <algorithm>

#include "classlib/rtl/Exceptions.h"

namespace cl {

TCollectionItem::TCollectionItem(TCollection* collection) : collection_(collection) {
  if (collection_ != nullptr) collection_->items_.push_back(this);
}

TCollectionItem::~TCollectionItem() {
  if (collection_ == nullptr) return;
  auto& items = collection_->items_;
  items.erase(std::remove(items.begin(), items.end(), this), items.end());
  collection_->Changed(nullptr);
}

int TCollectionItem::Index() const {
  if (collection_ == nullptr) return -1;
  const auto& items = collection_->items_;
  return static_cast<int>(std::find(items.begin(), items.end(), this) - items.begin());
}

TCollection::TCollection(TItemFactory factory) : factory_(std::move(factory)) {}

TCollection::~TCollection() {
  ++update_count_;  // no notifications from a collection being destroyed
  Clear();
}

TCollectionItem* TCollection::Items(int index) const {
  if (index < 0 || index >= Count()) ListIndexError(index);
  return items_[static_cast<size_t>(index)];
}

TCollectionItem* TCollection::Add() {
  TCollectionItem* item = factory_(this);
  Changed(item);
  return item;
}

void TCollection::Clear() {
  if (items_.empty()) return;
  BeginUpdate();
  while (!items_.empty()) delete items_.back();
  EndUpdate();
}

void TCollection::EndUpdate() {
  if (update_count_ > 0 && --update_count_ == 0) Changed(nullptr);
}

void TCollection::Update(TCollectionItem*) {}

void TCollection::Changed(TCollectionItem* item) {
  if (update_count_ == 0) Update(item);
}

}  // namespace cl
