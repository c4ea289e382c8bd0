// TDataFile's field definitions, field values, computed fields and blob values.
#include <algorithm>
#include <cstring>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/ShortString.h"
#include "engine/storage/blob/TBlobFile.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/expr/ExpressionEvaluator.h"
#include "engine/storage/table/FieldAccess.h"
#include "engine/storage/table/FieldExpressionValues.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/values/TextCompare.h"

namespace tessera {
namespace {

// The present moment, for the defaults and bounds that may name it; the clock (a local-time
// conversion) is read only for a table that has any.
cl::TDateTime NowFor(const std::vector<TFieldDefinition>& fields, size_t count) {
  count = std::min(count, fields.size());
  for (size_t i = 0; i < count; ++i) {
    const TFieldDefinition& d = fields[i];
    if (!d.default_value.empty() || !d.minimum.empty() || !d.maximum.empty()) return cl::Now();
  }
  return 0;
}

}  // namespace

void TDataFile::UpdateComputedFlag() {
  // Recomputed from the set in use: clearing it when one of two computed fields goes would leave
  // the other one stale.
  has_computed_fields_ = false;
  for (size_t i = 0; i < fields_in_use_ && i < working_fields_.size(); ++i) {
    if (working_fields_[i].computed) has_computed_fields_ = true;
  }
}

void TDataFile::IncFieldsInUse() {
  if (fields_in_use_ >= working_fields_.size()) Fail(kErrFieldLimits);
  ++fields_in_use_;
  UpdateComputedFlag();
}

void TDataFile::DecFieldsInUse() {
  if (fields_in_use_ > 0) --fields_in_use_;
  UpdateComputedFlag();
}

const TFieldDefinition& TDataFile::GetFieldDefinition(TFieldSet field_set, uint16_t number) const {
  if (number == 0 || number > SetCount(field_set)) {
    RaiseEngineError(kErrInvalidField, FileName(), std::to_string(number));
  }
  return FieldSet(field_set)[number - 1];
}

const TFieldDefinition& TDataFile::FindFieldDefinition(TFieldSet field_set,
                                                       std::string_view name) const {
  const std::string wanted(name);
  const std::vector<TFieldDefinition>& set = FieldSet(field_set);
  for (size_t i = 0; i < SetCount(field_set); ++i) {
    if (CompareStrings(GetLanguageId(), GetSortId(), set[i].name.c_str(), true, 0,
                       wanted.c_str()) == 0) {
      return set[i];
    }
  }
  RaiseEngineError(kErrInvalidField, FileName(), cl::ToShort(name));
}

bool TDataFile::GetFieldValue(TFieldSet field_set, uint16_t number, uint8_t* value,
                              const uint8_t* record) {
  return tessera::GetFieldValue(GetFieldDefinition(field_set, number), record, value,
                                OpenBlobSizes());
}

void TDataFile::PutFieldValue(TFieldSet field_set, uint16_t number, bool force,
                              const uint8_t* value, uint8_t* record) {
  const TFieldDefinition& field = GetFieldDefinition(field_set, number);
  tessera::PutFieldValue(field, force, value, record, OpenBlobSizes());
  if (!field.computed) ComputeFields(record);
}

void TDataFile::ApplyFieldDefaults(uint8_t* record) {
  tessera::ApplyFieldDefaults(working_fields_, fields_in_use_, format_settings_,
                              NowFor(working_fields_, fields_in_use_), record,
                              GetRecordBufferSize(), OpenBlobSizes(), FileName());
  ComputeFields(record);
}

void TDataFile::ValidateRecord(const uint8_t* record) {
  tessera::ValidateRecord(table_fields_, GetLanguageId(), GetSortId(), format_settings_,
                          NowFor(table_fields_, table_fields_.size()), record, OpenBlobSizes(),
                          FileName());
}

// ---- computed fields ---------------------------------------------------------------------------

void TDataFile::ComputeFields(uint8_t* record) {
  if (!has_computed_fields_) return;
  const TOpenBlobSize& blob_sizes = OpenBlobSizes();
  for (size_t i = 0; i < fields_in_use_ && i < working_fields_.size(); ++i) {
    const TFieldDefinition& field = working_fields_[i];
    if (!field.computed || field.expression == nullptr) continue;
    ExpressionNode result;
    EvaluateExpression(
        *field.expression, result, GetLanguageId(), GetSortId(), [&](ExpressionNode& column) {
          const TFieldDefinition& f = GetFieldDefinition(TFieldSet::kWorking, column.field_number);
          uint8_t value[kMaxDeclaredSize + 2] = {};
          const bool blank = tessera::GetFieldValue(f, record, value, blob_sizes);
          StoredToExpressionValue(f, value, blank, column);
        });
    uint8_t stored[kMaxDeclaredSize + 2];
    // A result the field cannot hold (NULL, a type without conversion) leaves it blank.
    const bool has_value = ExpressionValueToStored(result, field, false, stored);
    tessera::PutFieldValue(field, true, has_value ? stored : nullptr, record, blob_sizes);
  }
}

// ---- blob values --------------------------------------------------------------------------------

namespace {

// Blob calls answer with codes: an error the blob file raises becomes its code (its context is
// already in the session).
template <class Call>
uint16_t AsCode(Call&& call) {
  try {
    return call();
  } catch (const ETesseraEngineError& e) {
    return static_cast<uint16_t>(e.GetError(0).ErrorCode());
  }
}

}  // namespace

const TFieldDefinition& TDataFile::BlobDefinition(TFieldSet field_set, uint16_t number,
                                                  uint16_t& code) const {
  const TFieldDefinition& d = GetFieldDefinition(field_set, number);
  code = d.IsBlob() && blob_file_ != nullptr ? 0 : kErrInvalidBlobField;
  return d;
}

uint16_t TDataFile::OpenBlobHandle(TFieldSet field_set, uint16_t number, const uint8_t* record,
                                   int32_t& handle) const {
  uint16_t code = 0;
  const TFieldDefinition& d = BlobDefinition(field_set, number, code);
  if (code != 0) return code;
  return BlobHandleOf(cl::GetI32LE(record + d.offset + 1), handle) ? 0 : kErrInvalidBlobHandle;
}

uint16_t TDataFile::OpenBlob(TFieldSet field_set, uint16_t number, uint8_t /*mode*/,
                             uint8_t* record) {
  ReadScope scope(*this);
  uint16_t code = 0;
  const TFieldDefinition& d = BlobDefinition(field_set, number, code);
  if (code != 0) return code;
  uint8_t* data = record + d.offset + 1;
  const int32_t stored = cl::GetI32LE(data);
  int32_t handle = 0;
  int32_t size = 0;
  if (stored < 0) {
    if (BlobHandleOf(stored, handle) && blob_file_->GetBlobSize(handle, size) == 0) return 0;
    return kErrInvalidBlobOffset;
  }
  // The blob file hands the field number back with the offsets; it is always the number in the
  // table's own set, whichever set the caller used.
  uint16_t table_number = number;
  if (field_set == TFieldSet::kWorking) {
    for (const TFieldDefinition& t : table_fields_) {
      if (!t.computed && t.offset == d.offset) table_number = t.number;
    }
  }
  const uint32_t record_number = cl::GetU32LE(record + kRecLink);
  // The value's blocks are checked against the blob header, which must be as new as the record.
  if (blob_unchecked_ && stored > 0) TakeTransientRead(false, true);
  code = AsCode([&] {
    return blob_file_->OpenBlob(record_number, table_number, static_cast<uint32_t>(stored), handle);
  });
  if (code != 0) return code;
  if (stored > 0) blob_loaded_ = true;
  cl::PutI32LE(data, StoredBlobHandle(handle));
  blob_file_->GetBlobSize(handle, size);
  record[d.offset] = size > 0 ? 1 : 0;
  return 0;
}

uint16_t TDataFile::CloseBlob(TFieldSet field_set, uint16_t number, uint8_t* record) {
  uint16_t code = 0;
  const TFieldDefinition& d = BlobDefinition(field_set, number, code);
  if (code != 0) return code;
  uint8_t* data = record + d.offset + 1;
  int32_t handle = 0;
  if (!BlobHandleOf(cl::GetI32LE(data), handle)) return kErrInvalidBlobHandle;
  uint32_t first_block = 0;
  code = AsCode([&] { return blob_file_->CloseBlob(handle, first_block); });
  if (code != 0) return code;
  cl::PutI32LE(data, static_cast<int32_t>(first_block));
  record[d.offset] = first_block != 0 ? 1 : 0;
  return 0;
}

uint16_t TDataFile::ReadBlob(TFieldSet field_set, uint16_t number, int32_t& count,
                             int32_t requested, void* buffer, int32_t position,
                             const uint8_t* record) {
  ReadScope scope(*this);
  count = 0;
  int32_t handle = 0;
  const uint16_t code = OpenBlobHandle(field_set, number, record, handle);
  if (code != 0) return code;
  return AsCode([&] { return blob_file_->ReadBlob(handle, position, count, requested, buffer); });
}

uint16_t TDataFile::WriteBlob(TFieldSet field_set, uint16_t number, int32_t count,
                              const void* buffer, int32_t position, const uint8_t* record) {
  int32_t handle = 0;
  const uint16_t code = OpenBlobHandle(field_set, number, record, handle);
  if (code != 0) return code;
  return AsCode([&] { return blob_file_->WriteBlob(handle, position, count, buffer); });
}

uint16_t TDataFile::TruncateBlob(TFieldSet field_set, uint16_t number, int32_t size,
                                 const uint8_t* record) {
  int32_t handle = 0;
  const uint16_t code = OpenBlobHandle(field_set, number, record, handle);
  if (code != 0) return code;
  return AsCode([&] { return blob_file_->TruncateBlob(handle, size); });
}

uint16_t TDataFile::GetBlobSize(TFieldSet field_set, uint16_t number, int32_t& size,
                                const uint8_t* record) {
  size = 0;
  int32_t handle = 0;
  const uint16_t code = OpenBlobHandle(field_set, number, record, handle);
  if (code != 0) return code;
  return blob_file_->GetBlobSize(handle, size);
}

bool TDataFile::IsBlobOpen(TFieldSet field_set, uint16_t number, const uint8_t* record) {
  int32_t handle = 0;
  int32_t size = 0;
  return OpenBlobHandle(field_set, number, record, handle) == 0 &&
         blob_file_->GetBlobSize(handle, size) == 0;
}

void TDataFile::StoreBlobOffsets(uint8_t* record) {
  if (blob_file_ == nullptr) return;
  blob_file_->StoreBlobOffsets([&](uint16_t number, uint32_t first_block) {
    if (number == 0 || number > table_fields_.size()) return;
    const TFieldDefinition& d = table_fields_[number - 1];
    if (!d.IsBlob()) return;
    record[d.offset] = first_block != 0 ? 1 : 0;
    cl::PutU32LE(record + d.offset + 1, first_block);
  });
}

void TDataFile::FlushBlobFile() {
  if (blob_file_ == nullptr || !blob_file_->IsOpen() || ReadOnly()) return;
  blob_file_->FlushDirtyBlocks();
  blob_file_->WriteHeader(false);
}

}  // namespace tessera
