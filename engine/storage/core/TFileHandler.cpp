#include "engine/storage/core/TFileHandler.h"

#include <memory>
#include <vector>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/EngineAlloc.h"
#include "engine/storage/core/EngineCriticalSections.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/core/TMemoryFile.h"
#include "engine/storage/core/TableCipher.h"
#include "platform/Ticks.h"

namespace tessera {
namespace {

constexpr int32_t kCopyChunk = 65535;

struct EngineBlockDeleter {
  void operator()(uint8_t* block) const { EngineFree(block); }
};

}  // namespace

TFileHandler::~TFileHandler() { CloseFile(); }

std::string TFileHandler::MakeFileName(std::string_view table_name) {
  return std::string(table_name);
}

void TFileHandler::Fail(uint16_t code) const { RaiseEngineError(code, cl::ToShort(file_name_)); }

std::string TFileHandler::OsName(std::string_view name) const { return cl::Cp1252ToUtf8(name); }

void TFileHandler::Open() {
  if (open_) return;
  read_only_attribute_ = false;
  if (in_memory_) {
    TFileSession* session = GetEngineSession();
    platform::CriticalSectionGuard guard(FileCriticalSection());
    TMemoryFile* file = nullptr;
    const int32_t handle = session->MemoryFiles().OpenFile(file_name_, file, exclusive_);
    if (handle < 0) Fail(static_cast<uint16_t>(-handle));
    memory_file_ = file;
    memory_handle_ = handle;
  } else {
    const std::string name = OsName(file_name_);
    if (!platform::FileExists(name)) Fail(kErrInvalidPath);
    bool read_only_attribute = false;
    platform::OsError error = platform::IsReadOnlyFile(name, &read_only_attribute);
    if (error != platform::kErrorSuccess) Fail(MapOSError(error));
    if (read_only_attribute) {
      read_only_ = true;
      read_only_attribute_ = true;
    }
    error = os_file_.Open(
        name, read_only_ ? platform::FileAccess::kRead : platform::FileAccess::kReadWrite,
        exclusive_ ? platform::FileShare::kExclusive : platform::FileShare::kDenyNone,
        write_through_);
    if (error != platform::kErrorSuccess) Fail(MapOSError(error));
  }
  open_ = true;
}

void TFileHandler::CloseFile() noexcept {
  if (memory_file_ != nullptr) {
    platform::CriticalSectionGuard guard(FileCriticalSection());
    if (memory_handle_ > 0) memory_file_->CloseHandle(memory_handle_);
  }
  memory_file_ = nullptr;
  memory_handle_ = 0;
  os_file_.Close();
  open_ = false;
}

void TFileHandler::Close() { CloseFile(); }

void TFileHandler::CreateNew() {
  if (open_) Fail(kErrFileInUse);
  if (!exclusive_) Fail(kErrNeedExclusive);
  if (in_memory_) {
    TFileSession* session = GetEngineSession();
    platform::CriticalSectionGuard guard(FileCriticalSection());
    TMemoryFile* file = nullptr;
    const int32_t handle = session->MemoryFiles().CreateFile(file_name_, file);
    if (handle < 0) Fail(static_cast<uint16_t>(-handle));
    memory_file_ = file;
    memory_handle_ = handle;
  } else {
    const platform::OsError error = os_file_.CreateNew(OsName(file_name_), write_through_);
    if (error != platform::kErrorSuccess) Fail(MapOSError(error));
  }
  read_only_attribute_ = false;
  open_ = true;
}

void TFileHandler::Delete() {
  if (open_) Fail(kErrFileInUse);
  bool deleted = false;
  if (in_memory_) {
    TFileSession* session = GetEngineSession();
    platform::CriticalSectionGuard guard(FileCriticalSection());
    deleted = session->MemoryFiles().DeleteFile(file_name_);
  } else {
    deleted = platform::DeleteFile(OsName(file_name_)) == platform::kErrorSuccess;
  }
  if (!deleted) Fail(kErrCannotDelete);
}

void TFileHandler::Rename(std::string_view new_table_name) {
  if (open_) Fail(kErrFileInUse);
  std::string new_name = MakeFileName(new_table_name);
  if (!cl::FitsShort(new_name)) RaiseEngineError(kErrInvalidPath, cl::ToShort(new_name));
  bool renamed = false;
  if (in_memory_) {
    TFileSession* session = GetEngineSession();
    platform::CriticalSectionGuard guard(FileCriticalSection());
    renamed = session->MemoryFiles().RenameFile(file_name_, new_name);
  } else {
    renamed = platform::RenameFile(OsName(file_name_), OsName(new_name)) == platform::kErrorSuccess;
  }
  if (!renamed) Fail(kErrUnknownOSError);
  file_name_ = std::move(new_name);
}

void TFileHandler::CopyTo(std::string_view dest_file_name) {
  if (!open_) return;
  if (in_memory_) {
    TFileSession* session = GetEngineSession();
    platform::CriticalSectionGuard guard(FileCriticalSection());
    if (memory_file_ == nullptr) Fail(kErrReadFailure);
    const int32_t result =
        session->MemoryFiles().CopyFile(*memory_file_, memory_handle_, dest_file_name);
    if (result < 0) Fail(static_cast<uint16_t>(-result));
    return;
  }
  platform::OsFile dest;
  const platform::OsError error = dest.CreateNew(OsName(dest_file_name), write_through_);
  if (error != platform::kErrorSuccess) Fail(MapOSError(error));
  std::unique_ptr<uint8_t, EngineBlockDeleter> chunk(
      static_cast<uint8_t*>(EngineAlloc(kCopyChunk)));
  Seek(0, 0);
  // Every read and write is checked: a full disk must not pass for a complete copy.
  for (;;) {
    const int32_t n = Read(chunk.get(), kCopyChunk, true);
    if (n > 0) {
      size_t written = 0;
      if (dest.Write(chunk.get(), static_cast<size_t>(n), &written) != platform::kErrorSuccess ||
          written != static_cast<size_t>(n)) {
        Fail(kErrWriteFailure);
      }
    }
    if (n < kCopyChunk) break;
  }
}

int32_t TFileHandler::Read(void* buffer, int32_t count, bool allow_short) {
  if (count < 0) Fail(kErrReadFailure);
  int32_t n = 0;
  if (in_memory_) {
    if (memory_file_ == nullptr) Fail(kErrReadFailure);
    platform::CriticalSectionGuard guard(FileCriticalSection());
    n = memory_file_->Read(memory_handle_, buffer, count);
  } else {
    size_t done = 0;
    // A failing disk is not the end of the file, even where a short read is allowed.
    if (os_file_.Read(buffer, static_cast<size_t>(count), &done) != platform::kErrorSuccess) {
      Fail(kErrReadFailure);
    }
    n = static_cast<int32_t>(done);
  }
  if (!allow_short && n != count) Fail(kErrReadFailure);
  return n;
}

void TFileHandler::Write(const void* buffer, int32_t count) {
  if (count < 0) Fail(kErrWriteFailure);
  if (in_memory_) {
    if (memory_file_ == nullptr) Fail(kErrWriteFailure);
    platform::CriticalSectionGuard guard(FileCriticalSection());
    if (memory_file_->Write(memory_handle_, buffer, count) != count) Fail(kErrWriteFailure);
    return;
  }
  if (count == 0) {
    if (os_file_.Truncate() != platform::kErrorSuccess) Fail(kErrWriteFailure);
    return;
  }
  size_t written = 0;
  if (os_file_.Write(buffer, static_cast<size_t>(count), &written) != platform::kErrorSuccess ||
      written != static_cast<size_t>(count)) {
    Fail(kErrWriteFailure);
  }
}

void TFileHandler::ReadHeaderImage(uint8_t* image, size_t size, bool enciphered) {
  Seek(0, 0);
  Read(image, static_cast<int32_t>(size));
  if (enciphered) DecipherBuffer(image, size, kDataKeyA, kDataKeyB);
}

void TFileHandler::WriteHeaderImage(const uint8_t* header, size_t size, bool enciphered) {
  std::vector<uint8_t> image(header, header + size);
  if (enciphered) EncipherBuffer(image.data(), size, kDataKeyA, kDataKeyB);
  Seek(0, 0);
  Write(image.data(), static_cast<int32_t>(size));
}

uint32_t TFileHandler::ReadStoredChangeCounter(bool enciphered) {
  uint8_t counter[4];
  ReadHeaderImage(counter, sizeof counter, enciphered);
  return cl::GetU32LE(counter);
}

void TFileHandler::Flush() {
  if (in_memory_ || !os_file_.IsOpen()) return;
  if (os_file_.Sync() != platform::kErrorSuccess) Fail(kErrWriteFailure);
}

int32_t TFileHandler::Seek(int32_t offset, int32_t origin) {
  if (in_memory_) {
    if (memory_file_ == nullptr) return 0;
    platform::CriticalSectionGuard guard(FileCriticalSection());
    return memory_file_->Seek(memory_handle_, offset, origin);
  }
  int64_t position = 0;
  if (os_file_.Seek(offset, origin, &position) != platform::kErrorSuccess) return -1;
  return position > INT32_MAX ? -1 : static_cast<int32_t>(position);
}

int32_t TFileHandler::GetSize() { return Seek(0, 2); }

bool TFileHandler::Exists() {
  if (in_memory_) {
    TFileSession* session = GetEngineSession();
    platform::CriticalSectionGuard guard(FileCriticalSection());
    return session->MemoryFiles().FileExists(file_name_);
  }
  return platform::FileExists(OsName(file_name_));
}

bool TFileHandler::Lock(uint32_t offset, uint32_t length, bool lock) {
  if (exclusive_) return true;
  if (in_memory_) {
    // Without a file there is nothing to guard; unlock paths after a close rely on success.
    if (memory_file_ == nullptr) return true;
    platform::CriticalSectionGuard guard(FileCriticalSection());
    return lock ? memory_file_->LockRange(offset, length)
                : memory_file_->UnlockRange(offset, length);
  }
  const platform::OsError error =
      lock ? os_file_.Lock(offset, length) : os_file_.Unlock(offset, length);
  return error == platform::kErrorSuccess;
}

void TFileHandler::BusyWait(int32_t milliseconds) { platform::WaitMoreThan(milliseconds); }

void TFileHandler::SetInMemory(bool value) {
  if (value == in_memory_) return;
  if (open_) Fail(kErrFileInUse);
  in_memory_ = value;
}

void TFileHandler::SetExclusive(bool value) {
  if (value == exclusive_) return;
  if (open_) Fail(kErrFileInUse);
  exclusive_ = value;
}

void TFileHandler::SetReadOnly(bool value) {
  if (value == read_only_) return;
  if (open_) Fail(kErrFileInUse);
  read_only_ = value;
}

void TFileHandler::SetFileName(std::string_view table_name) {
  std::string name = MakeFileName(table_name);
  if (name == file_name_) return;
  if (open_) Fail(kErrFileInUse);
  if (!cl::FitsShort(name)) RaiseEngineError(kErrInvalidPath, cl::ToShort(name));
  file_name_ = std::move(name);
}

void TFileHandler::SetWriteThrough(bool value) {
  if (!open_) write_through_ = value;
}

}  // namespace tessera
