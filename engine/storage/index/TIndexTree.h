// The counted B-tree operations on the current index of an index file: compare, search, insert,
// delete and modify keys, with page splits, merges, redistribution, new and collapsed roots and
// the per-index free-page chains.  The page layout is in engine/storage/index/IndexFormat.h.
//
// Invariants kept by every operation (checked by engine/storage/index/IndexCheck.h):
//   - every leaf lies at the same depth; each level is a doubly linked list in key order;
//   - an inner entry's key is the smallest key of its child's subtree, and its count is the
//     number of leaf keys below it; the position (ordinal) of a key is 1 + the counts to the left
//     of the descent path;
//   - types 0 (root inner) and 3 (root leaf) only at the root, which has no neighbours;
//   - no page but a root is empty; a freed page carries count 0 and its chain link in "next".
//
// Every change is made in three steps: the entry is located (nothing changed yet: a missing key
// raises 8708, a duplicate of a unique index 9729), then every page the change will touch is
// brought in and pinned and every new page taken (a file full, 9479, or a read failure undoes
// what was taken), and only then are entries, counts and links changed, in memory, where nothing
// can fail.  So a failed operation leaves the tree exactly as it was.
//
// Pages merge or share entries only with a sibling under the same parent; a lone child that has
// fallen below half its capacity stays so (a valid state), and an empty page is always removed.
//
// Not thread-safe: used by its index file's thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/storage/index/IndexFormat.h"
#include "engine/storage/index/KeyCompare.h"
#include "engine/storage/index/TPage.h"
#include "engine/storage/index/TPageCache.h"

namespace tessera {

class TIndexTreeHost;
class TPageCache;

// A key's place: its leaf page, its slot there and its ordinal over the whole index.  Leaf 0
// means no entry; its position is then 0 (before the first key) or the key count + 1 (after the
// last).
struct TTreeSpot {
  uint32_t leaf = 0;
  uint16_t slot = 0;
  uint32_t position = 0;
};

class TIndexTree {
 public:
  TIndexTree(TIndexTreeHost& host, TPageCache& cache);
  TIndexTree(const TIndexTree&) = delete;
  TIndexTree& operator=(const TIndexTree&) = delete;

  // The order of the current index.
  TKeyOrder CurrentOrder() const;
  // -1, 0 or 1 in the current index's order over `length` bytes.
  int CompareKeys(const uint8_t* a, const uint8_t* b, size_t length) const;

  // REQUIRES for all that follow: the current index is a tree (not record-number order), and
  // keys hold the current index's key length.
  //
  // Adds the key with its record number.  Equal keys are kept in insertion order; slot 0 and a
  // unique index refuse a key that is there already (9729).
  void InsertKey(const uint8_t* key, uint32_t record_number);
  // Removes the entry of this key and record number (8708 when there is none).  Among equal keys
  // (possible after the sequence numbers wrapped) only the entry of this record goes.
  void DeleteKey(const uint8_t* key, uint32_t record_number);
  // Removes the first entry of this key, whatever its record number (8708 when absent).
  void DeleteKey(const uint8_t* key);
  // Moves a record's entry from old_key to new_key: 8708 when the old entry is missing, 9729 when
  // the new key would duplicate another record's in slot 0 or a unique index; neither changes
  // anything.  When the new entry cannot be placed (a full file, a failing disk) the old one is
  // put back and the failure raised; when even that fails, the entry is lost and 8965 is raised.
  void ModifyKey(const uint8_t* old_key, const uint8_t* new_key, uint32_t record_number);
  // Slot 0 and unique indexes: 9729 naming the index ("Primary" for slot 0) when the key exists.
  void CheckKeyViolation(const uint8_t* key);
  // Whether the key is present (exact compare over the key length).
  bool Contains(const uint8_t* key);

