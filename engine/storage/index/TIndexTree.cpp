#include "engine/storage/index/TIndexTree.h"

#include <algorithm>
#include <cstring>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/index/IndexTreeHost.h"
#include "engine/storage/index/TPageCache.h"

namespace tessera {
namespace {

bool IsLeafLevelPage(const TPage& page) { return page.Type() == kPageLeaf && page.Count() > 0; }

}  // namespace

// ---- pins and allocation --------------------------------------------------------------------

TIndexTree::Pins::~Pins() {
  for (size_t i = 0; i < inline_count_; ++i) inline_[i]->Unpin();
  for (TPage* page : more_) page->Unpin();
}

void TIndexTree::Pins::Reserve() {
  if (inline_count_ == kInlinePins) more_.reserve(more_.size() + 1);
}

void TIndexTree::Pins::Keep(TPage* page) noexcept {
  const auto inline_end = inline_.begin() + inline_count_;
  if (std::find(inline_.begin(), inline_end, page) != inline_end ||
      std::find(more_.begin(), more_.end(), page) != more_.end()) {
    page->Unpin();
  } else if (inline_count_ < kInlinePins) {
    inline_[inline_count_++] = page;
  } else {
    more_.push_back(page);
  }
}

TPage* TIndexTree::Pins::Get(uint32_t offset) {
  if (!IsValidPageOffset(offset, IndexEndOffset(tree_.host_))) tree_.RaiseCorrupt();
  Reserve();
  TPage* page = tree_.cache_.Fetch(slot_, offset, lookup_);
  Keep(page);
  return page;
}

TPage* TIndexTree::Pins::Adopt(uint32_t offset) {
  Reserve();
  TPage* page = tree_.cache_.Adopt(slot_, offset);
  Keep(page);
  return page;
}

TPage* TIndexTree::Allocation::Take() {
  TIndexTreeHost& host = tree_.host_;
  taken_.reserve(taken_.size() + 1);
  const uint32_t head = IndexFreeHead(host, ctx_.slot);
  if (head != 0) {
    TPage* page = pins_.Get(head);
    // A page on the chain was written free, without entries; anything else is a damaged chain.
    // A chain that runs back to a page this change took already would hand it out twice.
    const uint32_t next = page->Next();
    const bool taken = std::any_of(taken_.begin(), taken_.end(),
                                   [page](const Taken& t) { return t.page == page; });
    if (taken || page->Count() != 0 || next == head ||
        (next != 0 && !IsValidPageOffset(next, IndexEndOffset(host)))) {
      tree_.RaiseCorrupt();
    }
    SetIndexFreeHead(host, ctx_.slot, next);
    page->Reset();
    page->SetDirty(true);
    taken_.push_back({page, false, next});
    return page;
  }
  const uint32_t end = IndexEndOffset(host);
  if (static_cast<uint64_t>(end) + kIndexPageSize > kMaxIndexFileOffset) {
    RaiseEngineError(kErrDataFileFull, host.ErrorFileName());
  }
  TPage* page = pins_.Adopt(end);
  SetIndexEndOffset(host, end + static_cast<uint32_t>(kIndexPageSize));
  taken_.push_back({page, true, 0});
  return page;
}

TIndexTree::Allocation::~Allocation() {
  if (committed_) return;
  TIndexTreeHost& host = tree_.host_;
  for (auto it = taken_.rbegin(); it != taken_.rend(); ++it) {
    const uint32_t offset = it->page->Offset();
    if (it->appended) {
      SetIndexEndOffset(host, offset);
      tree_.cache_.Discard(ctx_.slot, offset);
    } else {
      it->page->Reset();
      it->page->SetFree(true);
      it->page->SetNext(it->chain_next);
      it->page->SetDirty(true);
      SetIndexFreeHead(host, ctx_.slot, offset);
    }
  }
}

// ---- context, errors, restarts --------------------------------------------------------------

TIndexTree::TIndexTree(TIndexTreeHost& host, TPageCache& cache) : host_(host), cache_(cache) {}

void TIndexTree::RaiseCorrupt() const {
  RaiseEngineError(kErrIndexPageCorrupt, host_.ErrorFileName());
}

void TIndexTree::RaiseWithIndex(uint16_t code, const Context& ctx) const {
  RaiseEngineError(code, host_.ErrorFileName(), {},
                   ctx.slot == 0 ? std::string("Primary") : ctx.descriptor.name);
}

const TIndexTree::Context& TIndexTree::Begin() const {
  if (host_.InRecordOrder()) RaiseCorrupt();
  const int slot = host_.CurrentSlot();
  // Root and free head (behind the compared part) change with every write; the order does not.
  const uint8_t* raw = host_.HeaderImage() + DescriptorOffset(slot);
  const uint16_t language = host_.LanguageId();
  const uint16_t sort = host_.SortId();
  CachedContext& cached = contexts_[static_cast<size_t>(slot) % kIndexSlotCount];
  if (cached.valid && cached.epoch == epoch_ && cached.context.slot == slot &&
      cached.language == language && cached.sort == sort &&
      std::memcmp(cached.raw.data(), raw, cached.raw.size()) == 0) {
    return cached.context;
  }
  cached.valid = false;
  Context ctx;
  ctx.slot = slot;
  ctx.descriptor = DecodeIndexDescriptor(raw);
  ctx.key_length = ctx.descriptor.key_length;
  if (ctx.key_length == 0 || ctx.key_length > kMaxKeyLength) RaiseCorrupt();
  ctx.order = TKeyOrder(host_, ctx.slot, ctx.descriptor);
  ctx.compressed = ctx.descriptor.compression != kCompressNone;
  ctx.unique = ctx.slot == 0 || ctx.descriptor.unique != 0;
  ctx.inner_capacity = InnerCapacity(ctx.key_length);
  ctx.leaf_capacity = LeafCapacity(ctx.key_length);
  cached.context = std::move(ctx);
  std::memcpy(cached.raw.data(), raw, cached.raw.size());
  cached.epoch = epoch_;
  cached.language = language;
  cached.sort = sort;
  cached.valid = true;
  return cached.context;
}

TIndexTree::LeafContext TIndexTree::BeginLeaf() const {
  if (host_.InRecordOrder()) RaiseCorrupt();
  LeafContext ctx;
  ctx.slot = host_.CurrentSlot();
  ctx.key_length = cl::GetU16LE(host_.HeaderImage() + DescriptorOffset(ctx.slot) + kDescKeyLength);
  if (ctx.key_length == 0 || ctx.key_length > kMaxKeyLength) RaiseCorrupt();
  return ctx;
}

TKeyOrder TIndexTree::CurrentOrder() const {
  if (host_.InRecordOrder()) return TKeyOrder::Bytes(false);
  return Begin().order;
}

int TIndexTree::CompareKeys(const uint8_t* a, const uint8_t* b, size_t length) const {
  if (host_.InRecordOrder()) return TKeyOrder::Bytes(false).Compare(a, b, length);
  return Begin().order.Compare(a, b, length);
}

// ---- entries --------------------------------------------------------------------------------

void TIndexTree::CopyEntry(TPage& dst, uint16_t after, const TPage& src, uint16_t slot) {
  dst.SetCurrentSlot(after);
  dst.InsertAfterCurrent(src.KeyAt(slot));
  dst.SetCurrentValue(src.ValueAt(slot));
  dst.SetCurrentSubtreeCount(src.SubtreeCountAt(slot));
}

void TIndexTree::RemoveEntry(TPage& page, uint16_t slot) {
  page.SetCurrentSlot(slot);
  page.DeleteCurrent();
}

// ---- descents -------------------------------------------------------------------------------

uint16_t TIndexTree::CountBelow(const Context& ctx, const TPage& page, const uint8_t* key,
                                size_t length, bool or_equal) const {
  uint32_t lo = 0, hi = page.Count();
  while (lo < hi) {
    const uint32_t mid = (lo + hi) / 2;
    const int c = ctx.order.Compare(page.KeyAt(static_cast<uint16_t>(mid + 1)), key, length);
    if (c < 0 || (or_equal && c == 0)) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return static_cast<uint16_t>(lo);
}

template <class Choose>
TIndexTree::Path TIndexTree::Descend(const Context& ctx, Pins& pins, Choose&& choose) {
  Path path;
  uint32_t offset = IndexRoot(host_, ctx.slot);
  if (offset == 0) return path;
  for (size_t depth = 0;; ++depth) {
    if (depth >= kMaxDepth) RaiseCorrupt();
    TPage* page = pins.Get(offset);
    const uint8_t type = page->Type();
    const bool type_ok = depth == 0 ? (type == kPageRootInner || type == kPageRootLeaf)
                                    : (type == kPageInner || type == kPageLeaf);
    if (!type_ok || page->Count() == 0) RaiseCorrupt();
    const uint16_t slot = choose(*page);
    path.push_back({page, slot});
    if (page->IsLeaf()) return path;
    offset = page->ValueAt(slot);
  }
}

TIndexTree::Path TIndexTree::DescendToPosition(const Context& ctx, Pins& pins, uint32_t position) {
  uint32_t remaining = position;
  return Descend(ctx, pins, [&](const TPage& page) -> uint16_t {
    if (page.IsLeaf()) {
      if (remaining < 1 || remaining > page.Count()) RaiseCorrupt();
      return static_cast<uint16_t>(remaining);
    }
    for (uint16_t s = 1; s <= page.Count(); ++s) {
      const uint32_t n = page.SubtreeCountAt(s);
      if (remaining <= n) return s;
      remaining -= n;
    }
    RaiseCorrupt();
  });
}

uint32_t TIndexTree::PositionOfPath(const Path& path) const {
  uint64_t position = 0;
  for (const PathStep& step : path) {
    if (step.page->IsLeaf()) {
      position += step.slot;
    } else {
      position += step.page->SubtreeCountBefore(step.slot);
    }
  }
  if (position > UINT32_MAX) RaiseCorrupt();
  return static_cast<uint32_t>(position);
}

TTreeSpot TIndexTree::SpotOf(const Context&, Pins& pins, const Path& path) {
  if (path.empty()) return {};
  const PathStep& leaf = path.back();
  const uint32_t position = PositionOfPath(path);
  if (leaf.slot == 0) {
    const uint32_t prev = leaf.page->Prev();
    if (prev == 0) return {};
    TPage* page = pins.Get(prev);
    if (!IsLeafLevelPage(*page)) RaiseCorrupt();
    return {prev, page->Count(), position};
  }
  if (leaf.slot > leaf.page->Count()) {
    const uint32_t next = leaf.page->Next();
    if (next == 0) return {0, 0, position};
    TPage* page = pins.Get(next);
    if (!IsLeafLevelPage(*page)) RaiseCorrupt();
    return {next, 1, position};
  }
  return {leaf.page->Offset(), leaf.slot, position};
}

uint32_t TIndexTree::KeyCount() {
  return Retry([&]() -> uint32_t {
    const Context& ctx = Begin();
    const uint32_t root = IndexRoot(host_, ctx.slot);
    if (root == 0) return 0;
    Pins pins(*this, ctx.slot, true);
    const uint64_t total = pins.Get(root)->TotalCount();
    if (total > UINT32_MAX) RaiseCorrupt();
    return static_cast<uint32_t>(total);
  });
}

TTreeSpot TIndexTree::LowerBound(const uint8_t* bound, size_t length) {
  return Retry([&] {
    const Context& ctx = Begin();
    const size_t n = std::min(length, ctx.key_length);
    Pins pins(*this, ctx.slot, true);
    const Path path = Descend(ctx, pins, [&](const TPage& page) -> uint16_t {
      const uint16_t below = CountBelow(ctx, page, bound, n, false);
      if (page.IsLeaf()) return static_cast<uint16_t>(below + 1);
      return std::max<uint16_t>(below, 1);
    });
    TTreeSpot spot = SpotOf(ctx, pins, path);
    if (path.empty()) spot.position = 1;  // empty index: "after the last" is position 1
    return spot;
  });
}

TTreeSpot TIndexTree::LastNotAbove(const uint8_t* bound, size_t length) {
  return Retry([&] {
    const Context& ctx = Begin();
    const size_t n = std::min(length, ctx.key_length);
    Pins pins(*this, ctx.slot, true);
    const Path path = Descend(ctx, pins, [&](const TPage& page) -> uint16_t {
      const uint16_t upto = CountBelow(ctx, page, bound, n, true);
      if (page.IsLeaf()) return upto;
      return std::max<uint16_t>(upto, 1);
    });
    return SpotOf(ctx, pins, path);
  });
}

TTreeSpot TIndexTree::AtPosition(uint32_t position) {
  return Retry([&]() -> TTreeSpot {
    const Context& ctx = Begin();
    const uint32_t root = IndexRoot(host_, ctx.slot);
    if (position == 0 || root == 0) return {0, 0, position == 0 ? 0u : 1u};
    Pins pins(*this, ctx.slot, true);
    const uint64_t total = pins.Get(root)->TotalCount();
    if (position > total)
      return {0, 0, static_cast<uint32_t>(std::min<uint64_t>(total + 1, UINT32_MAX))};
    const Path path = DescendToPosition(ctx, pins, position);
    return {path.back().page->Offset(), path.back().slot, position};
  });
}

TTreeSpot TIndexTree::Step(const TTreeSpot& spot, bool forward) {
  return Retry([&]() -> TTreeSpot {
    const LeafContext ctx = BeginLeaf();
    Pins pins(*this, ctx.slot);
    TPage* page = pins.Get(spot.leaf);
    if (!page->IsLeaf() || spot.slot < 1 || spot.slot > page->Count()) RaiseCorrupt();
    if (forward) {
      if (spot.slot < page->Count())
        return {spot.leaf, static_cast<uint16_t>(spot.slot + 1), spot.position + 1};
      const uint32_t next = page->Next();
      if (next == 0) return {0, 0, spot.position + 1};
      if (!IsLeafLevelPage(*pins.Get(next))) RaiseCorrupt();
      return {next, 1, spot.position + 1};
    }
    if (spot.slot > 1) return {spot.leaf, static_cast<uint16_t>(spot.slot - 1), spot.position - 1};
    const uint32_t prev = page->Prev();
    if (prev == 0) return {};
    TPage* before = pins.Get(prev);
    if (!IsLeafLevelPage(*before)) RaiseCorrupt();
    return {prev, before->Count(), spot.position - 1};
  });
}

uint32_t TIndexTree::ReadEntry(const TTreeSpot& spot, uint8_t* key) {
  return Retry([&] {
    const LeafContext ctx = BeginLeaf();
    Pins pins(*this, ctx.slot, true);
    TPage* page = pins.Get(spot.leaf);
    if (!page->IsLeaf() || spot.slot < 1 || spot.slot > page->Count()) RaiseCorrupt();
    if (key != nullptr) std::memcpy(key, page->KeyAt(spot.slot), ctx.key_length);
    return page->ValueAt(spot.slot);
  });
}

uint32_t TIndexTree::RecordNumberAt(const TTreeSpot& spot) { return ReadEntry(spot, nullptr); }

uint32_t TIndexTree::RecordNumbersAfter(TTreeSpot& spot, bool forward, uint32_t count,
                                        uint32_t* out) {
  return Retry([&]() -> uint32_t {
    const LeafContext ctx = BeginLeaf();
    Pins pins(*this, ctx.slot);
    TPage* page = pins.Get(spot.leaf);
    if (!page->IsLeaf() || spot.slot < 1 || spot.slot > page->Count()) RaiseCorrupt();
    uint32_t leaf = spot.leaf;
    uint16_t slot = spot.slot;
    uint32_t n = 0;
    while (n < count) {
      if (forward ? slot < page->Count() : slot > 1) {
        slot = static_cast<uint16_t>(forward ? slot + 1 : slot - 1);
      } else {
        const uint32_t link = forward ? page->Next() : page->Prev();
        if (link == 0) break;
        page = pins.Get(link);
        if (!IsLeafLevelPage(*page)) RaiseCorrupt();
        leaf = link;
        slot = forward ? 1 : page->Count();
      }
      out[n++] = page->ValueAt(slot);
    }
    if (n > 0) spot = {leaf, slot, forward ? spot.position + n : spot.position - n};
    return n;
  });
}

uint32_t TIndexTree::FindEntry(const Context& ctx, Pins& pins, const uint8_t* key,
                               uint32_t record_number, bool any) {
  const Path path = Descend(ctx, pins, [&](const TPage& page) -> uint16_t {
    const uint16_t below = CountBelow(ctx, page, key, ctx.key_length, false);
    if (page.IsLeaf()) return static_cast<uint16_t>(below + 1);
    return std::max<uint16_t>(below, 1);
  });
  TTreeSpot spot = SpotOf(ctx, pins, path);
  // Equal keys may run over several leaves; the walk is bounded by the index's key count, summed
  // only when the first entry is not the one (most finds end there).
  uint64_t limit = 0;
  for (uint64_t walked = 0; spot.leaf != 0; ++walked) {
    if (walked == 1) limit = path.front().page->TotalCount();
    if (walked > 0 && walked > limit) break;
    TPage* page = pins.Get(spot.leaf);
    if (!page->IsLeaf() || spot.slot > page->Count()) RaiseCorrupt();
    if (ctx.order.Compare(page->KeyAt(spot.slot), key, ctx.key_length) != 0) return 0;
    if (any || page->ValueAt(spot.slot) == record_number) return spot.position;
    if (spot.slot < page->Count()) {
      ++spot.slot;
    } else {
      spot.leaf = page->Next();
      spot.slot = 1;
      if (spot.leaf != 0 && !IsLeafLevelPage(*pins.Get(spot.leaf))) RaiseCorrupt();
    }
    ++spot.position;
  }
  return 0;
}

bool TIndexTree::Contains(const uint8_t* key) {
  return Retry([&] {
    const Context& ctx = Begin();
    Pins pins(*this, ctx.slot);
    return FindEntry(ctx, pins, key, 0, true) != 0;
  });
}

void TIndexTree::CheckKeyViolation(const uint8_t* key) {
  const Context ctx = Begin();
  if (!ctx.unique) return;
  if (Contains(key)) RaiseWithIndex(kErrKeyViolation, ctx);
}

// ---- insertion ------------------------------------------------------------------------------

void TIndexTree::InsertKey(const uint8_t* key, uint32_t record_number) {
  Retry([&] {
    const Context ctx = Begin();
    InsertOnce(ctx, key, record_number);
  });
}

void TIndexTree::InsertOnce(const Context& ctx, const uint8_t* key, uint32_t record_number) {
  Pins pins(*this, ctx.slot);
  if (IndexRoot(host_, ctx.slot) == 0) {
    Allocation allocation(*this, ctx, pins);
    TPage* root = allocation.Take();
    allocation.Commit();
    root->SetType(kPageRootLeaf);
    root->SetCurrentSlot(0);
    root->InsertAfterCurrent(key);
    root->SetCurrentValue(record_number);
    root->Recompute();
    SetIndexRoot(host_, ctx.slot, root->Offset());
    ++version_;
    return;
  }
  Path path = Descend(ctx, pins, [&](const TPage& page) -> uint16_t {
    const uint16_t upto = CountBelow(ctx, page, key, ctx.key_length, true);
    return page.IsLeaf() ? upto : std::max<uint16_t>(upto, 1);
  });
  TPage* leaf = path.back().page;
  const uint16_t after = path.back().slot;
  if (ctx.unique && after >= 1 && ctx.order.Compare(leaf->KeyAt(after), key, ctx.key_length) == 0) {
    RaiseWithIndex(kErrKeyViolation, ctx);
  }

  // The leaf takes the entry first (undone on failure): only then are its split and the splits
  // it causes known, and their pages taken.
  leaf->SetCurrentSlot(after);
  const bool counted = leaf->CountsCurrent();
  leaf->InsertAfterCurrent(key);
  leaf->SetCurrentValue(record_number);
  leaf->RecountInserted(static_cast<uint16_t>(after + 1), counted);
  const uint16_t inserted = static_cast<uint16_t>(after + 1);
  Allocation allocation(*this, ctx, pins);
  try {
    for (size_t i = path.size(); i-- > 0;) {
      TPage* page = path[i].page;
      const bool over =
          i + 1 == path.size() ? page->IsOverFull() : page->Count() + 1u > ctx.inner_capacity;
      if (!over) break;
      if (page->Next() != 0) pins.Get(page->Next());
      allocation.Take();
      if (i == 0) allocation.Take();  // a new root
    }
  } catch (...) {
    RemoveEntry(*leaf, inserted);
    leaf->Recompute();
    throw;
  }
  allocation.Commit();

  for (size_t i = 0; i + 1 < path.size(); ++i) {
    path[i].page->SetSubtreeCountAt(path[i].slot, path[i].page->SubtreeCountAt(path[i].slot) + 1);
  }
  path.back().slot = inserted;
  if (inserted == 1) CarryFirstKey(path, path.size() - 1);

  for (size_t i = path.size(); i-- > 0;) {
    TPage* page = path[i].page;
    if (!page->IsOverFull()) break;
    TPage* right = allocation.Next();
    SplitPage(ctx, pins, *page, *right);
    if (i == 0) {
      TPage* root = allocation.Next();
      root->SetType(kPageRootInner);
      CopyEntry(*root, 0, *page, 1);
      root->SetSubtreeCountAt(1, static_cast<uint32_t>(page->TotalCount()));
      root->SetValueAt(1, page->Offset());
      CopyEntry(*root, 1, *right, 1);
      root->SetSubtreeCountAt(2, static_cast<uint32_t>(right->TotalCount()));
      root->SetValueAt(2, right->Offset());
      SetIndexRoot(host_, ctx.slot, root->Offset());
    } else {
      TPage* parent = path[i - 1].page;
      const uint16_t at = path[i - 1].slot;
      parent->SetSubtreeCountAt(at, static_cast<uint32_t>(page->TotalCount()));
      CopyEntry(*parent, at, *right, 1);
      parent->SetCurrentValue(right->Offset());
      parent->SetCurrentSubtreeCount(static_cast<uint32_t>(right->TotalCount()));
    }
  }
  ++version_;
}

void TIndexTree::SplitPage(const Context& ctx, Pins& pins, TPage& left, TPage& right) {
  const bool leaf = left.IsLeaf();
  const uint16_t count = left.Count();
  const uint16_t keep = static_cast<uint16_t>(count - count / 2);
  right.SetType(leaf ? kPageLeaf : kPageInner);
  left.SetType(leaf ? kPageLeaf : kPageInner);
  for (uint16_t s = static_cast<uint16_t>(keep + 1); s <= count; ++s) {
    CopyEntry(right, right.Count(), left, s);
  }
  while (left.Count() > keep) RemoveEntry(left, left.Count());
  if (leaf && ctx.compressed) {
    // Halves by count may still differ in bytes: move entries one at a time until both fit.
    left.Recompute();
    right.Recompute();
    while (left.BytesInUse() > kPageEntryBytes && left.Count() > 1) {
      CopyEntry(right, 0, left, left.Count());
      RemoveEntry(left, left.Count());
      left.Recompute();
      right.Recompute();
    }
    while (right.BytesInUse() > kPageEntryBytes && right.Count() > 1) {
      CopyEntry(left, left.Count(), right, 1);
      RemoveEntry(right, 1);
      left.Recompute();
      right.Recompute();
    }
    if (left.BytesInUse() > kPageEntryBytes || right.BytesInUse() > kPageEntryBytes) {
      RaiseCorrupt();
    }
  }
  right.SetPrev(left.Offset());
  right.SetNext(left.Next());
  if (left.Next() != 0) pins.Get(left.Next())->SetPrev(right.Offset());
  left.SetNext(right.Offset());
}

void TIndexTree::CarryFirstKey(Path& path, size_t level) {
  for (size_t i = level; i > 0; --i) {
    PathStep& parent = path[i - 1];
    parent.page->SetKeyAt(parent.slot, path[i].page->KeyAt(1));
    if (parent.slot != 1) break;
  }
}

}  // namespace tessera
