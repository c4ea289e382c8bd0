// A file-backed index tree host for the B-tree tests: a real file through TFileHandler, the header
// image in memory, settable table facts, a hook for the read lock and injectable read failures.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/TFileHandler.h"
#include "engine/storage/core/TableCipher.h"
#include "engine/storage/index/IndexCheck.h"
#include "engine/storage/index/IndexTreeHost.h"
#include "engine/storage/index/TIndexCursor.h"
#include "engine/storage/index/TIndexTree.h"
#include "engine/storage/index/TPageCache.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/TempDirectory.h"

namespace tessera::testing {

using Bytes = std::vector<uint8_t>;

class TestHost : public TIndexTreeHost, public TPageOwner {
 public:
  explicit TestHost(std::string path) : path_(std::move(path)) {}

  // A new file with the given descriptor in `slot` (secondary slots fill 1..slot).
  void Create(int slot, const TIndexDescriptor& d) {
    file_.SetExclusive(true);
    file_.SetFileName(path_);
    file_.CreateNew();
    InitNewIndexHeader(header_);
    for (int s = 1; s < slot && s <= kMaxSecondaryIndexes; ++s) {
      TIndexDescriptor filler;
      filler.name = "Filler" + std::to_string(s);
      filler.key_length = 8;
      EncodeIndexDescriptor(filler, header_ + DescriptorOffset(s));
    }
    if (slot >= 1 && slot <= kMaxSecondaryIndexes)
      header_[kIdxSecondaryCount] = static_cast<uint8_t>(slot);
    EncodeIndexDescriptor(d, header_ + DescriptorOffset(slot));
    slot_ = static_cast<uint8_t>(slot);
    WriteHeader();
  }
  void WriteHeader() {
    uint8_t image[kIndexHeaderSize];
    std::memcpy(image, header_, sizeof image);
    if (enciphered) EncipherBuffer(image, sizeof image, kDataKeyA, kDataKeyB);
    file_.WriteAt(0, image, sizeof image);
  }
  void ReadHeader() {
    file_.ReadAt(0, header_, kIndexHeaderSize);
    if (enciphered) DecipherBuffer(header_, kIndexHeaderSize, kDataKeyA, kDataKeyB);
  }
  void Close() { file_.Close(); }
  void Open() {
    file_.SetExclusive(true);
    file_.SetFileName(path_);
    file_.Open();
    ReadHeader();
  }
  TFileHandler& File() { return file_; }
  void Select(uint8_t slot, bool record_order = false) {
    slot_ = slot;
    record_order_ = record_order;
  }

  // TIndexTreeHost.
  TPageOwner& PageOwner() override { return *this; }
  uint8_t* HeaderImage() override { return header_; }
  void MarkHeaderChanged() override { header_changed = true; }
  uint8_t CurrentSlot() const override { return record_order_ ? kRecordOrderSlot : slot_; }
  bool InRecordOrder() const override { return record_order_; }
  uint16_t LanguageId() const override { return language; }
  uint16_t SortId() const override { return 0; }
  bool KeyFieldInfo(uint16_t number, TKeyField& field) const override {
    auto it = fields.find(number);
    if (it == fields.end()) return false;
    field = it->second;
    return true;
  }
  uint32_t PhysicalRecordCount() const override { return physical_records; }
  void ReadPageImage(uint32_t offset, uint8_t* image) override {
    ++disk_reads;
    if (fail_reads_after >= 0 && disk_reads > fail_reads_after) {
      RaiseEngineError(kErrReadFailure, name);
    }
    const int32_t got = file_.ReadAt(offset, image, kIndexPageSize, true);
    std::memset(image + got, 0, kIndexPageSize - static_cast<size_t>(got));
  }
  void WritePageImages(uint32_t offset, const uint8_t* images, size_t count,
                       std::span<const TWriteBehindFile::Range> /*changed*/) override {
    ++disk_writes;
    file_.WriteAt(offset, images, static_cast<int32_t>(count));
  }
  bool InExclusivePhase() const override { return exclusive_phase; }
  bool TakeReadLockChanged() override { return read_lock_hook ? read_lock_hook() : false; }

  // TPageOwner.
  TIndexParams CurrentIndexParams() const override { return IndexParamsOf(header_, slot_); }
  bool PagesEnciphered() const override { return enciphered; }
  const std::string& ErrorFileName() const override { return name; }

  std::string name = "Tree.DAT";
  bool header_changed = false;
  bool enciphered = false;
  bool exclusive_phase = false;
  uint16_t language = 0;
  std::map<uint16_t, TKeyField> fields;
  uint32_t physical_records = 0;
  std::function<bool()> read_lock_hook;
  int64_t disk_reads = 0;
  int64_t disk_writes = 0;
  int64_t fail_reads_after = -1;  // reads beyond this count fail (9217)

 private:
  std::string path_;
  TFileHandler file_;
  uint8_t header_[kIndexHeaderSize] = {};
  uint8_t slot_ = 0;
  bool record_order_ = false;
};

// A host with its cache, tree and cursor over a file in a fresh temporary directory.
class TreeFixture : public ::testing::Test {
 protected:
  void TearDown() override {
    cursor_.reset();
    tree_.reset();
    cache_.reset();
    host_.reset();
  }
  std::string Path() const { return dir_.File("Tree.IDX"); }

  void Make(int slot, const TIndexDescriptor& d, size_t cache_pages = TPageCache::kListCapacity) {
    host_ = std::make_unique<TestHost>(Path());
    host_->Create(slot, d);
    Attach(cache_pages);
  }
  void Attach(size_t cache_pages) {
    cursor_.reset();
    tree_.reset();
    cache_ = std::make_unique<TPageCache>(*host_);
    cache_->SetListCapacity(cache_pages);
    tree_ = std::make_unique<TIndexTree>(*host_, *cache_);
    cursor_ = std::make_unique<TIndexCursor>(*host_, *tree_);
  }
  // Writes everything, closes, opens again with an empty cache.
  void Reopen(size_t cache_pages = TPageCache::kListCapacity) {
    cache_->Flush();
    host_->WriteHeader();
    host_->Close();
    host_->Open();
    Attach(cache_pages);
  }
  // Flushes and checks the whole file from disk.
  TIndexCheckReport Check(bool every_page = true) {
    cache_->Flush();
    TestHost* host = host_.get();
    return CheckIndexFile(
        host->HeaderImage(),
        [host](uint32_t offset, uint8_t* image) {
          host->File().ReadAt(offset, image, kIndexPageSize);
        },
        [host](int slot, const TIndexDescriptor& d) { return TKeyOrder(*host, slot, d); },
        host->enciphered, every_page);
  }

  mirvel_test::TempDirectory dir_{"btree"};
  std::unique_ptr<TestHost> host_;
  std::unique_ptr<TPageCache> cache_;
  std::unique_ptr<TIndexTree> tree_;
  std::unique_ptr<TIndexCursor> cursor_;
};

inline TIndexDescriptor Descriptor(uint16_t k, uint8_t compression, bool unique = false,
                                   bool descending = false) {
  TIndexDescriptor d;
  d.name = "ByKey";
  d.key_length = k;
  d.compression = compression;
  d.unique = unique ? 1 : 0;
  d.descending = descending ? 1 : 0;
  return d;
}

}  // namespace tessera::testing
