#include "engine/storage/core/TWriteBehindFile.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

namespace tessera {
namespace {

// Adjacent pieces go down together up to this many bytes in one write.
constexpr size_t kMaxRun = size_t{1} << 20;

}  // namespace

TWriteBehindFile::TWriteBehindFile(std::unique_ptr<platform::File> file, size_t limit)
    : file_(std::move(file)), limit_(limit) {}

TWriteBehindFile::~TWriteBehindFile() {
  // Normally empty already: the handler wrote and reported it before closing.  What a failure
  // here leaves unwritten is lost, as it would be by a close that cannot write.
  (void)WriteHeld();
}

int64_t TWriteBehindFile::HeldEnd() const {
  if (pieces_.empty()) return 0;
  const auto& last = *pieces_.rbegin();
  return last.first + static_cast<int64_t>(last.second.size());
}

platform::OsError TWriteBehindFile::WriteAt(int64_t offset, const void* buffer, size_t count,
                                            size_t* done) {
  *done = 0;
  if (!holding_) {
    const platform::OsError error = WriteHeld();
    if (error != platform::kErrorSuccess) return error;
    return file_->WriteAt(offset, buffer, count, done);
  }
  if (count == 0) return platform::kErrorSuccess;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  const int64_t end = offset + static_cast<int64_t>(count);
  // The common case: a page, block, record or header written again inside a held piece.
  auto holder = Holder(offset, end);
  if (holder != pieces_.end()) {
    std::memcpy(holder->second.data() + (offset - holder->first), bytes, count);
  } else {
    // Every piece that overlaps [offset, end) merges with the new bytes into one piece.
    auto first = pieces_.upper_bound(offset);
    if (first != pieces_.begin()) {
      auto before = std::prev(first);
      if (before->first + static_cast<int64_t>(before->second.size()) > offset) first = before;
    }
    auto last = first;
    int64_t start = offset;
    int64_t stop = end;
    for (; last != pieces_.end() && last->first < end; ++last) {
      start = std::min(start, last->first);
      stop = std::max(stop, last->first + static_cast<int64_t>(last->second.size()));
    }
    std::vector<uint8_t> merged(static_cast<size_t>(stop - start));
    for (auto it = first; it != last; ++it) {
      std::memcpy(merged.data() + (it->first - start), it->second.data(), it->second.size());
      held_bytes_ -= it->second.size();
    }
    std::memcpy(merged.data() + (offset - start), bytes, count);
    pieces_.erase(first, last);
    held_bytes_ += merged.size();
    pieces_.emplace(start, std::move(merged));
  }
  *done = count;
  if (held_bytes_ > limit_) return WriteHeld();
  return platform::kErrorSuccess;
}

TWriteBehindFile::Pieces::iterator TWriteBehindFile::Holder(int64_t offset, int64_t end) {
  auto it = pieces_.upper_bound(offset);
  if (it == pieces_.begin()) return pieces_.end();
  --it;
  return it->first + static_cast<int64_t>(it->second.size()) >= end ? it : pieces_.end();
}

platform::OsError TWriteBehindFile::ReadAt(int64_t offset, void* buffer, size_t count,
                                           size_t* done) {
  // A read inside one held piece needs nothing from the file.
  if (count > 0) {
    auto holder = Holder(offset, offset + static_cast<int64_t>(count));
    if (holder != pieces_.end()) {
      std::memcpy(buffer, holder->second.data() + (offset - holder->first), count);
      *done = count;
      return platform::kErrorSuccess;
    }
  }
  const platform::OsError error = file_->ReadAt(offset, buffer, count, done);
  if (error != platform::kErrorSuccess || pieces_.empty()) return error;
  auto* bytes = static_cast<uint8_t*>(buffer);
  const int64_t end = offset + static_cast<int64_t>(count);
  int64_t stop = offset + static_cast<int64_t>(*done);
  if (stop < end) {
    // The file ends here; held bytes beyond lengthen it, with zeros in any gap before them.
    const int64_t held_end = std::min(end, HeldEnd());
    if (held_end > stop) {
      std::memset(bytes + (stop - offset), 0, static_cast<size_t>(held_end - stop));
      stop = held_end;
    }
  }
  auto it = pieces_.upper_bound(offset);
  if (it != pieces_.begin()) --it;
  for (; it != pieces_.end() && it->first < stop; ++it) {
    const int64_t piece_end = it->first + static_cast<int64_t>(it->second.size());
    const int64_t from = std::max(offset, it->first);
    const int64_t to = std::min(stop, piece_end);
    if (from >= to) continue;
    std::memcpy(bytes + (from - offset), it->second.data() + (from - it->first),
                static_cast<size_t>(to - from));
  }
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
  if (error == platform::kErrorSuccess) *size = std::max(*size, HeldEnd());
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
    pieces_.erase(first, last);
    held_bytes_ -= length;
  }
  return platform::kErrorSuccess;
}

}  // namespace tessera
