// Field values inside record buffers: getting and putting one field with its null byte, filling a
// new record with the defaults, and the required, minimum and maximum checks made before a record
// is written.  The record layout is DataFileFormat.h's; TDataFile calls these with the set of
// definitions the caller chose, its table's language and format set.
//
// Values cross this interface in their stored form: the caller hands over and receives exactly
// stored-size bytes, and the null byte is handled here.  Record buffers are the caller's and must
// hold the record size plus the computed area; definitions come checked from TDataFile (offsets
// inside that buffer).
//
// An open blob value is kept in its field as the negated handle of the blob file, so a stored
// offset (never negative on disk) and a handle cannot be confused.
//
// Texts of defaults, minimums and maximums are read with the table's format set.  A text that
// does not convert (a damaged or foreign definition) raises 10006 for its field; nothing here
// lets a conversion error of the runtime escape.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "classlib/rtl/DateTime.h"
#include "engine/storage/table/DataFileFormat.h"
#include "engine/storage/values/EngineFormats.h"

namespace tessera {

// The size of an open blob value by its blob file handle; false when the handle is unknown.
using TOpenBlobSize = std::function<bool(int32_t handle, int32_t& size)>;

// The blob file handle held by a stored blob value, when the value is one (negative).
bool BlobHandleOf(int32_t stored, int32_t& handle);
// The stored form of an open blob value's handle.
inline int32_t StoredBlobHandle(int32_t handle) { return -handle; }

// Reads a field: returns whether it is blank.  The auto-increment field is never blank and reads
// the record's +5.  An open blob value is blank when its size is 0 (an unknown handle: not blank).
// When `value` is given it is zero-filled over the stored size and receives the data bytes.
bool GetFieldValue(const TFieldDefinition& definition, const uint8_t* record, uint8_t* value,
                   const TOpenBlobSize& blob_size);

// Stores a field from `value` (stored-size bytes) or, with nullptr, blanks it.  A computed field
// is written only when `force` is set.  Strings lose their trailing blanks and an empty string is
// blank; a boolean above 1 is stored as 1; the auto-increment field goes to +5 and is left alone
// by a blank.  Returns whether anything was written.
bool PutFieldValue(const TFieldDefinition& definition, bool force, const uint8_t* value,
                   uint8_t* record, const TOpenBlobSize& blob_size);

// Zeroes `buffer_size` bytes of the record, then stores every non-empty default of `definitions`
// (not forced), resolving "DATE", "TIME" and "NOW" (any case) against `now`.  Types 3, 9 and 13
// to 15 take no default.  `data_file` names the table in errors.
void ApplyFieldDefaults(const std::vector<TFieldDefinition>& definitions, size_t count,
                        const TEngineFormatSettings& settings, cl::TDateTime now, uint8_t* record,
                        size_t buffer_size, const TOpenBlobSize& blob_size,
                        std::string_view data_file);

// The checks before a record is inserted or modified, field by field, stopping at the first
// failure: required and blank 9732, below the minimum 9730, above the maximum 9731, each naming
// the field.  A blank value compares as its zeroed bytes.  Strings compare with the table's
// language (case-sensitive) or byte-wise without one; dates, times and timestamps as points in
// time (the keywords of defaults stand for `now` here too); integers signed for types 5 and 6 and
// unsigned for 12; floats as doubles; money as amounts, the bound rounded to the field's decimals.
// Blob, boolean, byte and uninterpreted fields are never compared.
void ValidateRecord(const std::vector<TFieldDefinition>& definitions, uint16_t language,
                    uint16_t sort, const TEngineFormatSettings& settings, cl::TDateTime now,
                    const uint8_t* record, const TOpenBlobSize& blob_size,
                    std::string_view data_file);

// The stored form (4 or 8 bytes) of a date (2), time (10) or timestamp (11) text, with the
// keywords resolved against `now`.  False for a text that does not read.
bool DateTimeTextToStored(std::string_view text, uint8_t type,
                          const TEngineFormatSettings& settings, cl::TDateTime now,
                          uint8_t* stored);

}  // namespace tessera
