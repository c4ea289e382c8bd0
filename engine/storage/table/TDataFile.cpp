#include "engine/storage/table/TDataFile.h"

#include <algorithm>
#include <exception>
#include <memory>

#include "classlib/rtl/Blanks.h"
#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/ShortString.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/core/FilePaths.h"
#include "engine/storage/core/TRangeLock.h"
#include "engine/storage/core/TWriteBehindFile.h"
#include "engine/storage/values/TextCompare.h"

namespace tessera {
namespace {

constexpr uint32_t kMaxPerRead = 32767;
constexpr uint32_t kCacheBytes = 131070;
constexpr uint32_t kMaxCacheEntries = 65535;

// The header fields a second read under the semaphore must find unchanged.
bool SameStructure(const TDataHeader& a, const TDataHeader& b) {
  return a.Version() == b.Version() && a.StoredBlobBlockSize() == b.StoredBlobBlockSize() &&
         a.RecordSize() == b.RecordSize() && a.FieldCount() == b.FieldCount() &&
         a.BlobFieldCount() == b.BlobFieldCount() && a.Encrypted() == b.Encrypted() &&
         a.Language() == b.Language() && a.Sort() == b.Sort() &&
         a.StoredComputedAreaSize() == b.StoredComputedAreaSize();
}

// Holds a table's existing files open, exclusive and writable, from before a create or delete
// changes the first of them until it comes to each in turn.  A create or delete that another
// process (or a read-only file) would refuse part-way is so refused before anything has changed,
// and nobody opens a claimed file in between.  Missing files are not claimed.
class TTableFileClaim {
 public:
  // Claims the files in the order given; the first that cannot be claimed raises `refusal` with
  // its name (0: the open's own error, which is what replacing the file would have met).
  TTableFileClaim(const std::vector<std::string>& names, bool in_memory, uint16_t refusal) {
    for (const std::string& name : names) {
      auto file = std::make_unique<TFileHandler>();
      file->SetInMemory(in_memory);
      file->SetExclusive(true);
      file->SetFileName(name);
      if (file->Exists()) {
        try {
          file->Open();
        } catch (const ETesseraEngineError&) {
          if (refusal == 0) throw;
          RaiseEngineError(refusal, cl::ToShort(name));
        }
        // Also where the system would let a superuser write it: the engine never replaces or
        // deletes a file marked read-only.
        if (file->ReadOnlyAttribute()) {
          RaiseEngineError(refusal != 0 ? refusal : kErrAccessDenied, cl::ToShort(name));
        }
      }
      files_.push_back(std::move(file));
    }
  }

  // Gives up the claim on the file at `position` in the order, just before it is changed.
  void Release(size_t position) { files_[position]->Close(); }

