// A file whose writes, while it is told to hold or stage them, stay in memory and reach the file
// beneath later in sorted runs: every writable disk file of a table.
//
// Why.  A commit of a table must reach its three files as one piece, also when the process dies
// half-way or the disk fills up (the commit journal, TCommitJournal.h); so nothing of a write may
// reach a file before its commit has been written whole to the journal.  Two sets of bytes are
// kept:
//   staged  the write under way (SetStaging): CommitStaged makes them held, DiscardStaged drops
//           them, which is how a failed write leaves nothing behind;
//   held    committed bytes that have not reached the file yet.  A shared handle writes them
//           through the journal at once; an exclusive handle keeps the commits of many writes
//           here (nobody else can open its files) and the table writes them down together,
//           through the journal, when they pass a limit, on a flush and at close.
// Writes made while neither holding nor staging go to the file beneath after what is held.  The
// layer never writes held bytes on its own, except before a truncation or a write made while not
// holding (operations that are not commits); what is held when it goes is dropped: an owner that
// wanted it wrote it first.
//
// What the layers above see is the file as if every write had reached it: a read returns the
// staged bytes over the held ones over the file's own, zeros in a gap that a write beyond the end
// left (as the disk would), and a size up to the end of the last byte kept.  A failure of the file
// beneath keeps every byte not yet confirmed, so that a later attempt writes it again.
//
// Beside the bytes, each set keeps the ranges where they may differ from what lies beneath them
// (held: the file; staged: the held bytes over the file).  A plain write counts all its bytes as
// changed; WriteChangedAt lets a writer that knows the bytes it replaces (an index page keeps its
// image as last read or written) name fewer, and the commit journal carries only those.  The
// ranges of two writes over the same bytes are united, so they stay a superset of the bytes that
// differ, whatever the order of writes, commits and discards.
//
// Locks pass through.  Used by one thread, like the file beneath.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "platform/File.h"

namespace tessera {

class TWriteBehindFile final : public platform::File {
 public:
  // Held bytes beyond which an exclusive table writes its commits down.
  static constexpr size_t kDefaultLimit = size_t{2} << 20;
  // Held and staged pieces sorted by offset: none overlaps another of its set.  A commit holds a
  // few, so a sorted array beats a tree's nodes at every step.
  using Piece = std::pair<int64_t, std::vector<uint8_t>>;
  using Pieces = std::vector<Piece>;
  // Bytes [from, to) of the file.
  struct Range {
    int64_t from;
    int64_t to;
  };
  // Sorted ranges, none touching another.
  using Ranges = std::vector<Range>;

  // REQUIRES: `file` is not null.
  explicit TWriteBehindFile(std::unique_ptr<platform::File> file);

  platform::OsError ReadAt(int64_t offset, void* buffer, size_t count, size_t* done) override;
  platform::OsError WriteAt(int64_t offset, const void* buffer, size_t count,
                            size_t* done) override;
  // WriteAt, where only the bytes in `changed` (sorted, inside the written bytes) may differ from
  // what this layer shows at their place now; the caller vouches for every other byte.
  platform::OsError WriteChangedAt(int64_t offset, const void* buffer, size_t count,
                                   std::span<const Range> changed, size_t* done);
  platform::OsError Truncate(int64_t size) override;
  platform::OsError GetSize(int64_t* size) const override;
  platform::OsError Sync() override;
  platform::OsError Lock(uint64_t offset, uint64_t length) override {
    return file_->Lock(offset, length);
  }
  platform::OsError Unlock(uint64_t offset, uint64_t length) override {
    return file_->Unlock(offset, length);
  }
  platform::OsError UnlockPair(uint64_t offset, uint64_t length, uint64_t second_offset,
                               uint64_t second_length) override {
    return file_->UnlockPair(offset, length, second_offset, second_length);
  }

  // Writes every held byte to the file beneath, in runs of adjacent pieces; on failure the
  // pieces not yet written stay held and the error comes back.
  platform::OsError WriteHeld();
  // Forgets every held byte unwritten (a commit that failed, or a file deleted once closed).
  void DiscardHeld() noexcept {
    Recycle(pieces_, 0, pieces_.size());
    held_bytes_ = 0;
    held_changes_.clear();
  }
  // While neither holding nor staging (the start), writes go to the file beneath, after what is
  // held.  Staging comes first.
  void SetHolding(bool holding) { holding_ = holding; }
  void SetStaging(bool staging) { staging_ = staging; }
  bool Staging() const { return staging_; }
  // The staged bytes become held (over what was held), or are forgotten.
  void CommitStaged();
  void DiscardStaged() noexcept {
    Recycle(staged_, 0, staged_.size());
    staged_bytes_ = 0;
    staged_changes_.clear();
  }
  size_t HeldBytes() const { return held_bytes_; }
  bool HasStaged() const { return !staged_.empty(); }
  const Pieces& Held() const { return pieces_; }
  // Where the held bytes may differ from the file beneath: a superset, possibly reaching past
  // them.  Past the end of the file beneath it says nothing (a writer may take the zeros this
  // layer shows in a gap for the file's): a reader takes every byte there.
  const Ranges& HeldChanges() const { return held_changes_; }
  // Adds [from, to) to `ranges`, merging what it overlaps or touches.
  static void AddRange(Ranges& ranges, int64_t from, int64_t to);
  // The file beneath, for the journal that writes the held bytes itself.
  platform::File& Beneath() { return *file_; }

 private:
  static int64_t EndOf(const Pieces& pieces);
  int64_t KeptEnd() const { return std::max(EndOf(pieces_), EndOf(staged_)); }
  // The first piece of `pieces` beginning after `offset`, or at or after it.
  static size_t UpperBound(const Pieces& pieces, int64_t offset);
  static size_t LowerBound(const Pieces& pieces, int64_t offset);
  // The piece of `pieces` that holds all of [offset, end), or pieces.size().
  static size_t Holder(const Pieces& pieces, int64_t offset, int64_t end);
  // The piece of `pieces` that ends where [offset, end) begins and may grow by it (no piece
  // overlaps it, it does not begin at the file's start, and the grown piece stays within its
  // bound), or pieces.size().
  static size_t Appendable(const Pieces& pieces, int64_t offset, int64_t end);
  // Whether a staged piece begins where the one before it ends.
  bool StagedPiecesTouch() const;
  // Stores the bytes in `pieces`, merging every piece they overlap; `total` counts the bytes kept.
  void Put(Pieces& pieces, size_t& total, int64_t offset, const uint8_t* bytes, size_t count);
  // Takes the pieces [first, last) out of `pieces`, keeping their buffers for later pieces.
  void Recycle(Pieces& pieces, size_t first, size_t last) noexcept;
  // A buffer for a new piece, empty, from the spares when there is one.
  std::vector<uint8_t> TakeSpare();
  // Copies what `pieces` hold of [offset, stop) over `bytes` (which starts at `offset`).
  static void Overlay(const Pieces& pieces, int64_t offset, int64_t stop, uint8_t* bytes);

  std::unique_ptr<platform::File> file_;
  bool holding_ = false;
  bool staging_ = false;
  Pieces pieces_;
  size_t held_bytes_ = 0;
  Pieces staged_;
  size_t staged_bytes_ = 0;
  Ranges held_changes_;
  Ranges staged_changes_;
  // Buffers of pieces given back: a shared handle writes the same few pages, records and headers
  // commit after commit, and need not allocate them each time.
  std::vector<std::vector<uint8_t>> spare_;
};

}  // namespace tessera
