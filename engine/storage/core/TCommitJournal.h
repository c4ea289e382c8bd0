// The commit journal of a table: the side file that makes a commit reach the table's files as one
// piece, whatever happens to the writer on the way.
//
// A commit is what the write-behind layers of the table's files hold (TWriteBehindFile.h).  Commit
// writes it:
//
//   1. of every held piece of every file, the bytes that may differ from the file (all of them
//      for write-through files), with each file's length before and after, into the journal
//      file beside the table, in ONE write: a header with a checksum, the pieces, and a complete
//      mark at the end;
//   2. the commit mark: a non-zero u32 into the four bytes after the change counter of the marked
//      file's header (the index file's), which are zero at rest;
//   3. the pieces that lengthen a file, then those that overwrite it in place, each file's pieces
//      in offset order in runs;
//   4. the marked file's header piece (its mark zero again) last, or the four zero bytes alone.
//
// Recovery rule (Recover, which its caller runs under the table's write level or on an exclusive
// open): a marked file means a commit was interrupted between 2 and 4.  A journal that is whole
// (lengths, complete mark, checksum) and names that mark is applied again from the start, which
// brings every file to the state after the commit (the pieces are after-images, so applying them
// twice does no harm; a byte left out of them is the same before and after), each file cut to its
// length after the commit; any other journal is
// dropped with the mark.  Without the mark the journal is stale and nobody reads it: a writer
// killed before 2 changed nothing in the table's files.
//
// The commit point is the mark (2).  Anything refused up to and including it changes nothing and
// Commit raises 9218.  Past it the commit stands, and Commit reports success whatever the rest
// does, with one exception: a piece refused in 3 while lengthening a file (the disk full) cuts
// the files back to their lengths and clears the mark, so that nothing changed, and Commit
// raises 9218.  Any other failure past the mark (an I/O error in place, or that undo refused)
// leaves the commit pending: the mark stays, the held bytes stay with their layers (the caller
// decides whether to keep them) and Pending() answers true until Recover completes it.  Recover
// runs first in the next Commit, so a new journal never goes over a commit that is not complete;
// the table's handle runs it at its next call (TDataFile.h), other processes when they meet the
// mark.
//
// Readers find the mark at no cost: it comes in the read of the change counter that every read
// level makes already (TCountedHeaderFile.h).  Nothing is synced here: with write-through files
// (the table's ForceBufferFlush) each step reaches the disk before the next begins, which keeps
// the rule across a power cut; without it, a process killed at any point is covered, a power cut
// is not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/storage/core/TFileHandler.h"

namespace tessera {

// What an open or a level made of a commit mark it met.
enum class TRecovery : uint8_t {
  kNone,       // no mark
  kCompleted,  // the journal was whole: applied, the files as after the commit
  kDropped,    // no whole journal named the mark: the mark went, the files as before it
  kLeft,       // met and left for the next open (an inspection: TDataFile::SetLeaveCommitPending)
};

class TCommitJournal {
 public:
  // Bytes for their place in a file, of which [from, to) may differ from the file's: a segment
  // written alone writes only those.
  struct Segment {
    int64_t offset;
    const uint8_t* bytes;
    size_t count;
    size_t from = 0;
    size_t to = SIZE_MAX;
  };

  // The mark's place in the marked file's header: after the u32 change counter.
  static constexpr int64_t kMarkOffset = 4;

  // The journal of the table whose files are named `table_name` + extension; closed.
  void Configure(const std::string& table_name, bool write_through,
                 const std::shared_ptr<const platform::FileFaults>& faults);
  void Close() noexcept { file_.Close(); }
  // Deletes the journal of a closed table, when there is one; errors are dropped.
  void DeleteFile() noexcept;

  // Writes what the layers of `files` hold (null entries and files without a layer are skipped)
  // as one commit, marking `files[marked]`, whose header the table cipher covers when
  // `enciphered`; the layers are emptied when it was applied whole (see Pending).  Nothing when nothing is held.
  // `lengths` gives each file's length as far as the table's committed headers reach (not more
  // than the file's own), or -1 when the file is to be asked.
  void Commit(std::span<TFileHandler* const> files, std::span<const int64_t> lengths, size_t marked,
              bool enciphered);
  // Applies or drops an interrupted commit of `files` (open, in the order Commit had them).
  // REQUIRES: nobody else writes or reads the files.
  TRecovery Recover(std::span<TFileHandler* const> files, size_t marked, bool enciphered);
  // The mark of `file`'s header as stored (0: none).
  static uint32_t StoredMark(TFileHandler& file, bool enciphered);
  // A commit of this journal passed its mark but was not applied whole: Recover completes it.
  bool Pending() const { return pending_; }

 private:
  void OpenFile();
  // Fills pieces_ from the held bytes of parts_: `whole` pieces, or only their changed bytes;
  // hulls_ gets for each held piece the file range its journal pieces span.
  void JournalPieces(bool whole);

  struct Part {
    TWriteBehindFile* layer = nullptr;
    int64_t old_size = 0;
    int64_t new_size = 0;
    std::vector<Segment> appends;
    std::vector<Segment> in_place;
  };
  struct Piece {
    uint32_t file;
    int64_t offset;
    const uint8_t* bytes;
    size_t count;
  };

  TFileHandler file_;
  bool pending_ = false;
  // A commit's working lists, kept from one commit to the next.
  std::vector<Part> parts_;
  std::vector<Piece> pieces_;
  std::vector<std::pair<int64_t, int64_t>> hulls_;
  std::vector<uint8_t> heads_;
  std::vector<platform::FileSlice> slices_;
  std::vector<platform::FileSlice> run_;
};

}  // namespace tessera
