#include "platform/OsFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include "platform/FaultyFile.h"
#include "tests/platform/LockHelperClient.h"
#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using mirvel_test::ReadFileText;

class OsFileTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return dir_.File(name); }

  std::string MakeFile(const std::string& name, const std::string& content) const {
    const std::string path = PathOf(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  static int64_t StatSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
  }

  mirvel_test::TempDirectory dir_{"osfile"};
};

TEST(OsError, ErrnoNumbersTranslateOnceToWin32Numbers) {
  const struct {
    int err;
    ErrnoSource source;
    OsError expected;
  } cases[] = {
      {ENOENT, ErrnoSource::kFileCall, kErrorFileNotFound},
      {ENOTDIR, ErrnoSource::kFileCall, kErrorPathNotFound},
      {EMFILE, ErrnoSource::kFileCall, kErrorTooManyOpenFiles},
      {ENFILE, ErrnoSource::kFileCall, kErrorTooManyOpenFiles},
      {EACCES, ErrnoSource::kFileCall, kErrorAccessDenied},
      {EROFS, ErrnoSource::kFileCall, kErrorAccessDenied},
      {EISDIR, ErrnoSource::kFileCall, kErrorAccessDenied},
      {EBADF, ErrnoSource::kFileCall, kErrorInvalidHandle},
      {ENOMEM, ErrnoSource::kFileCall, kErrorNotEnoughMemory},
      {ENXIO, ErrnoSource::kFileCall, kErrorInvalidDrive},
      {EXDEV, ErrnoSource::kFileCall, kErrorNotSameDevice},
      {ENOSPC, ErrnoSource::kFileCall, kErrorDiskFull},
      // A lock conflict is reported as EAGAIN or EACCES depending on the system.
      {EACCES, ErrnoSource::kShareLock, kErrorSharingViolation},
      {EAGAIN, ErrnoSource::kShareLock, kErrorSharingViolation},
      {EACCES, ErrnoSource::kRangeLock, kErrorLockViolation},
      {EAGAIN, ErrnoSource::kRangeLock, kErrorLockViolation},
      {EPROTO, ErrnoSource::kFileCall, kErrorFromErrnoBit | EPROTO},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ErrnoToOsError(c.err, c.source), c.expected) << c.err;
  }
}

