// The data file (".DAT") on disk: its header, its field definitions, its records, the field type
// codes with their stored sizes, the limits, and the structural checks made when a file is
// opened.  TDataFile is the only reader and writer; the index and blob files beside it are
// described in IndexFormat.h and TBlobFile.h.
//
// All integers are little-endian (classlib/rtl/Coding.h).  Record numbers count from 1.
//
//   region             offset                              size
//   header             0                                   127
//   field definitions  127                                 768 per field, in field order
//   records            127 + 768 x field count (data start)  record size each; record n at
//                                                          data start + (n - 1) x record size
//
// The file has no trailer: its length is data start + (next record number - 1) x record size.
//
// Header, 127 bytes, never enciphered (its change counter is compared without the key):
//
//   offset  size  content
//        0     4  u32 change counter, +1 at every header write; reset to 0 by emptying
//        4     4  u32 blob block size, 64..65535; a stored 0 is read as 512
//        8     1  u8 version, 3
//        9     4  u32 head of the deleted-record chain, 0 = empty
//       13     4  u32 next record number = record slots + 1
//       17     4  u32 last auto-increment number handed out
//       21     2  u16 record size on disk
//       23     2  u16 field count
//       25     2  u16 blob field count
//       27     8  f64 update stamp: local date-time minus 693594.0, taken at every write; unread
//       35    51  description: length byte + 50 characters, the characters enciphered with the
//                 password key when the table is encrypted (the length byte stays plain)
//       86     1  u8 encrypted: field definitions and records pass through the data cipher
//       87    16  password: length byte + 15 characters, the characters enciphered with the
//                 password key
//      103     2  u16 language id (0 = none: binary comparison)
//      105     2  u16 sort id; the locale is sort x 65536 + language
//      107     2  u16 creator value A, from the creation call; never read
//      109     2  u16 creator value B, likewise
//      111     2  u16 computed-field area size; 0 in a stored table
//      113     1  u8 header-changed flag of the writer's copy, as it stood when written
//      114    13  reserved, 0 at creation, preserved
//
// Field definition, 768 bytes, field i at 127 + 768 x (i - 1); the whole block of definitions
// passes through the data cipher as one buffer when the table is encrypted:
//
//   offset  size  content
//        0     2  u16 field number = its position (from 1)
//        2    31  field name: length byte + 30 characters
//       33    51  reserved, 0
//       84     1  u8 type code (below)
//       85     1  u8 sub-type; 29 on a 32-bit integer marks the auto-increment field
//       86     1  u8 declared size (types 1, 9, 15 only; at most 250)
//       87     1  u8 decimals (type 8 only)
//       88     1  u8 stored size, derived from type and size
//       89     1  u8 copy of the decimals; money rounding uses this byte
//       90     2  u16 offset of the field's null byte in the record buffer (auto-increment: 5)
//       92     1  u8 required
//       93     1  reserved
//       94    51  minimum as text: length byte + 50 characters (empty = none)
//      145    51  maximum as text, likewise
//      196    51  default as text, likewise; date and time types accept "DATE", "TIME", "NOW"
//      247     1  u8 computed field (exists only in the working definitions of an open table)
//      248   256  reserved
//      504     4  a slot for in-memory use only: always written as 0 and never read
//      508   260  reserved
//
// Type codes and stored sizes:
//
//   code  type            stored  data bytes
//      1  string          size+1  characters, a zero byte; trailing blanks never stored
//      2  date                 4  u32 day number, 0001-01-01 = 1
//      3  blob                 4  i32 first block offset in the .BLB, 0 = none; negative only in
//                                 memory: the handle of an open blob value
//      4  boolean              2  u16 0 or 1
//      5  16-bit integer       2  i16
//      6  32-bit integer       4  i32; with sub-type 29 the auto-increment number
//      7  float                8  f64
//      8  money                8  i64 scaled decimal (MoneyStorage.h)
//      9  bytes             size  raw
//     10  time                 4  u32 milliseconds since midnight
//     11  timestamp            8  f64 milliseconds: day number x 86,400,000 + time
//     12  word                 2  u16
//     13  4-byte value         4  carried byte for byte
//     14  10-byte value       10  carried byte for byte
//     15  sized value       size  raw, like 9
//
// Record, record size bytes (enciphered whole when the table is encrypted):
//
//   offset  size  content
//        0     1  u8 0 live, 1 deleted
//        1     4  u32 live: its own number; deleted: next record of the deleted chain (0 = end)
//        5     4  u32 auto-increment (sequence) number; every record has one
//        9   ...  per field in definition order: a null byte (0 blank, 1 value) and the data
//
// The auto-increment field has no null byte: its definition points at +5 and it is never blank.
// Record size = 9 + sum of (stored size + 1) over the fields that are neither auto-increment nor
// computed.  In memory a record buffer is followed by the computed-field area, where each computed
// field has its null byte and data at record size + its place in the area.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/expr/ExpressionNode.h"
#include "engine/storage/values/FieldTypes.h"

