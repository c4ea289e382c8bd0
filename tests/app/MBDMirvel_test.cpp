// The database module: connection and disconnection, the change timer and its fatal path, and the
// retried field writes.
#include "app/MBDMirvel.h"

#include <fstream>

#include "app/DlgChoixDatabaseMirvel.h"
#include "classlib/forms/Forms.h"
#include "classlib/rtl/Cp1252.h"
#include "tests/app/ModulesFixture.h"

namespace mirvel {
namespace {

using mirvel_test::HaltCalled;

class DatabaseModuleTest : public mirvel_test::ModulesTest {};

TEST_F(DatabaseModuleTest, ConnectionStates) {
  enum Setup { kKnown, kNewLogin, kEmptyLogin, kNoUsersTable, kUnreadMessage };
  struct Case {
    Setup setup;
    bool connected;
    int user;
  };
  for (const Case& c :
       {Case{kKnown, true, 1}, Case{kNewLogin, true, 2}, Case{kEmptyLogin, false, -1},
        Case{kNoUsersTable, false, -1}, Case{kUnreadMessage, true, 1}}) {
    SCOPED_TRACE(c.setup);
    TearDown();
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
      std::filesystem::remove_all(entry.path());
    }
    SetUp();
    if (c.setup == kNewLogin) setenv("MIRVEL_LOGIN", "durand", 1);
    // An empty variable falls back to the system's name, which is made empty here.
    if (c.setup == kEmptyLogin) setenv("MIRVEL_LOGIN", "", 1);
    if (c.setup == kEmptyLogin) comp::SetIdentityProvider(nullptr, [] { return std::string(); });
    if (c.setup == kNoUsersTable) std::filesystem::remove(Db() + "/Users.DAT");
    if (c.setup == kUnreadMessage) {
      tessera::TTesseraTable messages(nullptr);
      messages.SetDatabaseName(Db());
      messages.SetTableName("Messages.DAT");
      messages.Open();
      messages.AppendRecord({cl::Variant::FromDate(now_ - 1), "x", 1, cl::Variant(), cl::Variant(),
                             cl::Variant(), cl::Variant(), 2, cl::Variant(), "s", 0});
    }
    const bool raises = c.setup == kEmptyLogin || c.setup == kNoUsersTable;
    if (raises) {
      EXPECT_ANY_THROW(db_->Connect());
    } else {
      db_->Connect();
    }
    comp::SetIdentityProvider(nullptr, nullptr);
    EXPECT_EQ(Count(LogText(), "Nom de connexion vide : connexion impossible"),
              c.setup == kEmptyLogin ? 1 : 0);
    EXPECT_EQ(db_->FConnected, c.connected);
    EXPECT_EQ(db_->BDMirvel->Connected(), c.connected);
    EXPECT_EQ(db_->TimerMAJ->Enabled(), c.connected);
    EXPECT_EQ(db_->FCurrentUser, c.user);
    EXPECT_FALSE(db_->FConnecting);
    EXPECT_EQ(db_->FUnreadAtConnect, c.setup == kUnreadMessage);
    ASSERT_FALSE(windows_.looks.empty());
    EXPECT_EQ(windows_.looks.back(), c.connected);
    if (!c.connected) continue;
    EXPECT_EQ(dm_->TableUtilisateursStatut->AsInteger(), 1);
    EXPECT_EQ(dm_->TableUtilisateursNomComplet->AsString(),
              c.setup == kNewLogin ? "durand" : "Jean Dupont");
    db_->Disconnect();
    EXPECT_FALSE(db_->BDMirvel->Connected());
    EXPECT_EQ(db_->FCurrentUser, -1);
    EXPECT_EQ(windows_.looks.back(), false);
    dm_->TableUtilisateurs->Open();
    ASSERT_TRUE(dm_->TableUtilisateurs->Locate("NoUtilisateur", cl::Variant(c.user), {}));
    EXPECT_EQ(dm_->TableUtilisateursStatut->AsInteger(), 0);
    dm_->TableUtilisateurs->Close();
  }
}

// A directory that does not exist: the dialog opens; Cancel gives EMVBadDirectory with the path
// and leaves the module disconnected, and connecting later works.
TEST_F(DatabaseModuleTest, MissingDirectoryAsksThenRefuses) {
  Register(dir_.Path() + "/gone");
  std::string shown_path;
  cl::AddModalAction([&] {
    for (int i = 0; i < cl::Screen().FormCount(); ++i) {
      if (auto* dlg = dynamic_cast<TDlgChoixDatabaseMirvel*>(cl::Screen().Forms(i))) {
        shown_path = dlg->Path();
        dlg->SetModalResult(cl::mrCancel);
      }
    }
  });
  try {
    db_->ChooseDatabase(false);
    ADD_FAILURE() << "no exception";
  } catch (const EMVBadDirectory& e) {
    EXPECT_EQ(e.Message(),
              "R\xE9pertoire de base de donn\xE9"
              "es inexistant \"" +
                  dir_.Path() + "/gone\"");
  }
  EXPECT_EQ(shown_path, dir_.Path() + "/gone");
  cl::AddModalAction([&] {
    for (int i = 0; i < cl::Screen().FormCount(); ++i) {
      if (auto* dlg = dynamic_cast<TDlgChoixDatabaseMirvel*>(cl::Screen().Forms(i))) {
        dlg->SetModalResult(cl::mrCancel);
      }
    }
  });
  db_->Connect();
  EXPECT_FALSE(db_->FConnected);
  EXPECT_EQ(windows_.looks.back(), false);
  Register(Db());
  db_->Connect();
  EXPECT_TRUE(db_->FConnected);
}

// A registry that refuses the chosen directory: the choice serves this session and the failure
// is logged.
TEST_F(DatabaseModuleTest, UnwritableRegistryKeepsTheChosenDirectory) {
  mirvel_test::WriteFileBytes(dir_.Path() + "/blocked", {'x'});
  setenv("MIRVEL_REGISTRY_DIR", (dir_.Path() + "/blocked/reg").c_str(), 1);
  const std::string log = db_->FileErrorLogApp->FullFileName();
  const size_t log_before = std::filesystem::exists(log) ? std::filesystem::file_size(log) : 0;
  cl::AddModalAction([&] {
    for (int i = 0; i < cl::Screen().FormCount(); ++i) {
      if (auto* dlg = dynamic_cast<TDlgChoixDatabaseMirvel*>(cl::Screen().Forms(i))) {
        dlg->SetPath(Db());
        dlg->SetModalResult(cl::mrOk);
      }
    }
  });
  db_->ChooseDatabase(false);
  EXPECT_EQ(db_->BDMirvel->Directory(), Db());
  ASSERT_TRUE(std::filesystem::exists(log));
  EXPECT_GT(std::filesystem::file_size(log), log_before);
}

TEST_F(DatabaseModuleTest, ChangeTimer) {
  db_->Connect();
  enum Step { kFirstTick, kSameStamp, kOlderStamp, kInTick, kMissingFile };
  struct Case {
    Step step;
    bool minimized;
    std::vector<uint32_t> posted;
    bool pending;
  };
  const std::vector<Case> cases = {
      {kFirstTick, false, {WM_REFRESH_VIEW, WM_CHECK_MESSAGES}, false},
      {kSameStamp, false, {}, false},
      {kOlderStamp, true, {WM_CHECK_MESSAGES}, true},
      {kInTick, false, {}, false},
      {kMissingFile, false, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    windows_.posted.clear();
    windows_.pending = false;
    windows_.minimized = c.minimized;
    if (c.step == kOlderStamp) {
      db_->TableMAJ->Edit();
      db_->TableMAJDateDerniereMAJ->SetAsDateTime(kToday - 3);
      db_->TableMAJ->Post();
    }
    if (c.step == kInTick) db_->FInTimer = true;
    if (c.step == kMissingFile) {
      std::filesystem::rename(Db() + "/MAJTbl.DAT", Db() + "/MAJTbl.OLD");
    }
    const bool enabled_before = db_->TimerMAJ->Enabled();
    db_->TimerMAJTimer(db_->TimerMAJ);
    EXPECT_EQ(windows_.posted, c.posted);
    EXPECT_EQ(windows_.pending, c.pending);
    EXPECT_EQ(db_->TimerMAJ->Enabled(), c.step == kInTick ? enabled_before : true);
    if (c.step == kInTick) db_->FInTimer = false;
  }
  EXPECT_EQ(Count(LogText(),
                  "Impossible de rep\xE9rer le fichier TableMAJ \xE0 l'\xE9x\xE9"
                  "cution"),
            1);
  EXPECT_TRUE(started_.empty());
  std::filesystem::rename(Db() + "/MAJTbl.OLD", Db() + "/MAJTbl.DAT");
}

// The share is gone and even the log cannot be written: the box, then the restart.
TEST_F(DatabaseModuleTest, LostShareWithAnUnwritableLog) {
  db_->Connect();
  std::filesystem::create_directories(dir_.Path() + "/ERROR.LOG");  // no file can go there
  std::filesystem::create_directories(dir_.Path() + "/fallback");
  db_->FallbackLogName = dir_.Path() + "/fallback/ERROR.LOG";
  std::filesystem::rename(Db() + "/MAJTbl.DAT", Db() + "/MAJTbl.OLD");
  EXPECT_THROW(db_->TimerMAJTimer(db_->TimerMAJ), HaltCalled);
  const std::string fallback = mirvel_test::ReadFileText(db_->FallbackLogName);
  EXPECT_EQ(Count(fallback,
                  "Impossible de rep\xE9rer le fichier TableMAJ \xE0 l'\xE9x\xE9"
                  "cution : Pb \xE0 l'\xE9"
                  "criture de l'erreur : "),
            1)
      << fallback;
  EXPECT_EQ(boxes_, std::vector<std::string>{kNetworkLost});
  EXPECT_EQ(started_.size(), 1u);
  EXPECT_EQ(db_->FileErrorLogApp->Filename(), dir_.Path() + "/ERROR.LOG");
  std::filesystem::rename(Db() + "/MAJTbl.OLD", Db() + "/MAJTbl.DAT");
}

// A damaged table met when connecting: the message the user sees, and the log, say that the table
// must be repaired and name the command with the table's file.
TEST_F(DatabaseModuleTest, ADamagedTableAsksForItsRepair) {
  std::ofstream(Db() + "/Messages.DAT", std::ios::app | std::ios::binary) << "xyz";
  std::vector<std::string> shown;
  cl::Application().SetShowExceptionHook([&](cl::Exception& e) { shown.push_back(e.Message()); });
  try {
    db_->Connect();
    ADD_FAILURE() << "the damaged table opened";
  } catch (const cl::Exception&) {
    cl::Application().HandleException(nullptr);
  }
  cl::Application().SetShowExceptionHook(nullptr);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find("# 8961"), std::string::npos) << shown[0];
  EXPECT_NE(shown[0].find("doit \xEAtre r\xE9par\xE9"), std::string::npos) << shown[0];
  EXPECT_NE(shown[0].find("tessera-dump --repair \"" + Db() + "/Messages.DAT\""), std::string::npos)
      << shown[0];
  EXPECT_EQ(Count(LogText(), "tessera-dump --repair"), 1) << LogText();
  EXPECT_FALSE(db_->FConnected);
}

// Any other failure of a tick: logged with the suffix, then the restart ("SHOW", exit 255) unless
// the tick was a direct call, a message is being typed, or the new process cannot start.
TEST_F(DatabaseModuleTest, FatalPath) {
  enum Kind { kTick, kDirect, kTyping, kNoStart };
  for (Kind kind : {kDirect, kTyping, kNoStart, kTick}) {
    SCOPED_TRACE(kind);
    if (!db_->FConnected) db_->Connect();
    started_.clear();
    start_pid_ = kind == kNoStart ? 0 : 4242;
    if (kind == kTyping) {
      dm_->TableMessages->Append();
      dm_->TableMessagesInterlocuteur->SetAsString("en cours");
    }
    db_->TableMAJ->Close();  // the next Refresh fails
    bool halted = false;
    try {
      db_->TimerMAJTimer(kind == kDirect ? static_cast<cl::TObject*>(dm_)
                                         : static_cast<cl::TObject*>(db_->TimerMAJ));
    } catch (const HaltCalled& h) {
      halted = true;
      EXPECT_EQ(h.code, 255);
    }
    EXPECT_EQ(halted, kind == kTick);
    EXPECT_EQ(started_.size(), kind == kTick || kind == kNoStart ? 1u : 0u);
    if (!started_.empty()) {
      EXPECT_EQ(started_[0], "\"" + cl::ParamStr(0) + "\" SHOW");
    }
    // A restart that could not start keeps this program guarded against a second copy.
    EXPECT_EQ(db_->SingleInstance1 == nullptr, kind == kTick);
    if (kind == kNoStart) {
      ASSERT_NE(db_->SingleInstance1, nullptr);
      ASSERT_NE(db_->SingleInstance1->Stream(), nullptr);
      EXPECT_TRUE(db_->SingleInstance1->Stream()->Created());
      comp::TFileMapStream second(db_->SingleInstance1->Stream()->Name(), 4);
      EXPECT_FALSE(second.Created());
    }
    EXPECT_EQ(db_->FConnected, kind != kNoStart);
    EXPECT_FALSE(db_->FInTimer);
    if (kind == kTyping) dm_->TableMessages->Cancel();
    if (db_->BDMirvel->Connected()) db_->TableMAJ->Open();
  }
  EXPECT_EQ(Count(LogText(), " => Erreur fatale dans Timer"), 4);
}

TEST_F(DatabaseModuleTest, SetFieldRetryGivesUpByModeAndCancelsEachFailure) {
  db_->Connect();
  struct Case {
    uint8_t mode;
    int step_ms;  // the clock's advance per failed attempt
    int attempts;
    bool raises;
  };
  for (const Case& c : {Case{0, 10, 101, false}, Case{0, 600, 5, false}, Case{1, 600, 5, true},
                        Case{3, 600, 5, false}}) {
    SCOPED_TRACE(testing::Message() << int(c.mode) << " " << c.step_ms);
    int attempts = 0;
    const cl::TDataSetNotifyEvent saved = dm_->TableUtilisateurs->BeforePost();
    dm_->TableUtilisateurs->SetBeforePost([&](cl::TDataSet*) {
      ++attempts;
      ticks_ += static_cast<uint64_t>(c.step_ms);
      throw cl::EDatabaseError("refus");
    });
    const std::string before = LogText();
    try {
      db_->SetFieldRetry(dm_->TableUtilisateurs, dm_->TableUtilisateursStatut, c.mode,
                         cl::Variant(7));
      EXPECT_FALSE(c.raises);
    } catch (const cl::Exception& e) {
      EXPECT_TRUE(c.raises);
      EXPECT_EQ(e.Message(),
                "Impossible de mettre \xE0 jour le champs Statut de la table Users.DAT");
    }
    dm_->TableUtilisateurs->SetBeforePost(saved);
    EXPECT_EQ(attempts, c.attempts);
    EXPECT_EQ(Count(LogText(), "Erreur : refus, ") - Count(before, "Erreur : refus, "), c.attempts);
    EXPECT_EQ(dm_->TableUtilisateurs->State(), cl::dsBrowse);  // no lock left held
  }
  EXPECT_NE(LogText().find("Erreur : refus, 101 essais"), std::string::npos);
}

}  // namespace
}  // namespace mirvel
