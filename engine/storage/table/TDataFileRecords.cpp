// TDataFile: records through the record cache, slots, sequence numbers, and the three writes
// (insert, modify, delete) with their keys and blob values.  The stages of a write are described
// in TDataFile.h.
#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <optional>
#include <utility>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/TRangeLock.h"
#include "engine/storage/core/TWriteBehindFile.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/values/KeyEncoding.h"

namespace tessera {
namespace {

constexpr int kForward = 1;
constexpr int kBackward = 2;
constexpr uint32_t kLastAutoIncrement = 2147483647;

// Whether the file may grow to record `n`: n + 1 below 100,000,001, record size x n at most
// 2,000,000,000 bytes.
bool SlotFits(uint32_t n, uint32_t record_size) {
  return uint64_t{n} + 1 < 100000001 && uint64_t{record_size} * n <= 2000000000;
}

// Puts the index file back on the slot it had when the guard was made.
class SlotGuard {
 public:
  explicit SlotGuard(TIndexFile& file) : file_(file), saved_(file.CurrentSlot()) {}
  ~SlotGuard() { Restore(); }
  SlotGuard(const SlotGuard&) = delete;
  SlotGuard& operator=(const SlotGuard&) = delete;
  // A slot that was current is always accepted again, so this cannot raise.
  void Restore() noexcept { file_.SelectIndex(saved_); }
  uint8_t Saved() const { return saved_; }

 private:
  TIndexFile& file_;
  uint8_t saved_;
};

}  // namespace

// ---- lock guards of a write ---------------------------------------------------------------------

// The write level for the duration of one write (TakeWriteLevel: the data semaphore, the index
// and blob write regions, then the change check, so that the write starts from what other writers
// left).  An exclusive handle, or one opened without locks, takes nothing but a pending reload.
class TDataFile::WriteLevel {
 public:
  explicit WriteLevel(TDataFile& table) : table_(table) {
    taken_ = table.TakeWriteLevel();
    if (!taken_) table.ReloadIfPending();
  }
  ~WriteLevel() {
    if (!taken_) return;
    try {
      table_.ReleaseWriteLevel(&record_);
    } catch (...) {
      // A refused release keeps its guard held; the next write or the close gives it back.
    }
  }
  WriteLevel(const WriteLevel&) = delete;
  WriteLevel& operator=(const WriteLevel&) = delete;

  // The record lock of this write goes back with the semaphore (ReleaseWriteLevel).
  void Adopt(RecordLock& lock);

 private:
  TDataFile& table_;
  bool taken_ = false;
  TRangeLock record_;  // declared last: given back, when the release did not, before the rest
};

// The record lock of the record a write changes, for the duration of the write (10258 when
// another handle holds it); nothing when this handle holds it already, or the table lock.
// Modify and delete take it before the write level, as an edit does: waiting for it with the
// semaphore held would stall every writer until an editor that waits for the semaphore gave up.
class TDataFile::RecordLock {
 public:
  RecordLock(TDataFile& table, uint32_t number) : RecordLock(table, number, table.RecordRetry()) {
    if (!taken_) table.Fail(kErrRecordLocked);
  }
  // Tried as `retry` says; Taken() tells whether the write may go on.
  RecordLock(TDataFile& table, uint32_t number, const TLockRetry& retry) {
    if (table.WithoutLocks() || table.TableLocked() || table.HoldsRecordLock(number)) return;
    lock_ = TRangeLock(table, {kRecordLockBase - number, 1}, retry);
    taken_ = lock_.Locked();
  }
  bool Taken() const { return taken_; }
  TRangeLock& Guard() { return lock_; }

 private:
  TRangeLock lock_;
  bool taken_ = true;
};

// Given back with the semaphore at the latest, so that the next insert finds a freed slot
// unlocked.
void TDataFile::WriteLevel::Adopt(RecordLock& lock) { record_ = std::move(lock.Guard()); }

namespace {

// The store stage of a write: unless committed, `abandon` puts the handle back on the disk.
template <class Abandon>
class StoreStage {
 public:
  explicit StoreStage(Abandon abandon) : abandon_(std::move(abandon)) {}
  ~StoreStage() {
    if (!committed_) abandon_();
  }
  StoreStage(const StoreStage&) = delete;
  StoreStage& operator=(const StoreStage&) = delete;
  void Commit() { committed_ = true; }

