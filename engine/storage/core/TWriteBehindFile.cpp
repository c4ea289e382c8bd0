#include "engine/storage/core/TWriteBehindFile.h"

#include <algorithm>
#include <cstring>
#include <iterator>
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

void TWriteBehindFile::Recycle(Pieces& pieces, Pieces::iterator first,
                               Pieces::iterator last) noexcept {
  while (first != last) {
    const auto next = std::next(first);
    if (spare_.size() < kMaxSpare && first->second.capacity() <= kMaxSpareBytes) {
      spare_.push_back(pieces.extract(first));
    } else {
      pieces.erase(first);
    }
    first = next;
  }
}

int64_t TWriteBehindFile::EndOf(const Pieces& pieces) {
  if (pieces.empty()) return 0;
  const auto& last = *pieces.rbegin();
  return last.first + static_cast<int64_t>(last.second.size());
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
  auto holder = Holder(pieces, offset, end);
  if (holder != pieces.end()) {
    std::memcpy(holder->second.data() + (offset - holder->first), bytes, count);
    return;
  }
  // Records, blocks and pages added at a file's end each begin where the last piece ends: they
  // grow it, rather than each taking a piece of its own that the map, the journal's headers and
  // checksum and the write-back would then visit one by one.
  if (auto grown = Appendable(pieces, offset, end); grown != pieces.end()) {
    std::vector<uint8_t>& piece = grown->second;
    if (piece.capacity() < piece.size() + count) {
      piece.reserve(std::min(kMaxAppendBytes, std::max(2 * piece.size(), piece.size() + count)));
    }
    piece.insert(piece.end(), bytes, bytes + count);
    total += count;
    return;
  }
  // Every piece that overlaps [offset, end) merges with the new bytes into one piece.
  auto first = pieces.upper_bound(offset);
  if (first != pieces.begin()) {
    auto before = std::prev(first);
    if (before->first + static_cast<int64_t>(before->second.size()) > offset) first = before;
  }
  auto last = first;
  int64_t start = offset;
  int64_t stop = end;
  for (; last != pieces.end() && last->first < end; ++last) {
    start = std::min(start, last->first);
    stop = std::max(stop, last->first + static_cast<int64_t>(last->second.size()));
  }
  // Every piece met overlaps [offset, end): only the first may begin before it and only the
  // last end after it, so the merged bytes are built by appending, without a zero fill first.
  Pieces::node_type node;
  if (spare_.empty()) {
    node = Pieces{{0, {}}}.extract(0);
  } else {
    node = std::move(spare_.back());
    spare_.pop_back();
  }
  node.key() = start;
  std::vector<uint8_t>& merged = node.mapped();
  merged.clear();
  merged.reserve(static_cast<size_t>(stop - start));
  if (start < offset) {
    merged.insert(merged.end(), first->second.data(), first->second.data() + (offset - start));
  }
  merged.insert(merged.end(), bytes, bytes + count);
  if (stop > end) {
    const std::vector<uint8_t>& tail = std::prev(last)->second;
    const int64_t tail_start = std::prev(last)->first;
    merged.insert(merged.end(), tail.begin() + (end - tail_start), tail.end());
  }
  for (auto it = first; it != last; ++it) total -= it->second.size();
  Recycle(pieces, first, last);
  total += merged.size();
  pieces.insert(std::move(node));
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
  for (auto it = staged_.begin(); it != staged_.end();) {
    const auto next = std::next(it);
    const int64_t offset = it->first;
    const int64_t end = offset + static_cast<int64_t>(it->second.size());
    // A staged piece that no held piece touches moves over whole, bytes not copied.
    auto after = pieces_.lower_bound(offset);
    const bool clear_before =
        after == pieces_.begin() ||
        std::prev(after)->first + static_cast<int64_t>(std::prev(after)->second.size()) <= offset;
    if (clear_before && (after == pieces_.end() || after->first >= end) &&
        Appendable(pieces_, offset, end) == pieces_.end()) {
      held_bytes_ += it->second.size();
      pieces_.insert(staged_.extract(it));
    } else {
      Put(pieces_, held_bytes_, offset, it->second.data(), it->second.size());
    }
    it = next;
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

TWriteBehindFile::Pieces::iterator TWriteBehindFile::Holder(Pieces& pieces, int64_t offset,
                                                            int64_t end) {
  auto it = pieces.upper_bound(offset);
  if (it == pieces.begin()) return pieces.end();
  --it;
  return it->first + static_cast<int64_t>(it->second.size()) >= end ? it : pieces.end();
}

TWriteBehindFile::Pieces::iterator TWriteBehindFile::Appendable(Pieces& pieces, int64_t offset,
                                                                int64_t end) {
  auto after = pieces.lower_bound(offset);
  if (after == pieces.begin() || (after != pieces.end() && after->first < end)) return pieces.end();
  const auto before = std::prev(after);
  // A file's first piece holds its header and the commit mark in it, which the commit journal
  // writes last, in one write: grown, that write would carry pages or records too, and one torn
  // after its first page would clear the mark over a commit not yet on disk.
  if (before->first == 0) return pieces.end();
  const std::vector<uint8_t>& bytes = before->second;
  const bool touches = before->first + static_cast<int64_t>(bytes.size()) == offset;
  return touches && bytes.size() + static_cast<size_t>(end - offset) <= kMaxAppendBytes
             ? before
             : pieces.end();
}

void TWriteBehindFile::Overlay(const Pieces& pieces, int64_t offset, int64_t stop, uint8_t* bytes) {
  auto it = pieces.upper_bound(offset);
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
    auto staged = Holder(staged_, offset, end);
    if (staged != staged_.end()) {
      std::memcpy(buffer, staged->second.data() + (offset - staged->first), count);
      *done = count;
      return platform::kErrorSuccess;
    }
    auto holder = Holder(pieces_, offset, end);
    if (holder != pieces_.end()) {
      std::memcpy(buffer, holder->second.data() + (offset - holder->first), count);
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
  while (!pieces_.empty()) {
    auto first = pieces_.begin();
    auto last = std::next(first);
    int64_t stop = first->first + static_cast<int64_t>(first->second.size());
    size_t length = first->second.size();
    while (last != pieces_.end() && last->first == stop &&
           length + last->second.size() <= kMaxRun) {
      length += last->second.size();
      stop += static_cast<int64_t>(last->second.size());
      ++last;
    }
    const uint8_t* bytes = first->second.data();
    if (std::next(first) != last) {
      run.clear();
      for (auto it = first; it != last; ++it)
        run.insert(run.end(), it->second.begin(), it->second.end());
      bytes = run.data();
    }
    size_t written = 0;
    const platform::OsError error = file_->WriteAt(first->first, bytes, length, &written);
    if (error != platform::kErrorSuccess) return error;
    if (written != length) return platform::kErrorDiskFull;
    Recycle(pieces_, first, last);
    held_bytes_ -= length;
  }
  held_changes_.clear();
  return platform::kErrorSuccess;
}

}  // namespace tessera
