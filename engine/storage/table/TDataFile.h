// One open table: the data file (".DAT") with its field definitions, and the index (".IDX") and
// blob (".BLB") files it owns.
//
// The bytes are DataFileFormat.h's.  A TDataFile keeps the header image, the table's own field
// definitions (as read) and a working set (a copy at open that the SQL engine may replace and
// extend with computed fields), and the index and blob file objects.  The dataset components and
// the SQL engine hold one TDataFile per open table; it is used by one thread at a time.  Other
// processes share the files only through byte-range locks and the change counters at the start of
// each file.
//
// Life cycle:
//
//   closed --Open / SetupNewTable (which leaves it closed)--> open --Close--> closed
//
//   Open   reads the header and checks it (version 12035; damaged limits 8961; language 15878),
//          asks for the password of an encrypted table (10498), reads and checks the definitions
//          (8961), checks the file length under the data semaphore, then opens the .IDX (8965
//          also for an index whose key length is not what its fields make) and, when the table
//          has blob fields, the .BLB.  Any error closes everything again.
//   Close  writes the headers of an exclusive, writable table, closes the three files (also when
//          that write failed, whose error is raised afterwards) and deletes them on request.
//
// The header image never carries the in-memory computed-field area: that size is kept beside it,
// so a working set with computed fields cannot make the stored table unreadable.
//
// Not here yet: the record cache with record reads and writes, the lock levels and transactions.
// Until they come, these answers stand in for them, and what follows from them holds:
//   InExclusivePhase     always false: caches never grow for a transaction, and short reads of
//                        the .IDX and .BLB are accepted only on an exclusive handle;
//   TakeReadLevel,       never take a lock and never report another process's change, so a
//   TakeReadLockChanged  shared handle keeps its cached index pages and blob blocks until it is
//                        reopened and does not see another writer's changes before then;
//   CommitTransaction    writes the three headers and the dirty index pages and blob blocks, and
//                        Close calls it only on an exclusive, writable handle: index keys and blob
//                        values changed through a shared handle reach the disk at most in part
//                        (what the caches write back to make room), without their headers.
// So a table is changed only through an exclusive handle; shared handles are for reading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/blob/TBlobFile.h"
#include "engine/storage/core/TFileHandler.h"
#include "engine/storage/core/TableCipher.h"
#include "engine/storage/index/TIndexFile.h"
#include "engine/storage/table/DataFileFormat.h"
#include "engine/storage/table/FieldAccess.h"
#include "engine/storage/values/EngineFormats.h"

namespace tessera {

struct TNewTable;

// Which field definitions a field access goes by: the table's own (as stored in the file) or the
// working set that a dataset may lay over them (reordered fields, computed fields).
enum class TFieldSet : uint8_t { kTable, kWorking };

class TDataFile : public TFileHandler, public TIndexFileOwner, public TBlobFileOwner {
 public:
  TDataFile();
  ~TDataFile() override;

  // The table name, blanks trimmed, with the extension after the last "/" replaced by ".DAT".
  std::string MakeFileName(std::string_view table_name) override;
  void Open() override;
  void Close() override;
  // Creates the .DAT, then the .IDX and, when the header counts blob fields, the .BLB, all
  // exclusive; the headers are written by the next commit or close.
  void CreateNew() override;

  // ---- creation and working definitions (TableCreation.cpp) ----

  // Creates the three files of a new table from `table` and leaves the handle closed.  REQUIRES
  // the closed handle's exclusive flag (10253) and not its read-only flag (11013).  Errors of the
  // checks leave no file; an error once the files exist deletes them and is passed on.
  void SetupNewTable(TNewTable table);
  // Replaces the working definitions of the open table: checked like a new table's (the stored
  // fields keep their offsets), computed fields placed after the record.
  void DefineFields(std::vector<TFieldDefinition> definitions);

  // ---- life cycle ----

