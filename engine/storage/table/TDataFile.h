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
//          has blob fields, the .BLB; a write open whose .IDX or .BLB is read-only is refused
//          (11013).  Any error closes everything again.
//   Close  commits what an exclusive, writable handle holds (records, pages, blocks, headers),
//          closes the three files (also when that write failed, whose error is raised
//          afterwards) and deletes them on request.
//
// The header image never carries the in-memory computed-field area: that size is kept beside it,
// so a working set with computed fields cannot make the stored table unreadable.
//
// Records move between the file and the record cache (TRecordCache.h) as whole buffers; the cursor
// is the index file's (TIndexCursor.h), to which this class adds the current record, the keys it
// builds from record buffers (BuildKey) and the operations of the dataset layer.  A write (insert,
// modify, delete) runs in three stages, each under a guard that gives back what it took on every
// exit:
//
//   locate  the write level is taken (and, on a shared handle, the change check run); the slot
//           is chosen, or the current record found still in place (8710 when another writer
//           removed it), and its record lock taken; the buffer is validated and every key is
//           checked: a duplicate key (9729) ends the write here with nothing changed and every
//           lock given back, at the cost of the key searches only;
//   store   keys, "Sys Deleted" key, record bytes, blob values; a failure here (a full file, a
//           failed read or write) discards the caches, re-reads every header and puts the open
//           blob values back as they were, which leaves the handle on what the disk holds: every
//           earlier write was committed, on an exclusive handle by the commit that each write
//           begins with;
//   commit  on a shared handle the dirty records, pages, blocks and headers are written before
//           the write level is given back; an exclusive handle writes them when its next write
//           begins, or at close.  A commit refused before its commit point is abandoned like a
//           store (the commit runs under the store's guard), so the handle never applies it
//           later; past that point it stands (below).
//
// Atomic commits.  Nothing of a write reaches a file before its whole commit is in the commit
// journal beside the table (TCommitJournal.h), so that a writer killed at any point, or a disk
// that fills up, leaves every file as before the commit or as after it:
//
//   state            event (function)                                  next state
//   at rest          BeginStore: every file's writes staged              staging
//   staging          store fails or commit refused: AbandonStore ->      at rest (caches reloaded)
//                    EndStaging(false), Restore
//   staging          shared: CommitWrite -> CommitParts, EndStaging      journalled
//                    (true), WriteCommitted; exclusive: EndStore ->      held (exclusive)
//                    EndStaging(true)
//   held (excl.)     CommitBeforeWrite past the limit, or write-through; journalled
//                    CommitTransaction, FlushFiles, Close ->
//                    WriteCommittedWithPages / WriteCommitted
//   journalled       TCommitJournal::Commit: journal written, index      at rest; refused up to
//                    header marked, files lengthened, overwritten in     the mark (or cut back
//                    place, mark cleared with the index header           when the disk is full):
//                                                                        9218, the held bytes
//                                                                        stay (exclusive: every
//                                                                        write retries first,
//                                                                        commit_failed_) or go
//                                                                        (shared); refused
//                                                                        later: pending
//   pending          past the mark, not applied whole: Commit succeeds;  at rest, after the
//                    the handle's next call (ReadScope, read and write   commit; 9218 at every
//                    levels, CommitBeforeWrite, Close, and Commit        call while it fails
//                    itself) -> CompletePendingCommit -> Recover
//   marked on disk   writer died: RecoverAtOpen (open), or ChangeCheck   at rest, after the
//                    -> RecoverPendingCommit (any level), which takes    commit (a whole
//                    the write level in place of the read level ->       journal) or before it
//                    TCommitJournal::Recover                             (none)
//
// The commit point is the mark: once the journal and the mark are down the commit is committed,
// and a write reports success even when its pieces could not all be written in place; the
// journal completes it.  A read-only handle completes a mark it meets through writable handles
// of its own; where the system refuses it those, it raises 9218 until a writable handle opens the
// table or takes a level on it.
//
// Recovery rule: the four bytes after the index header's change counter are zero at rest; not
// zero, they name the journal of a commit that was interrupted after the journal was whole.
// That journal holds after-images only (of the bytes the commit changed, or whole pieces for
// write-through files), so applying it again (under the write level, or on an exclusive open)
// completes the commit; without a mark the journal is stale and ignored.
// Readers pay nothing for this: the mark comes in the same read as the counter each read level
// checks already.  A shared commit costs two system calls more (the journal, the mark); an
// exclusive handle journals its held commits when they pass TWriteBehindFile::kDefaultLimit,
// on a flush and at close.  The last handle to close deletes the journal.
//
// Several handles (in this process or others) share a table through byte-range locks far past
// the data and through the change counters at offset 0 of each file (offsets in DataFileFormat.h
// and IndexFormat.h; the platform's lock rules in platform/OsFile.h).  Lock levels of one handle,
// each taken into local guards in the fixed order semaphore, index, blob, so that a refusal half
// way gives back what was taken, and released in the reverse order (TDataFileLocks.cpp):
//
//   level        taken by (ranges)                               released by
//   transient    TakeTransientRead: index reader byte, blob      the end of the cursor operation
//   read         reader byte; then ChangeCheck (a read of        (ReadScope), or at once outside one
//                records or pages alone: the blob byte and
//                counter when a block is first read, see below)
//   held read    LockRead: the same bytes (or those the          UnlockRead, Close
//                transient level holds); then ChangeCheck
//   write        TakeWriteLevel (WriteLevel of each write): the  ReleaseWriteLevel: blob region,
//                handle's own reader bytes given back, then the  index region, semaphore; then
//                data semaphore, index region, blob region;      the reader bytes of a held read
//                then ChangeCheck                                level taken again
//   record n     LockRecord: the transient level (ChangeCheck)   UnlockRecord, ModifyRecord with
//                given back before the wait, so that the holder  unlock_after, DeleteRecord,
//                can post; byte kRecordLockBase - n with the     Close (last first)
//                retry settings; then the transient level and
//                ChangeCheck again (the record as its last
//                writer left it)
//   table        LockTable: the record-lock bytes of every        UnlockTable, Close
//                record, then the transient level (ChangeCheck)
//
// The semaphore, regions and reader bytes are tried 8192 times 3 ms apart (10249), record and
// table locks LockRetryCount times LockWaitTime apart (10258, 10241); SetLockTuning shortens the
// former and replaces every wait for tests.  A write also holds its slot's record lock for its
// own duration unless the handle holds it already (or the table lock); a modify or delete takes
// it before the write level, an insert tries its slot's once under the level and waits for it
// without, so that no writer waits for a record lock with the semaphore held.  It goes back with
// the semaphore, in one unlock call over both when the handle holds no other lock between them
// (platform::OsFile::UnlockPair).
// A handle opened exclusively or on a file nobody may write takes none of them.  Counters: every
// commit writes the index header, and the data or blob header when it writes in that file (so
// the data counter moves with every changed row, and the blob counter with every changed block).
// ChangeCheck reads the index counter alone (with the commit mark in the same read): unmoved, it
// proves all three files unchanged; moved, the data header is read again, and the blob counter
// compared when the level has the blob byte.  What moved is dropped: the record cache, index
// pages, blob blocks; the cursor finds its key again.
// Reads from cached data take no lock, so another process's change is seen when the handle next
// reads from disk, on RefreshFromDisk, or at every cursor operation with StrictChangeDetection.
// A transient level taken to read records or index pages leaves the blob reader byte and counter
// until the operation first reads a block (TakeBlobReadLevel), which most reads never do.  No
// other process can tell: every writer takes the index region, which the index reader byte
// excludes, before the blob region, and nothing takes the blob region alone.  When the index
// counter moved meanwhile, the blob cache is dropped at once and the blob header is read again
// before the next value is opened (blob_unchecked_).
// Close releases in the order: commit, held read, table, record locks (last first), transient,
// write.
//
// Transactions are not built: nothing in this system starts one, and one could only end in a
// rollback at close.  There is no StartTransaction, InExclusivePhase always answers false, and the
// record, page and block caches never grow for a transaction.
//
// Filters and their record bit maps, and computed fields, are TDataFileFilters.cpp's and
// TDataFileFields.cpp's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/blob/TBlobFile.h"
#include "engine/storage/core/TCommitJournal.h"
#include "engine/storage/core/TFileHandler.h"
#include "engine/storage/core/TRangeLock.h"
#include "engine/storage/core/TableCipher.h"
#include "engine/storage/index/TIndexFile.h"
#include "engine/storage/table/DataFileFormat.h"
#include "engine/storage/table/FieldAccess.h"
#include "engine/storage/table/TFilter.h"
#include "engine/storage/table/TRecordCache.h"
#include "engine/storage/values/EngineFormats.h"

