// The commit journal's checksum (TCommitJournal.h): what a journal is checked against before
// recovery applies it.  Its value is part of the journal format: every build, whatever the
// processor, must give the same one for the same bytes, since the journal one workstation wrote
// may be applied by another.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/File.h"

namespace tessera {

// The checksum of `count` bytes: four lanes of eight bytes, then the bytes past the last whole
// 32 one by one.
uint32_t JournalChecksum(const uint8_t* bytes, size_t count);

// The checksums of the slices, each from its own start, folded in order; the first slice from
// its byte `skip` (the journal's header holds the checksum itself).
// REQUIRES: count == 0 or slices[0].count >= skip.
uint32_t JournalSlicesChecksum(const platform::FileSlice* slices, size_t count, size_t skip);

}  // namespace tessera
