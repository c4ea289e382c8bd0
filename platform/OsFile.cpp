#include "platform/OsFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <iterator>

#include "platform/FileNames.h"

namespace platform {
namespace {

static_assert(sizeof(off_t) >= 8, "lock offsets beyond 2^31 and the share byte need 64-bit off_t");

// Opens with EINTR retry; returns the descriptor or -1 with errno set.
int OpenRetry(const char* path, int flags, mode_t mode = 0) {
  for (;;) {
    const int fd = open(path, flags | O_CLOEXEC | O_NOCTTY, mode);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

// One non-blocking attempt at an OFD lock; returns 0 or errno.
int SetOfdLock(int fd, short type, uint64_t offset, uint64_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // required by OFD locks
  for (;;) {
    if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

// Takes the share-mode byte; returns 0 or the error number (32 on conflict).
OsError TakeShareLock(int fd, short type) {
  const int err = SetOfdLock(fd, type, kShareLockOffset, 1);
  return err == 0 ? kErrorSuccess : ErrnoToOsError(err, ErrnoSource::kShareLock);
}

// Opens `path` for a moment and takes the exclusive share byte, so that a delete or rename can
// proceed only while nobody has the file open.  Returns the descriptor in *fd.
OsError OpenAlone(const std::string& path, int* fd) {
  int f = OpenRetry(path.c_str(), O_RDWR);
  short type = F_WRLCK;
  if (f < 0 && (errno == EACCES || errno == EROFS)) {
    // A file we may not write can only take a read lock: that still detects exclusive opens.
    f = OpenRetry(path.c_str(), O_RDONLY);
    type = F_RDLCK;
  }
  if (f < 0) return ErrnoToOsError(errno);
  const OsError error = TakeShareLock(f, type);
  if (error != kErrorSuccess) {
    close(f);
    return error;
  }
  *fd = f;
  return kErrorSuccess;
}

bool IsRegular(int fd, struct stat* st) { return fstat(fd, st) == 0 && S_ISREG(st->st_mode); }

}  // namespace

OsFile::~OsFile() { Close(); }

OsError OsFile::Adopt(int fd, bool fd_writable, bool writes_allowed, const std::string& path) {
  // Table files are read and written at scattered offsets; read-ahead only wastes the cache.
  posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  fd_ = fd;
  fd_writable_ = fd_writable;
  writes_allowed_ = writes_allowed;
  position_ = 0;
  path_ = path;
  held_.clear();
  return kErrorSuccess;
}

OsError OsFile::Open(const std::string& path, FileAccess access, FileShare share,
                     bool write_through) {
  Close();

  const std::string resolved = ResolveFileName(path);
  const bool want_write = access == FileAccess::kReadWrite;
  const bool exclusive = share == FileShare::kExclusive;
  const int sync_flag = write_through ? O_DSYNC : 0;

  // A reader gets a writable descriptor too when the file allows it, so that its byte-range locks
  // are write locks and exclude other handles whatever their access (see the header).
  int fd = OpenRetry(resolved.c_str(), O_RDWR | sync_flag);
  const bool fd_writable = fd >= 0;
  if (fd < 0 && !want_write && (errno == EACCES || errno == EROFS || errno == ETXTBSY)) {
    fd = OpenRetry(resolved.c_str(), O_RDONLY | sync_flag);
  }
  if (fd < 0) return ErrnoToOsError(errno);

  struct stat st;
  if (!IsRegular(fd, &st)) {
    close(fd);
    return kErrorAccessDenied;
  }
  const OsError error = TakeShareLock(fd, exclusive && fd_writable ? F_WRLCK : F_RDLCK);
  if (error != kErrorSuccess) {
    close(fd);
    return error;
  }
  return Adopt(fd, fd_writable, want_write, resolved);
}

OsError OsFile::CreateNew(const std::string& path, bool write_through) {
  Close();

  // An existing file in another letter case is the one to replace, as on a case-blind share.
  const std::string resolved = ResolveFileName(path);
  // Never O_TRUNC here: the file may be open elsewhere, which only the share byte can tell.
  const int fd =
      OpenRetry(resolved.c_str(), O_RDWR | O_CREAT | (write_through ? O_DSYNC : 0), 0666);
  if (fd < 0) return ErrnoToOsError(errno);
  struct stat st;
  if (!IsRegular(fd, &st)) {
    close(fd);
    return kErrorAccessDenied;
  }
  OsError error = TakeShareLock(fd, F_WRLCK);
  if (error == kErrorSuccess && ftruncate(fd, 0) != 0) error = ErrnoToOsError(errno);
  if (error != kErrorSuccess) {
    close(fd);
    return error;
  }
  return Adopt(fd, true, true, resolved);
}

void OsFile::Close() {
  if (fd_ >= 0) {
    // Never retried: on Linux the descriptor is gone even when close reports EINTR.
    close(fd_);
  }
  fd_ = -1;
  fd_writable_ = false;
  writes_allowed_ = false;
  position_ = 0;
  held_.clear();
}

OsError OsFile::Seek(int64_t offset, int origin, int64_t* new_position) {
  if (!IsOpen()) return kErrorInvalidHandle;
  int64_t base = 0;
  switch (origin) {
    case 0:
      break;
    case 1:
      base = position_;
      break;
    case 2: {
      const OsError error = GetSize(&base);
      if (error != kErrorSuccess) return error;
      break;
    }
    default:
      return kErrorInvalidParameter;
  }
  const int64_t target = base + offset;
  if (target < 0) return kErrorNegativeSeek;
  position_ = target;
  *new_position = target;
  return kErrorSuccess;
}

OsError OsFile::Read(void* buffer, size_t count, size_t* done) {
  const OsError error = ReadAt(position_, buffer, count, done);
  position_ += static_cast<int64_t>(*done);
  return error;
}

OsError OsFile::Write(const void* buffer, size_t count, size_t* done) {
  const OsError error = WriteAt(position_, buffer, count, done);
  position_ += static_cast<int64_t>(*done);
  return error;
}

OsError OsFile::ReadAt(int64_t offset, void* buffer, size_t count, size_t* done) {
  *done = 0;
  if (!IsOpen()) return kErrorInvalidHandle;
  if (offset < 0) return kErrorNegativeSeek;
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (*done < count) {
    const ssize_t n = pread(fd_, bytes + *done, count - *done, offset + *done);
    if (n > 0) {
      *done += static_cast<size_t>(n);
    } else if (n == 0) {
      break;  // end of file
    } else if (errno != EINTR) {
      return ErrnoToOsError(errno);
    }
  }
  return kErrorSuccess;
}

OsError OsFile::WriteAt(int64_t offset, const void* buffer, size_t count, size_t* done) {
  *done = 0;
  if (!IsOpen()) return kErrorInvalidHandle;
  if (!writes_allowed_) return kErrorAccessDenied;
  if (offset < 0) return kErrorNegativeSeek;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (*done < count) {
    const ssize_t n = pwrite(fd_, bytes + *done, count - *done, offset + *done);
    if (n > 0) {
      *done += static_cast<size_t>(n);
    } else if (n == 0) {
      return kErrorDiskFull;  // no progress and no reason given: treat as a full disk
    } else if (errno != EINTR) {
      return ErrnoToOsError(errno);
    }
  }
  return kErrorSuccess;
}

OsError OsFile::WriteSlicesAt(int64_t offset, const FileSlice* slices, size_t count, size_t* done) {
  *done = 0;
  if (!IsOpen()) return kErrorInvalidHandle;
  if (!writes_allowed_) return kErrorAccessDenied;
  if (offset < 0) return kErrorNegativeSeek;
  // A few slices (every write of a commit but its journal) need no list on the heap.
  iovec local[16];
  std::vector<iovec> heap;
  if (count > std::size(local)) heap.resize(count);
  iovec* const vectors = heap.empty() ? local : heap.data();
  size_t used = 0;
  size_t total = 0;
  for (size_t i = 0; i < count; ++i) {
    if (slices[i].count == 0) continue;
    vectors[used++] = {const_cast<void*>(slices[i].data), slices[i].count};
    total += slices[i].count;
  }
  // Usually one call; a short write or a long list goes on from where it stopped.
  size_t first = 0;
  while (*done < total) {
    const int n_vectors = static_cast<int>(std::min<size_t>(used - first, IOV_MAX));
    const ssize_t n = pwritev(fd_, vectors + first, n_vectors, offset + *done);
    if (n > 0) {
      *done += static_cast<size_t>(n);
      size_t left = static_cast<size_t>(n);
      while (left > 0 && left >= vectors[first].iov_len) left -= vectors[first++].iov_len;
      if (left > 0) {
        vectors[first].iov_base = static_cast<char*>(vectors[first].iov_base) + left;
        vectors[first].iov_len -= left;
      }
    } else if (n == 0) {
      return kErrorDiskFull;
    } else if (errno != EINTR) {
      return ErrnoToOsError(errno);
    }
  }
  return kErrorSuccess;
}

OsError OsFile::Truncate(int64_t size) {
  if (!IsOpen()) return kErrorInvalidHandle;
  if (!writes_allowed_) return kErrorAccessDenied;
  if (size < 0) return kErrorNegativeSeek;
  for (;;) {
    if (ftruncate(fd_, size) == 0) return kErrorSuccess;
    if (errno != EINTR) return ErrnoToOsError(errno);
  }
}

OsError OsFile::Sync() {
  if (!IsOpen()) return kErrorInvalidHandle;
  for (;;) {
    if (fsync(fd_) == 0) return kErrorSuccess;
    if (errno != EINTR) return ErrnoToOsError(errno);
  }
}

OsError OsFile::GetSize(int64_t* size) const {
  if (!IsOpen()) return kErrorInvalidHandle;
  struct stat st;
  if (fstat(fd_, &st) != 0) return ErrnoToOsError(errno);
  *size = st.st_size;
  return kErrorSuccess;
}

OsError OsFile::Lock(uint64_t offset, uint64_t length) {
  if (!IsOpen()) return kErrorInvalidHandle;
  if (length == 0 || offset > kShareLockOffset || length > kShareLockOffset - offset) {
    return kErrorInvalidParameter;  // length 0 would mean "to infinity" to fcntl
  }
  for (const Range& r : held_) {
    if (offset < r.offset + r.length && r.offset < offset + length) return kErrorLockViolation;
  }
  const int err = SetOfdLock(fd_, fd_writable_ ? F_WRLCK : F_RDLCK, offset, length);
  if (err != 0) return ErrnoToOsError(err, ErrnoSource::kRangeLock);
  held_.push_back({offset, length});
  return kErrorSuccess;
}

OsError OsFile::Unlock(uint64_t offset, uint64_t length) {
  if (!IsOpen()) return kErrorInvalidHandle;
  const auto it = std::find_if(held_.begin(), held_.end(), [&](const Range& r) {
    return r.offset == offset && r.length == length;
  });
  if (it == held_.end()) return kErrorNotLocked;
  const int err = SetOfdLock(fd_, F_UNLCK, offset, length);
  if (err != 0) return ErrnoToOsError(err);
  held_.erase(it);
  return kErrorSuccess;
}

OsError OsFile::UnlockPair(uint64_t offset, uint64_t length, uint64_t second_offset,
                           uint64_t second_length) {
  if (!IsOpen()) return kErrorInvalidHandle;
  auto listed = [&](uint64_t o, uint64_t l) {
    return std::find_if(held_.begin(), held_.end(),
                        [&](const Range& r) { return r.offset == o && r.length == l; });
  };
  const auto first = listed(offset, length);
  const auto second = listed(second_offset, second_length);
  if (first == held_.end() || second == held_.end() || first == second) return kErrorNotLocked;
  const uint64_t from = std::min(offset, second_offset);
  const uint64_t to = std::max(offset + length, second_offset + second_length);
  const bool alone = std::none_of(held_.begin(), held_.end(), [&](const Range& r) {
    return &r != &*first && &r != &*second && r.offset < to && from < r.offset + r.length;
  });
  if (!alone) return kErrorNotSupported;
  const int err = SetOfdLock(fd_, F_UNLCK, from, to - from);
  if (err != 0) return ErrnoToOsError(err);
  held_.erase(std::remove_if(held_.begin(), held_.end(),
                             [&](const Range& r) {
                               return (r.offset == offset && r.length == length) ||
                                      (r.offset == second_offset && r.length == second_length);
                             }),
              held_.end());
  return kErrorSuccess;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(ResolveFileName(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

FileKind GetFileKind(const std::string& path) {
  struct stat st;
  if (stat(ResolveFileName(path).c_str(), &st) != 0) return FileKind::kMissing;
  if (S_ISREG(st.st_mode)) return FileKind::kRegular;
  return S_ISDIR(st.st_mode) ? FileKind::kDirectory : FileKind::kOther;
}

OsError IsReadOnlyFile(const std::string& path, bool* read_only) {
  const std::string resolved = ResolveFileName(path);
  struct stat st;
  if (stat(resolved.c_str(), &st) != 0) return ErrnoToOsError(errno);
  bool result = (st.st_mode & 0222) == 0;
  if (!result && faccessat(AT_FDCWD, resolved.c_str(), W_OK, AT_EACCESS) != 0) {
    result = errno == EACCES || errno == EROFS;
  }
  *read_only = result;
  return kErrorSuccess;
}

OsError SyncDirectoryOf(const std::string& path) {
  const std::string resolved = ResolveFileName(path);
  const size_t slash = resolved.rfind('/');
  const std::string directory = slash == std::string::npos ? "." : resolved.substr(0, slash + 1);
  const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return ErrnoToOsError(errno);
  const int result = fsync(fd);
  const int error = errno;
  close(fd);
  return result == 0 ? kErrorSuccess : ErrnoToOsError(error);
}

OsError DeleteFile(const std::string& path) {
  const std::string resolved = ResolveFileName(path);
  struct stat st;
  if (stat(resolved.c_str(), &st) != 0) return ErrnoToOsError(errno);
  if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0) return kErrorAccessDenied;
  int fd = -1;
  OsError error = OpenAlone(resolved, &fd);
  if (error != kErrorSuccess) return error;
  // The share byte stays held until the name is gone, so nobody can open it in between.
  if (unlink(resolved.c_str()) != 0) error = ErrnoToOsError(errno);
  close(fd);
  return error;
}

OsError RenameFile(const std::string& from, const std::string& to) {
  const std::string source = ResolveFileName(from);
  struct stat source_st;
  if (stat(source.c_str(), &source_st) != 0) return ErrnoToOsError(errno);
  if (!S_ISREG(source_st.st_mode)) return kErrorAccessDenied;

  // The target counts as existing in any letter case, unless it is the source itself (a rename
  // that only changes the case).
  struct stat target_st;
  const std::string target = ResolveFileName(to);
  if (lstat(target.c_str(), &target_st) == 0) {
    const bool same_file =
        target_st.st_dev == source_st.st_dev && target_st.st_ino == source_st.st_ino;
    if (!same_file || target == to) return kErrorAlreadyExists;
  }

  int fd = -1;
  OsError error = OpenAlone(source, &fd);
  if (error != kErrorSuccess) return error;
  if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno == EINVAL || errno == ENOSYS) {
      // The file system cannot refuse to replace (NFS); a hard link refuses an existing name.
      if (link(source.c_str(), to.c_str()) != 0) {
        error = ErrnoToOsError(errno);
      } else if (unlink(source.c_str()) != 0) {
        error = ErrnoToOsError(errno);
        unlink(to.c_str());
      }
    } else {
      error = ErrnoToOsError(errno);
    }
  }
  close(fd);
  return error;
}

}  // namespace platform
