// The engine's one gateway to files.
//
// Every byte the engine reads, writes or locks in a table's .DAT, .IDX or .BLB file passes
// through a TFileHandler; TDataFile, TIndexFile and TBlobFile descend from it and override
// MakeFileName, Open, Close and CreateNew.  While open, a handler holds one platform::File
// (platform/File.h): a disk file (platform/OsFile.h, which explains the lock and share-mode
// emulation) or, when its in-memory flag is set, a handle of the current session's in-memory file
// of the same name (engine/storage/core/TMemoryFile.h).  The flag chooses only where a file is
// found, created, deleted or renamed; reads, writes and locks go through the one object, so the
// table layers never know which kind they use.  Reads and writes name their offset: a handler
// keeps no position.
//
// Life cycle:
//
//   closed --Open / CreateNew--> open --Close--> closed
//
// Delete, Rename and the setters of the in-memory, exclusive, read-only and name properties
// need the closed state (else 10031); CopyTo, ReadAt, WriteAt, TruncateAt, Size, Flush and Lock
// need the open one.  A failed Open or CreateNew leaves the handler closed with its name and
// flags.  The read-only flag is sticky: a file found with the read-only attribute sets it, and
// only the caller clears it.
//
// Names are Windows-1252 and converted to UTF-8 only at the call into the platform layer.
// Failures raise through RaiseEngineError with the file name as the data file context; lock
// attempts return False instead and leave the decision to the lock layer.
//
// Threads and processes: one handler is used by one thread.  Disk calls run without any engine
// lock, since other processes coordinate only through the OS locks; every in-memory operation runs
// inside the engine's file critical section.  Offsets and lengths are 32-bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "engine/storage/core/TWriteBehindFile.h"
#include "platform/File.h"

namespace platform {
struct FileFaults;  // platform/FaultyFile.h, for tests
}  // namespace platform

namespace tessera {

class TFileHandler {
 public:
  // All flags False, no name, closed.
  TFileHandler() = default;
  // Closes the file when open.  A descendant whose Close does more must call it from its own
  // destructor: only this class's part is closed here.
  virtual ~TFileHandler();
  TFileHandler(const TFileHandler&) = delete;
  TFileHandler& operator=(const TFileHandler&) = delete;

  // The file name for a table name; descendants add their extension.
  virtual std::string MakeFileName(std::string_view table_name);

  // Opens the named file: read-write or read, deny-none or exclusive (modes 66, 18, 64, 16).
  // A disk file with the read-only attribute opens read-only.  Nothing when already open.
  virtual void Open();
  virtual void Close();
  // Creates an empty file (replacing an existing one that nobody has open) and leaves it open.
  // REQUIRES the exclusive flag (else 10253).
  virtual void CreateNew();
  // Deletes the closed file (9220 on failure, also while anyone has it open).
  virtual void Delete();
  // Renames the closed file to MakeFileName(new_table_name) and keeps that name (11047 on
  // failure; an existing file of the new name is never replaced).
  virtual void Rename(std::string_view new_table_name);
  // Copies the whole open file to a new file `dest_file_name` of the same kind (disk or memory),
  // replacing one that nobody has open; nothing when closed.
  virtual void CopyTo(std::string_view dest_file_name);
  // Reads `count` bytes at `offset` and returns how many came.  Fewer raise 9217 unless
  // `allow_short`; a closed file, an error of the system and a range outside 0..2^31 - 1 raise
  // 9217 in any case.
  int32_t ReadAt(int64_t offset, void* buffer, int32_t count, bool allow_short = false);
  // Writes `count` bytes at `offset`; 9218 unless all are written, and for a closed file or a
  // range outside 0..2^31 - 1.
  void WriteAt(int64_t offset, const void* buffer, int32_t count);
  // WriteAt, where of the written bytes only those in `changed` may differ from what the file
  // shows there now (TWriteBehindFile::WriteChangedAt); WriteAt where no write-behind layer is
  // the file's outermost one.
  void WriteChangedAt(int64_t offset, const void* buffer, int32_t count,
                      std::span<const TWriteBehindFile::Range> changed);
  // The slices one after another from `offset`, as one write; 9218 as WriteAt.
  void WriteSlicesAt(int64_t offset, const platform::FileSlice* slices, size_t count);
  // Sets the end of the file at `size`, cutting it or extending it with zeros (9218 on failure).
  void TruncateAt(int64_t size);
  // The file's size (9217 when closed or unknown, or beyond 2^31 - 1).
  int32_t Size() const;
  // Forces written data to the disk (9218 when that fails); nothing when closed or in memory.
  virtual void Flush();
  // Forces the file's directory entry to the disk (9218 when that fails); nothing in memory.
  void FlushDirectoryEntry();

