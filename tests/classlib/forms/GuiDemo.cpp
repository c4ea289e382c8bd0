// The demo program of the real-display test: a form with a button and a tray icon.  Everything
// it sees is appended to the marker file given as its argument, one word a line:
//   ready, clicked, tray-double-click, query-end-session, end-session, destroyed.
#include "classlib/forms/Forms.h"
#include "classlib/forms/ShellApi.h"
#include "classlib/forms/StdCtrls.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/TTimer.h"
#include "tests/classlib/forms/DemoProgram.h"

namespace {

using demo::Mark;

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
  demo::Start(argc, argv);
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
    data.Icon = demo::StripedIcon();
    data.Tip = "Mirvel demo";
    Mark(cl::Shell_NotifyIcon(cl::NIM_ADD, data) ? "ready" : "ready-without-tray");
  });
  cl::Application().Run();
  return 0;
}
