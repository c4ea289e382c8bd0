#include "engine/storage/core/EngineSession.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "tests/engine/storage/StorageTestSupport.h"

namespace tessera {
namespace {

using testing::EngineCode;

TEST(EngineSessionTest, StartStopAndNotInitialized) {
  ShutdownEngine();  // no-op when not started
  EXPECT_EQ(PeekEngineSession(), nullptr);
  EXPECT_EQ(EngineCode([] { GetEngineSession(); }), kErrNotInitialized);
  EXPECT_EQ(EngineCode([] { SetEnginePrivateDirectory("/tmp"); }), kErrNotInitialized);
  EXPECT_EQ(EngineCode([] { GetEnginePrivateDirectory(); }), kErrNotInitialized);

  InitializeEngine();
  TFileSession* first = GetEngineSession();
  ASSERT_NE(first, nullptr);
  first->AddPassword("kept");
  InitializeEngine();  // a second start changes nothing
  EXPECT_EQ(GetEngineSession(), first);
  EXPECT_TRUE(GetEngineSession()->HasPassword("kept"));

  SetEnginePrivateDirectory("/tmp/private");
  EXPECT_EQ(GetEnginePrivateDirectory(), "/tmp/private");
  EXPECT_EQ(first->PrivateDirectory(), "/tmp/private");
  // A cut directory would put temporary tables elsewhere: refused whole.
  EXPECT_EQ(EngineCode([] { SetEnginePrivateDirectory("/" + std::string(255, 'd')); }),
            kErrInvalidPath);
  EXPECT_EQ(GetEnginePrivateDirectory(), "/tmp/private");

  ShutdownEngine();
  EXPECT_EQ(EngineCode([] { GetEngineSession(); }), kErrNotInitialized);
  // A restart brings a fresh session.
  InitializeEngine();
  EXPECT_FALSE(GetEngineSession()->HasPassword("kept"));
  EXPECT_EQ(GetEnginePrivateDirectory(), "");
  ShutdownEngine();
}

TEST(EngineSessionTest, SessionsSwitchAndShutdownFreesTheDefaultOne) {
  InitializeEngine();
  TFileSession* engine_own = GetEngineSession();
  TFileSession* other = nullptr;
  EXPECT_EQ(CreateFileSession(other), other);
  ASSERT_NE(other, nullptr);
  ASSERT_NE(other, engine_own);

  SetEngineSession(other);
  EXPECT_EQ(GetEngineSession(), other);
  SetEnginePrivateDirectory("/o");
  EXPECT_EQ(other->PrivateDirectory(), "/o");
  EXPECT_EQ(engine_own->PrivateDirectory(), "");
  // Errors land in the current session only.
  EXPECT_THROW(RaiseEngineError(kErrFileInUse, "O.DAT"), ETesseraEngineError);
  EXPECT_EQ(other->ErrorDataFile(), "O.DAT");
  EXPECT_EQ(engine_own->ErrorCode(), 0);

  // Shutting down with another session current frees the engine's own one (the sanitizer build
  // reports a leak otherwise) and leaves `other` to its creator.
  ShutdownEngine();
  EXPECT_EQ(EngineCode([] { GetEngineSession(); }), kErrNotInitialized);
  other->AddPassword("still alive");
  EXPECT_TRUE(other->HasPassword("still alive"));
  FreeFileSession(other);  // once, and no double free
  FreeFileSession(nullptr);
}

TEST(EngineSessionTest, FreeingTheCurrentSessionFallsBackToTheDefault) {
  InitializeEngine();
  TFileSession* engine_own = GetEngineSession();
  TFileSession* other = nullptr;
  CreateFileSession(other);
  SetEngineSession(other);
  FreeFileSession(other);
  EXPECT_EQ(GetEngineSession(), engine_own);
  // The engine's own session is freed only at shutdown.
  FreeFileSession(engine_own);
  EXPECT_EQ(GetEngineSession(), engine_own);
  engine_own->AddPassword("x");
  EXPECT_TRUE(engine_own->HasPassword("x"));
  // No current session at all reads as not initialized rather than as a null session.
  SetEngineSession(nullptr);
  EXPECT_EQ(EngineCode([] { GetEngineSession(); }), kErrNotInitialized);
  ShutdownEngine();
}

TEST(EngineSessionTest, SessionPasswordsRefuseDuplicates) {
  TFileSession session;
  session.AddPassword("Secret");
  session.AddPassword("Secret");
  session.AddPassword("");
  EXPECT_EQ(session.Passwords().Count(), 1);
  EXPECT_TRUE(session.HasPassword("Secret"));
  EXPECT_FALSE(session.HasPassword("secret"));
  session.AddPassword("secret");
  EXPECT_EQ(session.Passwords().Count(), 2);
  session.RemovePassword("Secret");
  EXPECT_FALSE(session.HasPassword("Secret"));
  EXPECT_TRUE(session.HasPassword("secret"));
  session.RemoveAllPasswords();
  EXPECT_EQ(session.Passwords().Count(), 0);
}

TEST(EngineSessionTest, SessionOwnsItsMemoryFiles) {
  TFileSession* session = nullptr;
  CreateFileSession(session);
  TMemoryFile* file = nullptr;
  const int32_t handle = session->MemoryFiles().CreateFile("/mem/T.DAT", file);
  ASSERT_GT(handle, 0);
  ASSERT_TRUE(file->WriteAt(0, "abc", 3));
  file->CloseHandle(handle);
  EXPECT_TRUE(session->MemoryFiles().FileExists("/mem/t.dat"));
  FreeFileSession(session);  // the file and its data go with the session
}

}  // namespace
}  // namespace tessera
