// TDataFile: the lock levels, the change check and the file flush.  The protocol (which level
// takes which ranges, in which order, and who releases them) is the table in TDataFile.h.
#include <algorithm>
#include <random>
#include <utility>

#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/table/TDataFile.h"

namespace tessera {
namespace {

constexpr int kForward = 1;

uint32_t RandomReaderOffset() {
  thread_local std::mt19937 rng(std::random_device{}());
  const auto r = static_cast<uint32_t>(rng() % 65535);
  return kIndexReaderByteTop - (r == 0 ? 1 : r);
}

}  // namespace

TDataFile::ReadScope::ReadScope(TDataFile& table) : table_(table) {
  if (table_.scope_depth_ == 0) table_.CompletePendingCommit();
  if (++table_.scope_depth_ == 1 && table_.strict_change_detection_) {
    try {
      table_.TakeTransientRead(true);
    } catch (...) {
      --table_.scope_depth_;
      throw;
    }
  }
}

TDataFile::ReadScope::~ReadScope() {
  if (--table_.scope_depth_ == 0) table_.EndTransientRead();
}

// ---- settings -----------------------------------------------------------------------------------

void TDataFile::SetLockTuning(TLockTuning tuning) {
  lock_tuning_ = std::move(tuning);
  if (blob_file_ != nullptr) blob_file_->SetLockRetry(RegionRetry());
}

TLockRetry TDataFile::RegionRetry() const {
  return TLockRetry(lock_tuning_.region_retries, lock_tuning_.region_wait_ms, lock_tuning_.wait);
}

TLockRetry TDataFile::RecordRetry() const {
  return TLockRetry(lock_retry_count_, lock_wait_time_, lock_tuning_.wait);
}

// ---- change check -------------------------------------------------------------------------------

// The index counter alone decides: every commit of every workstation writes the index header,
// so a counter that did not move proves the data and blob files untouched as well, and one read
// serves the whole check.  A failed write whose reload failed too may have left header images in
// memory that never reached the disk, with counters another writer could meet: they are read
// again first.
bool TDataFile::ChangeCheck(bool reposition, bool with_blob) {
  bool moved = reload_pending_;
  ReloadIfPending();
  if (index_file_.CheckChanged()) {
    // The counter read is the index header's own from now on: a failure before the caches go
    // leaves a reload pending, which the next check makes, else none would see the move again.
    try {
      if (index_file_.StoredCommitMark() != 0) {
        RecoverPendingCommit();
        index_file_.ReadHeader();
      }
      index_file_.InvalidateCache();
      ReadHeader();
    } catch (...) {
      reload_pending_ = true;
      throw;
    }
    moved = true;
  }
  bool blob_moved = false;
  if (blob_file_ != nullptr) {
    if (with_blob) {
      // A blob file that changed moved the index counter too: unless that happened since the
      // last look at the blob counter, there is nothing to read.
      if (moved || blob_unchecked_) blob_moved = BlobChangeCheck();
    } else if (moved) {
      blob_file_->InvalidateCache();
      blob_unchecked_ = true;
    }
  }
  if (moved) {
    TRecordCache::Unpin(current_);
    current_ = nullptr;
    record_cache_.Invalidate();
    InvalidateMaps();
    // The cursor remembers its key and finds it (or the next one) again once the tree's version
    // moved, which InvalidateCache did; between operations that happens here, inside one the
    // operation's own next step does it.
    if (reposition) {
      UpdateMaps();
      LoadCurrentRecord(kForward);
    }
  }
  return moved || blob_moved;
}

bool TDataFile::BlobChangeCheck() {
  const bool moved = blob_file_->CheckChanged();
  if (moved) blob_file_->InvalidateCache();
  blob_unchecked_ = false;
  return moved;
}

// ---- read levels --------------------------------------------------------------------------------

bool TDataFile::TakeReaderBytes(bool with_blob) {
  TRangeLock index_byte(
      index_file_,
      [] {
        return TLockRange{RandomReaderOffset(), 1};
      },
      RegionRetry());
  if (!index_byte.Locked()) return false;
  if (with_blob && blob_file_ != nullptr && !blob_file_->ReadLock()) {
    return false;  // index_byte gives back
  }
  index_read_ = std::move(index_byte);
  return true;
}

bool TDataFile::ReleaseReaderBytes() {
  if (blob_file_ != nullptr && !blob_file_->ReadUnlock()) return false;
  return index_read_.Unlock();
}

bool TDataFile::TakeTransientRead(bool reposition, bool with_blob) {
  CompletePendingCommit();
  if (WithoutLocks() || held_read_ || write_level_) return false;
  if (transient_read_) {
    // Taken for records or pages alone: the blob byte after the index byte, as always.  The index
    // and data files cannot have moved since their check, while the index byte is held.
    if (!with_blob || blob_file_ == nullptr || blob_file_->ReadLockHeld()) return false;
    if (!blob_file_->ReadLock()) Fail(kErrLockFailure);
    return blob_unchecked_ && BlobChangeCheck();
  }
  if (!TakeReaderBytes(with_blob)) Fail(kErrLockFailure);
  transient_read_ = true;
  bool changed = false;
  try {
    changed = ChangeCheck(reposition, with_blob);
  } catch (...) {
    EndTransientRead();
    throw;
  }
  // Outside an operation there is nothing to hold it for.
  if (scope_depth_ == 0) EndTransientRead();
  return changed;
}

void TDataFile::EndTransientRead() noexcept {
  if (!transient_read_) return;
  // A refused release keeps the guards held; the next release, or the close, gives them back.
  if (held_read_ || ReleaseReaderBytes()) transient_read_ = false;
}

void TDataFile::LockRead() {
  CompletePendingCommit();
  if (WithoutLocks() || held_read_) return;
  if (transient_read_) {
    // The held level has the blob byte too, whatever the transient one took.
    if (blob_file_ != nullptr && !blob_file_->ReadLockHeld() && !blob_file_->ReadLock()) {
      Fail(kErrLockFailure);
    }
    transient_read_ = false;
  } else if (!TakeReaderBytes()) {
    Fail(kErrLockFailure);
  }
  held_read_ = true;
  try {
    ChangeCheck(scope_depth_ == 0);
  } catch (...) {
    // A level whose check failed is not held; a refused release is left to the close.
    if (ReleaseReaderBytes()) held_read_ = false;
    throw;
  }
}

void TDataFile::UnlockRead() {
  if (!held_read_) return;
  if (!ReleaseReaderBytes()) Fail(kErrLockFailure);
  held_read_ = false;
}

bool TDataFile::RefreshFromDisk() {
  if (!IsOpen()) return false;
  CompletePendingCommit();
  if (WithoutLocks() || held_read_ || write_level_) return ChangeCheck(scope_depth_ == 0);
  return TakeTransientRead(scope_depth_ == 0);
}

// ---- write level --------------------------------------------------------------------------------

// The handle's own reader bytes lie inside the write regions: they are given back first (a
// handle holding its read level would otherwise be refused by itself) and taken again after.
bool TDataFile::TakeWriteLevel() {
  CompletePendingCommit();
  if (WithoutLocks() || write_level_) return false;
  const bool own_read = held_read_ || transient_read_;
  if (own_read && !ReleaseReaderBytes()) Fail(kErrLockFailure);
  const TLockRetry retry = RegionRetry();
  TRangeLock semaphore(*this, {kDataSemaphoreOffset, 1}, retry);
  TRangeLock index_region;
  if (semaphore.Locked()) {
    index_region =
        TRangeLock(index_file_, {kIndexWriteRegionOffset, kIndexWriteRegionLength}, retry);
  }
  if (!index_region.Locked() || (blob_file_ != nullptr && !blob_file_->WriteLock())) {
    index_region.Unlock();
    semaphore.Unlock();
    if (own_read && !TakeReaderBytes()) {
      held_read_ = transient_read_ = false;
    }
    Fail(kErrLockFailure);
  }
  semaphore_ = std::move(semaphore);
  index_write_ = std::move(index_region);
  write_level_ = true;
  try {
    ReloadIfPending();
    ChangeCheck(true);
  } catch (...) {
    try {
      ReleaseWriteLevel();
    } catch (...) {
      // The check's own error is the one to report; what was refused stays with the guards.
    }
    throw;
  }
  return true;
}

void TDataFile::ReleaseWriteLevel(TRangeLock* record) {
  if (!write_level_) return;
  bool released = blob_file_ == nullptr || blob_file_->WriteUnlock();
  released = released && index_write_.Unlock();
  // The write's record lock lies a few bytes below the semaphore: one call gives back both, unless
  // this handle holds another lock between them (the platform then unlocks them one by one).  A
  // refused record lock stays with its guard; the level is released once the semaphore is.
  if (released) {
    if (record != nullptr) {
      TRangeLock::UnlockPair(semaphore_, *record);
    } else {
      semaphore_.Unlock();
    }
    released = !semaphore_.Locked();
  }
  if (!released) Fail(kErrLockFailure);
  write_level_ = false;
  if (held_read_ || transient_read_) {
    if (!TakeReaderBytes()) {
      held_read_ = transient_read_ = false;
      Fail(kErrLockFailure);
    }
    // Between the regions and the reader bytes another workstation may have committed; a held
    // level serves every read until it is released, so it learns of that now.  The transient one
    // ends with its operation, and the next one checks.
    if (held_read_) ChangeCheck(true);
  }
}

// ---- record and table locks ---------------------------------------------------------------------

bool TDataFile::HoldsRecordLock(uint32_t number) const {
  return std::any_of(record_locks_.begin(), record_locks_.end(),
                     [number](const HeldRecord& h) { return h.number == number; });
}

void TDataFile::LockRecord(uint32_t number) {
  if (WithoutLocks() || table_lock_.Locked()) return;
  ReadScope scope(*this);
  const bool current = number == 0;
  // The record meant is the one the caller stands on now: the change check below puts the
  // cursor on the nearest key when that record went, which must not stand in for it.
  uint32_t sequence = 0;
  if (current && current_ != nullptr) {
    number = current_->number;
    sequence = current_->Sequence();
  }
  TakeTransientRead(true);
  // Not held while waiting: the holder of the record may need the write level to post it.
  EndTransientRead();
  if (current) {
    if (number == 0) {
      if (current_ == nullptr) Fail(kErrRecordLocked);
      number = current_->number;
      sequence = current_->Sequence();
    }
    if (!CurrentIs(number, sequence)) Fail(kErrRecordNotFound);
  }
  if (HoldsRecordLock(number)) return;
  HeldRecord held{number, TRangeLock(*this, {kRecordLockBase - number, 1}, RecordRetry())};
  if (!held.lock.Locked()) Fail(kErrRecordLocked);
  // The record may have changed while this handle waited: the caches are checked again now that
  // no other writer can touch it, so the record reads as its last writer left it.
  TakeTransientRead(true);
  if (current && !CurrentIs(number, sequence)) {
    Fail(kErrRecordNotFound);  // `held` gives the byte back
  }
  record_locks_.push_back(std::move(held));
}

void TDataFile::UnlockRecord(uint32_t number) {
  if (WithoutLocks() || table_lock_.Locked()) return;
  if (number == 0) {
    if (current_ == nullptr) Fail(kErrCannotUnlock);
    number = current_->number;
  }
  const auto it = std::find_if(record_locks_.begin(), record_locks_.end(),
                               [number](const HeldRecord& h) { return h.number == number; });
  if (it == record_locks_.end() || !it->lock.Unlock()) Fail(kErrCannotUnlock);
  record_locks_.erase(it);
}

void TDataFile::LockTable() {
  if (WithoutLocks() || table_lock_.Locked()) return;
  TRangeLock lock(*this, {kTableLockOffset, kTableLockLength}, RecordRetry());
  if (!lock.Locked()) Fail(kErrFileLocked);
  // A writer may be in the middle of its commit: the headers are read under the read level.
  ReadScope scope(*this);
  TakeTransientRead(true);
  table_lock_ = std::move(lock);
}

void TDataFile::UnlockTable() {
  if (WithoutLocks() || !table_lock_.Locked()) return;
  if (!table_lock_.Unlock()) Fail(kErrCannotUnlock);
}

// Every range is tried; a refusal is left to the close of the file, which releases whatever its
// handle holds.
void TDataFile::ReleaseAllLocks() noexcept {
  if (held_read_) {
    if (ReleaseReaderBytes()) held_read_ = false;
  }
  table_lock_.Unlock();
  while (!record_locks_.empty()) {
    record_locks_.back().lock.Unlock();
    record_locks_.back().lock.Forget();
    record_locks_.pop_back();
  }
  if (transient_read_ && ReleaseReaderBytes()) transient_read_ = false;
  if (write_level_) {
    if (blob_file_ != nullptr) blob_file_->WriteUnlock();
    index_write_.Unlock();
    semaphore_.Unlock();
  }
  table_lock_.Forget();
  index_read_.Forget();
  index_write_.Forget();
  semaphore_.Forget();
  held_read_ = transient_read_ = write_level_ = false;
  scope_depth_ = 0;
}

// ---- flush --------------------------------------------------------------------------------------

void TDataFile::FlushFiles() {
  if (!IsOpen() || ReadOnly() || force_buffer_flush_) return;
  // What an exclusive handle holds goes down as one commit before the files are synced.
  if (Exclusive()) {
    ReleaseAllPins();
    try {
      CommitTransaction(false, false, false);
    } catch (...) {
      PinCurrentRecord();
      throw;
    }
    PinCurrentRecord();
  }
  Flush();
  if (index_file_.IsOpen()) index_file_.Flush();
  if (blob_file_ != nullptr && blob_file_->IsOpen()) blob_file_->Flush();
}

}  // namespace tessera
