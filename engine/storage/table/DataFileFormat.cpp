#include "engine/storage/table/DataFileFormat.h"

#include <cassert>
#include <cstring>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/TableCipher.h"

namespace tessera {
namespace {

constexpr uint32_t kMinBlockSize = 64;
constexpr uint32_t kMaxBlockSize = 65535;
constexpr uint32_t kDefaultBlockSize = 512;
constexpr uint16_t kAutoIncrementOffset = kRecSequence;

}  // namespace

TFieldDefinition DecodeFieldDefinition(const uint8_t* src) {
  TFieldDefinition d;
  d.number = cl::GetU16LE(src + kFldNumber);
  d.name = cl::GetShortString(src + kFldName, kFieldNameMax);
  d.type = src[kFldType];
  d.sub_type = src[kFldSubType];
  d.size = src[kFldSize];
  d.decimals = src[kFldDecimals];
  d.stored_size = src[kFldStoredSize];
  d.decimals_copy = src[kFldDecimalsCopy];
  d.offset = cl::GetU16LE(src + kFldNullOffset);
  d.required = src[kFldRequired] != 0;
  d.minimum = cl::GetShortString(src + kFldMinimum, kFieldTextMax);
  d.maximum = cl::GetShortString(src + kFldMaximum, kFieldTextMax);
  d.default_value = cl::GetShortString(src + kFldDefault, kFieldTextMax);
  d.computed = src[kFldComputed] != 0;
  return d;
}

void EncodeFieldDefinition(const TFieldDefinition& d, uint8_t* dst) {
  assert(d.stored_size <= UINT8_MAX);
  std::memset(dst, 0, kFieldDefinitionSize);
  cl::PutU16LE(dst + kFldNumber, d.number);
  cl::PutShortString(dst + kFldName, kFieldNameMax, d.name);
  dst[kFldType] = d.type;
  dst[kFldSubType] = d.sub_type;
  dst[kFldSize] = d.size;
  dst[kFldDecimals] = d.decimals;
  dst[kFldStoredSize] = static_cast<uint8_t>(d.stored_size);
  dst[kFldDecimalsCopy] = d.decimals_copy;
  cl::PutU16LE(dst + kFldNullOffset, d.offset);
  dst[kFldRequired] = d.required ? 1 : 0;
  cl::PutShortString(dst + kFldMinimum, kFieldTextMax, d.minimum);
  cl::PutShortString(dst + kFldMaximum, kFieldTextMax, d.maximum);
  cl::PutShortString(dst + kFldDefault, kFieldTextMax, d.default_value);
  dst[kFldComputed] = d.computed ? 1 : 0;
  // +504 is for in-memory use only, and no pointer ever reaches a file.
  cl::PutU32LE(dst + kFldMemoryOnly, 0);
}

uint16_t StoredFieldSize(uint8_t type, uint8_t size) {
  switch (type) {
    case kFieldString:
      return static_cast<uint16_t>(size + 1);
    case kFieldDate:
    case kFieldBlob:
    case kFieldInt32:
    case kFieldTime:
    case kFieldFourBytes:
      return 4;
    case kFieldBoolean:
    case kFieldInt16:
    case kFieldWord:
      return 2;
    case kFieldFloat:
    case kFieldMoney:
    case kFieldTimeStamp:
      return 8;
    case kFieldTenBytes:
      return 10;
    default:
      return size;
  }
}

void DeriveStoredSizes(std::vector<TFieldDefinition>& definitions) {
  for (TFieldDefinition& d : definitions) {
    d.stored_size = StoredFieldSize(d.type, d.size);
    d.decimals_copy = d.decimals;
  }
}

TRecordLayout AssignFieldOffsets(std::vector<TFieldDefinition>& definitions) {
  TRecordLayout layout;
  DeriveStoredSizes(definitions);
  uint32_t running = kRecFields;
  for (TFieldDefinition& d : definitions) {
    if (d.computed) continue;
    if (d.IsAutoIncrement()) {
      d.offset = kAutoIncrementOffset;
      continue;
    }
    d.offset = static_cast<uint16_t>(running);
    running += d.stored_size + 1u;
  }
  layout.record_size = running;
  layout.computed_area_size = AssignComputedOffsets(definitions, running);
  return layout;
}

uint32_t AssignComputedOffsets(std::vector<TFieldDefinition>& definitions, uint32_t record_size) {
  uint32_t area = 0;
  for (TFieldDefinition& d : definitions) {
    d.stored_size = StoredFieldSize(d.type, d.size);
    if (!d.computed) continue;
    d.offset = static_cast<uint16_t>(record_size + area);
    area += d.stored_size + 1u;
  }
  return area;
}

uint32_t TDataHeader::BlobBlockSize() const {
  const uint32_t size = StoredBlobBlockSize();
  return size == 0 ? kDefaultBlockSize : size;
}

double TDataHeader::UpdateStamp() const { return cl::GetF64LE(bytes_.data() + kDatUpdateStamp); }
void TDataHeader::SetUpdateStamp(double v) { cl::PutF64LE(bytes_.data() + kDatUpdateStamp, v); }

std::string TDataHeader::Description() const {
  const uint8_t* at = bytes_.data() + kDatDescription;
  return Encrypted() ? GetEncipheredShortString(at, kDescriptionMax)
                     : cl::GetShortString(at, kDescriptionMax);
}

void TDataHeader::SetDescription(std::string_view text) {
  uint8_t* at = bytes_.data() + kDatDescription;
  if (Encrypted()) {
    PutEncipheredShortString(at, kDescriptionMax, text);
  } else {
    cl::PutShortString(at, kDescriptionMax, text);
  }
}

std::string TDataHeader::Password() const {
  if (!Encrypted()) return {};
  return GetEncipheredShortString(bytes_.data() + kDatPassword, kPasswordMax);
}

void TDataHeader::SetPassword(std::string_view text) {
  PutEncipheredShortString(bytes_.data() + kDatPassword, kPasswordMax, text);
}

uint16_t TDataHeader::U16(size_t at) const { return cl::GetU16LE(bytes_.data() + at); }
uint32_t TDataHeader::U32(size_t at) const { return cl::GetU32LE(bytes_.data() + at); }
void TDataHeader::PutU16(size_t at, uint16_t v) { cl::PutU16LE(bytes_.data() + at, v); }
void TDataHeader::PutU32(size_t at, uint32_t v) { cl::PutU32LE(bytes_.data() + at, v); }

TDataFileFault CheckDataHeader(const TDataHeader& header) {
  if (header.Version() != kDataFileVersion) return TDataFileFault::kVersion;
  // Everything derived later (data start, per-read maximum, block payload) divides by or
  // multiplies with these values, so they are bounded before anything else trusts them.
  if (header.FieldCount() > kMaxFields) return TDataFileFault::kCorrupt;
  if (header.RecordSize() < kRecFields) return TDataFileFault::kCorrupt;
  if (header.BlobFieldCount() > kMaxBlobFields || header.BlobFieldCount() > header.FieldCount()) {
    return TDataFileFault::kCorrupt;
  }
  const uint32_t block_size = header.StoredBlobBlockSize();
  if (block_size != 0 && (block_size < kMinBlockSize || block_size > kMaxBlockSize)) {
    return TDataFileFault::kCorrupt;
  }
  return TDataFileFault::kNone;
}

bool CheckFieldStructure(const std::vector<TFieldDefinition>& definitions,
                         const TDataHeader& header) {
  if (definitions.size() != header.FieldCount()) return false;
  uint32_t running = kRecFields;
  uint32_t area = 0;
  size_t blob_fields = 0;
  for (size_t i = 0; i < definitions.size(); ++i) {
    const TFieldDefinition& d = definitions[i];
    if (d.number != i + 1) return false;
    if (HasDeclaredSize(d.type) && d.size > kMaxDeclaredSize) return false;
    if (d.IsBlob()) ++blob_fields;
    if (d.computed) {
      // Compared after the stored fields: their total is the record size.
      continue;
    }
    if (d.IsAutoIncrement()) {
      if (d.offset != kAutoIncrementOffset) return false;
      continue;
    }
    if (d.offset != running) return false;
    running += d.stored_size + 1u;
    if (running > kMaxRecordBufferSize) return false;
  }
  if (running != header.RecordSize()) return false;
  for (const TFieldDefinition& d : definitions) {
    if (!d.computed) continue;
    if (d.offset != running + area) return false;
    area += d.stored_size + 1u;
    if (running + area > kMaxRecordBufferSize) return false;
  }
  if (area != header.StoredComputedAreaSize()) return false;
  return blob_fields == header.BlobFieldCount();
}

bool CheckFileLength(const TDataHeader& header, int64_t file_length) {
  const int64_t data_start = static_cast<int64_t>(header.DataStart());
  const int64_t record_size = header.RecordSize();
  const int64_t data_bytes = file_length - data_start;
  if (data_bytes < 0) return false;
  if (data_bytes % record_size != 0) return false;
  return data_bytes / record_size + 1 == static_cast<int64_t>(header.NextRecord());
}

}  // namespace tessera
