// A table file that begins with a header kept in memory, whose first field is a u32 change
// counter: the index and blob files.
//
// Other processes learn that a file changed by comparing its stored counter with the one in
// their copy of the header.  So every write of the header adds one to the counter, and records in
// a mark byte whether the writer's copy had changes; the whole image passes through the table
// cipher as one piece on an enciphered table.  CheckChanged is the other half: it reads only the
// stored counter and, when another process moved it, reloads the header through the descendant's
// own ReadHeader, which checks every field before keeping any.
//
// The descendant owns the header's layout (see IndexFormat.h and TBlobFile.h); `kSize` is its
// length and `kChangedMark` the offset of the mark byte.  Used from one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/TFileHandler.h"

namespace tessera {

template <size_t kSize, size_t kChangedMark>
class TCountedHeaderFile : public TFileHandler {
 public:
  static_assert(kChangedMark >= 4 && kChangedMark < kSize, "the counter takes bytes 0..3");

  // Reads the header image and checks it; raises the descendant's code for damage, keeping the
  // header it had.
  virtual void ReadHeader() = 0;

  // When forced or changed: the mark byte set from the changed flag, the counter + 1, and the
  // image written at offset 0; the changed flag is cleared.  A shared handle, whose every
  // commit goes through the journal, writes (and journals) only the bytes that differ from the
  // image last read or written, while that is the one this header came from (same counter); an
  // exclusive handle writes its header at every write into memory, whole.
  void WriteHeader(bool force) {
    if (!force && !header_changed_) return;
    const bool known = !Exclusive() && in_file_known_ && cl::GetU32LE(in_file_) == ChangeCounter();
    in_file_known_ = false;
    header_[kChangedMark] = header_changed_ ? 1 : 0;
    cl::PutU32LE(header_, ChangeCounter() + 1);
    WriteHeaderImage(header_, kSize, HeaderEnciphered(), known ? in_file_ : nullptr);
    if (!Exclusive()) KeepHeaderInFile();
    header_changed_ = false;
  }

  // Reads the stored counter; when it moved, re-reads the header and answers true.  The u32
  // after the counter, zero at rest, comes in the same read: when it is not zero a commit is in
  // flight or was interrupted (TCommitJournal.h), the header is left unread and the answer is
  // true; StoredCommitMark tells.
  bool CheckChanged() {
    const uint32_t counter = ReadStoredCounterAndMark(HeaderEnciphered(), stored_mark_);
    if (stored_mark_ != 0) return true;
    if (counter == ChangeCounter()) return false;
    ReadHeader();
    return true;
  }
  uint32_t StoredCommitMark() const { return stored_mark_; }

  uint32_t ChangeCounter() const { return cl::GetU32LE(header_); }
  bool HeaderChanged() const { return header_changed_; }

 protected:
  // Whether the table cipher covers the header.
  virtual bool HeaderEnciphered() const = 0;

  // The header as read or written: the descendant's ReadHeader forgets it first and keeps it when
  // the read is whole and sound.
  void KeepHeaderInFile() {
    std::memcpy(in_file_, header_, kSize);
    in_file_known_ = true;
  }
  void ForgetHeaderInFile() { in_file_known_ = false; }

  uint8_t header_[kSize] = {};
  bool header_changed_ = false;
  uint8_t in_file_[kSize] = {};
  bool in_file_known_ = false;
  uint32_t stored_mark_ = 0;
};

}  // namespace tessera
