#include "engine/storage/core/TFileHandler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/core/TWriteBehindFile.h"
#include "platform/FaultyFile.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/LockHelperClient.h"
#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace tessera {
namespace {

namespace fs = std::filesystem;
using mirvel_test::ReadFileText;

// A handler that names its files as the data file does.
class TDatHandler : public TFileHandler {
 public:
  std::string MakeFileName(std::string_view table_name) override {
    return std::string(table_name) + ".DAT";
  }
  using TFileHandler::WriteHeaderImage;
};

using testing::EngineCode;

std::string Bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

class TFileHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override { InitializeEngine(); }
  void TearDown() override { ShutdownEngine(); }

  std::string Table(const std::string& name) const { return dir_.File(name); }

  std::string MakeFile(const std::string& name, const std::string& content) const {
    std::ofstream(Table(name), std::ios::binary) << content;
    return Table(name);
  }

  // A disk handler on `name`, opened with the given flags.
  static void OpenOn(TFileHandler& h, const std::string& name, bool exclusive, bool read_only) {
    h.SetFileName(name);
    h.SetExclusive(exclusive);
    h.SetReadOnly(read_only);
    h.Open();
  }

  mirvel_test::TempDirectory dir_{"handler"};
};

TEST_F(TFileHandlerTest, DiskReadWriteSizeAndTruncateAtOffsets) {
  TDatHandler h;
  h.SetFileName(Table("Caf\xE9"));  // Windows-1252 inside, UTF-8 on disk
  EXPECT_EQ(h.FileName(), Table("Caf\xE9.DAT"));
  EXPECT_EQ(EngineCode([&] { h.CreateNew(); }), kErrNeedExclusive);
  EXPECT_FALSE(h.Exists());  // refused before touching the disk
  h.SetExclusive(true);
  h.CreateNew();
  EXPECT_TRUE(h.IsOpen());
  EXPECT_TRUE(fs::exists(Table("Caf\xC3\xA9.DAT")));

  const std::string data = Bytes(100, 1);
  h.WriteAt(0, data.data(), 100);
  EXPECT_EQ(h.Size(), 100);
  char buffer[200];
  EXPECT_EQ(EngineCode([&] { h.ReadAt(60, buffer, 100); }), kErrReadFailure);
  EXPECT_EQ(GetEngineSession()->ErrorDataFile(), h.FileName());
  EXPECT_EQ(h.ReadAt(60, buffer, 100, true), 40);
  EXPECT_EQ(std::string(buffer, 40), data.substr(60));
  EXPECT_EQ(h.ReadAt(100, buffer, 10, true), 0);  // at the end
  // Ranges outside the engine's 32-bit offsets are refused before the file is touched.
  EXPECT_EQ(EngineCode([&] { h.ReadAt(-1, buffer, 10, true); }), kErrReadFailure);
  EXPECT_EQ(EngineCode([&] { h.ReadAt(INT32_MAX - 5, buffer, 10, true); }), kErrReadFailure);
  EXPECT_EQ(EngineCode([&] { h.WriteAt(-1, "x", 1); }), kErrWriteFailure);
  EXPECT_EQ(EngineCode([&] { h.WriteAt(0x80000000u, "x", 1); }), kErrWriteFailure);
  EXPECT_EQ(EngineCode([&] { h.TruncateAt(-1); }), kErrWriteFailure);
  EXPECT_EQ(h.Size(), 100);

  h.TruncateAt(10);
  EXPECT_EQ(h.Size(), 10);
  h.WriteAt(20, "Z", 1);
  h.Flush();
  h.Close();
  EXPECT_FALSE(h.IsOpen());
  EXPECT_EQ(ReadFileText(Table("Caf\xC3\xA9.DAT")),
            data.substr(0, 10) + std::string(10, '\0') + "Z");
}

