// Sessions and databases: the components that stand for engine sessions, the process's list of
// them, and the named directories of table files inside a session.
//
// An active TTesseraSession holds one engine session (TFileSession: private directory, table
// passwords, error context, in-memory files).  The first session of the process, "Default",
// takes the engine's own and starts and stops the engine with it; every other session makes its
// own and needs the default one active first.  The engine works on one current session for the
// whole process, so every engine call made for a session follows MakeCurrent or runs between
// Lock and Unlock.
//
// Life cycle, under the process-wide session lock:
//
//   inactive --SetActive(true), StartSession--> active    OnStartup, name check, default
//                                                          session first, engine session made
//                                                          or taken, PrivateDir applied
//   active   --SetActive(false), StopSession--> inactive  temporary databases freed and the
//                                                          others closed, last first; engine
//                                                          session freed (or engine stopped)
//
// A start that fails half-way gives back what it made and leaves the session inactive.
//
// Ownership.  The session list holds every session; sessions still there at finalisation are
// freed by it, last first (a session with an owner leaves the owner then).  A session owns the
// temporary databases it makes for datasets that name an undeclared database; other databases
// are only bound to it, and forget it when it is freed.
//
// Known limit: stopping the default session stops the engine even while other sessions are
// active; their engine calls then raise 10758 until the default session starts again.
//
// Threads: the components are used from the GUI thread.  The session lock is one re-entrant
// critical section for the process, and Lock is re-entrant per session through its count.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/rtl/Classes.h"
#include "classlib/rtl/TComponent.h"
#include "platform/CriticalSection.h"

namespace tessera {

class TFileSession;
class TTesseraDatabase;

// The session's database notifications.
enum class TDatabaseEvent { kOpen = 0, kClose = 1, kAdd = 2, kRemove = 3 };
using TDatabaseEventHandler = std::function<void(TDatabaseEvent event, TTesseraDatabase* db)>;

class TTesseraSession;

// Asked for a password: `proceed` starts false; set it to true after adding a password to ask
// the engine to look again.
using TTesseraPasswordEvent = std::function<void(cl::TObject* sender, bool& proceed)>;

// The password request used when a session has no OnPassword handler (the user interface sets
// the password dialog here).  True asks the engine to look again.
using TDefaultPasswordRequest = std::function<bool(TTesseraSession& session)>;
void SetDefaultPasswordRequest(TDefaultPasswordRequest request);

class TTesseraSession : public cl::TComponent {
 public:
  // Raises SAutoSessionExists when the owner already holds a session with AutoSessionName on.
  // REQUIRES: the session list exists (InitializeSessions).
  explicit TTesseraSession(cl::TComponent* owner);
  // Stops the session (an error goes to the application's handler) and leaves the list.
  ~TTesseraSession() override;

  const char* EngineVersion() const;
  void SetEngineVersion(const std::string&) {}

  bool Active() const { return engine_session_ != nullptr; }
  // While the component is being read, only stores the value for Loaded.
  void SetActive(bool value);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }

  const std::string& SessionName() const { return session_name_; }
  void SetSessionName(const std::string& name);
  bool AutoSessionName() const { return auto_session_name_; }
  void SetAutoSessionName(bool value);
  bool KeepConnections() const { return keep_connections_; }
  void SetKeepConnections(bool value) { keep_connections_ = value; }
  bool IsDefault() const { return default_; }

  // The directory for temporary tables, as it was set (or as the engine holds it).
  std::string PrivateDir();
  void SetPrivateDir(const std::string& directory);

  // Re-entrant: the first Lock enters the session lock and makes the session current (starting
  // it when inactive); the matching last Unlock leaves the lock.
  void Lock();
  void Unlock();
  // Starts the session when inactive, else makes its engine session the current one.
  void MakeCurrent();
  // The engine session; nullptr while inactive.
  TFileSession* EngineSession() const { return engine_session_; }

  // The database `name` for `requester`: a HandleShared database of the requester's owner, else
  // the first of that name, else a new temporary one.  Opens it and counts one more use.
  TTesseraDatabase* OpenDatabase(std::string_view name, cl::TComponent* requester);
  // One use less (never below 0); at 0, unless the database keeps its connection, a temporary
  // one is freed and any other closed.
  void CloseDatabase(TTesseraDatabase* database);
  // The first database of that name (ignoring case); one with an empty name only when temporary.
  TTesseraDatabase* FindDatabase(std::string_view name) const;
  int DatabaseCount() const { return static_cast<int>(databases_.size()); }
  TTesseraDatabase* Databases(int index) const;

