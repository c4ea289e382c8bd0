// A program guarded by a single-instance component, for the two-process tests.
//   SingleInstanceHelper <identifier, or - for the executable's path> <result file> [release]
// Appends to the result file: "first <handle>" when it became the first instance, "second
// <handle>" when it found one (it then posts WM_USER+128 there, as the application does, and ends
// with exit code 0), "received <message>" for each WM_USER+128 it receives, and "released" once
// it freed its component (with "release").  The first instance runs the class library's message
// loop (its user interface's, on the offscreen platform, when the visual layer is built; else a
// pump of posted messages) until it is killed, or for 60 s.
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/Loader.h"
#include "classlib/rtl/ManualEventLoop.h"
#include "classlib/rtl/Messages.h"
#include "components/data/TSingleInstance.h"
#ifdef MIRVEL_HELPER_GUI
#include "classlib/forms/Forms.h"
#include "classlib/rtl/TTimer.h"
#endif

namespace {

std::string g_result;

void Report(const std::string& line) { std::ofstream(g_result, std::ios::app) << line << "\n"; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  cl::SetCommandLine(argc, argv);
  g_result = argv[2];
#ifdef MIRVEL_HELPER_GUI
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  cl::InstallFormsBackend();
#else
  cl::TManualEventLoop loop;
  cl::SetEventLoop(&loop);
#endif
  cl::Application().Initialize();
  cl::Application().SetOnMessage([](cl::TMsg& msg, bool& handled) {
    if (msg.message != cl::WM_USER + 128) return;
    Report("received " + std::to_string(msg.message));
    handled = true;
  });

  cl::TComponent root(nullptr);
  {
    cl::TLoader loader(&root);
    auto* guard = loader.Create<comp::TSingleInstance>(&root, "SingleInstance");
    if (std::string(argv[1]) != "-") guard->SetAppIdentifier(argv[1]);
    guard->SetOnAppRunning([](cl::TObject*, cl::HWND running) {
      Report("second " + std::to_string(running));
      cl::PostMessage(running, cl::WM_USER + 128, 0, 0);
    });
    loader.Finish();
  }
  Report("first " + std::to_string(cl::Application().Handle()));
  if (argc > 3 && std::string(argv[3]) == "release") {
    root.DestroyComponents();
    Report("released");
  }
#ifdef MIRVEL_HELPER_GUI
  cl::TForm* main_form = nullptr;
  cl::Application().SetShowMainForm(false);
  cl::Application().CreateForm(main_form);
  auto* limit = new cl::TTimer(main_form);
  limit->SetInterval(60000);
  limit->SetOnTimer([](cl::TObject*) { cl::Application().Terminate(); });
  cl::Application().Run();
#else
  for (int i = 0; i < 6000; ++i) {
    loop.RunPosted();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
#endif
  return 0;
}
