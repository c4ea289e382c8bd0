// One index page in memory, with its entries held expanded whatever the leaf compression.
//
// Beside them the page keeps its image as last read or written: a change marks the entries from
// its slot on as stale there (a child count or record number of an uncompressed page is patched
// in place, 4 bytes), so a write rebuilds only the stale tail of the image instead of the whole
// page, and the bytes are the same a whole rebuild gives.  After one insert or delete into an
// image that was whole, the entries behind the changed one and its follower keep their bytes:
// the write moves them as they are and rebuilds only the two between.
//
// The bytes on disk are described in engine/storage/index/IndexFormat.h.  A TPage belongs to the page
// cache of one TIndexFile (its TPageOwner), which supplies the current index's parameters when
// the page is taken into use, the table's encryption and the data file name that errors carry.
// A page read from disk is untrusted: Unpack checks every count, length and compression count
// against the image before copying and raises 8965 (index page buffers corrupt) on any damage,
// so no later access can reach past an entry.  Not thread-safe; used by its index file's thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/TCacheEntry.h"
#include "engine/storage/index/IndexFormat.h"

namespace tessera {

// Bytes a resize leaves as they are: the unpacking of an uncompressed page writes every byte of
// the entries it sizes, and a zero fill first would pass over them twice.
template <class T>
struct TUnsetAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = TUnsetAllocator<U>;
  };
  TUnsetAllocator() = default;
  template <class U>
  TUnsetAllocator(const TUnsetAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* at) noexcept {
    ::new (static_cast<void*>(at)) U;
  }
  template <class U, class... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
};
using TEntryBytes = std::vector<uint8_t, TUnsetAllocator<uint8_t>>;

// The parameters of the index a page belongs to, from its descriptor.
struct TIndexParams {
  uint16_t key_length = 0;
  uint8_t slot = 0;
  bool descending = false;
  bool unique = false;
  uint8_t compression = kCompressNone;
};

// The parameters of the index in `slot` as the header's descriptor gives them.  REQUIRES:
// `header` holds kIndexHeaderSize bytes and `slot` is below kIndexSlotCount.
TIndexParams IndexParamsOf(const uint8_t* header, uint8_t slot);

// What a page asks of the index file that caches it.
class TPageOwner {
 public:
  virtual ~TPageOwner() = default;
  virtual TIndexParams CurrentIndexParams() const = 0;
  // Pages are enciphered on disk (the table is encrypted).
  virtual bool PagesEnciphered() const = 0;
  // The data file named in errors.
  virtual const std::string& ErrorFileName() const = 0;
};

class TPage;

// The pages one store stage of an exclusive handle changed, as they were before, so that a failed
// store can put them back in memory (TPageCache::RollBackStore).  While open, a page saves itself
// here before its first change; a page adopted for a new offset is only noted, as it goes again.
// Kept by the page cache; its buffers are reused from one store to the next.
class TPageJournal {
 public:
  bool IsOpen() const { return open_; }
  // Whether `page` is in the journal of the store under way (not to be written or recycled).
  bool Holds(const TPage& page) const;
  void Open();
  void Close() { open_ = false; }
  // REQUIRES: open, and `page` not held yet.
  void Save(TPage& page);
  void NoteNew(TPage& page);

 private:
  friend class TPage;
  friend class TPageCache;
  struct Image;
  std::vector<Image> saved_;  // the first `saved_count_` are this store's
  size_t saved_count_ = 0;
  std::vector<std::pair<int, uint32_t>> added_;  // list, offset
  uint64_t round_ = 0;
  bool open_ = false;
};

// Offset, dirty flag and pins: TCacheEntry.  One pin beyond kMaxPins is error 8965.
class TPage : public TCacheEntry {
 public:
  // An empty page of the owner's current index; current and search slot 1.
  explicit TPage(TPageOwner& owner);

  TPage(const TPage&) = delete;
  TPage& operator=(const TPage&) = delete;

