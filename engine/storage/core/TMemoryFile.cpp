#include "engine/storage/core/TMemoryFile.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "classlib/rtl/Collation.h"
#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/EngineAlloc.h"
#include "engine/storage/core/EngineCriticalSections.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/FilePaths.h"

namespace tessera {
namespace {

constexpr int32_t kCopyChunk = 65535;

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

// Names compare as the class library compares text without regard to case, after trimming.
bool SameFileName(std::string_view a, std::string_view b) {
  return cl::AnsiCompareText(TrimBlanks(a), TrimBlanks(b)) == 0;
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

TMemoryFile::HandleEntry* TMemoryFile::FindHandle(int32_t handle) {
  for (HandleEntry& entry : handles_) {
    if (entry.number == handle) return &entry;
  }
  return nullptr;
}

int32_t TMemoryFile::OpenHandle() {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  // Numbers are never reused, so a stale handle of a closed user cannot reach a new one.
  if (last_handle_ == INT32_MAX) last_handle_ = 0;
  int32_t number = last_handle_ + 1;
  while (FindHandle(number) != nullptr) ++number;
  try {
    handles_.push_back({number, 0});
  } catch (const std::bad_alloc&) {
    RaiseEngineError(kErrOutOfMemory, name_);
  }
  last_handle_ = number;
  return number;
}

void TMemoryFile::CloseHandle(int32_t handle) {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  auto it = std::find_if(handles_.begin(), handles_.end(),
                         [handle](const HandleEntry& e) { return e.number == handle; });
  if (it != handles_.end()) handles_.erase(it);
}

int32_t TMemoryFile::Read(int32_t handle, void* buffer, int32_t count) {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  HandleEntry* entry = FindHandle(handle);
  if (entry == nullptr || entry->position < 0 || entry->position > size_ || count <= 0) return 0;
  const int32_t n = std::min(count, size_ - entry->position);
  if (n > 0) std::memcpy(buffer, data_ + entry->position, static_cast<size_t>(n));
  entry->position += n;
  return n;
}

int32_t TMemoryFile::Write(int32_t handle, const void* buffer, int32_t count) {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  HandleEntry* entry = FindHandle(handle);
  if (entry == nullptr) return 0;
  // A negative position or a range past the largest file size would write outside the data.
  if (entry->position < 0 || count < 0) return 0;
  if (count == 0) {
    SetSize(entry->position);
    return 0;
  }
  const int64_t end = static_cast<int64_t>(entry->position) + count;
  if (end > INT32_MAX) return 0;
  if (end > size_) SetSize(static_cast<int32_t>(end));
  std::memcpy(data_ + entry->position, buffer, static_cast<size_t>(count));
  entry->position = static_cast<int32_t>(end);
  return count;
}

int32_t TMemoryFile::Seek(int32_t handle, int32_t offset, int32_t origin) {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  HandleEntry* entry = FindHandle(handle);
  if (entry == nullptr) return 0;
  int64_t position = entry->position;
  switch (origin) {
    case 0:
      position = offset;
      break;
    case 1:
      position += offset;
      break;
    case 2:
      position = static_cast<int64_t>(size_) - offset;
      break;
    default:
      break;
  }
  // Out of the i32 range the position is unusable either way; -1 makes reads and writes fail.
  if (position < INT32_MIN || position > INT32_MAX) position = -1;
  entry->position = static_cast<int32_t>(position);
  return entry->position;
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
  if (TrimBlanks(name).empty() || ExpandTableName(TrimBlanks(name)).empty()) {
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

int32_t TMemoryFileList::CopyFile(TMemoryFile& source, int32_t source_handle,
                                  std::string_view dest_name) {
  platform::CriticalSectionGuard guard(FileCriticalSection());
  TMemoryFile* dest = nullptr;
  const int32_t dest_handle = CreateFile(dest_name, dest);
  if (dest_handle < 0) return dest_handle;
  source.Seek(source_handle, 0, 0);
  std::vector<uint8_t> chunk(kCopyChunk);
  int32_t result = 0;
  for (;;) {
    const int32_t n = source.Read(source_handle, chunk.data(), kCopyChunk);
    if (n > 0 && dest->Write(dest_handle, chunk.data(), n) != n) {
      result = -static_cast<int32_t>(kErrWriteFailure);
      break;
    }
    if (n < kCopyChunk) break;
  }
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