TEST_F(TFileHandlerTest, AHeaderWrittenOverItsFileImageNamesEveryByteThatDiffers) {
  // Positions changed in a 4 KB header: none, the counter, block edges of the compare, the last
  // byte, and more runs than are kept apart (the last takes in the rest).
  const std::vector<std::vector<size_t>> cases = {
      {},           {0},
      {4, 5, 6, 7}, {127, 128},
      {1023, 1024}, {1151, 1152, 2047},
      {4095},       {0, 300, 600, 900, 1200, 1500, 1800, 2100, 2400, 2700, 3000, 4000}};
  const std::string old_image = Bytes(4096, 9);
  for (size_t k = 0; k < cases.size(); ++k) {
    TDatHandler h;
    h.SetFileName(Table("header" + std::to_string(k)));
    h.SetHoldWrites(true);
    h.SetExclusive(true);
    h.CreateNew();
    h.WriteAt(0, old_image.data(), 4096);
    h.WriteHeld();
    h.SetHolding(true);
    std::string image = old_image;
    for (size_t at : cases[k]) image[at] = static_cast<char>(~image[at]);
    h.WriteHeaderImage(reinterpret_cast<const uint8_t*>(image.data()), image.size(), false,
                       reinterpret_cast<const uint8_t*>(old_image.data()));
    std::string got(4096, '\0');
    ASSERT_EQ(h.ReadAt(0, got.data(), 4096), 4096);
    EXPECT_EQ(got, image) << "case " << k;
    const TWriteBehindFile::Ranges& changes = h.WriteBehind()->HeldChanges();
    EXPECT_LE(changes.size(), 8u);
    for (size_t at : cases[k]) {
      EXPECT_TRUE(std::any_of(changes.begin(), changes.end(),
                              [&](const TWriteBehindFile::Range& r) {
                                return r.from <= int64_t(at) && int64_t(at) < r.to;
                              }))
          << "case " << k << ", byte " << at;
    }
    if (cases[k].empty()) {
      EXPECT_TRUE(changes.empty());
    }
    h.DiscardHeld();
    h.Close();
  }
}

TEST_F(TFileHandlerTest, OpenFailuresAndTheReadOnlyAttribute) {
  TFileHandler h;
  h.SetFileName(Table("missing.dat"));
  EXPECT_EQ(EngineCode([&] { h.Open(); }), kErrInvalidPath);
  EXPECT_FALSE(h.IsOpen());
  EXPECT_EQ(h.FileName(), Table("missing.dat"));
  fs::create_directory(Table("dir.dat"));
  h.SetFileName(Table("dir.dat"));
  EXPECT_EQ(EngineCode([&] { h.Open(); }), kErrInvalidPath);

  // Read-only attribute: read-only even though read-write was asked.
  const std::string path = MakeFile("ro.dat", "abc");
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  OpenOn(h, path, false, false);
  EXPECT_TRUE(h.ReadOnly());
  EXPECT_TRUE(h.ReadOnlyAttribute());
  EXPECT_EQ(EngineCode([&] { h.WriteAt(0, "x", 1); }), kErrWriteFailure);
  EXPECT_EQ(EngineCode([&] { h.TruncateAt(0); }), kErrWriteFailure);
  EXPECT_EQ(EngineCode([&] { h.SetReadOnly(false); }), kErrFileInUse);
  h.Close();
  EXPECT_EQ(ReadFileText(path), "abc");

  // The flag stays when the attribute goes; the attribute flag follows the file.
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
  h.Open();
  EXPECT_TRUE(h.ReadOnly());
  EXPECT_FALSE(h.ReadOnlyAttribute());
  h.Close();

  // An exclusive read-only handler refuses writes too.
  OpenOn(h, path, true, true);
  EXPECT_EQ(EngineCode([&] { h.WriteAt(0, "x", 1); }), kErrWriteFailure);
  h.Close();
}

TEST_F(TFileHandlerTest, OsErrorsBecomeEngineCodes) {
  const std::string path = MakeFile("t.dat", "x");
  const struct {
    platform::OsError os_error;
    uint16_t code;
  } cases[] = {
      {platform::kErrorPathNotFound, kErrInvalidPath},
      {platform::kErrorTooManyOpenFiles, kErrTooManyOpenFiles},
      {platform::kErrorAccessDenied, kErrAccessDenied},
      {platform::kErrorNotEnoughMemory, kErrOutOfMemory},
      {platform::kErrorFromErrnoBit | 71, kErrUnknownOSError},
  };
  for (const auto& c : cases) {
    auto faults = std::make_shared<platform::FileFaults>();
    faults->open_error = c.os_error;
    TFileHandler h;
    h.InjectFaults(faults);
    h.SetFileName(path);
    EXPECT_EQ(EngineCode([&] { h.Open(); }), c.code) << c.os_error;
    EXPECT_FALSE(h.IsOpen());
    h.SetExclusive(true);
    h.SetFileName(Table("new.dat"));
    EXPECT_EQ(EngineCode([&] { h.CreateNew(); }), c.code) << c.os_error;
    EXPECT_FALSE(fs::exists(Table("new.dat")));
  }
}