// Random writes, reads, seeks and truncations, at the position and at offsets, against a
// std::string holding what the file should contain.
TEST_F(OsFileTest, ReadWriteSeekAndTruncateFollowAStringModel) {
  OsFile file;
  ASSERT_EQ(file.CreateNew(PathOf("model.bin"), false), kErrorSuccess);
  std::string model;
  int64_t position = 0;
  std::mt19937 rng(12345);
  for (int step = 0; step < 600; ++step) {
    const int op = static_cast<int>(rng() % 6);
    if (op == 0) {
      std::string data(rng() % 300, '\0');
      for (char& c : data) c = static_cast<char>(rng());
      size_t done = 0;
      ASSERT_EQ(file.Write(data.data(), data.size(), &done), kErrorSuccess);
      ASSERT_EQ(done, data.size());
      if (model.size() < position + data.size()) model.resize(position + data.size(), '\0');
      model.replace(position, data.size(), data);
      position += static_cast<int64_t>(data.size());
    } else if (op == 1) {
      std::string buffer(rng() % 400, '\0');
      size_t done = 0;
      ASSERT_EQ(file.Read(buffer.data(), buffer.size(), &done), kErrorSuccess);
      const size_t expected =
          position >= static_cast<int64_t>(model.size())
              ? 0
              : std::min(buffer.size(), model.size() - static_cast<size_t>(position));
      ASSERT_EQ(done, expected) << step;
      ASSERT_EQ(buffer.substr(0, done),
                model.substr(std::min<size_t>(position, model.size()), done));
      position += static_cast<int64_t>(done);
    } else if (op == 2) {
      const int origin = static_cast<int>(rng() % 3);
      const int64_t offset = static_cast<int64_t>(rng() % 2000) - 1000;
      const int64_t base = origin == 0 ? 0 : origin == 1 ? position : model.size();
      int64_t result = -7;
      const OsError error = file.Seek(offset, origin, &result);
      if (base + offset < 0) {
        ASSERT_EQ(error, kErrorNegativeSeek);
        ASSERT_EQ(result, -7);
      } else {
        ASSERT_EQ(error, kErrorSuccess);
        position = base + offset;
        ASSERT_EQ(result, position);
      }
      ASSERT_EQ(file.Position(), position);
    } else if (op == 3) {
      // At an offset, up to past the end; the position stays where it was.
      const int64_t at = static_cast<int64_t>(rng() % (model.size() + 200));
      std::string data(rng() % 300, '\0');
      for (char& c : data) c = static_cast<char>(rng());
      size_t done = 0;
      ASSERT_EQ(file.WriteAt(at, data.data(), data.size(), &done), kErrorSuccess);
      ASSERT_EQ(done, data.size());
      if (model.size() < at + data.size()) model.resize(at + data.size(), '\0');
      model.replace(at, data.size(), data);
    } else if (op == 4) {
      const int64_t at = static_cast<int64_t>(rng() % (model.size() + 200));
      std::string buffer(rng() % 400, '\0');
      size_t done = 0;
      ASSERT_EQ(file.ReadAt(at, buffer.data(), buffer.size(), &done), kErrorSuccess);
      const size_t expected = at >= static_cast<int64_t>(model.size())
                                  ? 0
                                  : std::min(buffer.size(), model.size() - static_cast<size_t>(at));
      ASSERT_EQ(done, expected) << step;
      ASSERT_EQ(buffer.substr(0, done), model.substr(std::min<size_t>(at, model.size()), done));
    } else if (rng() % 4 == 0) {
      const int64_t size = static_cast<int64_t>(rng() % (model.size() + 200));
      ASSERT_EQ(file.Truncate(size), kErrorSuccess);
      model.resize(size, '\0');  // cutting, or extending with zeros
    }
    ASSERT_EQ(file.Position(), position);
    int64_t size = -1;
    ASSERT_EQ(file.GetSize(&size), kErrorSuccess);
    ASSERT_EQ(size, static_cast<int64_t>(model.size())) << step;
  }
  ASSERT_EQ(file.Sync(), kErrorSuccess);
  file.Close();
  EXPECT_EQ(ReadFileText(PathOf("model.bin")), model);
}

TEST_F(OsFileTest, OpenFailuresCarryWin32Numbers) {
  OsFile file;
  EXPECT_EQ(file.Open(PathOf("missing.dat"), FileAccess::kReadWrite, FileShare::kDenyNone, false),
            kErrorFileNotFound);
  fs::create_directory(PathOf("sub"));
  EXPECT_EQ(file.Open(PathOf("sub"), FileAccess::kRead, FileShare::kDenyNone, false),
            kErrorAccessDenied);
  const std::string plain = MakeFile("plain", "x");
  EXPECT_EQ(file.Open(plain + "/below", FileAccess::kRead, FileShare::kDenyNone, false),
            kErrorPathNotFound);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.CreateNew(PathOf("nodir/new.dat"), false), kErrorFileNotFound);
}

TEST_F(OsFileTest, ReadOnlyHandlesRefuseWrites) {
  const std::string path = MakeFile("t.dat", "abcdef");
  for (FileShare share : {FileShare::kDenyNone, FileShare::kExclusive}) {
    OsFile file;
    ASSERT_EQ(file.Open(path, FileAccess::kRead, share, false), kErrorSuccess);
    size_t done = 9;
    EXPECT_EQ(file.Write("zz", 2, &done), kErrorAccessDenied);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(file.Truncate(0), kErrorAccessDenied);
    EXPECT_EQ(file.WriteAt(0, "zz", 2, &done), kErrorAccessDenied);
  }
  EXPECT_EQ(ReadFileText(path), "abcdef");
}

