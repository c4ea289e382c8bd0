#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/db/DBConsts.h"
#include "classlib/rtl/Loader.h"
#include "engine/components/TTesseraSession.h"
#include "tests/engine/components/ComponentTestSupport.h"

namespace tessera {
namespace {

using testing::ErrorOf;
using testing::FakeDataSet;
using testing::SessionTest;

const char* const kOpenDatabase = "Cannot perform this operation on an open database.";

TTesseraDatabase* Declare(cl::TComponent* owner, const std::string& name) {
  auto* database = cl::Create<TTesseraDatabase>(owner);
  database->SetDatabaseName(name);
  return database;
}

TEST_F(SessionTest, UndeclaredNamesOpenThroughTemporaryDatabases) {
  cl::TComponent form(nullptr);
  struct Case {
    const char* name;
    const char* directory;
  };
  // A name that holds a path separator, a drive colon or a backslash is the directory itself.
  const Case cases[] = {{"Mirvel", ""},       {"/data/mirvel", "/data/mirvel"},
                        {"data/x", "data/x"}, {"C:\\Data", "C:\\Data"},
                        {"x:y", "x:y"},       {"", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto* dataset = cl::Create<FakeDataSet>(&form);
    dataset->Open(c.name);
    TTesseraDatabase* database = dataset->Database();
    EXPECT_TRUE(database->Temporary());
    EXPECT_TRUE(database->Connected());
    EXPECT_EQ(database->Owner(), Default());
    EXPECT_EQ(database->Directory(), c.directory);
    EXPECT_EQ(database->UseCount(), 1);
    EXPECT_EQ(Default()->DatabaseCount(), 1);
    // A second dataset of that name shares it; the last one to close frees it.
    auto* second = cl::Create<FakeDataSet>(&form);
    second->Open(c.name);
    EXPECT_EQ(second->Database(), database);
    EXPECT_EQ(database->UseCount(), 2);
    second->CloseDatabaseUse();
    dataset->CloseDatabaseUse();
    EXPECT_EQ(Default()->DatabaseCount(), 0);
  }
  // Unless the session keeps its connections.
  Default()->SetKeepConnections(true);
  auto* dataset = cl::Create<FakeDataSet>(&form);
  dataset->Open("Kept");
  TTesseraDatabase* kept = dataset->Database();
  dataset->CloseDatabaseUse();
  ASSERT_EQ(Default()->FindDatabase("KEPT"), kept);
  EXPECT_TRUE(kept->Connected());
  EXPECT_EQ(kept->UseCount(), 0);
  // A temporary database that fails to open does not stay behind.
  Default()->SetOnDatabaseEvent([](TDatabaseEvent event, TTesseraDatabase*) {
    if (event == TDatabaseEvent::kOpen) cl::DatabaseError("refused");
  });
  auto* refused = cl::Create<FakeDataSet>(&form);
  EXPECT_EQ(ErrorOf([&] { refused->Open("Refused"); }), "refused");
  EXPECT_EQ(Default()->FindDatabase("Refused"), nullptr);
  EXPECT_EQ(Default()->DatabaseCount(), 1);
  // Stopping the session frees its temporary databases.
  Default()->Close();
  EXPECT_EQ(Default()->DatabaseCount(), 0);
}

TEST_F(SessionTest, DeclaredNamesAreCheckedAndSharedOnlyWhenBothAgree) {
  cl::TComponent form(nullptr), module(nullptr);
  TTesseraDatabase* mirvel = Declare(&form, "Mirvel");
  EXPECT_EQ(mirvel->Session(), Default());
  EXPECT_EQ(mirvel->SessionName(), "Default");
  for (const char* path : {"/data/mirvel", "C:\\Data", "a:b"}) {
    EXPECT_EQ(ErrorOf([&] { mirvel->SetDatabaseName(path); }),
              std::string("Database name ") + path + " is not valid.");
  }
  EXPECT_EQ(mirvel->DatabaseName(), "Mirvel");
  auto* unnamed = cl::Create<TTesseraDatabase>(&form);
  EXPECT_EQ(ErrorOf([&] { unnamed->Open(); }), "Database name is missing.");
  EXPECT_EQ(ErrorOf([&] { unnamed->SetDatabaseName("MIRVEL"); }),
            "Database name MIRVEL already exists.");

  // Two HandleShared databases may share a name; the second to connect shares the connection.
  mirvel->SetHandleShared(true);
  TTesseraDatabase* twin = cl::Create<TTesseraDatabase>(&module);
  twin->SetHandleShared(true);
  twin->SetDatabaseName("mirvel");
  mirvel->Open();
  EXPECT_TRUE(Default()->Active());
  twin->Open();
  EXPECT_EQ(twin->Connection(), mirvel->Connection());
  // Each serves the datasets of its own owner.
  auto* on_module = cl::Create<FakeDataSet>(&module);
  on_module->Open("Mirvel");
  EXPECT_EQ(on_module->Database(), twin);
  auto* on_form = cl::Create<FakeDataSet>(&form);
  on_form->Open("Mirvel");
  EXPECT_EQ(on_form->Database(), mirvel);

  // Setters that need a closed database.
  EXPECT_EQ(ErrorOf([&] { mirvel->SetDirectory("/elsewhere"); }), kOpenDatabase);

  // An unused temporary database gives its name up to a declared one; one in use does not.
  Default()->SetKeepConnections(true);
  auto* user = cl::Create<FakeDataSet>(&form);
  user->Open("Archive");
  TTesseraDatabase* archive = user->Database();
  EXPECT_EQ(ErrorOf([&] { Declare(&form, "Archive"); }), "Database name Archive already exists.");
  user->CloseDatabaseUse();
  EXPECT_EQ(Default()->FindDatabase("Archive"), archive);
  TTesseraDatabase* declared = Declare(&form, "Archive");
  EXPECT_EQ(Default()->FindDatabase("Archive"), declared);
  EXPECT_FALSE(declared->Temporary());
}

TEST_F(SessionTest, ClosingClosesDatasetsLastFirstAndSendsEvents) {
  std::vector<std::string> events;
  Default()->SetOnDatabaseEvent([&](TDatabaseEvent event, TTesseraDatabase* db) {
    const char* names[] = {"open", "close", "add", "remove"};
    events.push_back(std::string(names[static_cast<int>(event)]) + " " + db->DatabaseName());
  });
  cl::TComponent form(nullptr);
  TTesseraDatabase* mirvel = Declare(&form, "Mirvel");
  mirvel->SetKeepConnection(true);
  mirvel->SetDirectory("/data");
  std::vector<std::string> closed;
  for (const char* name : {"Users", "Messages", "Stamp"}) {
    auto* dataset = cl::Create<FakeDataSet>(&form, &closed);
    dataset->SetName(name);
    dataset->Open("Mirvel");
  }
  EXPECT_EQ(mirvel->UseCount(), 3);
  EXPECT_EQ(mirvel->DataSetCount(), 3);
  EXPECT_EQ(mirvel->Directory(), "/data");
  mirvel->Close();
  EXPECT_EQ(closed, (std::vector<std::string>{"Stamp", "Messages", "Users"}));
  EXPECT_FALSE(mirvel->Connected());
  EXPECT_EQ(mirvel->UseCount(), 0);
  EXPECT_EQ(mirvel->DataSetCount(), 0);
  EXPECT_EQ(events, (std::vector<std::string>{"add ", "open Mirvel", "close Mirvel"}));

  // KeepConnection turned off while nothing uses the database closes it.
  mirvel->Open();
  mirvel->SetKeepConnection(false);
  EXPECT_FALSE(mirvel->Connected());
  // And without it, the last dataset to close closes it.
  auto* dataset = cl::Create<FakeDataSet>(&form);
  dataset->Open("Mirvel");
  EXPECT_TRUE(mirvel->Connected());
  dataset->CloseDatabaseUse();
  EXPECT_FALSE(mirvel->Connected());
  events.clear();
  mirvel->Free();
  EXPECT_EQ(events, (std::vector<std::string>{"remove Mirvel"}));
}

TEST_F(SessionTest, ClosingATemporaryDatabaseWhileItsDatasetsReleaseIt) {
  // Each dataset's release would free the database that is closing them: it stays, closed.
  cl::TComponent form(nullptr);
  auto* first = cl::Create<FakeDataSet>(&form);
  auto* second = cl::Create<FakeDataSet>(&form);
  first->Open("/data/tmp");
  second->Open("/data/tmp");
  TTesseraDatabase* temporary = first->Database();
  temporary->Close();
  EXPECT_EQ(first->Database(), nullptr);
  EXPECT_EQ(second->Database(), nullptr);
  ASSERT_EQ(Default()->FindDatabase("/data/tmp"), temporary);
  EXPECT_FALSE(temporary->Connected());
  // Opened again by name, it is used and freed as usual.
  first->Open("/data/tmp");
  EXPECT_EQ(first->Database(), temporary);
  first->CloseDatabaseUse();
  EXPECT_EQ(Default()->DatabaseCount(), 0);
}

TEST_F(SessionTest, DatabasesOfAFreedSessionForgetIt) {
  cl::TComponent form(nullptr);
  auto* session = cl::Create<TTesseraSession>(&form);
  session->SetSessionName("Work");
  TTesseraDatabase* database = Declare(&form, "Mirvel");
  database->SetSessionName("work");
  EXPECT_EQ(database->Session(), session);
  EXPECT_EQ(Default()->DatabaseCount(), 0);
  database->Open();
  EXPECT_TRUE(session->Active());
  session->Free();
  EXPECT_EQ(database->Session(), nullptr);
  EXPECT_FALSE(database->Connected());
  // Opening again needs the session by its name.
  EXPECT_EQ(ErrorOf([&] { database->Open(); }), "Session name work is not valid.");
  database->SetSessionName("");
  database->Open();
  EXPECT_EQ(database->Session(), Default());
}

TEST_F(SessionTest, ALoadedModuleConnectsOnceEverythingIsRead) {
  // The database is read before the session it names, with an automatic session name.
  cl::TComponent module(nullptr);
  cl::TLoader loader(&module);
  auto* database = loader.Create<TTesseraDatabase>(&module, "Database1");
  database->SetDatabaseName("Mirvel");
  database->SetConnected(true);
  auto* session = loader.Create<TTesseraSession>(&module, "Session1");
  session->SetAutoSessionName(true);
  session->SetActive(true);
  EXPECT_FALSE(session->Active());
  EXPECT_FALSE(database->Connected());
  EXPECT_EQ(database->SessionName(), "Session1_1");
  loader.Finish();
  EXPECT_TRUE(session->Active());
  EXPECT_TRUE(database->Connected());
  EXPECT_EQ(database->Session(), session);
  EXPECT_EQ(Default()->DatabaseCount(), 0);
}

}  // namespace
}  // namespace tessera
