#include "classlib/rtl/Streams.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "classlib/rtl/Cp1252.h"

namespace cl {
namespace {

constexpr int32_t kCopyChunk = 61440;

int32_t ChunkOf(int64_t remaining) {
  return static_cast<int32_t>(std::min<int64_t>(remaining, kCopyChunk));
}

std::string WithError(std::string text, platform::OsError error) {
  return text + " (erreur " + std::to_string(error) + ")";
}

}  // namespace

// ---- TStream -------------------------------------------------------------------------------------

int64_t TStream::Size() {
  const int64_t position = Seek(0, soFromCurrent);
  const int64_t size = Seek(0, soFromEnd);
  Seek(position, soFromBeginning);
  return size;
}

void TStream::SetSize(int64_t) {}

void TStream::ReadBuffer(void* buffer, int32_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError("Erreur de lecture de flux");
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
  if (count != 0 && Write(buffer, count) != count) {
    throw EWriteError(
        "Erreur d'\xE9"
        "criture de flux");
  }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  std::vector<uint8_t> buffer(static_cast<size_t>(ChunkOf(count)));
  int64_t remaining = count;
  while (remaining > 0) {
    const int32_t n = ChunkOf(remaining);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    remaining -= n;
  }
  return count;
}

// ---- TCustomMemoryStream -------------------------------------------------------------------------

void TCustomMemoryStream::SetPointer(void* memory, int64_t size) {
  memory_ = static_cast<uint8_t*>(memory);
  size_ = size < 0 ? 0 : size;
}

int32_t TCustomMemoryStream::Read(void* buffer, int32_t count) {
  if (position_ < 0 || count <= 0 || position_ >= size_) return 0;
  const int32_t n = static_cast<int32_t>(std::min<int64_t>(size_ - position_, count));
  std::memcpy(buffer, memory_ + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TCustomMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case soFromBeginning:
      position_ = offset;
      break;
    case soFromCurrent:
      position_ += offset;
      break;
    case soFromEnd:
      position_ = size_ + offset;
      break;
  }
  return position_;
}

void TCustomMemoryStream::SaveToStream(TStream& stream) {
  int64_t done = 0;
  while (done < size_) {
    const int32_t n = ChunkOf(size_ - done);
    stream.WriteBuffer(memory_ + done, n);
    done += n;
  }
}

void TCustomMemoryStream::SaveToFile(const std::string& file_name) {
  TFileStream file(file_name, fmCreate);
  SaveToStream(file);
}

// ---- TMemoryStream -------------------------------------------------------------------------------

void TMemoryStream::SetCapacityFor(int64_t size) {
  const auto wanted = static_cast<size_t>(size);
  if (wanted > bytes_.size()) {
    // Grow geometrically so that writing byte by byte stays linear.
    if (wanted > bytes_.capacity()) bytes_.reserve(std::max(wanted, bytes_.capacity() * 2));
  }
  bytes_.resize(wanted);
  SetPointer(bytes_.data(), size);
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
  if (position_ < 0 || count <= 0) return 0;
  const int64_t end = position_ + count;
  if (end > static_cast<int64_t>(bytes_.size())) SetCapacityFor(end);
  std::memcpy(bytes_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  SetCapacityFor(size);
  if (position_ > size) position_ = size;
}

void TMemoryStream::Clear() {
  bytes_.clear();
  bytes_.shrink_to_fit();
  SetPointer(nullptr, 0);
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  const int64_t size = stream.Size();
  SetSize(size);
  int64_t done = 0;
  while (done < size) {
    const int32_t n = ChunkOf(size - done);
    stream.ReadBuffer(bytes_.data() + done, n);
    done += n;
  }
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& file_name) {
  TFileStream file(file_name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

// ---- THandleStream -------------------------------------------------------------------------------

int32_t THandleStream::Read(void* buffer, int32_t count) {
  if (count <= 0) return 0;
  size_t done = 0;
  file_->Read(buffer, static_cast<size_t>(count), &done);  // an error reads as a short count
  return static_cast<int32_t>(done);
}

int32_t THandleStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  size_t done = 0;
  file_->Write(buffer, static_cast<size_t>(count), &done);  // an error writes a short count
  return static_cast<int32_t>(done);
}

int64_t THandleStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t position = 0;
  if (file_->Seek(offset, static_cast<int>(origin), &position) != platform::kErrorSuccess)
    return -1;
  return position;
}

void THandleStream::SetSize(int64_t size) {
  int64_t position = 0;
  platform::OsError error = file_->Seek(size, 0, &position);
  if (error == platform::kErrorSuccess) error = file_->Truncate(size);
  if (error != platform::kErrorSuccess) {
    throw EStreamError(WithError("Impossible de modifier la taille du flux", error));
  }
}

// ---- TFileStream ---------------------------------------------------------------------------------

TFileStream::TFileStream(const std::string& file_name, uint16_t mode)
    : THandleStream(&own_file_), file_name_(file_name) {
  const std::string path = Cp1252ToUtf8(file_name);
  if (mode == fmCreate) {
    const platform::OsError error = own_file_.CreateNew(path, false);
    if (error != platform::kErrorSuccess) {
      throw EFCreateError(
          WithError("Impossible de cr\xE9"
                    "er le fichier " +
                        file_name,
                    error));
    }
    return;
  }
  const auto access = (mode & 0x000F) == fmOpenRead ? platform::FileAccess::kRead
                                                    : platform::FileAccess::kReadWrite;
  const auto share = (mode & 0x00F0) == fmShareDenyNone ? platform::FileShare::kDenyNone
                                                        : platform::FileShare::kExclusive;
  const platform::OsError error = own_file_.Open(path, access, share, false);
  if (error != platform::kErrorSuccess) {
    throw EFOpenError(WithError("Impossible d'ouvrir le fichier " + file_name, error));
  }
}

TFileStream::~TFileStream() { own_file_.Close(); }

}  // namespace cl
