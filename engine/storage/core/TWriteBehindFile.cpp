#include "engine/storage/core/TWriteBehindFile.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tessera {
namespace {

// Adjacent pieces go down together up to this many bytes in one write.
constexpr size_t kMaxRun = size_t{1} << 20;
// Spare pieces kept, and the largest buffer kept with one.
constexpr size_t kMaxSpare = 32;
constexpr size_t kMaxSpareBytes = size_t{64} << 10;
// A piece grown by appends stops at this size, so that it stays fit to be kept as a spare and a
// write that overlaps its end copies no more than this.
constexpr size_t kMaxAppendBytes = kMaxSpareBytes;

}  // namespace

TWriteBehindFile::TWriteBehindFile(std::unique_ptr<platform::File> file) : file_(std::move(file)) {
  spare_.reserve(kMaxSpare);  // Recycle never allocates
}

void TWriteBehindFile::Recycle(Pieces& pieces, size_t first, size_t last) noexcept {
  for (size_t i = first; i < last; ++i) {
    std::vector<uint8_t>& bytes = pieces[i].second;
    // A piece moved elsewhere whole left no buffer behind.
    if (spare_.size() < kMaxSpare && bytes.capacity() != 0 && bytes.capacity() <= kMaxSpareBytes) {
      spare_.push_back(std::move(bytes));
    }
  }
  pieces.erase(pieces.begin() + static_cast<ptrdiff_t>(first),
               pieces.begin() + static_cast<ptrdiff_t>(last));
}

std::vector<uint8_t> TWriteBehindFile::TakeSpare() {
  if (spare_.empty()) return {};
  std::vector<uint8_t> bytes = std::move(spare_.back());
  spare_.pop_back();
  bytes.clear();
  return bytes;
}

int64_t TWriteBehindFile::EndOf(const Pieces& pieces) {
  if (pieces.empty()) return 0;
  const Piece& last = pieces.back();
  return last.first + static_cast<int64_t>(last.second.size());
}

size_t TWriteBehindFile::UpperBound(const Pieces& pieces, int64_t offset) {
  return static_cast<size_t>(
      std::upper_bound(pieces.begin(), pieces.end(), offset,
                       [](int64_t at, const Piece& piece) { return at < piece.first; }) -
      pieces.begin());
}

size_t TWriteBehindFile::LowerBound(const Pieces& pieces, int64_t offset) {
  return static_cast<size_t>(
      std::lower_bound(pieces.begin(), pieces.end(), offset,
                       [](const Piece& piece, int64_t at) { return piece.first < at; }) -
      pieces.begin());
}

platform::OsError TWriteBehindFile::WriteAt(int64_t offset, const void* buffer, size_t count,
                                            size_t* done) {
  const Range all{offset, offset + static_cast<int64_t>(count)};
  return WriteChangedAt(offset, buffer, count, {&all, 1}, done);
}

platform::OsError TWriteBehindFile::WriteChangedAt(int64_t offset, const void* buffer, size_t count,
                                                   std::span<const Range> changed, size_t* done) {
  *done = 0;
  if (!holding_ && !staging_) {
    const platform::OsError error = WriteHeld();
    if (error != platform::kErrorSuccess) return error;
    return file_->WriteAt(offset, buffer, count, done);
  }
  if (count == 0) return platform::kErrorSuccess;
  Ranges& changes = staging_ ? staged_changes_ : held_changes_;
  for (const Range& range : changed) AddRange(changes, range.from, range.to);
  if (staging_) {
    Put(staged_, staged_bytes_, offset, static_cast<const uint8_t*>(buffer), count);
  } else {
    Put(pieces_, held_bytes_, offset, static_cast<const uint8_t*>(buffer), count);
  }
  *done = count;
  return platform::kErrorSuccess;
}

