#include "components/data/TAutoInstaller.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <filesystem>

#include "ProcessRunner.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/FormatSettings.h"
#include "classlib/rtl/Loader.h"
#include "classlib/rtl/Registry.h"
#include "classlib/rtl/Resources.h"
#include "classlib/rtl/TextUtils.h"
#include "classlib/rtl/ZStream.h"
#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace comp {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct HaltCalled {
  int code;
};

// Its class name finds a resource the test registers.
class TDamagedInstaller : public TAutoInstaller {
 public:
  using TAutoInstaller::TAutoInstaller;
};

std::vector<uint8_t> Packed(uint32_t declared, size_t actual) {
  std::vector<uint8_t> plain(4 + actual, 'x');
  cl::PutU32LE(plain.data(), declared);
  uLongf size = compressBound(static_cast<uLong>(plain.size()));
  std::vector<uint8_t> packed(size);
  compress2(packed.data(), &size, plain.data(), static_cast<uLong>(plain.size()), 9);
  packed.resize(size);
  return packed;
}

class TAutoInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cl::SetHaltHook([](int code) { throw HaltCalled{code}; });
    cl::Application().SetTitle("Appels");
    cl::SetCurrentFormatSettings(cl::SystemFormatSettings());  // decimal comma
  }
  void TearDown() override {
    cl::SetHaltHook(nullptr);
    SetAutoInstallerHooks({});
    fs::remove(installer_.InstallerPath());
  }

  mirvel_test::TempDirectory dir_{"autoinstall"};
  TAutoInstaller installer_{nullptr};
};

// One case only: the installer file lies beside this test program, shared by all of it.
TEST_F(TAutoInstallerTest, NamesChecksAndFailuresThatNeverEndTheProgram) {
  const std::string exe = cl::Application().ExeName();
  const std::string exe_name = cl::ExtractFileName(exe);
  const std::string installer = installer_.InstallerPath();
  EXPECT_EQ(installer, cl::ExtractFilePath(exe) + "~#Instal.Exe");

  installer_.SetUpdatePath("  ");
  EXPECT_EQ(installer_.UpdateFile(), "");
  EXPECT_FALSE(installer_.NeedsUpdate());
  installer_.SetUpdatePath(dir_.Path());
  installer_.SetErrorTime(2.5);
  EXPECT_EQ(installer_.UpdateFile(), dir_.Path() + "/" + exe_name);
  EXPECT_EQ(installer_.CommandLine(), "\"" + installer + "\" \"" + dir_.Path() + "/" + exe_name +
                                          "\" \"" + exe + "\" \"2,5\" \"Appels\" " +
                                          std::to_string(getpid()));

  // Newer by the file times only: equal (within the 2-second steps) or older is no update.
  const fs::path update = dir_.File(exe_name);
  mirvel_test::WriteFileBytes(update, {1, 2, 3});
  const auto exe_time = fs::last_write_time(exe);
  for (auto [shift, expected] :
       {std::pair{0s, false}, std::pair{10s, true}, std::pair{-10s, false}}) {
    fs::last_write_time(update, exe_time + shift);
    EXPECT_EQ(installer_.NeedsUpdate(), expected) << shift.count();
  }

  // A left-over installer that cannot be deleted: 50 pauses of 100 ms for 5 s, then go on.
  mirvel_test::WriteFileBytes(installer, {0});
  int pauses = 0;
  TAutoInstallerHooks failing_delete;
  failing_delete.delete_file = [](const std::string&) { return false; };
  failing_delete.sleep = [&](int ms) { pauses += ms == 100 ? 1 : 1000; };
  SetAutoInstallerHooks(failing_delete);
  installer_.SetErrorTime(5.0);
  EXPECT_FALSE(installer_.NeedsUpdate());
  EXPECT_EQ(pauses, 50);
  SetAutoInstallerHooks({});
  EXPECT_FALSE(installer_.NeedsUpdate());  // deleted at the first try now
  EXPECT_FALSE(fs::exists(installer));

  // A start that fails raises and leaves no installer; the program is not halted.
  TAutoInstallerHooks failing_start;
  failing_start.start_process = [](std::string_view, TProcessInformation& info) {
    info.ProcessId = 0;
  };
  SetAutoInstallerHooks(failing_start);
  EXPECT_THROW(installer_.Install(), EAutoInstallError);
  EXPECT_FALSE(fs::exists(installer));
  SetAutoInstallerHooks({});

  // A damaged or short image raises before anything is started, and leaves no file.
  TDamagedInstaller damaged(nullptr);
  static const uint8_t kGarbage[] = {0x78, 0x9C, 1, 2, 3, 4, 5, 6, 7, 8};
  static const std::vector<uint8_t> kShort = Packed(100, 10);
  for (auto [data, size] :
       {std::pair{kGarbage, sizeof(kGarbage)}, std::pair{kShort.data(), kShort.size()}}) {
    cl::RegisterResource("TDamagedInstaller", data, size);
    EXPECT_THROW(damaged.Install(), cl::EStreamError);
    EXPECT_FALSE(fs::exists(installer));
  }
}