 private:
  std::vector<std::unique_ptr<TFileHandler>> files_;
};

}  // namespace

// An exclusive handle commits before every write (CommitBeforeWrite); its three files may hold
// those commits in memory, and the close writes them down before closing.
TDataFile::TDataFile() : format_settings_(FixedFormatSettings()), index_file_(*this) {
  open_blob_sizes_ = [this](int32_t handle, int32_t& size) {
    return blob_file_ != nullptr && blob_file_->GetBlobSize(handle, size) == 0;
  };
  SetHoldWrites(true);
}

TDataFile::~TDataFile() {
  try {
    Close();
  } catch (...) {
    // Destructors never throw; a failed final write is lost with the handle.
  }
}

std::string TDataFile::MakeFileName(std::string_view table_name) {
  return RemoveFileExtension(cl::TrimBlanks(table_name)) + ".DAT";
}

std::string TDataFile::TableName() const { return RemoveFileExtension(FileName()); }

void TDataFile::SetForceBufferFlush(bool value) {
  if (IsOpen()) return;
  force_buffer_flush_ = value;
  SetWriteThrough(value);
}

void TDataFile::SetStrictChangeDetection(bool value) {
  if (!IsOpen()) strict_change_detection_ = value;
}

void TDataFile::SetDeleteOnClose(bool value) {
  if (IsOpen()) Fail(kErrFileInUse);
  delete_on_close_ = value;
}

void TDataFile::ResetState() {
  header_.Clear();
  table_fields_.clear();
  table_fields_.shrink_to_fit();
  working_fields_.clear();
  working_fields_.shrink_to_fit();
  fields_in_use_ = 0;
  computed_area_size_ = 0;
  has_computed_fields_ = false;
  format_settings_ = FixedFormatSettings();
  blob_unchecked_ = false;
  blob_loaded_ = false;
}

// ---- header and definitions ---------------------------------------------------------------------

void TDataFile::ReadHeader() {
  ReadAt(0, header_.Bytes().data(), static_cast<int32_t>(kDataHeaderSize));
  header_.SetChanged(false);
}

void TDataFile::WriteHeader(bool force) {
  if (!force && !header_.Changed()) return;
  header_.SetChangeCounter(header_.ChangeCounter() + 1);
  header_.SetUpdateStamp(cl::Now() - kUpdateStampBias);
  WriteAt(0, header_.Bytes().data(), static_cast<int32_t>(kDataHeaderSize));
  header_.SetChanged(false);
}

void TDataFile::ReadDefinitions() {
  const size_t count = header_.FieldCount();
  std::vector<uint8_t> block(count * kFieldDefinitionSize);
  if (!block.empty()) ReadAt(kDataHeaderSize, block.data(), static_cast<int32_t>(block.size()));
  if (header_.Encrypted()) DecipherBuffer(block.data(), block.size(), kDataKeyA, kDataKeyB);
  std::vector<TFieldDefinition> fields;
  fields.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    fields.push_back(DecodeFieldDefinition(block.data() + i * kFieldDefinitionSize));
  }
  DeriveStoredSizes(fields);
  if (!CheckFieldStructure(fields, header_)) Fail(kErrHeaderCorrupt);
  table_fields_ = std::move(fields);
}

void TDataFile::WriteDefinitions() {
  std::vector<uint8_t> block(table_fields_.size() * kFieldDefinitionSize);
  for (size_t i = 0; i < table_fields_.size(); ++i) {
    EncodeFieldDefinition(table_fields_[i], block.data() + i * kFieldDefinitionSize);
  }
  if (header_.Encrypted()) EncipherBuffer(block.data(), block.size(), kDataKeyA, kDataKeyB);
  if (!block.empty()) WriteAt(kDataHeaderSize, block.data(), static_cast<int32_t>(block.size()));
}

// Another workstation may be between writing its records and writing its header; its length and
// header then disagree for a moment, and its index header carries its commit mark.  Writers hold
// the data semaphore for the whole write, so the length is compared with a header read under it
// and the companions' headers are read under it: a handle that cached a marked index header would
// see no change when the writer died, and write on top of its half-applied commit.
void TDataFile::OpenUnderSemaphore() {
  const bool lock = !Exclusive() && !ReadOnlyAttribute();
  TRangeLock semaphore;
  if (lock) {
    semaphore = TRangeLock(*this, {kDataSemaphoreOffset, 1}, RegionRetry());
    if (!semaphore.Locked()) Fail(kErrLockFailure);
  }
  // On a failure below the guard gives the semaphore back; only a refused release of a check
  // that passed is reported.
  if (lock) {
    const TDataHeader first = header_;
    // A writer killed after its mark, since RecoverAtOpen looked, left length and header apart.
    if (!InMemory()) {
      TFileHandler index;
      if (OpenIndexAlone(index)) RecoverUnderSemaphore(index);
      if (recovery_at_open_ == TRecovery::kLeft) return;
    }
    ReadHeader();
    if (!SameStructure(first, header_)) Fail(kErrHeaderCorrupt);
  }
  if (!CheckFileLength(header_, Size())) Fail(kErrHeaderCorrupt);
  record_cache_.Configure(header_.DataStart(), header_.RecordSize(), GetRecordBufferSize(),
                          RecordCacheCapacity());
  OpenCompanions();
  if (!semaphore.Unlock()) Fail(kErrLockFailure);
}

// ---- companions ---------------------------------------------------------------------------------

void TDataFile::ConfigureCompanion(TFileHandler& file) {
  // Faults given to the data file before it opened are the disk's: its companions share them.
  if (InjectedFaults() && !file.InjectedFaults()) file.InjectFaults(InjectedFaults());
  file.SetInMemory(InMemory());
  file.SetExclusive(Exclusive());
  file.SetReadOnly(ReadOnly());
  file.SetWriteThrough(force_buffer_flush_);
  file.SetHoldWrites(true);
  file.SetFileName(TableName());
}