void TWriteBehindFile::Put(Pieces& pieces, size_t& total, int64_t offset, const uint8_t* bytes,
                           size_t count) {
  const int64_t end = offset + static_cast<int64_t>(count);
  // The common case: a page, block, record or header written again inside a kept piece.
  if (const size_t holder = Holder(pieces, offset, end); holder != pieces.size()) {
    std::memcpy(pieces[holder].second.data() + (offset - pieces[holder].first), bytes, count);
    return;
  }
  // Records, blocks and pages added at a file's end each begin where the last piece ends: they
  // grow it, rather than each taking a piece of its own that the map, the journal's headers and
  // checksum and the write-back would then visit one by one.
  if (const size_t grown = Appendable(pieces, offset, end); grown != pieces.size()) {
    std::vector<uint8_t>& piece = pieces[grown].second;
    if (piece.capacity() < piece.size() + count) {
      piece.reserve(std::min(kMaxAppendBytes, std::max(2 * piece.size(), piece.size() + count)));
    }
    piece.insert(piece.end(), bytes, bytes + count);
    total += count;
    return;
  }
  // Every piece that overlaps [offset, end) merges with the new bytes into one piece.
  size_t first = UpperBound(pieces, offset);
  if (first > 0) {
    const Piece& before = pieces[first - 1];
    if (before.first + static_cast<int64_t>(before.second.size()) > offset) --first;
  }
  size_t last = first;
  int64_t start = offset;
  int64_t stop = end;
  for (; last < pieces.size() && pieces[last].first < end; ++last) {
    start = std::min(start, pieces[last].first);
    stop = std::max(stop, pieces[last].first + static_cast<int64_t>(pieces[last].second.size()));
  }
  // Every piece met overlaps [offset, end): only the first may begin before it and only the
  // last end after it, so the merged bytes are built by appending, without a zero fill first.
  std::vector<uint8_t> merged = TakeSpare();
  merged.reserve(static_cast<size_t>(stop - start));
  if (start < offset) {
    const std::vector<uint8_t>& head = pieces[first].second;
    merged.insert(merged.end(), head.data(), head.data() + (offset - start));
  }
  merged.insert(merged.end(), bytes, bytes + count);
  if (stop > end) {
    const std::vector<uint8_t>& tail = pieces[last - 1].second;
    const int64_t tail_start = pieces[last - 1].first;
    merged.insert(merged.end(), tail.begin() + (end - tail_start), tail.end());
  }
  for (size_t i = first; i < last; ++i) total -= pieces[i].second.size();
  total += merged.size();
  // The merged piece takes the place of the first it replaces.
  if (first == last) {
    pieces.insert(pieces.begin() + static_cast<ptrdiff_t>(first), Piece{start, std::move(merged)});
    return;
  }
  Recycle(pieces, first + 1, last);
  std::swap(pieces[first].second, merged);
  pieces[first].first = start;
  if (spare_.size() < kMaxSpare && merged.capacity() != 0 && merged.capacity() <= kMaxSpareBytes) {
    spare_.push_back(std::move(merged));
  }
}

void TWriteBehindFile::AddRange(Ranges& ranges, int64_t from, int64_t to) {
  if (from >= to) return;
  // The first range that reaches `from`, and the first past `to`: all between merge.
  auto first = std::lower_bound(ranges.begin(), ranges.end(), from,
                                [](const Range& r, int64_t at) { return r.to < at; });
  auto last = first;
  while (last != ranges.end() && last->from <= to) ++last;
  if (first == last) {
    ranges.insert(first, Range{from, to});
    return;
  }
  first->from = std::min(first->from, from);
  first->to = std::max(std::prev(last)->to, to);
  ranges.erase(std::next(first), last);
}

void TWriteBehindFile::CommitStaged() {
  // A shared handle's held bytes went down with its last commit: the staged set becomes the held
  // one as it stands, unless two staged pieces touch (held, they would become one piece).
  if (pieces_.empty() && held_changes_.empty() && !StagedPiecesTouch()) {
    pieces_.swap(staged_);
    held_bytes_ = std::exchange(staged_bytes_, 0);
    held_changes_.swap(staged_changes_);
    return;
  }
  for (const Range& range : staged_changes_) AddRange(held_changes_, range.from, range.to);
  for (Piece& piece : staged_) {
    const int64_t offset = piece.first;
    const int64_t end = offset + static_cast<int64_t>(piece.second.size());
    // A staged piece that no held piece touches moves over whole, bytes not copied.
    const size_t after = LowerBound(pieces_, offset);
    const bool clear_before =
        after == 0 ||
        pieces_[after - 1].first + static_cast<int64_t>(pieces_[after - 1].second.size()) <= offset;
    if (clear_before && (after == pieces_.size() || pieces_[after].first >= end) &&
        Appendable(pieces_, offset, end) == pieces_.size()) {
      held_bytes_ += piece.second.size();
      pieces_.insert(pieces_.begin() + static_cast<ptrdiff_t>(after), std::move(piece));
    } else {
      Put(pieces_, held_bytes_, offset, piece.second.data(), piece.second.size());
    }
  }
  DiscardStaged();
}

bool TWriteBehindFile::StagedPiecesTouch() const {
  int64_t end = INT64_MIN;
  for (const auto& [offset, bytes] : staged_) {
    if (offset == end) return true;
    end = offset + static_cast<int64_t>(bytes.size());
  }
  return false;
}

size_t TWriteBehindFile::Holder(const Pieces& pieces, int64_t offset, int64_t end) {
  const size_t after = UpperBound(pieces, offset);
  if (after == 0) return pieces.size();
  const Piece& piece = pieces[after - 1];
  return piece.first + static_cast<int64_t>(piece.second.size()) >= end ? after - 1 : pieces.size();
}