TEST_F(OsFileTest, ReadOnlyAttributeComesFromThePermissionBits) {
  const std::string path = MakeFile("ro.dat", "data");
  bool read_only = true;
  ASSERT_EQ(IsReadOnlyFile(path, &read_only), kErrorSuccess);
  EXPECT_FALSE(read_only);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(IsReadOnlyFile(path, &read_only), kErrorSuccess);
  EXPECT_TRUE(read_only);
  EXPECT_EQ(DeleteFile(path), kErrorAccessDenied);
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ(IsReadOnlyFile(PathOf("none"), &read_only), kErrorFileNotFound);
}

// Byte-range locks within one process: every handle is an owner of its own.
TEST_F(OsFileTest, LocksBelongToTheHandleAndNeedExactUnlock) {
  const std::string path = MakeFile("t.dat", std::string(64, 'x'));
  OsFile a, b;
  ASSERT_EQ(a.Open(path, FileAccess::kReadWrite, FileShare::kDenyNone, false), kErrorSuccess);
  ASSERT_EQ(b.Open(path, FileAccess::kReadWrite, FileShare::kDenyNone, false), kErrorSuccess);

  EXPECT_EQ(a.Lock(100, 100), kErrorSuccess);
  EXPECT_EQ(a.Lock(150, 100), kErrorLockViolation);  // overlaps its own range
  EXPECT_EQ(a.Lock(100, 100), kErrorLockViolation);  // the same range twice
  EXPECT_EQ(a.Lock(200, 100), kErrorSuccess);        // adjacent is fine
  EXPECT_EQ(b.Lock(199, 1), kErrorLockViolation);    // another handle of this process
  EXPECT_EQ(b.Lock(300, 1), kErrorSuccess);

  EXPECT_EQ(a.Unlock(100, 50), kErrorNotLocked);  // not exactly a held range
  EXPECT_EQ(a.Unlock(100, 200), kErrorNotLocked);
  EXPECT_EQ(a.Unlock(300, 1), kErrorNotLocked);    // b's range, not a's
  EXPECT_EQ(b.Lock(120, 1), kErrorLockViolation);  // 100..199 still held whole
  EXPECT_EQ(a.Unlock(100, 100), kErrorSuccess);
  EXPECT_EQ(a.Unlock(100, 100), kErrorNotLocked);
  EXPECT_EQ(b.Lock(120, 1), kErrorSuccess);

  // Closing a third descriptor of the file leaves the others' locks alone.
  {
    OsFile c;
    ASSERT_EQ(c.Open(path, FileAccess::kReadWrite, FileShare::kDenyNone, false), kErrorSuccess);
    EXPECT_EQ(c.Lock(200, 1), kErrorLockViolation);
  }
  EXPECT_EQ(b.Lock(250, 1), kErrorLockViolation);

  // Closing the owner frees its ranges.
  a.Close();
  EXPECT_EQ(b.Lock(250, 1), kErrorSuccess);
}

TEST_F(OsFileTest, LocksFarBeyondTheEndLeaveTheSizeAlone) {
  const std::string path = MakeFile("t.dat", std::string(1000, 'x'));
  OsFile file;
  ASSERT_EQ(file.Open(path, FileAccess::kReadWrite, FileShare::kDenyNone, false), kErrorSuccess);
  EXPECT_EQ(file.Lock(0x7FFF0000, 1), kErrorSuccess);
  EXPECT_EQ(file.Lock(0x7FFFFFFF, 1), kErrorSuccess);
  EXPECT_EQ(file.Lock(0xFFFFFFFF, 1), kErrorSuccess);  // the last byte below the share byte
  EXPECT_EQ(StatSize(path), 1000);
  EXPECT_EQ(file.Unlock(0x7FFF0000, 1), kErrorSuccess);
  EXPECT_EQ(StatSize(path), 1000);

  EXPECT_EQ(file.Lock(10, 0), kErrorInvalidParameter);
  EXPECT_EQ(file.Lock(0xFFFFFFFF, 2), kErrorInvalidParameter);  // would reach the share byte
  EXPECT_EQ(file.Lock(kShareLockOffset, 1), kErrorInvalidParameter);
  EXPECT_EQ(file.Lock(UINT64_MAX, 2), kErrorInvalidParameter);  // wraps around
}