void TDataFile::CreateBlobFileObject() {
  blob_file_ = std::make_unique<TBlobFile>(*this, header_.BlobBlockSize());
  blob_file_->SetLockRetry(RegionRetry());
  ConfigureCompanion(*blob_file_);
}

void TDataFile::OpenCompanions() {
  ConfigureCompanion(index_file_);
  index_file_.Open();
  CheckCompanionWritable(index_file_);
  CheckIndexKeys();
  if (header_.BlobFieldCount() > 0) {
    CreateBlobFileObject();
    blob_file_->Open();
    CheckCompanionWritable(*blob_file_);
  }
}

// A companion found read-only beside a .DAT opened for writing would accept key and blob changes
// and lose them at commit.  The .DAT is open by then, so the write open is refused rather than
// turned read-only half-way; a read-only open of the table still works.
void TDataFile::CheckCompanionWritable(const TFileHandler& companion) const {
  if (!ReadOnly() && companion.ReadOnly()) {
    RaiseEngineError(kErrAccessDenied, cl::ToShort(companion.FileName()));
  }
}

// Keys are built from the record's fields: an index whose key length is not what its fields
// make (or that names a field the table lacks) would have its keys built to another length than
// those in its tree.
void TDataFile::CheckIndexKeys() {
  for (int slot = 0; slot <= index_file_.SecondaryCount(); ++slot) {
    const TIndexDescriptor d = index_file_.GetIndexDescriptor(slot);
    if (d.key_length == 0) continue;  // no primary key fields (a secondary slot in use has one)
    size_t length = HasKeySuffix(slot, d.unique != 0) ? kKeySuffixSize : 0;
    for (int i = 0; i < d.field_count; ++i) {
      TKeyField field;
      if (!KeyFieldInfo(d.field_numbers[i], field)) Fail(kErrIndexPageCorrupt);
      length += field.size + 1u;
    }
    if (d.field_count == 0 || length != d.key_length) Fail(kErrIndexPageCorrupt);
  }
}

// Closing writes nothing (every change was committed or dropped before), so the only failure
// left is giving a descriptor back; the companions are dropped either way, and with them their
// ranges, so nothing is lost by going on to the next file.
void TDataFile::CloseFiles() noexcept {
  if (blob_file_) {
    try {
      blob_file_->Close();
    } catch (...) {
    }
    blob_file_.reset();
  }
  try {
    index_file_.Close();
  } catch (...) {
  }
  TFileHandler::Close();
}

// ---- open, create, close ------------------------------------------------------------------------

void TDataFile::Open() {
  if (IsOpen()) return;
  ResetState();
  TFileHandler::Open();
  try {
    ReadHeader();
    switch (CheckDataHeader(header_)) {
      case TDataFileFault::kVersion:
        Fail(kErrWrongVersion);
      case TDataFileFault::kCorrupt:
        Fail(kErrHeaderCorrupt);
      case TDataFileFault::kNone:
        break;
    }
    RecoverAtOpen();
    if (recovery_at_open_ == TRecovery::kLeft) {
      CloseFiles();
      ResetState();
      return;
    }
    CheckLanguageInstalled(header_.Language(), header_.Sort(), FileName());
    format_settings_ = BuildEngineFormatSettings(header_.Language(), header_.Sort());
    if (header_.Encrypted()) {
      TFileSession& session = *GetEngineSession();
      const std::string password = header_.Password();
      // An event that answers "supplied" without changing anything would be asked for ever.
      const TPasswordEvent ask = [&]() {
        if (!password_event_) return false;
        const int before = session.Passwords().Count();
        if (!password_event_()) return false;
        return session.HasPassword(password) || session.Passwords().Count() != before;
      };
      CheckTablePassword(session, header_.StoredPassword(), FileName(), ask);
    }
    ReadDefinitions();
    working_fields_ = table_fields_;
    fields_in_use_ = static_cast<uint16_t>(working_fields_.size());
    computed_area_size_ = header_.StoredComputedAreaSize();
    UpdateComputedFlag();
    OpenUnderSemaphore();
    if (recovery_at_open_ == TRecovery::kLeft) {
      CloseFiles();
      ResetState();
      return;
    }
  } catch (...) {
    CloseFiles();
    ResetState();
    throw;
  }
  ConfigureHolding();
}