  // Keys in the current index.
  uint32_t KeyCount();
  // The first entry whose first `length` key bytes are not below `bound`.
  TTreeSpot LowerBound(const uint8_t* bound, size_t length);
  // The last entry whose first `length` key bytes are not above `bound`.
  TTreeSpot LastNotAbove(const uint8_t* bound, size_t length);
  // The entry at `position` (1..KeyCount()); leaf 0 outside.
  TTreeSpot AtPosition(uint32_t position);
  // The neighbouring entry of a spot along the leaf level (leaf 0 past either end).
  TTreeSpot Step(const TTreeSpot& spot, bool forward);
  // Copies the key of an entry (key length bytes) and answers its record number.
  uint32_t ReadEntry(const TTreeSpot& spot, uint8_t* key);
  uint32_t RecordNumberAt(const TTreeSpot& spot);
  // The record numbers of up to `count` entries after `spot` along the leaf level (before it
  // when not `forward`) into `out`, in one operation where a walk would Step and read each;
  // answers how many (fewer at the end of the index).  `spot` moves to the last entry read.
  uint32_t RecordNumbersAfter(TTreeSpot& spot, bool forward, uint32_t count, uint32_t* out);

  // Changes with every change of any tree and whenever the host invalidates the cache, so that
  // positions computed before can be recognised as stale.
  uint64_t Version() const { return version_; }
  void BumpVersion() {
    ++version_;
    ++epoch_;
  }

  // The current index's parameters for one operation.
  struct Context {
    int slot = 0;
    TIndexDescriptor descriptor;
    TKeyOrder order;
    size_t key_length = 0;
    bool compressed = false;
    bool unique = false;  // slot 0 or the unique flag: no two equal keys
    size_t inner_capacity = 0;
    size_t leaf_capacity = 0;
  };

 private:
  // One page of a descent path and the slot taken there.
  struct PathStep {
    TPage* page;
    uint16_t slot;
  };
  // Deeper than any sound tree of a 2 GB file (every inner page but a lone child holds 2
  // entries): a descent that goes deeper meets damage.
  static constexpr size_t kMaxDepth = 64;
  // A descent path: kept in place, since every find, insert and delete descends at least once
  // and a heap buffer per descent cost more than the copy of a path.
  class Path {
   public:
    // REQUIRES: size() < kMaxDepth (Descend refuses a deeper tree first).
    void push_back(const PathStep& step) { steps_[size_++] = step; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    PathStep& operator[](size_t i) { return steps_[i]; }
    const PathStep& operator[](size_t i) const { return steps_[i]; }
    const PathStep& front() const { return steps_[0]; }
    PathStep& back() { return steps_[size_ - 1]; }
    const PathStep& back() const { return steps_[size_ - 1]; }
    const PathStep* begin() const { return steps_.data(); }
    const PathStep* end() const { return steps_.data() + size_; }

   private:
    std::array<PathStep, kMaxDepth> steps_;
    size_t size_ = 0;
  };

  // The pages one operation has pinned, each once; all unpinned when it ends.
  class Pins {
   public:
    // A lookup's pages may grow the cache (TPageCache::Fetch); a change's and a walk's do not.
    Pins(TIndexTree& tree, int slot, bool lookup = false)
        : tree_(tree), slot_(slot), lookup_(lookup) {}
    ~Pins();
    Pins(const Pins&) = delete;
    Pins& operator=(const Pins&) = delete;
    // The page at `offset`, which must be a page offset below the end offset (else 8965).
    TPage* Get(uint32_t offset);
    TPage* Adopt(uint32_t offset);

   private:
    // Adds a page just pinned by the cache, or unpins it again when held already.  REQUIRES: room
    // for one more (Reserve).
    void Keep(TPage* page) noexcept;
    void Reserve();

    TIndexTree& tree_;
    int slot_;
    bool lookup_;
    // An operation pins a few pages at each level: most never allocate.
    static constexpr size_t kInlinePins = 8;
    std::array<TPage*, kInlinePins> inline_{};
    size_t inline_count_ = 0;
    std::vector<TPage*> more_;
  };

  // New pages taken for one operation; given back unless committed.
  class Allocation {
   public:
    Allocation(TIndexTree& tree, const Context& ctx, Pins& pins)
        : tree_(tree), ctx_(ctx), pins_(pins) {}
    ~Allocation();
    Allocation(const Allocation&) = delete;
    Allocation& operator=(const Allocation&) = delete;
    // From the free chain, else appended at the end offset (9479 past the file limit).
    TPage* Take();
    TPage* Next() { return taken_[next_++].page; }
    void Commit() { committed_ = true; }