// Refusals because of another process are covered below; here the handler's own part.
TEST_F(TFileHandlerTest, RenameNeverReplacesAndTheHandlerFollowsTheFile) {
  const std::string path = MakeFile("t.dat", "keep");
  MakeFile("other.dat", "other");
  TFileHandler h;
  h.SetFileName(path);
  EXPECT_EQ(EngineCode([&] { h.Rename(Table("other.dat")); }), kErrUnknownOSError);
  EXPECT_EQ(h.FileName(), path);
  EXPECT_EQ(ReadFileText(Table("other.dat")), "other");
  h.Rename(Table("moved.dat"));
  EXPECT_EQ(h.FileName(), Table("moved.dat"));
  EXPECT_FALSE(fs::exists(path));
  h.Open();
  h.Close();
  h.Delete();
  EXPECT_FALSE(h.Exists());
  EXPECT_EQ(EngineCode([&] { h.Delete(); }), kErrCannotDelete);
}

TEST_F(TFileHandlerTest, PropertiesChangeOnlyWhileClosed) {
  const std::string table = Table("t");
  MakeFile("t.DAT", "x");
  TDatHandler h;
  h.SetFileName(table);
  h.Open();
  h.SetFileName(table);  // the same file: nothing happens
  EXPECT_EQ(EngineCode([&] { h.SetFileName(Table("u")); }), kErrFileInUse);
  h.SetExclusive(false);  // unchanged values are no change
  h.SetInMemory(false);
  EXPECT_EQ(EngineCode([&] { h.SetExclusive(true); }), kErrFileInUse);
  EXPECT_EQ(EngineCode([&] { h.SetInMemory(true); }), kErrFileInUse);
  EXPECT_EQ(EngineCode([&] { h.SetReadOnly(true); }), kErrFileInUse);
  h.SetWriteThrough(true);  // ignored while open
  EXPECT_FALSE(h.WriteThrough());
  EXPECT_EQ(EngineCode([&] { h.CreateNew(); }), kErrFileInUse);
  EXPECT_EQ(EngineCode([&] { h.Delete(); }), kErrFileInUse);
  EXPECT_EQ(EngineCode([&] { h.Rename(Table("u")); }), kErrFileInUse);
  h.Open();  // nothing when already open
  h.Close();
  h.Close();
  h.SetWriteThrough(true);
  EXPECT_TRUE(h.WriteThrough());
  h.SetFileName(Table("u"));
  EXPECT_EQ(h.FileName(), Table("u.DAT"));
  // A name that no longer fits 255 bytes is refused, never cut to another file's name.
  EXPECT_EQ(EngineCode([&] { h.SetFileName("/" + std::string(251, 'n')); }), kErrInvalidPath);
  EXPECT_EQ(h.FileName(), Table("u.DAT"));
  MakeFile("u.DAT", "x");
  EXPECT_EQ(EngineCode([&] { h.Rename("/" + std::string(251, 'n')); }), kErrInvalidPath);
}

TEST_F(TFileHandlerTest, DiskLocksBelongToTheHandler) {
  const std::string path = MakeFile("t.dat", std::string(100, 'x'));
  TFileHandler a, b;
  OpenOn(a, path, false, false);
  OpenOn(b, path, false, false);
  EXPECT_TRUE(a.Lock(100, 100, true));
  EXPECT_FALSE(a.Lock(150, 100, true));  // overlaps its own
  EXPECT_FALSE(b.Lock(150, 10, true));   // another handler of this process
  EXPECT_FALSE(a.Lock(100, 50, false));  // not the exact range
  EXPECT_TRUE(a.Lock(100, 100, false));
  EXPECT_TRUE(b.Lock(150, 10, true));
  EXPECT_TRUE(a.Lock(0x7FFF0000, 1, true));
  EXPECT_EQ(a.Size(), 100);
  a.Close();
  b.Close();

  // An exclusive handler needs no locks: every call succeeds and none is taken.
  TFileHandler x;
  OpenOn(x, path, true, false);
  EXPECT_TRUE(x.Lock(10, 10, true));
  EXPECT_TRUE(x.Lock(10, 10, true));
  EXPECT_TRUE(x.Lock(500, 1, false));

  const auto start = std::chrono::steady_clock::now();
  x.BusyWait(20);
  EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
}