// A table whose index header carries the commit mark was left by a writer killed in its commit:
// the journal brings it forward (or the mark goes) before anything is read.  The files' state
// is not trusted yet, so the index (and blob) file are opened here on their own.
void TDataFile::RecoverAtOpen() {
  recovery_at_open_ = TRecovery::kNone;
  if (InMemory()) return;
  journal_.Configure(TableName(), force_buffer_flush_, InjectedFaults());
  TFileHandler index;
  if (!OpenIndexAlone(index)) return;  // the open of the companions reports it
  if (TCommitJournal::StoredMark(index, header_.Encrypted()) == 0) return;
  TRangeLock semaphore;
  if (!Exclusive()) {
    semaphore = TRangeLock(*this, {kDataSemaphoreOffset, 1}, RegionRetry());
    if (!semaphore.Locked()) Fail(kErrLockFailure);
  }
  RecoverUnderSemaphore(index);
}

// The index file on a handle of its own, for a look at the commit mark before the companions
// open; false when there is none.
bool TDataFile::OpenIndexAlone(TFileHandler& index) {
  index.SetExclusive(Exclusive());
  index.SetFileName(index_file_.MakeFileName(TableName()));
  if (!index.Exists()) return false;
  index.Open();
  return true;
}

// With the data semaphore held: a writer may have been killed after its mark since the mark was
// last looked at.  Writers hold the semaphore through their whole commit, so a mark seen under it
// was left by one that died; only then is the index region taken (it waits for every reader).
void TDataFile::RecoverUnderSemaphore(TFileHandler& index) {
  if (TCommitJournal::StoredMark(index, header_.Encrypted()) == 0) return;
  if (leave_commit_pending_) {
    recovery_at_open_ = TRecovery::kLeft;
    return;
  }
  TRangeLock region;
  if (!Exclusive()) {
    region = TRangeLock(index, {kIndexWriteRegionOffset, kIndexWriteRegionLength}, RegionRetry());
    if (!region.Locked()) Fail(kErrLockFailure);
  }
  TFileHandler data;
  TFileHandler blob;
  recovery_at_open_ = journal_.Recover(OwnRecoveryFiles(data, index, blob), 1, header_.Encrypted());
  ReadHeader();
}

// A handle opened for reading recovers through a writable handle of its own; the index and blob
// handles are opened here unless `index` is open already.
std::array<TFileHandler*, 3> TDataFile::OwnRecoveryFiles(TFileHandler& data, TFileHandler& index,
                                                         TFileHandler& blob) {
  TFileHandler* data_file = this;
  if (ReadOnly()) {
    data.SetFileName(FileName());
    data.Open();
    data_file = &data;
  }
  if (!index.IsOpen()) {
    index.SetFileName(index_file_.MakeFileName(TableName()));
    index.Open();
  }
  TFileHandler* blob_file = nullptr;
  if (header_.BlobFieldCount() > 0) {
    blob.SetExclusive(Exclusive());
    blob.SetFileName(TBlobFile(*this, 0).MakeFileName(TableName()));
    if (blob.Exists()) {
      blob.Open();
      blob_file = &blob;
    }
  }
  return {data_file, &index, blob_file};
}

void TDataFile::CreateNew() {
  const bool with_blob = header_.BlobFieldCount() > 0;
  if (!InMemory()) journal_.Configure(TableName(), force_buffer_flush_, InjectedFaults());
  TTableFileClaim claim(TableFileNames(with_blob), InMemory(), 0);
  size_t created = 0;
  try {
    claim.Release(0);
    TFileHandler::CreateNew();
    ++created;
    ConfigureCompanion(index_file_);
    claim.Release(1);
    index_file_.CreateNew();
    ++created;
    if (with_blob) {
      CreateBlobFileObject();
      claim.Release(2);
      blob_file_->CreateNew();
    }
  } catch (...) {
    CloseFiles();
    DeleteNewFiles(created);
    throw;
  }
  ConfigureHolding();
}

