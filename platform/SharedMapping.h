// A named block of memory shared by the processes of one user, whose first holder is decided by
// a lock.
//
// The block is the file map-<FNV-1a 64 of the name, hex> in the private directory
// (PrivateDirectory.h), mapped MAP_SHARED.  Why a lock decides who is first: a mapping file, unlike
// a kernel object that dies with its last handle, outlives a crashed process, so "the file exists"
// would make every later start believe an instance runs.  The holder that obtains flock(LOCK_EX)
// on the file is the first; the lock belongs to its open file description (opened O_CLOEXEC, never
// inherited by children) and goes away when that holder closes it or dies, even by kill -9.  The
// first holder zero-fills the block.  A second holder that opens the block while the first is
// between taking the lock and zero-filling it may still read the bytes of an earlier first holder
// (a handle of a dead process, which callers must treat as gone anyway).
//
// The file only grows (to the largest size asked for), so a holder never maps past its end.
// Thread contract: one object per thread, or the caller's own lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/OsError.h"

namespace platform {

class SharedMapping {
 public:
  SharedMapping() = default;
  ~SharedMapping();
  SharedMapping(const SharedMapping&) = delete;
  SharedMapping& operator=(const SharedMapping&) = delete;

  // Opens (creating when missing) the block `name` (any bytes) of `size` (> 0) bytes.  Returns 0,
  // or a Win32-style error number with nothing left open.  REQUIRES: not open.
  OsError Open(const std::string& name, size_t size);
  // Unmaps and closes; the first holder gives up its place.
  void Close();

  bool IsOpen() const { return data_ != nullptr; }
  // True when this holder obtained the lock, i.e. no other live holder had the block open.
  bool Created() const { return created_; }
  uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  int fd_ = -1;
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool created_ = false;
};

// The file name (without directory) a block name maps to.
std::string SharedMappingFileName(const std::string& name);

}  // namespace platform
