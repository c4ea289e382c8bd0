// Files kept in memory for tables that live in RAM.
//
// A TMemoryFile stands for one disk file of an in-memory table (its .DAT, .IDX or .BLB) and
// gives it the same meaning as a disk file: open handles (counted for the share rules), reads and
// writes at an offset, a size that can be cut, and byte-range locks.  Unlike disk locks, these
// belong to the file rather than to a handle: any handle may release a range that another handle
// locked.  TMemoryFileHandle is one open handle seen as a platform::File, which is all the file
// handler uses.
//
// The session's TMemoryFileList owns the files; they live until the session is freed.  Every
// method takes the engine's file critical section (re-entrant), so a handler may hold it around
// a sequence of calls.
//
// Results below 0 from the list are negated engine codes that the caller raises:
// -11010 (no such file, or an empty name) and -11013 (in use, or exclusive).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/File.h"

namespace tessera {

class TMemoryFile {
 public:
  // Allocations are rounded up to multiples of this.
  static constexpr int64_t kAllocationStep = 65535;

  explicit TMemoryFile(std::string_view name);
  ~TMemoryFile();
  TMemoryFile(const TMemoryFile&) = delete;
  TMemoryFile& operator=(const TMemoryFile&) = delete;

  const std::string& Name() const { return name_; }
  bool Exclusive() const { return exclusive_; }
  int32_t Size() const { return size_; }
  int64_t Allocated() const { return allocated_; }
  int32_t OpenCount() const { return static_cast<int32_t>(handles_.size()); }

  // Sets the logical size; bytes beyond a smaller size read as zero if the file grows again.
  // Size 0 frees the data.  REQUIRES: size >= 0.
  void SetSize(int32_t size);

  // A new handle.  Numbers are positive and never reused within this file.
  int32_t OpenHandle();
  // An unknown handle is ignored.
  void CloseHandle(int32_t handle);

  // Bytes copied: 0 for an offset outside 0..size or a count below 1.
  int32_t ReadAt(int64_t offset, void* buffer, int32_t count) const;
  // Grows the file as needed and copies; False (nothing written) for a negative offset or count
  // or a range past 2^31 - 1.
  bool WriteAt(int64_t offset, const void* buffer, int32_t count);

  // Refused when the range overlaps a listed one, or when the length is 0.
  bool LockRange(uint32_t start, uint32_t length);
  // Removes the entry with exactly this start and length; False when there is none.
  bool UnlockRange(uint32_t start, uint32_t length);

 private:
  friend class TMemoryFileList;

  struct LockEntry {
    uint32_t start;
    uint64_t end;  // start + length - 1, kept wide so that a range ending at 2^32 - 1 fits
    uint32_t length;
  };
  bool HasHandle(int32_t handle) const;

  bool exclusive_ = false;
  std::string name_;
  int32_t size_ = 0;
  uint8_t* data_ = nullptr;  // from the engine allocator, `allocated_` bytes
  int64_t allocated_ = 0;
  std::vector<LockEntry> locks_;
  std::vector<int32_t> handles_;
  int32_t last_handle_ = 0;
};

// The named in-memory files of one engine session.  Names compare trimmed and without regard
// to case.
class TMemoryFileList {
 public:
  TMemoryFileList() = default;
  ~TMemoryFileList();
  TMemoryFileList(const TMemoryFileList&) = delete;
  TMemoryFileList& operator=(const TMemoryFileList&) = delete;

  // Opens a new, empty file exclusively.  An existing file without open handles is reused (cut
  // to size 0); one with open handles gives -11013; a name that is blank gives -11010 (and one
  // whose full path passes 255 bytes raises 11010).  Returns the handle, `file` set.
  int32_t CreateFile(std::string_view name, TMemoryFile*& file);
  // Opens an existing file.  -11010 when absent; -11013 when it or the request is exclusive
  // while other handles are open.  A file without open handles takes the requested mode.
  int32_t OpenFile(std::string_view name, TMemoryFile*& file, bool exclusive);
  // False when absent, open, or when another file already has the new name.
  bool RenameFile(std::string_view name, std::string_view new_name);
  // Creates `dest_name` as CreateFile does and copies the whole source into it.  0, or
  // CreateFile's negative code.
  int32_t CopyFile(const TMemoryFile& source, std::string_view dest_name);
  // False when absent or open.
  bool DeleteFile(std::string_view name);
  bool FileExists(std::string_view name) const;

  int32_t Count() const { return static_cast<int32_t>(files_.size()); }

 private:
  TMemoryFile* Find(std::string_view name) const;

  std::vector<std::unique_ptr<TMemoryFile>> files_;
};

// One open handle of an in-memory file; closing it (the destructor) lowers the file's open count.
// Every call takes the engine's file critical section.  Offsets must lie within 0..2^31 - 1 and
// lock ranges within the 32-bit space (87 otherwise); a refused lock gives 33, an unlock of a
// range not listed 158.  Sync has nothing to do.
// REQUIRES: the file outlives the handle (the session's list keeps its files until it is freed).
class TMemoryFileHandle final : public platform::File {
 public:
  TMemoryFileHandle(TMemoryFile& file, int32_t handle) : file_(file), handle_(handle) {}
  ~TMemoryFileHandle() override;

  platform::OsError ReadAt(int64_t offset, void* buffer, size_t count, size_t* done) override;
  platform::OsError WriteAt(int64_t offset, const void* buffer, size_t count,
                            size_t* done) override;
  platform::OsError Truncate(int64_t size) override;
  platform::OsError GetSize(int64_t* size) const override;
  platform::OsError Sync() override { return platform::kErrorSuccess; }
  platform::OsError Lock(uint64_t offset, uint64_t length) override;
  platform::OsError Unlock(uint64_t offset, uint64_t length) override;

 private:
  TMemoryFile& file_;
  int32_t handle_;
};

}  // namespace tessera