 private:
  Abandon abandon_;
  bool committed_ = false;
};

}  // namespace

// ---- the cache's file access --------------------------------------------------------------------

uint32_t TDataFile::ReadRecordImages(uint32_t first, uint32_t count, uint8_t* records,
                                     bool short_ok) {
  const size_t record_size = header_.RecordSize();
  const int64_t offset = static_cast<int64_t>(header_.DataStart()) +
                         static_cast<int64_t>(first - 1) * static_cast<int64_t>(record_size);
  // Records appended by an exclusive handle may not be on disk yet.
  const bool allow_short = short_ok || Exclusive() || InExclusivePhase();
  const int32_t got =
      ReadAt(offset, records, static_cast<int32_t>(count * record_size), allow_short);
  const uint32_t whole = static_cast<uint32_t>(got / static_cast<int32_t>(record_size));
  if (header_.Encrypted()) {
    for (uint32_t i = 0; i < whole; ++i) {
      DecipherBuffer(records + i * record_size, record_size, kDataKeyA, kDataKeyB);
    }
  }
  return whole;
}

// A reader level held (or a file nobody may write) vouches for every record the header counted
// at its change check, not only the one wanted; outside it, and in an exclusive handle or phase
// whose records may not all be on disk, only the wanted record is read.
uint32_t TDataFile::GroupReadLimit() const {
  if (InMemory() || Exclusive() || InExclusivePhase() || write_level_) return 0;
  if (!transient_read_ && !held_read_ && !ReadOnlyAttribute()) return 0;
  return PhysicalRecordCount();
}

void TDataFile::WriteRecordImages(uint32_t first, uint8_t* records, uint32_t count) {
  const size_t record_size = header_.RecordSize();
  if (header_.Encrypted()) {
    for (uint32_t i = 0; i < count; ++i) {
      EncipherBuffer(records + i * record_size, record_size, kDataKeyA, kDataKeyB);
    }
  }
  const int64_t offset = static_cast<int64_t>(header_.DataStart()) +
                         static_cast<int64_t>(first - 1) * static_cast<int64_t>(record_size);
  WriteAt(offset, records, static_cast<int32_t>(count * record_size));
}

// ---- records ------------------------------------------------------------------------------------

TRecord* TDataFile::GetRecord(uint32_t number, bool sequential, int direction, bool use_index_count,
                              bool& retry) {
  return FetchRecord(number, sequential, direction, use_index_count, retry, false);
}

TRecord* TDataFile::FetchRecord(uint32_t number, bool sequential, int direction,
                                bool use_index_count, bool& retry, bool with_memos) {
  retry = false;
  if (number == 0) return nullptr;
  const uint32_t next = header_.NextRecord();
  if (number == next) {
    if (!SlotFits(number, header_.RecordSize())) Fail(kErrDataFileFull);
    TRecord* r = record_cache_.TakeFree(number);
    record_cache_.Pin(r);
    header_.SetNextRecord(next + 1);
    MarkHeaderChanged();
    return r;
  }
  // A record number past the file comes only from a damaged index.
  if (number > next) Fail(kErrRecordBufferCorrupt);
  if (TRecord* hit = record_cache_.Find(number)) {
    // A record read along with another one is served only while its values' blocks of that
    // moment are all still cached; else it is read again, with them, under a level of its own.
    if (!TakeReadAhead(number) || MemosCached(*hit)) {
      record_cache_.Pin(hit);
      return Computed(hit);
    }
    with_memos = true;
  }
  // A group holds the record as the last change check left it, like a record buffer: it costs
  // no level.  A record wanted with its memos is read under one, which brings them along; so is
  // one whose memos are not cached from that same moment, since a level taken to read them later
  // could show blocks another handle has since given to a new record in its slot.
  if (!with_memos && !strict_change_detection_) {
    const uint8_t* image = record_cache_.GroupImage(number);
    if (TRecord* r = image != nullptr && MemosCached(image, number)
                         ? record_cache_.TakeFromGroup(number)
                         : nullptr) {
      record_cache_.Pin(r);
      return Computed(r);
    }
  }
  if (!strict_change_detection_ && TakeReadLevel()) {
    retry = true;
    return nullptr;
  }
  const bool forward = direction != kBackward;
  // Wide computed fields make a cache of few buffers: a read never holds more than it can place.
  const uint32_t per_read = std::clamp<uint32_t>(PerReadMaximum(), 1, record_cache_.ReadLimit());
  uint32_t count = 1;
  if (sequential) {
    if (use_index_count && !physical_scan_) {
      count = 1 + index_file_.Cursor().CountSequential(per_read - 1, forward ? 1 : -1);
    } else {
      count = forward ? std::min(per_read, next - number) : std::min(per_read, number);
    }
  }
  TRecord* r = record_cache_.ReadRecords(number, count, forward);
  if (r == nullptr) Fail(kErrRecordBufferCorrupt);
  record_cache_.Pin(r);
  // Only under the level that read the records: a level taken afterwards could show a change and
  // clear the record just pinned.
  const bool under_level = transient_read_ || held_read_ || write_level_ || WithoutLocks();
  uint32_t ahead[kWalkReadAhead];
  uint32_t ahead_count = 0;
  try {
    // A walk along an index whose keys do not follow the record order reads the records of the
    // next keys too, each on its own, while this level is held: they then cost no level of their
    // own when the walk reaches them.  On a table with blob values only while the walk reads them,
    // so that those records come with their memos, of the same moment.
    if (walking_ && under_level && sequential && use_index_count && !physical_scan_ && count == 1 &&
        (blob_file_ == nullptr || with_memos)) {
      const uint32_t limit =
          std::min<uint32_t>(kWalkReadAhead, static_cast<uint32_t>(RecordCacheCapacity() / 4));
      const uint32_t found = index_file_.Cursor().FollowingRecords(limit, forward ? 1 : -1, ahead);
      for (uint32_t i = 0; i < found; ++i) record_cache_.PrefetchImage(ahead[i]);
      for (uint32_t i = 0; i < found; ++i) {
        const uint32_t n = ahead[i];
        if (n >= header_.NextRecord() || record_cache_.Peek(n) != nullptr) continue;
        // A short read is damage, which the walk reports when it reaches that record.
        if (record_cache_.TakeFromGroup(n) != nullptr ||
            record_cache_.ReadRecords(n, 1, forward) != nullptr) {
          ahead[ahead_count++] = n;
        }
      }
      record_cache_.Find(number);  // the wanted record stays the most recent
    }
    if (with_memos && blob_file_ != nullptr && under_level) {
      TakeBlobReadLevel();  // the blob byte joins the level; a moved blob file drops its cache
      const uint32_t first = forward ? number : number - count + 1;
      PrefetchBlobBlocks(first, count, ahead, ahead_count);
      read_ahead_.clear();
      for (uint32_t n = first; n - first < count; ++n) {
        if (n != number) read_ahead_.push_back(n);
      }
      read_ahead_.insert(read_ahead_.end(), ahead, ahead + ahead_count);
    }
  } catch (...) {
    TRecordCache::Unpin(r);
    throw;
  }
  return Computed(r);
}

void TDataFile::PrefetchBlobBlocks(uint32_t first, uint32_t count, const uint32_t* more,
                                   uint32_t more_count) {
  std::vector<uint32_t>& offsets = prefetch_offsets_;
  offsets.clear();
  auto add = [&](uint32_t n) {
    const TRecord* r = record_cache_.Peek(n);
    if (r == nullptr || r->Deleted()) return;
    for (const TFieldDefinition& f : table_fields_) {
      if (!f.IsBlob()) continue;
      const int32_t stored = cl::GetI32LE(r->buffer.data() + f.offset + 1);
      if (stored > 0) offsets.push_back(static_cast<uint32_t>(stored));
    }
  };
  for (uint32_t n = first; n - first < count; ++n) add(n);
  for (uint32_t i = 0; i < more_count; ++i) add(more[i]);
  blob_file_->PrefetchBlocks(offsets);
}

bool TDataFile::TakeReadAhead(uint32_t number) {
  const auto it = std::find(read_ahead_.begin(), read_ahead_.end(), number);
  if (it == read_ahead_.end()) return false;
  read_ahead_.erase(it);
  return true;
}

bool TDataFile::MemosCached(const TRecord& record) const {
  return record.Dirty() || MemosCached(record.buffer.data(), record.number);
}

bool TDataFile::MemosCached(const uint8_t* image, uint32_t number) const {
  if (blob_file_ == nullptr || image[kRecDeleted] != 0) return true;
  for (const TFieldDefinition& f : table_fields_) {
    if (!f.IsBlob()) continue;
    const int32_t stored = cl::GetI32LE(image + f.offset + 1);
    if (stored > 0 && !blob_file_->ValueCached(static_cast<uint32_t>(stored), number)) {
      return false;
    }
  }
  return true;
}

TRecord* TDataFile::Computed(TRecord* record) {
  if (has_computed_fields_ && !record->computed && !record->Deleted()) {
    try {
      ComputeFields(record->buffer.data());
    } catch (...) {
      TRecordCache::Unpin(record);
      throw;
    }
    record->computed = true;
  }
  return record;
}

void TDataFile::LoadCurrentRecord(int direction) {
  TIndexCursor& cursor = index_file_.Cursor();
  const bool with_memos = std::exchange(blob_loaded_, false);
  for (;;) {
    TRecordCache::Unpin(current_);
    current_ = nullptr;
    const uint32_t number = cursor.CurrentRecordNumber();
    if (number == 0) return;
    // Only an insert makes a new slot; an index entry past the last slot is damage.
    if (number >= header_.NextRecord()) Fail(kErrRecordBufferCorrupt);
    bool retry = false;
    TRecord* r = FetchRecord(number, true, direction, true, retry, with_memos);
    if (!retry) {
      current_ = r;
      return;
    }
  }
}

uint32_t TDataFile::NewRecordSlot() const {
  const uint32_t head = header_.DeletedHead();
  return head == 0 || NeverReusesSlots() ? header_.NextRecord() : head;
}

uint32_t TDataFile::NextAutoIncrement() const {
  const uint32_t last = header_.LastAutoIncrement();
  return last >= kLastAutoIncrement ? 1 : last + 1;
}

void TDataFile::ReleaseAllPins() {
  record_cache_.UnpinAll();
  index_file_.UnpinAll();
  if (blob_file_ != nullptr) blob_file_->UnpinAll();
}

void TDataFile::PinCurrentRecord() {
  if (current_ != nullptr) record_cache_.Pin(current_);
}

void TDataFile::BuildSysDeletedKey(const uint8_t* record, uint8_t* key) {
  key[0] = record[kRecDeleted];
  EncodeInt32Key(static_cast<int32_t>(cl::GetU32LE(record + kRecSequence)), key + 1);
}

TDataFile::TSlotSet TDataFile::MaintainedSlots() const {
  TSlotSet slots;
  if (!index_file_.NoPrimaryFields()) slots.slot[slots.count++] = 0;
  const int secondary = std::min<int>(index_file_.SecondaryCount(), kMaxSecondaryIndexes);
  for (int s = 1; s <= secondary; ++s) slots.slot[slots.count++] = static_cast<uint8_t>(s);
  return slots;
}

uint8_t* TDataFile::KeyScratch(size_t count) {
  if (key_scratch_.size() < count * kMaxKeyLength) key_scratch_.resize(count * kMaxKeyLength);
  return key_scratch_.data();
}

// ---- reload -----------------------------------------------------------------------------------

void TDataFile::Reload() {
  TRecordCache::Unpin(current_);
  current_ = nullptr;
  record_cache_.Invalidate();
  record_cache_.Shrink();
  ReadHeader();
  // Pages of committed writes may be only in memory (a failed store rolled its own back first).
  if (KeepsIndexPages()) index_file_.WriteDirtyPages();
  index_file_.InvalidateCache();
  index_file_.ReadHeader();
  if (blob_file_ != nullptr) {
    blob_file_->InvalidateCache();
    blob_file_->ReadHeader();
  }
  InvalidateMaps();
}

void TDataFile::Restore() noexcept {
  reload_pending_ = true;
  try {
    Reload();
    reload_pending_ = false;
    LoadCurrentRecord(kForward);
  } catch (...) {
    // The write's own error is on its way to the caller.  A reload that fails as well (the disk
    // unreadable for a moment) stays pending: the next write reloads before it starts, so no
    // header or page changed by the failed write can be committed with it.
  }
}

std::vector<TBlobFile::TOpenBlobState> TDataFile::OpenBlobStates() const {
  if (blob_file_ == nullptr) return {};
  return blob_file_->OpenBlobStates();
}

void TDataFile::AbandonStore(uint8_t slot, const std::vector<TBlobFile::TOpenBlobState>& states,
                             const std::vector<int32_t>& handles) noexcept {
  index_file_.RollBackStore();
  index_file_.SelectIndex(slot);
  EndStaging(false);
  Restore();
  if (blob_file_ == nullptr) return;
  // The open values lose what the failed save did to them, so the next attempt saves them
  // whole; values this write opened for itself are forgotten.
  blob_file_->RestoreOpenBlobStates(states);
  for (int32_t handle : handles) {
    uint32_t first = 0;
    blob_file_->CloseBlob(handle, first);
  }
}

void TDataFile::ReloadIfPending() {
  if (!reload_pending_) return;
  Reload();
  reload_pending_ = false;
}

void TDataFile::CommitBeforeWrite() {
  CompletePendingCommit();
  // A failed write whose reload failed as well left its changes in memory: they must not be
  // committed now.
  ReloadIfPending();
  ReleaseAllPins();
  try {
    CommitParts(false, false, false, !KeepsIndexPages());
    // The held commits go down together, through the journal, once they are large (or every
    // time when each must reach the disk); a refused attempt is made again by every write.
    if (commit_failed_ || force_buffer_flush_ || HeldBytes() > TWriteBehindFile::kDefaultLimit) {
      WriteCommittedWithPages();
    }
  } catch (...) {
    PinCurrentRecord();
    throw;
  }
  PinCurrentRecord();
}

void TDataFile::BeginStore() {
  StageWrites();
  if (KeepsIndexPages()) index_file_.BeginStore();
}

void TDataFile::EndStore() {
  index_file_.EndStore();
  EndStaging(true);
}

void TDataFile::CommitWrite() {
  if (Exclusive() || ReadOnlyAttribute() || InExclusivePhase()) return;
  CommitParts(false, true, true, true);
  EndStaging(true);
  WriteCommitted();
}

// The commit of a write, still under its store's guard: a commit refused gives everything back
// like a failed store, and nothing of it is applied later.
void TDataFile::CommitUnderStore() {
  ReleaseAllPins();
  try {
    CommitWrite();
  } catch (...) {
    PinCurrentRecord();
    throw;
  }
  EndStore();
}

void TDataFile::CheckCurrentIsStill(uint32_t number, uint32_t sequence) {
  if (number == 0) Fail(kErrRecordNotFound);
  if (current_ == nullptr || current_->number != number) LoadCurrentRecord(kForward);
  // The sequence number tells a record from a later one that took its slot.
  if (!CurrentIs(number, sequence)) Fail(kErrRecordNotFound);
}

void TDataFile::TakeBlobValues(uint32_t record_number, uint8_t* record) {
  if (blob_file_ == nullptr) return;
  blob_file_->SetBlobRecordNumber(record_number);
  blob_file_->SaveOpenBlobs();
  StoreBlobOffsets(record);
}

// ---- the three writes ---------------------------------------------------------------------------

void TDataFile::InsertRecord(uint8_t* buffer) {
  if (ReadOnly()) Fail(kErrAccessDenied);
  if (Exclusive() && !deferred_commit_) CommitBeforeWrite();
  // The slot is known only under the write level, but its lock is not waited for under it: a
  // handle that locked the record just before it went waits for a read level, which the write
  // level keeps out.  The lock is tried once under the level and waited for without it.
  std::optional<WriteLevel> level;
  uint32_t slot = 0;
  bool append = false;
  for (int waits = 0;; ++waits) {
    level.emplace(*this);
    slot = NewRecordSlot();
    append = slot == header_.NextRecord();
    if (append && !SlotFits(slot, header_.RecordSize())) Fail(kErrDataFileFull);
    RecordLock slot_lock(*this, slot, TLockRetry());
    if (slot_lock.Taken()) {
      level->Adopt(slot_lock);
      break;
    }
    level.reset();
    const TLockRetry slot_retry = RecordRetry();
    if (waits >= slot_retry.retries) Fail(kErrRecordLocked);
    if (slot_retry.wait) {
      slot_retry.wait(slot_retry.wait_ms);
    } else {
      BusyWait(slot_retry.wait_ms);
    }
  }
  ValidateRecord(buffer);
  SlotGuard slot_guard(index_file_);
  const uint32_t sequence = NextAutoIncrement();
  cl::PutU32LE(buffer + kRecSequence, sequence);

  // Locate: every key built and checked before anything is stored.
  const TSlotSet slots = MaintainedSlots();
  uint8_t* const keys = KeyScratch(slots.size());
  for (size_t i = 0; i < slots.size(); ++i) {
    uint8_t* key = keys + i * kMaxKeyLength;
    BuildKey(buffer, key, slots[i]);
    if (!no_key_check_) {
      index_file_.SelectIndex(slots[i]);
      index_file_.CheckKeyViolation(key);
    }
  }

  // Store.
  const std::vector<TBlobFile::TOpenBlobState> blob_states = OpenBlobStates();
  BeginStore();
  StoreStage store([&] { AbandonStore(slot_guard.Saved(), blob_states, {}); });
  for (size_t i = 0; i < slots.size(); ++i) {
    index_file_.SelectIndex(slots[i]);
    index_file_.InsertKey(keys + i * kMaxKeyLength, slot);
  }
  bool retry = false;
  TRecord* entry = nullptr;
  do {
    entry = GetRecord(slot, false, kForward, false, retry);
  } while (retry);
  uint8_t new_sys[kSysDeletedKeyLength];
  new_sys[0] = 0;
  EncodeInt32Key(static_cast<int32_t>(sequence), new_sys + 1);
  if (!append) {
    header_.SetDeletedHead(entry->Link());
    MarkHeaderChanged();
  }
  if (!NeverReusesSlots()) {
    index_file_.SelectIndex(kSysDeletedSlot);
    if (append) {
      index_file_.InsertKey(new_sys, slot);
    } else {
      uint8_t old_sys[kSysDeletedKeyLength];
      BuildSysDeletedKey(entry->buffer.data(), old_sys);
      index_file_.ModifyKey(old_sys, new_sys, slot);
    }
  }
  std::fill(entry->buffer.begin(), entry->buffer.end(), 0);
  header_.SetLastAutoIncrement(sequence);
  MarkHeaderChanged();
  entry->SetNumber(slot);
  std::memcpy(entry->buffer.data() + kRecFields, buffer + kRecFields,
              GetRecordBufferSize() - kRecFields);
  entry->SetSequence(sequence);
  index_file_.IncRecordCount();
  TakeBlobValues(slot, entry->buffer.data());
  TRecordCache::Unpin(current_);
  current_ = entry;
  CommitUnderStore();
  store.Commit();
  PinCurrentRecord();
  slot_guard.Restore();
  UpdateMapsFor(slot, current_->buffer.data(), true);
  ResyncWritten();
}

void TDataFile::ModifyRecord(uint8_t* buffer, bool unlock_after, bool update_filters) {
  if (ReadOnly()) Fail(kErrAccessDenied);
  const uint32_t number = current_ != nullptr ? current_->number : 0;
  const uint32_t sequence = current_ != nullptr ? current_->Sequence() : 0;
  if (Exclusive() && !deferred_commit_) CommitBeforeWrite();
  if (number == 0) Fail(kErrRecordNotFound);
  RecordLock record_lock(*this, number);
  WriteLevel level(*this);
  level.Adopt(record_lock);
  CheckCurrentIsStill(number, sequence);
  ValidateRecord(buffer);
  SlotGuard slot_guard(index_file_);
  std::memcpy(buffer + kRecSequence, current_->buffer.data() + kRecSequence, 4);

  // Locate: the keys that change, checked before anything is stored.
  const TSlotSet slots = MaintainedSlots();
  uint8_t* const old_keys = KeyScratch(2 * slots.size());
  uint8_t* const new_keys = old_keys + slots.size() * kMaxKeyLength;
  std::array<bool, kMaxSecondaryIndexes + 1> changed{};
  for (size_t i = 0; i < slots.size(); ++i) {
    uint8_t* old_key = old_keys + i * kMaxKeyLength;
    uint8_t* new_key = new_keys + i * kMaxKeyLength;
    // Decoded once for both keys and their length.
    const TIndexDescriptor d = index_file_.GetIndexDescriptor(slots[i]);
    BuildKey(current_->buffer.data(), old_key, slots[i], d);
    BuildKey(buffer, new_key, slots[i], d);
    changed[i] = std::memcmp(old_key, new_key, d.key_length) != 0;
    if (changed[i] && !no_key_check_) {
      index_file_.SelectIndex(slots[i]);
      index_file_.CheckKeyViolation(new_key);
    }
  }

  // Store.
  const std::vector<TBlobFile::TOpenBlobState> blob_states = OpenBlobStates();
  BeginStore();
  StoreStage store([&] { AbandonStore(slot_guard.Saved(), blob_states, {}); });
  for (size_t i = 0; i < slots.size(); ++i) {
    if (!changed[i]) continue;
    index_file_.SelectIndex(slots[i]);
    index_file_.ModifyKey(old_keys + i * kMaxKeyLength, new_keys + i * kMaxKeyLength, number);
  }
  std::memcpy(current_->buffer.data() + kRecFields, buffer + kRecFields,
              GetRecordBufferSize() - kRecFields);
  current_->SetDirty(true);
  current_->computed = false;
  TakeBlobValues(number, current_->buffer.data());
  CommitUnderStore();
  store.Commit();
  PinCurrentRecord();
  slot_guard.Restore();
  UpdateMapsFor(number, current_->buffer.data(), update_filters);
  ResyncWritten();
  if (unlock_after && HoldsRecordLock(number)) UnlockRecord(number);
}

void TDataFile::DeleteRecord(bool /*update_filters*/) {
  // A deleted record leaves every map whatever the flag says: it is not live any more.
  if (ReadOnly()) Fail(kErrAccessDenied);
  const uint32_t number = current_ != nullptr ? current_->number : 0;
  const uint32_t sequence = current_ != nullptr ? current_->Sequence() : 0;
  if (Exclusive() && !deferred_commit_) CommitBeforeWrite();
  if (number == 0) Fail(kErrRecordLocked);
  RecordLock record_lock(*this, number);
  WriteLevel level(*this);
  level.Adopt(record_lock);
  CheckCurrentIsStill(number, sequence);
  SlotGuard slot_guard(index_file_);
  const std::vector<uint8_t> copy(current_->buffer.begin(), current_->buffer.end());
  const TSlotSet slots = MaintainedSlots();

  // Store (a missing key, 8708, is damage found on the way).
  const std::vector<TBlobFile::TOpenBlobState> blob_states = OpenBlobStates();
  std::vector<int32_t> handles;  // the values this delete opened
  BeginStore();
  StoreStage store([&] { AbandonStore(slot_guard.Saved(), blob_states, handles); });
  uint8_t key[kMaxKeyLength];
  for (uint8_t slot : slots) {
    BuildKey(copy.data(), key, slot);
    index_file_.SelectIndex(slot);
    index_file_.DeleteKey(key, number);
  }
  if (!NeverReusesSlots()) {
    uint8_t old_sys[kSysDeletedKeyLength];
    BuildSysDeletedKey(copy.data(), old_sys);
    uint8_t new_sys[kSysDeletedKeyLength];
    std::memcpy(new_sys, old_sys, kSysDeletedKeyLength);
    new_sys[0] = 1;
    index_file_.SelectIndex(kSysDeletedSlot);
    index_file_.ModifyKey(old_sys, new_sys, number);
  }
  index_file_.DecRecordCount();
  if (blob_file_ != nullptr) {
    for (const TFieldDefinition& f : table_fields_) {
      if (!f.IsBlob()) continue;
      const int32_t first = static_cast<int32_t>(cl::GetU32LE(copy.data() + f.offset + 1));
      if (first <= 0) continue;
      int32_t handle = 0;
      uint16_t code = blob_file_->OpenBlob(number, f.number, static_cast<uint32_t>(first), handle);
      if (code == 0) {
        handles.push_back(handle);
        code = blob_file_->TruncateBlob(handle, 0);
      }
      if (code != 0) Fail(code);
    }
    blob_file_->SetBlobRecordNumber(number);
    blob_file_->SaveOpenBlobs();
    for (int32_t handle : handles) {
      uint32_t first = 0;
      blob_file_->CloseBlob(handle, first);
    }
    handles.clear();
    // A deleted slot keeps no reference to blocks that are free now.
    for (const TFieldDefinition& f : table_fields_) {
      if (f.IsBlob()) std::memset(current_->buffer.data() + f.offset, 0, 1u + f.stored_size);
    }
  }
  current_->SetDeleted(true);
  current_->SetLink(NeverReusesSlots() ? 0 : header_.DeletedHead());
  header_.SetDeletedHead(number);
  MarkHeaderChanged();
  CommitUnderStore();
  store.Commit();
  // A lock this handle held on the record (an edit that ended in a delete) would keep every
  // other handle from inserting into the freed slot; the delete stands even if it is refused.
  if (HoldsRecordLock(number)) {
    try {
      UnlockRecord(number);
    } catch (const std::exception&) {
      // Kept in the list: the close gives it back.
    }
  }
  PinCurrentRecord();
  slot_guard.Restore();
  UpdateMapsFor(number, nullptr, false);
  Resync();
}

}  // namespace tessera
