// Failures injected into the file layer, so that tests can see how the layers above answer a
// disk that fills up half-way through a write, a read that comes back short, or a lock that
// somebody else holds, without needing such a disk or such a neighbour.
//
// The faults apply to every OsFile of the process while a ScopedFileFaults lives; nothing is
// injected otherwise, and production code never creates one.
#pragma once

#include <cstdint>

#include "platform/OsError.h"

namespace platform {

struct FileFaults {
  // Each write moves at most this many bytes and then fails with `write_error`; -1: no limit.
  int64_t write_limit = -1;
  OsError write_error = kErrorDiskFull;
  // Each read returns at most this many bytes, as if the file ended there; -1: no limit.
  int64_t read_limit = -1;
  // Every byte-range lock attempt is refused, as if another handle held the range.
  bool refuse_locks = false;
  // Opening or creating a file fails with this error before the file is touched; 0: no fault.
  OsError open_error = kErrorSuccess;
};

// Installs `faults` for its lifetime; guards do not nest.
class ScopedFileFaults {
 public:
  explicit ScopedFileFaults(const FileFaults& faults);
  ~ScopedFileFaults();
  ScopedFileFaults(const ScopedFileFaults&) = delete;
  ScopedFileFaults& operator=(const ScopedFileFaults&) = delete;
};

// True, with the faults in force, while a ScopedFileFaults lives.
bool ActiveFileFaults(FileFaults* faults);

}  // namespace platform