TEST_F(OsFileTest, ReadOnlyHandleLocksStillShutOutWriters) {
  const std::string path = MakeFile("t.dat", "x");
  OsFile reader, writer;
  ASSERT_EQ(reader.Open(path, FileAccess::kRead, FileShare::kDenyNone, false), kErrorSuccess);
  ASSERT_EQ(writer.Open(path, FileAccess::kReadWrite, FileShare::kDenyNone, false), kErrorSuccess);
  EXPECT_EQ(reader.Lock(10, 1), kErrorSuccess);
  EXPECT_EQ(writer.Lock(10, 1), kErrorLockViolation);
  // Two readers of a writable file exclude each other as well: the engine's record locks, table
  // lock and semaphore must hold whatever access the handles were opened with.
  OsFile second_reader;
  ASSERT_EQ(second_reader.Open(path, FileAccess::kRead, FileShare::kDenyNone, false),
            kErrorSuccess);
  EXPECT_EQ(second_reader.Lock(10, 1), kErrorLockViolation);
  EXPECT_EQ(reader.Unlock(10, 1), kErrorSuccess);
  EXPECT_EQ(second_reader.Lock(10, 1), kErrorSuccess);
  size_t done = 0;
  EXPECT_EQ(second_reader.WriteAt(0, "y", 1, &done), kErrorAccessDenied);
}

TEST_F(OsFileTest, ShareModesWithinOneProcess) {
  const std::string path = MakeFile("t.dat", "keep me");
  OsFile a, b;
  ASSERT_EQ(a.Open(path, FileAccess::kReadWrite, FileShare::kDenyNone, false), kErrorSuccess);
  EXPECT_EQ(b.Open(path, FileAccess::kRead, FileShare::kDenyNone, false), kErrorSuccess);
  b.Close();
  EXPECT_EQ(b.Open(path, FileAccess::kReadWrite, FileShare::kExclusive, false),
            kErrorSharingViolation);
  EXPECT_EQ(b.Open(path, FileAccess::kRead, FileShare::kExclusive, false), kErrorSharingViolation);
  EXPECT_FALSE(b.IsOpen());
  EXPECT_EQ(b.CreateNew(path, false), kErrorSharingViolation);
  EXPECT_EQ(DeleteFile(path), kErrorSharingViolation);
  EXPECT_EQ(RenameFile(path, PathOf("u.dat")), kErrorSharingViolation);
  EXPECT_EQ(ReadFileText(path), "keep me");
  EXPECT_FALSE(FileExists(PathOf("u.dat")));
  a.Close();

  // An exclusive open, even for reading only, keeps everyone else out.
  ASSERT_EQ(a.Open(path, FileAccess::kRead, FileShare::kExclusive, false), kErrorSuccess);
  EXPECT_EQ(b.Open(path, FileAccess::kRead, FileShare::kDenyNone, false), kErrorSharingViolation);
  EXPECT_EQ(b.Open(path, FileAccess::kReadWrite, FileShare::kExclusive, false),
            kErrorSharingViolation);
  a.Close();
  EXPECT_EQ(b.Open(path, FileAccess::kRead, FileShare::kDenyNone, false), kErrorSuccess);
}

