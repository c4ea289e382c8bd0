#include "engine/storage/core/TMemoryFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineCriticalSections.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"

namespace tessera {
namespace {

std::vector<uint8_t> ReadAll(const TMemoryFile& file) {
  std::vector<uint8_t> bytes(static_cast<size_t>(file.Size()));
  EXPECT_EQ(file.ReadAt(0, bytes.data(), file.Size()), file.Size());
  return bytes;
}

TEST(TMemoryFileTest, AllocationRoundsToMultiplesOf65535) {
  TMemoryFile file("A");
  file.SetSize(1);
  EXPECT_EQ(file.Allocated(), 65535);
  file.SetSize(65535);
  EXPECT_EQ(file.Allocated(), 65535);
  file.SetSize(65536);
  EXPECT_EQ(file.Allocated(), 131070);
  EXPECT_EQ(file.Size(), 65536);
  file.SetSize(0);
  EXPECT_EQ(file.Allocated(), 0);
  EXPECT_EQ(file.Size(), 0);
}

TEST(TMemoryFileTest, WriteReadAndTruncateAtOffsets) {
  TMemoryFile file("A");
  std::vector<uint8_t> data(100);
  for (int i = 0; i < 100; ++i) data[i] = static_cast<uint8_t>(i + 1);
  ASSERT_TRUE(file.WriteAt(0, data.data(), 100));
  EXPECT_EQ(file.Size(), 100);
  uint8_t buf[200] = {};
  EXPECT_EQ(file.ReadAt(65, buf, 200), 35);  // short at the end
  EXPECT_EQ(buf[0], 66);
  EXPECT_EQ(file.ReadAt(100, buf, 10), 0);  // at the end
  EXPECT_EQ(file.ReadAt(101, buf, 10), 0);  // beyond the size
  EXPECT_EQ(file.ReadAt(-1, buf, 10), 0);   // before the start

  // Cutting at 10 leaves 10 bytes.
  file.SetSize(10);
  EXPECT_EQ(file.Size(), 10);
  // Growing again reads zeros where the old bytes were, as a disk file would.
  const uint8_t x = 0xEE;
  ASSERT_TRUE(file.WriteAt(50, &x, 1));
  EXPECT_EQ(file.Size(), 51);
  std::vector<uint8_t> all = ReadAll(file);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(all[i], i + 1);
  for (int i = 10; i < 50; ++i) ASSERT_EQ(all[i], 0) << i;
  EXPECT_EQ(all[50], 0xEE);
}

TEST(TMemoryFileTest, WritesOutsideTheFileRangeAreRefused) {
  TMemoryFile file("A");
  const char text[] = "abcd";
  EXPECT_FALSE(file.WriteAt(-10, text, 4));  // a negative offset would write before the data
  EXPECT_EQ(file.Size(), 0);
  EXPECT_FALSE(file.WriteAt(INT32_MAX - 2, text, 4));  // the end would pass 2^31 - 1
  EXPECT_EQ(file.Size(), 0);
  EXPECT_FALSE(file.WriteAt(0, text, -1));
  EXPECT_TRUE(file.WriteAt(0, text, 4));
  EXPECT_EQ(file.Size(), 4);
}

TEST(TMemoryFileTest, HandlesArePositiveAndNeverReused) {
  TMemoryFile file("A");
  const int32_t h1 = file.OpenHandle();
  const int32_t h2 = file.OpenHandle();
  EXPECT_GT(h1, 0);
  EXPECT_GT(h2, 0);
  EXPECT_NE(h1, h2);
  file.CloseHandle(h1);
  EXPECT_EQ(file.OpenCount(), 1);
  const int32_t h3 = file.OpenHandle();
  EXPECT_NE(h3, h2);
  EXPECT_NE(h3, h1);
  file.CloseHandle(12345);  // unknown: ignored
  EXPECT_EQ(file.OpenCount(), 2);
  // What one handle writes, another reads.
  TMemoryFileHandle writer(file, h2), reader(file, h3);
  size_t done = 0;
  ASSERT_EQ(writer.WriteAt(0, "hello", 5, &done), platform::kErrorSuccess);
  char c = 0;
  ASSERT_EQ(reader.ReadAt(1, &c, 1, &done), platform::kErrorSuccess);
  EXPECT_EQ(done, 1u);
  EXPECT_EQ(c, 'e');
}

TEST(TMemoryFileTest, LocksBelongToTheFile) {
  TMemoryFile file("A");
  EXPECT_TRUE(file.LockRange(10, 10));    // 10..19
  EXPECT_FALSE(file.LockRange(15, 10));   // 15..24 overlaps
  EXPECT_FALSE(file.LockRange(5, 6));     // 5..10 overlaps at its end
  EXPECT_FALSE(file.LockRange(12, 2));    // inside
  EXPECT_FALSE(file.LockRange(0, 100));   // around
  EXPECT_TRUE(file.LockRange(20, 10));    // 20..29 touches but does not overlap
  EXPECT_TRUE(file.LockRange(5, 5));      // 5..9
  EXPECT_FALSE(file.UnlockRange(10, 5));  // no entry of that length
  EXPECT_FALSE(file.UnlockRange(11, 9));
  EXPECT_FALSE(file.LockRange(10, 1));  // still held
  EXPECT_TRUE(file.UnlockRange(10, 10));
  EXPECT_FALSE(file.UnlockRange(10, 10));  // already gone
  EXPECT_TRUE(file.LockRange(10, 1));
  // Length 0 would make an empty range that wraps at 0: refused.
  EXPECT_FALSE(file.LockRange(0, 0));
  EXPECT_FALSE(file.LockRange(1000, 0));
  // The highest range of the 32-bit space.
  EXPECT_TRUE(file.LockRange(0xFFFFFFF0u, 16));
  EXPECT_FALSE(file.LockRange(0xFFFFFFFFu, 1));
  EXPECT_TRUE(file.LockRange(0x7FFFFFFFu, 1));
  EXPECT_EQ(file.Size(), 0);  // locks never change the size
}

class TMemoryFileListTest : public ::testing::Test {
 protected:
  TMemoryFileList list_;
};

TEST_F(TMemoryFileListTest, NamesCompareTrimmedWithoutCase) {
  TMemoryFile* file = nullptr;
  const int32_t h = list_.CreateFile("/db/Users.DAT", file);
  ASSERT_GT(h, 0);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->Name(), "/db/Users.DAT");
  EXPECT_TRUE(file->Exclusive());
  file->CloseHandle(h);
  EXPECT_TRUE(list_.FileExists(" /DB/users.dat "));
  EXPECT_TRUE(list_.FileExists("/db/USERS.DAT\t"));
  EXPECT_FALSE(list_.FileExists("/db/Users.DA"));
  EXPECT_FALSE(list_.FileExists("/db /Users.DAT"));
  // Accented letters fold too (Windows-1252 "é" and "É").
  TMemoryFile* accented = nullptr;
  const int32_t ha = list_.CreateFile("/db/\xE9t\xE9.DAT", accented);
  ASSERT_GT(ha, 0);
  accented->CloseHandle(ha);
  EXPECT_TRUE(list_.FileExists("/DB/\xC9T\xC9.dat"));
  // Only case is ignored: accents and hyphens still tell names apart.
  EXPECT_FALSE(list_.FileExists("/db/ete.DAT"));
  EXPECT_FALSE(list_.FileExists("/db/Us-ers.DAT"));
  TMemoryFile* found = nullptr;
  const int32_t h2 = list_.OpenFile("  /db/users.dat", found, false);
  ASSERT_GT(h2, 0);
  EXPECT_EQ(found, file);
}

TEST_F(TMemoryFileListTest, CreateAndOpenModes) {
  TMemoryFile* file = nullptr;
  EXPECT_EQ(list_.CreateFile("   ", file), -11010);
  EXPECT_EQ(list_.CreateFile("", file), -11010);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(list_.OpenFile("/m/none.DAT", file, false), -11010);

  const int32_t h = list_.CreateFile("/m/T.DAT", file);
  ASSERT_GT(h, 0);
  ASSERT_TRUE(file->WriteAt(0, "data", 4));
  TMemoryFile* other = nullptr;
  // Created files are exclusive: no one else gets in while the creator holds it.
  EXPECT_EQ(list_.OpenFile("/m/t.dat", other, false), -11013);
  EXPECT_EQ(list_.CreateFile("/m/T.DAT", other), -11013);
  file->CloseHandle(h);

  // Without open handles the file takes the mode of the first opener.
  const int32_t s1 = list_.OpenFile("/m/T.DAT", other, false);
  ASSERT_GT(s1, 0);
  EXPECT_FALSE(other->Exclusive());
  const int32_t s2 = list_.OpenFile("/m/T.DAT", other, false);
  ASSERT_GT(s2, 0);
  EXPECT_EQ(list_.OpenFile("/m/T.DAT", other, true), -11013);  // shared users are in
  EXPECT_EQ(list_.CreateFile("/m/T.DAT", other), -11013);
  EXPECT_FALSE(list_.DeleteFile("/m/T.DAT"));
  EXPECT_FALSE(list_.RenameFile("/m/T.DAT", "/m/U.DAT"));
  file->CloseHandle(s1);
  file->CloseHandle(s2);
  const int32_t e = list_.OpenFile("/m/T.DAT", other, true);
  ASSERT_GT(e, 0);
  EXPECT_TRUE(other->Exclusive());
  EXPECT_EQ(list_.OpenFile("/m/T.DAT", other, false), -11013);
  file->CloseHandle(e);

  // Creating over a closed file reuses it, emptied.
  TMemoryFile* again = nullptr;
  const int32_t h3 = list_.CreateFile(" /M/t.dat ", again);
  ASSERT_GT(h3, 0);
  EXPECT_EQ(again, file);
  EXPECT_EQ(again->Size(), 0);
  EXPECT_EQ(list_.Count(), 1);
  again->CloseHandle(h3);

  // A full name past 255 bytes is refused whole.
  try {
    list_.CreateFile("/" + std::string(300, 'n') + ".DAT", again);
    FAIL();
  } catch (const ETesseraEngineError& err) {
    EXPECT_EQ(err.GetError(0).ErrorCode(), kErrInvalidPath);
  }
  EXPECT_EQ(list_.Count(), 1);
}

TEST_F(TMemoryFileListTest, RenameDeleteAndCopy) {
  TMemoryFile* file = nullptr;
  const int32_t h = list_.CreateFile("/m/A.DAT", file);
  std::vector<uint8_t> data(150000);
  std::mt19937 rng(5);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  ASSERT_TRUE(file->WriteAt(0, data.data(), static_cast<int32_t>(data.size())));

  EXPECT_EQ(list_.CopyFile(*file, "/m/B.DAT"), 0);
  TMemoryFile* copy = nullptr;
  const int32_t hc = list_.OpenFile("/m/b.dat", copy, false);
  ASSERT_GT(hc, 0);
  EXPECT_EQ(copy->OpenCount(), 1);  // the copy's own handle was closed
  EXPECT_EQ(ReadAll(*copy), data);
  // Copying onto a file in use fails with its code and leaves it alone.
  EXPECT_EQ(list_.CopyFile(*file, "/m/B.DAT"), -11013);
  EXPECT_EQ(copy->Size(), 150000);
  copy->CloseHandle(hc);
  // An exact multiple of the chunk size copies whole too.
  file->SetSize(65535 * 2);
  EXPECT_EQ(list_.CopyFile(*file, "/m/C.DAT"), 0);
  TMemoryFile* c = nullptr;
  const int32_t hcc = list_.OpenFile("/m/C.DAT", c, false);
  EXPECT_EQ(c->Size(), 65535 * 2);
  c->CloseHandle(hcc);
  file->CloseHandle(h);

  EXPECT_TRUE(list_.RenameFile(" /m/a.dat", "/m/Z.DAT"));
  EXPECT_FALSE(list_.FileExists("/m/A.DAT"));
  EXPECT_TRUE(list_.FileExists("/m/Z.DAT"));
  EXPECT_EQ(file->Name(), "/m/Z.DAT");
  // A rename never hides another file under the same name.
  EXPECT_FALSE(list_.RenameFile("/m/Z.DAT", "/m/b.DAT"));
  EXPECT_TRUE(list_.RenameFile("/m/Z.DAT", "/m/z.dat"));  // its own name in other letters
  EXPECT_FALSE(list_.RenameFile("/m/none.DAT", "/m/Y.DAT"));

  EXPECT_TRUE(list_.DeleteFile("/M/Z.DAT"));
  EXPECT_FALSE(list_.DeleteFile("/m/Z.DAT"));
  EXPECT_FALSE(list_.FileExists("/m/Z.DAT"));
  EXPECT_EQ(list_.Count(), 2);
}

TEST_F(TMemoryFileListTest, OperationsNestInsideTheFileSection) {
  // The in-memory handler holds the file section around its calls; each call takes it again.
  platform::CriticalSectionGuard guard(FileCriticalSection());
  TMemoryFile* file = nullptr;
  const int32_t h = list_.CreateFile("/m/N.DAT", file);
  ASSERT_GT(h, 0);
  EXPECT_TRUE(file->WriteAt(0, "xy", 2));
  EXPECT_TRUE(list_.FileExists("/m/N.DAT"));
}

}  // namespace
}  // namespace tessera
