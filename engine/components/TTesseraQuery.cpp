#include "engine/components/TTesseraQuery.h"

#include <algorithm>
#include <string>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TDataSource.h"
#include "classlib/db/TField.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Filer.h"
#include "engine/components/ComponentConsts.h"
#include "engine/sql/StatementDescriptors.h"
#include "engine/sql/TDataQuery.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/FilePaths.h"

namespace tessera {

using namespace cl;

namespace {

// The name the engine keeps of a parameter.
constexpr size_t kEngineParamNameLength = 30;

// Gives a sub-object's stored properties to the form under "<prefix><name>", the way a form
// stores the properties of a published persistent.
class PrefixFiler : public TFiler {
 public:
  PrefixFiler(TFiler& inner, std::string prefix) : inner_(inner), prefix_(std::move(prefix)) {}
  void DefineProperty(const std::string& name, const TValueReader& read, const TValueWriter& write,
                      bool has_data) override {
    inner_.DefineProperty(prefix_ + name, read, write, has_data);
  }
  void DefineBinaryProperty(const std::string& name, const TStreamProc& read,
                            const TStreamProc& write, bool has_data) override {
    inner_.DefineBinaryProperty(prefix_ + name, read, write, has_data);
  }

 private:
  TFiler& inner_;
  std::string prefix_;
};

}  // namespace

// ---- the data link -----------------------------------------------------------------------------

void TTesseraQueryDataLink::ActiveChanged() {
  if (Active() && DataSource()->State() != dsSetKey && query_->Active()) query_->RefreshParams();
}

void TTesseraQueryDataLink::RecordChanged(TField* field) {
  if (field != nullptr || DataSource() == nullptr || DataSource()->State() == dsSetKey) return;
  if (query_->Active()) query_->RefreshParams();
}

void TTesseraQueryDataLink::CheckBrowseMode() {
  if (query_->Active()) query_->CheckBrowseMode();
}

// ---- construction ------------------------------------------------------------------------------

TTesseraQuery::TTesseraQuery(TComponent* owner)
    : TTesseraDBDataSet(owner),
      sql_(std::make_unique<TStringList>()),
      params_(std::make_unique<TTesseraParams>()),
      data_link_(std::make_unique<TTesseraQueryDataLink>(this)) {
  sql_->SetOnChange([this](TObject*) { SqlChanged(); });
}

TTesseraQuery::~TTesseraQuery() {
  DestroyingClose();
  FreeStatement();
  data_link_->SetDataSource(nullptr);
  sql_->SetOnChange(nullptr);
}

const char* TTesseraQuery::EngineVersion() const { return kEngineVersion; }

// ---- properties --------------------------------------------------------------------------------

void TTesseraQuery::SetSQL(const TStrings* lines) {
  if (lines->Text() == sql_->Text()) return;
  sql_->Assign(lines);
}

void TTesseraQuery::SqlChanged() {
  text_ = sql_->Text();
  if (ComponentState().Contains(csLoading)) {
    if (param_check_) TranslateParams(text_, nullptr);
    return;
  }
  Close();
  FreeStatement();
  data_.clear();
  if (param_check_ || ComponentState().Contains(csDesigning)) {
    auto list = std::make_unique<TTesseraParams>();
    TranslateParams(text_, list.get());
    list->AssignValues(*params_);
    params_ = std::move(list);
  }
  DataEvent(dePropertyChange);
}

void TTesseraQuery::SetParams(const TTesseraParams* params) { params_->AssignValues(*params); }

void TTesseraQuery::SetRequestLive(bool value) {
  if (value == request_live_) return;
  CheckInactive();
  request_live_ = value;
  // A statement prepared before was bound for the other kind of result.
  FreeStatement();
}

void TTesseraQuery::SetLockRetryCount(uint8_t value) {
  lock_retry_count_ = value;
  if (statement_ != nullptr) statement_->SetLockRetryCount(value);
}

void TTesseraQuery::SetLockWaitTime(uint16_t value) {
  lock_wait_time_ = value;
  if (statement_ != nullptr) statement_->SetLockWaitTime(value);
}

void TTesseraQuery::SetStrictChangeDetection(bool value) {
  if (value == strict_change_detection_) return;
  strict_change_detection_ = value;
  // An open table keeps the change detection it was opened with: a statement prepared but not
  // yet run goes, and the next Open or ExecSQL prepares it again with the new value.  An open
  // query's statement has run; its next Open prepares afresh anyway.
  if (statement_ != nullptr && !Active()) FreeStatement();
}

void TTesseraQuery::SetDataSource(TDataSource* source) {
  if (source != nullptr && IsLinkedTo(source)) DatabaseError(SCircularDataLink);
  if (DataSource() != nullptr) RemoveFreeNotification(DataSource());
  data_link_->SetDataSource(source);
  if (source != nullptr) FreeNotification(source);
}

void TTesseraQuery::Notification(TComponent* component, TOperation operation) {
  TTesseraDBDataSet::Notification(component, operation);
  if (operation == opRemove && data_link_ != nullptr && component == DataSource()) {
    data_link_->SetDataSource(nullptr);
  }
}

void TTesseraQuery::DefineProperties(TFiler& filer) {
  TTesseraDBDataSet::DefineProperties(filer);
  filer.DefineBinaryProperty(
      "Data",
      [this](TStream& stream) {
        std::vector<uint8_t> bytes(static_cast<size_t>(stream.Size() - stream.Position()));
        if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
        data_ = std::move(bytes);
      },
      [this](TStream& stream) {
        auto end = std::find(data_.begin(), data_.end(), uint8_t{0});
        auto size = static_cast<int32_t>(end - data_.begin());
        if (size > 0) stream.WriteBuffer(data_.data(), size);
      },
      !data_.empty() && data_.front() != 0);
  PrefixFiler params(filer, "Params.");
  params_->DefineProperties(params);
}

// ---- preparation -------------------------------------------------------------------------------

void TTesseraQuery::SetPrepared(bool value) {
  if (Active()) DatabaseError(SDataSetOpen);
  if (value == Prepared()) return;
  if (value) {
    PrepareStatement();
  } else {
    FreeStatement();
  }
}

void TTesseraQuery::PrepareStatement() {
  if (text_.size() < 2) DatabaseError(SNoSQLStatement);
  SetDBFlag(kDbFlagPrepared, true);
  try {
    auto statement = std::make_unique<TDataQuery>();
    statement->SetStrictChangeDetection(strict_change_detection_);
    statement->SetLockRetryCount(lock_retry_count_);
    statement->SetLockWaitTime(lock_wait_time_);
    statement->SetRequestLive(request_live_);
    statement->SetDirectory(AddTrailingBackslash(Database()->Directory()));
    TTesseraSession* session = Database()->Session();
    if (session != nullptr) {
      session->MakeCurrent();
      // The password request belongs to the preparation only: the statement must not call back
      // into a session later.
      statement->SetPasswordEvent([session] { return session->PasswordRequest(); });
    }
    struct PasswordScope {
      TDataQuery& statement;
      ~PasswordScope() { statement.SetPasswordEvent(nullptr); }
    } password{*statement};
    Check(statement->PrepareQuery(text_));
    statement_ = std::move(statement);
  } catch (...) {
    try {
      SetDBFlag(kDbFlagPrepared, false);
    } catch (...) {
      Application().HandleException(this);
    }
    throw;
  }
}

void TTesseraQuery::FreeStatement() noexcept {
  live_result_ = false;
  if (statement_ == nullptr) return;
  // The statement closes its sources and its result (deleting a temporary one) as it goes.
  statement_.reset();
  try {
    SetDBFlag(kDbFlagPrepared, false);
  } catch (...) {
    Application().HandleException(this);
  }
}

void TTesseraQuery::CloseDatabaseUse() {
  Close();
  FreeStatement();
}

// ---- parameters --------------------------------------------------------------------------------

void TTesseraQuery::ParamsFromDataSource() {
  TDataSource* source = DataSource();
  if (source == nullptr || source->DataSet() == nullptr || !source->DataSet()->Active()) return;
  for (int i = 0; i < params_->Count(); ++i) {
    TTesseraParam* param = params_->Item(i);
    if (param->Bound()) continue;
    TField* field = source->DataSet()->FindField(param->Name());
    if (field == nullptr) continue;
    param->AssignField(*field);
    // The master's value belongs to this opening only: the next master record gives its own.
    param->SetBound(false);
  }
}

void TTesseraQuery::BindParams() {
  // A "?" past the list (ParamCheck off, or markers written as such) would run as NULL.
  const size_t markers = statement_->Statement().parameters.size();
  if (markers > static_cast<size_t>(params_->Count())) {
    DatabaseErrorFmt(SNoParameterValue, {std::to_string(params_->Count() + 1)});
  }
  if (params_->Count() == 0) return;
  std::vector<TQueryParamDescriptor> descriptors;
  std::vector<uint8_t> buffer;
  for (int i = 0; i < params_->Count(); ++i) {
    TTesseraParam* param = params_->Item(i);
    TQueryParamDescriptor d;
    d.number = static_cast<uint16_t>(i + 1);
    d.name = param->Name().substr(0, kEngineParamNameLength);
    d.type = param->EngineType();
    size_t size = param->DataSize();
    // The engine's value area holds 254 characters: a longer text is refused, never cut.
    if (size > kMaxParamTextLength + 1) {
      RaiseEngineError(kErrSql, {}, {}, {},
                       "Value of parameter '" + param->Name() +
                           "' exceeds the maximum length of 254 characters");
    }
    d.size = static_cast<uint8_t>(size);
    d.decimals = param->DataType() == ftBCD ? 4 : 0;
    d.offset = static_cast<uint32_t>(buffer.size());
    buffer.push_back(param->IsNull() ? 0 : 1);
    buffer.resize(buffer.size() + size);
    param->GetData(buffer.data() + d.offset + 1);
    descriptors.push_back(std::move(d));
  }
  Check(statement_->SetQueryParams(descriptors, buffer.data(), buffer.size()));
}

// ---- running -----------------------------------------------------------------------------------

TDataFile* TTesseraQuery::Execute() {
  TTesseraSession* session = Database()->Session();
  if (session != nullptr) session->MakeCurrent();
  statement_->SetProgressCallback([this](int32_t current, uint16_t percent, bool& abort) {
    if (OnQueryProgress) OnQueryProgress(this, current, percent, abort);
  });
  struct ProgressScope {
    TDataQuery& statement;
    ~ProgressScope() { statement.SetProgressCallback(nullptr); }
  } progress{*statement_};
  TDataFile* result = nullptr;
  Check(statement_->ExecuteQuery(result));
  return result;
}

TDataFile* TTesseraQuery::CreateHandle() {
  if (sql_->Count() == 0) DatabaseError(SNoSQLStatement);
  if (!Prepared()) PrepareStatement();
  try {
    // Only a SELECT leaves a result to show: anything else would run, commit its change, and
    // then fail for want of a handle.
    if (statement_->Statement().statement_kind != kStatementSelect) {
      DatabaseError(SCreateHandleError);
    }
    ParamsFromDataSource();
    BindParams();
    TDataFile* result = Execute();
    if (result == nullptr) DatabaseError(SCreateHandleError);
    live_result_ = statement_->LiveResult();
    SetHandleOwned(false);
    return result;
  } catch (...) {
    FreeStatement();
    throw;
  }
}

void TTesseraQuery::CloseCursor() {
  // The statement owns the handle: the dataset forgets it first, then the statement goes.
  struct Unprepare {
    TTesseraQuery* self;
    ~Unprepare() { self->FreeStatement(); }
  } unprepare{this};
  TTesseraDBDataSet::CloseCursor();
}

bool TTesseraQuery::GetCanModify() { return live_result_ && TTesseraDBDataSet::GetCanModify(); }

void TTesseraQuery::RefreshParams() {
  DisableControls();
  struct Enable {
    TTesseraQuery* self;
    ~Enable() { self->EnableControls(); }
  } enable{this};
  Close();
  Open();
}

void TTesseraQuery::ExecSQL() {
  CheckInactive();
  // A statement that fails changes nothing: it never reports an earlier statement's count.
  rows_affected_ = 0;
  if (sql_->Count() == 0) DatabaseError(SNoSQLStatement);
  if (!Prepared()) PrepareStatement();
  // An executed statement cannot run again: it goes whatever happens.
  struct Unprepare {
    TTesseraQuery* self;
    ~Unprepare() { self->FreeStatement(); }
  } unprepare{this};
  ParamsFromDataSource();
  BindParams();
  Execute();
  rows_affected_ = statement_->RowsAffected();
}

}  // namespace tessera
