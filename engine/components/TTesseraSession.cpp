#include "engine/components/TTesseraSession.h"

#include <memory>
#include <utility>

#include "classlib/db/DBConsts.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Collation.h"
#include "classlib/rtl/ShortString.h"
#include "engine/components/ComponentConsts.h"
#include "engine/storage/core/EngineSession.h"

namespace tessera {
namespace {

std::unique_ptr<TTesseraSessionList> g_sessions;
TDefaultPasswordRequest g_default_password_request;

}  // namespace

void SetDefaultPasswordRequest(TDefaultPasswordRequest request) {
  g_default_password_request = std::move(request);
}

// ---- TTesseraSession ------------------------------------------------------------------------

TTesseraSession::TTesseraSession(cl::TComponent* owner) : cl::TComponent(owner) {
  if (owner != nullptr) {
    for (int i = 0; i < owner->ComponentCount(); ++i) {
      auto* other = dynamic_cast<TTesseraSession*>(owner->Components(i));
      if (other != nullptr && other != this && other->auto_session_name_) {
        cl::DatabaseErrorFmt(SAutoSessionExists, {other->session_name_});
      }
    }
  }
  Sessions().Add(this);
}

TTesseraSession::~TTesseraSession() {
  Destroying();
  try {
    if (Active()) StopSession();
  } catch (...) {
    cl::Application().HandleException(this);
  }
  // A stop that failed part-way must still give the engine session back.
  ReleaseEngineSession();
  for (TTesseraDatabase* database : databases_) database->session_ = nullptr;
  databases_.clear();
  ReleaseAutoNumber();
  // Freed inside its own Lock (a handler that frees its session): the process-wide lock would
  // otherwise stay held for good.
  if (lock_count_ > 0 && g_sessions) {
    lock_count_ = 0;
    g_sessions->SessionLock().Leave();
  }
  if (g_sessions) g_sessions->Remove(this);
}

const char* TTesseraSession::EngineVersion() const { return kEngineVersion; }

void TTesseraSession::SetActive(bool value) {
  if (ComponentState().Contains(cl::csReading)) {
    streamed_active_ = value;
    return;
  }
  if (value == Active()) return;
  if (value) {
    StartSession();
  } else {
    StopSession();
  }
}

void TTesseraSession::StartSession() {
  platform::CriticalSectionGuard guard(Sessions().SessionLock());
  if (Active()) return;
  if (on_startup_) on_startup_(this);
  if (session_name_.empty()) cl::DatabaseError(SSessionNameMissing);
  if (!default_) {
    TTesseraSession* first = Sessions().DefaultSession();
    if (first != nullptr && !first->Active()) first->StartSession();
  }
  if (default_) {
    InitializeEngine();
    engine_session_ = GetEngineSession();
  } else {
    CreateFileSession(engine_session_);
  }
  if (private_dir_.empty()) return;
  try {
    TSessionLock lock(*this);
    SetEnginePrivateDirectory(private_dir_);
  } catch (...) {
    ReleaseEngineSession();
    throw;
  }
}

void TTesseraSession::StopSession() {
  platform::CriticalSectionGuard guard(Sessions().SessionLock());
  SetEngineSession(engine_session_);
  // Freeing a temporary database or closing one may take others out of the list.
  size_t i = databases_.size();
  while (i > 0) {
    --i;
    if (i >= databases_.size()) {
      i = databases_.size();
      continue;
    }
    TTesseraDatabase* database = databases_[i];
    if (database->temporary_) {
      database->Free();
    } else {
      database->Close();
    }
  }
  ReleaseEngineSession();
}

void TTesseraSession::ReleaseEngineSession() {
  if (engine_session_ == nullptr) return;
  if (default_) {
    ShutdownEngine();
  } else {
    FreeFileSession(engine_session_);
    TTesseraSession* first = g_sessions ? g_sessions->DefaultSession() : nullptr;
    if (first != nullptr && first->Active()) SetEngineSession(first->engine_session_);
  }
  engine_session_ = nullptr;
}

void TTesseraSession::CheckInactive() const {
  if (Active()) cl::DatabaseError(SSessionActive);
}

void TTesseraSession::SetSessionName(const std::string& name) {
  if (auto_session_name_ && !updating_name_) cl::DatabaseError(SAutoSessionActive);
  CheckInactive();
  if (!name.empty()) {
    TTesseraSession* other = Sessions().FindSession(name);
    if (other != nullptr && other != this) cl::DatabaseErrorFmt(SDuplicateSessionName, {name});
  }
  session_name_ = name;
}

void TTesseraSession::SetAutoSessionName(bool value) {
  if (value == auto_session_name_) return;
  if (!value) {
    ReleaseAutoNumber();
    auto_session_name_ = false;
    return;
  }
  CheckInactive();
  if (Owner() != nullptr) {
    for (int i = 0; i < Owner()->ComponentCount(); ++i) {
      cl::TComponent* other = Owner()->Components(i);
      if (other != this && dynamic_cast<TTesseraSession*>(other) != nullptr) {
        cl::DatabaseError(SAutoSessionExclusive);
      }
    }
  }
  {
    platform::CriticalSectionGuard guard(Sessions().SessionLock());
    auto_number_ = Sessions().TakeAutoNumber();
  }
  auto_session_name_ = true;
  const std::string previous = session_name_;
  try {
    UpdateSessionName();
  } catch (...) {
    session_name_ = previous;
    ReleaseAutoNumber();
    auto_session_name_ = false;
    throw;
  }
}

void TTesseraSession::ReleaseAutoNumber() {
  if (auto_number_ < 0) return;
  if (g_sessions) {
    platform::CriticalSectionGuard guard(g_sessions->SessionLock());
    g_sessions->ReleaseAutoNumber(auto_number_);
  }
  auto_number_ = -1;
}

void TTesseraSession::UpdateSessionName() {
  // Loading may already have started the session under this very name.
  const std::string name = Name() + "_" + std::to_string(auto_number_ + 1);
  if (name != session_name_) {
    updating_name_ = true;
    try {
      SetSessionName(name);
    } catch (...) {
      updating_name_ = false;
      throw;
    }
    updating_name_ = false;
  }
  if (Owner() == nullptr) return;
  for (int i = 0; i < Owner()->ComponentCount(); ++i) {
    cl::TComponent* component = Owner()->Components(i);
    if (auto* database = dynamic_cast<TTesseraDatabase*>(component)) {
      if (database->SessionName() != session_name_) database->SetSessionName(session_name_);
    } else if (auto* user = dynamic_cast<TDatabaseUser*>(component)) {
      if (user->SessionName() != session_name_) user->SetSessionName(session_name_);
    }
  }
}

void TTesseraSession::SetName(const std::string& name) {
  // The session's name follows, which an active session refuses: refuse before renaming.
  if (auto_session_name_ && name != Name()) CheckInactive();
  cl::TComponent::SetName(name);
  if (auto_session_name_) UpdateSessionName();
}

void TTesseraSession::Loaded() {
  cl::TComponent::Loaded();
  if (auto_session_name_) UpdateSessionName();
  if (streamed_active_) SetActive(true);
}

void TTesseraSession::Notification(cl::TComponent* component, cl::TOperation operation) {
  cl::TComponent::Notification(component, operation);
  if (operation != cl::opInsert || !auto_session_name_ || component == this || Owner() == nullptr ||
      component->Owner() != Owner()) {
    return;
  }
  if (auto* database = dynamic_cast<TTesseraDatabase*>(component)) {
    database->SetSessionName(session_name_);
  } else if (auto* user = dynamic_cast<TDatabaseUser*>(component)) {
    user->SetSessionName(session_name_);
  }
}

std::string TTesseraSession::PrivateDir() {
  if (Active() && !ComponentState().Contains(cl::csWriting)) {
    TSessionLock lock(*this);
    return GetEnginePrivateDirectory();
  }
  return private_dir_;
}

void TTesseraSession::SetPrivateDir(const std::string& directory) {
  // The engine refuses a directory it cannot hold whole; the kept string then stays as it was.
  if (Active()) {
    TSessionLock lock(*this);
    SetEnginePrivateDirectory(directory);
  }
  private_dir_ = directory;
}

void TTesseraSession::Lock() {
  if (lock_count_ == 0) {
    platform::CriticalSection& section = Sessions().SessionLock();
    section.Enter();
    try {
      MakeCurrent();
    } catch (...) {
      section.Leave();
      throw;
    }
  }
  ++lock_count_;
}

void TTesseraSession::Unlock() {
  if (lock_count_ == 0) return;
  if (--lock_count_ == 0) Sessions().SessionLock().Leave();
}

void TTesseraSession::MakeCurrent() {
  if (!Active()) StartSession();
  SetEngineSession(engine_session_);
}

TTesseraDatabase* TTesseraSession::OpenDatabase(std::string_view name, cl::TComponent* requester) {
  MakeCurrent();
  TTesseraDatabase* database = nullptr;
  if (requester != nullptr) {
    for (TTesseraDatabase* candidate : databases_) {
      if (candidate->Owner() == requester->Owner() && candidate->handle_shared_ &&
          cl::AnsiSameText(candidate->database_name_, name)) {
        database = candidate;
        break;
      }
    }
  }
  if (database == nullptr) database = FindDatabase(name);
  bool made = false;
  if (database == nullptr) {
    database = cl::Create<TTesseraDatabase>(this);
    database->temporary_ = true;
    made = true;
    try {
      database->SetDatabaseName(std::string(name));
      database->SetKeepConnection(keep_connections_);
    } catch (...) {
      database->Free();
      throw;
    }
  }
  try {
    database->Open();
  } catch (...) {
    // A temporary database that never opened would stay in the list unused.
    if (made) database->Free();
    throw;
  }
  ++database->use_count_;
  return database;
}

void TTesseraSession::CloseDatabase(TTesseraDatabase* database) {
  if (database->use_count_ > 0) --database->use_count_;
  if (database->use_count_ != 0 || database->keep_connection_) return;
  if (!database->temporary_) {
    database->Close();
  } else if (!database->ComponentState().Contains(cl::csDestroying) && !database->closing_) {
    // A database that is closing its datasets is still running on the stack: it stays, closed.
    database->Free();
  }
}

TTesseraDatabase* TTesseraSession::FindDatabase(std::string_view name) const {
  for (TTesseraDatabase* database : databases_) {
    if ((database->temporary_ || !database->database_name_.empty()) &&
        cl::AnsiSameText(database->database_name_, name)) {
      return database;
    }
  }
  return nullptr;
}

TTesseraDatabase* TTesseraSession::Databases(int index) const {
  if (index < 0 || index >= DatabaseCount()) cl::ListIndexError(index);
  return databases_[static_cast<size_t>(index)];
}

void TTesseraSession::AddDatabase(TTesseraDatabase* database) {
  databases_.push_back(database);
  DatabaseEvent(TDatabaseEvent::kAdd, database);
}

void TTesseraSession::RemoveDatabase(TTesseraDatabase* database) {
  DatabaseEvent(TDatabaseEvent::kRemove, database);
  std::erase(databases_, database);
}

void TTesseraSession::DatabaseEvent(TDatabaseEvent event, TTesseraDatabase* database) {
  if (on_database_event_) on_database_event_(event, database);
}

void TTesseraSession::AddPassword(const std::string& password) {
  TSessionLock lock(*this);
  engine_session_->AddPassword(cl::ToShort(password));
}

void TTesseraSession::RemovePassword(const std::string& password) {
  TSessionLock lock(*this);
  engine_session_->RemovePassword(cl::ToShort(password));
}

void TTesseraSession::RemoveAllPasswords() {
  TSessionLock lock(*this);
  engine_session_->RemoveAllPasswords();
}

bool TTesseraSession::PasswordRequest() {
  if (on_password_) {
    bool proceed = false;
    on_password_(this, proceed);
    return proceed;
  }
  if (g_default_password_request) return g_default_password_request(*this);
  return false;
}

// ---- TTesseraSessionList --------------------------------------------------------------------

TTesseraSessionList::~TTesseraSessionList() { FreeSessions(); }

void TTesseraSessionList::FreeSessions() {
  while (!sessions_.empty()) {
    TTesseraSession* session = sessions_.back();
    session->Free();
    // A session always leaves the list as it dies; this keeps a fault from looping.
    if (!sessions_.empty() && sessions_.back() == session) sessions_.pop_back();
  }
}

TTesseraSession* TTesseraSessionList::Sessions(int index) const {
  if (index < 0 || index >= Count()) cl::ListIndexError(index);
  return sessions_[static_cast<size_t>(index)];
}

TTesseraSession* TTesseraSessionList::FindSession(std::string_view name) const {
  if (name.empty()) return default_session_;
  for (TTesseraSession* session : sessions_) {
    if (cl::AnsiSameText(session->SessionName(), name)) return session;
  }
  return nullptr;
}

TTesseraSession* TTesseraSessionList::GetSession(std::string_view name) const {
  TTesseraSession* session = FindSession(name);
  if (session == nullptr) cl::DatabaseErrorFmt(SInvalidSessionName, {name});
  return session;
}

void TTesseraSessionList::Add(TTesseraSession* session) {
  if (sessions_.empty() && default_session_ == nullptr) {
    default_session_ = session;
    session->default_ = true;
  }
  sessions_.push_back(session);
}

void TTesseraSessionList::Remove(TTesseraSession* session) {
  std::erase(sessions_, session);
  if (default_session_ == session) default_session_ = nullptr;
}

int TTesseraSessionList::TakeAutoNumber() {
  size_t number = 0;
  while (number < auto_numbers_.size() && auto_numbers_[number]) ++number;
  if (number == auto_numbers_.size()) auto_numbers_.push_back(false);
  auto_numbers_[number] = true;
  return static_cast<int>(number);
}

void TTesseraSessionList::ReleaseAutoNumber(int number) {
  if (number >= 0 && static_cast<size_t>(number) < auto_numbers_.size()) {
    auto_numbers_[static_cast<size_t>(number)] = false;
  }
}

TTesseraSessionList& Sessions() {
  if (!g_sessions) cl::DatabaseError("The session list is not initialized.");
  return *g_sessions;
}

void InitializeSessions() {
  if (g_sessions) return;
  g_sessions = std::make_unique<TTesseraSessionList>();
  try {
    cl::Create<TTesseraSession>(nullptr)->SetSessionName("Default");
  } catch (...) {
    g_sessions.reset();
    throw;
  }
}

void FinalizeSessions() {
  if (!g_sessions) return;
  // The sessions still use the list while they stop.
  g_sessions->FreeSessions();
  g_sessions.reset();
}

}  // namespace tessera
