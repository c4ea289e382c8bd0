#include "engine/storage/table/TableCreation.h"

#include <string>

#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/values/EngineStrings.h"
#include "engine/storage/values/FieldValues.h"
#include "engine/storage/values/TextCompare.h"

namespace tessera {
namespace {

// Field names and the password lose spaces only, as stored string values do: a control character
// at either end is part of what the caller gave, and the header keeps it.  (Names of files are
// cut with cl::TrimBlanks.)
std::string TrimSpaces(std::string_view s) {
  const size_t begin = s.find_first_not_of(' ');
  if (begin == std::string_view::npos) return {};
  return std::string(s.substr(begin, s.find_last_not_of(' ') - begin + 1));
}

bool SameName(uint16_t language, uint16_t sort, const std::string& a, const std::string& b) {
  return CompareStrings(language, sort, a.c_str(), true, 0, b.c_str()) == 0;
}

// Adds a password to the session for the life of the object, unless the session held it.
class TemporaryPassword {
 public:
  TemporaryPassword(TFileSession& session, const std::string& password) : session_(session) {
    if (!password.empty() && !session.HasPassword(password)) {
      session.AddPassword(password);
      password_ = password;
    }
  }
  ~TemporaryPassword() {
    if (!password_.empty()) session_.RemovePassword(password_);
  }
  TemporaryPassword(const TemporaryPassword&) = delete;
  TemporaryPassword& operator=(const TemporaryPassword&) = delete;