  // Under Lock, on the engine session's password list (passwords are cut to 255 characters).
  void AddPassword(const std::string& password);
  void RemovePassword(const std::string& password);
  void RemoveAllPasswords();
  // The engine's password callback: OnPassword when assigned, else the default request, else
  // false at once (nothing waits for a display).  True asks the engine to look again.
  bool PasswordRequest();

  const TTesseraPasswordEvent& OnPassword() const { return on_password_; }
  void SetOnPassword(TTesseraPasswordEvent handler) { on_password_ = std::move(handler); }
  const cl::TNotifyEvent& OnStartup() const { return on_startup_; }
  void SetOnStartup(cl::TNotifyEvent handler) { on_startup_ = std::move(handler); }
  void SetOnDatabaseEvent(TDatabaseEventHandler handler) {
    on_database_event_ = std::move(handler);
  }

  // Follows its own renaming when AutoSessionName is on.
  void SetName(const std::string& name) override;

 protected:
  void Loaded() override;
  void Notification(cl::TComponent* component, cl::TOperation operation) override;

 private:
  friend class TTesseraDatabase;
  friend class TTesseraSessionList;

  void StartSession();
  void StopSession();
  // Frees the engine session (stops the engine for the default session); nothing when inactive.
  void ReleaseEngineSession();
  void CheckInactive() const;
  // Names the session "<Name>_<number + 1>" and gives the name to the owner's databases and
  // datasets.
  void UpdateSessionName();
  void ReleaseAutoNumber();
  void AddDatabase(TTesseraDatabase* database);
  void RemoveDatabase(TTesseraDatabase* database);
  void DatabaseEvent(TDatabaseEvent event, TTesseraDatabase* database);

  TFileSession* engine_session_ = nullptr;
  std::vector<TTesseraDatabase*> databases_;
  bool streamed_active_ = false;
  bool keep_connections_ = false;
  bool default_ = false;
  bool auto_session_name_ = false;
  bool updating_name_ = false;
  int auto_number_ = -1;
  std::string session_name_;
  std::string private_dir_;
  int lock_count_ = 0;
  cl::TNotifyEvent on_startup_;
  TTesseraPasswordEvent on_password_;
  TDatabaseEventHandler on_database_event_;
};

// Holds a session's Lock for one scope.
class TSessionLock {
 public:
  explicit TSessionLock(TTesseraSession& session) : session_(session) { session_.Lock(); }
  ~TSessionLock() { session_.Unlock(); }
  TSessionLock(const TSessionLock&) = delete;
  TSessionLock& operator=(const TSessionLock&) = delete;

 private:
  TTesseraSession& session_;
};

// The process's sessions in creation order, the automatic session numbers in use and the session
// lock.  The first session added is the default one.
class TTesseraSessionList {
 public:
  TTesseraSessionList() = default;
  // Frees the sessions still listed, last first.
  ~TTesseraSessionList();
  TTesseraSessionList(const TTesseraSessionList&) = delete;
  TTesseraSessionList& operator=(const TTesseraSessionList&) = delete;

  int Count() const { return static_cast<int>(sessions_.size()); }
  TTesseraSession* Sessions(int index) const;
  TTesseraSession* DefaultSession() const { return default_session_; }

  // The session of that name (ignoring case); the default session for ""; nullptr for none.
  TTesseraSession* FindSession(std::string_view name) const;
  // As FindSession, but raises SInvalidSessionName instead of answering nullptr.
  TTesseraSession* GetSession(std::string_view name) const;

  platform::CriticalSection& SessionLock() { return lock_; }

  // Frees every listed session, last first.
  void FreeSessions();

 private:
  friend class TTesseraSession;

  void Add(TTesseraSession* session);
  void Remove(TTesseraSession* session);
  // The lowest automatic number not in use, now taken.
  int TakeAutoNumber();
  void ReleaseAutoNumber(int number);

  std::vector<TTesseraSession*> sessions_;
  TTesseraSession* default_session_ = nullptr;
  std::vector<bool> auto_numbers_;
  platform::CriticalSection lock_;
};

// The session list.  REQUIRES: InitializeSessions ran (raises cl::EDatabaseError otherwise).
TTesseraSessionList& Sessions();

// The unit's start: the session list and its default session "Default" (nothing when they
// exist).  The start-up file registers these with the units of the program.
void InitializeSessions();
// Frees the list and every session in it (stopping the engine with the default session).
void FinalizeSessions();