namespace tessera {

struct TNewTable;

// Which field definitions a field access goes by: the table's own (as stored in the file) or the
// working set that a dataset may lay over them (reordered fields, computed fields).
enum class TFieldSet : uint8_t { kTable, kWorking };

class TDataFile : public TFileHandler,
                  public TIndexFileOwner,
                  public TBlobFileOwner,
                  private TRecordCacheHost {
 public:
  TDataFile();
  ~TDataFile() override;

  // The table name, blanks trimmed, with the extension after the last "/" replaced by ".DAT".
  std::string MakeFileName(std::string_view table_name) override;
  void Open() override;
  void Close() override;
  // Creates the .DAT, then the .IDX and, when the header counts blob fields, the .BLB, all
  // exclusive; the headers are written by the next commit or close.  When another process has
  // one of the existing files open, or one is read-only, nothing is replaced (11013); after any
  // other failure only the files this call made are deleted.
  void CreateNew() override;

  // ---- creation and working definitions (TableCreation.cpp) ----

  // Creates the three files of a new table from `table` and leaves the handle closed.  REQUIRES
  // the closed handle's exclusive flag (10253) and not its read-only flag (11013).  Errors of the
  // checks leave no file; an error once the files exist deletes those that this call made (see
  // CreateNew) and is passed on.
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
  // Deletes the closed table's .DAT, .IDX and, when it exists, .BLB (9220 when refused).  When
  // another process has one of them open, or one is read-only, nothing is deleted.
  void DeleteTableFiles();
  // Raises what replacing the closed table's existing files would meet (the open's error, 11013
  // for a file another handle has open or one marked read-only), changing nothing.
  void CheckTableFilesFree();
  // Renames the closed table's .DAT, .IDX and, when it exists, .BLB to those of `new_table_name`
  // and takes that name (11047 when a rename is refused: a file of the new name is never
  // replaced).  REQUIRES: the new name in the same directory and kind (disk or memory).
  void RenameTableFiles(std::string_view new_table_name);

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
  // The table repair's open (TableRepair.h): the index is opened without reading a page, since
  // its trees are about to be rebuilt.  Ignored while open.
  void SetRepairMode(bool value) {
    if (!IsOpen()) repair_mode_ = value;
  }
  // An inspection's open (the whole-table check): a commit mark it meets is left for the next
  // open to complete, and the handle stays closed (RecoveryAtOpen tells).  Ignored while open.
  void SetLeaveCommitPending(bool value) {
    if (!IsOpen()) leave_commit_pending_ = value;
  }
  // What the last open made of a commit mark it met (kLeft only with SetLeaveCommitPending).
  TRecovery RecoveryAtOpen() const { return recovery_at_open_; }

  // ---- header ----

  // Reads the 127 bytes at 0 and clears the changed flag.
  void ReadHeader();
  // When forced or changed: counter + 1, a new update stamp, the 127 bytes written, flag cleared.
  void WriteHeader(bool force);
  void MarkHeaderChanged() { header_.SetChanged(true); }
  const TDataHeader& Header() const { return header_; }
  // Cuts the file at the data start: no records, counters reset, header changed.
  void EmptyDataFile();
  // Writes what the table holds in memory: dirty records and the data header, then the index's
  // dirty pages and header, then the blob file's dirty blocks and header; with `resize_caches`
  // the caches shrink back to their capacity.  Nothing on a read-only table.
  void CommitTransaction(bool resize_caches, bool force_headers, bool force_index_header);
  // Asks the system to write the three files through, unless read-only or write-through.
  void FlushFiles();

  // ---- locks and change detection (TDataFileLocks.cpp) ----

  // The retry rule of the data semaphore and of the index and blob regions and reader bytes:
  // `region_retries` retries `region_wait_ms` apart.  `wait`, when given, replaces the real wait of
  // every lock level (record and table locks included), so tests can count or shorten it.
  struct TLockTuning {
    int region_retries = kSemaphoreRetries;
    int32_t region_wait_ms = kSemaphoreWaitMs;
    std::function<void(int32_t)> wait;
  };
  void SetLockTuning(TLockTuning tuning);
  // Record `number` (0: the current record), kept in the handle's list; a number already there is
  // not locked twice.  After the byte is obtained the change check runs again, so the record reads
  // as the last writer left it.  The current record is the one the handle stood on when called:
  // when a change check shows it gone (deleted, its slot reused, or moved away by a new key), 8710
  // and nothing stays locked, also when the cursor found another record in its place.
  // 10258 when another handle holds it after LockRetryCount retries, or with no current record.
  // Nothing when the table is locked by this handle, exclusive or opened without locks.
  void LockRecord(uint32_t number = 0);
  // 10242 for a number not in the list, or no current record.
  void UnlockRecord(uint32_t number = 0);
  bool HoldsRecordLock(uint32_t number) const;
  // The record-lock bytes of every record (10241 after the retries), then the change check.
  void LockTable();
  void UnlockTable();  // 10242 when refused
  bool TableLocked() const { return table_lock_.Locked(); }
  // The held read level (10249 when the reader bytes are not obtained), then the change check.
  void LockRead();
  void UnlockRead();
  // The change check under the transient read level; true when another process changed the files.
  bool RefreshFromDisk();

  // ---- field access (FieldAccess.cpp) ----

  uint16_t GetFieldCount() const { return static_cast<uint16_t>(table_fields_.size()); }
  // The table's own definitions, as read.
  const std::vector<TFieldDefinition>& TableFields() const { return table_fields_; }
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

  // ---- records (TDataFileRecords.cpp) ----

  // Stores `buffer` (GetRecordBufferSize bytes) as a new record, with every index key and the
  // open blob values of the table; the buffer's +5 receives the record's sequence number.  11013
  // on a read-only table, 9729 for a duplicate key, 9479 when the file is full, 10258 when the
  // slot is locked by another handle; each leaves the three files and the handle as they were.
  void InsertRecord(uint8_t* buffer);
  // Stores `count` buffers laid one after another (GetRecordBufferSize bytes each) as new records,
  // as that many InsertRecord calls would, each buffer's +5 receiving its sequence number.  An
  // exclusive handle on a table without rows or blob fields stores them in one store stage: the
  // records appended, every index's keys sorted once and its tree built bottom up, no cursor kept
  // on a record; a failure leaves the table empty.  Any other table takes them one by one
  // (TDataFileBulk.cpp).
  void AppendRecords(uint8_t* buffers, size_t count);
  // Overwrites the current record with `buffer` (its sequence number kept); keys that changed
  // move.  8710 when there is no current record or another writer deleted or moved it since it
  // was read; 10258 when another handle holds its record lock.  With `unlock_after` this handle's
  // record lock of it is released after the write.  `update_filters` is the filter layer's.
  void ModifyRecord(uint8_t* buffer, bool unlock_after = true, bool update_filters = true);
  // Deletes the current record: its keys go, its blob values are freed, its slot joins the
  // deleted chain, and this handle's lock of it is given back.  8710 as for ModifyRecord.
  void DeleteRecord(bool update_filters = true);

  // Record `number` through the cache, pinned (the caller unpins); nullptr for number 0.  The
  // next record number makes a new slot (9479 past the limits) without reading.  `retry` comes
  // back true (and no record) when the read lock showed another process's change.  A miss reads
  // ahead `direction` (1 forward, 2 backward) when `sequential`: with `use_index_count` as far as
  // the current index's keys run on in record order, else as far as the file goes, at most
  // PerReadMaximum records.
  TRecord* GetRecord(uint32_t number, bool sequential, int direction, bool use_index_count,
                     bool& retry);
  // The record under the index cursor becomes the current record (none at either end).
  void LoadCurrentRecord(int direction);
  // Writes dirty unpinned records; true when something was written.
  bool FlushDirtyRecords() { return record_cache_.FlushDirty(); }
  // The slot the next insert takes: the deleted chain's head, or a new slot when the chain is
  // empty or the table never reuses slots (its primary order is the record number).
  uint32_t NewRecordSlot() const;
  // The sequence number the next insert hands out: last + 1, after 2147483647 again 1.
  uint32_t NextAutoIncrement() const;
  bool NeverReusesSlots() const { return index_file_.NoPrimaryFields(); }
  // Pin counts of every cached record, index page and blob block set to 0.
  void ReleaseAllPins();
  // 8962 past 64 pins.
  void PinCurrentRecord();
  // The current record's cache entry (nullptr when none); valid until the next cursor operation.
  const TRecord* CurrentRecord() const { return current_; }
  // The SQL engine's result tables: no duplicate-key checks.
  void SetNoKeyCheck(bool value) { no_key_check_ = value; }
  // The SQL engine's result tables: an exclusive handle's writes are not committed one by one
  // before the next write, only when the caches need room and at close.  A failed write then
  // leaves the handle on what the disk held before earlier uncommitted writes: for a result that
  // its statement discards on any error only.
  void SetDeferredCommit(bool value) { deferred_commit_ = value; }
  // The SQL engine's physical scans: read-ahead follows the file, not the index.
  void SetPhysicalScan(bool value) { physical_scan_ = value; }
  // Discards every cache and re-reads the three headers: the handle then holds what the disk
  // holds.
  void Reload();
  TRecordCache& RecordCache() { return record_cache_; }

  // ---- cursor (TDataFileCursor.cpp) ----
  // Moves and reads answer 0, 8705 (before the first record) or 8706 (after the last); a buffer
  // given to a read receives the whole record buffer, or the blank record with its defaults at
  // either end.

  // The current index by slot: 0 primary, 1..the secondary count, 31 "Sys Deleted" (the engine's
  // own), 255 record-number order.  An unknown slot raises 10022 naming it, with the cursor
  // unchanged.  A change cancels the range
  // and stands on the current record again.
  void SetCurrentIndexByNumber(uint8_t slot);
  // By name, ignoring case; empty is the primary index.  An unknown name raises 10022 with the
  // cursor unchanged.
  void SetCurrentIndexByName(std::string_view name);
  std::string GetCurrentIndexName() const { return index_file_.CurrentIndexName(); }
  uint8_t GetCurrentIndexNumber() const { return index_file_.CurrentSlot(); }
  uint8_t GetSecondaryIndexCount() const { return index_file_.SecondaryCount(); }
  TIndexDescriptor GetIndexDescriptor(int slot) const {
    return index_file_.GetIndexDescriptor(slot);
  }
  // 4 in record-number order, else the current index's key length.
  uint16_t GetCurrentKeyLength() const;

  void MoveToBeginning();
  void MoveToEnd();
  // `position` counts from 1 inside the range.
  void GoToPosition(uint32_t position);
  // With `lock`: LockRecord(0) first, so the buffer holds the record as its last writer left it.
  uint16_t GetCurrentRecord(uint8_t* buffer, bool lock = false);
  uint16_t GetNextRecord(uint8_t* buffer);
  uint16_t GetPriorRecord(uint8_t* buffer);
  // Records in the range.
  uint32_t GetRecordCount();
  // 1-based position of the current record in the range; 0 when there is none.
  uint32_t GetCurrentRecordNumber();
  uint32_t GetPhysicalRecordCount() const { return PhysicalRecordCount(); }

  // The key of `record` in index `slot` (kCurrentIndex: the current one), zero-filled to the key
  // length: per key field a null byte and the order-preserving value (zero bytes for NULL),
  // strings upper-cased for a case-insensitive index, a descending field of an ascending index
  // bit-inverted, and the sequence number behind the fields of a secondary index that is not
  // unique.  Record-number order: the record's number.  REQUIRES: `key` holds kMaxKeyLength
  // bytes.
  static constexpr int kCurrentIndex = -1;
  void BuildKey(const uint8_t* record, uint8_t* key, int slot = kCurrentIndex);
  // The same with `descriptor`, GetIndexDescriptor(slot) taken once for many records.
  void BuildKey(const uint8_t* record, uint8_t* key, int slot, const TIndexDescriptor& descriptor);
  // The current key (a bookmark); zeros when there is no current record.
  void GetCurrentKey(uint8_t* key);
  // Stands on `key` (a bookmark), or with `nearest` on the first key not below it.
  bool FindKey(const uint8_t* key, bool nearest);
  // -1, 0, 1 in the current index's order.
  int CompareKey(const uint8_t* a, const uint8_t* b);
  // The seek of the dataset layer: the key is `source` itself (`key_is_buffer`) or built from the
  // record `source`.  With all the key fields on slot 0 or a unique index: a whole-key find;
  // otherwise the first key whose first `field_count` fields (and `partial_length` characters of
  // the next field) equal those of the key.  Loads the record found (or the nearest one) and
  // copies it to `out` when given.  True when found.
  bool SeekRecordKey(bool key_is_buffer, const uint8_t* source, uint8_t* out,
                     uint8_t partial_length, bool nearest, uint8_t field_count);
  // The record whose key (without the sequence suffix) equals `record`'s; nullptr: the current
  // record's.  True when found.
  bool FindRecordByKey(const uint8_t* record, uint8_t* out);
  // Limits the cursor to the keys between `low` and `high` (either nullptr: no limit that side),
  // each a key (`keys_are_buffers`) or a record, compared over its first `*_fields` key fields
  // (0: all).
  void SetRange(bool keys_are_buffers, const uint8_t* low, uint8_t low_fields, const uint8_t* high,
                uint8_t high_fields);
  void ResetRange();
  // Stands on `other`'s current record (same table) in this handle's index: 0 or 8710.
  uint16_t GotoCurrentOf(TDataFile& other);
  // A second, shared handle on the same table standing on the same record with the same index,
  // range and settings; 11013 for an exclusive table.
  std::unique_ptr<TDataFile> Clone();

  // ---- filters (TDataFileFilterOps.cpp, TDataFileFilters.cpp) ----
  // While a filter is active (and always in record-number order) the cursor shows only the
  // visible records: those inside the range, live, and accepted by every active filter, kept as
  // record bit maps (see TDataFileFilters.cpp).  Handles stay valid until dropped or closed.

  // A new, inactive filter from the compiled `buffer` (wins when given), else from `tree` (a
  // checked tree whose columns are numbered in the table's own set; freed with the filter when
  // `owns_tree`), else from `callback`.  10051 when none is given or the buffer is malformed;
  // raises 9482 past 128 filters, 9985 for a field the buffer names that the table lacks, 11949
  // for a buffer's tree that the type checker refuses.  The other operations run as cursor
  // operations do (the read level, the change check) and stand on the current record again.
  static constexpr size_t kMaxFilters = 128;
  uint16_t AddFilter(std::span<const uint8_t> buffer, ExpressionNode* tree, bool owns_tree,
                     bool restrict_to_earlier, void* callback_data, TFilterCallback callback,
                     TFilter** handle);
  // nullptr: every filter.  10050 for a handle that is not this table's.
  uint16_t DropFilter(TFilter* filter);
  uint16_t ActivateFilter(TFilter* filter);
  uint16_t DeactivateFilter(TFilter* filter);
  // A new expression for an active filter (10050 otherwise), rebuilt at once; 10051 as AddFilter.
  // A given tree stays the caller's.
  uint16_t ReplaceFilterExpression(TFilter* filter, std::span<const uint8_t> buffer,
                                   ExpressionNode* tree);
  // Records the filter code fetched to test them (index-served conditions fetch none).
  uint64_t FilterRecordFetches() const { return filter_fetches_; }

  // ---- owned files ----

  TIndexFile& IndexFile() { return index_file_; }
  // nullptr unless the open table has blob fields.
  TBlobFile* BlobFile() { return blob_file_.get(); }

  // ---- TIndexFileOwner, TBlobFileOwner ----

  const std::string& DataFileName() const override { return FileName(); }
  bool Encrypted() const override { return header_.Encrypted(); }
  // No transactions (see the class comment).
  bool InExclusivePhase() const override { return false; }
  // Before a record, page or block is read from disk: the transient read level and the change
  // check (nothing when a level is held).  A change drops the caches but leaves the cursor to
  // find its key itself, as the reader is in the middle of an operation.
  bool TakeReadLevel() override { return TakeTransientRead(false, false); }
  bool TakeReadLockChanged() override { return TakeTransientRead(false, false); }
  bool TakeBlobReadLevel() override { return TakeTransientRead(false, true); }
  uint16_t LanguageId() const override { return header_.Language(); }
  uint16_t SortId() const override { return header_.Sort(); }
  bool InRepairMode() const override { return repair_mode_; }
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
  const TOpenBlobSize& OpenBlobSizes() const { return open_blob_sizes_; }
  const TFieldDefinition& BlobDefinition(TFieldSet field_set, uint16_t number,
                                         uint16_t& code) const;
  // The handle of the open value the record's blob field holds: 0, or the code for a field that
  // is no blob (or a table without a blob file) or a field that holds no open value.
  uint16_t OpenBlobHandle(TFieldSet field_set, uint16_t number, const uint8_t* record,
                          int32_t& handle) const;
  void UpdateComputedFlag();

  // TRecordCacheHost (InExclusivePhase is shared with the other owners).
  uint32_t ReadRecordImages(uint32_t first, uint32_t count, uint8_t* records,
                            bool short_ok = false) override;
  uint32_t GroupReadLimit() const override;
  void WriteRecordImages(uint32_t first, uint8_t* records, uint32_t count) override;
  [[noreturn]] void RaiseRecordError(uint16_t code) const override { Fail(code); }

  // ---- lock levels (TDataFileLocks.cpp) ----
  // One public cursor operation: the transient read level that it took (through a read from
  // disk, or at its start with StrictChangeDetection) ends with the outermost one.
  class ReadScope {
   public:
    explicit ReadScope(TDataFile& table);
    ~ReadScope();
    ReadScope(const ReadScope&) = delete;
    ReadScope& operator=(const ReadScope&) = delete;

   private:
    TDataFile& table_;
  };
  bool WithoutLocks() const { return Exclusive() || ReadOnlyAttribute(); }
  TLockRetry RegionRetry() const;
  TLockRetry RecordRetry() const;
  // True when the change check found a change.  `reposition`: the cursor is put back on its
  // key and the current record reloaded (only between operations).  Without `with_blob` the blob
  // reader byte and counter are left for later; with it, a level held without them takes them.
  bool TakeTransientRead(bool reposition, bool with_blob = true);
  void EndTransientRead() noexcept;
  // The index and (`with_blob`) blob reader bytes into local guards, then into the members; false
  // when refused.
  bool TakeReaderBytes(bool with_blob = true);
  bool ReleaseReaderBytes();
  // False when skipped (exclusive, without locks, held already).
  bool TakeWriteLevel();
  // With `record`, the write's record lock is given back along with the semaphore.
  void ReleaseWriteLevel(TRangeLock* record = nullptr);
  void ReleaseAllLocks() noexcept;
  bool ChangeCheck(bool reposition, bool with_blob = true);
  // The blob counter against the cached header; a move drops the blob cache.  True when moved.
  bool BlobChangeCheck();

  // ---- records and writes (TDataFileRecords.cpp) ----
  class WriteLevel;
  class RecordLock;
  // The slots a write maintains: the primary index (unless it is the record number) and every
  // secondary index.  Held in place: a write asks for them once per record.
  struct TSlotSet {
    std::array<uint8_t, kMaxSecondaryIndexes + 1> slot{};
    size_t count = 0;
    size_t size() const { return count; }
    uint8_t operator[](size_t i) const { return slot[i]; }
    const uint8_t* begin() const { return slot.data(); }
    const uint8_t* end() const { return slot.data() + count; }
  };
  TSlotSet MaintainedSlots() const;
  // Room for `count` keys of kMaxKeyLength, kept between writes so that none allocates it.
  uint8_t* KeyScratch(size_t count);
  static void BuildSysDeletedKey(const uint8_t* record, uint8_t* key);
  // After a failure in the store stage: Reload, and the cursor back on its key.  A reload that
  // fails too is left pending for the next write (ReloadIfPending).
  void Restore() noexcept;
  void ReloadIfPending();
  std::vector<TBlobFile::TOpenBlobState> OpenBlobStates() const;
  // The end of a store stage that failed: the slot given back, Restore, and the open blob values
  // as `states` had them (`handles`: values the write opened for itself, closed).
  void AbandonStore(uint8_t slot, const std::vector<TBlobFile::TOpenBlobState>& states,
                    const std::vector<int32_t>& handles) noexcept;
  // Commit of a write on a shared handle (an exclusive one writes at close).
  void CommitWrite();
  // The commit stage of every write: unpinned, CommitWrite, EndStore.
  void CommitUnderStore();
  // The start of a write on an exclusive handle: what came before is committed, so that a failed
  // store can go back to the files.  Nobody else can read them, so the three files hold that
  // commit in memory (TWriteBehindFile.h) and write it down with later ones.  Index pages are
  // the exception: they stay in the page cache, and the store runs under the cache's page journal
  // instead, which a failed store rolls back (KeepsIndexPages).
  void CommitBeforeWrite();
  // Whether index pages of committed writes may be only in the page cache: an exclusive,
  // writable handle that commits before each write, unless each commit must reach the disk
  // (write-through).  Such a handle holds committed index pages in memory until its held commits
  // go down through the journal (with them), it closes, or the cache needs the room.
  bool KeepsIndexPages() const {
    return Exclusive() && !deferred_commit_ && !ReadOnly() && !force_buffer_flush_;
  }
  // Opens the page journal when KeepsIndexPages; EndStore closes it after a store that
  // succeeded (AbandonStore rolls it back).
  void BeginStore();
  void EndStore();
  // `force_headers` writes the data and blob headers of a shared commit only for a file the
  // commit writes (see ForcesHeader); the index header, forced, goes with every commit.
  void CommitParts(bool resize_caches, bool force_headers, bool force_index_header,
                   bool index_pages);
  // Whether a forced header of `file` is written: always on an exclusive handle or a file
  // without staged writes to tell; on a shared commit only when the commit staged bytes in it.
  bool ForcesHeader(const TFileHandler& file) const;

  // ---- the commit journal (TDataFile.cpp) ----
  // The table's files in the journal's order: .DAT, .IDX (the marked one), .BLB (or nullptr).
  std::array<TFileHandler*, 3> CommitFiles();
  // An exclusive handle holds every write; a shared one writes outside its writes' commits.
  void ConfigureHolding();
  // The writes of a store and its commit are staged (see TWriteBehindFile.h); EndStaging keeps
  // them as held bytes or drops them (and, on a shared handle, whatever else is held).
  void StageWrites();
  void EndStaging(bool keep) noexcept;
  size_t HeldBytes() const;
  // What the files hold goes down through the journal; 9218 leaves it held.
  void WriteCommitted();
  // The exclusive handle's commits since the last one written, index pages included.
  void WriteCommittedWithPages();
  void RecoverAtOpen();
  bool OpenIndexAlone(TFileHandler& index);
  void RecoverUnderSemaphore(TFileHandler& index);
  std::array<TFileHandler*, 3> OwnRecoveryFiles(TFileHandler& data, TFileHandler& index,
                                                TFileHandler& blob);
  void DropJournal() noexcept;
  // A commit mark met by a change check: the journal applied under the write level, which a
  // reader takes for it in place of its read level (and takes back).
  void RecoverPendingCommit();
  // This handle's own commit that passed its mark but was not applied whole is completed before
  // anything else the handle does; 9218 while that fails.
  void CompletePendingCommit();
  // GetRecord; `with_memos`: a miss also reads the first blocks of the blob values of the records
  // it brings in, under the same read level, so that they belong to the same moment.
  TRecord* FetchRecord(uint32_t number, bool sequential, int direction, bool use_index_count,
                       bool& retry, bool with_memos);
  // Records `first` .. `first` + `count` - 1 and the `more_count` numbers at `more`.
  void PrefetchBlobBlocks(uint32_t first, uint32_t count, const uint32_t* more,
                          uint32_t more_count);
  // Records a walk reads ahead of its keys when they do not follow the record order.
  static constexpr uint32_t kWalkReadAhead = 64;
  // `number` was read along with another record and its values' blocks (read_ahead_); forgets it.
  bool TakeReadAhead(uint32_t number);
  // Every block of the record's values is cached (a record this handle changed has its own).
  bool MemosCached(const TRecord& record) const;
  // The same for the stored image of record `number` (a deleted one has none).
  bool MemosCached(const uint8_t* image, uint32_t number) const;
  // The record the write started from (its number and sequence number) still stands under the
  // cursor, live: else 8710.
  void CheckCurrentIsStill(uint32_t number, uint32_t sequence);
  // The current record is record `number` with that sequence number, live.
  bool CurrentIs(uint32_t number, uint32_t sequence) const {
    return current_ != nullptr && current_->number == number && !current_->Deleted() &&
           current_->Sequence() == sequence;
  }
  void TakeBlobValues(uint32_t record_number, uint8_t* record);

  // ---- filters and record bit maps (TDataFileFilters.cpp) ----
  class FilterBuild;
  // Bit-map mode when a filter is active or the order is the record number; the maps rebuilt
  // when they are not valid.  Every cursor operation starts here.
  void UpdateMaps();
  // Another process's change, a new index or range: rebuilt by the next UpdateMaps (a build
  // under way starts again).
  void InvalidateMaps();
  void ReleaseMaps();
  // With `filter`: that filter's map alone (maps valid); else the maps of every active filter.
  void BuildMaps(TFilter* filter);
  // visible = live AND range AND every active filter; its bit count.
  void ComputeVisible();
  TFilter* FindFilter(TFilter* filter) const;
  // The maps after a filter stops or goes: recomputed, or rebuilt when a later filter was
  // restricted to it.
  void ForgetFilter(TFilter* filter);
  // An active filter after `filter` was built from its map (restrict-to-earlier).
  bool RestrictsLater(TFilter* filter) const;
  void AfterFilterChange();
  void CloneFiltersInto(TDataFile& clone) const;
  // After a write of record `number` (`record` its buffer; nullptr for a delete).
  void UpdateMapsFor(uint32_t number, const uint8_t* record, bool update_filters);
  // Evaluates the working set's computed fields of `record`.
  void ComputeFields(uint8_t* record);
  // A record entering use: its computed fields made current (unpinned again if that raises).
  TRecord* Computed(TRecord* record);
  // The index analysis of a filter's tree (verdicts stored in its nodes): its evaluation class.
  uint8_t AnalyzeFilter(ExpressionNode& tree);
  // The typed tree of a compiled buffer; nullptr when malformed.
  ExpressionNodePtr CheckedTree(std::span<const uint8_t> buffer);

  // ---- cursor (TDataFileCursor.cpp) ----
  // The cursor back onto the current record (or the first record), which is loaded forward.
  void Resync();
  // Resync after an insert or modify, whose record stays the current one: on a unique index
  // without range or filter maps its key names the entry, which the cursor finds when next used.
  void ResyncWritten();
  // LoadCurrentRecord after a step of a walk, which may read the next keys' records ahead.
  void LoadWalkedRecord(int direction);
  void SelectSlot(uint8_t slot);
  uint8_t KeyFieldCount(int slot) const;
  // Bytes of `fields` key fields (and `partial` characters of the next) of `slot`'s key, at most
  // its key length.
  size_t PrefixLength(int slot, uint8_t fields, uint8_t partial) const;
  // The key of a seek or a bound: built from a record or copied, the part past `prefix` filled
  // with the lowest (`high` false) or highest value of the index's order.
  void PrepareKey(bool is_buffer, const uint8_t* source, size_t prefix, bool high, uint8_t* key);
  uint16_t EndCode(uint8_t* buffer, uint16_t code);
  // Stands on the first key whose first `prefix` bytes are not below `key`'s (nearest); true
  // when its prefix equals `key`'s byte for byte.  REQUIRES: key order, `key` filled past `prefix`.
  bool SeekPrefix(const uint8_t* key, size_t prefix);
  // SeekPrefix where `prefix` cuts the string key field whose null byte is at `field` in a
  // collated order.
  // The cursor stands on a key whose first `prefix` bytes are `key`'s (NULL values in either
  // form).
  bool CurrentKeyHasPrefix(const uint8_t* key, size_t prefix);
  bool SeekCollatedPrefix(const uint8_t* key, size_t prefix, size_t field, uint16_t size,
                          bool inverted);
  // The value of a string key field (`part` at its null byte, `size` its stored size, its bytes
  // inverted when `inverted`) up to its terminator; false when blank.
  static bool KeyFieldText(const uint8_t* part, uint16_t size, bool inverted, std::string& text);
  void ApplyRangeKeys();

  void ResetState();
  void ReadDefinitions();
  void WriteDefinitions();
  void OpenUnderSemaphore();
  void DefineIndexes(const std::vector<TIndexDescriptor>& indexes);
  void OpenCompanions();
  void CheckCompanionWritable(const TFileHandler& companion) const;
  void CheckIndexKeys();
  void CreateBlobFileObject();
  void CloseFiles() noexcept;
  void ConfigureCompanion(TFileHandler& file);
  std::string TableName() const;
  // The table's file names in the order they are created and deleted: .DAT, .IDX, .BLB.
  std::vector<std::string> TableFileNames(bool with_blob);
  // Deletes the first `count` files of that order, which a creation made; errors are dropped.
  void DeleteNewFiles(size_t count) noexcept;

  TDataHeader header_;
  std::vector<TFieldDefinition> table_fields_;
  std::vector<TFieldDefinition> working_fields_;
  uint16_t fields_in_use_ = 0;
  uint32_t computed_area_size_ = 0;
  bool has_computed_fields_ = false;
  TEngineFormatSettings format_settings_;

  TIndexFile index_file_;
  std::unique_ptr<TBlobFile> blob_file_;
  // The sizes of the open blob values, made once: a function object built for every field value
  // read or written costs more than the value's copy.
  TOpenBlobSize open_blob_sizes_;
  TCommitJournal journal_;
  // An exclusive handle's held commits could not be written: every write tries again first.
  bool commit_failed_ = false;
  // Each file's length as its headers had it when the writes began to be staged (-1: unknown).
  std::array<int64_t, 3> committed_lengths_{-1, -1, -1};

  uint8_t lock_retry_count_ = 15;
  uint16_t lock_wait_time_ = 100;
  bool force_buffer_flush_ = false;
  bool strict_change_detection_ = false;
  bool delete_on_close_ = false;
  bool repair_mode_ = false;
  bool leave_commit_pending_ = false;
  TRecovery recovery_at_open_ = TRecovery::kNone;
  std::vector<uint8_t> key_scratch_;
  TPasswordEvent password_event_;

  TRecordCache record_cache_{*this};
  TRecord* current_ = nullptr;  // pinned while set
  bool no_key_check_ = false;
  bool deferred_commit_ = false;
  bool physical_scan_ = false;
  // Filters and their maps; the visible map is the index cursor's.
  std::vector<std::unique_ptr<TFilter>> filters_;
  std::vector<uint8_t> range_map_;  // empty without a range
  std::vector<uint8_t> live_map_;
  bool maps_valid_ = false;
  bool building_maps_ = false;
  bool maps_moved_ = false;  // a change seen while a build ran
  uint64_t filter_fetches_ = 0;
  bool reload_pending_ = false;
  // A blob value was loaded from the file since the current record was last loaded: the caller
  // reads them, and the next record read from disk brings its values' first blocks along.
  bool blob_loaded_ = false;
  std::vector<uint32_t> prefetch_offsets_;  // PrefetchBlobBlocks', kept between reads
  // The records read with the last record whose values' blocks came along, not yet reached.
  std::vector<uint32_t> read_ahead_;
  bool walking_ = false;  // GetNextRecord or GetPriorRecord is loading the record it moved to
  // The range as set (keys and significant lengths), for Clone.
  struct RangeKey {
    bool present = false;
    size_t length = 0;
    std::array<uint8_t, kMaxKeyLength> key{};
  };
  RangeKey range_low_;
  RangeKey range_high_;

  // Lock state (TDataFileLocks.cpp); the blob file keeps its own region and reader byte.
  struct HeldRecord {
    uint32_t number = 0;
    TRangeLock lock;
  };
  TLockTuning lock_tuning_;
  std::vector<HeldRecord> record_locks_;  // in the order taken
  TRangeLock table_lock_;
  TRangeLock semaphore_;
  TRangeLock index_write_;
  TRangeLock index_read_;  // the reader byte of the transient or held read level
  bool held_read_ = false;
  bool transient_read_ = false;
  // A change check passed over the blob counter while the other files moved: the blob header is
  // read again before a value is opened.
  bool blob_unchecked_ = false;
  bool write_level_ = false;
  int scope_depth_ = 0;
};

}  // namespace tessera
