// The query component: the engine dataset whose rows come from one SQL statement.
//
// The component keeps the SQL lines, translates their named parameters into positional "?"
// markers (TTesseraParams.h), prepares an engine statement (TDataQuery) on demand, binds the
// parameter values, runs it, and shows its result table.  The result belongs to the statement:
// the dataset marks the handle not owned and frees it by unpreparing.
//
//   state       statement   how it is entered
//   Unprepared  none        construction; SetSQL with a new text; Close; ExecSQL; a failure;
//                           StrictChangeDetection changed while closed
//   Prepared    bound       SetPrepared(true), or the first step of Open
//   Open        executed    Open (CreateHandle): a SELECT only, its result the handle
//
// An executed statement cannot run again, so every Open prepares afresh, and Close unprepares.
// Prepared holds database-use flag 1 so that the database stays open for the statement's
// source tables.  ExecSQL runs a statement without opening the dataset (INSERT, UPDATE, DELETE,
// SELECT ... INTO) and reports RowsAffected; Open refuses those statements before anything runs.
//
// A canned result (a table the statement filled) is read-only to the dataset; only a live
// result (RequestLive and a statement the engine can serve from its source table) can be edited.
//
// With a DataSource, parameters not bound by the program take the values of the master's
// same-named fields at each Open, and the query re-opens when the master moves (while open).
//
// Stored with a form: "Data" (an opaque buffer, the bytes up to its first zero, dropped by any
// change of the text) and "Params.Data" (the parameter list, TTesseraParams.h).  While loading,
// a text change only translates the text: the list comes from "Params.Data".
//
// GUI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/db/TDataLink.h"
#include "classlib/rtl/TStrings.h"
#include "engine/components/TTesseraDataSet.h"
#include "engine/components/TTesseraParams.h"

namespace cl {
class TDataSource;
}

namespace tessera {

class TDataQuery;
class TTesseraQuery;

inline constexpr const char* SNoSQLStatement = "No SQL statement available";

using TQueryProgressEvent = std::function<void(cl::TObject* sender, int current_record,
                                               uint16_t percent_done, bool& abort_query)>;

// The query's link to the data source that feeds its parameters.
class TTesseraQueryDataLink : public cl::TDataLink {
 public:
  explicit TTesseraQueryDataLink(TTesseraQuery* query) : query_(query) {}

 protected:
  void ActiveChanged() override;
  void RecordChanged(cl::TField* field) override;
  void CheckBrowseMode() override;

 private:
  TTesseraQuery* query_;
};

class TTesseraQuery : public TTesseraDBDataSet {
 public:
  static constexpr int kDbFlagPrepared = 1;

  explicit TTesseraQuery(cl::TComponent* owner);
  ~TTesseraQuery() override;

  const char* EngineVersion() const;
  void SetEngineVersion(const std::string&) {}

  cl::TStrings* SQL() const { return sql_.get(); }
  // A different text closes and unprepares the query and replaces the lines.
  void SetSQL(const cl::TStrings* lines);
  // The statement text the engine receives (parameters translated when ParamCheck is on).
  const std::string& Text() const { return text_; }

  TTesseraParams* Params() const { return params_.get(); }
  // Copies the values of same-named parameters.
  void SetParams(const TTesseraParams* params);
  int ParamCount() const { return params_->Count(); }
  TTesseraParam* ParamByName(std::string_view name) const { return params_->ParamByName(name); }

  bool Prepared() const { return statement_ != nullptr; }
  // REQUIRES a closed query (the dataset-open error otherwise).
  void SetPrepared(bool value);
  void Prepare() { SetPrepared(true); }
  void UnPrepare() { SetPrepared(false); }

  // Runs the statement without opening the dataset; the engine's count of changed rows goes to
  // RowsAffected.  REQUIRES a closed query.
  void ExecSQL();
  int RowsAffected() const { return rows_affected_; }

  bool RequestLive() const { return request_live_; }
  void SetRequestLive(bool value);
  bool ParamCheck() const { return param_check_; }
  void SetParamCheck(bool value) { param_check_ = value; }
  uint8_t LockRetryCount() const { return lock_retry_count_; }
  void SetLockRetryCount(uint8_t value);
  uint16_t LockWaitTime() const { return lock_wait_time_; }
  void SetLockWaitTime(uint16_t value);
  bool StrictChangeDetection() const { return strict_change_detection_; }
  // The tables open with the value they had: a statement prepared but not run is unprepared, so
  // that the next Open or ExecSQL opens them with the new one.
  void SetStrictChangeDetection(bool value);

  cl::TDataSource* DataSource() const { return data_link_->DataSource(); }
  // Refuses a circular link ("Liaisons de données circulaires non autorisées").
  void SetDataSource(cl::TDataSource* source);
  cl::TDataSource* GetDataSource() const override { return DataSource(); }

  TQueryProgressEvent OnQueryProgress;

  // The stored opaque "Data" (the bytes up to the first zero); empty when none.
  const std::vector<uint8_t>& Data() const { return data_; }
  void DefineProperties(cl::TFiler& filer) override;

  void CloseDatabaseUse() override;

 protected:
  friend class TTesseraQueryDataLink;

  TDataFile* CreateHandle() override;
  void CloseCursor() override;
  bool GetCanModify() override;
  void Notification(cl::TComponent* component, cl::TOperation operation) override;

  // Closes and opens again with the master's current values.
  void RefreshParams();

 private:
  void SqlChanged();
  void FreeStatement() noexcept;
  // The statement prepared on the current text; raises and stays unprepared on failure.
  void PrepareStatement();
  void ParamsFromDataSource();
  // Hands every parameter's value to the statement; a "?" without a parameter of its position
  // raises "No value for parameter" with that position, whatever ParamCheck says.
  void BindParams();
  // Executes the prepared statement with the progress callback installed.
  TDataFile* Execute();

  std::unique_ptr<TDataQuery> statement_;
  std::unique_ptr<cl::TStringList> sql_;
  std::unique_ptr<TTesseraParams> params_;
  std::string text_;
  std::unique_ptr<TTesseraQueryDataLink> data_link_;
  bool request_live_ = false;
  std::vector<uint8_t> data_;
  bool param_check_ = true;
  uint8_t lock_retry_count_ = 15;
  uint16_t lock_wait_time_ = 100;
  bool strict_change_detection_ = false;
  bool live_result_ = false;
  int rows_affected_ = 0;
};

}  // namespace tessera