TEST(TAutoInstallerRegistryTest, LoadingReadsTheUpdateFolderFromTheMachineKey) {
  mirvel_test::TempDirectory dir("autoinstall-registry");
  setenv("MIRVEL_REGISTRY_DIR", dir.Path().c_str(), 1);
  cl::TRegistry registry;
  registry.SetRootKey(cl::HKEY_LOCAL_MACHINE);
  ASSERT_TRUE(registry.OpenKey("Software\\Ordelis\\Mirvel", true));
  registry.WriteString("AutoInstall_UpdatePath", "/srv/mirvel");
  cl::TComponent root(nullptr);
  TAutoInstaller* installer = nullptr;
  {
    cl::TLoader loader(&root);
    installer = loader.Create<TAutoInstaller>(&root, "AutoInstaller");
    installer->SetUseRegistry(true);
    installer->SetRegistryKey("Software\\Ordelis\\Mirvel");
    loader.Finish();
  }
  EXPECT_EQ(installer->UpdatePath(), "/srv/mirvel");
  unsetenv("MIRVEL_REGISTRY_DIR");
}

TEST(TAutoInstallerProcessTest, ANewerCopyReplacesTheProgramOnceItHasEnded) {
  mirvel_test::TempDirectory dir("selfupdate");
  const fs::path app_dir = dir.File("app dir");  // a blank inside the installer's path
  fs::create_directories(app_dir);
  fs::create_directories(dir.File("shared"));
  const fs::path program = app_dir / "Prog";
  const fs::path update = dir.File("shared/Prog");
  fs::copy_file(MIRVEL_UPDATE_HELPER, program);
  fs::permissions(program, fs::perms(0751));
  fs::copy_file(MIRVEL_UPDATE_HELPER, update);
  std::vector<uint8_t> newer = mirvel_test::ReadFileBytes(update);
  newer.insert(newer.end(), {'n', 'e', 'w', 'e', 'r'});
  mirvel_test::WriteFileBytes(update, newer);
  fs::last_write_time(update, fs::last_write_time(program) + 10s);
  const std::string result = dir.File("result.txt");

  const pid_t first = mirvel_test::Spawn({program, dir.File("shared"), result});
  EXPECT_EQ(mirvel_test::WaitExit(first), 0);
  EXPECT_EQ(mirvel_test::ReadFileText(result), "");  // it ended in the launcher
  bool replaced = false;
  for (int i = 0; i < 2000 && !replaced; ++i) {
    replaced = mirvel_test::ReadFileBytes(program) == newer;
    if (!replaced) std::this_thread::sleep_for(10ms);
  }
  ASSERT_TRUE(replaced);
  EXPECT_EQ(fs::status(program).permissions() & fs::perms::all, fs::perms(0751));
  EXPECT_TRUE(fs::exists(app_dir / "~#Instal.Exe"));

  // The next start removes the left-over installer and finds nothing newer.
  const pid_t second = mirvel_test::Spawn({program, dir.File("shared"), result});
  EXPECT_EQ(mirvel_test::WaitExit(second), 0);
  EXPECT_EQ(mirvel_test::ReadFileText(result), "current\n");
  EXPECT_FALSE(fs::exists(app_dir / "~#Instal.Exe"));
}

}  // namespace
}  // namespace comp