TEST_F(OsFileTest, CreateNewEmptiesAClosedFileAndLeavesItOpenExclusively) {
  const std::string path = MakeFile("t.dat", "old contents");
  OsFile a, b;
  ASSERT_EQ(a.CreateNew(path, true), kErrorSuccess);
  EXPECT_EQ(StatSize(path), 0);
  EXPECT_EQ(b.Open(path, FileAccess::kRead, FileShare::kDenyNone, false), kErrorSharingViolation);
  size_t done = 0;
  ASSERT_EQ(a.Write("new", 3, &done), kErrorSuccess);
  a.Close();
  EXPECT_EQ(ReadFileText(path), "new");
}

TEST_F(OsFileTest, DeleteAndRenameOfClosedFiles) {
  const std::string path = MakeFile("t.dat", "one");
  const std::string other = MakeFile("other.dat", "two");
  EXPECT_EQ(RenameFile(path, other), kErrorAlreadyExists);
  EXPECT_EQ(ReadFileText(other), "two");
  EXPECT_EQ(RenameFile(path, PathOf("OTHER.DAT")), kErrorAlreadyExists);  // in any letter case
  EXPECT_EQ(ReadFileText(other), "two");

  ASSERT_EQ(RenameFile(path, PathOf("moved.dat")), kErrorSuccess);
  EXPECT_FALSE(FileExists(path));
  EXPECT_EQ(ReadFileText(PathOf("moved.dat")), "one");
  // A rename that changes only the letter case is not a rename onto another file.
  ASSERT_EQ(RenameFile(PathOf("moved.dat"), PathOf("MOVED.DAT")), kErrorSuccess);
  EXPECT_EQ(ReadFileText(PathOf("MOVED.DAT")), "one");
  EXPECT_EQ(RenameFile(PathOf("none.dat"), PathOf("x.dat")), kErrorFileNotFound);

  ASSERT_EQ(DeleteFile(PathOf("MOVED.DAT")), kErrorSuccess);
  EXPECT_FALSE(FileExists(PathOf("MOVED.DAT")));
  EXPECT_EQ(DeleteFile(PathOf("MOVED.DAT")), kErrorFileNotFound);
}

TEST_F(OsFileTest, NamesResolveInAnotherLetterCase) {
  const std::string path = MakeFile("Users.dat", "u");
  OsFile file;
  ASSERT_EQ(file.Open(PathOf("USERS.DAT"), FileAccess::kRead, FileShare::kDenyNone, false),
            kErrorSuccess);
  EXPECT_EQ(file.Path(), path);
  file.Close();
  EXPECT_TRUE(FileExists(PathOf("users.DAT")));
  // Creating under another case replaces the existing file rather than adding a twin.
  ASSERT_EQ(file.CreateNew(PathOf("USERS.dat"), false), kErrorSuccess);
  file.Close();
  EXPECT_EQ(StatSize(path), 0);
  EXPECT_FALSE(fs::exists(PathOf("USERS.dat")));
}

