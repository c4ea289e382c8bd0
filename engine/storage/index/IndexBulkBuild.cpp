#include "engine/storage/index/IndexBulkBuild.h"

#include <memory>
#include <vector>

#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/index/IndexTreeHost.h"
#include "engine/storage/index/TPageCache.h"

namespace tessera {

namespace {

// One level of the tree, written page after page; it hands the level above one entry per page.
class LevelWriter {
 public:
  LevelWriter(TIndexTreeHost& host, TPageCache& cache, bool leaf)
      : host_(host), cache_(cache), leaf_(leaf) {}
  ~LevelWriter() {
    if (page_ != nullptr) page_->Unpin();
  }
  LevelWriter(const LevelWriter&) = delete;
  LevelWriter& operator=(const LevelWriter&) = delete;

  void Add(const uint8_t* key, uint32_t value, uint32_t subtree_count) {
    if (page_ == nullptr) NextPage();
    if (!Place(key, value, subtree_count)) {
      // The entry pushed the page past its room: it opens the next page, where it always fits.
      page_->DeleteCurrent();
      page_->Recompute();
      NextPage();
      Place(key, value, subtree_count);
    }
  }

  // Ends the level: the last page summed up; a level of one page is the root.  Answers the
  // root's offset, or 0 when the level above must be built.
  uint32_t Finish() {
    Summarise();
    const uint32_t offset = page_->Offset();
    const bool root = offsets_.size() == 1;
    if (root) page_->SetType(leaf_ ? kPageRootLeaf : kPageRootInner);
    page_->Unpin();
    page_ = nullptr;
    return root ? offset : 0;
  }

  // The entries of the level above: the first key, offset and key count of each page.
  const std::vector<uint8_t>& FirstKeys() const { return first_keys_; }
  const std::vector<uint32_t>& Offsets() const { return offsets_; }
  const std::vector<uint32_t>& Counts() const { return counts_; }

 private:
  bool Place(const uint8_t* key, uint32_t value, uint32_t subtree_count) {
    const bool counted = page_->CountsCurrent();
    page_->CurrentToLast();
    page_->InsertAfterCurrent(key);
    const uint16_t slot = page_->Count();
    page_->SetValueAt(slot, value);
    if (!leaf_) page_->SetSubtreeCountAt(slot, subtree_count);
    page_->RecountInserted(slot, counted);
    return !page_->IsOverFull() || page_->Count() == 1;
  }

  void Summarise() {
    const size_t k = page_->KeyLength();
    const uint8_t* first = page_->KeyAt(1);
    first_keys_.insert(first_keys_.end(), first, first + k);
    offsets_.push_back(page_->Offset());
    counts_.push_back(static_cast<uint32_t>(page_->TotalCount()));
  }

  // Appends a page at the end offset and links it behind the page before, which is then done.
  void NextPage() {
    const uint32_t end = IndexEndOffset(host_);
    if (static_cast<uint64_t>(end) + kIndexPageSize > kMaxIndexFileOffset) {
      RaiseEngineError(kErrDataFileFull, host_.ErrorFileName());
    }
    TPage* page = cache_.Adopt(host_.CurrentSlot(), end);
    SetIndexEndOffset(host_, end + static_cast<uint32_t>(kIndexPageSize));
    page->SetType(leaf_ ? kPageLeaf : kPageInner);
    if (page_ != nullptr) {
      Summarise();
      page_->SetNext(end);
      page->SetPrev(page_->Offset());
      page_->Unpin();
    }
    page_ = page;
  }

  TIndexTreeHost& host_;
  TPageCache& cache_;
  bool leaf_;
  TPage* page_ = nullptr;  // pinned
  std::vector<uint8_t> first_keys_;
  std::vector<uint32_t> offsets_;
  std::vector<uint32_t> counts_;
};

}  // namespace

void BuildIndexTree(TIndexTreeHost& host, TPageCache& cache, const uint8_t* keys,
                    const uint32_t* numbers, size_t count) {
  if (count == 0) return;
  const size_t k = IndexParamsOf(host.HeaderImage(), host.CurrentSlot()).key_length;
  auto leaves = std::make_unique<LevelWriter>(host, cache, true);
  for (size_t i = 0; i < count; ++i) leaves->Add(keys + i * k, numbers[i], 0);
  uint32_t root = leaves->Finish();
  std::unique_ptr<LevelWriter> below = std::move(leaves);
  while (root == 0) {
    auto level = std::make_unique<LevelWriter>(host, cache, false);
    const std::vector<uint8_t>& first_keys = below->FirstKeys();
    for (size_t i = 0; i < below->Offsets().size(); ++i) {
      level->Add(first_keys.data() + i * k, below->Offsets()[i], below->Counts()[i]);
    }
    root = level->Finish();
    below = std::move(level);
  }
  SetIndexRoot(host, host.CurrentSlot(), root);
}

}  // namespace tessera
