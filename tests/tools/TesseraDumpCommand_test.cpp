#include "tools/TesseraDumpCommand.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "classlib/rtl/DateTimeText.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/table/TableCreation.h"
#include "tests/engine/storage/StorageTestSupport.h"
#include "tests/platform/LockHelperClient.h"
#include "tests/platform/TempDirectory.h"

namespace tessera {
namespace {

namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out;
  std::string err;
};

Result Dump(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = RunTesseraDump(args, out, err);
  return {status, out.str(), err.str()};
}

class TesseraDumpCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeEngine();
    TNewTable table;
    table.fields = {testing::Field(1, "No", kFieldInt32), testing::Field(2, "Memo", kFieldBlob)};
    table.indexes = {testing::Index("", {1}, true)};
    TDataFile t;
    t.SetFileName(File("Msg"));
    t.SetExclusive(true);
    t.SetupNewTable(table);
  }
  void TearDown() override { ShutdownEngine(); }

  std::string File(const std::string& name) const { return dir_.File(name); }

  mirvel_test::TempDirectory dir_{"dumpcmd"};
};

// The name is found as the engine finds it; what is not a table file of a size its format allows
// is refused with a clear reason and status 2, unread (a FIFO would wait for ever, a sparse file
// of gigabytes would be read into memory).
TEST_F(TesseraDumpCommandTest, FilesAreReachedAsTheEngineReachesThem) {
  const Result exact = Dump({File("Msg.DAT")});
  EXPECT_EQ(exact.status, 0) << exact.err;
  const Result folded = Dump({File("msg.dat")});
  EXPECT_EQ(folded.status, 0) << folded.err;
  EXPECT_EQ(folded.out, exact.out);
  // The stamp of the creation a moment ago, as today's date and a time, then the number.
  const std::string label = "\n  update stamp        ";
  const size_t at = exact.out.find(label);
  ASSERT_NE(at, std::string::npos) << exact.out;
  const std::string stamp = exact.out.substr(at + label.size(), 25);
  EXPECT_EQ(stamp.substr(0, 10), cl::FormatDateTime("yyyy-mm-dd", cl::Now())) << stamp;
  for (size_t i = 0; i < stamp.size(); ++i) {
    const char shape = "dddd-dd-dd dd:dd:dd.ddd ("[i];
    EXPECT_TRUE(shape == 'd' ? std::isdigit(static_cast<unsigned char>(stamp[i])) != 0
                             : stamp[i] == shape)
        << stamp;
  }
  EXPECT_EQ(Dump({File("MSG.idx")}).status, 0);
  const Result table = Dump({"--check", File("msg")});
  EXPECT_EQ(table.status, 0) << table.err;
  EXPECT_NE(table.out.find("table check: ok, 0 records"), std::string::npos) << table.out;
  EXPECT_EQ(Dump({"--block-size", "512", File("msg.Blb")}).status, 0);

  fs::create_directory(File("Dir.DAT"));
  ASSERT_EQ(mkfifo(File("Fifo.IDX").c_str(), 0600), 0);
  fs::copy_file(File("Msg.IDX"), File("Long.IDX"));
  fs::resize_file(File("Long.IDX"), 64 << 20);  // sparse; the pages end at 4096
  for (const char* name : {"Big.IDX", "Big.BLB", "Big.DAT"}) {
    std::ofstream(File(name)).put('x');
    fs::resize_file(File(name), 5'000'000'000);
  }
  struct Case {
    std::string file;
    const char* reason;
  };
  const Case refused[] = {
      {"Dir.DAT", "a directory, not a table file"},
      {"Fifo.IDX", "not a regular file"},
      {"None.BLB", "no such file"},
      {"Big.IDX", "longer than a .IDX file can be (2000004096)"},
      {"Big.BLB", "longer than a .BLB file can be (2000065535)"},
      {"Big.DAT", "longer than a .DAT file can be (2147483647)"},
  };
  for (const Case& c : refused) {
    const Result r = Dump({File(c.file)});
    EXPECT_EQ(r.status, 2) << c.file;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << c.file;
  }
  const Result longer = Dump({File("Long.IDX")});
  EXPECT_EQ(longer.status, 0) << longer.err;
  EXPECT_NE(longer.out.find("index file: 67108864 bytes"), std::string::npos) << longer.out;
  EXPECT_EQ(Dump({"--check", File("Long.IDX")}).status, 0);
}

class TesseraDumpCommandProcessTest : public TesseraDumpCommandTest {};

// A table another workstation holds exclusively may be half-written: the tool, a shared reader,
// is refused with the engine's message.
TEST_F(TesseraDumpCommandProcessTest, AFileHeldExclusivelyIsRefused) {
  mirvel_test::LockHelperProcess helper;
  ASSERT_TRUE(helper.Started());
  for (const char* name : {"Msg.DAT", "Msg.IDX", "Msg.BLB"}) {
    ASSERT_EQ(helper.Send(std::string("open 0 rw excl ") + File(name)), "ok");
    const Result r = Dump({File(name)});
    EXPECT_EQ(r.status, 2) << name;
    EXPECT_NE(r.err.find("Tessera Engine Error # 11013"), std::string::npos) << r.err;
    ASSERT_EQ(helper.Send("close 0"), "ok");
    EXPECT_EQ(Dump({File(name)}).status, 0) << name;
  }
}

}  // namespace
}  // namespace tessera
