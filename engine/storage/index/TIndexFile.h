// The index file (".IDX") of a table: its life on disk, its header and its page images.
//
// The bytes are described in engine/storage/index/IndexFormat.h; a page in memory is a TPage.  This
// class creates the file, opens it with every header field checked before use, reads and writes
// the header, notices another process's header write, and reads and writes single pages at
// checked offsets.  The trees on the pages are TIndexTree's and TIndexCursor's (engine/storage/
// TIndexTree.h), which this class owns and hosts; the index management that the data file uses
// (defining indexes, choosing one, emptying the file) lives in TIndexFileManagement.cpp.
//
// Ownership and threads: the table's data file owns its TIndexFile (through TIndexFileOwner) and
// uses it from one thread.  Other processes are seen only through the change counter.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/storage/core/TCountedHeaderFile.h"
#include "engine/storage/index/IndexFormat.h"
#include "engine/storage/index/IndexTreeHost.h"
#include "engine/storage/index/TIndexCursor.h"
#include "engine/storage/index/TIndexTree.h"
#include "engine/storage/index/TPage.h"
#include "engine/storage/index/TPageCache.h"

namespace tessera {

// What the index file asks of the data file that owns it.
class TIndexFileOwner {
 public:
  virtual ~TIndexFileOwner() = default;
  // The table's data file name, which index errors carry.
  virtual const std::string& DataFileName() const = 0;
  virtual bool Encrypted() const = 0;
  // The data file holds its exclusive transaction phase: pages appended in it may not be on
  // disk yet.
  virtual bool InExclusivePhase() const = 0;
  // Table facts the trees need (key order, record-number order); the defaults describe a table
  // without a language whose fields are unknown.
  virtual uint16_t LanguageId() const { return 0; }
  virtual uint16_t SortId() const { return 0; }
  virtual bool KeyFieldInfo(uint16_t /*field_number*/, TKeyField& /*field*/) const { return false; }
  // Next record number - 1 (deleted slots included); 0 when unknown.
  virtual uint32_t PhysicalRecordCount() const { return 0; }
  // Before a page is read from disk: takes the read lock when none is held; true when another
  // process changed the table (the owner has then invalidated this file's cache).
  virtual bool TakeReadLockChanged() { return false; }
  // Repair mode: Open leaves the cursor where it is instead of going to the first key.
  virtual bool InRepairMode() const { return false; }
};

static_assert(kIdxChangeCounter == 0, "the counted header keeps its counter first");

class TIndexFile : public TCountedHeaderFile<kIndexHeaderSize, kIdxChangedMark>,
                   public TPageOwner,
                   public TIndexTreeHost {
 public:
  // REQUIRES: `owner` outlives this object.
  explicit TIndexFile(TIndexFileOwner& owner);
  ~TIndexFile() override;

  // The table name with ".IDX" appended, unless its extension is already IDX (in any case).
  std::string MakeFileName(std::string_view table_name) override;
  // Opens the file and reads its header: 12035 for a version other than 3, 8965 for any other
  // header field out of its range (see CheckIndexHeader).  Slot 0 becomes the current index.
  void Open() override;
  void Close() override;
  // A new file (exclusive): version 3, end offset 4096, "Sys Deleted" in slot 31, no records.
  // The header is marked changed; the next WriteHeader writes it.
  void CreateNew() override;

  // Reads and checks the header (as Open).  WriteHeader and CheckChanged: TCountedHeaderFile.
  void ReadHeader() override;

  // Reads the page at `offset` into `page` (8965 for an offset that is not a page of this file,
  // or a damaged page).  The page takes the current index's parameters first.
  void ReadPage(uint32_t offset, TPage& page);
  // Writes the page at its offset (8965 for an offset that is not a page of this file).
  void WritePage(TPage& page);

  // The current index, whose parameters new pages take: slot 0, a secondary slot in use, slot
  // 31, or kRecordOrderSlot.  Any other number raises 8965.
  void SelectIndex(uint8_t slot);
  uint8_t CurrentSlot() const override { return current_slot_; }

  TIndexDescriptor GetIndexDescriptor(int slot) const;
  uint32_t EndOffset() const;
  uint8_t SecondaryCount() const;
  uint32_t RecordCount() const;
  bool NoPrimaryFields() const;
  const uint8_t* HeaderImage() const { return header_; }

  // ---- index management (TIndexFileManagement.cpp) ----
  // Selects slot 0, then the first secondary index of this name (ignoring case); an empty or
  // unknown name leaves slot 0.  Nothing when the name is the current one.
  void SelectIndexByName(std::string_view name);
  // The current index's name (empty for the primary index and record-number order).
  std::string CurrentIndexName() const;
  // Primary index of a new table: 10253 unless exclusive, 9993 when defined already, 9487 for
  // more than 16 fields, 12292 for a blob field.  No key fields: the table has none (byte 3978).
  void DefinePrimaryIndex(const TIndexDescriptor& descriptor);
  // The next secondary slot, in this order of checks: 10253, 9487 (30 exist), 9487 (fields),
  // 10010 (no name), 10022 (first character), 10027 (name in use, ignoring case), 12292 (blob).
  // The name is cut to 30 characters before it is compared.
  void AddSecondaryIndex(const TIndexDescriptor& descriptor);
  // 10253 unless exclusive; the slot's descriptor zeroed.
  void ClearIndexDescriptor(int slot);
  // The file holds only its header: no pages, no records, every tree and chain empty.
  void EmptyIndexes();
  // Drops every cached page (another process changed the file); the cursor finds its key again.
  void InvalidateCache();
  void UnpinAll() { cache_.UnpinAll(); }
  // Writes every dirty page (before the header at commit) and trims the cache.
  void WriteDirtyPages() { cache_.Flush(); }
  // The page journal of a write's store stage (TPageCache.h): a failed store puts the pages it
  // changed back as they were and the cursor finds its key again.
  void BeginStore() { cache_.BeginStore(); }
  void EndStore() { cache_.EndStore(); }
  void RollBackStore() noexcept {
    cache_.RollBackStore();
    tree_.BumpVersion();
  }
  void IncRecordCount();
  void DecRecordCount();
  // Root and free-chain head of the current index; a set marks the header changed only when the
  // value differs.
  uint32_t RootPage() { return IndexRoot(*this, current_slot_); }
  void SetRootPage(uint32_t offset) { SetIndexRoot(*this, current_slot_, offset); }
  uint32_t FreeHead() { return IndexFreeHead(*this, current_slot_); }
  void SetFreeHead(uint32_t offset) { SetIndexFreeHead(*this, current_slot_, offset); }
  uint8_t FieldCount(int slot) const { return GetIndexDescriptor(slot).field_count; }
  bool IsUnique(int slot) const { return GetIndexDescriptor(slot).unique != 0; }
  std::array<uint16_t, kMaxKeyFields> GetIndexFieldNumbers(int slot) const {
    return GetIndexDescriptor(slot).field_numbers;
  }

  // ---- the trees and the cursor of the current index ----
  TIndexTree& Tree() { return tree_; }
  TIndexCursor& Cursor() { return cursor_; }
  TPageCache& PageCache() { return cache_; }
  void InsertKey(const uint8_t* key, uint32_t record_number) {
    tree_.InsertKey(key, record_number);
  }
  void DeleteKey(const uint8_t* key, uint32_t record_number) {
    tree_.DeleteKey(key, record_number);
  }
  void ModifyKey(const uint8_t* old_key, const uint8_t* new_key, uint32_t record_number) {
    tree_.ModifyKey(old_key, new_key, record_number);
  }
  void CheckKeyViolation(const uint8_t* key) { tree_.CheckKeyViolation(key); }
  int CompareKeys(const uint8_t* a, const uint8_t* b, size_t length) const {
    return tree_.CompareKeys(a, b, length);
  }
  bool FindKey(const uint8_t* key, bool nearest) { return cursor_.FindKey(key, nearest); }
  void First() { cursor_.First(); }
  void Last() { cursor_.Last(); }
  void MoveBy(int32_t count) { cursor_.MoveBy(count); }
  void GotoPosition(uint32_t position) { cursor_.GotoPosition(position); }
  uint32_t CurrentRecordNumber() { return cursor_.CurrentRecordNumber(); }
  uint32_t RangeCount() { return cursor_.RangeCount(); }

  // TIndexTreeHost.
  TPageOwner& PageOwner() override { return *this; }
  uint8_t* HeaderImage() override { return header_; }
  void MarkHeaderChanged() override { header_changed_ = true; }
  bool InRecordOrder() const override {
    return current_slot_ == kRecordOrderSlot || (current_slot_ == 0 && NoPrimaryFields());
  }
  uint16_t LanguageId() const override { return owner_.LanguageId(); }
  uint16_t SortId() const override { return owner_.SortId(); }
  bool KeyFieldInfo(uint16_t field_number, TKeyField& field) const override {
    return owner_.KeyFieldInfo(field_number, field);
  }
  uint32_t PhysicalRecordCount() const override;
  void ReadPageImage(uint32_t offset, uint8_t* image) override;
  void WritePageImages(uint32_t offset, const uint8_t* images, size_t count,
                       std::span<const TWriteBehindFile::Range> changed) override;
  bool InExclusivePhase() const override { return owner_.InExclusivePhase(); }
  bool TakeReadLockChanged() override { return owner_.TakeReadLockChanged(); }

  // TPageOwner.
  TIndexParams CurrentIndexParams() const override;
  bool PagesEnciphered() const override { return owner_.Encrypted(); }
  const std::string& ErrorFileName() const override { return owner_.DataFileName(); }

 private:
  bool HeaderEnciphered() const override;
  [[noreturn]] void RaiseData(uint16_t code) const;
  // Empty cache, no range, bit-map mode off, cursor on neither key (open and close).
  void ResetTreeState();

  TIndexFileOwner& owner_;
  uint8_t current_slot_ = 0;
  TPageCache cache_{*this};
  TIndexTree tree_{*this, cache_};
  TIndexCursor cursor_{*this, tree_};
};

}  // namespace tessera