  // Empties the open table: no records, no index keys, no blob blocks.  REQUIRES exclusive
  // (10253) and writable (11013).
  void EmptyTable();
  // 10031 while open.
  void SetDeleteOnClose(bool value);
  bool DeleteOnClose() const { return delete_on_close_; }
  // Called while the session lacks an encrypted table's password; true when it supplied one.
  void SetPasswordEvent(TPasswordEvent event) { password_event_ = std::move(event); }
  // Deletes the closed table's .DAT, .IDX and, when it exists, .BLB (9220 when refused).
  void DeleteTableFiles();

  // ---- settings ----

  uint8_t LockRetryCount() const { return lock_retry_count_; }
  void SetLockRetryCount(uint8_t value) { lock_retry_count_ = value; }
  uint16_t LockWaitTime() const { return lock_wait_time_; }
  void SetLockWaitTime(uint16_t value) { lock_wait_time_ = value; }
  bool ForceBufferFlush() const { return force_buffer_flush_; }
  // Ignored while open; write-through for all three files.
  void SetForceBufferFlush(bool value);
  bool StrictChangeDetection() const override { return strict_change_detection_; }
  // Ignored while open.
  void SetStrictChangeDetection(bool value);

  // ---- header ----

  // Reads the 127 bytes at 0 and clears the changed flag.
  void ReadHeader();
  // When forced or changed: counter + 1, a new update stamp, the 127 bytes written, flag cleared.
  void WriteHeader(bool force);
  void MarkHeaderChanged() { header_.SetChanged(true); }
  const TDataHeader& Header() const { return header_; }
  // Cuts the file at the data start: no records, counters reset, header changed.
  void EmptyDataFile();
  // Writes what the table holds in memory (without a record cache yet: the headers), in the
  // order data, index, blob.  Nothing on a read-only table.
  void CommitTransaction(bool resize_caches, bool force_headers, bool force_index_header);

  // ---- field access (FieldAccess.cpp) ----

  uint16_t GetFieldCount() const { return static_cast<uint16_t>(table_fields_.size()); }
  uint16_t GetFieldsInUse() const { return fields_in_use_; }
  // One more or one fewer working definition in use; at most the working set's size (9492).
  void IncFieldsInUse();
  void DecFieldsInUse();
  // 9985 with the number for 0 or a number above the set's count.
  const TFieldDefinition& GetFieldDefinition(TFieldSet field_set, uint16_t number) const;
  // The first definition of that name, ignoring case; 9985 with the name when none.
  const TFieldDefinition& FindFieldDefinition(TFieldSet field_set, std::string_view name) const;
  // True when the field is blank; `value` (stored-size bytes) may be nullptr.
  bool GetFieldValue(TFieldSet field_set, uint16_t number, uint8_t* value, const uint8_t* record);
  // `value` nullptr blanks the field.  Computed fields only with `force`.
  void PutFieldValue(TFieldSet field_set, uint16_t number, bool force, const uint8_t* value,
                     uint8_t* record);
  // Zeroes the record buffer and stores the working set's defaults.
  void ApplyFieldDefaults(uint8_t* record);
  // Required, minimum and maximum over the table's own set: 9732, 9730, 9731.
  void ValidateRecord(const uint8_t* record);
  bool HasComputedFields() const { return has_computed_fields_; }

  uint16_t GetRecordBufferSize() const;
  uint16_t GetRecordSize() const { return header_.RecordSize(); }
  uint16_t GetBlobBlockSize() const { return static_cast<uint16_t>(header_.BlobBlockSize()); }
  uint16_t GetLanguageId() const { return header_.Language(); }
  uint16_t GetSortId() const { return header_.Sort(); }
  // Records one physical read may bring in: 32767 / record size.
  uint32_t PerReadMaximum() const;
  // Record buffers the cache may hold: 131070 / buffer size, at most 65535.
  uint32_t RecordCacheCapacity() const;
  const TEngineFormatSettings& FormatSettings() const { return format_settings_; }