  // Clears count, links, type (0), parent and free mark and retakes the current index's
  // parameters; the page is left clean.
  void Reset();

  // Loads a page image of kIndexPageSize bytes: the header and, unless `is_new`, the entries.
  // Damage raises 8965 and leaves the page empty.
  void Unpack(const uint8_t* image, bool is_new);
  // Room of kIndexPageSize bytes for an image read from the file, to be given to Unpack next:
  // the page's own kept image, so that unpacking it needs no copy.  Whatever the page kept there
  // is forgotten.
  uint8_t* ReadRoom();
  // Writes the page image (kIndexPageSize bytes), recomputing the compressed form first; a free
  // page is written with key count 0 and no entries.  Clears dirty.  A page that does not fit
  // (entries past capacity, or a compressed leaf over 4083 bytes) raises 8965.
  void Pack(uint8_t* image);
  // Packs as Pack does, into the page's own image, which stays valid until the page next changes;
  // null, having done nothing, when the file holds pages enciphered (the image is plain).
  const uint8_t* PackKept();
  // The bytes of the last packed image that may differ from what the file holds at the page's
  // offset, as [first, second) from the page's start: everything changed since an image last
  // reached the file (ImageWritten) or came from it, the whole page when neither happened.
  std::pair<size_t, size_t> UnwrittenChanges() const {
    if (!image_in_file_) return {0, kIndexPageSize};
    return {changed_from_, changed_to_};
  }
  // The last packed image reached the file.
  void ImageWritten() {
    image_in_file_ = true;
    changed_from_ = changed_to_ = 0;
  }
  // Recomputes every entry's leading and trailing counts and the bytes in use (compressed leaves;
  // 0 for every other page).
  void Recompute();
  // After InsertAfterCurrent put an entry at `slot`: when the counts were current before the
  // insert (`counted_before`), only that entry and the one behind it have a new neighbour, and
  // only they are counted again; otherwise Recompute.  The result equals Recompute's when the
  // counts before were Recompute's (Unpack takes a page's counts from its image, where Pack
  // wrote Recompute's).
  void RecountInserted(uint16_t slot, bool counted_before);
  bool CountsCurrent() const { return counts_current_; }

  const TIndexParams& Params() const { return params_; }
  uint16_t KeyLength() const { return params_.key_length; }

  uint32_t ParentOffset() const { return parent_offset_; }
  void SetParentOffset(uint32_t offset) { parent_offset_ = offset; }
  bool IsFree() const { return free_; }
  void SetFree(bool free);

  uint8_t Type() const { return type_; }
  void SetType(uint8_t type);
  bool IsLeaf() const { return !IsInnerPageType(type_); }
  bool IsCompressedLeaf() const { return IsLeaf() && params_.compression != kCompressNone; }
  uint32_t Prev() const { return prev_; }
  void SetPrev(uint32_t offset);
  uint32_t Next() const { return next_; }
  void SetNext(uint32_t offset);

  uint16_t Count() const { return count_; }
  // Bytes of packed entries: kept for compressed leaves (after Recompute), 0 elsewhere.
  uint32_t BytesInUse() const { return bytes_in_use_; }
  // More entries than the page may hold (it must be split).
  bool IsOverFull() const;
  // Sum of the entries' subtree counts; a leaf answers its key count.
  uint64_t TotalCount() const;
  // Sum of the subtree counts of the entries in front of `slot` (inner pages; slot <= Count() + 1).
  uint64_t SubtreeCountBefore(uint16_t slot) const;

  // Entries by slot, 1..Count().  A slot outside that range raises 8965.
  const uint8_t* KeyAt(uint16_t slot) const { return EntryAt(slot); }
  void SetKeyAt(uint16_t slot, const uint8_t* key);
  // Child page offset (inner pages) or record number (leaves).
  uint32_t ValueAt(uint16_t slot) const {
    return cl::GetU32LE(EntryAt(slot) + params_.key_length + kValueAt);
  }
  void SetValueAt(uint16_t slot, uint32_t value);
  uint32_t SubtreeCountAt(uint16_t slot) const {
    return cl::GetU32LE(EntryAt(slot) + params_.key_length + kSubtreeAt);
  }
  void SetSubtreeCountAt(uint16_t slot, uint32_t count);
  // Leading and trailing counts of the packed form, as last computed or read.
  uint16_t LeadingAt(uint16_t slot) const;
  uint16_t TrailingAt(uint16_t slot) const;

