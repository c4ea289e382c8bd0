// The one shape of the engine's caches of file pieces (index pages, blob blocks, and the record
// cache to come): each entry knows where its piece lies in the file, whether it differs from the
// file, and how many users hold it in memory; dirty entries go back in runs of consecutive offsets.
//
//   entry state     may be recycled    reaches the file
//   clean           when unpinned      never (nothing to write)
//   dirty           after write-back   WriteBackRuns, when unpinned (or at commit)
//   pinned (any)    never              the owner decides
//
// A cache takes entries for new offsets only from unpinned ones, least recently used first; what
// it does when none is free (write back, grow, fail) is its own rule.  Not thread-safe.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <type_traits>
#include <vector>

namespace tessera {

class TCacheEntry;

// The entries of one cache that may be dirty, and those that may be pinned, so that a commit or
// an unpin of everything visits those few instead of the whole cache (a record cache holds
// thousands).  An entry joins a list when it becomes dirty (or pinned) and leaves it at the next
// sweep that finds it clean (or at UnpinAll); it may sit in a list while clean or unpinned, but is
// never missing from it while dirty or pinned.  An entry destroyed while listed takes itself out.
class TCacheLedger {
 public:
  TCacheLedger() = default;
  TCacheLedger(const TCacheLedger&) = delete;
  TCacheLedger& operator=(const TCacheLedger&) = delete;
  ~TCacheLedger();

  // The listed entries that are dirty and pass `due`, as the cache's entry type.
  template <typename Entry, typename Due>
  std::vector<Entry*> DirtyEntries(Due&& due) const;
  // Drops the listed entries that are clean again.
  void SweepDirty();
  // Clears the pins of every listed entry and empties the pinned list.
  void UnpinAll();
  // Empties both lists (the cache dropped or reset every entry).
  void Clear();

 private:
  friend class TCacheEntry;
  void Forget(TCacheEntry* entry);

  std::vector<TCacheEntry*> dirty_;
  std::vector<TCacheEntry*> pinned_;
};

class TCacheEntry {
 public:
  // Pins beyond this are a sign of a runaway chain or tree walk; the cache raises its own code.
  static constexpr uint16_t kMaxPins = 64;

  // 0: the entry holds no piece of the file.
  uint32_t Offset() const { return offset_; }
  void SetOffset(uint32_t offset) { offset_ = offset; }
  bool Dirty() const { return dirty_; }
  void SetDirty(bool dirty) {
    if (dirty && !listed_dirty_ && ledger_ != nullptr) {
      ledger_->dirty_.push_back(this);
      listed_dirty_ = true;
    }
    dirty_ = dirty;
  }

  uint16_t PinCount() const { return pins_; }
  // False, and no pin taken, when kMaxPins are held already.
  [[nodiscard]] bool TryPin() {
    if (pins_ >= kMaxPins) return false;
    if (!listed_pinned_ && ledger_ != nullptr) {
      ledger_->pinned_.push_back(this);
      listed_pinned_ = true;
    }
    ++pins_;
    return true;
  }
  void Unpin() {
    if (pins_ > 0) --pins_;
  }
  void ClearPins() { pins_ = 0; }

  // The cache's ledger; set once, before the entry is first made dirty or pinned.
  void SetLedger(TCacheLedger* ledger) { ledger_ = ledger; }

 protected:
  TCacheEntry() = default;
  // A copy belongs to no ledger until its cache gives it one.
  TCacheEntry(const TCacheEntry& other)
      : offset_(other.offset_), dirty_(other.dirty_), pins_(other.pins_) {}
  TCacheEntry& operator=(const TCacheEntry& other) {
    offset_ = other.offset_;
    pins_ = 0;
    SetDirty(other.dirty_);
    for (uint16_t i = 0; i < other.pins_; ++i) (void)TryPin();
    return *this;
  }
  ~TCacheEntry() {
    if (ledger_ != nullptr && (listed_dirty_ || listed_pinned_)) ledger_->Forget(this);
  }

 private:
  friend class TCacheLedger;

