#include "engine/components/TTesseraSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCreation.h"
#include "tests/engine/components/ComponentTestSupport.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/TempDirectory.h"

namespace tessera {
namespace {

using testing::ErrorOf;
using testing::FakeDataSet;
using testing::SessionTest;

TTesseraSession* NewSession(cl::TComponent* owner, const std::string& session_name) {
  auto* session = cl::Create<TTesseraSession>(owner);
  if (!session_name.empty()) session->SetSessionName(session_name);
  return session;
}

TEST_F(SessionTest, FindingSessionsAndTheirNameRules) {
  ASSERT_EQ(Sessions().Count(), 1);
  EXPECT_EQ(Default()->SessionName(), "Default");
  EXPECT_TRUE(Default()->IsDefault());
  EXPECT_FALSE(Default()->Active());
  EXPECT_STREQ(Default()->EngineVersion(), "1.19");
  EXPECT_EQ(Sessions().FindSession(""), Default());
  EXPECT_EQ(Sessions().FindSession("dEFAULT"), Default());
  EXPECT_EQ(Sessions().FindSession("Other"), nullptr);
  EXPECT_EQ(ErrorOf([] { Sessions().GetSession("Other"); }), "Session name Other is not valid.");

  TTesseraSession* other = NewSession(nullptr, "");
  EXPECT_FALSE(other->IsDefault());
  EXPECT_EQ(ErrorOf([&] { other->SetSessionName("DEFAULT"); }),
            "Session name DEFAULT already exists.");
  EXPECT_EQ(ErrorOf([&] { other->Open(); }), "Session name is missing.");
  EXPECT_FALSE(other->Active());
  // OnStartup runs before the name check, so it may name the session.
  other->SetOnStartup([&](cl::TObject*) { other->SetSessionName("Other"); });
  other->Open();
  EXPECT_EQ(Sessions().GetSession("OTHER"), other);
  EXPECT_EQ(ErrorOf([&] { other->SetSessionName("Renamed"); }),
            "Cannot perform this operation on an active session.");
  other->Free();
  EXPECT_EQ(Sessions().Count(), 1);
}

TEST_F(SessionTest, EachSessionKeepsItsOwnEngineSessionAndErrorContext) {
  EXPECT_EQ(PeekEngineSession(), nullptr);
  TTesseraSession* other = NewSession(nullptr, "Other");
  other->Open();
  // The default session started first, with the engine.
  ASSERT_TRUE(Default()->Active());
  ASSERT_NE(other->EngineSession(), nullptr);
  EXPECT_NE(other->EngineSession(), Default()->EngineSession());

  other->MakeCurrent();
  EXPECT_EQ(GetEngineSession(), other->EngineSession());
  EXPECT_THROW(RaiseEngineError(kErrRecordLocked, "A.DAT"), ETesseraEngineError);
  Default()->MakeCurrent();
  EXPECT_THROW(RaiseEngineError(kErrKeyViolation, "B.DAT", "", "I"), ETesseraEngineError);
  EXPECT_EQ(other->EngineSession()->ErrorCode(), kErrRecordLocked);
  EXPECT_EQ(other->EngineSession()->ErrorDataFile(), "A.DAT");
  EXPECT_EQ(Default()->EngineSession()->ErrorCode(), kErrKeyViolation);
  // A code that a lower layer returned is raised with the names of the current session's last
  // error, so each session's datasets report their own tables.
  other->MakeCurrent();
  EXPECT_EQ(ErrorOf([] { CheckEngineResult(kErrRecordLocked); }),
            "Tessera Engine Error # 10258 Record in data file A.DAT is in use by another user");
  Default()->MakeCurrent();
  EXPECT_EQ(ErrorOf([] { CheckEngineStatus(kErrEndOfFile); }),
            "Tessera Engine Error # 8706 End of file encountered in data file B.DAT");

  other->Close();
  EXPECT_EQ(other->EngineSession(), nullptr);
  EXPECT_EQ(GetEngineSession(), Default()->EngineSession());
  // A start that fails part-way gives its engine session back and leaves the session inactive.
  other->SetPrivateDir(std::string(300, 'd'));
  int code = testing::EngineCode([&] { other->Open(); });
  EXPECT_EQ(code, kErrInvalidPath);
  EXPECT_FALSE(other->Active());
  EXPECT_EQ(GetEngineSession(), Default()->EngineSession());

  // A Lock whose start fails, or a session freed inside its Lock, leaves the process-wide lock
  // free for other threads.
  auto lock_is_free = [] {
    auto entered = std::make_shared<std::promise<void>>();
    std::thread([entered, &lock = Sessions().SessionLock()] {
      lock.Enter();
      lock.Leave();
      entered->set_value();
    }).detach();
    return entered->get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  };
  TTesseraSession* unnamed = NewSession(nullptr, "");
  EXPECT_EQ(ErrorOf([&] { unnamed->Lock(); }), "Session name is missing.");
  EXPECT_TRUE(lock_is_free());
  TTesseraSession* doomed = NewSession(nullptr, "Doomed");
  doomed->Lock();
  doomed->Free();
  EXPECT_TRUE(lock_is_free());
}

TEST_F(SessionTest, EngineErrorsReachTheComponentsAsDatabaseErrors) {
  Default()->Open();
  EXPECT_NO_THROW(CheckEngineResult(0));
  EXPECT_TRUE(CheckEngineStatus(0));
  // A lock retry loop catches the same failure many times; the sanitizer build's leak check
  // sees whether anything stays behind.
  int caught = 0;
  for (int i = 0; i < 10000; ++i) {
    try {
      CheckEngineResult(kErrRecordLocked);
    } catch (const cl::EDatabaseError& e) {
      const auto* engine = dynamic_cast<const ETesseraEngineError*>(&e);
      if (engine != nullptr && engine->ErrorCount() == 1 &&
          engine->GetError(0).ErrorCode() == kErrRecordLocked) {
        ++caught;
      }
    }
  }
  EXPECT_EQ(caught, 10000);
}

TEST_F(SessionTest, PrivateDirReadsBackAsItWasSet) {
  // Upper-cased, a Linux path would name another directory.
  TTesseraSession* session = NewSession(nullptr, "Private");
  session->SetPrivateDir("/tmp/Mixed/Case");
  EXPECT_EQ(session->PrivateDir(), "/tmp/Mixed/Case");
  session->Open();
  EXPECT_EQ(session->EngineSession()->PrivateDirectory(), "/tmp/Mixed/Case");
  EXPECT_EQ(session->PrivateDir(), "/tmp/Mixed/Case");
  session->SetPrivateDir("/tmp/Other");
  EXPECT_EQ(session->EngineSession()->PrivateDirectory(), "/tmp/Other");
  // The engine refuses a directory it cannot hold whole; nothing changes.
  EXPECT_EQ(testing::EngineCode([&] { session->SetPrivateDir(std::string(256, 'x')); }),
            kErrInvalidPath);
  EXPECT_EQ(session->PrivateDir(), "/tmp/Other");
}

TEST_F(SessionTest, AutomaticSessionNames) {
  const std::string exclusive =
      "Ne peut activer la propri\xE9t\xE9 AutoSessionName avec plus d'une session sur une fiche ou "
      "un module de donn\xE9"
      "es";
  const std::string cannot_set =
      "Ne peut modifier SessionName alors que AutoSessionName est activ\xE9";
  const std::string cannot_add =
      "Ne peut ajouter une session \xE0 la fiche ou au module donn\xE9"
      "es alors que la session 'Session1_1' a AutoSessionName activ\xE9";

  auto form = std::make_unique<cl::TComponent>(nullptr);
  auto* declared = cl::Create<TTesseraDatabase>(form.get());
  auto* dataset = cl::Create<FakeDataSet>(form.get());
  TTesseraSession* first = NewSession(form.get(), "");
  first->SetName("Session1");
  first->SetAutoSessionName(true);
  EXPECT_EQ(first->SessionName(), "Session1_1");
  // The form's database and dataset follow, and so does one added later.
  EXPECT_EQ(declared->SessionName(), "Session1_1");
  EXPECT_EQ(declared->Session(), first);
  EXPECT_EQ(dataset->SessionName(), "Session1_1");
  auto* later = cl::Create<FakeDataSet>(form.get());
  EXPECT_EQ(later->SessionName(), "Session1_1");
  EXPECT_EQ(ErrorOf([&] { first->SetSessionName("X"); }), cannot_set);
  EXPECT_EQ(ErrorOf([&] { cl::Create<TTesseraSession>(form.get()); }), cannot_add);
  first->SetName("Main");
  EXPECT_EQ(first->SessionName(), "Main_1");
  EXPECT_EQ(dataset->SessionName(), "Main_1");

  // Two sessions on one form cannot take automatic names.
  cl::TComponent module(nullptr);
  TTesseraSession* a = NewSession(&module, "A");
  NewSession(&module, "B");
  EXPECT_EQ(ErrorOf([&] { a->SetAutoSessionName(true); }), exclusive);
  EXPECT_FALSE(a->AutoSessionName());

  // Numbers freed are taken again lowest first.
  cl::TComponent second_form(nullptr), third_form(nullptr);
  TTesseraSession* second = NewSession(&second_form, "");
  second->SetName("Other");
  second->SetAutoSessionName(true);
  EXPECT_EQ(second->SessionName(), "Other_2");
  first->SetAutoSessionName(false);
  TTesseraSession* third = NewSession(&third_form, "");
  third->SetName("Third");
  third->SetAutoSessionName(true);
  EXPECT_EQ(third->SessionName(), "Third_1");
  first->SetAutoSessionName(true);
  EXPECT_EQ(first->SessionName(), "Main_3");
  form.reset();
  EXPECT_EQ(Sessions().FindSession("Main_3"), nullptr);
}

// A session answers the engine's password requests for encrypted tables.
class SessionPasswordTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    Default()->Open();
    TNewTable table;
    table.encrypted = true;
    table.password = "Secret";
    table.fields = {testing::Field(1, "Nom", kFieldString, 10)};
    table.indexes = {testing::Index("", {}, false)};
    TDataFile file;
    file.SetFileName(dir_.File("Crypt"));
    file.SetExclusive(true);
    file.SetupNewTable(table);
  }
  void TearDown() override {
    SetDefaultPasswordRequest(nullptr);
    SessionTest::TearDown();
  }