TEST_F(OsFileTest, InjectedFaultsReachTheCaller) {
  const std::string path = MakeFile("t.dat", std::string(100, 'a'));
  auto inner = std::make_unique<OsFile>();
  ASSERT_EQ(inner->Open(path, FileAccess::kReadWrite, FileShare::kDenyNone, false), kErrorSuccess);
  OsFile other;
  ASSERT_EQ(other.Open(path, FileAccess::kReadWrite, FileShare::kDenyNone, false), kErrorSuccess);
  auto faults = std::make_shared<FileFaults>();
  FaultyFile file(std::move(inner), faults);
  faults->write_limit = 20;
  faults->read_limit = 30;
  faults->refuse_locks = true;
  faults->sync_error = kErrorIoDevice;

  const std::string data(50, 'b');
  size_t done = 0;
  EXPECT_EQ(file.WriteAt(0, data.data(), data.size(), &done), kErrorDiskFull);
  EXPECT_EQ(done, 20u);  // stopped half-way
  char buffer[100];
  EXPECT_EQ(file.ReadAt(0, buffer, sizeof buffer, &done), kErrorSuccess);
  EXPECT_EQ(done, 30u);  // short, as if the file ended
  EXPECT_EQ(file.Lock(5, 1), kErrorLockViolation);
  EXPECT_EQ(file.Sync(), kErrorIoDevice);
  // Another file of the same name is not wrapped: it sees no faults.
  EXPECT_EQ(other.ReadAt(0, buffer, sizeof buffer, &done), kErrorSuccess);
  EXPECT_EQ(done, 100u);

  // The refused lock was never taken, and faults end when the test clears them.
  EXPECT_EQ(other.Lock(5, 1), kErrorSuccess);
  EXPECT_EQ(ReadFileText(path), std::string(20, 'b') + std::string(80, 'a'));
  *faults = FileFaults();
  EXPECT_EQ(file.WriteAt(0, "cc", 2, &done), kErrorSuccess);
  EXPECT_EQ(file.Sync(), kErrorSuccess);
  EXPECT_EQ(file.Lock(6, 1), kErrorSuccess);
  EXPECT_EQ(other.Lock(6, 1), kErrorLockViolation);
  EXPECT_EQ(file.Unlock(6, 1), kErrorSuccess);
  EXPECT_EQ(file.Truncate(10), kErrorSuccess);
  int64_t size = 0;
  EXPECT_EQ(file.GetSize(&size), kErrorSuccess);
  EXPECT_EQ(size, 10);
}

// The helper process tests: what another workstation sees.
class OsFileProcessTest : public OsFileTest {};

TEST_F(OsFileProcessTest, ALockHeldElsewhereIsRefusedUntilTheHolderDies) {
  const std::string path = MakeFile("t.dat", std::string(10, 'x'));
  mirvel_test::LockHelperProcess helper;
  ASSERT_TRUE(helper.Started());
  ASSERT_EQ(helper.Send("open 0 rw shared " + path), "ok");
  ASSERT_EQ(helper.Send("lock 0 2147483647 1"), "ok");
  ASSERT_EQ(helper.Send("lock 0 100 100"), "ok");

  OsFile file;
  ASSERT_EQ(file.Open(path, FileAccess::kReadWrite, FileShare::kDenyNone, false), kErrorSuccess);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(file.Lock(0x7FFFFFFF, 1), kErrorLockViolation);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  EXPECT_EQ(file.Lock(150, 10), kErrorLockViolation);
  EXPECT_EQ(file.Lock(200, 10), kErrorSuccess);

  // Inside the helper, a second handle conflicts like a stranger; a wrong unlock frees nothing.
  ASSERT_EQ(helper.Send("open 1 rw shared " + path), "ok");
  EXPECT_EQ(helper.Send("lock 1 2147483647 1"), "err 33");
  EXPECT_EQ(helper.Send("lock 1 205 1"), "err 33");
  EXPECT_EQ(helper.Send("unlock 0 100 50"), "err 158");
  EXPECT_EQ(helper.Send("close 1"), "ok");
  EXPECT_EQ(file.Lock(100, 1), kErrorLockViolation);
  EXPECT_EQ(StatSize(path), 10);

  helper.Kill();
  EXPECT_EQ(file.Lock(0x7FFFFFFF, 1), kErrorSuccess);
  EXPECT_EQ(file.Lock(100, 100), kErrorSuccess);
}

