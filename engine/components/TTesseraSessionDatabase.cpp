#include <algorithm>
#include <utility>

#include "classlib/db/DBConsts.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Collation.h"
#include "engine/components/ComponentConsts.h"
#include "engine/components/TTesseraSession.h"
#include "engine/storage/core/FilePaths.h"

namespace tessera {

bool IsDatabasePath(std::string_view name) {
  return ContainsPath(name) || name.find_first_of(":\\") != std::string_view::npos;
}

TTesseraDatabase::TTesseraDatabase(cl::TComponent* owner) : cl::TComponent(owner) {
  auto* session = dynamic_cast<TTesseraSession*>(owner);
  if (session == nullptr) session = Sessions().DefaultSession();
  if (session == nullptr) return;
  session_ = session;
  session_name_ = session->SessionName();
  session->AddDatabase(this);
}

TTesseraDatabase::~TTesseraDatabase() {
  Destroying();
  try {
    Close();
  } catch (...) {
    cl::Application().HandleException(this);
  }
  if (session_ != nullptr) session_->RemoveDatabase(this);
}

const char* TTesseraDatabase::EngineVersion() const { return kEngineVersion; }

void TTesseraDatabase::SetConnected(bool value) {
  if (ComponentState().Contains(cl::csReading)) {
    streamed_connected_ = value;
    return;
  }
  if (value) {
    Open();
  } else {
    Close();
  }
}

void TTesseraDatabase::Open() {
  if (Connected()) return;
  if (before_connect_) before_connect_(this);
  if (database_name_.empty() && !temporary_) cl::DatabaseError(SDatabaseNameMissing);
  BindSession(true);
  if (handle_shared_) {
    for (TTesseraDatabase* other : session_->databases_) {
      if (other != this && other->handle_shared_ && other->Connected() &&
          cl::AnsiSameText(other->database_name_, database_name_)) {
        connection_ = other->connection_;
        return;
      }
    }
  }
  TSessionLock lock(*session_);
  connection_ = 1;
  try {
    session_->DatabaseEvent(TDatabaseEvent::kOpen, this);
  } catch (...) {
    connection_ = 0;
    throw;
  }
}

void TTesseraDatabase::Close() {
  // A dataset closing inside the loop below gives its use back, which may ask to close again.
  if (!Connected() || closing_) return;
  closing_ = true;
  try {
    if (session_ != nullptr) session_->DatabaseEvent(TDatabaseEvent::kClose, this);
    while (!datasets_.empty()) {
      TDatabaseUser* dataset = datasets_.back();
      dataset->CloseDatabaseUse();
      // A dataset that stayed in the list would be closed for ever.
      if (!datasets_.empty() && datasets_.back() == dataset) datasets_.pop_back();
    }
  } catch (...) {
    closing_ = false;
    throw;
  }
  closing_ = false;
  connection_ = 0;
  use_count_ = 0;
}

void TTesseraDatabase::CheckInactive() const {
  if (Connected()) cl::DatabaseError(SDatabaseOpen);
}

void TTesseraDatabase::SetDatabaseName(const std::string& name) {
  if (ComponentState().Contains(cl::csReading)) {
    database_name_ = name;
    return;
  }
  if (name == database_name_) return;
  CheckInactive();
  if (!temporary_ && !name.empty() && IsDatabasePath(name)) {
    cl::DatabaseErrorFmt(SInvalidDatabaseName, {name});
  }
  if (!name.empty() && session_ != nullptr) CheckDuplicateName(session_, name);
  database_name_ = name;
}

std::string TTesseraDatabase::Directory() const {
  if (temporary_ && IsDatabasePath(database_name_)) return database_name_;
  return directory_;
}

void TTesseraDatabase::SetDirectory(const std::string& directory) {
  CheckInactive();
  directory_ = directory;
}

void TTesseraDatabase::SetSessionName(const std::string& name) {
  if (ComponentState().Contains(cl::csReading)) {
    session_name_ = name;
    return;
  }
  CheckInactive();
  const std::string previous = std::exchange(session_name_, name);
  try {
    BindSession(false);
  } catch (...) {
    session_name_ = previous;
    throw;
  }
}

void TTesseraDatabase::SetKeepConnection(bool value) {
  keep_connection_ = value;
  if (!value && use_count_ == 0) Close();
}

void TTesseraDatabase::BindSession(bool opening) {
  TTesseraSessionList& sessions = Sessions();
  TTesseraSession* session =
      opening ? sessions.GetSession(session_name_) : sessions.FindSession(session_name_);
  if (session != session_) {
    if (session != nullptr && !database_name_.empty()) {
      CheckDuplicateName(session, database_name_);
    }
    if (session_ != nullptr) session_->RemoveDatabase(this);
    session_ = session;
    if (session != nullptr) session->AddDatabase(this);
  }
  if (opening && !session_->Active()) session_->StartSession();
}

void TTesseraDatabase::CheckDuplicateName(TTesseraSession* session, const std::string& name) {
  // Freeing a database changes the session's list.
  const std::vector<TTesseraDatabase*> databases = session->databases_;
  for (TTesseraDatabase* other : databases) {
    if (other == this || !cl::AnsiSameText(other->database_name_, name)) continue;
    if (other->handle_shared_ && handle_shared_) continue;
    if (!other->temporary_ || other->use_count_ > 0 || other->closing_ ||
        other->ComponentState().Contains(cl::csDestroying)) {
      cl::DatabaseErrorFmt(SDuplicateDatabaseName, {name});
    }
    other->Free();
  }
}

void TTesseraDatabase::Loaded() {
  cl::TComponent::Loaded();
  if (streamed_connected_) {
    Open();
  } else {
    BindSession(false);
  }
}

void TTesseraDatabase::RegisterDataSet(TDatabaseUser* dataset) {
  if (std::find(datasets_.begin(), datasets_.end(), dataset) == datasets_.end()) {
    datasets_.push_back(dataset);
  }
}

void TTesseraDatabase::UnregisterDataSet(TDatabaseUser* dataset) { std::erase(datasets_, dataset); }

TDatabaseUser* TTesseraDatabase::DataSets(int index) const {
  if (index < 0 || index >= DataSetCount()) cl::ListIndexError(index);
  return datasets_[static_cast<size_t>(index)];
}

}  // namespace tessera