  // The engine code of opening the table with `session` answering for its password.
  int OpenCode(TTesseraSession* session) {
    session->MakeCurrent();
    TDataFile file;
    file.SetFileName(dir_.File("Crypt"));
    file.SetPasswordEvent([session] { return session->PasswordRequest(); });
    return testing::EngineCode([&] {
      file.Open();
      file.Close();
    });
  }

  mirvel_test::TempDirectory dir_{"session"};
};

TEST_F(SessionPasswordTest, HandlersHooksAndThePasswordList) {
  // Without a handler or a dialog the request answers at once.
  EXPECT_EQ(OpenCode(Default()), kErrPasswordRequired);
  // A handler that claims to have added one without doing so is not asked for ever.
  int asked = 0;
  Default()->SetOnPassword([&](cl::TObject* sender, bool& proceed) {
    EXPECT_EQ(sender, Default());
    EXPECT_FALSE(proceed);
    ++asked;
    proceed = true;
  });
  EXPECT_EQ(OpenCode(Default()), kErrPasswordRequired);
  EXPECT_EQ(asked, 1);

  // The default request (the dialog's place) serves when no handler is set.
  Default()->SetOnPassword(nullptr);
  SetDefaultPasswordRequest([](TTesseraSession& session) {
    session.AddPassword("Secret");
    return true;
  });
  EXPECT_EQ(OpenCode(Default()), 0);
  EXPECT_TRUE(Default()->EngineSession()->HasPassword("Secret"));

  // Passwords are the session's own.
  TTesseraSession* other = NewSession(nullptr, "Other");
  other->SetOnPassword([&](cl::TObject*, bool& proceed) {
    other->AddPassword("Secret");
    proceed = true;
  });
  SetDefaultPasswordRequest(nullptr);
  EXPECT_EQ(OpenCode(other), 0);
  other->RemoveAllPasswords();
  EXPECT_EQ(other->EngineSession()->Passwords().Count(), 0);
  EXPECT_TRUE(Default()->EngineSession()->HasPassword("Secret"));
}

}  // namespace
}  // namespace tessera
