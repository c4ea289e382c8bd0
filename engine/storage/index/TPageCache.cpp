#include "engine/storage/index/TPageCache.h"

#include <algorithm>
#include <utility>

#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/index/IndexTreeHost.h"

namespace tessera {
namespace {

// Pages packed into one write at most (a run of consecutive offsets longer than this is split).
constexpr size_t kMaxRunPages = 64;
// Dirty pages written back at once when a new page finds no clean one.
constexpr size_t kWriteBackBatch = 32;

}  // namespace

TPageCache::TPageCache(TIndexTreeHost& host) : host_(host), lists_(kIndexSlotCount) {}

int TPageCache::ListIndex(int slot) { return slot >= 0 && slot < kIndexSlotCount ? slot : 0; }

void TPageCache::SetListCapacity(size_t capacity, size_t max_pages, size_t max_bytes) {
  base_capacity_ = std::max<size_t>(capacity, 1);
  max_pages_ = max_pages;
  max_bytes_ = max_bytes;
  measured_at_ = 0;
  for (List& list : lists_) {
    list.capacity = base_capacity_;
    list.grown = 0;
    Trim(list);
  }
}

size_t TPageCache::DirtyCount() const {
  size_t n = 0;
  for (const List& list : lists_) {
    for (const auto& page : list.pages) n += page->Offset() != 0 && page->Dirty() ? 1 : 0;
  }
  return n;
}

TPage* TPageCache::NewPage(List& list) {
  list.pages.push_front(std::make_unique<TPage>(host_.PageOwner()));
  ++page_count_;
  TPage* page = list.pages.front().get();
  page->SetLedger(&ledger_);
  page->SetJournal(&journal_, static_cast<int>(&list - lists_.data()));
  page->SetOffset(0);
  page->Pin();
  return page;
}

bool TPageCache::MayGrow() {
  if (page_count_ >= max_pages_ || host_.InExclusivePhase()) return false;
  if (measured_at_ == 0 || page_count_ >= measured_at_ + kMeasureEvery ||
      page_count_ < measured_at_) {
    measured_bytes_ = 0;
    for (const List& list : lists_) {
      for (const auto& page : list.pages) measured_bytes_ += page->MemoryBytes();
    }
    measured_at_ = page_count_;
  }
  return measured_bytes_ < max_bytes_;
}

TPage* TPageCache::TakeSlot(List& list, bool grow) {
  auto reuse = [&](std::list<std::unique_ptr<TPage>>::iterator it) {
    TPage* page = it->get();
    if (page->Offset() != 0) list.by_offset.Erase(page->Offset());
    list.pages.splice(list.pages.begin(), list.pages, it);
    // The offset goes first: the page is not changed, it leaves the cache.
    page->SetOffset(0);
    page->Reset();
    page->Pin();
    return page;
  };
  if (list.pages.size() < list.capacity) return NewPage(list);
  // A page a change check emptied is taken again first: a lookup grows the list only when the
  // least recently used page still holds one.
  const TPage& oldest = *list.pages.back();
  if (grow && !(Movable(oldest) && oldest.Offset() == 0) && MayGrow()) {
    list.capacity = list.grown = list.pages.size() + 1;
    return NewPage(list);
  }
  // Pages taken beyond the capacity while everything was pinned go again once they are clean.
  while (list.pages.size() > list.capacity && Movable(*list.pages.back()) &&
         (!list.pages.back()->Dirty() || list.pages.back()->Offset() == 0)) {
    if (list.pages.back()->Offset() != 0) list.by_offset.Erase(list.pages.back()->Offset());
    list.pages.pop_back();
    --page_count_;
  }
  for (auto it = list.pages.end(); it != list.pages.begin();) {
    --it;
    if (Movable(**it) && (!(*it)->Dirty() || (*it)->Offset() == 0)) return reuse(it);
  }
  if (!host_.InExclusivePhase()) {
    // Every movable page is dirty (an exclusive handle's pages wait for the flush): the least
    // recently used ones go back together, so that the next takes find clean pages at the tail
    // instead of walking the whole list again for each new page.
    std::vector<TPage*> batch;
    auto first = list.pages.end();
    for (auto it = list.pages.end(); it != list.pages.begin() && batch.size() < kWriteBackBatch;) {
      --it;
      if (!Movable(**it)) continue;
      if (batch.empty()) first = it;
      batch.push_back(it->get());
    }
    if (!batch.empty()) {
      WriteRuns(std::move(batch));
      return reuse(first);
    }
  }
  // Inside the exclusive phase the list grows by a step; outside it, only every page being
  // pinned by the operation under way (or held by the store journal) brings a page beyond the
  // capacity, for a while.
  if (host_.InExclusivePhase()) list.capacity = list.pages.size() + kGrowth;
  return NewPage(list);
}

void TPageCache::WriteRuns(std::vector<TPage*> pages) {
  // A run's pages are packed in offset order, then written together with the bytes each changed
  // (for the commit journal), and learn that their images reached the file.
  run_.clear();
  WriteBackRuns(
      std::move(pages), kIndexPageSize,
      [this](TPage& page, uint8_t* image) -> const uint8_t* {
        // A page alone is written from its kept image, without a copy.
        const uint8_t* bytes = image != nullptr ? image : page.PackKept();
        if (bytes == nullptr) return nullptr;
        if (image != nullptr) page.Pack(image);
        run_.push_back(&page);
        return bytes;
      },
      [this](uint32_t offset, const uint8_t* images, size_t length) {
        run_changes_.clear();
        for (const TPage* page : run_) {
          const auto [from, to] = page->UnwrittenChanges();
          const int64_t at = page->Offset();
          if (from < to) run_changes_.push_back({at + int64_t(from), at + int64_t(to)});
        }
        host_.WritePageImages(offset, images, length, run_changes_);
        for (TPage* page : run_) page->ImageWritten();
        run_.clear();
        writes_ += length / kIndexPageSize;
      },
      kMaxRunPages);
}

TPage* TPageCache::Fetch(int slot, uint32_t offset, bool lookup) {
  List& list = lists_[ListIndex(slot)];
  if (offset == 0) RaiseEngineError(kErrIndexPageCorrupt, host_.ErrorFileName());
  auto* found = list.by_offset.Find(offset);
  if (found != nullptr) {
    list.pages.splice(list.pages.begin(), list.pages, *found);
    TPage* page = list.pages.front().get();
    page->Pin();
    ++hits_;
    return page;
  }
  if (host_.TakeReadLockChanged()) throw TTreeRestart{};
  TPage* page = TakeSlot(list, lookup);
  try {
    uint8_t* image = page->ReadRoom();
    host_.ReadPageImage(offset, image);
    page->Unpack(image, false);
  } catch (...) {
    page->Reset();
    page->ClearPins();
    throw;
  }
  page->SetOffset(offset);
  list.by_offset.Insert(offset, list.pages.begin());
  ++reads_;
  return page;
}

TPage* TPageCache::Adopt(int slot, uint32_t offset) {
  List& list = lists_[ListIndex(slot)];
  auto* found = list.by_offset.Find(offset);
  TPage* page;
  if (found != nullptr) {
    list.pages.splice(list.pages.begin(), list.pages, *found);
    page = list.pages.front().get();
    page->Reset();
    page->Pin();
  } else {
    page = TakeSlot(list);
    page->SetOffset(offset);
    list.by_offset.Insert(offset, list.pages.begin());
    // Nothing at this offset was in memory: a failed store only has to drop the page.
    if (journal_.IsOpen()) journal_.NoteNew(*page);
  }
  page->SetDirty(true);
  return page;
}

void TPageCache::Discard(int slot, uint32_t offset) {
  List& list = lists_[ListIndex(slot)];
  auto* found = list.by_offset.Find(offset);
  if (found == nullptr) return;
  TPage* page = (*found)->get();
  list.by_offset.Erase(offset);
  page->SetOffset(0);
  page->Reset();
  page->ClearPins();
}

void TPageCache::RollBackStore() noexcept {
  if (!journal_.IsOpen()) return;
  for (const auto& [list_index, offset] : journal_.added_) Discard(list_index, offset);
  for (size_t i = journal_.saved_count_; i > 0; --i) {
    TPageJournal::Image& image = journal_.saved_[i - 1];
    List& list = lists_[ListIndex(image.list)];
    auto* found = list.by_offset.Find(image.offset);
    // A saved page is held until the journal closes, so it is still here.
    if (found == nullptr) continue;
    TPage& page = ***found;
    page.params_ = image.params;
    page.parent_offset_ = image.parent_offset;
    page.bytes_in_use_ = image.bytes_in_use;
    page.count_ = image.count;
    page.prev_ = image.prev;
    page.next_ = image.next;
    page.counts_current_ = image.counts_current;
    page.type_ = image.type;
    page.free_ = image.free;
    page.entries_.swap(image.entries);
    page.ForgetImage();
    page.current_ = page.search_ = 1;
    page.SetDirty(image.dirty);
    ++rolled_back_;
  }
  journal_.Close();
}

void TPageCache::Flush() {
  try {
    WriteRuns(ledger_.DirtyEntries<TPage>([](const TPage& page) { return page.Offset() != 0; }));
  } catch (...) {
    ledger_.SweepDirty();
    throw;
  }
  ledger_.SweepDirty();
  for (List& list : lists_) {
    list.capacity = std::max(base_capacity_, list.grown);
    Trim(list);
  }
}

void TPageCache::Trim(List& list) {
  for (auto it = list.pages.end(); it != list.pages.begin() && list.pages.size() > list.capacity;) {
    --it;
    TPage* page = it->get();
    if (page->PinCount() != 0 || (page->Dirty() && page->Offset() != 0)) continue;
    if (page->Offset() != 0) list.by_offset.Erase(page->Offset());
    it = list.pages.erase(it);
    --page_count_;
  }
}

void TPageCache::Invalidate() {
  journal_.Close();
  for (List& list : lists_) {
    for (auto& page : list.pages) {
      page->SetOffset(0);
      page->Reset();
      page->ClearPins();
    }
    list.by_offset.Clear();
  }
  ledger_.Clear();
}

void TPageCache::UnpinAll() { ledger_.UnpinAll(); }

}  // namespace tessera
