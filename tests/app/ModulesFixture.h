// The two modules on a database made by the creation tool in a temporary directory, offscreen,
// with a recording main window, answered boxes, a settable clock for Now and the retry loops,
// and the process start and Halt replaced by recorders.  Ticks of the change timer are called
// directly (sender TimerMAJ), never waited for.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "app/InitDb.h"
#include "app/MBDMirvel.h"
#include "app/MMirvel.h"
#include "app/RetryClock.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Registry.h"
#include "engine/components/TTesseraSession.h"
#include "tests/app/RecordingWindows.h"
#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace mirvel_test {

struct HaltCalled {
  int code;
};

class ModulesTest : public ::testing::Test {
 protected:
  static constexpr double kToday = 46363.0;  // a Monday

  void SetUp() override {
    tessera::InitializeSessions();
    std::filesystem::create_directories(Run());
    std::filesystem::permissions(Run(), std::filesystem::perms::owner_all);
    setenv("MIRVEL_REGISTRY_DIR", (dir_.Path() + "/reg").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", Run().c_str(), 1);
    setenv("MIRVEL_LOGIN", "dupont", 1);
    std::filesystem::create_directories(Db());
    mirvel::CreateMirvelDatabase(Db(), {"dupont", "Jean Dupont"}, kToday + 0.25);
    Register(Db());
    cl::SetClock([this] { return now_; });
    mirvel::SetRetryClock({[this] { return ticks_; }, [this](int32_t ms) { ticks_ += ms; }});
    cl::SetMessageDlgResponder([this](const cl::TMessageDlgRequest& r) {
      boxes_.push_back(r.text);
      if (answers_.empty()) return cl::mrOk;
      const int answer = answers_.front();
      answers_.pop_front();
      return answer;
    });
    cl::SetHaltHook([](int code) { throw HaltCalled{code}; });
    mirvel::SetStartProcessHook([this](std::string_view command, comp::TProcessInformation& info) {
      started_.emplace_back(command);
      info.ProcessId = start_pid_;
    });
    owner_ = std::make_unique<cl::TComponent>(nullptr);
    db_ = cl::Create<mirvel::TDMBDMirvel>(owner_.get());
    dm_ = cl::Create<mirvel::TDMMirvel>(owner_.get());
  }

  void TearDown() override {
    owner_.reset();
    mirvel::SetStartProcessHook({});
    cl::SetHaltHook({});
    cl::SetMessageDlgResponder({});
    mirvel::SetRetryClock({});
    cl::SetClock(nullptr);
    unsetenv("MIRVEL_LOGIN");
    unsetenv("XDG_RUNTIME_DIR");
    unsetenv("MIRVEL_REGISTRY_DIR");
  }

  std::string Db() const { return dir_.Path() + "/Base"; }
  std::string Run() const { return dir_.Path() + "/run"; }
  std::string LogText() const {
    const std::string log = dir_.Path() + "/ERROR.LOG";
    return std::filesystem::exists(log) ? ReadFileText(log) : "";
  }
  static int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
  void Register(const std::string& path) {
    cl::TRegistry registry;
    registry.SetRootKey(cl::HKEY_LOCAL_MACHINE);
    registry.OpenKey(mirvel::kRegistryKey, true);
    registry.WriteString(mirvel::kRegistryDatabaseValue, path);
  }

  // A user record added through the users table; its number.
  int AddUser(const std::string& login) {
    tessera::TTesseraTable* users = dm_->TableUtilisateurs;
    users->Append();
    dm_->TableUtilisateursNomReseau->SetAsString(login);
    dm_->TableUtilisateursNomComplet->SetAsString(login);
    users->Post();
    return dm_->TableUtilisateursNoUtilisateur->AsInteger();
  }
  // The stored messages as (recipient, DateAppel), read through a table of their own.
  std::vector<std::pair<int, double>> Messages() {
    tessera::TTesseraTable m(nullptr);
    m.SetDatabaseName(Db());
    m.SetTableName("Messages.DAT");
    m.Open();
    std::vector<std::pair<int, double>> out;
    for (m.First(); !m.Eof(); m.Next()) {
      out.emplace_back(m.FieldByName("NoDestinataire")->AsInteger(),
                       m.FieldByName("DateAppel")->AsDateTime());
    }
    return out;
  }

  TempDirectory dir_{"modules"};
  double now_ = kToday + 0.5;
  uint64_t ticks_ = 1000;
  std::deque<int> answers_;
  std::vector<std::string> boxes_;
  std::vector<std::string> started_;
  int start_pid_ = 4242;
  RecordingWindows windows_;
  std::unique_ptr<cl::TComponent> owner_;
  mirvel::TDMBDMirvel* db_ = nullptr;
  mirvel::TDMMirvel* dm_ = nullptr;
};

}  // namespace mirvel_test
