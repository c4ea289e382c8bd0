#include "engine/storage/core/TMemoryFile.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "classlib/rtl/Blanks.h"
#include "classlib/rtl/Collation.h"
#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/EngineAlloc.h"
#include "engine/storage/core/EngineCriticalSections.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/FilePaths.h"

namespace tessera {
namespace {

// Names compare as the class library compares text without regard to case, after trimming.
bool SameFileName(std::string_view a, std::string_view b) {
  return cl::AnsiCompareText(cl::TrimBlanks(a), cl::TrimBlanks(b)) == 0;
}

}  // namespace

TMemoryFile::TMemoryFile(std::string_view name) : name_(cl::ToShort(name)) {}

TMemoryFile::~TMemoryFile() { EngineFreeAndNil(data_); }

void TMemoryFile::SetSize(int32_t size) {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  if (size <= 0) {
    EngineFreeAndNil(data_);
    size_ = 0;
    allocated_ = 0;
    return;
  }
  const int64_t allocated = (size + kAllocationStep - 1) / kAllocationStep * kAllocationStep;
  if (allocated != allocated_) {
    data_ = static_cast<uint8_t*>(EngineRealloc(data_, allocated));
    allocated_ = allocated;
  }
  // A file cut and grown again must read zeros where the old bytes were, as a disk file does.
  if (size < size_)
    std::memset(data_ + size, 0, static_cast<size_t>(std::min<int64_t>(size_, allocated_) - size));
  size_ = size;
}

bool TMemoryFile::HasHandle(int32_t handle) const {
  return std::find(handles_.begin(), handles_.end(), handle) != handles_.end();
}

int32_t TMemoryFile::OpenHandle() {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  // Numbers are never reused, so a stale handle of a closed user cannot reach a new one.
  if (last_handle_ == INT32_MAX) last_handle_ = 0;
  int32_t number = last_handle_ + 1;
  while (HasHandle(number)) ++number;
  try {
    handles_.push_back(number);
  } catch (const std::bad_alloc&) {
    RaiseEngineError(kErrOutOfMemory, name_);
  }
  last_handle_ = number;
  return number;
}

void TMemoryFile::CloseHandle(int32_t handle) {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  auto it = std::find(handles_.begin(), handles_.end(), handle);
  if (it != handles_.end()) handles_.erase(it);
}

int32_t TMemoryFile::ReadAt(int64_t offset, void* buffer, int32_t count) const {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  if (offset < 0 || offset > size_ || count <= 0) return 0;
  const int32_t n = static_cast<int32_t>(std::min<int64_t>(count, size_ - offset));
  if (n > 0) std::memcpy(buffer, data_ + offset, static_cast<size_t>(n));
  return n;
}

bool TMemoryFile::WriteAt(int64_t offset, const void* buffer, int32_t count) {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  // A negative offset or a range past the largest file size would write outside the data.
  if (offset < 0 || count < 0 || offset + count > INT32_MAX) return false;
  const int64_t end = offset + count;
  if (end > size_) SetSize(static_cast<int32_t>(end));
  if (count > 0) std::memcpy(data_ + offset, buffer, static_cast<size_t>(count));
  return true;
}

bool TMemoryFile::LockRange(uint32_t start, uint32_t length) {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  if (length == 0) return false;
  const uint64_t end = static_cast<uint64_t>(start) + length - 1;
  for (const LockEntry& lock : locks_) {
    if ((start >= lock.start && start <= lock.end) || (lock.start >= start && lock.start <= end)) {
      return false;
    }
  }
  try {
    locks_.push_back({start, end, length});
  } catch (const std::bad_alloc&) {
    RaiseEngineError(kErrOutOfMemory, name_);
  }
  return true;
}

bool TMemoryFile::UnlockRange(uint32_t start, uint32_t length) {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  auto it = std::find_if(locks_.begin(), locks_.end(), [&](const LockEntry& lock) {
    return lock.start == start && lock.length == length;
  });
  if (it == locks_.end()) return false;
  locks_.erase(it);
  return true;
}

TMemoryFileList::~TMemoryFileList() = default;

TMemoryFile* TMemoryFileList::Find(std::string_view name) const {
  for (const auto& file : files_) {
    if (SameFileName(file->Name(), name)) return file.get();
  }
  return nullptr;
}

int32_t TMemoryFileList::CreateFile(std::string_view name, TMemoryFile*& file) {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  file = nullptr;
  // A full path is never empty, so only a blank name fails here; an over-long one raises.
  if (cl::TrimBlanks(name).empty() || ExpandTableName(cl::TrimBlanks(name)).empty()) {
    return -static_cast<int32_t>(kErrInvalidPath);
  }
  TMemoryFile* existing = Find(name);
  if (existing != nullptr) {
    if (existing->OpenCount() > 0) return -static_cast<int32_t>(kErrAccessDenied);
    existing->SetSize(0);
    existing->exclusive_ = true;
    file = existing;
    return existing->OpenHandle();
  }
  try {
    files_.push_back(std::make_unique<TMemoryFile>(name));
  } catch (const std::bad_alloc&) {
    RaiseEngineError(kErrOutOfMemory, cl::ToShort(name));
  }
  TMemoryFile* created = files_.back().get();
  created->exclusive_ = true;
  file = created;
  return created->OpenHandle();
}

int32_t TMemoryFileList::OpenFile(std::string_view name, TMemoryFile*& file, bool exclusive) {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  file = nullptr;
  TMemoryFile* found = Find(name);
  if (found == nullptr) return -static_cast<int32_t>(kErrInvalidPath);
  if (found->OpenCount() == 0) {
    found->exclusive_ = exclusive;
  } else if (found->exclusive_ || exclusive) {
    return -static_cast<int32_t>(kErrAccessDenied);
  }
  file = found;
  return found->OpenHandle();
}

bool TMemoryFileList::RenameFile(std::string_view name, std::string_view new_name) {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  TMemoryFile* found = Find(name);
  if (found == nullptr || found->OpenCount() > 0) return false;
  // Two files under one name would make the second unreachable, as a disk rename never
  // replaces its target.
  TMemoryFile* target = Find(new_name);
  if (target != nullptr && target != found) return false;
  found->name_ = cl::ToShort(new_name);
  return true;
}

int32_t TMemoryFileList::CopyFile(const TMemoryFile& source, std::string_view dest_name) {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  TMemoryFile* dest = nullptr;
  const int32_t dest_handle = CreateFile(dest_name, dest);
  if (dest_handle < 0) return dest_handle;
  const int32_t result =
      dest->WriteAt(0, source.data_, source.size_) ? 0 : -static_cast<int32_t>(kErrWriteFailure);
  dest->CloseHandle(dest_handle);
  return result;
}

bool TMemoryFileList::DeleteFile(std::string_view name) {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  auto it = std::find_if(files_.begin(), files_.end(),
                         [&](const auto& file) { return SameFileName(file->Name(), name); });
  if (it == files_.end() || (*it)->OpenCount() > 0) return false;
  files_.erase(it);
  return true;
}

bool TMemoryFileList::FileExists(std::string_view name) const {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  return Find(name) != nullptr;
}

}  // namespace tessera

