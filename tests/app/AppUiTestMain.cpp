// The main of the application's window tests: a private HOME, registry and runtime directory
// per test program (the single-instance guard and the registry stay its own), the offscreen
// platform, one application object, and the engine's sessions.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "classlib/forms/Forms.h"
#include "classlib/rtl/Application.h"
#include "engine/components/TTesseraSession.h"
#include "tests/app/AppUiTestSupport.h"

namespace mirvel_test {

namespace {
std::string g_root;
}

const std::string& TestRoot() { return g_root; }

}  // namespace mirvel_test

int main(int argc, char** argv) {
  std::string pattern = (std::filesystem::temp_directory_path() / "mirvel-appui-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 2;
  mirvel_test::g_root = pattern;
  for (const char* sub : {"home", "registry", "runtime"}) {
    std::filesystem::create_directories(pattern + "/" + sub);
  }
  std::filesystem::permissions(pattern + "/runtime", std::filesystem::perms::owner_all);
  setenv("HOME", (pattern + "/home").c_str(), 1);
  setenv("MIRVEL_REGISTRY_DIR", (pattern + "/registry").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", (pattern + "/runtime").c_str(), 1);
  setenv("MIRVEL_LOGIN", "alice", 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  cl::SetCommandLine(argc, argv);
  QApplication app(argc, argv);
  cl::InstallFormsBackend();
  cl::Application().Initialize();
  cl::Application().SetShowMainForm(false);
  cl::Application().SetTitle("Gestion des appels t\xE9l\xE9phoniques");
  tessera::InitializeSessions();
  const int result = RUN_ALL_TESTS();
  cl::StopMessageReceiver();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  return result;
}