   private:
    struct Taken {
      TPage* page;
      bool appended;
      uint32_t chain_next;
    };
    TIndexTree& tree_;
    const Context& ctx_;
    Pins& pins_;
    std::vector<Taken> taken_;
    size_t next_ = 0;
    bool committed_ = false;
  };

  // The current index's context, decoded once per slot and kept while the descriptor's fixed
  // part, the table's collation and the epoch stay as they were.  The reference lives until the
  // next Begin on the same slot: an operation that changes the tree works on a copy.
  const Context& Begin() const;
  template <class F>
  auto Retry(F&& f) -> decltype(f());

  // The slot and key length of the current index, for the one-leaf reads (Step, ReadEntry) that a
  // walk makes for every record and that need neither the key order nor the capacities.
  struct LeafContext {
    int slot = 0;
    size_t key_length = 0;
  };
  LeafContext BeginLeaf() const;
  [[noreturn]] void RaiseCorrupt() const;
  [[noreturn]] void RaiseWithIndex(uint16_t code, const Context& ctx) const;

  // Descents.  `choose` picks the slot at each page.
  template <class Choose>
  Path Descend(const Context& ctx, Pins& pins, Choose&& choose);
  Path DescendToPosition(const Context& ctx, Pins& pins, uint32_t position);
  uint16_t CountBelow(const Context& ctx, const TPage& page, const uint8_t* key, size_t length,
                      bool or_equal) const;
  TTreeSpot SpotOf(const Context& ctx, Pins& pins, const Path& path);
  uint32_t PositionOfPath(const Path& path) const;
  // Position of the entry of (key, record_number); 0 when absent.  `any` takes the first equal.
  uint32_t FindEntry(const Context& ctx, Pins& pins, const uint8_t* key, uint32_t record_number,
                     bool any);

  void InsertOnce(const Context& ctx, const uint8_t* key, uint32_t record_number);
  void DeleteOnce(const Context& ctx, const uint8_t* key, uint32_t record_number, bool any);
  void PrefetchForDelete(const Context& ctx, Pins& pins, const Path& path);
  void Rebalance(const Context& ctx, Pins& pins, Path& path, size_t level);
  void RemoveFromParent(const Context& ctx, Pins& pins, Path& path, size_t level);
  void CarryFirstKey(Path& path, size_t level);
  void SplitPage(const Context& ctx, Pins& pins, TPage& left, TPage& right);
  void Unlink(Pins& pins, TPage& page);
  // Copies entry `slot` of src behind slot `after` of dst (0: in front).
  static void CopyEntry(TPage& dst, uint16_t after, const TPage& src, uint16_t slot);
  static void RemoveEntry(TPage& page, uint16_t slot);
  void Release(const Context& ctx, TPage& page);

  TIndexTreeHost& host_;
  TPageCache& cache_;
  uint64_t version_ = 0;
  // Changes when the host is reopened or invalidated or another process's change restarts an
  // operation (not with this handle's own tree changes): what the decoded contexts rest on.
  uint64_t epoch_ = 0;

  // Begin's cache, one per index slot (a write visits every index in turn), and what each was
  // built from.
  struct CachedContext {
    Context context;
    bool valid = false;
    uint64_t epoch = 0;
    uint16_t language = 0;
    uint16_t sort = 0;
    std::array<uint8_t, kDescRoot> raw{};
  };
  mutable std::array<CachedContext, kIndexSlotCount> contexts_{};
};

// Runs one operation, again from the root while another process's change interrupts it.
template <class F>
auto TIndexTree::Retry(F&& f) -> decltype(f()) {
  constexpr int kMaxRestarts = 16;
  for (int attempt = 0;; ++attempt) {
    try {
      return f();
    } catch (const TTreeRestart&) {
      ++version_;
      ++epoch_;
      if (attempt >= kMaxRestarts) RaiseCorrupt();
    }
  }
}

}  // namespace tessera
