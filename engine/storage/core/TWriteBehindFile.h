// A file whose writes, while it is told to hold them, stay in memory and reach the file beneath
// later in sorted runs: for a table file that one handle opened exclusively.
//
// Why.  An exclusive handle commits what came before at the start of every write, so that a
// write that fails half-way can go back to what the file holds (TDataFile.h).  On the disk that
// costs a dozen system calls per record (record, headers, every index page on the key paths, blob
// block), all of them rewriting the same few pages.  Nobody else can open the file meanwhile, so
// those commits may as well stay here: the table holds writes only around that commit
// (SetHolding), and they go down together, each piece once, when the held bytes pass a limit, on
// Sync, before a Truncate, on WriteHeld, before any write made while not holding (so that every
// other write of the table reaches the file as before, after what came earlier), and when the
// object goes.
//
// What the layers above see is the file as if every write had reached it: a read returns the held
// bytes over the file's own, zeros in a gap that a held write beyond the end left (as the disk
// would), and a size up to the end of the last held byte.  A failure of the file beneath shows
// when the bytes go down (a held write reports it only when it passed the limit, its own bytes
// then held like the rest), and every byte not yet confirmed stays held, so that a later attempt
// writes it again.  A process that dies loses what is held, as it loses
// an exclusive table's caches.
//
// Not for a file that another handle may read (a shared table: its readers look at the disk),
// nor for a write-through one.  Locks pass through.  Used by one thread, like the file beneath.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/File.h"

namespace tessera {

class TWriteBehindFile final : public platform::File {
 public:
  // Held bytes beyond which a write sends everything down.
  static constexpr size_t kDefaultLimit = size_t{2} << 20;

  // REQUIRES: `file` is not null.
  explicit TWriteBehindFile(std::unique_ptr<platform::File> file, size_t limit = kDefaultLimit);
  // Writes what is held; a failure here cannot be reported (the handler wrote it through
  // WriteHeld before closing, and reported that).
  ~TWriteBehindFile() override;

  platform::OsError ReadAt(int64_t offset, void* buffer, size_t count, size_t* done) override;
  platform::OsError WriteAt(int64_t offset, const void* buffer, size_t count,
                            size_t* done) override;
  platform::OsError Truncate(int64_t size) override;
  platform::OsError GetSize(int64_t* size) const override;
  platform::OsError Sync() override;
  platform::OsError Lock(uint64_t offset, uint64_t length) override {
    return file_->Lock(offset, length);
  }
  platform::OsError Unlock(uint64_t offset, uint64_t length) override {
    return file_->Unlock(offset, length);
  }

  // Writes every held byte to the file beneath, in runs of adjacent pieces; on failure the
  // pieces not yet written stay held and the error comes back.
  platform::OsError WriteHeld();
  // Forgets every held byte unwritten: only for a file deleted once closed.
  void DiscardHeld() noexcept {
    pieces_.clear();
    held_bytes_ = 0;
  }
  // While false (the start), writes go to the file beneath, after what is held.
  void SetHolding(bool holding) { holding_ = holding; }
  size_t HeldBytes() const { return held_bytes_; }

 private:
  // Held pieces by offset: none overlaps another.
  using Pieces = std::map<int64_t, std::vector<uint8_t>>;

  int64_t HeldEnd() const;
  // The piece that holds all of [offset, end), or pieces_.end().
  Pieces::iterator Holder(int64_t offset, int64_t end);

  std::unique_ptr<platform::File> file_;
  size_t limit_;
  bool holding_ = false;
  Pieces pieces_;
  size_t held_bytes_ = 0;
};

}  // namespace tessera
