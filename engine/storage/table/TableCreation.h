// The definition of a new table and its checks: field names, numbers, types, sizes and value
// texts, index key fields and names, and the table-wide limits.  TDataFile.SetupNewTable and
// TDataFile.DefineFields run these checks before anything is created or replaced; the layout of
// what they write is DataFileFormat.h's (data file) and IndexFormat.h's (index descriptors).
//
// Errors come in the order of the checks and carry the table's data file name:
//   password longer than 15 characters, or empty on an encrypted table      10015
//   language not installed                                                  15878
//   more than 1024 fields                                                   9492
//   more than 32 index definitions                                          9487
//   blob block size outside 64..65535                                       9498
//   per field, in order: name empty, not starting with a letter or used twice  10038
//     number not its position, type not 1..15, size above 250, money
//     decimals above 9                                                      10000
//     default, minimum or maximum text not of the field's type              10006
//   per index: more than 16 key fields, or a secondary index without any    9487
//     a key field that names no field                                       10023
//     key longer than 1036 bytes                                            10026
//     secondary name not starting with a letter                             10022
//     secondary name used twice                                             10027
//   more than 32 blob fields                                                9498
//   record buffer above 65535 bytes                                         9477
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/index/IndexFormat.h"
#include "engine/storage/table/DataFileFormat.h"

namespace tessera {

// Everything SetupNewTable needs.  Index 0 of `indexes` is the primary index (its name is
// ignored; no key fields: the table has no primary key); the others are secondary indexes.  Key
// lengths are computed by the checks.
struct TNewTable {
  uint16_t language = 0;
  uint16_t sort = 0;
  bool encrypted = false;
  std::string password;
  std::string description;
  uint32_t blob_block_size = 512;
  std::vector<TFieldDefinition> fields;
  std::vector<TIndexDescriptor> indexes;
  uint16_t creator_a = 0;
  uint16_t creator_b = 0;
};

// The checks of one field set, in place: names trimmed and cut to 30 characters, sizes kept only
// for types 1, 9 and 15, decimals only for type 8, the required flag made 0 or 1.  With
// `assign_offsets` every field also gets its stored size and offset (a new table); without, the
// stored fields keep their offsets, which must lie inside a record of `record_size` bytes (10000
// otherwise), and only stored sizes are derived (a working set of an open table).
void CheckFieldDefinitions(std::vector<TFieldDefinition>& fields, uint16_t language, uint16_t sort,
                           bool assign_offsets, uint32_t record_size, std::string_view data_file);

// The checks of the index definitions against checked fields, in place: secondary names cut to
// 30 characters and each key length computed (stored size + 1 per key field, + 4 for the
// record-number suffix of a secondary index that is not unique).
void CheckIndexDefinitions(std::vector<TIndexDescriptor>& indexes,
                           const std::vector<TFieldDefinition>& fields, uint16_t language,
                           uint16_t sort, std::string_view data_file);

// All checks of a new table, in the order above; on success the fields carry their offsets and
// the layout is returned.  The password comes back trimmed.
TRecordLayout CheckNewTable(TNewTable& table, std::string_view data_file);

}  // namespace tessera
