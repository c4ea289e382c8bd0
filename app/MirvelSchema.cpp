#include "app/MirvelSchema.h"

#include <cassert>

#include "engine/storage/values/FieldTypes.h"

namespace mirvel {

namespace {

using tessera::kFieldBlob;
using tessera::kFieldInt32;
using tessera::kFieldString;
using tessera::kFieldTimeStamp;
using tessera::kSubTypeAutoIncrement;

constexpr uint8_t kSubTypeMemo = 22;

TSchemaField Int(const char* name) { return {name, kFieldInt32, 0, 0, false}; }
TSchemaField Str(const char* name, uint8_t size, bool required = false) {
  return {name, kFieldString, 0, size, required};
}
TSchemaField Stamp(const char* name, bool required = false) {
  return {name, kFieldTimeStamp, 0, 0, required};
}
TSchemaField Memo(const char* name) { return {name, kFieldBlob, kSubTypeMemo, 0, false}; }
TSchemaField AutoInc(const char* name) {
  return {name, kFieldInt32, kSubTypeAutoIncrement, 0, false};
}

std::vector<TSchemaTable> BuildTables() {
  return {
      {kUsersFile,
       {Int("NoUtilisateur"), Str("NomReseau", 50), Str("AdresseMessagerie", 50),
        Str("NomComplet", 50), Int("Statut"), Int("NewMessages"), Stamp("DateNewMessage"),
        Str("AdresseEMail", 50), Memo("Disponibilites"), Stamp("DateDisponibilites")},
       {{"", {"NoUtilisateur"}, false, false}, {"IdxNomComplet", {"NomComplet"}, false, true}}},
      {kMessagesFile,
       {Stamp("DateAppel", true), Str("Interlocuteur", 50), Int("NoDestinataire"),
        Str("NoRappeler", 20), Str("NoRappeler2", 20), Memo("Message"), Memo("SuiteDonnee"),
        Int("NoUtilisateur"), Str("Societe", 50), Str("Sujet", 50), Int("Lu")},
       {{"", {"DateAppel"}, false, false},
        {"IndexDate", {"DateAppel"}, true, false},
        {"IdxDestinataire", {"NoDestinataire", "Lu"}, false, false}}},
      {kClientsFile,
       {Int("NoSociete"), Str("Societe", 50, true), Str("Adresse1", 40), Str("Adresse2", 40),
        Str("CodePostal", 6), Str("Ville", 40), Str("Pays", 40), Str("TelStandard", 20),
        Str("TelFax", 20)},
       {{"", {"NoSociete"}, false, false}, {"IndexSociete", {"Societe"}, false, true}}},
      {kInterFile,
       {Int("NoSociete"), Int("NoInterlocuteur"), Str("Nom", 50, true), Str("Fonction", 40),
        Str("Tel1", 20), Str("Tel2", 20), Memo("Commentaires")},
       {{"", {"NoInterlocuteur"}, false, false},
        {"IndexSocieteNom", {"NoSociete", "Nom"}, false, true},
        {"IndexNom", {"Nom"}, false, true}}},
      {kMajFile,
       {AutoInc("RecordID"), Stamp("DateDerniereMAJ")},
       {{"", {"RecordID"}, false, false}}},
      {kNumerosFile, {Str("NomTable", 20), Int("Numero")}, {{"", {"NomTable"}, false, false}}},
  };
}

}  // namespace

uint16_t TSchemaTable::FieldNumber(std::string_view name) const {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (name == fields[i].name) return static_cast<uint16_t>(i + 1);
  }
  return 0;
}

const std::vector<TSchemaTable>& MirvelTables() {
  static const std::vector<TSchemaTable> tables = BuildTables();
  return tables;
}

const TSchemaTable& MirvelTable(std::string_view file_name) {
  for (const TSchemaTable& table : MirvelTables()) {
    if (file_name == table.file_name) return table;
  }
  assert(false && "not a table of the schema");
  return MirvelTables().front();
}

tessera::TNewTable NewTableDefinition(const TSchemaTable& table) {
  tessera::TNewTable t;
  t.language = kMirvelLanguage;
  t.sort = kMirvelSort;
  t.blob_block_size = kMirvelBlobBlockSize;
  for (size_t i = 0; i < table.fields.size(); ++i) {
    const TSchemaField& f = table.fields[i];
    tessera::TFieldDefinition d;
    d.number = static_cast<uint16_t>(i + 1);
    d.name = f.name;
    d.type = f.type;
    d.sub_type = f.sub_type;
    d.size = f.size;
    d.required = f.required;
    t.fields.push_back(std::move(d));
  }
  for (const TSchemaIndex& index : table.indexes) {
    tessera::TIndexDescriptor x;
    x.name = index.name;
    x.descending = index.descending ? 1 : 0;
    x.case_insensitive = index.case_insensitive ? 1 : 0;
    x.unique = &index == &table.indexes.front() ? 1 : 0;
    for (const std::string& field : index.fields) {
      x.field_numbers[x.field_count++] = table.FieldNumber(field);
    }
    t.indexes.push_back(std::move(x));
  }
  return t;
}

}  // namespace mirvel
