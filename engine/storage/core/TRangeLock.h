// One byte-range lock of a table file, held by a guard that gives it back on every exit path.
//
// Locks are taken through TFileHandler::Lock, which tries once and never waits.  The guard makes
// the attempts: one, then up to `retries` more, waiting `wait_ms` before each retry (through the
// retry's own wait when a test gives one, else TFileHandler::BusyWait).  A reader's lock picks
// its range afresh for every attempt, so that readers who collide on a random byte draw again.
//
// How the lock layer uses it: a level that needs several ranges takes each into a local guard, in
// its fixed order; when a later range is refused, the guards already taken unlock as the function
// leaves.  Only when every range is held does the level move the guards into its members, which
// then stand for "this level is held" until the matching unlock.  A file that is closed loses its
// locks with it: Forget drops the guard's claim without a call.
//
//   not held --constructor, lock obtained--> held --Unlock (accepted) / Forget--> not held
//                                            held --destructor--> unlocked, then gone
//
// A refused Unlock leaves the guard held, so the caller can report it and try again.  The
// destructor cannot report a refusal: the range then stays locked until the file closes, which
// releases every lock of its handle.
//
// Not thread-safe; REQUIRES: the file outlives every guard of its ranges.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

namespace tessera {

class TFileHandler;

struct TLockRange {
  uint32_t offset = 0;
  uint32_t length = 0;
};

struct TLockRetry {
  TLockRetry() = default;
  TLockRetry(int retries, int32_t wait_ms, std::function<void(int32_t)> wait = {})
      : retries(retries), wait_ms(wait_ms), wait(std::move(wait)) {}

  int retries = 0;      // attempts after the first
  int32_t wait_ms = 0;  // before each retry
  // Waits `wait_ms` between attempts; empty: TFileHandler::BusyWait.  Tests give one that counts
  // (or frees the range) instead of waiting.
  std::function<void(int32_t)> wait;
};

class TRangeLock {
 public:
  // Holds nothing.
  TRangeLock() = default;
  // Tries `range` as the retry rule says; Locked() tells whether it was obtained.
  TRangeLock(TFileHandler& file, TLockRange range, const TLockRetry& retry);
  // The same with the range that `pick` gives for each attempt.
  TRangeLock(TFileHandler& file, const std::function<TLockRange()>& pick, const TLockRetry& retry);
  ~TRangeLock();
  TRangeLock(TRangeLock&& other) noexcept;
  // Unlocks what this guard held (a refusal is ignored, as in the destructor) and takes over.
  TRangeLock& operator=(TRangeLock&& other) noexcept;
  TRangeLock(const TRangeLock&) = delete;
  TRangeLock& operator=(const TRangeLock&) = delete;

  bool Locked() const { return file_ != nullptr; }
  // The range held (or last held).
  const TLockRange& Range() const { return range_; }

  // Gives the range back; True when it was accepted or nothing was held.  A refusal keeps it held.
  bool Unlock();
  // Gives back both guards' ranges, in one call when both are held on one file that can; as
  // Unlock for each otherwise.  True when both went; a refused range stays held.
  static bool UnlockPair(TRangeLock& first, TRangeLock& second);
  // Drops the claim without unlocking: the file's close has released the range.
  void Forget() { file_ = nullptr; }

 private:
  void Take(TFileHandler& file, const std::function<TLockRange()>& pick, const TLockRetry& retry);

  TFileHandler* file_ = nullptr;  // set while held
  TLockRange range_;
};

}  // namespace tessera
