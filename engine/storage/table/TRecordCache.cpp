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
  chunk_entries_ = std::clamp<size_t>(kChunkBytes / std::max<size_t>(buffer_size, 1), 1, 256);
  groups_.Configure(record_size);
}

void TRecordCache::Unlink(TRecord* r) {
  (r->newer == nullptr ? newest_ : r->newer->older) = r->older;
  (r->older == nullptr ? oldest_ : r->older->newer) = r->newer;
  r->newer = r->older = nullptr;
}

void TRecordCache::PushNewest(TRecord* r) {
  r->newer = nullptr;
  r->older = newest_;
  (newest_ == nullptr ? oldest_ : newest_->newer) = r;
  newest_ = r;
}

TRecord* TRecordCache::Find(uint32_t number) {
  TRecord** hit = by_number_.Find(number);
  if (hit == nullptr) return nullptr;
  TRecord* r = *hit;
  if (r != newest_) {
    Unlink(r);
    PushNewest(r);
  }
  return r;
}

TRecord* TRecordCache::FindEvictable() {
  for (TRecord* r = oldest_; r != nullptr; r = r->newer) {
    if (!r->Dirty() && r->PinCount() == 0 && !r->in_read) return r;
  }
  return nullptr;
}

void TRecordCache::Clear(TRecord* r) {
  r->number = 0;
  r->SetOffset(0);
  r->ClearPins();
  r->SetDirty(false);
  r->computed = false;
  r->in_read = false;
  std::fill(r->buffer.begin(), r->buffer.end(), 0);
}

TRecord* TRecordCache::Recycle(TRecord* r) {
  if (r->number != 0) by_number_.Erase(r->number);
  Clear(r);
  if (r != newest_) {
    Unlink(r);
    PushNewest(r);
  }
  return r;
}

TRecord* TRecordCache::NewEntry() {
  const size_t index = made_ % chunk_entries_;
  if (index == 0) {
    Chunk chunk;
    chunk.records = std::make_unique<TRecord[]>(chunk_entries_);
    chunk.bytes = std::make_unique_for_overwrite<uint8_t[]>(chunk_entries_ * buffer_size_);
    chunks_.push_back(std::move(chunk));
  }
  TRecord* r = &chunks_.back().records[index];
  r->buffer = {chunks_.back().bytes.get() + index * buffer_size_, buffer_size_};
  std::fill(r->buffer.begin(), r->buffer.end(), 0);
  r->SetLedger(&ledger_);
  ++made_;
  return r;
}

TRecord* TRecordCache::TakeFree(uint32_t number) {
  TRecord* r = nullptr;
  if (size_ < capacity_) {
    if (spare_.empty()) {
      try {
        r = NewEntry();
      } catch (const std::bad_alloc&) {
        host_.RaiseRecordError(kErrOutOfMemory);
      }
    } else {
      r = spare_.back();
      spare_.pop_back();
    }
    PushNewest(r);
    ++size_;
  } else {
    TRecord* victim = FindEvictable();
    if (victim == nullptr && !host_.InExclusivePhase() && FlushDirty()) victim = FindEvictable();
    if (victim != nullptr) {
      r = Recycle(victim);
    } else {
      if (!host_.InExclusivePhase()) host_.RaiseRecordError(kErrRecordBufferCorrupt);
      capacity_ += kGrowth;
      return TakeFree(number);
    }
  }
  if (number != 0) {
    r->number = number;
    r->SetOffset(OffsetOf(number));
    by_number_.Insert(number, r);
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
    TRecord** hit = by_number_.Find(first + i);
    if (hit == nullptr) continue;
    cached[i] = *hit;
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

TRecord* TRecordCache::TakeFromGroup(uint32_t number) {
  const uint8_t* image = groups_.Image(number);
  if (image == nullptr) return nullptr;
  // Taking the entry may write dirty records back, which patches their groups in place.
  TRecord* r = TakeFree(number);
  std::memcpy(r->buffer.data(), image, record_size_);
  if (!r->Deleted()) cl::PutU32LE(r->buffer.data() + kRecLink, number);
  return r;
}

uint32_t TRecordCache::ReadImages(uint32_t first, uint32_t count, uint8_t* images) {
  if (count == 1 && groups_.GroupUnits() != 0) {
    if (groups_.Copy(first, images)) return 1;
    const bool read = groups_.ReadSpanThrough(
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
  for (TRecord* r = newest_; r != nullptr; r = r->older) Clear(r);
  ledger_.Clear();
  by_number_.Clear();
  groups_.Clear();
}

void TRecordCache::Drop() {
  ledger_.Clear();
  newest_ = oldest_ = nullptr;
  spare_.clear();
  chunks_.clear();
  made_ = size_ = 0;
  by_number_.Clear();
  groups_.Configure(record_size_);
  capacity_ = base_capacity_;
}

// The entries past the capacity go to the spares, whose memory stays with the chunks.
void TRecordCache::Shrink() {
  capacity_ = base_capacity_;
  for (TRecord* r = oldest_; size_ > capacity_ && r != nullptr;) {
    TRecord* const newer = r->newer;
    if (!r->Dirty() && r->PinCount() == 0) {
      if (r->number != 0) by_number_.Erase(r->number);
      Clear(r);
      Unlink(r);
      spare_.push_back(r);
      --size_;
    }
    r = newer;
  }
}

void TRecordCache::ForgetComputed() {
  for (TRecord* r = newest_; r != nullptr; r = r->older) r->computed = false;
}

}  // namespace tessera