TEST_F(TFileHandlerTest, InjectedFaultsRaiseReadAndWriteErrors) {
  const std::string path = MakeFile("t.dat", std::string(100, 'a'));
  TFileHandler h, other;
  OpenOn(h, path, false, false);
  OpenOn(other, path, false, false);
  auto faults = std::make_shared<platform::FileFaults>();
  faults->write_limit = 10;
  faults->read_limit = 30;
  faults->refuse_locks = true;
  faults->sync_error = platform::kErrorIoDevice;
  h.InjectFaults(faults);
  EXPECT_EQ(EngineCode([&] { h.WriteAt(0, std::string(50, 'b').data(), 50); }), kErrWriteFailure);
  char buffer[100];
  EXPECT_EQ(EngineCode([&] { h.ReadAt(0, buffer, 100); }), kErrReadFailure);
  EXPECT_EQ(h.ReadAt(0, buffer, 100, true), 30);
  EXPECT_FALSE(h.Lock(5, 1, true));
  EXPECT_EQ(EngineCode([&] { h.Flush(); }), kErrWriteFailure);
  // The faults are the handler's own: the other handler of the same file sees none.
  EXPECT_EQ(other.ReadAt(0, buffer, 100), 100);
  EXPECT_TRUE(other.Lock(5, 1, true));  // the refused lock was never taken
  EXPECT_EQ(ReadFileText(path).substr(0, 12), std::string(10, 'b') + "aa");
  *faults = platform::FileFaults();  // faults end when the test clears them
  EXPECT_EQ(h.ReadAt(0, buffer, 100), 100);
  h.Flush();
}

TEST_F(TFileHandlerTest, CopyToCopiesEveryChunkAndChecksEveryWrite) {
  for (size_t size : {size_t{0}, size_t{65535}, size_t{131070}, size_t{200000}}) {
    const std::string data = Bytes(size, static_cast<uint32_t>(size));
    const std::string path = MakeFile("src.dat", data);
    MakeFile("dst.dat", "stale contents to replace");
    TFileHandler h;
    OpenOn(h, path, false, false);
    h.CopyTo(Table("dst.dat"));
    EXPECT_EQ(ReadFileText(Table("dst.dat")), data) << size;
  }

  const std::string data = Bytes(150000, 7);
  const std::string path = MakeFile("src.dat", data);
  TFileHandler h;
  h.SetFileName(path);
  h.CopyTo(Table("never.dat"));  // closed: nothing
  EXPECT_FALSE(fs::exists(Table("never.dat")));
  h.Open();
  {
    // A disk that fills up must not leave a truncated copy that passed for complete.
    auto faults = std::make_shared<platform::FileFaults>();
    faults->write_limit = 1000;
    h.InjectFaults(faults);
    EXPECT_EQ(EngineCode([&] { h.CopyTo(Table("full.dat")); }), kErrWriteFailure);
    *faults = platform::FileFaults();
  }
  // The destination in use elsewhere is neither replaced nor written.
  const std::string busy = MakeFile("busy.dat", "busy");
  TFileHandler holder;
  OpenOn(holder, busy, false, true);
  EXPECT_EQ(EngineCode([&] { h.CopyTo(busy); }), kErrAccessDenied);
  EXPECT_EQ(ReadFileText(busy), "busy");
  // Nor is the source itself.
  EXPECT_EQ(EngineCode([&] { h.CopyTo(path); }), kErrAccessDenied);
  EXPECT_EQ(ReadFileText(path), data);
}

