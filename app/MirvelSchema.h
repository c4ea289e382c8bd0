// The six tables of a Mirvel database directory, described once: the database creation tool
// builds them from this description and the tests check created directories against it.  The
// program itself creates no table and relies only on the file, field and index names.
//
// Every table: language 0x040C (French, sort 0), not encrypted, blob block size 512.  Stored
// fields in record order, numbered from 1.  Index 0 is the primary index (unique by its nature);
// the others are secondary indexes found by name.
//
//   Users.DAT     primary NoUtilisateur; "IdxNomComplet" NomComplet (case-insensitive)
//   Messages.DAT  primary DateAppel (two messages of one DateAppel are a key violation, which
//                 the post retries later); "IndexDate" DateAppel descending (newest first);
//                 "IdxDestinataire" NoDestinataire;Lu (the recipient filter, unread lookup)
//   Clients.DAT   primary NoSociete; "IndexSociete" Societe (case-insensitive)
//   Inter.DAT     primary NoInterlocuteur; "IndexSocieteNom" NoSociete;Nom and "IndexNom" Nom
//                 (both case-insensitive: the detail link and the caller lookups)
//   MAJTbl.DAT    primary RecordID (auto-increment): the one change-stamp row
//   Numeros.DAT   primary NomTable: one counter per numbered table
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/table/TableCreation.h"

namespace mirvel {

inline constexpr uint16_t kMirvelLanguage = 0x040C;
inline constexpr uint16_t kMirvelSort = 0;
inline constexpr uint32_t kMirvelBlobBlockSize = 512;

inline constexpr const char* kUsersFile = "Users.DAT";
inline constexpr const char* kMessagesFile = "Messages.DAT";
inline constexpr const char* kClientsFile = "Clients.DAT";
inline constexpr const char* kInterFile = "Inter.DAT";
inline constexpr const char* kMajFile = "MAJTbl.DAT";
inline constexpr const char* kNumerosFile = "Numeros.DAT";

struct TSchemaField {
  const char* name;
  uint8_t type;
  uint8_t sub_type;
  uint8_t size;  // strings only
  bool required;
};

struct TSchemaIndex {
  const char* name;  // empty for the primary index
  std::vector<std::string> fields;
  bool descending;
  bool case_insensitive;
};

struct TSchemaTable {
  const char* file_name;
  std::vector<TSchemaField> fields;
  std::vector<TSchemaIndex> indexes;  // [0] the primary index

  // The 1-based number of a field; 0 when the table has none of that name.
  uint16_t FieldNumber(std::string_view name) const;
};

// The six tables in the order above.
const std::vector<TSchemaTable>& MirvelTables();
// REQUIRES: `file_name` is one of the six file names.
const TSchemaTable& MirvelTable(std::string_view file_name);

// The engine's definition of a new table.
tessera::TNewTable NewTableDefinition(const TSchemaTable& table);

}  // namespace mirvel
