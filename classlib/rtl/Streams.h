// Streams: TStream and the memory, handle and file streams.
//
// Read and Write transfer up to `count` bytes and return how many they did: a short count is
// not an error by itself.  ReadBuffer and WriteBuffer insist on the whole count and raise
// EReadError "Erreur de lecture de flux" or EWriteError "Erreur d'écriture de flux" otherwise.
// Positions and sizes are 64-bit; one transfer is at most 2^31 - 1 bytes.
//
// File names are Windows-1252, as every text inside the system; they are converted to UTF-8
// where they reach the operating system.  Streams are not shared between threads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/rtl/Classes.h"
#include "classlib/rtl/Exceptions.h"
#include "platform/OsFile.h"

namespace cl {

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

enum TSeekOrigin { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStream : public TObject {
 public:
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  // Returns the new position (a stream that cannot seek there raises or returns -1).
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(int64_t position) { Seek(position, soFromBeginning); }
  // Seeks to the end and back.
  int64_t Size();
  // The base does nothing; streams that can change their size override it.
  virtual void SetSize(int64_t size);

  void ReadBuffer(void* buffer, int32_t count);
  void WriteBuffer(const void* buffer, int32_t count);
  // Copies `count` bytes from `source` at its position; a count of 0 copies the whole source
  // from its start.  Returns the bytes copied; a short source raises EReadError.
  int64_t CopyFrom(TStream& source, int64_t count);
};

// A stream over a block of memory it does not own (for example a shared memory view).  Reads
// stop at the size; descendants decide how writing works.  Seeking is not bounded: a position
// outside [0, size] reads nothing.
class TCustomMemoryStream : public TStream {
 public:
  int32_t Read(void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

  void* Memory() const { return memory_; }

  void SaveToStream(TStream& stream);
  // Creates (or replaces) the file and writes the whole memory into it.
  void SaveToFile(const std::string& file_name);

 protected:
  // REQUIRES: `memory` holds `size` bytes for as long as the stream uses it.
  void SetPointer(void* memory, int64_t size);
  int64_t position_ = 0;

 private:
  uint8_t* memory_ = nullptr;
  int64_t size_ = 0;
};

// A stream in memory that grows as it is written.  Memory() changes when it grows.
class TMemoryStream : public TCustomMemoryStream {
 public:
  int32_t Write(const void* buffer, int32_t count) override;
  // Cuts or extends (with zeros); a position past the new end moves to it.
  void SetSize(int64_t size) override;
  void Clear();

  // Replaces the content by the whole of `stream` (from its start); position 0.
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& file_name);

  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  void SetCapacityFor(int64_t size);

  std::vector<uint8_t> bytes_;
};

// A stream over an open file that it does not own.
class THandleStream : public TStream {
 public:
  explicit THandleStream(platform::OsFile* file) : file_(file) {}

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  // -1 when the position would be negative (the position stays).
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  // Moves to `size` and sets the end of the file there; EStreamError on failure.
  void SetSize(int64_t size) override;

  platform::OsFile* Handle() const { return file_; }

 protected:
  platform::OsFile* file_;
};

// Open modes of TFileStream: one access value, or-ed with one sharing value; or fmCreate.
enum : uint16_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareCompat = 0x0000,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFFFF,
};

// A stream on a named file, which it opens and closes.
//
// fmCreate creates the file or empties an existing one, unless it is open elsewhere.  Sharing
// has two levels here: fmShareDenyNone lets others open the file too; every other sharing value
// (compatible, exclusive, deny write, deny read) opens it exclusively, which also keeps readers
// out while the file is open (stricter than deny-write, never weaker).
class TFileStream : public THandleStream {
 public:
  // Raises EFCreateError "Impossible de créer le fichier <name>" or EFOpenError "Impossible
  // d'ouvrir le fichier <name>", followed by the system's error number.
  TFileStream(const std::string& file_name, uint16_t mode);
  ~TFileStream() override;

  const std::string& FileName() const { return file_name_; }

 private:
  platform::OsFile own_file_;
  std::string file_name_;
};

}  // namespace cl