// The database component: a named directory of table files inside a session.
//
// Datasets find a database by DatabaseName through their session, build their file names from
// its Directory and register with it, so that closing the database closes them.  There is no
// engine handle behind a database: being connected is a state of the component.
//
//   closed --Open (BeforeConnect, name check, session bound and started,
//                  a HandleShared twin's connection shared, else "open" under Lock)--> connected
//   connected --Close ("close", registered datasets closed last first,
//                      connection and use count 0)--> closed
//
// Ownership: a database belongs to its owner (a session for the temporary databases a session
// makes); it is bound to the session that SessionName names, lists the datasets that use it and
// owns none of them.  Destroying it closes it and takes it out of its session.
//
// Threads: GUI thread only; only the "open" step takes the session's Lock.
// What a database and its session see of an engine dataset that uses the database; the engine
// dataset implements it.  A database lists its users and never owns them.
class TDatabaseUser {
 public:
  // Closes the dataset.  The dataset takes itself out of the database's list
  // (UnregisterDataSet) and gives its use back (TTesseraSession::CloseDatabase) as it closes.
  virtual void CloseDatabaseUse() = 0;
  virtual const std::string& SessionName() const = 0;
  virtual void SetSessionName(const std::string& name) = 0;

 protected:
  ~TDatabaseUser() = default;
};

// True when a database name is a directory rather than a name: empty, or holding "/" (the
// separator), ":" or "\".
bool IsDatabasePath(std::string_view name);

class TTesseraDatabase : public cl::TComponent {
 public:
  // Binds to `owner` when it is a session, else to the default session, and takes that session's
  // name.  REQUIRES: the session list exists (InitializeSessions).
  explicit TTesseraDatabase(cl::TComponent* owner);
  // Closes the database (an error goes to the application's handler) and leaves its session.
  ~TTesseraDatabase() override;

  const char* EngineVersion() const;
  void SetEngineVersion(const std::string&) {}

  bool Connected() const { return connection_ != 0; }
  // While the component is being read, only stores the value for Loaded.
  void SetConnected(bool value);
  void Open();
  void Close();

  const std::string& DatabaseName() const { return database_name_; }
  // REQUIRES a closed database; a declared (not temporary) database refuses a path.
  void SetDatabaseName(const std::string& name);
  // For a temporary database named by a path, that path; otherwise the Directory property.
  std::string Directory() const;
  // REQUIRES a closed database.
  void SetDirectory(const std::string& directory);
  const std::string& SessionName() const { return session_name_; }
  // REQUIRES a closed database.  Binds to the session of that name when it exists.
  void SetSessionName(const std::string& name);
  bool HandleShared() const { return handle_shared_; }
  void SetHandleShared(bool value) { handle_shared_ = value; }
  bool KeepConnection() const { return keep_connection_; }
  // Turning it off while no dataset uses the database closes it.
  void SetKeepConnection(bool value);
  const cl::TNotifyEvent& BeforeConnect() const { return before_connect_; }
  void SetBeforeConnect(cl::TNotifyEvent handler) { before_connect_ = std::move(handler); }

  // The bound session; nullptr after that session was freed.
  TTesseraSession* Session() const { return session_; }
  // Made by a session for a dataset that named an undeclared database.
  bool Temporary() const { return temporary_; }
  // How many dataset openings hold the database.
  int UseCount() const { return use_count_; }
  // 0 when closed; 1, or the value of the database whose connection it shares.
  int Connection() const { return connection_; }

  // The datasets that use the database, in order of registration.
  void RegisterDataSet(TDatabaseUser* dataset);
  void UnregisterDataSet(TDatabaseUser* dataset);
  int DataSetCount() const { return static_cast<int>(datasets_.size()); }
  TDatabaseUser* DataSets(int index) const;

 protected:
  void Loaded() override;

 private:
  friend class TTesseraSession;

  void CheckInactive() const;
  // Looks up the session SessionName names (raising for an unknown name when `opening`), moves
  // to it when it is another one, and starts it when `opening`.
  void BindSession(bool opening);
  // Refuses `name` when another database of `session` holds it (two HandleShared ones may); an
  // unused temporary database of that name is freed instead.
  void CheckDuplicateName(TTesseraSession* session, const std::string& name);

  std::vector<TDatabaseUser*> datasets_;
  bool keep_connection_ = true;
  bool temporary_ = false;
  bool streamed_connected_ = false;
  bool handle_shared_ = false;
  bool closing_ = false;
  int use_count_ = 0;
  int connection_ = 0;
  TTesseraSession* session_ = nullptr;
  std::string session_name_;
  std::string database_name_;
  std::string directory_;
  cl::TNotifyEvent before_connect_;
};

}  // namespace tessera
