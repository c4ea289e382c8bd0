#include "engine/storage/table/TRecordCache.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/table/DataFileFormat.h"

namespace tessera {

// ---- TRecord ------------------------------------------------------------------------------------

uint32_t TRecord::Link() const { return Deleted() ? cl::GetU32LE(buffer.data() + kRecLink) : 0; }

uint32_t TRecord::Sequence() const { return cl::GetU32LE(buffer.data() + kRecSequence); }

void TRecord::SetDeleted(bool deleted) {
  buffer[kRecDeleted] = deleted ? 1 : 0;
  SetDirty(true);
}

void TRecord::SetLink(uint32_t link) {
  cl::PutU32LE(buffer.data() + kRecLink, link);
  SetDirty(true);
}

void TRecord::SetSequence(uint32_t sequence) {
  cl::PutU32LE(buffer.data() + kRecSequence, sequence);
  SetDirty(true);
}

void TRecord::SetNumber(uint32_t n) {
  number = n;
  if (!Deleted()) SetLink(n);
}

// ---- TRecordCache -------------------------------------------------------------------------------

void TRecordCache::Configure(size_t data_start, size_t record_size, size_t buffer_size,
                             size_t capacity) {
  Drop();
  data_start_ = data_start;
  record_size_ = record_size;
  buffer_size_ = buffer_size;
  capacity_ = base_capacity_ = std::max<size_t>(capacity, 1);
  groups_.Configure(record_size);
}

TRecord* TRecordCache::Find(uint32_t number) {
  List::iterator* hit = by_number_.Find(number);
  if (hit == nullptr) return nullptr;
  list_.splice(list_.begin(), list_, *hit);
  return (*hit)->get();
}

TRecordCache::List::iterator TRecordCache::FindEvictable() {
  for (auto it = list_.end(); it != list_.begin();) {
    --it;
    const TRecord& r = **it;
    if (!r.Dirty() && r.PinCount() == 0 && !r.in_read) return it;
  }
  return list_.end();
}

TRecord* TRecordCache::Recycle(List::iterator it) {
  TRecord& r = **it;
  if (r.number != 0) by_number_.Erase(r.number);
  r.number = 0;
  r.SetOffset(0);
  r.ClearPins();
  r.SetDirty(false);
  r.computed = false;
  r.in_read = false;
  std::fill(r.buffer.begin(), r.buffer.end(), 0);
  list_.splice(list_.begin(), list_, it);
  return &r;
}

TRecord* TRecordCache::TakeFree(uint32_t number) {
  TRecord* r = nullptr;
  if (list_.size() < capacity_) {
    try {
      auto fresh = std::make_unique<TRecord>();
      fresh->buffer.assign(buffer_size_, 0);
      fresh->SetLedger(&ledger_);
      list_.push_front(std::move(fresh));
    } catch (const std::bad_alloc&) {
      host_.RaiseRecordError(kErrOutOfMemory);
    }
    r = list_.front().get();
  } else {
    auto it = FindEvictable();
    if (it == list_.end() && !host_.InExclusivePhase() && FlushDirty()) it = FindEvictable();
    if (it != list_.end()) {
      r = Recycle(it);
    } else {
      if (!host_.InExclusivePhase()) host_.RaiseRecordError(kErrRecordBufferCorrupt);
      capacity_ += kGrowth;
      return TakeFree(number);
    }
  }
  if (number != 0) {
    r->number = number;
    r->SetOffset(OffsetOf(number));
    by_number_.Insert(number, list_.begin());
  }
  return r;
}

TRecord* TRecordCache::ReadRecords(uint32_t number, uint32_t count, bool forward) {
  count = std::clamp<uint32_t>(count, 1, ReadLimit());
  if (!forward) count = std::min(count, number);
  const uint32_t first = forward ? number : number - count + 1;
  // Entries already cached keep their place; they must not be recycled for the records that
  // come with them.
  std::vector<TRecord*>& cached = read_entries_;
  cached.assign(count, nullptr);
  for (uint32_t i = 0; i < count; ++i) {
    List::iterator* hit = by_number_.Find(first + i);
    if (hit == nullptr) continue;
    cached[i] = (*hit)->get();
    cached[i]->in_read = true;
  }
  uint32_t got = 0;
  std::vector<uint8_t>& images = read_images_;
  try {
    images.resize(static_cast<size_t>(count) * record_size_);
    got = ReadImages(first, count, images.data());
  } catch (const std::bad_alloc&) {
    for (TRecord* r : cached) {
      if (r != nullptr) r->in_read = false;
    }
    host_.RaiseRecordError(kErrOutOfMemory);
  } catch (...) {
    for (TRecord* r : cached) {
      if (r != nullptr) r->in_read = false;
    }
    throw;
  }
  TRecord* wanted = nullptr;
  try {
    // Walked in the read's direction, so the wanted record ends up most recent.
    for (uint32_t step = 0; step < got; ++step) {
      const uint32_t i = forward ? got - 1 - step : step;
      TRecord* r = cached[i];
      if (r == nullptr) {
        r = TakeFree(first + i);
        r->in_read = true;
        cached[i] = r;
      } else if (r->PinCount() > 0 || r->Dirty()) {
        if (first + i == number) wanted = r;
        continue;
      }
      std::memcpy(r->buffer.data(), images.data() + static_cast<size_t>(i) * record_size_,
                  record_size_);
      if (!r->Deleted()) cl::PutU32LE(r->buffer.data() + kRecLink, r->number);
      r->SetDirty(false);
      r->computed = false;
      if (first + i == number) wanted = r;
    }
  } catch (...) {
    for (TRecord* r : cached) {
      if (r != nullptr) r->in_read = false;
    }
    throw;
  }
  for (TRecord* r : cached) {
    if (r != nullptr) r->in_read = false;
  }
  if (wanted != nullptr) Find(number);
  return wanted;
}

uint32_t TRecordCache::ReadImages(uint32_t first, uint32_t count, uint8_t* images) {
  if (count == 1 && groups_.GroupUnits() != 0) {
    if (groups_.Copy(first, images)) return 1;
    const bool read = groups_.ReadThrough(
        first, host_.GroupReadLimit(), images, [&](uint32_t from, uint32_t n, uint8_t* room) {
          ++reads_;
          return host_.ReadRecordImages(from, n, room, /*short_ok=*/true);
        });
    // Short of the wanted record: read alone, which reports what is wrong with it.
    if (read) return 1;
  }
  ++reads_;
  return host_.ReadRecordImages(first, count, images);
}

bool TRecordCache::FlushDirty() {
  std::vector<TRecord*> due = ledger_.DirtyEntries<TRecord>(
      [](const TRecord& r) { return r.PinCount() == 0 && !r.in_read && r.number != 0; });
  if (due.empty()) return false;
  try {
    WriteBackRuns(
        std::move(due), record_size_,
        [&](const TRecord& r, uint8_t* image) {
          std::memcpy(image, r.buffer.data(), record_size_);
        },
        [&](uint32_t offset, uint8_t* bytes, size_t length) {
          const uint32_t first = static_cast<uint32_t>((offset - data_start_) / record_size_) + 1;
          const uint32_t count = static_cast<uint32_t>(length / record_size_);
          // Patched before the write, which may encipher the images in place; a failed write
          // may have changed some of the bytes on disk, so its groups go.  A write that is later
          // given back leaves the clean buffers as wrong as the groups, and empties both.
          groups_.Patch(first, count, bytes);
          try {
            host_.WriteRecordImages(first, bytes, count);
          } catch (...) {
            groups_.Forget(first, count);
            throw;
          }
          ++writes_;
        });
  } catch (...) {
    ledger_.SweepDirty();
    throw;
  }
  ledger_.SweepDirty();
  return true;
}

void TRecordCache::Pin(TRecord* record) {
  if (!record->TryPin()) host_.RaiseRecordError(kErrRecordBufferCorrupt);
}

void TRecordCache::UnpinAll() { ledger_.UnpinAll(); }

void TRecordCache::Invalidate() {
  for (auto& r : list_) {
    r->number = 0;
    r->SetOffset(0);
    r->ClearPins();
    r->SetDirty(false);
    r->computed = false;
    r->in_read = false;
    std::fill(r->buffer.begin(), r->buffer.end(), 0);
  }
  ledger_.Clear();
  by_number_.Clear();
  groups_.Clear();
}

void TRecordCache::Drop() {
  ledger_.Clear();
  list_.clear();
  by_number_.Clear();
  groups_.Configure(record_size_);
  capacity_ = base_capacity_;
}

void TRecordCache::Shrink() {
  capacity_ = base_capacity_;
  for (auto it = list_.end(); list_.size() > capacity_ && it != list_.begin();) {
    --it;
    if ((*it)->Dirty() || (*it)->PinCount() > 0) continue;
    if ((*it)->number != 0) by_number_.Erase((*it)->number);
    it = list_.erase(it);
  }
}

void TRecordCache::ForgetComputed() {
  for (const std::unique_ptr<TRecord>& r : list_) r->computed = false;
}

}  // namespace tessera