void TDataFile::RecoverPendingCommit() {
  TFileHandler data;
  TFileHandler index;
  TFileHandler blob;
  const std::array<TFileHandler*, 3> files =
      ReadOnly() ? OwnRecoveryFiles(data, index, blob) : CommitFiles();
  if (WithoutLocks() || write_level_) {
    journal_.Recover(files, 1, header_.Encrypted());
    return;
  }
  // The reader bytes lie inside the index write region: given back for the wait, taken again.
  const bool own_read = held_read_ || transient_read_;
  const bool with_blob = blob_file_ != nullptr && blob_file_->ReadLockHeld();
  if (own_read && !ReleaseReaderBytes()) Fail(kErrLockFailure);
  std::exception_ptr error;
  {
    TRangeLock semaphore(*this, {kDataSemaphoreOffset, 1}, RegionRetry());
    TRangeLock region;
    if (semaphore.Locked()) {
      region = TRangeLock(index_file_, {kIndexWriteRegionOffset, kIndexWriteRegionLength},
                          RegionRetry());
    }
    try {
      if (!region.Locked()) Fail(kErrLockFailure);
      journal_.Recover(files, 1, header_.Encrypted());
    } catch (...) {
      error = std::current_exception();
    }
  }
  if (own_read && !TakeReaderBytes(with_blob)) {
    held_read_ = transient_read_ = false;
    Fail(kErrLockFailure);
  }
  if (error) std::rethrow_exception(error);
}

void TDataFile::CompletePendingCommit() {
  if (journal_.Pending() && IsOpen()) RecoverPendingCommit();
}

// The last handle to close takes the journal away (the delete is refused while another handle has
// it open), unless a commit it describes is still to be completed.  Under the data semaphore, so
// that no writer is between creating and opening it.
void TDataFile::DropJournal() noexcept {
  try {
    journal_.Close();
    if (InMemory() || ReadOnly() || !index_file_.IsOpen()) return;
    TRangeLock semaphore;
    if (!Exclusive()) {
      semaphore = TRangeLock(*this, {kDataSemaphoreOffset, 1}, TLockRetry());
      if (!semaphore.Locked()) return;
    }
    if (TCommitJournal::StoredMark(index_file_, header_.Encrypted()) == 0) journal_.DeleteFile();
  } catch (...) {
    // The journal stays; without a mark nobody reads it.
  }
}

void TDataFile::WriteCommittedWithPages() {
  if (KeepsIndexPages()) index_file_.WriteDirtyPages();
  WriteCommitted();
}

void TDataFile::ConfigureHolding() {
  SetHolding(Exclusive());
  index_file_.SetHolding(Exclusive());
  if (blob_file_ != nullptr) blob_file_->SetHolding(Exclusive());
}

std::array<TFileHandler*, 3> TDataFile::CommitFiles() {
  return {this, &index_file_,
          blob_file_ != nullptr && blob_file_->IsOpen() ? blob_file_.get() : nullptr};
}

void TDataFile::StageWrites() {
  // What the headers reach now, on a shared handle, is what the files hold: no file is asked.
  committed_lengths_ = {-1, -1, -1};
  if (!Exclusive()) {
    committed_lengths_[0] = static_cast<int64_t>(header_.DataStart()) +
                            int64_t{header_.RecordSize()} * PhysicalRecordCount();
    committed_lengths_[1] = index_file_.EndOffset();
    if (blob_file_ != nullptr && blob_file_->IsOpen()) {
      committed_lengths_[2] = blob_file_->EndOffset();
    }
  }
  for (TFileHandler* file : CommitFiles()) {
    // The index pages of an exclusive handle's store are kept by the page journal instead: what
    // leaves the page cache meanwhile belongs to earlier commits.
    if (file == &index_file_ && KeepsIndexPages()) continue;
    if (file != nullptr && file->WriteBehind() != nullptr) file->WriteBehind()->SetStaging(true);
  }
}

void TDataFile::EndStaging(bool keep) noexcept {
  for (TFileHandler* file : CommitFiles()) {
    TWriteBehindFile* layer = file != nullptr ? file->WriteBehind() : nullptr;
    if (layer == nullptr) continue;
    layer->SetStaging(false);
    if (keep) {
      layer->CommitStaged();
    } else {
      layer->DiscardStaged();
      // A shared handle holds nothing between its commits.
      if (!Exclusive()) layer->DiscardHeld();
    }
  }
}

size_t TDataFile::HeldBytes() const {
  size_t total = 0;
  for (const TFileHandler* file :
       {static_cast<const TFileHandler*>(this), static_cast<const TFileHandler*>(&index_file_),
        static_cast<const TFileHandler*>(blob_file_.get())}) {
    if (file != nullptr && file->WriteBehind() != nullptr)
      total += file->WriteBehind()->HeldBytes();
  }
  return total;
}

