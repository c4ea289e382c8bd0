// The index file (".IDX") of a table: its life on disk, its header and its page images.
//
// The bytes are described in engine/storage/IndexFormat.h; a page in memory is a TPage.  This
// class creates the file, opens it with every header field checked before use, reads and writes
// the header, notices another process's header write, and reads and writes single pages at
// checked offsets.  The trees built on the pages are another layer's.
//
// Ownership and threads: the table's data file owns its TIndexFile (through TIndexFileOwner) and
// uses it from one thread.  Other processes are seen only through the change counter.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/storage/IndexFormat.h"
#include "engine/storage/TFileHandler.h"
#include "engine/storage/TPage.h"

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
};

class TIndexFile : public TFileHandler, public TPageOwner {
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

  // Reads and checks the header (as Open).
  void ReadHeader();
  // When forced or changed: counter + 1 and the 4096 bytes written.
  void WriteHeader(bool force);
  // Reads the stored counter; when it moved, re-reads the header and answers true.
  bool HasChanged();

  // Reads the page at `offset` into `page` (8965 for an offset that is not a page of this file,
  // or a damaged page).  The page takes the current index's parameters first.
  void ReadPage(uint32_t offset, TPage& page);
  // Writes the page at its offset (8965 for an offset that is not a page of this file).
  void WritePage(TPage& page);

  // The current index, whose parameters new pages take: slot 0, a secondary slot in use, slot
  // 31, or kRecordOrderSlot.  Any other number raises 8965.
  void SelectIndex(uint8_t slot);
  uint8_t CurrentSlot() const { return current_slot_; }

  TIndexDescriptor GetIndexDescriptor(int slot) const;
  uint32_t ChangeCounter() const;
  uint32_t EndOffset() const;
  uint8_t SecondaryCount() const;
  uint32_t RecordCount() const;
  bool NoPrimaryFields() const;
  bool HeaderChanged() const { return header_changed_; }
  const uint8_t* HeaderImage() const { return header_; }

  // TPageOwner.
  TIndexParams CurrentIndexParams() const override;
  bool PagesEnciphered() const override { return owner_.Encrypted(); }
  const std::string& ErrorFileName() const override { return owner_.DataFileName(); }

 private:
  [[noreturn]] void RaiseData(uint16_t code) const;

  TIndexFileOwner& owner_;
  uint8_t header_[kIndexHeaderSize] = {};
  bool header_changed_ = false;
  uint8_t current_slot_ = 0;
};

}  // namespace tessera