  uint32_t offset_ = 0;
  bool dirty_ = false;
  bool listed_dirty_ = false;
  bool listed_pinned_ = false;
  uint16_t pins_ = 0;
  TCacheLedger* ledger_ = nullptr;
};

inline TCacheLedger::~TCacheLedger() { Clear(); }

template <typename Entry, typename Due>
std::vector<Entry*> TCacheLedger::DirtyEntries(Due&& due) const {
  std::vector<Entry*> entries;
  entries.reserve(dirty_.size());  // one allocation per commit, not one per doubling
  for (TCacheEntry* e : dirty_) {
    Entry* entry = static_cast<Entry*>(e);
    if (e->dirty_ && due(*entry)) entries.push_back(entry);
  }
  return entries;
}

inline void TCacheLedger::SweepDirty() {
  std::erase_if(dirty_, [](TCacheEntry* e) {
    if (e->dirty_) return false;
    e->listed_dirty_ = false;
    return true;
  });
}

inline void TCacheLedger::UnpinAll() {
  for (TCacheEntry* e : pinned_) {
    e->pins_ = 0;
    e->listed_pinned_ = false;
  }
  pinned_.clear();
}

inline void TCacheLedger::Clear() {
  for (TCacheEntry* e : dirty_) e->listed_dirty_ = false;
  for (TCacheEntry* e : pinned_) e->listed_pinned_ = false;
  dirty_.clear();
  pinned_.clear();
}

inline void TCacheLedger::Forget(TCacheEntry* entry) {
  if (entry->listed_dirty_) std::erase(dirty_, entry);
  if (entry->listed_pinned_) std::erase(pinned_, entry);
  entry->listed_dirty_ = entry->listed_pinned_ = false;
}

// Writes `entries` back in runs of consecutive offsets, each entry `stride` bytes long and a run
// at most `max_run` entries: `pack(entry, image)` fills an entry's bytes and `write(offset, bytes,
// length)` writes one run; `pack` fills every one of its `stride` bytes (the run buffer is not
// cleared first).  The entries of a written run are marked clean; when a pack or a write
// throws, the entries of that run and of every later run are left dirty (whatever `pack` did to
// them) and the exception passes on.  The caller chooses which entries are due (dirty,
// unpinned, ...).  A `pack` that returns a pointer is first asked, for a run of one, with a null
// buffer: it may give the entry's own bytes to write as they are, or null having done nothing.
template <typename Entry, typename Pack, typename Write>
void WriteBackRuns(std::vector<Entry*> entries, size_t stride, Pack&& pack, Write&& write,
                   size_t max_run = std::numeric_limits<size_t>::max()) {
  std::sort(entries.begin(), entries.end(),
            [](const Entry* a, const Entry* b) { return a->Offset() < b->Offset(); });
  std::unique_ptr<uint8_t[]> run;
  size_t run_capacity = 0;
  for (size_t i = 0; i < entries.size();) {
    size_t n = 1;
    while (i + n < entries.size() && n < max_run &&
           entries[i + n]->Offset() == entries[i]->Offset() + n * stride) {
      ++n;
    }
    try {
      bool lent = false;
      if constexpr (std::is_pointer_v<std::invoke_result_t<Pack&, Entry&, uint8_t*>>) {
        if (n == 1) {
          if (const uint8_t* own = pack(*entries[i], nullptr)) {
            write(entries[i]->Offset(), own, stride);
            lent = true;
          }
        }
      }
      if (!lent) {
        if (n > run_capacity) {
          run = std::make_unique_for_overwrite<uint8_t[]>(n * stride);
          run_capacity = n;
        }
        for (size_t j = 0; j < n; ++j) pack(*entries[i + j], run.get() + j * stride);
        write(entries[i]->Offset(), run.get(), n * stride);
      }
    } catch (...) {
      for (size_t j = i; j < entries.size(); ++j) entries[j]->SetDirty(true);
      throw;
    }
    for (size_t j = i; j < i + n; ++j) entries[j]->SetDirty(false);
    i += n;
  }
}

}  // namespace tessera