void TDataFile::WriteCommitted() {
  if (!index_file_.IsOpen()) return;
  const std::array<TFileHandler*, 3> files = CommitFiles();
  try {
    journal_.Commit(files, committed_lengths_, 1, header_.Encrypted());
  } catch (...) {
    if (Exclusive()) commit_failed_ = true;
    throw;
  }
  commit_failed_ = false;
  // Committed but not applied whole: the journal has it.  An exclusive handle keeps reading the
  // held bytes meanwhile; a shared one holds nothing between commits (another process may
  // complete this one and write over it before this handle writes again).
  if (journal_.Pending() && !Exclusive()) {
    for (TFileHandler* file : files) {
      if (file != nullptr) file->DiscardHeld();
    }
  }
}

void TDataFile::Close() {
  if (!IsOpen()) return;
  // Whatever the final write does, the files are closed: a handle left half open would keep its
  // locks and share modes until the process ends.
  std::exception_ptr error;
  // A table deleted on close and opened exclusively is seen by no other handle: what it has not
  // written yet is dropped with it instead of being written just before the deletion.
  const bool discard = delete_on_close_ && Exclusive();
  try {
    ReleaseAllPins();
    if (!discard) CompletePendingCommit();
    if (discard) {
      DiscardHeld();
      if (index_file_.IsOpen()) index_file_.DiscardHeld();
      if (blob_file_ && blob_file_->IsOpen()) blob_file_->DiscardHeld();
    } else if (Exclusive() && !ReadOnly()) {
      CommitTransaction(true, false, false);
    }
  } catch (...) {
    error = std::current_exception();
  }
  // What could not be written stays unwritten: the files keep their last commit.
  for (TFileHandler* file : CommitFiles()) {
    if (file != nullptr) file->DiscardHeld();
  }
  ReleaseAllLocks();
  current_ = nullptr;
  record_cache_.Drop();
  filters_.clear();
  ReleaseMaps();
  DropJournal();
  CloseFiles();
  ResetState();
  if (delete_on_close_) {
    try {
      DeleteTableFiles();
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  password_event_ = nullptr;
  if (error) std::rethrow_exception(error);
}

void TDataFile::CommitTransaction(bool resize_caches, bool force_headers, bool force_index_header) {
  if (ReadOnly()) return;
  StageWrites();
  try {
    CommitParts(resize_caches, force_headers, force_index_header, true);
  } catch (...) {
    EndStaging(false);
    throw;
  }
  EndStaging(true);
  WriteCommitted();
}

// Other workstations learn of every commit from the index counter, which each commit moves; the
// data counter tells them (and the application's polls) that rows changed, the blob counter that
// cached blocks are stale.  A file the commit leaves alone keeps its header and its counter: the
// write would change nothing any reader looks at.
bool TDataFile::ForcesHeader(const TFileHandler& file) const {
  const TWriteBehindFile* layer = file.WriteBehind();
  return Exclusive() || layer == nullptr || !layer->Staging() || layer->HasStaged();
}

void TDataFile::CommitParts(bool resize_caches, bool force_headers, bool force_index_header,
                            bool index_pages) {
  if (ReadOnly()) return;
  record_cache_.FlushDirty();
  WriteHeader(force_headers && ForcesHeader(*this));
  if (resize_caches) record_cache_.Shrink();
  if (index_file_.IsOpen()) {
    if (index_pages) index_file_.WriteDirtyPages();
    index_file_.WriteHeader(force_index_header);
  }
  if (blob_file_ && blob_file_->IsOpen()) {
    blob_file_->FlushDirtyBlocks();
    blob_file_->WriteHeader(force_headers && ForcesHeader(*blob_file_));
    if (resize_caches) blob_file_->ShrinkCache();
  }
}

// ---- emptying and deleting ----------------------------------------------------------------------

void TDataFile::EmptyDataFile() {
  TruncateAt(header_.DataStart());
  header_.SetChangeCounter(0);
  header_.SetDeletedHead(0);
  header_.SetNextRecord(1);
  header_.SetLastAutoIncrement(0);
  MarkHeaderChanged();
}

void TDataFile::EmptyTable() {
  if (!IsOpen() || !Exclusive()) Fail(kErrNeedExclusive);
  if (ReadOnly()) Fail(kErrAccessDenied);
  WriteCommitted();  // the files are cut next: what they hold first
  current_ = nullptr;
  record_cache_.Drop();
  EmptyDataFile();
  index_file_.EmptyIndexes();
  InvalidateMaps();
  if (blob_file_) {
    blob_file_->EmptyFile();
    blob_file_->EmptyCache();
  }
}

std::vector<std::string> TDataFile::TableFileNames(bool with_blob) {
  std::vector<std::string> names = {FileName(), index_file_.MakeFileName(TableName())};
  if (with_blob) names.push_back(TBlobFile(*this, 0).MakeFileName(TableName()));
  return names;
}

void TDataFile::DeleteTableFiles() {
  if (IsOpen()) Fail(kErrFileInUse);
  const std::vector<std::string> names = TableFileNames(true);
  TTableFileClaim claim(names, InMemory(), kErrCannotDelete);
  // A missing .DAT or .IDX is reported, but the other files still go: that is how the remains of
  // a broken table are cleared.  A missing .BLB is no error (tables without blob fields have none).
  std::exception_ptr error;
  for (size_t i = 0; i < names.size(); ++i) {
    claim.Release(i);
    TFileHandler file;
    file.SetInMemory(InMemory());
    file.SetFileName(names[i]);
    if (i == 2 && !file.Exists()) continue;
    try {
      file.Delete();
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  if (!InMemory()) {
    TCommitJournal journal;
    journal.Configure(TableName(), false, nullptr);
    journal.DeleteFile();
  }
  if (error) std::rethrow_exception(error);
}

void TDataFile::CheckTableFilesFree() {
  if (IsOpen()) Fail(kErrFileInUse);
  TTableFileClaim claim(TableFileNames(true), InMemory(), 0);
}

void TDataFile::RenameTableFiles(std::string_view new_table_name) {
  if (IsOpen()) Fail(kErrFileInUse);
  const std::vector<std::string> names = TableFileNames(true);
  TDataFile target;
  target.SetInMemory(InMemory());
  target.SetFileName(new_table_name);
  const std::vector<std::string> new_names = target.TableFileNames(true);
  for (size_t i = 0; i < names.size(); ++i) {
    TFileHandler file;
    file.SetInMemory(InMemory());
    file.SetFileName(names[i]);
    if (i == 2 && !file.Exists()) continue;
    file.Rename(new_names[i]);
  }
  SetFileName(new_table_name);
}

void TDataFile::DeleteNewFiles(size_t count) noexcept {
  const std::vector<std::string> names = TableFileNames(count > 2);
  for (size_t i = 0; i < count && i < names.size(); ++i) {
    try {
      TFileHandler file;
      file.SetInMemory(InMemory());
      file.SetFileName(names[i]);
      file.Delete();
    } catch (...) {
      // On the way out of a failed creation, whose own error is the one to report; the file was
      // this call's own, held exclusively until a moment ago, so nothing of value stays behind.
    }
  }
}

// ---- what the index file asks ------------------------------------------------------------------

bool TDataFile::KeyFieldInfo(uint16_t field_number, TKeyField& field) const {
  if (field_number == 0 || field_number > table_fields_.size()) return false;
  field.type = table_fields_[field_number - 1].type;
  field.size = table_fields_[field_number - 1].stored_size;
  return true;
}

uint32_t TDataFile::PhysicalRecordCount() const {
  const uint32_t next = header_.NextRecord();
  return next == 0 ? 0 : next - 1;
}

// ---- sizes --------------------------------------------------------------------------------------

uint16_t TDataFile::GetRecordBufferSize() const {
  return static_cast<uint16_t>(header_.RecordSize() + computed_area_size_);
}

uint32_t TDataFile::PerReadMaximum() const {
  const uint32_t record_size = header_.RecordSize();
  return record_size == 0 ? 0 : std::max<uint32_t>(1, kMaxPerRead / record_size);
}

uint32_t TDataFile::RecordCacheCapacity() const {
  const uint32_t buffer_size = GetRecordBufferSize();
  return buffer_size == 0 ? 0 : std::min(kCacheBytes / buffer_size, kMaxCacheEntries);
}

}  // namespace tessera
