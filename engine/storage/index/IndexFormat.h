// The index file (".IDX") on disk: its header with 32 index descriptors, the page layout, the
// leaf compression modes and the page capacities.  TIndexFile and TPage point here.
//
// All integers are little-endian (classlib/rtl/Coding.h) except inside keys, whose bytes are
// order-preserving big-endian encodings compared as unsigned bytes.  Pages are addressed by file
// offset: a multiple of 4096, at least 4096; 0 means "no page".
//
// Header, file offset 0, 4096 bytes:
//
//   offset  size  content
//        0     4  u32 change counter, +1 at every header write (other processes compare it)
//        4     4  zero
//        8     1  u8 version, 3
//        9     4  u32 end offset: where the next new page goes (4096 in a new file)
//       13     1  u8 number of secondary indexes in use (0..30), in slots 1..n without gaps
//       14  3840  32 descriptors of 120 bytes; slot k at 14 + 120 k: 0 primary, 1..30
//                 secondary, 31 the reserved "Sys Deleted" (at 3734)
//     3854   120  zero
//     3974     4  u32 number of records in the table
//     3978     1  u8 1 = no primary key fields: slot 0 has no tree, primary order is record order
//     3979     1  u8 header-changed mark of the writer; stored as it stands, ignored when read
//     3980   116  zero
//
// Index descriptor, 120 bytes:
//
//   offset  size  content
//        0    31  index name: length byte + 30 characters (empty for the primary index)
//       31     2  u16 key length K (0 = slot unused; 5 for "Sys Deleted")
//       33     1  u8 descending: the whole index sorts in reverse
//       34     1  u8 case-insensitive: string key parts are upper-cased when keys are built
//       35     1  u8 unique (such an index carries no record-number suffix)
//       36     1  u8 leaf compression mode 0..3 (below)
//       37     1  u8 number of key fields, 0..16
//       38    16  u8 descending flag per key field; the flag of field i (from 1) at 37 + i
//       54    32  16 x u16 field numbers of the key fields, in key order
//       86     4  u32 root page offset, 0 = empty tree
//       90     4  u32 head of this index's free-page chain, 0 = none
//       94    26  zero
//
// Key: per key field a null byte (1 value, 0 NULL) and the field's order-preserving value (zero
// bytes for NULL; keys of earlier builds hold the encoded zero value there, see KeyCompare.h); a
// secondary index (slots 1..30) without the unique flag appends a 4-byte record-number suffix
// (the encoded sequence number of the record).  The "Sys Deleted" key is the deleted flag byte
// and the encoded sequence number.
//
// Page, 4096 bytes at its offset:
//
//   offset  size  content
//        0     1  u8 type: 0 root inner, 1 inner, 2 leaf, 3 root that is also a leaf
//        1     2  u16 number of entries (0 on a free page)
//        3     4  u32 left neighbour on the same level, 0 = none
//        7     4  u32 right neighbour; on a free page the next free page of the index's chain
//       11     2  u16 bytes of entries in use: compressed leaves only, 0 elsewhere, <= 4083
//       13  4083  entries, packed from byte 13; the rest zero
//
// Entries (K = key length):
//   inner           K key bytes, u32 child page, u32 keys in the child's subtree; the key is the
//                   smallest key of the child's subtree                      (K + 8 bytes)
//   leaf, mode 0    K key bytes, u32 record number                           (K + 4 bytes)
//   leaf, mode 1    u16 P, key bytes P..K-1, u32 record number               (K - P + 6 bytes)
//   leaf, mode 2    u16 T, key bytes 0..K-T-1, u32 record number             (K - T + 6 bytes)
//   leaf, mode 3    u8 P, u8 T, key bytes P..K-T-1, u32 record number        (K - P - T + 6 bytes)
// P = leading bytes shared with the previous entry's key (0 in the first entry; at most 255 in
// mode 3); T = trailing zero bytes left out (at most 255).  With a record-number suffix the zeros
// are counted only in front of it (bytes 0..K-5) and the 4 suffix bytes are always stored; in
// mode 3 an entry with K - P < 5 uses T = 0.
//
// Capacity: an inner page holds at most floor(4083 / (K + 10)) entries, an uncompressed leaf
// floor(4083 / (K + 6)); a compressed leaf is limited only by its bytes in use (<= 4083).
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tessera {

inline constexpr size_t kIndexPageSize = 4096;
inline constexpr uint8_t kIndexVersion = 3;
inline constexpr int kIndexSlotCount = 32;
inline constexpr int kMaxSecondaryIndexes = 30;
inline constexpr int kSysDeletedSlot = 31;
inline constexpr uint8_t kRecordOrderSlot = 255;  // no index: record-number order
inline constexpr int kMaxKeyFields = 16;
inline constexpr size_t kMaxKeyLength = 1036;
inline constexpr size_t kKeySuffixSize = 4;
inline constexpr const char* kSysDeletedName = "Sys Deleted";
inline constexpr uint16_t kSysDeletedKeyLength = 5;
// The write region of the .IDX, which covers every reader's byte 0x7FFFFFFF - r (r in 1..65534).
inline constexpr uint32_t kIndexWriteRegionOffset = 0x7FFF0000;
inline constexpr uint32_t kIndexWriteRegionLength = 65535;
// A reader locks the one byte kIndexReaderByteTop - r, r drawn from 1..65534 for each attempt.
inline constexpr uint32_t kIndexReaderByteTop = 0x7FFFFFFF;
// A file may not grow past this offset (error 9479).
inline constexpr uint32_t kMaxIndexFileOffset = 2000000000;

// Header.
inline constexpr size_t kIdxChangeCounter = 0;
inline constexpr size_t kIdxZero1 = kIdxChangeCounter + 4;
inline constexpr size_t kIdxVersion = kIdxZero1 + 4;
inline constexpr size_t kIdxEndOffset = kIdxVersion + 1;
inline constexpr size_t kIdxSecondaryCount = kIdxEndOffset + 4;
inline constexpr size_t kIdxDescriptors = kIdxSecondaryCount + 1;
inline constexpr size_t kIndexDescriptorSize = 120;
inline constexpr size_t kIdxZero2 = kIdxDescriptors + kIndexSlotCount * kIndexDescriptorSize;
inline constexpr size_t kIdxRecordCount = kIdxZero2 + 120;
inline constexpr size_t kIdxNoPrimaryFields = kIdxRecordCount + 4;
inline constexpr size_t kIdxChangedMark = kIdxNoPrimaryFields + 1;
inline constexpr size_t kIdxZero3 = kIdxChangedMark + 1;
inline constexpr size_t kIndexHeaderSize = 4096;
static_assert(kIdxZero3 + 116 == kIndexHeaderSize);
static_assert(kIdxDescriptors + kSysDeletedSlot * kIndexDescriptorSize == 3734);

// REQUIRES: 0 <= slot < kIndexSlotCount (never kRecordOrderSlot).
inline constexpr size_t DescriptorOffset(int slot) {
  assert(slot >= 0 && slot < kIndexSlotCount);
  return kIdxDescriptors + static_cast<size_t>(slot) * kIndexDescriptorSize;
}

// Descriptor.
inline constexpr size_t kDescName = 0;
inline constexpr size_t kIndexNameMax = 30;
inline constexpr size_t kDescKeyLength = kDescName + 1 + kIndexNameMax;
inline constexpr size_t kDescDescending = kDescKeyLength + 2;
inline constexpr size_t kDescCaseInsensitive = kDescDescending + 1;
inline constexpr size_t kDescUnique = kDescCaseInsensitive + 1;
inline constexpr size_t kDescCompression = kDescUnique + 1;
inline constexpr size_t kDescFieldCount = kDescCompression + 1;
inline constexpr size_t kDescFieldDescending = kDescFieldCount + 1;
inline constexpr size_t kDescFieldNumbers = kDescFieldDescending + kMaxKeyFields;
inline constexpr size_t kDescRoot = kDescFieldNumbers + 2 * kMaxKeyFields;
inline constexpr size_t kDescFreeHead = kDescRoot + 4;
inline constexpr size_t kDescReserved = kDescFreeHead + 4;
static_assert(kDescReserved + 26 == kIndexDescriptorSize);

// Page.
inline constexpr size_t kPageType = 0;
inline constexpr size_t kPageCount = kPageType + 1;
inline constexpr size_t kPagePrev = kPageCount + 2;
inline constexpr size_t kPageNext = kPagePrev + 4;
inline constexpr size_t kPageBytesInUse = kPageNext + 4;
inline constexpr size_t kPageEntries = kPageBytesInUse + 2;
inline constexpr size_t kPageEntryBytes = kIndexPageSize - kPageEntries;  // 4083
static_assert(kPageEntries + kPageEntryBytes == kIndexPageSize);

enum TPageType : uint8_t {
  kPageRootInner = 0,
  kPageInner = 1,
  kPageLeaf = 2,
  kPageRootLeaf = 3,
};

enum TCompression : uint8_t {
  kCompressNone = 0,
  kCompressLeading = 1,
  kCompressTrailing = 2,
  kCompressBoth = 3,
};
inline constexpr uint8_t kMaxCompression = kCompressBoth;
// Counts stored in a single byte, and every trailing count, stop here.
inline constexpr uint16_t kMaxCompressCount = 255;

// One index descriptor, decoded.
struct TIndexDescriptor {
  std::string name;  // at most 30 characters
  uint16_t key_length = 0;
  uint8_t descending = 0;
  uint8_t case_insensitive = 0;
  uint8_t unique = 0;
  uint8_t compression = 0;
  uint8_t field_count = 0;
  std::array<uint8_t, kMaxKeyFields> field_descending{};
  std::array<uint16_t, kMaxKeyFields> field_numbers{};
  uint32_t root = 0;
  uint32_t free_head = 0;

  bool operator==(const TIndexDescriptor&) const = default;
};

// REQUIRES: `src` holds kIndexDescriptorSize bytes.  The stored name length is clamped to 30.
TIndexDescriptor DecodeIndexDescriptor(const uint8_t* src);
// Writes all 120 bytes (the reserved tail zero).  REQUIRES: `dst` holds kIndexDescriptorSize.
void EncodeIndexDescriptor(const TIndexDescriptor& descriptor, uint8_t* dst);

// Whether keys of slot `slot` carry the 4-byte record-number suffix.
inline bool HasKeySuffix(int slot, bool unique) {
  return slot >= 1 && slot <= kMaxSecondaryIndexes && !unique;
}

// Page capacities for key length K.
inline size_t InnerCapacity(size_t key_length) { return kPageEntryBytes / (key_length + 10); }
inline size_t LeafCapacity(size_t key_length) { return kPageEntryBytes / (key_length + 6); }
inline bool IsInnerPageType(uint8_t type) { return type == kPageRootInner || type == kPageInner; }

// The header of a new file: version 3, end offset 4096, "Sys Deleted" in slot 31, every other
// byte zero.  REQUIRES: `header` holds kIndexHeaderSize bytes.
void InitNewIndexHeader(uint8_t* header);

// Why a header cannot be used.
enum class TIndexHeaderFault {
  kNone,
  kVersion,  // raise 12035
  kCorrupt,  // raise 8965
};

// Checks a header read from disk before anything trusts it: version, secondary count, every used
// descriptor's key length, field count, compression and name length, end offset, and that roots
// and free-chain heads are page offsets below the end offset.  The end offset is not compared
// with the file's length: pages appended inside a transaction reach the disk only at commit.
// REQUIRES: `header` holds kIndexHeaderSize bytes.
TIndexHeaderFault CheckIndexHeader(const uint8_t* header);

// A page offset within a file whose next new page goes at `end_offset`.
inline bool IsValidPageOffset(uint32_t offset, uint32_t end_offset) {
  return offset >= kIndexPageSize && offset % kIndexPageSize == 0 && offset < end_offset;
}

}  // namespace tessera