namespace tessera {

// ---- header -------------------------------------------------------------------------------------

inline constexpr size_t kDatChangeCounter = 0;
inline constexpr size_t kDatBlobBlockSize = kDatChangeCounter + 4;
inline constexpr size_t kDatVersion = kDatBlobBlockSize + 4;
inline constexpr size_t kDatDeletedHead = kDatVersion + 1;
inline constexpr size_t kDatNextRecord = kDatDeletedHead + 4;
inline constexpr size_t kDatLastAutoIncrement = kDatNextRecord + 4;
inline constexpr size_t kDatRecordSize = kDatLastAutoIncrement + 4;
inline constexpr size_t kDatFieldCount = kDatRecordSize + 2;
inline constexpr size_t kDatBlobFieldCount = kDatFieldCount + 2;
inline constexpr size_t kDatUpdateStamp = kDatBlobFieldCount + 2;
// The update stamp is the local date-time less this many days.
inline constexpr double kUpdateStampBias = 693594.0;
inline constexpr size_t kDatDescription = kDatUpdateStamp + 8;
inline constexpr size_t kDescriptionMax = 50;
inline constexpr size_t kDatEncrypted = kDatDescription + 1 + kDescriptionMax;
inline constexpr size_t kDatPassword = kDatEncrypted + 1;
inline constexpr size_t kPasswordMax = 15;
inline constexpr size_t kDatLanguage = kDatPassword + 1 + kPasswordMax;
inline constexpr size_t kDatSort = kDatLanguage + 2;
inline constexpr size_t kDatCreatorA = kDatSort + 2;
inline constexpr size_t kDatCreatorB = kDatCreatorA + 2;
inline constexpr size_t kDatComputedAreaSize = kDatCreatorB + 2;
inline constexpr size_t kDatHeaderChanged = kDatComputedAreaSize + 2;
inline constexpr size_t kDatReserved = kDatHeaderChanged + 1;
inline constexpr size_t kDataHeaderSize = 127;
static_assert(kDatEncrypted == 86 && kDatLanguage == 103 && kDatHeaderChanged == 113);
static_assert(kDatReserved + 13 == kDataHeaderSize);

// ---- field definition ---------------------------------------------------------------------------

inline constexpr size_t kFldNumber = 0;
inline constexpr size_t kFldName = kFldNumber + 2;
inline constexpr size_t kFieldNameMax = 30;
inline constexpr size_t kFldReserved1 = kFldName + 1 + kFieldNameMax;
inline constexpr size_t kFldType = kFldReserved1 + 51;
inline constexpr size_t kFldSubType = kFldType + 1;
inline constexpr size_t kFldSize = kFldSubType + 1;
inline constexpr size_t kFldDecimals = kFldSize + 1;
inline constexpr size_t kFldStoredSize = kFldDecimals + 1;
inline constexpr size_t kFldDecimalsCopy = kFldStoredSize + 1;
inline constexpr size_t kFldNullOffset = kFldDecimalsCopy + 1;
inline constexpr size_t kFldRequired = kFldNullOffset + 2;
inline constexpr size_t kFldReserved2 = kFldRequired + 1;
inline constexpr size_t kFldMinimum = kFldReserved2 + 1;
inline constexpr size_t kFieldTextMax = 50;
inline constexpr size_t kFldMaximum = kFldMinimum + 1 + kFieldTextMax;
inline constexpr size_t kFldDefault = kFldMaximum + 1 + kFieldTextMax;
inline constexpr size_t kFldComputed = kFldDefault + 1 + kFieldTextMax;
inline constexpr size_t kFldReserved3 = kFldComputed + 1;
inline constexpr size_t kFldMemoryOnly = kFldReserved3 + 256;
inline constexpr size_t kFldReserved4 = kFldMemoryOnly + 4;
inline constexpr size_t kFieldDefinitionSize = 768;
static_assert(kFldType == 84 && kFldMinimum == 94 && kFldComputed == 247);
static_assert(kFldMemoryOnly == 504);
static_assert(kFldReserved4 + 260 == kFieldDefinitionSize);

// ---- record -------------------------------------------------------------------------------------

inline constexpr size_t kRecDeleted = 0;
inline constexpr size_t kRecLink = kRecDeleted + 1;
inline constexpr size_t kRecSequence = kRecLink + 4;
inline constexpr size_t kRecFields = kRecSequence + 4;
static_assert(kRecFields == 9);

// ---- types and limits ---------------------------------------------------------------------------

// The type codes (kFieldString ... kFieldSized, kLastFieldType) and HasDeclaredSize come from
// engine/storage/values/FieldTypes.h, included above, which the layers below this one share.
inline constexpr uint8_t kSubTypeAutoIncrement = 29;

inline constexpr uint8_t kDataFileVersion = 3;
inline constexpr int kMaxFields = 1024;
inline constexpr uint8_t kMaxDeclaredSize = 250;
inline constexpr uint32_t kMaxRecordBufferSize = 65535;
inline constexpr int kMaxBlobFields = 32;
// Money keeps its decimals in one digit of the stored form (MoneyStorage.h).
inline constexpr uint8_t kMaxMoneyDecimals = 9;
inline constexpr size_t DataStart(uint32_t field_count) {
  return kDataHeaderSize + kFieldDefinitionSize * static_cast<size_t>(field_count);
}
static_assert(DataStart(2) == 1663);

// ---- locks --------------------------------------------------------------------------------------

// Byte-range locks of the .DAT, far past any data: the data semaphore (held by a writer for its
// whole write), and the record lock of record n at kRecordLockBase - n.  Tried 8192 times 3 ms
// apart (the semaphore) or as the handle's retry settings say (record locks).
inline constexpr uint32_t kDataSemaphoreOffset = 0x7FFFFFFF;
inline constexpr uint32_t kRecordLockBase = 0x7FFFFFFE;
// The table lock covers the record-lock bytes of records 1 to 100,000,001.
inline constexpr uint32_t kTableLockLength = 100000001;
inline constexpr uint32_t kTableLockOffset = kRecordLockBase - kTableLockLength;
static_assert(kTableLockOffset == 2047483645 && kTableLockOffset + kTableLockLength == 0x7FFFFFFE);
inline constexpr int kSemaphoreRetries = 8192;
inline constexpr int32_t kSemaphoreWaitMs = 3;

// ---- field definitions --------------------------------------------------------------------------

// One field definition, decoded.  Stored size, decimals copy and offset are derived
// (AssignFieldOffsets); the reserved bytes are not kept and are written as zeros.
struct TFieldDefinition {
  uint16_t number = 0;
  std::string name;  // at most 30 characters
  uint8_t type = 0;
  uint8_t sub_type = 0;
  uint8_t size = 0;
  uint8_t decimals = 0;
  uint16_t stored_size = 0;  // one byte on disk; wider here so that a damaged size cannot wrap
  uint8_t decimals_copy = 0;
  uint16_t offset = 0;  // of the null byte in the record buffer
  bool required = false;
  std::string minimum;  // at most 50 characters each
  std::string maximum;
  std::string default_value;
  bool computed = false;
  // A computed field's expression (columns numbered in the working set), in memory only: never
  // read from or written to the file.  Shared by the copies of a working set (a clone's).
  std::shared_ptr<const ExpressionNode> expression;

