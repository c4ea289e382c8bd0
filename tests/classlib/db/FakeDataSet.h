// TFakeDataSet: a dataset whose records live in a vector, for testing the dataset model.
//
// It implements the record protocol the simple way an in-memory dataset does (records in
// insertion order, a record id as the 4-byte bookmark, the cursor an index into the records,
// -1 before the first and Count after the last), keeps its records across Close, writes every
// protocol call into a TTrace ("v:InternalPost", "v:FetchRecord(next)=OK"), and lets a test make
// the next calls of a slot fail.
//
// Record buffer: for each field definition a has-value byte and the native value (blob values
// live beside the buffer), then the calculated area, the bookmark flag and the record id.
// OnFilterRecord filters the records while Filtered; FindFirst..FindLast search with it always.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Trace.h"
#include "classlib/db/TDataSet.h"

namespace cl::test {

// The engine's exception stand-in: a database error with a numeric code.
class EFakeEngineError : public EDatabaseError {
 public:
  EFakeEngineError(int code, std::string message)
      : EDatabaseError(std::move(message)), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

// BlobWrite: opening a blob stream to write (before the value is emptied).
enum class FakeSlot { Open, Edit, Post, Delete, Fetch, InsertRecord, BlobWrite };

class TFakeDataSet : public TDataSet {
 public:
  explicit TFakeDataSet(TComponent* owner, TTrace* trace = nullptr);
  ~TFakeDataSet() override;

  // The definitions the cursor offers.  REQUIRES: closed, before the first open.
  void AddFieldDef(const std::string& name, TFieldType type, int size = 0, bool required = false);
  void SetTrace(TTrace* trace) { trace_ = trace; }
  // The next `count` calls of `slot` raise EFakeEngineError(code, message).
  void FailNext(FakeSlot slot, int count, int code = 0,
                std::string message =
                    "Erreur simul\xE9"
                    "e");
  void SetReadOnly(bool read_only) { read_only_ = read_only; }

  // Stored records, bypassing the window: their count, and one value read in a silent state.
  int StoredCount() const { return static_cast<int>(records_.size()); }
  Variant StoredValue(int row, std::string_view field_name);
  // Enters and leaves key editing (the real state, with its notifications).
  void SetKey();
  bool KeyModified() const { return key_modified_; }
  // Runs `work` in the silent key state: field writes go to the key buffer.
  void WithTempKeyState(const std::function<void()>& work);
  // Calls seen by each slot (for retry counts).
  int Calls(FakeSlot slot) const;

  // Exposed window primitives, for the buffer tests.
  using TDataSet::Buffers;
  using TDataSet::GetRecordBufferSize;

 protected:
  TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(TRecordBuffer& buffer) override;
  int GetRecordBufferSize() override { return record_size_; }
  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  bool HasHandle() override { return handle_; }
  TGetResult FetchRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) override;
  void InternalInitRecord(TRecordBuffer buffer) override;
  void ClearCalcFields(TRecordBuffer buffer) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalSetToRecord(TRecordBuffer buffer) override;
  void InternalGotoBookmark(const TBookmark& bookmark) override;
  void GetBookmarkData(TRecordBuffer buffer, TBookmark& bookmark) override;
  void SetBookmarkData(TRecordBuffer buffer, const TBookmark& bookmark) override;
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override;
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override;
  void InternalEdit() override;
  void InternalPost() override;
  void InternalCancel() override;
  void InternalDelete() override;
  void InsertRecordIntoFile(TRecordBuffer buffer, bool append) override;
  void InternalRefresh() override;
  bool GetFieldValue(const TField* field, void* buffer) override;
  void SetFieldValue(TField* field, const void* buffer) override;
  int GetRecordCount() override;
  int GetRecNo() override;
  bool GetCanModify() override { return !read_only_; }
  void CloseBlob(TField* field) override;
  bool LocateRecord(std::string_view key_fields, const Variant& key_values, TLocateOptions options,
                    bool sync_cursor) override;
  Variant LookupValues(std::string_view key_fields, const Variant& key_values,
                       std::string_view result_fields) override;
  bool FindRecord(bool restart, bool go_forward) override;
  void FinishKeyEdit(bool post) override;

 public:
  void SetFiltered(bool value) override;
  void SetOnFilterRecord(TFilterRecordEvent handler) override;
  bool BookmarkValid(const TBookmark& bookmark) override;
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) override;
  std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override;
  void SetRecNo(int value) override;

 private:
  friend class TFakeBlobStream;

  struct Def {
    std::string name;
    TFieldType type;
    int size;
    bool required;
  };
  struct Record {
    int32_t id;
    std::vector<uint8_t> data;
    std::vector<std::string> blobs;
  };

  void Trace(const std::string& entry);
  void MaybeFail(FakeSlot slot);
  TRecordBuffer SelectBuffer() const;
  std::vector<std::string>& BlobsOf(TRecordBuffer buffer);
  void LoadRecord(int index, TRecordBuffer buffer);
  void StoreRecord(TRecordBuffer buffer, Record& record);
  int32_t IdOf(TRecordBuffer buffer) const;
  int IndexOfId(int32_t id) const;
  // Runs `work` in the silent filter state on the record held in the work buffer.
  void WithWorkRecordInFilterState(const std::function<void()>& work);
  bool Accept(int index, bool use_filter);
  bool Matches(int index, const std::vector<TField*>& fields, const std::vector<Variant>& keys,
               TLocateOptions options);
  int FindMatch(std::string_view key_fields, const Variant& key_values, TLocateOptions options);

  TTrace* trace_;
  std::vector<Def> defs_;
  std::vector<Record> records_;
  int32_t next_id_ = 1;
  int cursor_ = -1;
  bool handle_ = false;
  bool read_only_ = false;

  std::vector<int> offsets_;     // per definition: its has-value byte in the data part
  std::vector<int> blob_slots_;  // per definition: its blob slot, or -1
  int data_size_ = 0;
  int record_size_ = 0;
  int buffer_size_ = 0;
  std::map<TRecordBuffer, std::vector<std::string>> buffer_blobs_;
  TRecordBuffer filter_buffer_ = nullptr;
  TRecordBuffer work_buffer_ = nullptr;
  TRecordBuffer key_buffer_ = nullptr;
  TRecordBuffer saved_key_ = nullptr;
  bool key_modified_ = false;

  struct Failure {
    int count = 0;
    int code = 0;
    std::string message;
  };
  std::map<FakeSlot, Failure> failures_;
  std::map<FakeSlot, int> calls_;
};

// A fixture schema used throughout the dataset tests: Numero (integer), Nom (string 20),
// DateAppel (date-time, required), Message (memo).
void AddStandardDefs(TFakeDataSet* dataset);

}  // namespace cl::test
