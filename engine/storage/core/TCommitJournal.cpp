#include "engine/storage/core/TCommitJournal.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/JournalChecksum.h"
#include "engine/storage/core/TWriteBehindFile.h"
#include "engine/storage/core/TableCipher.h"

namespace tessera {
namespace {

constexpr uint32_t kJournalMagic = 0x4C4E524A;
constexpr uint32_t kCompleteMark = 0x454E4F44;
// Magic, length, mark, checksum, file count; then each file's lengths before and after.
constexpr size_t kHeaderSize = 20;
constexpr size_t kFileEntrySize = 8;
// File number, offset, byte count; then the bytes.
constexpr size_t kPieceHeaderSize = 12;
constexpr size_t kMaxRun = size_t{1} << 20;

// The journal's checksum: the first slice from byte 16 (what comes before is the magic, the
// length, the mark and the checksum itself).
uint32_t SlicesChecksum(const std::vector<platform::FileSlice>& slices) {
  return JournalSlicesChecksum(slices.data(), slices.size(), 16);
}

// The slices Commit wrote, found again in `image` (whose first `head_size` bytes are the header
// and the files' lengths), checked against `checksum`.
bool SameChecksum(const std::vector<uint8_t>& image, size_t head_size, uint32_t checksum) {
  std::vector<platform::FileSlice> slices{{image.data(), head_size}};
  size_t at = head_size;
  const size_t end = image.size() - 4;
  while (at + kPieceHeaderSize <= end) {
    const size_t count = cl::GetU32LE(image.data() + at + 8);
    if (count > end - at - kPieceHeaderSize) return false;
    slices.push_back({image.data() + at, kPieceHeaderSize});
    slices.push_back({image.data() + at + kPieceHeaderSize, count});
    at += kPieceHeaderSize + count;
  }
  if (at != end) return false;
  slices.push_back({image.data() + end, 4});
  return SlicesChecksum(slices) == checksum;
}

// The four bytes at kMarkOffset of a header that holds `mark`, as the file stores them.
std::array<uint8_t, 4> MarkBytes(uint32_t mark, bool enciphered) {
  uint8_t prefix[8] = {};
  cl::PutU32LE(prefix + TCommitJournal::kMarkOffset, mark);
  if (enciphered) EncipherBuffer(prefix, sizeof prefix, kDataKeyA, kDataKeyB);
  return {prefix[4], prefix[5], prefix[6], prefix[7]};
}

using Segment = TCommitJournal::Segment;

bool WriteWhole(platform::File& file, int64_t offset, const uint8_t* bytes, size_t count) {
  size_t done = 0;
  return file.WriteAt(offset, bytes, count, &done) == platform::kErrorSuccess && done == count;
}

// Sorted segments that do not overlap, in runs of adjacent ones, each gathered in one write; a
// segment alone writes only its bytes that may differ, or nothing.
bool WriteSegments(platform::File& file, const std::vector<Segment>& segments,
                   std::vector<platform::FileSlice>& run) {
  for (size_t i = 0; i < segments.size();) {
    const Segment& s = segments[i];
    if (i + 1 == segments.size() ||
        segments[i + 1].offset != s.offset + static_cast<int64_t>(s.count)) {
      const size_t to = std::min(s.to, s.count);
      if (s.from < to && !WriteWhole(file, s.offset + static_cast<int64_t>(s.from),
                                     s.bytes + s.from, to - s.from)) {
        return false;
      }
      ++i;
      continue;
    }
    run.clear();
    run.push_back({segments[i].bytes, segments[i].count});
    size_t j = i + 1;
    int64_t stop = segments[i].offset + static_cast<int64_t>(segments[i].count);
    size_t length = segments[i].count;
    while (j < segments.size() && segments[j].offset == stop &&
           length + segments[j].count <= kMaxRun) {
      run.push_back({segments[j].bytes, segments[j].count});
      length += segments[j].count;
      stop += static_cast<int64_t>(segments[j].count);
      ++j;
    }
    size_t done = 0;
    if (file.WriteSlicesAt(segments[i].offset, run.data(), run.size(), &done) !=
            platform::kErrorSuccess ||
        done != length) {
      return false;
    }
    i = j;
  }
  return true;
}

bool Covers(int64_t offset, size_t count, int64_t from, int64_t to) {
  return offset <= from && offset + static_cast<int64_t>(count) >= to;
}

[[noreturn]] void FailOn(const TFileHandler& file, uint16_t code) {
  RaiseEngineError(code, cl::ToShort(file.FileName()));
}

}  // namespace

void TCommitJournal::Configure(const std::string& table_name, bool write_through,
                               const std::shared_ptr<const platform::FileFaults>& faults) {
  file_.Close();
  pending_ = false;
  file_.SetFileName(table_name + ".JNL");
  file_.SetWriteThrough(write_through);
  if (faults && !file_.InjectedFaults()) file_.InjectFaults(faults);
}

void TCommitJournal::DeleteFile() noexcept {
  try {
    file_.Close();
    if (file_.Exists()) file_.Delete();
  } catch (...) {
    // Only a stale journal: nobody reads it without a mark in the table's files.
  }
}

void TCommitJournal::OpenFile() {
  if (file_.IsOpen()) return;
  // Created under the table's write level (or by its exclusive handle): nobody else creates it.
  if (!file_.Exists()) {
    file_.SetExclusive(true);
    file_.CreateNew();
    file_.Close();
    file_.SetExclusive(false);
    // A power cut must not take a journal away from the mark that names it.
    if (file_.WriteThrough()) file_.FlushDirectoryEntry();
  }
  file_.Open();
}

uint32_t TCommitJournal::StoredMark(TFileHandler& file, bool enciphered) {
  uint8_t prefix[8] = {};
  size_t done = 0;
  if (file.Disk().ReadAt(0, prefix, sizeof prefix, &done) != platform::kErrorSuccess) {
    FailOn(file, kErrReadFailure);
  }
  if (done < sizeof prefix) return 0;
  if (enciphered) DecipherBuffer(prefix, sizeof prefix, kDataKeyA, kDataKeyB);
  return cl::GetU32LE(prefix + kMarkOffset);
}

void TCommitJournal::Commit(std::span<TFileHandler* const> files, std::span<const int64_t> lengths,
                            size_t marked, bool enciphered) {
  // The parts keep their segment lists from one commit to the next (step 3 empties them).
  parts_.resize(files.size());
  for (Part& part : parts_) {
    part.layer = nullptr;
    part.old_size = part.new_size = 0;
  }
  bool any = false;
  for (size_t i = 0; i < files.size(); ++i) {
    if (files[i] == nullptr || !files[i]->IsOpen() || files[i]->WriteBehind() == nullptr) continue;
    Part& part = parts_[i];
    part.layer = files[i]->WriteBehind();
    if (part.layer->Held().empty()) continue;
    const auto& last = *part.layer->Held().rbegin();
    part.new_size = last.first + static_cast<int64_t>(last.second.size());
    any = true;
  }
  if (!any) return;
  // Every file gets its true lengths, also one the commit leaves alone: the recovery cuts each
  // file to its length after, the undo of a refused append to its length before.  Bytes past the
  // committed headers are nobody's: a length short of the file's own treats them as new, which
  // costs nothing.
  for (size_t i = 0; i < files.size(); ++i) {
    Part& part = parts_[i];
    if (part.layer == nullptr) continue;
    part.old_size = i < lengths.size() ? lengths[i] : -1;
    if (part.old_size < 0 &&
        part.layer->Beneath().GetSize(&part.old_size) != platform::kErrorSuccess) {
      FailOn(*files[i], kErrWriteFailure);
    }
    part.new_size = std::max(part.new_size, part.old_size);
  }
  if (parts_[marked].layer == nullptr) FailOn(*files[marked], kErrWriteFailure);
  // A new journal and mark never go over a commit that is not complete.
  if (pending_) Recover(files, marked, enciphered);

  // The journal carries of each held piece the bytes that may differ from the file (the layer
  // knows them) and every byte past the file's end; redone over the file as a killed writer
  // left it, where each byte is as before or as after the commit, they give every byte as after
  // it.  With write-through files every piece goes whole: a power cut may tear a page written in
  // place into bytes that are neither.
  JournalPieces(file_.WriteThrough());

  // The journal goes out gathered from the held pieces themselves: only its headers are built.
  // Its checksum runs over the same slices, each on its own.
  const size_t head_size = kHeaderSize + files.size() * kFileEntrySize;
  size_t image_size = head_size + 4;
  for (const Piece& piece : pieces_) image_size += kPieceHeaderSize + piece.count;
  heads_.assign(head_size + pieces_.size() * kPieceHeaderSize + 4, 0);
  slices_.clear();
  slices_.push_back({heads_.data(), head_size});
  uint8_t* out = heads_.data() + kHeaderSize;
  for (const Part& part : parts_) {
    cl::PutU32LE(out, static_cast<uint32_t>(part.old_size));
    cl::PutU32LE(out + 4, static_cast<uint32_t>(part.new_size));
    out += kFileEntrySize;
  }
  for (const Piece& piece : pieces_) {
    cl::PutU32LE(out, piece.file);
    cl::PutU32LE(out + 4, static_cast<uint32_t>(piece.offset));
    cl::PutU32LE(out + 8, static_cast<uint32_t>(piece.count));
    slices_.push_back({out, kPieceHeaderSize});
    slices_.push_back({piece.bytes, piece.count});
    out += kPieceHeaderSize;
  }
  cl::PutU32LE(out, kCompleteMark);
  slices_.push_back({out, 4});
  uint8_t* const header = heads_.data();
  cl::PutU32LE(header, kJournalMagic);
  cl::PutU32LE(header + 4, static_cast<uint32_t>(image_size));
  cl::PutU32LE(header + 16, static_cast<uint32_t>(files.size()));
  const uint32_t checksum = SlicesChecksum(slices_);
  const uint32_t mark = checksum != 0 ? checksum : 1;
  cl::PutU32LE(header + 8, mark);
  cl::PutU32LE(header + 12, checksum);

  // 1. The journal, whole, in one write.
  OpenFile();
  file_.WriteSlicesAt(0, slices_.data(), slices_.size());

  // 2. The mark.
  TFileHandler& mark_file = *files[marked];
  platform::File& mark_disk = mark_file.Disk();
  const std::array<uint8_t, 4> set = MarkBytes(mark, enciphered);
  const std::array<uint8_t, 4> clear = MarkBytes(0, enciphered);
  if (!WriteWhole(mark_disk, kMarkOffset, set.data(), set.size())) {
    WriteWhole(mark_disk, kMarkOffset, clear.data(), clear.size());
    FailOn(mark_file, kErrWriteFailure);
  }

  // 3. What lengthens a file (which a full disk refuses), then what overwrites in place: of a
  // piece that stands alone only the span of its journalled bytes, which holds every byte that
  // may differ (nothing at all when none does).
  Segment last{0, nullptr, 0};
  size_t held = 0;
  for (size_t i = 0; i < parts_.size(); ++i) {
    Part& part = parts_[i];
    part.appends.clear();
    part.in_place.clear();
    if (part.layer == nullptr) continue;
    for (const auto& [offset, bytes] : part.layer->Held()) {
      const int64_t end = offset + static_cast<int64_t>(bytes.size());
      const auto [hull_from, hull_to] = hulls_[held++];
      if (i == marked && Covers(offset, bytes.size(), kMarkOffset, kMarkOffset + 4)) {
        last = {offset, bytes.data(), bytes.size()};
        // Its mark must go in any case.
        last.from = static_cast<size_t>(std::min(hull_from, kMarkOffset) - offset);
        last.to = static_cast<size_t>(std::max(hull_to, kMarkOffset + 4) - offset);
        continue;
      }
      const int64_t split = std::clamp(part.old_size, offset, end);
      if (split > offset) {
        part.in_place.push_back({offset, bytes.data(), static_cast<size_t>(split - offset),
                                 static_cast<size_t>(std::clamp(hull_from, offset, split) - offset),
                                 static_cast<size_t>(std::clamp(hull_to, offset, split) - offset)});
      }
      if (end > split) {
        part.appends.push_back(
            {split, bytes.data() + (split - offset), static_cast<size_t>(end - split)});
      }
    }
  }
  // Past the mark the commit stands: a failure from here on leaves it to Recover, unless nothing
  // was overwritten yet and the files are cut back and the mark cleared (a full disk refusing
  // new space), when it is withdrawn and reported instead.
  for (size_t i = 0; i < parts_.size(); ++i) {
    if (parts_[i].appends.empty() ||
        WriteSegments(parts_[i].layer->Beneath(), parts_[i].appends, run_)) {
      continue;
    }
    bool undone = true;
    for (const Part& part : parts_) {
      if (part.layer != nullptr) {
        undone = part.layer->Beneath().Truncate(part.old_size) == platform::kErrorSuccess && undone;
      }
    }
    if (undone && WriteWhole(mark_disk, kMarkOffset, clear.data(), clear.size())) {
      FailOn(*files[i], kErrWriteFailure);
    }
    pending_ = true;
    return;
  }
  // 4. The mark goes with the marked file's own header, or alone, last.
  for (int attempt = 0;; ++attempt) {
    bool written = true;
    for (size_t i = 0; i < parts_.size() && written; ++i) {
      written = parts_[i].in_place.empty() ||
                WriteSegments(parts_[i].layer->Beneath(), parts_[i].in_place, run_);
    }
    if (written) {
      written = last.bytes != nullptr
                    ? WriteWhole(mark_disk, last.offset + static_cast<int64_t>(last.from),
                                 last.bytes + last.from, last.to - last.from)
                    : WriteWhole(mark_disk, kMarkOffset, clear.data(), clear.size());
    }
    if (written) break;
    if (attempt == 1) {
      pending_ = true;
      return;
    }
  }
  for (const Part& part : parts_) {
    if (part.layer != nullptr) part.layer->DiscardHeld();
  }
}

void TCommitJournal::JournalPieces(bool whole) {
  pieces_.clear();
  hulls_.clear();
  for (size_t i = 0; i < parts_.size(); ++i) {
    const Part& part = parts_[i];
    if (part.layer == nullptr) continue;
    const uint32_t file = static_cast<uint32_t>(i);
    const TWriteBehindFile::Ranges& changes = part.layer->HeldChanges();
    auto change = changes.begin();
    for (const auto& [offset, bytes] : part.layer->Held()) {
      const int64_t end = offset + static_cast<int64_t>(bytes.size());
      const size_t first = pieces_.size();
      // Ranges closer than a piece header are joined: the bytes between cost less than one.
      auto add = [&](int64_t from, int64_t to) {
        if (from >= to) return;
        if (pieces_.size() > first) {
          Piece& prior = pieces_.back();
          const int64_t prior_end = prior.offset + static_cast<int64_t>(prior.count);
          if (from - prior_end < static_cast<int64_t>(2 * kPieceHeaderSize)) {
            prior.count = static_cast<size_t>(to - prior.offset);
            return;
          }
        }
        pieces_.push_back(
            {file, from, bytes.data() + (from - offset), static_cast<size_t>(to - from)});
      };
      if (whole) {
        add(offset, end);
      } else {
        const int64_t beyond = std::clamp(part.old_size, offset, end);
        while (change != changes.end() && change->to <= offset) ++change;
        for (auto c = change; c != changes.end() && c->from < beyond; ++c) {
          add(std::max(c->from, offset), std::min(c->to, beyond));
        }
        add(beyond, end);
      }
      if (pieces_.size() == first) {
        hulls_.emplace_back(offset, offset);
      } else {
        const Piece& back = pieces_.back();
        hulls_.emplace_back(pieces_[first].offset, back.offset + static_cast<int64_t>(back.count));
      }
    }
  }
}

TRecovery TCommitJournal::Recover(std::span<TFileHandler* const> files, size_t marked,
                                  bool enciphered) {
  TFileHandler& mark_file = *files[marked];
  const uint32_t mark = StoredMark(mark_file, enciphered);
  if (mark == 0) {
    pending_ = false;
    return TRecovery::kNone;
  }
  // The journal, when it is whole and names this mark.
  std::vector<uint8_t> image;
  if (!file_.IsOpen() && file_.Exists()) file_.Open();
  if (file_.IsOpen()) {
    uint8_t header[kHeaderSize];
    const size_t minimum = kHeaderSize + files.size() * kFileEntrySize + 4;
    if (file_.ReadAt(0, header, kHeaderSize, true) == static_cast<int32_t>(kHeaderSize) &&
        cl::GetU32LE(header) == kJournalMagic && cl::GetU32LE(header + 8) == mark &&
        cl::GetU32LE(header + 16) == files.size() && cl::GetU32LE(header + 4) >= minimum &&
        cl::GetU32LE(header + 4) <= static_cast<uint32_t>(INT32_MAX)) {
      image.resize(cl::GetU32LE(header + 4));
      const int32_t got = file_.ReadAt(0, image.data(), static_cast<int32_t>(image.size()), true);
      if (got != static_cast<int32_t>(image.size()) ||
          cl::GetU32LE(image.data() + image.size() - 4) != kCompleteMark ||
          !SameChecksum(image, minimum - 4, cl::GetU32LE(header + 12))) {
        image.clear();
      }
    }
  }
  const std::array<uint8_t, 4> clear = MarkBytes(0, enciphered);
  Segment last{0, nullptr, 0};
  if (!image.empty()) {
    const uint8_t* in = image.data() + kHeaderSize + files.size() * kFileEntrySize;
    const uint8_t* const end = image.data() + image.size() - 4;
    while (in + kPieceHeaderSize <= end) {
      const uint32_t number = cl::GetU32LE(in);
      const int64_t offset = cl::GetU32LE(in + 4);
      const size_t count = cl::GetU32LE(in + 8);
      in += kPieceHeaderSize;
      if (count > static_cast<size_t>(end - in)) break;
      if (number < files.size() && files[number] != nullptr) {
        if (number == marked && Covers(offset, count, kMarkOffset, kMarkOffset + 4)) {
          last = {offset, in, count};
        } else if (!WriteWhole(files[number]->Disk(), offset, in, count)) {
          FailOn(*files[number], kErrWriteFailure);
        }
      }
      in += count;
    }
    for (size_t i = 0; i < files.size(); ++i) {
      const int64_t length = cl::GetU32LE(image.data() + kHeaderSize + i * kFileEntrySize + 4);
      // No table file is empty after a commit: a zero is a file the commit did not write, as
      // journals of earlier builds recorded it, and is left as it is.
      if (files[i] == nullptr || length == 0) continue;
      platform::File& disk = files[i]->Disk();
      int64_t size = 0;
      if (disk.GetSize(&size) != platform::kErrorSuccess ||
          (size > length && disk.Truncate(length) != platform::kErrorSuccess)) {
        FailOn(*files[i], kErrWriteFailure);
      }
    }
  }
  platform::File& mark_disk = mark_file.Disk();
  const bool finished = last.bytes != nullptr
                            ? WriteWhole(mark_disk, last.offset, last.bytes, last.count)
                            : WriteWhole(mark_disk, kMarkOffset, clear.data(), clear.size());
  if (!finished) FailOn(mark_file, kErrWriteFailure);
  pending_ = false;
  return image.empty() ? TRecovery::kDropped : TRecovery::kCompleted;
}

}  // namespace tessera