  bool IsAutoIncrement() const { return type == kFieldInt32 && sub_type == kSubTypeAutoIncrement; }
  bool IsBlob() const { return type == kFieldBlob; }
  bool operator==(const TFieldDefinition&) const = default;
};

// REQUIRES: `src` holds kFieldDefinitionSize bytes.  String lengths are clamped to capacity.
TFieldDefinition DecodeFieldDefinition(const uint8_t* src);
// Writes all 768 bytes.  REQUIRES: `dst` holds kFieldDefinitionSize bytes and the stored size
// fits its byte (declared sizes are at most 250).
void EncodeFieldDefinition(const TFieldDefinition& definition, uint8_t* dst);

// The stored size for a type and declared size: type 1 adds 1 to the size; 2, 3, 6, 10, 13 take
// 4; 4, 5, 12 take 2; 7, 8, 11 take 8; 14 takes 10; any other type keeps the size.
uint16_t StoredFieldSize(uint8_t type, uint8_t size);

// Derives each definition's stored size and decimals copy from its type, size and decimals, as
// every definition read from a file gets them before it is checked.
void DeriveStoredSizes(std::vector<TFieldDefinition>& definitions);

// Record size and computed area of a set of definitions.
struct TRecordLayout {
  uint32_t record_size = 0;
  uint32_t computed_area_size = 0;
};

// Gives every definition its stored size and decimals copy, then its offset: the auto-increment
// field 5, computed fields record size + their place in the computed area, every other field the
// running offset from 9.  The sizes come back unchecked (the caller compares them with 65535).
TRecordLayout AssignFieldOffsets(std::vector<TFieldDefinition>& definitions);

// The same walk for a working set whose stored fields keep their offsets: only stored sizes and
// the computed fields' offsets (after `record_size`) are assigned.  Returns the computed area.
uint32_t AssignComputedOffsets(std::vector<TFieldDefinition>& definitions, uint32_t record_size);

// ---- header -------------------------------------------------------------------------------------

// The 127-byte header image with typed access.  The bytes are kept whole, so the reserved bytes
// and everything this engine does not interpret survive a rewrite.
class TDataHeader {
 public:
  std::array<uint8_t, kDataHeaderSize>& Bytes() { return bytes_; }
  const std::array<uint8_t, kDataHeaderSize>& Bytes() const { return bytes_; }
  void Clear() { bytes_.fill(0); }

