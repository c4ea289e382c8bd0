// A program guarded by a single-instance component, for the two-process tests.
//   SingleInstanceHelper <identifier, or - for the executable's path> <result file> [release]
// Appends to the result file: "first <handle>" when it became the first instance, "second
// <handle>" when it found one (it then posts WM_USER+128 there, as the application does, and ends
// with exit code 0), "received <message>" for each WM_USER+128 it receives, and "released" once
// it freed its component (with "release").  The first instance pumps the class library's posted
// messages until it is killed, or for 60 s.
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/Loader.h"
#include "classlib/rtl/ManualEventLoop.h"
#include "classlib/rtl/Messages.h"
#include "components/data/TSingleInstance.h"

namespace {

std::string g_result;

void Report(const std::string& line) { std::ofstream(g_result, std::ios::app) << line << "\n"; }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  cl::SetCommandLine(argc, argv);
  g_result = argv[2];
  cl::TManualEventLoop loop;
  cl::SetEventLoop(&loop);
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
  for (int i = 0; i < 6000; ++i) {
    loop.RunPosted();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}