  // The disk file exists, or, for an in-memory handler, the session holds a file of that name.
  bool Exists();
  // One attempt at locking (or unlocking) a byte range; True on success.  An exclusive handler
  // always succeeds without taking any lock.
  bool Lock(uint32_t offset, uint32_t length, bool lock);
  // Unlocks two ranges in one call where the file can (platform::File::UnlockPair: 50 when it
  // cannot, nothing released).
  platform::OsError UnlockPair(uint32_t offset, uint32_t length, uint32_t second_offset,
                               uint32_t second_length);
  // Waits strictly more than `milliseconds` (between lock attempts).
  void BusyWait(int32_t milliseconds);

  bool InMemory() const { return in_memory_; }
  bool Exclusive() const { return exclusive_; }
  bool ReadOnly() const { return read_only_; }
  bool ReadOnlyAttribute() const { return read_only_attribute_; }
  bool IsOpen() const { return file_ != nullptr; }
  bool WriteThrough() const { return write_through_; }
  const std::string& FileName() const { return file_name_; }

  // A change while open raises 10031.
  void SetInMemory(bool value);
  void SetExclusive(bool value);
  void SetReadOnly(bool value);
  // Stores MakeFileName(table_name); nothing when that is the current name, 10031 while open,
  // 11010 when the name passes 255 bytes or its file part is blank before the extension.
  void SetFileName(std::string_view table_name);
  // Ignored while open.
  void SetWriteThrough(bool value);
  // Ignored while open.  A disk file opened or created exclusively and writable then gets a
  // write-behind layer (TWriteBehindFile.h): writes made while SetHolding(true) stay in memory
  // until WriteHeld, Flush, a truncation, the next write made while not holding, or the close;
  // the owner calls WriteHeld before closing, since a close cannot report a failed write.
  void SetHoldWrites(bool value) {
    if (!file_) hold_writes_ = value;
  }
  // Nothing without a write-behind layer.
  void SetHolding(bool value);
  // Writes the bytes held back (9218 when that fails); nothing when none are held.
  void WriteHeld();
  // Forgets the bytes held back, for a file deleted once closed; nothing without the layer.
  void DiscardHeld() noexcept;

  // The write-behind layer of the open file, when it has one (a writable disk file of a handler
  // that holds its writes); nullptr otherwise.
  TWriteBehindFile* WriteBehind() const { return held_; }
  // The open file beneath any write-behind layer (the commit journal writes there itself).
  // REQUIRES: open.
  platform::File& Disk() const;

  // Tests only: from now on every file this handler opens or creates (the destination of CopyTo
  // too), and the one open now, passes through a platform::FaultyFile with these faults, which
  // the caller may change at any time; their open_error makes Open, CreateNew and CopyTo fail
  // with it before any file is touched.  A file opened or created afterwards has them beneath
  // its write-behind layer, where the disk is; the one open now has them above it.  REQUIRES: no
  // faults were injected before.
  void InjectFaults(std::shared_ptr<const platform::FileFaults> faults);
  const std::shared_ptr<const platform::FileFaults>& InjectedFaults() const { return faults_; }

 protected:
  // Raises `code` with this file's name as the context.
  [[noreturn]] void Fail(uint16_t code) const;

  // The header image at the start of an index or blob file, which the table cipher covers as
  // one piece when `enciphered`.  Write enciphers a copy; `header` itself stays plain.
  // With `in_file` (the image the file holds now, plain), only the header up to its last byte
  // that differs from it is written, and only the differing bytes count as changed for the
  // commit journal (WriteChangedAt).
  void ReadHeaderImage(uint8_t* image, size_t size, bool enciphered);
  void WriteHeaderImage(const uint8_t* header, size_t size, bool enciphered,
                        const uint8_t* in_file = nullptr);
  // The change counter as another process may have stored it since.  REQUIRES: the counter is
  // the header's first field (4 bytes).
  uint32_t ReadStoredChangeCounter(bool enciphered);
  // The counter and the u32 after it, in the same read.
  uint32_t ReadStoredCounterAndMark(bool enciphered, uint32_t& mark);

 private:
  std::string OsName(std::string_view name) const;
  void CloseFile() noexcept;
  // Raises the injected open error, if any.
  void CheckOpenFault() const;
  // Creates `name` exclusively (replacing one that nobody has open) as a file of this handler's
  // kind, through the injected faults; raises on failure.
  std::unique_ptr<platform::File> CreateFileObject(const std::string& name, bool hold = false);
  // `file` under a write-behind layer when this handler holds its writes (see SetHoldWrites).
  std::unique_ptr<platform::File> WithWriteBehind(std::unique_ptr<platform::File> file);
  std::unique_ptr<platform::File> WithFaults(std::unique_ptr<platform::File> file) const;

  bool in_memory_ = false;
  std::unique_ptr<platform::File> file_;  // set exactly while open
  std::shared_ptr<const platform::FileFaults> faults_;
  std::string file_name_;
  bool exclusive_ = false;
  bool read_only_ = false;
  bool read_only_attribute_ = false;
  bool write_through_ = false;
  bool hold_writes_ = false;
  TWriteBehindFile* held_ = nullptr;  // the write-behind layer inside file_, when there is one
};

}  // namespace tessera