  // The current slot and the search slot (0 = before the first entry).
  uint16_t CurrentSlot() const { return current_; }
  void SetCurrentSlot(uint16_t slot) { current_ = slot; }
  uint16_t SearchSlot() const { return search_; }
  void SetSearchSlot(uint16_t slot) { search_ = slot; }
  void CurrentToFirst() { current_ = 1; }
  void CurrentToLast() { current_ = count_; }
  void CurrentForward() { ++current_; }
  void CurrentBack() {
    if (current_ > 0) --current_;
  }
  void SearchToFirst() { search_ = 1; }
  void SearchToLast() { search_ = count_; }
  void SearchForward() { ++search_; }
  void SearchBack() {
    if (search_ > 0) --search_;
  }
  void CurrentToSearch() { search_ = current_; }
  void SearchToCurrent() { current_ = search_; }

  const uint8_t* CurrentKey() const { return KeyAt(current_); }
  uint32_t CurrentValue() const { return ValueAt(current_); }
  void SetCurrentValue(uint32_t value) { SetValueAt(current_, value); }
  uint32_t CurrentSubtreeCount() const { return SubtreeCountAt(current_); }
  void SetCurrentSubtreeCount(uint32_t count) { SetSubtreeCountAt(current_, count); }
  const uint8_t* SearchKey() const { return KeyAt(search_); }
  uint32_t SearchValue() const { return ValueAt(search_); }
  uint32_t SearchSubtreeCount() const { return SubtreeCountAt(search_); }

  // Opens a slot behind the current one (the current slot 0 inserts in front), copies the key
  // (KeyLength() bytes) there with value and count 0, and makes it current.  Marks dirty.
  void InsertAfterCurrent(const uint8_t* key);
  // Removes the current entry; when it was the last, the current slot moves back to the new last.
  // Counts current before stay current (only the follower is counted again), as with an insert.
  void DeleteCurrent();

  void Pin();

  // The memory the page holds, buffers included.
  size_t MemoryBytes() const { return sizeof(*this) + entries_.capacity() + image_.capacity(); }

  // The journal of the cache that holds the page, and the page's list there; set before the
  // page's first change.
  void SetJournal(TPageJournal* journal, int list) {
    journal_ = journal;
    list_ = list;
  }

 private:
  friend class TPageJournal;
  friend class TPageCache;

  // Saves the page to an open journal before its first change in the store under way.
  void BeforeChange() {
    if (journal_ != nullptr && journal_->IsOpen() && journal_round_ != journal_->round_) {
      journal_->Save(*this);
    }
  }
  // Brings the kept image up to date, clears dirty and gives the image.
  const uint8_t* PackImage();
  // Offsets inside an expanded entry, after the key bytes.
  static constexpr size_t kValueAt = 0;
  static constexpr size_t kSubtreeAt = 4;
  static constexpr size_t kLeadingAt = 8;
  static constexpr size_t kTrailingAt = 10;

