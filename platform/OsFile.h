// Files, byte-range locks and share modes on POSIX, with the semantics the table engine was
// designed for: several workstations open the same table files on a network share and coordinate
// only through byte-range locks on them and through who may open them at all.
//
// Why open-file-description locks.  Classic POSIX record locks (F_SETLK) belong to the process:
// two descriptors of one file in one process never conflict, and closing *any* descriptor of the
// file drops *every* lock the process holds on it.  The engine needs the opposite: a table opened
// twice in one process (a clone of a cursor, a second table component) must be refused a record
// that the other handle holds, exactly as another workstation would be, and closing one of them
// must not free the other's records.  Locks taken with F_OFD_SETLK belong to the open file
// description, i.e. to one OsFile; they conflict between descriptions regardless of the process,
// and go away when that description is closed or its process dies.  That last point holds only
// while no other descriptor shares the description, so every descriptor is opened O_CLOEXEC and
// child processes are started with exec, never by a fork that would inherit open tables.  Locks
// are tried once (never the waiting F_OFD_SETLKW); the engine decides itself when to retry.
//
// Why each handle keeps its own list of held ranges.  The engine's lock protocol was built on
// locks that refuse a range overlapping one the same handle already holds, and that unlock only
// the exact (offset, length) that was locked.  OFD locks would merge an overlapping request into
// the held range and split a range on a partial unlock, so the protocol's own tests ("is this
// record mine already?") would silently succeed.  OsFile therefore refuses an overlapping lock
// and an unlock of anything but a listed range before it reaches fcntl.  As held ranges never
// overlap, unlocking a listed range removes exactly that lock.  A lock may lie far beyond the end
// of the file (the engine's lock offsets all do); it does not change the file's size.
//
// Why a sentinel byte at 2^32.  POSIX has no share modes: any process may open any file it has
// rights to.  The engine relies on two Windows share modes, "deny none" and "exclusive"; an
// exclusive open must shut every other process out (the application's record numbering depends
// on it) and must fail while anyone else has the file open.  Each open therefore takes an OFD
// lock on the single byte at offset 2^32, which no 32-bit engine lock offset can reach: a shared
// open takes a read lock, an exclusive open a write lock.  Read locks coexist; a write lock
// conflicts with both, so a conflict in either direction is reported as a sharing violation (32)
// and the new descriptor is closed again.  A write lock needs a writable descriptor, so an
// exclusive open for reading uses a read-write descriptor when the file is writable and refuses
// writes itself; on a file nobody may write, it can take only a read lock and then excludes other
// exclusive opens but not readers, which cannot change the file either.
//
// Which byte-range locks exclude which.  A lock on a read-write descriptor is a write lock and
// excludes every overlapping lock of any other handle.  A lock on a read-only descriptor can only
// be a read lock, and two read locks coexist.  So that the engine's locks (record and table locks,
// the data semaphore, a reader's byte) exclude each other whatever the handles' access, every open
// asks for a read-write descriptor first, also for reading, and refuses writes itself when the
// caller asked for reading only.  Only a file this process may not write gets a read-only
// descriptor: the engine takes no locks on it (it has the read-only attribute), and any other
// handle on such a file that locks can only read-lock too, so nothing can change what the locks
// guard.  Creating a file opens it
// without O_TRUNC, takes the write lock and only then truncates, so that a file in use elsewhere
// is left intact; deleting and renaming take the write lock through a temporary descriptor and
// hold it across the unlink or rename.  A rename never replaces an existing file.
//
// What a network file system must offer.  All of this works across workstations only when the
// client forwards OFD locks to the server: NFSv4 and CIFS/SMB do, when mounted without "nolock"
// or "local_lock=..." (NFS) and without "nobrl" (CIFS).  A mount that keeps locks local lets two
// workstations write the same record and both open a file "exclusively".  Workstations running
// another implementation of the engine on the same share do not see these locks at all.  To check
// a mount, run the test peer (tests/engine/storage/tessera-peer) on two hosts against one file on it:
// after "open 0 rw shared <file>" and "lock 0 2147483647 1" on the first, the same two commands
// on the second must answer "ok" and "err 33"; after "open 0 rw excl <file>" on the first,
// "open 0 ro shared <file>" on the second must answer "err 32".
//
// Failures come back as Win32-style error numbers (platform/OsError.h); file names are UTF-8
// and are resolved without regard to case when the exact name is absent (platform/FileNames.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/OsError.h"

