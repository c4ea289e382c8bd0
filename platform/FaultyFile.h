// Failures injected into one file, so that tests can see how the layers above answer a disk that
// fills up half-way through a write, a read that comes back short, a lock that somebody else
// holds or a flush that fails, without needing such a disk or such a neighbour.
//
// A FaultyFile wraps any File and passes every call through, except where the faults it shares
// with the test say otherwise.  The test keeps the FileFaults and may change them while the
// file is in use; the wrapper reads them at each call.  Only tests install faults: in production
// no FaultyFile is ever made.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/File.h"
#include "platform/OsError.h"

namespace platform {

struct FileFaults {
  // Each write moves at most this many bytes and then fails with `write_error`; -1: no limit.
  int64_t write_limit = -1;
  OsError write_error = kErrorDiskFull;
  // Each read returns at most this many bytes, as if the file ended there; -1: no limit.
  int64_t read_limit = -1;
  // Each read fails with this error, nothing read (a disk that cannot be read); 0: no fault.
  OsError read_error = kErrorSuccess;
  // Every byte-range lock attempt is refused, as if another handle held the range.
  bool refuse_locks = false;
  // Sync fails with this error; 0: no fault.
  OsError sync_error = kErrorSuccess;
  // Whoever opens files under these faults (the engine's file handler) fails with this error
  // before the file is touched; 0: no fault.  The wrapper itself never opens anything.
  OsError open_error = kErrorSuccess;
  // Writes and truncations of every file sharing these faults, counted from 1 as they come.  From
  // the one numbered `fail_write` on, writes fail with `write_error`, nothing written: with
  // kErrorDiskFull only those that need new space (past the file's end), as a full disk refuses
  // them, any other error all writes and truncations (a disk that cannot be written); `failed`
  // counts the refusals.  Every one after `stop_after` silently vanishes and reports success, as
  // if the process had been killed there (its state is then to be abandoned); -1: no fault.
  // `fail_count` limits the refusals to that many writes from `fail_write` on (a passing fault).
  int64_t fail_write = -1;
  int64_t fail_count = -1;
  int64_t stop_after = -1;
  // The write numbered `tear_write` moves only its first `tear_bytes` bytes and fails with
  // `write_error`, and every later one vanishes: a process killed between two pages of one write
  // (or a power cut) leaves such a prefix.  -1: no fault.
  int64_t tear_write = -1;
  size_t tear_bytes = 0;
  mutable int64_t failed = 0;
  mutable int64_t writes = 0;
  // Reads, lock attempts and unlocks that reached the wrapper: what a test counts to see how many
  // calls (round trips on a network share) an operation costs.
  mutable int64_t reads = 0;
  // The read numbered `fail_read` (as `reads` counts them) fails with kErrorIoDevice, nothing
  // read: a disk that refuses one read.  -1: no fault.
  int64_t fail_read = -1;
  mutable int64_t locks = 0;
  mutable int64_t unlocks = 0;
  // Called with the range after each unlock that reached the file: a test lets another handle
  // act in the gap the unlock opens.
  std::function<void(uint64_t offset, uint64_t length)> after_unlock;
};

class FaultyFile final : public File {
 public:
  // REQUIRES: file and faults are not null.
  FaultyFile(std::unique_ptr<File> file, std::shared_ptr<const FileFaults> faults);

  OsError ReadAt(int64_t offset, void* buffer, size_t count, size_t* done) override;
  OsError WriteAt(int64_t offset, const void* buffer, size_t count, size_t* done) override;
  OsError Truncate(int64_t size) override;
  OsError GetSize(int64_t* size) const override { return file_->GetSize(size); }
  OsError Sync() override;
  OsError Lock(uint64_t offset, uint64_t length) override;
  OsError Unlock(uint64_t offset, uint64_t length) override;
  // One call, unless the file beneath declines it (the two unlocks that follow are counted).
  OsError UnlockPair(uint64_t offset, uint64_t length, uint64_t second_offset,
                     uint64_t second_length) override;

 private:
  bool Intercepted(int64_t end, size_t count, size_t* done, OsError* answer) const;

  std::unique_ptr<File> file_;
  std::shared_ptr<const FileFaults> faults_;
};

}  // namespace platform
