// Deletion and rebalancing of the counted B-tree (see TIndexTree.h).
#include <algorithm>

#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/index/IndexTreeHost.h"
#include "engine/storage/index/TIndexTree.h"
#include "engine/storage/index/TPageCache.h"

namespace tessera {

void TIndexTree::DeleteKey(const uint8_t* key, uint32_t record_number) {
  Retry([&] {
    const Context ctx = Begin();
    DeleteOnce(ctx, key, record_number, false);
  });
}

void TIndexTree::DeleteKey(const uint8_t* key) {
  Retry([&] {
    const Context ctx = Begin();
    DeleteOnce(ctx, key, 0, true);
  });
}

void TIndexTree::ModifyKey(const uint8_t* old_key, const uint8_t* new_key, uint32_t record_number) {
  // Everything that can refuse the change is checked before the old entry goes.
  Retry([&] {
    const Context ctx = Begin();
    Pins pins(*this, ctx.slot);
    if (FindEntry(ctx, pins, old_key, record_number, false) == 0) {
      RaiseWithIndex(kErrKeyNotFound, ctx);
    }
    if (ctx.unique && ctx.order.Compare(old_key, new_key, ctx.key_length) != 0 &&
        FindEntry(ctx, pins, new_key, 0, true) != 0) {
      RaiseWithIndex(kErrKeyViolation, ctx);
    }
  });
  const Context ctx = Begin();
  DeleteKey(old_key, record_number);
  try {
    InsertKey(new_key, record_number);
  } catch (...) {
    // The new entry could not be placed (file full, read failure): put the old one back.  When
    // that fails too, the record has no entry in this index any more: the index is damaged, and
    // the error says so rather than the first failure, which would pass for a refused change.
    try {
      InsertKey(old_key, record_number);
    } catch (...) {
      RaiseWithIndex(kErrIndexPageCorrupt, ctx);
    }
    throw;
  }
}

void TIndexTree::DeleteOnce(const Context& ctx, const uint8_t* key, uint32_t record_number,
                            bool any) {
  Pins pins(*this, ctx.slot);
  const uint32_t position = FindEntry(ctx, pins, key, record_number, any);
  if (position == 0) RaiseWithIndex(kErrKeyNotFound, ctx);
  Path path = DescendToPosition(ctx, pins, position);
  PrefetchForDelete(ctx, pins, path);

  // From here on every page is in memory and pinned: nothing below can fail.
  for (size_t i = 0; i + 1 < path.size(); ++i) {
    path[i].page->SetSubtreeCountAt(path[i].slot, path[i].page->SubtreeCountAt(path[i].slot) - 1);
  }
  TPage* leaf = path.back().page;
  const uint16_t slot = path.back().slot;
  RemoveEntry(*leaf, slot);
  if (!leaf->CountsCurrent()) leaf->Recompute();
  if (slot == 1 && leaf->Count() > 0) {
    path.back().slot = 1;
    CarryFirstKey(path, path.size() - 1);
  }
  Rebalance(ctx, pins, path, path.size() - 1);
  ++version_;
}

// Brings in every page the rebalancing after removing the path's leaf entry will touch, by
// following the same decisions on the counts the pages will have.
void TIndexTree::PrefetchForDelete(const Context& ctx, Pins& pins, const Path& path) {
  uint32_t count = path.back().page->Count() - 1u;
  for (size_t i = path.size(); i-- > 0;) {
    TPage* page = path[i].page;
    if (i == 0) {
      // A root left with one entry hands over to its remaining child.
      if (!page->IsLeaf() && count == 1) {
        for (uint16_t s = 1; s <= page->Count(); ++s) pins.Get(page->ValueAt(s));
      }
      return;
    }
    TPage* parent = path[i - 1].page;
    const uint16_t at = path[i - 1].slot;
    const bool unlink = [&] {
      if (count == 0) return true;
      if (page->IsLeaf() && ctx.compressed) return false;
      const size_t capacity = page->IsLeaf() ? ctx.leaf_capacity : ctx.inner_capacity;
      if (count >= capacity / 2) return false;
      uint32_t sibling;
      if (at > 1) {
        sibling = parent->ValueAt(static_cast<uint16_t>(at - 1));
      } else if (parent->Count() > 1) {
        sibling = parent->ValueAt(2);
      } else {
        return false;
      }
      return capacity > count + pins.Get(sibling)->Count();
    }();
    if (!unlink) return;
    if (page->Prev() != 0) pins.Get(page->Prev());
    if (page->Next() != 0) pins.Get(page->Next());
    count = parent->Count() - 1u;
  }
}

void TIndexTree::Rebalance(const Context& ctx, Pins& pins, Path& path, size_t level) {
  TPage* page = path[level].page;
  if (level == 0) {
    if (page->Count() == 0) {
      Release(ctx, *page);
      SetIndexRoot(host_, ctx.slot, 0);
    } else if (!page->IsLeaf() && page->Count() == 1) {
      TPage* child = pins.Get(page->ValueAt(1));
      child->SetType(child->IsLeaf() ? kPageRootLeaf : kPageRootInner);
      child->SetPrev(0);
      child->SetNext(0);
      SetIndexRoot(host_, ctx.slot, child->Offset());
      Release(ctx, *page);
    }
    return;
  }
  if (page->Count() == 0) {
    Unlink(pins, *page);
    Release(ctx, *page);
    RemoveFromParent(ctx, pins, path, level);
    return;
  }
  if (page->IsLeaf() && ctx.compressed) return;
  const size_t capacity = page->IsLeaf() ? ctx.leaf_capacity : ctx.inner_capacity;
  if (page->Count() >= capacity / 2) return;

  TPage* parent = path[level - 1].page;
  const uint16_t at = path[level - 1].slot;
  const bool left_sibling = at > 1;
  if (!left_sibling && parent->Count() < 2) return;  // a lone child stays as it is
  const uint16_t sibling_slot = left_sibling ? static_cast<uint16_t>(at - 1) : uint16_t{2};
  TPage* sibling = pins.Get(parent->ValueAt(sibling_slot));
  if (sibling->Type() != page->Type() || sibling->Count() == 0 ||
      (left_sibling ? sibling->Next() != page->Offset() : page->Next() != sibling->Offset())) {
    RaiseCorrupt();
  }
  const size_t total = static_cast<size_t>(page->Count()) + sibling->Count();
  if (capacity > total) {
    // Merge: the sibling takes this page's entries and this page goes.
    if (left_sibling) {
      for (uint16_t s = 1; s <= page->Count(); ++s) CopyEntry(*sibling, sibling->Count(), *page, s);
    } else {
      for (uint16_t s = page->Count(); s >= 1; --s) CopyEntry(*sibling, 0, *page, s);
      parent->SetKeyAt(sibling_slot, sibling->KeyAt(1));
    }
    parent->SetSubtreeCountAt(sibling_slot, static_cast<uint32_t>(sibling->TotalCount()));
    while (page->Count() > 0) RemoveEntry(*page, page->Count());
    Unlink(pins, *page);
    Release(ctx, *page);
    RemoveFromParent(ctx, pins, path, level);
    return;
  }
  // Redistribute: the sibling keeps ceil(total / 2) entries, this page gets the rest.
  const size_t sibling_keeps = total - total / 2;
  if (left_sibling) {
    while (sibling->Count() > sibling_keeps) {
      CopyEntry(*page, 0, *sibling, sibling->Count());
      RemoveEntry(*sibling, sibling->Count());
    }
    parent->SetKeyAt(at, page->KeyAt(1));
  } else {
    while (sibling->Count() > sibling_keeps) {
      CopyEntry(*page, page->Count(), *sibling, 1);
      RemoveEntry(*sibling, 1);
    }
    parent->SetKeyAt(sibling_slot, sibling->KeyAt(1));
  }
  parent->SetSubtreeCountAt(at, static_cast<uint32_t>(page->TotalCount()));
  parent->SetSubtreeCountAt(sibling_slot, static_cast<uint32_t>(sibling->TotalCount()));
}

// Removes the parent's entry of the page at `level`, which has gone, and rebalances the parent.
void TIndexTree::RemoveFromParent(const Context& ctx, Pins& pins, Path& path, size_t level) {
  TPage* parent = path[level - 1].page;
  const uint16_t at = path[level - 1].slot;
  RemoveEntry(*parent, at);
  if (at == 1 && parent->Count() > 0) {
    path[level - 1].slot = 1;
    CarryFirstKey(path, level - 1);
  }
  Rebalance(ctx, pins, path, level - 1);
}

void TIndexTree::Unlink(Pins& pins, TPage& page) {
  const uint32_t prev = page.Prev();
  const uint32_t next = page.Next();
  if (prev != 0) pins.Get(prev)->SetNext(next);
  if (next != 0) pins.Get(next)->SetPrev(prev);
}

void TIndexTree::Release(const Context& ctx, TPage& page) {
  const uint32_t head = IndexFreeHead(host_, ctx.slot);
  page.Reset();
  page.SetFree(true);
  page.SetNext(head);
  page.SetDirty(true);
  SetIndexFreeHead(host_, ctx.slot, page.Offset());
}

}  // namespace tessera
