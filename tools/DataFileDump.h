// A readable account of a table's data file (.DAT), for debugging and tests.
//
// The image is trusted in nothing: the header is checked before anything is derived from it, the
// field definitions only when the image holds them, the records only when the definitions match
// the header, and damage is written into the account instead of stopping it.  An encrypted table
// is deciphered with the format's fixed key.  The format is engine/storage/table/DataFileFormat.h's.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

namespace tessera {

// Header, field definitions and every record slot with its field values (texts in UTF-8).  False
// when anything was found damaged.
bool DumpDataFile(const std::vector<uint8_t>& image, std::ostream& out);

}  // namespace tessera
