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
#include <vector>

namespace tessera {

class TCacheEntry {
 public:
  // Pins beyond this are a sign of a runaway chain or tree walk; the cache raises its own code.
  static constexpr uint16_t kMaxPins = 64;

  // 0: the entry holds no piece of the file.
  uint32_t Offset() const { return offset_; }
  void SetOffset(uint32_t offset) { offset_ = offset; }
  bool Dirty() const { return dirty_; }
  void SetDirty(bool dirty) { dirty_ = dirty; }

  uint16_t PinCount() const { return pins_; }
  // False, and no pin taken, when kMaxPins are held already.
  [[nodiscard]] bool TryPin() {
    if (pins_ >= kMaxPins) return false;
    ++pins_;
    return true;
  }
  void Unpin() {
    if (pins_ > 0) --pins_;
  }
  void ClearPins() { pins_ = 0; }

 protected:
  TCacheEntry() = default;
  ~TCacheEntry() = default;

 private:
  uint32_t offset_ = 0;
  bool dirty_ = false;
  uint16_t pins_ = 0;
};

// Writes `entries` back in runs of consecutive offsets, each entry `stride` bytes long and a run
// at most `max_run` entries: `pack(entry, image)` fills an entry's bytes and `write(offset, bytes,
// length)` writes one run.  The entries of a written run are marked clean; when a pack or a write
// throws, the entries of that run and of every later run are left dirty (whatever `pack` did to
// them) and the exception passes on.  The caller chooses which entries are due (dirty,
// unpinned, ...).
template <typename Entry, typename Pack, typename Write>
void WriteBackRuns(std::vector<Entry*> entries, size_t stride, Pack&& pack, Write&& write,
                   size_t max_run = std::numeric_limits<size_t>::max()) {
  std::sort(entries.begin(), entries.end(),
            [](const Entry* a, const Entry* b) { return a->Offset() < b->Offset(); });
  std::vector<uint8_t> run;
  for (size_t i = 0; i < entries.size();) {
    size_t n = 1;
    while (i + n < entries.size() && n < max_run &&
           entries[i + n]->Offset() == entries[i]->Offset() + n * stride) {
      ++n;
    }
    run.assign(n * stride, 0);
    try {
      for (size_t j = 0; j < n; ++j) pack(*entries[i + j], run.data() + j * stride);
      write(entries[i]->Offset(), run.data(), run.size());
    } catch (...) {
      for (size_t j = i; j < entries.size(); ++j) entries[j]->SetDirty(true);
      throw;
    }
    for (size_t j = i; j < i + n; ++j) entries[j]->SetDirty(false);
    i += n;
  }
}

}  // namespace tessera
