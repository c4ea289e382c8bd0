// The table component: the engine dataset on one table file of its database's directory.
//
// Opening makes a TDataFile for "<Directory>/<TableName>" (the directory trimmed of blanks, a
// "/" added when missing), copies the settings to it in a fixed order (exclusive, read-only,
// in-memory, strict change detection, force buffer flush, lock retry count, lock wait time),
// gives it the session's password request for the open only, and selects the index.  The table
// owns that handle, and a second one (the locate clone) while a Locate needs another index's
// order; the clone is released before the handle closes and whenever the range changes.
//
// Index selection: IndexName ("" or "Primary": the primary index) or IndexFieldNames (the first
// index on exactly those fields, else the first beginning with them); resolved when the handle
// is made and again after the cursor opens, where a bad field list raises.
//
// Master/detail: with MasterSource and MasterFields the table keeps a key range on the first N
// fields of its current index equal to the N master fields, follows the master's moves, and
// gives a new record those values before OnNewRecord.
//
// Field and index definitions are readable while closed, through a temporary handle that is
// never exclusive (database-use flags 4 and 5 hold the database meanwhile).
//
// The progress, data-lost and repair-log events are declared for repair and restructure work,
// which this system never starts; they never fire.  No engine transaction is begun for a new
// handle: nothing in this system sets a database-level transaction indicator.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/db/TFieldDefs.h"
#include "engine/components/TTesseraDataSet.h"

namespace cl {
class TDataSource;
}

namespace tessera {

class TTesseraMasterDataLink;

inline constexpr const char* SMissingTableName = "Missing table name.";
inline constexpr const char* SNoIndexForFields = "'%s' n'a pas d'index pour le champ '%s'";

enum TDataLossCause : uint8_t { dlcFieldDeleted, dlcFieldTruncated, dlcValidityCheck };

using TProgressEvent =
    std::function<void(cl::TObject* sender, int current_record, uint16_t percent_done)>;
using TDataLostEvent =
    std::function<void(cl::TObject* sender, TDataLossCause cause, const std::string& context_info,
                       bool& continue_restructure, bool& stop_asking)>;
using TRepairLogEvent = std::function<void(cl::TObject* sender, const std::string& log_message)>;

class TTesseraTable : public TTesseraDBDataSet {
 public:
  static constexpr int kDbFlagFieldDefs = 4;
  static constexpr int kDbFlagIndexDefs = 5;

  explicit TTesseraTable(cl::TComponent* owner);
  ~TTesseraTable() override;

  const char* EngineVersion() const;
  void SetEngineVersion(const std::string&) {}

  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool value);
  // After opening: what the engine granted.
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value);
  bool InMemory() const { return in_memory_; }
  void SetInMemory(bool value);
  bool StrictChangeDetection() const { return strict_change_detection_; }
  void SetStrictChangeDetection(bool value);
  bool ForceBufferFlush() const { return force_buffer_flush_; }
  void SetForceBufferFlush(bool value);
  const std::string& TableName() const { return table_name_; }
  void SetTableName(const std::string& name);
  uint8_t LockRetryCount() const { return lock_retry_count_; }
  void SetLockRetryCount(uint8_t value);
  uint16_t LockWaitTime() const { return lock_wait_time_; }
  void SetLockWaitTime(uint16_t value);

  std::string IndexName() const;
  void SetIndexName(const std::string& name);
  std::string IndexFieldNames() const;
  void SetIndexFieldNames(const std::string& names);

  cl::TDataSource* MasterSource() const;
  void SetMasterSource(cl::TDataSource* source);
  std::string MasterFields() const;
  void SetMasterFields(const std::string& names);
  cl::TDataSource* GetDataSource() const override { return MasterSource(); }

  // Refreshed on demand (also while closed).
  cl::TIndexDefs* IndexDefs() const { return index_defs_.get(); }

  // REQUIRES an open table.  On an exclusive handle the cached changes are committed first;
  // then the three files are flushed to disk.
  void FlushBuffers();
  bool FindKey(const std::vector<cl::Variant>& values);
  bool GotoKey();
  void SetKey();
  void EditKey();

  // Declared only (see the class comment).
  TProgressEvent OnRepairProgress, OnIndexProgress, OnRestructureProgress;
  TDataLostEvent OnDataLost;
  TRepairLogEvent OnRepairLog;

 protected:
  TDataFile* CreateHandle() override;
  void DestroyHandle() override;
  void ReleaseCloneHandle() override;
  TDataFile* CloneHandle(std::string_view fields, bool case_insensitive) override;
  void AfterOpenCursor() override;
  void InternalInitFieldDefs() override;
  void UpdateIndexDefs() override;
  bool GetCanModify() override;
  void DoOnNewRecord() override;
  void DataEvent(cl::TDataEvent event, intptr_t info = 0) override;
  using cl::TDataSet::DataEvent;
  void Notification(cl::TComponent* component, cl::TOperation operation) override;

 private:
  // A new handle for the file, opened; never exclusive with `for_definitions`.
  std::unique_ptr<TDataFile> OpenNewHandle(bool for_definitions);
  std::string FullFileName() const;
  // The index name the selector stands for; raises for field names no index starts with.
  std::string ResolveIndexName();
  void SetIndexSelector(const std::string& value, bool field_names);
  void ReadIndexDefs(TDataFile& file);
  // The range of the master's current values; true when it changed.
  bool ApplyMasterRange();
  void MasterChanged();
  void MasterDisabled();

  std::unique_ptr<cl::TIndexDefs> index_defs_;
  std::unique_ptr<TTesseraMasterDataLink> master_link_;
  bool exclusive_ = false;
  bool read_only_ = false;
  bool in_memory_ = false;
  bool strict_change_detection_ = false;
  std::string index_selector_;
  bool selector_is_fields_ = false;
  std::string table_name_;
  std::unique_ptr<TDataFile> clone_;
  std::string clone_fields_;
  bool clone_case_ = false;
  bool clone_asked_ = false;
  bool force_buffer_flush_ = false;
  uint8_t lock_retry_count_ = 15;
  uint16_t lock_wait_time_ = 100;
};

}  // namespace tessera
