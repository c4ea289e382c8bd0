#include "engine/storage/core/TRangeLock.h"

#include <utility>

#include "engine/storage/core/TFileHandler.h"

namespace tessera {

TRangeLock::TRangeLock(TFileHandler& file, TLockRange range, const TLockRetry& retry) {
  Take(
      file, [range] { return range; }, retry);
}

TRangeLock::TRangeLock(TFileHandler& file, const std::function<TLockRange()>& pick,
                       const TLockRetry& retry) {
  Take(file, pick, retry);
}

void TRangeLock::Take(TFileHandler& file, const std::function<TLockRange()>& pick,
                      const TLockRetry& retry) {
  for (int retries = 0;; ++retries) {
    range_ = pick();
    if (file.Lock(range_.offset, range_.length, true)) {
      file_ = &file;
      return;
    }
    if (retries >= retry.retries) return;
    if (retry.wait) {
      retry.wait(retry.wait_ms);
    } else {
      file.BusyWait(retry.wait_ms);
    }
  }
}

TRangeLock::~TRangeLock() {
  // A refusal cannot be reported here; the file's close releases the range (see the header).
  Unlock();
}

TRangeLock::TRangeLock(TRangeLock&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)), range_(other.range_) {}

TRangeLock& TRangeLock::operator=(TRangeLock&& other) noexcept {
  if (this != &other) {
    Unlock();  // as in the destructor, a refusal is left to the file's close
    file_ = std::exchange(other.file_, nullptr);
    range_ = other.range_;
  }
  return *this;
}

bool TRangeLock::Unlock() {
  if (file_ == nullptr) return true;
  if (!file_->Lock(range_.offset, range_.length, false)) return false;
  file_ = nullptr;
  return true;
}

bool TRangeLock::UnlockPair(TRangeLock& first, TRangeLock& second) {
  const platform::OsError error =
      first.file_ != nullptr && first.file_ == second.file_
          ? first.file_->UnlockPair(first.range_.offset, first.range_.length, second.range_.offset,
                                    second.range_.length)
          : platform::kErrorNotSupported;
  if (error == platform::kErrorSuccess) {
    first.file_ = second.file_ = nullptr;
    return true;
  }
  if (error != platform::kErrorNotSupported) return false;
  const bool released = first.Unlock();
  return second.Unlock() && released;
}

}  // namespace tessera