namespace tessera {

TMemoryFileHandle::~TMemoryFileHandle() { file_.CloseHandle(handle_); }

platform::OsError TMemoryFileHandle::ReadAt(int64_t offset, void* buffer, size_t count,
                                            size_t* done) {
  *done = 0;
  if (offset < 0 || offset > INT32_MAX || count > INT32_MAX)
    return platform::kErrorInvalidParameter;
  *done = static_cast<size_t>(file_.ReadAt(offset, buffer, static_cast<int32_t>(count)));
  return platform::kErrorSuccess;
}

platform::OsError TMemoryFileHandle::WriteAt(int64_t offset, const void* buffer, size_t count,
                                             size_t* done) {
  *done = 0;
  if (count > INT32_MAX || !file_.WriteAt(offset, buffer, static_cast<int32_t>(count))) {
    return platform::kErrorInvalidParameter;
  }
  *done = count;
  return platform::kErrorSuccess;
}

platform::OsError TMemoryFileHandle::Truncate(int64_t size) {
  if (size < 0 || size > INT32_MAX) return platform::kErrorInvalidParameter;
  file_.SetSize(static_cast<int32_t>(size));
  return platform::kErrorSuccess;
}

platform::OsError TMemoryFileHandle::GetSize(int64_t* size) const {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  *size = file_.Size();
  return platform::kErrorSuccess;
}

platform::OsError TMemoryFileHandle::Lock(uint64_t offset, uint64_t length) {
  if (offset > UINT32_MAX || length > UINT32_MAX) return platform::kErrorInvalidParameter;
  return file_.LockRange(static_cast<uint32_t>(offset), static_cast<uint32_t>(length))
             ? platform::kErrorSuccess
             : platform::kErrorLockViolation;
}

platform::OsError TMemoryFileHandle::Unlock(uint64_t offset, uint64_t length) {
  if (offset > UINT32_MAX || length > UINT32_MAX) return platform::kErrorNotLocked;
  return file_.UnlockRange(static_cast<uint32_t>(offset), static_cast<uint32_t>(length))
             ? platform::kErrorSuccess
             : platform::kErrorNotLocked;
}

}  // namespace tessera
