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
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "classlib/rtl/Classes.h"
#include "classlib/rtl/TComponent.h"

namespace tessera {

class TTesseraSession;

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