  uint32_t ChangeCounter() const { return U32(kDatChangeCounter); }
  void SetChangeCounter(uint32_t v) { PutU32(kDatChangeCounter, v); }
  // As stored; GetBlobBlockSize reads 0 as 512.
  uint32_t StoredBlobBlockSize() const { return U32(kDatBlobBlockSize); }
  uint32_t BlobBlockSize() const;
  void SetBlobBlockSize(uint32_t v) { PutU32(kDatBlobBlockSize, v); }
  uint8_t Version() const { return bytes_[kDatVersion]; }
  void SetVersion(uint8_t v) { bytes_[kDatVersion] = v; }
  uint32_t DeletedHead() const { return U32(kDatDeletedHead); }
  void SetDeletedHead(uint32_t v) { PutU32(kDatDeletedHead, v); }
  uint32_t NextRecord() const { return U32(kDatNextRecord); }
  void SetNextRecord(uint32_t v) { PutU32(kDatNextRecord, v); }
  uint32_t LastAutoIncrement() const { return U32(kDatLastAutoIncrement); }
  void SetLastAutoIncrement(uint32_t v) { PutU32(kDatLastAutoIncrement, v); }
  uint16_t RecordSize() const { return U16(kDatRecordSize); }
  void SetRecordSize(uint16_t v) { PutU16(kDatRecordSize, v); }
  uint16_t FieldCount() const { return U16(kDatFieldCount); }
  void SetFieldCount(uint16_t v) { PutU16(kDatFieldCount, v); }
  uint16_t BlobFieldCount() const { return U16(kDatBlobFieldCount); }
  void SetBlobFieldCount(uint16_t v) { PutU16(kDatBlobFieldCount, v); }
  double UpdateStamp() const;
  void SetUpdateStamp(double v);
  bool Encrypted() const { return bytes_[kDatEncrypted] != 0; }
  void SetEncrypted(bool v) { bytes_[kDatEncrypted] = v ? 1 : 0; }
  // The description as it reads: deciphered when the table is encrypted.
  std::string Description() const;
  // Stores the description (cut to 50), enciphered when the encrypted flag is already set.
  void SetDescription(std::string_view text);
  // The deciphered password; empty for a table that is not encrypted.
  std::string Password() const;
  // Stores the password (cut to 15), enciphered.
  void SetPassword(std::string_view text);
  const uint8_t* StoredPassword() const { return bytes_.data() + kDatPassword; }
  uint16_t Language() const { return U16(kDatLanguage); }
  void SetLanguage(uint16_t v) { PutU16(kDatLanguage, v); }
  uint16_t Sort() const { return U16(kDatSort); }
  void SetSort(uint16_t v) { PutU16(kDatSort, v); }
  uint16_t CreatorA() const { return U16(kDatCreatorA); }
  void SetCreatorA(uint16_t v) { PutU16(kDatCreatorA, v); }
  uint16_t CreatorB() const { return U16(kDatCreatorB); }
  void SetCreatorB(uint16_t v) { PutU16(kDatCreatorB, v); }
  uint16_t StoredComputedAreaSize() const { return U16(kDatComputedAreaSize); }
  void SetStoredComputedAreaSize(uint16_t v) { PutU16(kDatComputedAreaSize, v); }
  bool Changed() const { return bytes_[kDatHeaderChanged] != 0; }
  void SetChanged(bool v) { bytes_[kDatHeaderChanged] = v ? 1 : 0; }

