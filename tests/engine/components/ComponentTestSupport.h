// Shared by the engine component tests: a fixture with a fresh session list, a stand-in for the
// engine dataset's database use, and the message of the error an action raises.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/TComponent.h"
#include "engine/components/TTesseraSession.h"

namespace tessera::testing {

// Each test starts with the unit initialised ("Default" only, engine stopped) and ends with it
// finalised.
class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeSessions(); }
  void TearDown() override { FinalizeSessions(); }
  TTesseraSession* Default() { return Sessions().DefaultSession(); }
};

// The message of the cl::Exception `action` raises; "" when it raises none.
inline std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const cl::Exception& e) {
    return e.Message();
  }
  return "";
}

// Uses a database the way an engine dataset does: opens it through the session named by its
// SessionName, registers, and on close unregisters and gives its use back.  Each close is
// written to `log`.
class FakeDataSet : public cl::TComponent, public TDatabaseUser {
 public:
  FakeDataSet(cl::TComponent* owner, std::vector<std::string>* log = nullptr)
      : cl::TComponent(owner), log_(log) {}
  ~FakeDataSet() override { CloseDatabaseUse(); }

  void Open(const std::string& database_name) {
    database_ = Sessions().GetSession(session_name_)->OpenDatabase(database_name, this);
    database_->RegisterDataSet(this);
  }
  void CloseDatabaseUse() override {
    if (database_ == nullptr) return;
    TTesseraDatabase* database = database_;
    database_ = nullptr;
    if (log_ != nullptr) log_->push_back(Name());
    database->UnregisterDataSet(this);
    if (database->Session() != nullptr) database->Session()->CloseDatabase(database);
  }
  const std::string& SessionName() const override { return session_name_; }
  void SetSessionName(const std::string& name) override { session_name_ = name; }
  TTesseraDatabase* Database() const { return database_; }

 private:
  std::vector<std::string>* log_;
  TTesseraDatabase* database_ = nullptr;
  std::string session_name_;
};

}  // namespace tessera::testing