TEST_F(OsFileProcessTest, ShareModesAcrossProcesses) {
  const std::string path = MakeFile("t.dat", "precious");
  const std::string target = PathOf("renamed.dat");
  mirvel_test::LockHelperProcess helper;
  ASSERT_TRUE(helper.Started());

  // Exclusive there: nothing here, in any mode.
  ASSERT_EQ(helper.Send("open 0 rw excl " + path), "ok");
  OsFile file;
  EXPECT_EQ(file.Open(path, FileAccess::kRead, FileShare::kDenyNone, false),
            kErrorSharingViolation);
  EXPECT_EQ(file.Open(path, FileAccess::kReadWrite, FileShare::kExclusive, false),
            kErrorSharingViolation);
  ASSERT_EQ(helper.Send("close 0"), "ok");

  // Shared there: no exclusive open, creation, deletion or rename here.
  ASSERT_EQ(helper.Send("open 0 ro shared " + path), "ok");
  EXPECT_EQ(file.Open(path, FileAccess::kReadWrite, FileShare::kExclusive, false),
            kErrorSharingViolation);
  EXPECT_EQ(file.Open(path, FileAccess::kRead, FileShare::kExclusive, false),
            kErrorSharingViolation);
  EXPECT_EQ(file.CreateNew(path, false), kErrorSharingViolation);
  EXPECT_EQ(DeleteFile(path), kErrorSharingViolation);
  EXPECT_EQ(RenameFile(path, target), kErrorSharingViolation);
  EXPECT_EQ(ReadFileText(path), "precious");
  EXPECT_FALSE(FileExists(target));
  EXPECT_EQ(file.Open(path, FileAccess::kReadWrite, FileShare::kDenyNone, false), kErrorSuccess);
  file.Close();
  ASSERT_EQ(helper.Send("close 0"), "ok");

  // Exclusive here: the helper is shut out the same way.
  ASSERT_EQ(file.Open(path, FileAccess::kReadWrite, FileShare::kExclusive, false), kErrorSuccess);
  EXPECT_EQ(helper.Send("open 0 ro shared " + path), "err 32");
  EXPECT_EQ(helper.Send("create 0 " + path), "err 32");
  EXPECT_EQ(helper.Send("delete " + path), "err 32");
  EXPECT_EQ(helper.Send("rename " + path + " " + target), "err 32");
  file.Close();
  EXPECT_EQ(ReadFileText(path), "precious");

  // Shared here, exclusive there refused; once closed, the helper may delete it.
  ASSERT_EQ(file.Open(path, FileAccess::kRead, FileShare::kDenyNone, false), kErrorSuccess);
  EXPECT_EQ(helper.Send("open 0 rw excl " + path), "err 32");
  file.Close();
  EXPECT_EQ(helper.Send("delete " + path), "ok");
  EXPECT_FALSE(FileExists(path));
}

TEST_F(OsFileProcessTest, AnExitedHolderLeavesNoShareLockBehind) {
  const std::string path = MakeFile("t.dat", "x");
  mirvel_test::LockHelperProcess helper;
  ASSERT_TRUE(helper.Started());
  ASSERT_EQ(helper.Send("open 0 rw excl " + path), "ok");
  OsFile file;
  EXPECT_EQ(file.Open(path, FileAccess::kRead, FileShare::kDenyNone, false),
            kErrorSharingViolation);
  helper.Kill();
  EXPECT_EQ(file.Open(path, FileAccess::kReadWrite, FileShare::kExclusive, false), kErrorSuccess);
}

TEST_F(OsFileProcessTest, StartedProcessesInheritNoOpenFile) {
  const std::string path = MakeFile("t.dat", "x");
  OsFile file;
  ASSERT_EQ(file.Open(path, FileAccess::kReadWrite, FileShare::kExclusive, false), kErrorSuccess);
  ASSERT_EQ(file.Lock(7, 1), kErrorSuccess);
  mirvel_test::LockHelperProcess helper;  // started while the file is open here
  ASSERT_TRUE(helper.Started());
  file.Close();
  // Had the child inherited the descriptor, its share byte and lock would outlive the close.
  EXPECT_EQ(helper.Send("open 0 rw excl " + path), "ok");
  EXPECT_EQ(helper.Send("lock 0 7 1"), "ok");
}

}  // namespace
}  // namespace platform