  size_t DataStart() const { return tessera::DataStart(FieldCount()); }

 private:
  uint16_t U16(size_t at) const;
  uint32_t U32(size_t at) const;
  void PutU16(size_t at, uint16_t v);
  void PutU32(size_t at, uint32_t v);

  std::array<uint8_t, kDataHeaderSize> bytes_{};
};

// ---- checks when a file is opened ---------------------------------------------------------------

enum class TDataFileFault {
  kNone,
  kVersion,  // 12035
  kCorrupt,  // 8961
};

// The header's own consistency, checked before anything is derived from it: version 3 first, then
// at most 1024 fields, a record size of at least 9, at most 32 blob fields and no more than
// fields, and a block size of 0 or 64..65535.
TDataFileFault CheckDataHeader(const TDataHeader& header);

// The definitions against the header (after stored sizes were derived from type and size): field
// numbers equal positions; declared sizes of types 1, 9, 15 at most 250; the auto-increment field
// at 5; computed fields at record size + their place in the computed area; every other field at
// the running offset from 9; the running offset equal to the record size; the computed area
// equal to the header's; the blob fields as many as the header counts.
bool CheckFieldStructure(const std::vector<TFieldDefinition>& definitions,
                         const TDataHeader& header);

// The file length against the header: the records after the data start fill whole slots, and
// their number is next record number - 1.
bool CheckFileLength(const TDataHeader& header, int64_t file_length);

}  // namespace tessera