namespace platform {

// The share-mode byte; every byte-range lock must end at or before it.
constexpr uint64_t kShareLockOffset = uint64_t{1} << 32;

enum class FileAccess { kReadWrite, kRead };
enum class FileShare { kDenyNone, kExclusive };

// One open disk file: its descriptor, the byte ranges it holds, and a position kept only for the
// class library's streams (the engine reads and writes at offsets).
// Not copyable; not safe to share between threads without the caller's own lock.
class OsFile final : public File {
 public:
  OsFile() = default;
  ~OsFile() override;

  // Opens an existing regular file at position 0.  Fails with 32 when the share mode conflicts
  // with another open, with 5 for a directory.  Write-through makes every write reach the disk
  // before it returns.  An open file is closed first.
  OsError Open(const std::string& path, FileAccess access, FileShare share, bool write_through);

  // Creates an empty file open for reading and writing, exclusively; an existing file is
  // emptied, unless it is open elsewhere (32, and it is left as it was).
  OsError CreateNew(const std::string& path, bool write_through);

  // Closes the file; its byte-range locks and share mode go with it.
  void Close();

  bool IsOpen() const { return fd_ >= 0; }
  // The name the file was found under (after case-insensitive resolution).
  const std::string& Path() const { return path_; }

  int64_t Position() const { return position_; }
  // Origin 0 start, 1 current position, 2 end of file.  A negative result fails with 131 and
  // leaves the position unchanged.
  OsError Seek(int64_t offset, int origin, int64_t* new_position);

  // ReadAt and WriteAt at the position, which then advances by the bytes moved (`*done`).
  OsError Read(void* buffer, size_t count, size_t* done);
  OsError Write(const void* buffer, size_t count, size_t* done);

  // The File operations leave the position alone.  A file opened for reading refuses writes and
  // truncation with 5; a negative offset fails with 131.
  OsError ReadAt(int64_t offset, void* buffer, size_t count, size_t* done) override;
  OsError WriteAt(int64_t offset, const void* buffer, size_t count, size_t* done) override;
  OsError WriteSlicesAt(int64_t offset, const FileSlice* slices, size_t count,
                        size_t* done) override;
  OsError Truncate(int64_t size) override;
  OsError Sync() override;
  OsError GetSize(int64_t* size) const override;

  // One attempt at an exclusive lock on [offset, offset + length).  Fails with 33 when any
  // handle, this one included, holds an overlapping range, and with 87 for length 0 or a range
  // that reaches the share-mode byte.  A handle on a file this process may not write takes a
  // read lock, which conflicts only with write locks.
  OsError Lock(uint64_t offset, uint64_t length) override;
  // Releases exactly a range this handle holds; anything else fails with 158.
  OsError Unlock(uint64_t offset, uint64_t length) override;
  // One call over the span from the lower range to the end of the higher, when this handle holds
  // nothing else inside it: an unlock covering bytes that are not held leaves them as they are.
  // Otherwise 50, so that no other range of this handle is given back.
  OsError UnlockPair(uint64_t offset, uint64_t length, uint64_t second_offset,
                     uint64_t second_length) override;

 private:
  struct Range {
    uint64_t offset;
    uint64_t length;
  };

  OsError Adopt(int fd, bool fd_writable, bool writes_allowed, const std::string& path);

  int fd_ = -1;
  bool fd_writable_ = false;     // the descriptor is O_RDWR (write locks possible)
  bool writes_allowed_ = false;  // opened for writing by the caller
  int64_t position_ = 0;
  std::string path_;
  std::vector<Range> held_;
};

// True when `path` names an existing regular file.
bool FileExists(const std::string& path);

// What `path` names, found as FileExists finds it.  A tool checks this before it opens a name it
// was given: a directory cannot be read as a file, and opening a FIFO waits for a writer.
enum class FileKind { kMissing, kRegular, kDirectory, kOther };
FileKind GetFileKind(const std::string& path);

// Whether the file carries the read-only attribute: it has no write permission bit at all, or the
// caller may not write it (EACCES or a read-only file system).
OsError IsReadOnlyFile(const std::string& path, bool* read_only);

// Forces the directory entry of the file `path` names to the disk (after a creation).
OsError SyncDirectoryOf(const std::string& path);

// Deletes a file unless it is open anywhere (32) or read-only (5).
OsError DeleteFile(const std::string& path);

// Renames a file unless it is open anywhere (32) or `to` already exists (183).
OsError RenameFile(const std::string& from, const std::string& to);

}  // namespace platform
