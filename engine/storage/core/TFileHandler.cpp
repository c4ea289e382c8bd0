#include "engine/storage/core/TFileHandler.h"

#include <cassert>
#include <cstring>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "classlib/rtl/Blanks.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/EngineAlloc.h"
#include "engine/storage/core/EngineCriticalSections.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/core/FilePaths.h"
#include "engine/storage/core/TMemoryFile.h"
#include "engine/storage/core/TWriteBehindFile.h"
#include "engine/storage/core/TableCipher.h"
#include "platform/FaultyFile.h"
#include "platform/OsFile.h"
#include "platform/Ticks.h"

namespace tessera {
namespace {

// The first of bytes [i, size) where a and b differ, or `size`.  A header is kilobytes and a
// commit changes a few bytes of it: the library's compare passes over the equal blocks, which a
// failing compare leaves early.
size_t NextDifference(const uint8_t* a, const uint8_t* b, size_t i, size_t size) {
  while (i + 1024 <= size && std::memcmp(a + i, b + i, 1024) == 0) i += 1024;
  while (i + 128 <= size && std::memcmp(a + i, b + i, 128) == 0) i += 128;
  while (i + 8 <= size && cl::GetU64LE(a + i) == cl::GetU64LE(b + i)) i += 8;
  while (i < size && a[i] == b[i]) ++i;
  return i;
}

constexpr int32_t kCopyChunk = 65535;

struct EngineBlockDeleter {
  void operator()(uint8_t* block) const { EngineFree(block); }
};

// The engine's offsets and lengths are 32-bit: a range must lie within 0..2^31 - 1.
bool InFileRange(int64_t offset, int32_t count) {
  return offset >= 0 && count >= 0 && offset <= INT32_MAX - int64_t{count};
}

// A name whose file part is blank before its extension ("", "   ", "dir/" made into ".DAT")
// would make a hidden file of nothing but the extension.
bool BlankBaseName(std::string_view name) {
  const size_t slash = name.rfind('/');
  const std::string base =
      RemoveFileExtension(slash == std::string_view::npos ? name : name.substr(slash + 1));
  return cl::TrimBlanks(base).empty();
}

}  // namespace

TFileHandler::~TFileHandler() { CloseFile(); }

std::string TFileHandler::MakeFileName(std::string_view table_name) {
  return std::string(table_name);
}

void TFileHandler::Fail(uint16_t code) const { RaiseEngineError(code, cl::ToShort(file_name_)); }

std::string TFileHandler::OsName(std::string_view name) const { return cl::Cp1252ToUtf8(name); }

void TFileHandler::CheckOpenFault() const {
  if (faults_ && faults_->open_error != platform::kErrorSuccess) {
    Fail(MapOSError(faults_->open_error));
  }
}

std::unique_ptr<platform::File> TFileHandler::WithFaults(
    std::unique_ptr<platform::File> file) const {
  if (!faults_) return file;
  return std::make_unique<platform::FaultyFile>(std::move(file), faults_);
}

void TFileHandler::InjectFaults(std::shared_ptr<const platform::FileFaults> faults) {
  assert(!faults_);
  faults_ = std::move(faults);
  if (file_) file_ = WithFaults(std::move(file_));
}

std::unique_ptr<platform::File> TFileHandler::WithWriteBehind(
    std::unique_ptr<platform::File> file) {
  if (!hold_writes_ || read_only_ || in_memory_) return file;
  auto held = std::make_unique<TWriteBehindFile>(std::move(file));
  held_ = held.get();
  return held;
}

platform::File& TFileHandler::Disk() const {
  assert(file_ != nullptr);
  return held_ != nullptr ? held_->Beneath() : *file_;
}

void TFileHandler::SetHolding(bool value) {
  if (held_ != nullptr) held_->SetHolding(value);
}

void TFileHandler::DiscardHeld() noexcept {
  if (held_ != nullptr) held_->DiscardHeld();
}

void TFileHandler::WriteHeld() {
  if (held_ != nullptr && held_->WriteHeld() != platform::kErrorSuccess) Fail(kErrWriteFailure);
}

std::unique_ptr<platform::File> TFileHandler::CreateFileObject(const std::string& name, bool hold) {
  CheckOpenFault();
  if (in_memory_) {
    TFileSession* session = GetEngineSession();
    platform::CriticalSectionGuard guard(FileCriticalSection());
    TMemoryFile* file = nullptr;
    const int32_t handle = session->MemoryFiles().CreateFile(name, file);
    if (handle < 0) Fail(static_cast<uint16_t>(-handle));
    return WithFaults(std::make_unique<TMemoryFileHandle>(*file, handle));
  }
  auto file = std::make_unique<platform::OsFile>();
  const platform::OsError error = file->CreateNew(OsName(name), write_through_);
  if (error != platform::kErrorSuccess) Fail(MapOSError(error));
  if (hold) return WithWriteBehind(WithFaults(std::move(file)));
  return WithFaults(std::move(file));
}

void TFileHandler::Open() {
  if (file_) return;
  read_only_attribute_ = false;
  CheckOpenFault();
  if (in_memory_) {
    TFileSession* session = GetEngineSession();
    platform::CriticalSectionGuard guard(FileCriticalSection());
    TMemoryFile* file = nullptr;
    const int32_t handle = session->MemoryFiles().OpenFile(file_name_, file, exclusive_);
    if (handle < 0) Fail(static_cast<uint16_t>(-handle));
    file_ = WithFaults(std::make_unique<TMemoryFileHandle>(*file, handle));
    return;
  }
  const std::string name = OsName(file_name_);
  if (!platform::FileExists(name)) Fail(kErrInvalidPath);
  bool read_only_attribute = false;
  platform::OsError error = platform::IsReadOnlyFile(name, &read_only_attribute);
  if (error != platform::kErrorSuccess) Fail(MapOSError(error));
  if (read_only_attribute) {
    read_only_ = true;
    read_only_attribute_ = true;
  }
  auto file = std::make_unique<platform::OsFile>();
  error =
      file->Open(name, read_only_ ? platform::FileAccess::kRead : platform::FileAccess::kReadWrite,
                 exclusive_ ? platform::FileShare::kExclusive : platform::FileShare::kDenyNone,
                 write_through_);
  if (error != platform::kErrorSuccess) Fail(MapOSError(error));
  file_ = WithWriteBehind(WithFaults(std::move(file)));
}

// An in-memory handle takes the file section itself as it closes; a disk file needs no engine lock.
void TFileHandler::CloseFile() noexcept {
  held_ = nullptr;
  file_.reset();
}

void TFileHandler::Close() { CloseFile(); }

void TFileHandler::CreateNew() {
  if (file_) Fail(kErrFileInUse);
  if (!exclusive_) Fail(kErrNeedExclusive);
  file_ = CreateFileObject(file_name_, true);
  read_only_attribute_ = false;
}

void TFileHandler::Delete() {
  if (file_) Fail(kErrFileInUse);
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
  if (file_) Fail(kErrFileInUse);
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
  if (!file_) return;
  const std::unique_ptr<platform::File> dest = CreateFileObject(std::string(dest_file_name));
  std::unique_ptr<uint8_t, EngineBlockDeleter> chunk(
      static_cast<uint8_t*>(EngineAlloc(kCopyChunk)));
  // Every read and write is checked: a full disk must not pass for a complete copy.
  for (int64_t offset = 0;; offset += kCopyChunk) {
    const int32_t n = ReadAt(offset, chunk.get(), kCopyChunk, true);
    if (n > 0) {
      size_t written = 0;
      if (dest->WriteAt(offset, chunk.get(), static_cast<size_t>(n), &written) !=
              platform::kErrorSuccess ||
          written != static_cast<size_t>(n)) {
        Fail(kErrWriteFailure);
      }
    }
    if (n < kCopyChunk) break;
  }
}

int32_t TFileHandler::ReadAt(int64_t offset, void* buffer, int32_t count, bool allow_short) {
  if (!file_ || !InFileRange(offset, count)) Fail(kErrReadFailure);
  size_t done = 0;
  // A failing disk is not the end of the file, even where a short read is allowed.
  if (file_->ReadAt(offset, buffer, static_cast<size_t>(count), &done) != platform::kErrorSuccess) {
    Fail(kErrReadFailure);
  }
  const int32_t n = static_cast<int32_t>(done);
  if (!allow_short && n != count) Fail(kErrReadFailure);
  return n;
}

void TFileHandler::WriteAt(int64_t offset, const void* buffer, int32_t count) {
  if (!file_ || !InFileRange(offset, count)) Fail(kErrWriteFailure);
  size_t written = 0;
  if (file_->WriteAt(offset, buffer, static_cast<size_t>(count), &written) !=
          platform::kErrorSuccess ||
      written != static_cast<size_t>(count)) {
    Fail(kErrWriteFailure);
  }
}

void TFileHandler::WriteChangedAt(int64_t offset, const void* buffer, int32_t count,
                                  std::span<const TWriteBehindFile::Range> changed) {
  // A fault wrapper put over the layer (InjectFaults on an open file) must see every write.
  if (held_ == nullptr || file_.get() != held_) return WriteAt(offset, buffer, count);
  if (!InFileRange(offset, count)) Fail(kErrWriteFailure);
  size_t written = 0;
  if (held_->WriteChangedAt(offset, buffer, static_cast<size_t>(count), changed, &written) !=
          platform::kErrorSuccess ||
      written != static_cast<size_t>(count)) {
    Fail(kErrWriteFailure);
  }
}

void TFileHandler::WriteSlicesAt(int64_t offset, const platform::FileSlice* slices, size_t count) {
  size_t total = 0;
  for (size_t i = 0; i < count; ++i) total += slices[i].count;
  if (!file_ || total > INT32_MAX || !InFileRange(offset, static_cast<int32_t>(total))) {
    Fail(kErrWriteFailure);
  }
  size_t written = 0;
  if (file_->WriteSlicesAt(offset, slices, count, &written) != platform::kErrorSuccess ||
      written != total) {
    Fail(kErrWriteFailure);
  }
}

void TFileHandler::TruncateAt(int64_t size) {
  if (!file_ || !InFileRange(size, 0)) Fail(kErrWriteFailure);
  if (file_->Truncate(size) != platform::kErrorSuccess) Fail(kErrWriteFailure);
}

int32_t TFileHandler::Size() const {
  int64_t size = 0;
  if (!file_ || file_->GetSize(&size) != platform::kErrorSuccess || size > INT32_MAX) {
    Fail(kErrReadFailure);
  }
  return static_cast<int32_t>(size);
}

void TFileHandler::ReadHeaderImage(uint8_t* image, size_t size, bool enciphered) {
  ReadAt(0, image, static_cast<int32_t>(size));
  if (enciphered) DecipherBuffer(image, size, kDataKeyA, kDataKeyB);
}

void TFileHandler::WriteHeaderImage(const uint8_t* header, size_t size, bool enciphered,
                                    const uint8_t* in_file) {
  uint8_t local[4096];
  std::vector<uint8_t> heap;
  if (size > sizeof local) heap.resize(size);
  uint8_t* const image = heap.empty() ? local : heap.data();
  if (in_file == nullptr) {
    std::memcpy(image, header, size);
    if (enciphered) EncipherBuffer(image, size, kDataKeyA, kDataKeyB);
    return WriteAt(0, image, static_cast<int32_t>(size));
  }
  // The cipher works byte by byte from the header's start: the plain images differ where the
  // stored ones do.  Runs of differing bytes closer than a journal piece header are joined, and
  // the last run takes in all behind it when there are many.  Only the header up to its last
  // change is written (and at least its counter and the commit mark after it).
  constexpr int64_t kJoin = 16;
  TWriteBehindFile::Range changed[8];
  size_t runs = 0;
  for (size_t i = NextDifference(header, in_file, 0, size); i < size;
       i = NextDifference(header, in_file, i + 1, size)) {
    const auto at = static_cast<int64_t>(i);
    if (runs > 0 && (at - changed[runs - 1].to < kJoin || runs == std::size(changed))) {
      changed[runs - 1].to = at + 1;
    } else {
      changed[runs++] = {at, at + 1};
    }
  }
  const size_t length = std::min(
      size, std::max<size_t>(8, runs == 0 ? 0 : static_cast<size_t>(changed[runs - 1].to)));
  std::memcpy(image, header, length);
  if (enciphered) EncipherBuffer(image, length, kDataKeyA, kDataKeyB);
  WriteChangedAt(0, image, static_cast<int32_t>(length), {changed, runs});
}

uint32_t TFileHandler::ReadStoredChangeCounter(bool enciphered) {
  uint8_t counter[4];
  ReadHeaderImage(counter, sizeof counter, enciphered);
  return cl::GetU32LE(counter);
}

uint32_t TFileHandler::ReadStoredCounterAndMark(bool enciphered, uint32_t& mark) {
  uint8_t prefix[8];
  ReadHeaderImage(prefix, sizeof prefix, enciphered);
  mark = cl::GetU32LE(prefix + 4);
  return cl::GetU32LE(prefix);
}

void TFileHandler::Flush() {
  if (!file_) return;
  if (file_->Sync() != platform::kErrorSuccess) Fail(kErrWriteFailure);
}

void TFileHandler::FlushDirectoryEntry() {
  if (in_memory_) return;
  if (platform::SyncDirectoryOf(OsName(file_name_)) != platform::kErrorSuccess) {
    Fail(kErrWriteFailure);
  }
}

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
  // A closed in-memory handler has nothing to guard, and unlock paths after a close rely on its
  // success; a closed disk handler reports failure as the system does for a closed handle.
  if (!file_) return in_memory_;
  const platform::OsError error =
      lock ? file_->Lock(offset, length) : file_->Unlock(offset, length);
  return error == platform::kErrorSuccess;
}