  // Blob values of the record buffer; codes, never raised: 10753 not a blob field, 9998 a handle
  // the blob file does not know, 10030 a value that is not open; the blob file's own codes.
  uint16_t OpenBlob(TFieldSet field_set, uint16_t number, uint8_t mode, uint8_t* record);
  uint16_t CloseBlob(TFieldSet field_set, uint16_t number, uint8_t* record);
  uint16_t ReadBlob(TFieldSet field_set, uint16_t number, int32_t& count, int32_t requested,
                    void* buffer, int32_t position, const uint8_t* record);
  uint16_t WriteBlob(TFieldSet field_set, uint16_t number, int32_t count, const void* buffer,
                     int32_t position, const uint8_t* record);
  uint16_t TruncateBlob(TFieldSet field_set, uint16_t number, int32_t size, const uint8_t* record);
  uint16_t GetBlobSize(TFieldSet field_set, uint16_t number, int32_t& size, const uint8_t* record);
  bool IsBlobOpen(TFieldSet field_set, uint16_t number, const uint8_t* record);
  // Writes every open blob value's first block offset into its field of the table's own set.
  void StoreBlobOffsets(uint8_t* record);
  // Writes the blob file's dirty blocks and header.
  void FlushBlobFile();

  // ---- owned files ----

  TIndexFile& IndexFile() { return index_file_; }
  // nullptr unless the open table has blob fields.
  TBlobFile* BlobFile() { return blob_file_.get(); }

  // ---- TIndexFileOwner, TBlobFileOwner ----

  const std::string& DataFileName() const override { return FileName(); }
  bool Encrypted() const override { return header_.Encrypted(); }
  // Transactions come with the lock layer; until then no exclusive phase exists.
  bool InExclusivePhase() const override { return false; }
  // Lock levels come with the lock layer; until then nothing is taken and nothing is reported
  // (see the class comment).
  bool TakeReadLevel() override { return false; }
  bool TakeReadLockChanged() override { return false; }
  uint16_t LanguageId() const override { return header_.Language(); }
  uint16_t SortId() const override { return header_.Sort(); }
  // Type and stored size of a field of the table's own set.
  bool KeyFieldInfo(uint16_t field_number, TKeyField& field) const override;
  uint32_t PhysicalRecordCount() const override;

 private:
  const std::vector<TFieldDefinition>& FieldSet(TFieldSet field_set) const {
    return field_set == TFieldSet::kWorking ? working_fields_ : table_fields_;
  }
  size_t SetCount(TFieldSet field_set) const {
    return field_set == TFieldSet::kWorking ? fields_in_use_ : table_fields_.size();
  }
  TOpenBlobSize OpenBlobSizes();
  const TFieldDefinition& BlobDefinition(TFieldSet field_set, uint16_t number,
                                         uint16_t& code) const;
  // The handle of the open value the record's blob field holds: 0, or the code for a field that
  // is no blob (or a table without a blob file) or a field that holds no open value.
  uint16_t OpenBlobHandle(TFieldSet field_set, uint16_t number, const uint8_t* record,
                          int32_t& handle) const;
  void UpdateComputedFlag();

  void ResetState();
  void ReadDefinitions();
  void WriteDefinitions();
  void CheckLengthUnderSemaphore();
  void DefineIndexes(const std::vector<TIndexDescriptor>& indexes);
  void OpenCompanions();
  void CheckIndexKeys();
  void CreateBlobFileObject();
  void CloseFiles() noexcept;
  void ConfigureCompanion(TFileHandler& file);
  std::string TableName() const;
  void DeleteFilesQuietly() noexcept;

  TDataHeader header_;
  std::vector<TFieldDefinition> table_fields_;
  std::vector<TFieldDefinition> working_fields_;
  uint16_t fields_in_use_ = 0;
  uint32_t computed_area_size_ = 0;
  bool has_computed_fields_ = false;
  TEngineFormatSettings format_settings_;

  TIndexFile index_file_;
  std::unique_ptr<TBlobFile> blob_file_;

  uint8_t lock_retry_count_ = 15;
  uint16_t lock_wait_time_ = 100;
  bool force_buffer_flush_ = false;
  bool strict_change_detection_ = false;
  bool delete_on_close_ = false;
  TPasswordEvent password_event_;
};

}  // namespace tessera
