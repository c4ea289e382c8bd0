#include "engine/storage/index/IndexFormat.h"

#include <cstring>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/ShortString.h"

namespace tessera {

TIndexDescriptor DecodeIndexDescriptor(const uint8_t* src) {
  TIndexDescriptor d;
  d.name = cl::GetShortString(src + kDescName, kIndexNameMax);
  d.key_length = cl::GetU16LE(src + kDescKeyLength);
  d.descending = src[kDescDescending];
  d.case_insensitive = src[kDescCaseInsensitive];
  d.unique = src[kDescUnique];
  d.compression = src[kDescCompression];
  d.field_count = src[kDescFieldCount];
  for (int i = 0; i < kMaxKeyFields; ++i) {
    d.field_descending[i] = src[kDescFieldDescending + i];
    d.field_numbers[i] = cl::GetU16LE(src + kDescFieldNumbers + 2 * i);
  }
  d.root = cl::GetU32LE(src + kDescRoot);
  d.free_head = cl::GetU32LE(src + kDescFreeHead);
  return d;
}

void EncodeIndexDescriptor(const TIndexDescriptor& d, uint8_t* dst) {
  std::memset(dst, 0, kIndexDescriptorSize);
  cl::PutShortString(dst + kDescName, kIndexNameMax, d.name);
  cl::PutU16LE(dst + kDescKeyLength, d.key_length);
  dst[kDescDescending] = d.descending;
  dst[kDescCaseInsensitive] = d.case_insensitive;
  dst[kDescUnique] = d.unique;
  dst[kDescCompression] = d.compression;
  dst[kDescFieldCount] = d.field_count;
  for (int i = 0; i < kMaxKeyFields; ++i) {
    dst[kDescFieldDescending + i] = d.field_descending[i];
    cl::PutU16LE(dst + kDescFieldNumbers + 2 * i, d.field_numbers[i]);
  }
  cl::PutU32LE(dst + kDescRoot, d.root);
  cl::PutU32LE(dst + kDescFreeHead, d.free_head);
}

void InitNewIndexHeader(uint8_t* header) {
  std::memset(header, 0, kIndexHeaderSize);
  header[kIdxVersion] = kIndexVersion;
  cl::PutU32LE(header + kIdxEndOffset, kIndexPageSize);
  TIndexDescriptor deleted;
  deleted.name = kSysDeletedName;
  deleted.key_length = kSysDeletedKeyLength;
  EncodeIndexDescriptor(deleted, header + DescriptorOffset(kSysDeletedSlot));
}

TIndexHeaderFault CheckIndexHeader(const uint8_t* header) {
  if (header[kIdxVersion] != kIndexVersion) return TIndexHeaderFault::kVersion;
  const uint32_t end_offset = cl::GetU32LE(header + kIdxEndOffset);
  if (end_offset < kIndexPageSize || end_offset % kIndexPageSize != 0 ||
      end_offset > kMaxIndexFileOffset + kIndexPageSize) {
    return TIndexHeaderFault::kCorrupt;
  }
  const int secondary_count = header[kIdxSecondaryCount];
  if (secondary_count > kMaxSecondaryIndexes) return TIndexHeaderFault::kCorrupt;
  for (int slot = 0; slot < kIndexSlotCount; ++slot) {
    // Slots past the secondary count are not in use, whatever they hold.
    if (slot > secondary_count && slot < kSysDeletedSlot) continue;
    const uint8_t* raw = header + DescriptorOffset(slot);
    const uint16_t key_length = cl::GetU16LE(raw + kDescKeyLength);
    if (key_length == 0) {
      // Secondary indexes fill slots 1..n without gaps.
      if (slot >= 1 && slot <= secondary_count) return TIndexHeaderFault::kCorrupt;
      continue;
    }
    if (!cl::ShortStringLengthValid(raw + kDescName, kIndexNameMax)) {
      return TIndexHeaderFault::kCorrupt;
    }
    const bool suffix = HasKeySuffix(slot, raw[kDescUnique] != 0);
    if (key_length > kMaxKeyLength || (suffix && key_length < kKeySuffixSize) ||
        raw[kDescFieldCount] > kMaxKeyFields || raw[kDescCompression] > kMaxCompression) {
      return TIndexHeaderFault::kCorrupt;
    }
    const uint32_t root = cl::GetU32LE(raw + kDescRoot);
    const uint32_t free_head = cl::GetU32LE(raw + kDescFreeHead);
    if ((root != 0 && !IsValidPageOffset(root, end_offset)) ||
        (free_head != 0 && !IsValidPageOffset(free_head, end_offset))) {
      return TIndexHeaderFault::kCorrupt;
    }
  }
  return TIndexHeaderFault::kNone;
}

}  // namespace tessera