platform::OsError TFileHandler::UnlockPair(uint32_t offset, uint32_t length, uint32_t second_offset,
                                           uint32_t second_length) {
  if (exclusive_ || !file_) return platform::kErrorNotSupported;  // as Lock answers them
  return file_->UnlockPair(offset, length, second_offset, second_length);
}

void TFileHandler::BusyWait(int32_t milliseconds) { platform::WaitMoreThan(milliseconds); }

void TFileHandler::SetInMemory(bool value) {
  if (value == in_memory_) return;
  if (file_) Fail(kErrFileInUse);
  in_memory_ = value;
}

void TFileHandler::SetExclusive(bool value) {
  if (value == exclusive_) return;
  if (file_) Fail(kErrFileInUse);
  exclusive_ = value;
}

void TFileHandler::SetReadOnly(bool value) {
  if (value == read_only_) return;
  if (file_) Fail(kErrFileInUse);
  read_only_ = value;
}

void TFileHandler::SetFileName(std::string_view table_name) {
  std::string name = MakeFileName(table_name);
  if (name == file_name_) return;
  if (file_) Fail(kErrFileInUse);
  if (!cl::FitsShort(name) || BlankBaseName(name)) {
    RaiseEngineError(kErrInvalidPath, cl::ToShort(name));
  }
  file_name_ = std::move(name);
}

void TFileHandler::SetWriteThrough(bool value) {
  if (!file_) write_through_ = value;
}

}  // namespace tessera
