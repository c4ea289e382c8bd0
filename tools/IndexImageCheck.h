// The whole-file check of an index file (engine/storage/index/IndexCheck.h) run on a file image, for
// tessera-dump --check.  Keys compare as bytes (reversed for a descending index): the tool does
// not know the table's language, so the order of collated string keys is left unchecked, nor
// the field sizes, so only a one-field key's NULL values of either form compare equal.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

namespace tessera {

// Prints the keys of each index in use, or the first problem; true when the file is sound.
bool CheckIndexImage(const std::vector<uint8_t>& image, bool encrypted, std::ostream& out);

}  // namespace tessera