TEST_F(TFileHandlerTest, InMemoryFilesBehaveLikeDiskFiles) {
  TDatHandler h;
  h.SetInMemory(true);
  h.SetFileName("Mem");
  EXPECT_FALSE(h.Exists());
  EXPECT_TRUE(h.Lock(1, 1, true));  // no file yet: nothing to guard
  EXPECT_EQ(EngineCode([&] { h.CreateNew(); }), kErrNeedExclusive);
  EXPECT_FALSE(h.Exists());
  EXPECT_EQ(EngineCode([&] { h.Open(); }), kErrInvalidPath);
  h.SetExclusive(true);
  h.CreateNew();
  EXPECT_TRUE(h.Exists());
  EXPECT_FALSE(fs::exists("Mem.DAT"));

  const std::string data = Bytes(100, 3);
  h.WriteAt(0, data.data(), 100);
  EXPECT_EQ(h.Size(), 100);
  char buffer[100];
  EXPECT_EQ(EngineCode([&] { h.ReadAt(60, buffer, 100); }), kErrReadFailure);
  EXPECT_EQ(h.ReadAt(60, buffer, 100, true), 40);
  EXPECT_EQ(std::string(buffer, 40), data.substr(60));
  EXPECT_EQ(EngineCode([&] { h.WriteAt(INT32_MAX - 2, "abcd", 4); }), kErrWriteFailure);
  h.TruncateAt(10);
  EXPECT_EQ(h.Size(), 10);
  h.Flush();
  h.CopyTo("Copy.DAT");
  h.Close();

  // Shared handlers of one in-memory file, and the share rules of the session's list.
  TDatHandler a, b;
  for (TDatHandler* x : {&a, &b}) {
    x->SetInMemory(true);
    x->SetFileName("mem");  // names compare without regard to case
    x->Open();
  }
  EXPECT_EQ(a.ReadAt(0, buffer, 10), 10);
  EXPECT_EQ(std::string(buffer, 10), data.substr(0, 10));
  EXPECT_TRUE(a.Lock(100, 10, true));
  EXPECT_FALSE(b.Lock(105, 10, true));
  EXPECT_FALSE(a.Lock(100, 5, false));
  EXPECT_TRUE(a.Lock(100, 10, false));
  // Unlike disk locks, in-memory locks belong to the file: another handler may release them.
  EXPECT_TRUE(a.Lock(200, 10, true));
  EXPECT_TRUE(b.Lock(200, 10, false));
  EXPECT_FALSE(a.Lock(200, 10, false));
  EXPECT_TRUE(b.Lock(205, 1, true));
  EXPECT_TRUE(a.Lock(205, 1, false));
  h.SetExclusive(true);
  EXPECT_EQ(EngineCode([&] { h.Open(); }), kErrAccessDenied);
  EXPECT_EQ(EngineCode([&] { h.Delete(); }), kErrCannotDelete);
  EXPECT_EQ(EngineCode([&] { h.Rename("Other"); }), kErrUnknownOSError);
  a.Close();
  b.Close();

  h.Rename("Other");
  EXPECT_EQ(h.FileName(), "Other.DAT");
  EXPECT_TRUE(h.Exists());
  h.Open();
  EXPECT_EQ(h.Size(), 10);
  h.Close();
  h.Delete();
  EXPECT_FALSE(h.Exists());

  TDatHandler copy;
  copy.SetInMemory(true);
  copy.SetFileName("copy");
  copy.Open();
  EXPECT_EQ(copy.Size(), 10);
  EXPECT_EQ(copy.ReadAt(0, buffer, 10), 10);
  EXPECT_EQ(std::string(buffer, 10), data.substr(0, 10));
}

// Another process stands for another workstation.
class TFileHandlerProcessTest : public TFileHandlerTest {};

TEST_F(TFileHandlerProcessTest, ShareModesAndLocksAgainstAnotherProcess) {
  const std::string path = MakeFile("t.dat", "precious");
  mirvel_test::LockHelperProcess helper;
  ASSERT_TRUE(helper.Started());

  ASSERT_EQ(helper.Send("open 0 ro shared " + path), "ok");
  TFileHandler h;
  h.SetFileName(path);
  h.SetExclusive(true);
  EXPECT_EQ(EngineCode([&] { h.Open(); }), kErrAccessDenied);
  EXPECT_EQ(EngineCode([&] { h.CreateNew(); }), kErrAccessDenied);
  EXPECT_EQ(EngineCode([&] { h.Delete(); }), kErrCannotDelete);
  EXPECT_EQ(EngineCode([&] { h.Rename(Table("gone.dat")); }), kErrUnknownOSError);
  EXPECT_EQ(ReadFileText(path), "precious");
  ASSERT_EQ(helper.Send("close 0"), "ok");

  ASSERT_EQ(helper.Send("open 0 rw excl " + path), "ok");
  h.SetExclusive(false);
  EXPECT_EQ(EngineCode([&] { h.Open(); }), kErrAccessDenied);
  ASSERT_EQ(helper.Send("close 0"), "ok");

  h.SetExclusive(true);
  h.Open();
  EXPECT_EQ(helper.Send("open 0 ro shared " + path), "err 32");
  h.Close();

  h.SetExclusive(false);
  h.Open();
  ASSERT_EQ(helper.Send("open 0 rw shared " + path), "ok");
  ASSERT_EQ(helper.Send("lock 0 2147483647 1"), "ok");
  EXPECT_FALSE(h.Lock(0x7FFFFFFF, 1, true));
  helper.Kill();
  EXPECT_TRUE(h.Lock(0x7FFFFFFF, 1, true));
}

}  // namespace
}  // namespace tessera
