// One open file as the layers above the seam see it: bytes read and written at an offset, a size
// that can be cut or extended, a flush, and byte-range locks.
//
// Nothing here keeps a position: every read and write names its offset, so no caller can forget
// a seek or be misled by another caller's.  Implementations: OsFile (a disk file, see
// platform/OsFile.h for the lock and share-mode hazards), the engine's in-memory files, and
// FaultyFile (platform/FaultyFile.h), which wraps any of them to inject failures in tests.
//
// Failures come back as Win32-style error numbers (platform/OsError.h).  An implementation is
// used by one thread at a time unless it says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/OsError.h"

namespace platform {

// Bytes that a gathered write takes from memory, one slice after another.
struct FileSlice {
  const void* data;
  size_t count;
};

class File {
 public:
  File() = default;
  virtual ~File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Reads up to `count` bytes at `offset`; `*done` tells how many arrived.  A short count
  // without error means the end of the file.  REQUIRES: offset >= 0.
  virtual OsError ReadAt(int64_t offset, void* buffer, size_t count, size_t* done) = 0;
  // Writes `count` bytes at `offset`, growing the file as needed; on error `*done` tells how far
  // the write got.  REQUIRES: offset >= 0.
  virtual OsError WriteAt(int64_t offset, const void* buffer, size_t count, size_t* done) = 0;
  // Writes the slices one after another from `offset`, as one write (one system call where the
  // file has one); `*done` as for WriteAt.  The default joins them and calls WriteAt.
  virtual OsError WriteSlicesAt(int64_t offset, const FileSlice* slices, size_t count,
                                size_t* done) {
    std::vector<uint8_t> joined;
    for (size_t i = 0; i < count; ++i) {
      const auto* bytes = static_cast<const uint8_t*>(slices[i].data);
      joined.insert(joined.end(), bytes, bytes + slices[i].count);
    }
    return WriteAt(offset, joined.data(), joined.size(), done);
  }
  // Sets the end of the file at `size`, cutting it or extending it with zeros.
  virtual OsError Truncate(int64_t size) = 0;
  virtual OsError GetSize(int64_t* size) const = 0;
  // Forces written bytes to stable storage.
  virtual OsError Sync() = 0;

  // One attempt at an exclusive lock on [offset, offset + length): never waits.  A range that
  // overlaps one already held (by any handle, this one included) fails with 33.
  virtual OsError Lock(uint64_t offset, uint64_t length) = 0;
  // Releases exactly a range that was locked; anything else fails with 158.
  virtual OsError Unlock(uint64_t offset, uint64_t length) = 0;
  // Releases two locked ranges in one call, or answers 50 (not supported) having released
  // nothing, and the caller unlocks them one by one.  Any other failure releases neither.
  virtual OsError UnlockPair(uint64_t /*offset*/, uint64_t /*length*/, uint64_t /*second_offset*/,
                             uint64_t /*second_length*/) {
    return kErrorNotSupported;
  }
};

}  // namespace platform