 private:
  TFileSession& session_;
  std::string password_;
};

}  // namespace

void CheckFieldDefinitions(std::vector<TFieldDefinition>& fields, uint16_t language, uint16_t sort,
                           bool assign_offsets, uint32_t record_size, std::string_view data_file) {
  const TEngineFormatSettings settings = BuildEngineFormatSettings(language, sort);
  for (size_t i = 0; i < fields.size(); ++i) {
    TFieldDefinition& d = fields[i];
    d.name = TrimSpaces(d.name).substr(0, kFieldNameMax);
    if (d.name.empty() || !IsNameLetter(d.name[0])) {
      RaiseEngineError(kErrInvalidFieldName, data_file, d.name);
    }
    for (size_t j = 0; j < i; ++j) {
      if (SameName(language, sort, fields[j].name, d.name)) {
        RaiseEngineError(kErrInvalidFieldName, data_file, d.name);
      }
    }
    // A number other than the position would be written and then refused by the table's own
    // reopen; a type beyond 15 has no stored size.
    if (d.number != i + 1 || d.type == 0 || d.type > kLastFieldType) {
      RaiseEngineError(kErrInvalidFieldDefinition, data_file, d.name);
    }
    if (HasDeclaredSize(d.type)) {
      if (d.size > kMaxDeclaredSize)
        RaiseEngineError(kErrInvalidFieldDefinition, data_file, d.name);
    } else {
      d.size = 0;
    }
    if (d.type != kFieldMoney) {
      d.decimals = 0;
    } else if (d.decimals > kMaxMoneyDecimals) {
      RaiseEngineError(kErrInvalidFieldDefinition, data_file, d.name);
    }
    d.minimum = cl::ToShort(d.minimum, kFieldTextMax);
    d.maximum = cl::ToShort(d.maximum, kFieldTextMax);
    d.default_value = cl::ToShort(d.default_value, kFieldTextMax);
    if (!ValidateFieldText(d.default_value, d.type, settings) ||
        !ValidateFieldText(d.minimum, d.type, settings) ||
        !ValidateFieldText(d.maximum, d.type, settings)) {
      RaiseEngineError(kErrInvalidValidityCheck, data_file, d.name);
    }
  }
  if (assign_offsets) {
    AssignFieldOffsets(fields);
    return;
  }
  DeriveStoredSizes(fields);
  // The stored fields of a working set address the table's records: they must stay inside them.
  for (const TFieldDefinition& d : fields) {
    if (d.computed) continue;
    const bool inside = d.IsAutoIncrement() ? d.offset == kRecSequence
                                            : d.offset >= kRecFields &&
                                                  d.offset + 1u + d.stored_size <= record_size;
    if (!inside) RaiseEngineError(kErrInvalidFieldDefinition, data_file, d.name);
  }
}

void CheckIndexDefinitions(std::vector<TIndexDescriptor>& indexes,
                           const std::vector<TFieldDefinition>& fields, uint16_t language,
                           uint16_t sort, std::string_view data_file) {
  for (size_t i = 0; i < indexes.size(); ++i) {
    TIndexDescriptor& x = indexes[i];
    const bool secondary = i > 0;
    if (secondary) x.name = cl::ToShort(x.name, kIndexNameMax);
    // A secondary index without key fields could have key length 0, which marks a free slot.
    if (x.field_count > kMaxKeyFields || (secondary && x.field_count == 0)) {
      RaiseEngineError(kErrIndexLimits, data_file, {}, x.name);
    }
    size_t key_length = 0;
    for (int k = 0; k < x.field_count; ++k) {
      const uint16_t number = x.field_numbers[k];
      if (number == 0 || number > fields.size()) {
        RaiseEngineError(kErrInvalidIndexField, data_file, std::to_string(number), x.name);
      }
      key_length += fields[number - 1].stored_size + 1u;
    }
    if (secondary && !x.unique) key_length += kKeySuffixSize;
    if (key_length > kMaxKeyLength) RaiseEngineError(kErrInvalidKeySize, data_file, {}, x.name);
    x.key_length = static_cast<uint16_t>(key_length);
    if (!secondary) continue;
    if (x.name.empty() || !IsNameLetter(x.name[0])) {
      RaiseEngineError(kErrInvalidIndexName, data_file, {}, x.name);
    }
    for (size_t j = 1; j < i; ++j) {
      if (SameName(language, sort, indexes[j].name, x.name)) {
        RaiseEngineError(kErrIndexExists, data_file, {}, x.name);
      }
    }
  }
}

TRecordLayout CheckNewTable(TNewTable& table, std::string_view data_file) {
  table.password = TrimSpaces(table.password);
  // An encrypted table without a password could never be opened again: the session keeps no
  // empty password.
  if (table.encrypted && (table.password.empty() || table.password.size() > kPasswordMax)) {
    RaiseEngineError(kErrInvalidPassword, data_file);
  }
  CheckLanguageInstalled(table.language, table.sort, data_file);
  if (table.fields.size() > static_cast<size_t>(kMaxFields)) {
    RaiseEngineError(kErrFieldLimits, data_file);
  }
  if (table.indexes.size() > kIndexSlotCount) RaiseEngineError(kErrIndexLimits, data_file);
  if (table.blob_block_size < 64 || table.blob_block_size > 65535) {
    RaiseEngineError(kErrInvalidBlobBlockSize, data_file);
  }
  CheckFieldDefinitions(table.fields, table.language, table.sort, true, 0, data_file);
  CheckIndexDefinitions(table.indexes, table.fields, table.language, table.sort, data_file);
  size_t blob_fields = 0;
  for (const TFieldDefinition& d : table.fields) {
    if (d.IsBlob() && ++blob_fields > static_cast<size_t>(kMaxBlobFields)) {
      RaiseEngineError(kErrInvalidBlobBlockSize, data_file, d.name);
    }
  }
  std::vector<TFieldDefinition> copy = table.fields;
  const TRecordLayout layout = AssignFieldOffsets(copy);
  if (layout.record_size + layout.computed_area_size > kMaxRecordBufferSize) {
    RaiseEngineError(kErrRecordSizeExceeded, data_file);
  }
  return layout;
}

// ---- TDataFile ----------------------------------------------------------------------------------

void TDataFile::SetupNewTable(TNewTable table) {
  if (IsOpen()) Fail(kErrFileInUse);
  if (!Exclusive()) Fail(kErrNeedExclusive);
  if (ReadOnly()) Fail(kErrAccessDenied);
  const std::string data_file = FileName();
  const TRecordLayout layout = CheckNewTable(table, data_file);
  TemporaryPassword password(*GetEngineSession(), table.encrypted ? table.password : "");

  ResetState();
  header_.SetLanguage(table.language);
  header_.SetSort(table.sort);
  header_.SetCreatorA(table.creator_a);
  header_.SetCreatorB(table.creator_b);
  header_.SetEncrypted(table.encrypted);
  if (table.encrypted) header_.SetPassword(table.password);
  header_.SetDescription(table.description);
  uint16_t blob_fields = 0;
  for (const TFieldDefinition& d : table.fields) blob_fields += d.IsBlob() ? 1 : 0;
  header_.SetFieldCount(static_cast<uint16_t>(table.fields.size()));
  header_.SetBlobFieldCount(blob_fields);
  header_.SetBlobBlockSize(table.blob_block_size);
  header_.SetVersion(kDataFileVersion);
  header_.SetDeletedHead(0);
  header_.SetNextRecord(1);
  header_.SetLastAutoIncrement(0);
  header_.SetChangeCounter(0);
  header_.SetRecordSize(static_cast<uint16_t>(layout.record_size));
  header_.SetStoredComputedAreaSize(static_cast<uint16_t>(layout.computed_area_size));
  MarkHeaderChanged();
  table_fields_ = std::move(table.fields);

  // The close and open inside creation must neither delete the new files nor lose the event.
  const bool delete_on_close = delete_on_close_;
  const TPasswordEvent event = password_event_;
  delete_on_close_ = false;
  size_t created = 0;  // CreateNew clears up after itself; from then on the files are ours
  try {
    CreateNew();
    created = header_.BlobFieldCount() > 0 ? 3 : 2;
    WriteDefinitions();
    // The indexes are defined before the files are first closed, so that the reopen below
    // checks the complete table (an index file opens onto its primary index).
    DefineIndexes(table.indexes);
    Close();
    Open();
    Close();
  } catch (...) {
    CloseFiles();
    ResetState();
    DeleteNewFiles(created);
    delete_on_close_ = delete_on_close;
    password_event_ = event;
    throw;
  }
  delete_on_close_ = delete_on_close;
  password_event_ = event;
}

void TDataFile::DefineIndexes(const std::vector<TIndexDescriptor>& indexes) {
  // Without any index definition the table has no primary key fields.
  TIndexDescriptor primary = indexes.empty() ? TIndexDescriptor() : indexes[0];
  primary.name.clear();
  index_file_.DefinePrimaryIndex(primary);
  for (size_t i = 1; i < indexes.size(); ++i) index_file_.AddSecondaryIndex(indexes[i]);
}

void TDataFile::DefineFields(std::vector<TFieldDefinition> definitions) {
  const std::string data_file = FileName();
  if (definitions.size() > static_cast<size_t>(kMaxFields)) {
    RaiseEngineError(kErrFieldLimits, data_file);
  }
  CheckFieldDefinitions(definitions, GetLanguageId(), GetSortId(), false, GetRecordSize(),
                        data_file);
  const uint32_t area = AssignComputedOffsets(definitions, GetRecordSize());
  if (GetRecordSize() + area > kMaxRecordBufferSize) {
    RaiseEngineError(kErrRecordSizeExceeded, data_file);
  }
  // Only the in-memory area changes: the header image keeps what the file says.
  working_fields_ = std::move(definitions);
  fields_in_use_ = static_cast<uint16_t>(working_fields_.size());
  if (area != computed_area_size_ || area != 0) {
    // Cached buffers have the old size, or computed values of the old definitions (an area of the
    // same size may hold other fields): the records come again from the file.
    ReleaseAllPins();
    CommitTransaction(false, false, false);
    current_ = nullptr;
    computed_area_size_ = area;
    record_cache_.Configure(header_.DataStart(), GetRecordSize(), GetRecordBufferSize(),
                            RecordCacheCapacity());
  }
  UpdateComputedFlag();
}

}  // namespace tessera
