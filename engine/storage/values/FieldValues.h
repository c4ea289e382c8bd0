// Field values in their stored forms, and their conversions to and from text and between types.
//
// Field type codes are those of FieldTypes.h: 1 string, 2 date, 3 blob, 4 boolean, 5 16-bit
// integer, 6 32-bit integer, 7 float, 8 money, 9 bytes, 10 time, 11 timestamp, 12 word.
// Stored forms (little-endian in record buffers):
//
//   type           bytes  form
//   2 date           4    u32 day number, 0001-01-01 = 1 (1899-12-30 = 693,594)
//   4 boolean        2    u16, 0 false, nonzero true; conversions here write 0xFFFF for true
//   5, 6, 12         2/4/2 i16, i32, u16
//   7 float          8    f64
//   8 money          8    i64 in the scaled-decimal form of MoneyStorage.h
//   10 time          4    u32 milliseconds since midnight
//   11 timestamp     8    f64 milliseconds: day number x 86,400,000 + milliseconds of the day
//   1 string         n    characters, zero-terminated within the field
//   9 bytes          n    raw bytes
//
// Every text conversion takes the format set to use (EngineFormats.h).  A text that does not
// convert raises cl::EConvertError with the runtime's message; so does a number that does not fit
// its destination type (never wrapped, never undefined).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "classlib/rtl/DateTime.h"
#include "engine/storage/values/EngineFormats.h"

namespace tessera {

// ---- stored forms of dates and times ------------------------------------------------------------

uint32_t DateTimeToStoredDate(cl::TDateTime value);     // its day number
uint32_t DateTimeToStoredTime(cl::TDateTime value);     // its milliseconds of the day
double DateTimeToStoredTimeStamp(cl::TDateTime value);  // day x 86,400,000 + milliseconds
// The inverses raise EConvertError for a stored value that is no valid day (0, or one beyond the
// 32-bit range), as damaged records may hold.
cl::TDateTime StoredDateToDateTime(uint32_t day_number);
cl::TDateTime StoredTimeToDateTime(uint32_t milliseconds);  // on 1899-12-30
cl::TDateTime StoredTimeStampToDateTime(double milliseconds);

// ---- text ---------------------------------------------------------------------------------------

// Parses a date (type 2), time (10) or date and time (11) and writes its stored form to `value`
// (4, 4 or 8 bytes).  False, with nothing written, for any other type.
bool TextToDateTimeValue(std::string_view text, uint8_t type, const TEngineFormatSettings& settings,
                         uint8_t* value);

// Whether the text is acceptable as the default, minimum or maximum of a field of this type:
// empty is always valid, any text for strings and bytes; booleans "TRUE"/"FALSE" in any case;
// integers in the type's range; a float; a currency amount; for a date "DATE" (any case) or a
// date; for a time "TIME" or a time; for a timestamp "NOW", "DATE", "TIME", a date, a date and
// time, or a time.  Other types accept only the empty text.
bool ValidateFieldText(std::string_view text, uint8_t type, const TEngineFormatSettings& settings);

// "True" or "False".
std::string BoolToText(bool value);
// "TRUE" or "FALSE" in any case; anything else raises EConvertError
// "'<text>' is not a valid boolean value".
bool TextToBool(std::string_view text);

// ---- conversion between types -------------------------------------------------------------------

// Converts the value in `buffer` from its stored form as `source_type` (of `source_size` bytes) to
// the stored form of `dest_type`, written back into `buffer` in at most `dest_size` bytes (for a
// string the characters plus the terminating zero).  Money destinations take `dest_decimals`.
// REQUIRES: buffer holds max(source_size, dest_size) bytes.
//
// Supported pairs (any other pair returns false and leaves the buffer unchanged):
// - the same type: strings and bytes copied to the destination size, others unchanged;
// - to a string: integers, float (shortest text), money (currency text), boolean ("True"/"False"),
//   date, time and timestamp (their texts); from a string: every type but blob;
// - among 5, 6, 7, 8 and 12: float and money reach the integer types by truncation toward zero;
// - boolean to 5, 6, 12 (1 or 0) and to money (1 or 0); 5 and 12 to boolean;
// - timestamp to date or time; date or time to timestamp (a time lies on 1899-12-30);
// - every numeric, boolean, date and time type to bytes (a copy).
// A value that does not fit the destination raises EConvertError and leaves the buffer unchanged.
bool ConvertFieldValue(uint8_t source_type, size_t source_size, uint8_t* buffer, uint8_t dest_type,
                       size_t dest_size, uint8_t dest_decimals,
                       const TEngineFormatSettings& settings);

}  // namespace tessera