size_t TWriteBehindFile::Appendable(const Pieces& pieces, int64_t offset, int64_t end) {
  const size_t after = LowerBound(pieces, offset);
  if (after == 0 || (after != pieces.size() && pieces[after].first < end)) return pieces.size();
  const Piece& before = pieces[after - 1];
  // A file's first piece holds its header and the commit mark in it, which the commit journal
  // writes last, in one write: grown, that write would carry pages or records too, and one torn
  // after its first page would clear the mark over a commit not yet on disk.
  if (before.first == 0) return pieces.size();
  const std::vector<uint8_t>& bytes = before.second;
  const bool touches = before.first + static_cast<int64_t>(bytes.size()) == offset;
  return touches && bytes.size() + static_cast<size_t>(end - offset) <= kMaxAppendBytes
             ? after - 1
             : pieces.size();
}

void TWriteBehindFile::Overlay(const Pieces& pieces, int64_t offset, int64_t stop, uint8_t* bytes) {
  auto it = pieces.begin() + static_cast<ptrdiff_t>(UpperBound(pieces, offset));
  if (it != pieces.begin()) --it;
  for (; it != pieces.end() && it->first < stop; ++it) {
    const int64_t piece_end = it->first + static_cast<int64_t>(it->second.size());
    const int64_t from = std::max(offset, it->first);
    const int64_t to = std::min(stop, piece_end);
    if (from >= to) continue;
    std::memcpy(bytes + (from - offset), it->second.data() + (from - it->first),
                static_cast<size_t>(to - from));
  }
}

platform::OsError TWriteBehindFile::ReadAt(int64_t offset, void* buffer, size_t count,
                                           size_t* done) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  const int64_t end = offset + static_cast<int64_t>(count);
  // A read inside one kept piece needs nothing from the file.
  if (count > 0) {
    if (const size_t staged = Holder(staged_, offset, end); staged != staged_.size()) {
      const Piece& piece = staged_[staged];
      std::memcpy(buffer, piece.second.data() + (offset - piece.first), count);
      *done = count;
      return platform::kErrorSuccess;
    }
    if (const size_t holder = Holder(pieces_, offset, end); holder != pieces_.size()) {
      const Piece& piece = pieces_[holder];
      std::memcpy(buffer, piece.second.data() + (offset - piece.first), count);
      Overlay(staged_, offset, end, bytes);
      *done = count;
      return platform::kErrorSuccess;
    }
  }
  const platform::OsError error = file_->ReadAt(offset, buffer, count, done);
  if (error != platform::kErrorSuccess || (pieces_.empty() && staged_.empty())) return error;
  int64_t stop = offset + static_cast<int64_t>(*done);
  if (stop < end) {
    // The file ends here; kept bytes beyond lengthen it, with zeros in any gap before them.
    const int64_t kept_end = std::min(end, KeptEnd());
    if (kept_end > stop) {
      std::memset(bytes + (stop - offset), 0, static_cast<size_t>(kept_end - stop));
      stop = kept_end;
    }
  }
  Overlay(pieces_, offset, stop, bytes);
  Overlay(staged_, offset, stop, bytes);
  *done = static_cast<size_t>(stop - offset);
  return platform::kErrorSuccess;
}

platform::OsError TWriteBehindFile::Truncate(int64_t size) {
  const platform::OsError error = WriteHeld();
  if (error != platform::kErrorSuccess) return error;
  return file_->Truncate(size);
}

platform::OsError TWriteBehindFile::GetSize(int64_t* size) const {
  const platform::OsError error = file_->GetSize(size);
  if (error == platform::kErrorSuccess) *size = std::max(*size, KeptEnd());
  return error;
}

platform::OsError TWriteBehindFile::Sync() {
  const platform::OsError error = WriteHeld();
  if (error != platform::kErrorSuccess) return error;
  return file_->Sync();
}

platform::OsError TWriteBehindFile::WriteHeld() {
  std::vector<uint8_t> run;
  // Written pieces leave together: a failure keeps those not yet written.
  size_t first = 0;
  platform::OsError error = platform::kErrorSuccess;
  while (first < pieces_.size()) {
    size_t last = first + 1;
    int64_t stop = pieces_[first].first + static_cast<int64_t>(pieces_[first].second.size());
    size_t length = pieces_[first].second.size();
    while (last < pieces_.size() && pieces_[last].first == stop &&
           length + pieces_[last].second.size() <= kMaxRun) {
      length += pieces_[last].second.size();
      stop += static_cast<int64_t>(pieces_[last].second.size());
      ++last;
    }
    const uint8_t* bytes = pieces_[first].second.data();
    if (first + 1 != last) {
      run.clear();
      for (size_t i = first; i < last; ++i) {
        run.insert(run.end(), pieces_[i].second.begin(), pieces_[i].second.end());
      }
      bytes = run.data();
    }
    size_t written = 0;
    error = file_->WriteAt(pieces_[first].first, bytes, length, &written);
    if (error == platform::kErrorSuccess && written != length) error = platform::kErrorDiskFull;
    if (error != platform::kErrorSuccess) break;
    held_bytes_ -= length;
    first = last;
  }
  Recycle(pieces_, 0, first);
  if (error != platform::kErrorSuccess) return error;
  held_changes_.clear();
  return platform::kErrorSuccess;
}

}  // namespace tessera
