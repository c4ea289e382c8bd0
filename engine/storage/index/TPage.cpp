#include "engine/storage/index/TPage.h"

#include <algorithm>
#include <cstring>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/TableCipher.h"

namespace tessera {
namespace {

// Suffix bytes a key of these parameters keeps out of trailing-zero counting.
size_t SuffixSize(const TIndexParams& p) {
  return HasKeySuffix(p.slot, p.unique) ? kKeySuffixSize : 0;
}

size_t CommonPrefix(const uint8_t* a, const uint8_t* b, size_t n) {
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// Zero bytes at the end of key[from, to), at most kMaxCompressCount.
size_t TrailingZeros(const uint8_t* key, size_t from, size_t to) {
  size_t t = 0;
  while (to > from && key[to - 1] == 0 && t < kMaxCompressCount) {
    --to;
    ++t;
  }
  return t;
}

struct Counts {
  size_t leading;
  size_t trailing;
};

// The packed form of `key` behind `prev` (nullptr for the first entry).
Counts ComputeCounts(uint8_t mode, size_t k, size_t suffix, const uint8_t* prev,
                     const uint8_t* key) {
  Counts c{0, 0};
  if (mode == kCompressLeading || mode == kCompressBoth) {
    if (prev != nullptr) c.leading = CommonPrefix(prev, key, k);
    if (mode == kCompressBoth) c.leading = std::min<size_t>(c.leading, kMaxCompressCount);
  }
  if (mode == kCompressTrailing) {
    c.trailing = TrailingZeros(key, 0, k - suffix);
  } else if (mode == kCompressBoth) {
    // Mode 3 counts zeros only in the bytes the leading count leaves, and in front of a suffix
    // only while at least one key byte stands before it.
    if (suffix == 0)
      c.trailing = TrailingZeros(key, c.leading, k);
    else if (k - c.leading > suffix)
      c.trailing = TrailingZeros(key, c.leading, k - suffix);
  }
  return c;
}

}  // namespace

TIndexParams IndexParamsOf(const uint8_t* header, uint8_t slot) {
  TIndexParams params;
  params.slot = slot;
  const uint8_t* raw = header + DescriptorOffset(slot);
  params.key_length = cl::GetU16LE(raw + kDescKeyLength);
  params.descending = raw[kDescDescending] != 0;
  params.unique = raw[kDescUnique] != 0;
  params.compression = raw[kDescCompression];
  return params;
}

TPage::TPage(TPageOwner& owner) : owner_(owner) { Reset(); }

void TPage::Clear() {
  ForgetImage();
  image_in_file_ = false;
  counts_current_ = false;
  count_ = 0;
  entries_.clear();
  bytes_in_use_ = 0;
  prev_ = next_ = 0;
  type_ = kPageRootInner;
  parent_offset_ = 0;
  free_ = false;
  current_ = search_ = 1;
}

void TPage::Reset() {
  if (Offset() != 0) BeforeChange();
  Clear();
  params_ = owner_.CurrentIndexParams();
  SetDirty(false);
}

void TPage::RaiseCorrupt() const { RaiseEngineError(kErrIndexPageCorrupt, owner_.ErrorFileName()); }

void TPage::SetKeyAt(uint16_t slot, const uint8_t* key) {
  BeforeChange();
  std::memcpy(EntryAt(slot), key, params_.key_length);
  StaleFrom(slot);
  counts_current_ = false;
  SetDirty(true);
}

void TPage::SetValueAt(uint16_t slot, uint32_t value) {
  BeforeChange();
  cl::PutU32LE(EntryAt(slot) + params_.key_length + kValueAt, value);
  if (uint8_t* kept = KeptEntry(slot)) {
    cl::PutU32LE(kept + params_.key_length, value);
    const size_t at = static_cast<size_t>(kept - image_.data()) + params_.key_length;
    NoteChanged(at, at + 4);
  } else {
    StaleFrom(slot);
  }
  SetDirty(true);
}

void TPage::SetSubtreeCountAt(uint16_t slot, uint32_t count) {
  BeforeChange();
  cl::PutU32LE(EntryAt(slot) + params_.key_length + kSubtreeAt, count);
  // A leaf's entries carry no count on disk.
  if (!IsLeaf()) {
    if (uint8_t* kept = KeptEntry(slot)) {
      cl::PutU32LE(kept + params_.key_length + 4, count);
      const size_t at = static_cast<size_t>(kept - image_.data()) + params_.key_length + 4;
      NoteChanged(at, at + 4);
    } else {
      StaleFrom(slot);
    }
  }
  SetDirty(true);
}

uint16_t TPage::LeadingAt(uint16_t slot) const {
  return cl::GetU16LE(EntryAt(slot) + params_.key_length + kLeadingAt);
}

uint16_t TPage::TrailingAt(uint16_t slot) const {
  return cl::GetU16LE(EntryAt(slot) + params_.key_length + kTrailingAt);
}

void TPage::SetLeading(uint16_t slot, uint16_t p) {
  if (LeadingAt(slot) != p) StaleFrom(slot);
  cl::PutU16LE(EntryAt(slot) + params_.key_length + kLeadingAt, p);
}

void TPage::SetTrailing(uint16_t slot, uint16_t t) {
  if (TrailingAt(slot) != t) StaleFrom(slot);
  cl::PutU16LE(EntryAt(slot) + params_.key_length + kTrailingAt, t);
}

void TPage::SetFree(bool free) {
  BeforeChange();
  if (free_ != free) {
    ForgetImage();
    SetDirty(true);
  }
  free_ = free;
}

void TPage::SetType(uint8_t type) {
  BeforeChange();
  if (type_ != type) {
    ForgetImage();  // the entries' form follows the type
    counts_current_ = false;
    SetDirty(true);
  }
  type_ = type;
}

void TPage::SetPrev(uint32_t offset) {
  BeforeChange();
  if (prev_ != offset) SetDirty(true);
  prev_ = offset;
}

void TPage::SetNext(uint32_t offset) {
  BeforeChange();
  if (next_ != offset) SetDirty(true);
  next_ = offset;
}

bool TPage::IsOverFull() const {
  if (!IsLeaf()) return count_ > InnerCapacity(params_.key_length);
  if (params_.compression == kCompressNone) return count_ > LeafCapacity(params_.key_length);
  return bytes_in_use_ > kPageEntryBytes;
}

uint64_t TPage::TotalCount() const {
  if (IsLeaf()) return count_;
  return SubtreeCountBefore(static_cast<uint16_t>(count_ + 1));
}

uint64_t TPage::SubtreeCountBefore(uint16_t slot) const {
  if (slot > count_ + 1) RaiseCorrupt();
  if (slot <= 1) return 0;
  const size_t stride = Stride();
  const uint8_t* p = entries_.data() + params_.key_length + kSubtreeAt;
  uint64_t total = 0;
  for (uint16_t s = 1; s < slot; ++s, p += stride) total += cl::GetU32LE(p);
  return total;
}

void TPage::InsertAfterCurrent(const uint8_t* key) {
  if (count_ == UINT16_MAX) RaiseCorrupt();
  BeforeChange();
  const uint16_t slot = static_cast<uint16_t>(std::min(current_, count_) + 1);
  // The entry now at `slot` becomes the new entry's follower; those behind it keep their bytes.
  KeepTailFrom(static_cast<uint16_t>(slot + 1));
  const size_t stride = Stride();
  entries_.insert(entries_.begin() + static_cast<ptrdiff_t>((slot - 1) * stride), stride, 0);
  ++count_;
  std::memcpy(EntryAt(slot), key, params_.key_length);
  if (tail_slot_ != 0) ++tail_slot_;
  StaleFrom(slot);
  current_ = slot;
  counts_current_ = false;
  SetDirty(true);
}

void TPage::DeleteCurrent() {
  EntryAt(current_);  // range check
  BeforeChange();
  const uint16_t slot = current_;
  // With current counts only the follower gets a new neighbour: it alone is counted again.
  const bool recount = counts_current_ && IsCompressedLeaf();
  const size_t k = params_.key_length;
  const size_t suffix = SuffixSize(params_);
  if (recount && (k < suffix || params_.compression > kMaxCompression)) RaiseCorrupt();
  auto packed_size = [&](uint16_t s) {
    return static_cast<uint32_t>(k - LeadingAt(s) - TrailingAt(s) + 6);
  };
  uint32_t total = recount ? bytes_in_use_ - packed_size(slot) : 0;
  if (recount && slot < count_) total -= packed_size(static_cast<uint16_t>(slot + 1));
  // The follower is counted again; those behind it keep their bytes.
  KeepTailFrom(static_cast<uint16_t>(slot + 2));
  const size_t stride = Stride();
  const auto first = entries_.begin() + static_cast<ptrdiff_t>((slot - 1) * stride);
  entries_.erase(first, first + static_cast<ptrdiff_t>(stride));
  if (tail_slot_ != 0) --tail_slot_;
  StaleFrom(slot);
  --count_;
  if (recount) {
    if (slot <= count_) {
      const Counts c = ComputeCounts(params_.compression, k, suffix,
                                     slot > 1 ? KeyAt(slot - 1) : nullptr, KeyAt(slot));
      SetLeading(slot, static_cast<uint16_t>(c.leading));
      SetTrailing(slot, static_cast<uint16_t>(c.trailing));
      total += packed_size(slot);
    }
    bytes_in_use_ = total;
  }
  if (current_ > count_) current_ = count_;
  SetDirty(true);
}

// ---- the store journal --------------------------------------------------------------------------

void TPageJournal::Open() {
  open_ = true;
  ++round_;
  saved_count_ = 0;
  added_.clear();
}

void TPageJournal::Save(TPage& page) {
  if (saved_count_ == saved_.size()) saved_.emplace_back();
  Image& image = saved_[saved_count_];
  image.list = page.list_;
  image.offset = page.Offset();
  image.dirty = page.Dirty();
  image.params = page.params_;
  image.parent_offset = page.parent_offset_;
  image.bytes_in_use = page.bytes_in_use_;
  image.count = page.count_;
  image.prev = page.prev_;
  image.next = page.next_;
  image.counts_current = page.counts_current_;
  image.type = page.type_;
  image.free = page.free_;
  image.entries.assign(page.entries_.begin(), page.entries_.end());
  ++saved_count_;
  page.journal_round_ = round_;
}

void TPageJournal::NoteNew(TPage& page) {
  added_.emplace_back(page.list_, page.Offset());
  page.journal_round_ = round_;
}

void TPage::Pin() {
  if (!TryPin()) RaiseCorrupt();
}

void TPage::Recompute() {
  if (!IsCompressedLeaf()) {
    for (uint16_t slot = 1; slot <= count_; ++slot) {
      SetLeading(slot, 0);
      SetTrailing(slot, 0);
    }
    bytes_in_use_ = 0;
    counts_current_ = true;
    return;
  }
  const size_t k = params_.key_length;
  const size_t suffix = SuffixSize(params_);
  if (k < suffix || params_.compression > kMaxCompression) RaiseCorrupt();
  uint32_t total = 0;
  for (uint16_t slot = 1; slot <= count_; ++slot) {
    const Counts c = ComputeCounts(params_.compression, k, suffix,
                                   slot > 1 ? KeyAt(slot - 1) : nullptr, KeyAt(slot));
    SetLeading(slot, static_cast<uint16_t>(c.leading));
    SetTrailing(slot, static_cast<uint16_t>(c.trailing));
    total += static_cast<uint32_t>(k - c.leading - c.trailing + 6);
  }
  bytes_in_use_ = total;
  counts_current_ = true;
}

void TPage::RecountInserted(uint16_t slot, bool counted_before) {
  if (!counted_before || slot == 0 || slot > count_) return Recompute();
  if (!IsCompressedLeaf()) {
    // Every count stays 0, the inserted entry's too.
    counts_current_ = true;
    return;
  }
  const size_t k = params_.key_length;
  const size_t suffix = SuffixSize(params_);
  if (k < suffix || params_.compression > kMaxCompression) RaiseCorrupt();
  auto packed_size = [&](uint16_t s) {
    return static_cast<uint32_t>(k - LeadingAt(s) - TrailingAt(s) + 6);
  };
  // The new entry is not in the total yet; the one behind it is, with its former neighbour.
  uint32_t total = bytes_in_use_;
  const uint16_t last = slot < count_ ? static_cast<uint16_t>(slot + 1) : slot;
  if (last > slot) total -= packed_size(last);
  for (uint16_t s = slot; s <= last; ++s) {
    const Counts c =
        ComputeCounts(params_.compression, k, suffix, s > 1 ? KeyAt(s - 1) : nullptr, KeyAt(s));
    SetLeading(s, static_cast<uint16_t>(c.leading));
    SetTrailing(s, static_cast<uint16_t>(c.trailing));
    total += packed_size(s);
  }
  bytes_in_use_ = total;
  counts_current_ = true;
}

uint8_t* TPage::KeptEntry(uint16_t slot) {
  if (IsCompressedLeaf()) return nullptr;
  if (slot <= image_entries_) return image_.data() + PackedOffset(slot);
  if (tail_slot_ == 0 || slot < tail_slot_) return nullptr;
  const size_t size = params_.key_length + (IsLeaf() ? 4u : 8u);
  return image_.data() + tail_at_ + (slot - tail_slot_) * size;
}

void TPage::KeepTailFrom(uint16_t old_slot) {
  // Only one move is kept: a second insert or delete rebuilds from the first changed entry.
  // A compressed leaf needs its counts current to know where its entries end.
  if (image_entries_ < count_ || old_slot > count_ || image_.empty() ||
      (IsCompressedLeaf() && !counts_current_) || free_) {
    tail_slot_ = 0;
    return;
  }
  tail_slot_ = old_slot;
  tail_at_ = PackedOffset(old_slot);
  tail_end_ = IsCompressedLeaf() ? kPageEntries + bytes_in_use_ : PackedOffset(count_ + 1u);
}

size_t TPage::PackedOffset(uint16_t slot) const {
  const size_t k = params_.key_length;
  if (!IsLeaf()) return kPageEntries + (slot - 1u) * (k + 8);
  if (params_.compression == kCompressNone) return kPageEntries + (slot - 1u) * (k + 4);
  size_t at = kPageEntries;
  for (uint16_t s = 1; s < slot; ++s) at += k - LeadingAt(s) - TrailingAt(s) + 6;
  return at;
}

uint8_t* TPage::PackEntries(uint16_t from, uint16_t to, uint8_t* out) const {
  const size_t k = params_.key_length;
  const size_t suffix = SuffixSize(params_);
  for (uint16_t slot = from; slot <= to; ++slot) {
    const uint8_t* key = KeyAt(slot);
    if (!IsLeaf()) {
      std::memcpy(out, key, k);
      cl::PutU32LE(out + k, ValueAt(slot));
      cl::PutU32LE(out + k + 4, SubtreeCountAt(slot));
      out += k + 8;
      continue;
    }
    const size_t p = LeadingAt(slot);
    const size_t t = TrailingAt(slot);
    switch (params_.compression) {
      case kCompressNone:
        break;
      case kCompressLeading:
        cl::PutU16LE(out, static_cast<uint16_t>(p));
        out += 2;
        break;
      case kCompressTrailing:
        cl::PutU16LE(out, static_cast<uint16_t>(t));
        out += 2;
        break;
      default:
        out[0] = static_cast<uint8_t>(p);
        out[1] = static_cast<uint8_t>(t);
        out += 2;
        break;
    }
    // Stored bytes: [p, k) less the left-out zeros [k - suffix - t, k - suffix).
    if (t == 0) {
      std::memcpy(out, key + p, k - p);
      out += k - p;
    } else {
      std::memcpy(out, key + p, k - suffix - t - p);
      out += k - suffix - t - p;
      std::memcpy(out, key + k - suffix, suffix);
      out += suffix;
    }
    cl::PutU32LE(out, ValueAt(slot));
    out += 4;
  }
  return out;
}

void TPage::Pack(uint8_t* image) {
  std::memcpy(image, PackImage(), kIndexPageSize);
  if (owner_.PagesEnciphered()) EncipherBuffer(image, kIndexPageSize, kDataKeyA, kDataKeyB);
}

const uint8_t* TPage::PackKept() { return owner_.PagesEnciphered() ? nullptr : PackImage(); }

const uint8_t* TPage::PackImage() {
  if (!counts_current_) Recompute();
  const size_t k = params_.key_length;
  if (!free_) {
    if (!IsLeaf()                              ? count_ > InnerCapacity(k)
        : params_.compression == kCompressNone ? count_ > LeafCapacity(k)
                                               : bytes_in_use_ > kPageEntryBytes) {
      RaiseCorrupt();
    }
  }
  if (image_.size() != kIndexPageSize) {
    image_.assign(kIndexPageSize, 0);
    image_entries_ = 0;
    image_end_ = kPageEntries;
    image_in_file_ = false;
  }
  uint8_t* const kept = image_.data();
  uint8_t header[kPageEntries];
  std::memcpy(header, kept, kPageEntries);
  kept[kPageType] = type_;
  cl::PutU16LE(kept + kPageCount, free_ ? 0 : count_);
  cl::PutU32LE(kept + kPagePrev, prev_);
  cl::PutU32LE(kept + kPageNext, next_);
  cl::PutU16LE(kept + kPageBytesInUse, free_ ? 0 : static_cast<uint16_t>(bytes_in_use_));
  if (std::memcmp(header, kept, kPageEntries) != 0) NoteChanged(0, kPageEntries);
  size_t end = kPageEntries;
  // Entries are rebuilt from here on, and the bytes up to the former end zeroed.
  size_t rebuilt = kPageEntries;
  if (!free_) {
    // Only the entries behind the last one the image still holds are written again, up to a
    // kept tail, which moves to its new place as it is.
    const uint16_t from = static_cast<uint16_t>(std::min(image_entries_, count_) + 1);
    const size_t at = PackedOffset(from);
    rebuilt = at;
    if (tail_slot_ != 0 && tail_slot_ > from && tail_slot_ <= count_) {
      uint8_t between[kIndexPageSize];
      const size_t size = static_cast<size_t>(
          PackEntries(from, static_cast<uint16_t>(tail_slot_ - 1), between) - between);
      const size_t tail_size = tail_end_ - tail_at_;
      if (at + size + tail_size > kIndexPageSize) RaiseCorrupt();
      std::memmove(kept + at + size, kept + tail_at_, tail_size);
      std::memcpy(kept + at, between, size);
      end = at + size + tail_size;
    } else {
      end = static_cast<size_t>(PackEntries(from, count_, kept + at) - kept);
    }
  }
  tail_slot_ = 0;
  NoteChanged(rebuilt, std::max(end, image_end_));
  if (end < image_end_) std::memset(kept + end, 0, image_end_ - end);
  image_end_ = end;
  image_entries_ = free_ ? 0 : count_;
  SetDirty(false);
  return kept;
}

uint8_t* TPage::ReadRoom() {
  ForgetImage();
  image_in_file_ = false;
  // A read that fails half-way leaves any bytes behind: none of them is known to be zero.
  image_end_ = kIndexPageSize;
  if (image_.size() != kIndexPageSize) image_.assign(kIndexPageSize, 0);
  return image_.data();
}

void TPage::Unpack(const uint8_t* source, bool is_new) {
  // Only an enciphered page needs a copy to decipher in.
  uint8_t plain[kIndexPageSize];
  const uint8_t* image = source;
  if (owner_.PagesEnciphered()) {
    std::memcpy(plain, source, kIndexPageSize);
    DecipherBuffer(plain, kIndexPageSize, kDataKeyA, kDataKeyB);
    image = plain;
  }
  Clear();
  const uint8_t type = image[kPageType];
  if (type > kPageRootLeaf) RaiseCorrupt();
  type_ = type;
  prev_ = cl::GetU32LE(image + kPagePrev);
  next_ = cl::GetU32LE(image + kPageNext);
  if (!is_new) {
    try {
      UnpackEntries(image);
    } catch (...) {
      Clear();
      throw;
    }
    // The image read is what a write would give back (bytes past the entries may not be zero).
    if (image != image_.data()) image_.assign(image, image + kIndexPageSize);
    image_entries_ = count_;
    // Bytes past the entries may not be zero: the image's zero tail starts behind the last that
    // is not.  They usually all are, which one wide compare shows before the walk back.
    static constexpr uint8_t kZeros[kIndexPageSize] = {};
    size_t end = kIndexPageSize;
    const size_t entries_end =
        IsCompressedLeaf() ? kPageEntries + bytes_in_use_ : PackedOffset(count_ + 1u);
    if (entries_end < end && std::memcmp(image + entries_end, kZeros, end - entries_end) == 0) {
      end = entries_end;
    }
    while (end >= kPageEntries + 8 && cl::GetU64LE(image + end - 8) == 0) end -= 8;
    while (end > kPageEntries && image[end - 1] == 0) --end;
    image_end_ = end;
    image_in_file_ = true;
    changed_from_ = changed_to_ = 0;
  }
  SetDirty(false);
}

void TPage::UnpackEntries(const uint8_t* image) {
  const size_t k = params_.key_length;
  const size_t suffix = SuffixSize(params_);
  if (k > kMaxKeyLength || k < suffix || params_.compression > kMaxCompression) RaiseCorrupt();
  const uint16_t count = cl::GetU16LE(image + kPageCount);
  const bool compressed = IsCompressedLeaf();
  if (!compressed && count > (IsLeaf() ? LeafCapacity(k) : InnerCapacity(k))) RaiseCorrupt();
  const size_t stride = Stride();
  count_ = count;

  const uint8_t* in = image + kPageEntries;
  if (!compressed) {
    // A stored entry is the expanded one's key, value and (inner pages) subtree count, in that
    // order: one copy each, and zeros for the rest, which the resize left unset.
    static_assert(kValueAt == 0 && kSubtreeAt == 4 && kLeadingAt == 8 && kTrailingAt == 10);
    const bool leaf = IsLeaf();
    const size_t size = leaf ? k + 4 : k + 8;  // fits: count is within capacity
    entries_.resize(count * stride);
    uint8_t* entry = entries_.data();
    // Entries of 8 to 16 bytes (most keys) in two overlapping 8-byte moves: a copy of unknown
    // length compiles to a string instruction whose start costs more than such a copy.
    const bool short_entry = size >= 8 && size <= 16;
    for (uint16_t slot = 1; slot <= count; ++slot, in += size, entry += stride) {
      if (short_entry) {
        std::memcpy(entry, in, 8);
        std::memcpy(entry + size - 8, in + size - 8, 8);
      } else {
        std::memcpy(entry, in, size);
      }
      if (leaf) std::memset(entry + k + kSubtreeAt, 0, 4);
      std::memset(entry + k + kLeadingAt, 0, 4);
    }
    counts_current_ = true;  // as below
    return;
  }
  entries_.assign(count * stride, 0);
  const uint8_t* const end = image + kIndexPageSize;
  for (uint16_t slot = 1; slot <= count; ++slot) {
    uint8_t* entry = entries_.data() + (slot - 1) * stride;
    if (end - in < 2) RaiseCorrupt();
    size_t p = 0, t = 0;
    switch (params_.compression) {
      case kCompressLeading:
        p = cl::GetU16LE(in);
        break;
      case kCompressTrailing:
        t = cl::GetU16LE(in);
        break;
      default:
        p = in[0];
        t = in[1];
        break;
    }
    in += 2;
    if (p > k || t > kMaxCompressCount || (slot == 1 && p != 0)) RaiseCorrupt();
    if (t > 0) {
      // The left-out zeros lie in front of the suffix, behind the leading bytes, and mode 3
      // leaves at least one key byte before a suffix.
      if (t + suffix + p > k) RaiseCorrupt();
      if (suffix != 0 && params_.compression == kCompressBoth && k - p <= suffix) RaiseCorrupt();
    }
    const size_t stored = k - p - t;
    if (static_cast<size_t>(end - in) < stored + 4) RaiseCorrupt();
    if (p > 0) std::memcpy(entry, entry - stride, p);  // the previous expanded key
    if (t == 0) {
      std::memcpy(entry + p, in, stored);
    } else {
      std::memcpy(entry + p, in, k - suffix - t - p);
      std::memcpy(entry + k - suffix, in + (k - suffix - t - p), suffix);
    }
    in += stored;
    std::memcpy(entry + k + kValueAt, in, 4);
    in += 4;
    cl::PutU16LE(entry + k + kLeadingAt, static_cast<uint16_t>(p));
    cl::PutU16LE(entry + k + kTrailingAt, static_cast<uint16_t>(t));
  }
  const uint32_t used = static_cast<uint32_t>(in - (image + kPageEntries));
  if (used != cl::GetU16LE(image + kPageBytesInUse)) RaiseCorrupt();
  bytes_in_use_ = used;
  // The counts are those of the image (zero on a page without compression) and agree with the
  // bytes in use, so an insert recounts only the entries it gave a new neighbour.
  counts_current_ = true;
}

}  // namespace tessera
