// The demo program of the real-display test: a form with a button and a tray icon.  Everything
// it sees is appended to the marker file given as its argument, one word a line:
//   ready, clicked, tray-double-click, query-end-session, end-session, destroyed.
#include <cstdio>
#include <string>
#include <vector>

#include "classlib/forms/Forms.h"
#include "classlib/forms/ShellApi.h"
#include "classlib/forms/StdCtrls.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/TTimer.h"

namespace {

std::string g_marker_file;

void Mark(const std::string& word) {
  if (FILE* f = std::fopen(g_marker_file.c_str(), "ae")) {
    std::fprintf(f, "%s\n", word.c_str());
    std::fclose(f);
  }
}

// A 32 x 32 icon of two colours (the format's own layout; see the graphics tests).
cl::TIcon DemoIcon() {
  std::vector<uint8_t> b(766, 0);
  cl::PutU16LE(&b[2], 1);
  cl::PutU16LE(&b[4], 1);
  b[6] = 32;
  b[7] = 32;
  b[8] = 16;
  cl::PutU16LE(&b[10], 1);
  cl::PutU16LE(&b[12], 4);
  cl::PutU32LE(&b[14], 744);
  cl::PutU32LE(&b[18], 22);
  cl::PutU32LE(&b[22], 40);
  cl::PutU32LE(&b[26], 32);
  cl::PutU32LE(&b[30], 64);
  cl::PutU16LE(&b[34], 1);
  cl::PutU16LE(&b[36], 4);
  cl::PutU32LE(&b[62 + 4], 0x0000FFFF);  // yellow
  cl::PutU32LE(&b[62 + 8], 0x00FF0000);  // red
  for (int row = 0; row < 32; ++row) {
    for (int col = 0; col < 16; ++col) b[126 + row * 16 + col] = (row + col) % 4 < 2 ? 0x11 : 0x22;
  }
  cl::TIcon icon;
  icon.LoadFromBytes(b);
  return icon;
}

constexpr uint32_t kTrayMessage = 0xB054;

class TDemoForm : public cl::TForm {
 public:
  explicit TDemoForm(cl::TComponent* owner) : cl::TForm(owner) {
    SetCaption("Mirvel demo");
    SetBounds(100, 100, 320, 140);
    auto* button = new cl::TButton(this);
    button->SetParent(this);
    button->SetCaption("Marquer");
    button->SetBounds(20, 20, 140, 40);
    button->SetOnClick([](cl::TObject*) { Mark("clicked"); });
    SetMessageMethod(kTrayMessage, [](cl::TMessage& m, const cl::TWndMethod&) {
      if (m.LParam == cl::WM_LBUTTONDBLCLK) Mark("tray-double-click");
    });
    SetMessageMethod(cl::WM_QUERYENDSESSION, [](cl::TMessage& m, const cl::TWndMethod&) {
      Mark("query-end-session");
      m.Result = 1;
    });
    SetMessageMethod(cl::WM_ENDSESSION, [](cl::TMessage& m, const cl::TWndMethod&) {
      if (m.WParam == 1) Mark("end-session");
    });
    SetOnDestroy([](cl::TObject*) { Mark("destroyed"); });
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  g_marker_file = argv[1];
  cl::SetCommandLine(argc, argv);
  cl::Application().Initialize();
  cl::Application().SetTitle("Mirvel demo");
  TDemoForm* form = nullptr;
  cl::Application().CreateForm(form);
  // The tray icon once the loop runs, so that the tray host sees a live application.
  cl::TTimer start(nullptr);
  start.SetInterval(200);
  start.SetOnTimer([&](cl::TObject*) {
    start.SetEnabled(false);
    cl::TNotifyIconData data;
    data.Wnd = form->Handle();
    data.ID = 1;
    data.Flags = cl::NIF_MESSAGE | cl::NIF_ICON | cl::NIF_TIP;
    data.CallbackMessage = kTrayMessage;
    data.Icon = DemoIcon();
    data.Tip = "Mirvel demo";
    Mark(cl::Shell_NotifyIcon(cl::NIM_ADD, data) ? "ready" : "ready-without-tray");
  });
  cl::Application().Run();
  return 0;
}