  size_t Stride() const { return static_cast<size_t>(params_.key_length) + 12; }
  // Inline: every descent and walk reads entries through here.
  uint8_t* EntryAt(uint16_t slot) {
    if (slot < 1 || slot > count_) RaiseCorrupt();
    return entries_.data() + (slot - 1) * Stride();
  }
  const uint8_t* EntryAt(uint16_t slot) const {
    if (slot < 1 || slot > count_) RaiseCorrupt();
    return entries_.data() + (slot - 1) * Stride();
  }
  [[noreturn]] void RaiseCorrupt() const;
  void Clear();
  void UnpackEntries(const uint8_t* image);
  void SetLeading(uint16_t slot, uint16_t p);
  void SetTrailing(uint16_t slot, uint16_t t);
  // The kept image no longer holds entry `slot` (nor, unless they are a moved tail behind it,
  // those behind it).
  void StaleFrom(uint16_t slot) {
    if (tail_slot_ != 0 && slot >= tail_slot_) tail_slot_ = 0;
    if (slot <= image_entries_) image_entries_ = static_cast<uint16_t>(slot - 1);
  }
  void ForgetImage() {
    image_entries_ = 0;
    tail_slot_ = 0;
  }
  // Bytes [from, to) of the image no longer match the file.
  void NoteChanged(size_t from, size_t to) {
    if (from >= to) return;
    if (changed_from_ == changed_to_) {
      changed_from_ = from;
      changed_to_ = to;
      return;
    }
    changed_from_ = std::min(changed_from_, from);
    changed_to_ = std::max(changed_to_, to);
  }
  // Before an insert or delete that leaves the entries from `old_slot` on (present numbering)
  // as they are: when the image holds every entry, they are kept as its moved tail.
  void KeepTailFrom(uint16_t old_slot);
  // Where entry `slot` of an uncompressed page lies in the image as it stands, or nullptr when
  // the image does not hold it.
  uint8_t* KeptEntry(uint16_t slot);
  // Where the packed entry `slot` starts in the image, from the counts of those in front of it.
  size_t PackedOffset(uint16_t slot) const;
  // Writes entries from..to into the image from `out`; answers the end of the last.
  uint8_t* PackEntries(uint16_t from, uint16_t to, uint8_t* out) const;

  TPageOwner& owner_;
  TIndexParams params_;
  uint32_t parent_offset_ = 0;
  uint32_t bytes_in_use_ = 0;
  uint16_t count_ = 0;
  uint16_t current_ = 1;
  uint16_t search_ = 1;
  uint32_t prev_ = 0;
  uint32_t next_ = 0;
  // The leading and trailing counts and bytes in use match the keys (Recompute ran since the
  // last change of a key, the count or the type), so Pack need not run it again.
  bool counts_current_ = false;
  uint8_t type_ = kPageRootInner;
  bool free_ = false;
  // Count() entries of KeyLength() + 12 bytes: key, u32 value, u32 subtree count, u16 leading
  // count, u16 trailing count (host order; never written to disk as such).
  TEntryBytes entries_;
  // The plain image (kIndexPageSize bytes once used): its first `image_entries_` entries match
  // the entries above, and every byte from `image_end_` on is zero.
  std::vector<uint8_t> image_;
  uint16_t image_entries_ = 0;
  size_t image_end_ = kIndexPageSize;
  // When nonzero: entries tail_slot_..Count() are the bytes [tail_at_, tail_end_) of the image
  // (the entries between image_entries_ and tail_slot_ are stale).
  uint16_t tail_slot_ = 0;
  size_t tail_at_ = 0;
  size_t tail_end_ = 0;
  // The image is the file's bytes at the page's offset but for [changed_from_, changed_to_):
  // set where it is read or confirmed written, cleared where the page takes another offset.
  bool image_in_file_ = false;
  size_t changed_from_ = 0;
  size_t changed_to_ = 0;
  TPageJournal* journal_ = nullptr;
  int list_ = 0;
  uint64_t journal_round_ = 0;  // the journal round in which the page was saved or adopted
};

struct TPageJournal::Image {
  int list = 0;
  uint32_t offset = 0;
  bool dirty = false;
  TIndexParams params;
  uint32_t parent_offset = 0;
  uint32_t bytes_in_use = 0;
  uint16_t count = 0;
  uint32_t prev = 0;
  uint32_t next = 0;
  bool counts_current = false;
  uint8_t type = 0;
  bool free = false;
  TEntryBytes entries;
};

inline bool TPageJournal::Holds(const TPage& page) const {
  return open_ && page.journal_round_ == round_;
}

}  // namespace tessera
