// The program of the date edit's real-display test: a form with one date edit holding
// 07/12/2026.  What it sees goes to the marker file, one line each:
//   ready (the edit has the focus), dropped <x> <y> <w> <h> (the calendar's place on the
//   screen), closed, text <the edit's text> (after each change).
#include <string>

#include "classlib/forms/Forms.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/TTimer.h"
#include "components/ui/TCustomDateEdit.h"
#include "tests/classlib/forms/DemoProgram.h"

namespace {

using demo::Mark;

class TDateForm : public cl::TForm {
 public:
  explicit TDateForm(cl::TComponent* owner) : cl::TForm(owner) {
    SetCaption("Mirvel date edit");
    SetBounds(100, 100, 320, 200);
    edit_ = new comp::TDateEdit(this);
    edit_->SetParent(this);
    edit_->SetBounds(20, 20, 130, 21);
    edit_->SetDate(cl::EncodeDate(2026, 12, 7));
    edit_->SetOnChange([this](cl::TObject*) { Mark("text " + edit_->Text()); });
    watch_ = new cl::TTimer(this);
    watch_->SetInterval(50);
    watch_->SetOnTimer([this](cl::TObject*) { Watch(); });
  }

 private:
  void Watch() {
    if (!ready_) {
      if (!Showing()) return;
      if (!edit_->Focused()) {
        edit_->SetFocus();
        return;
      }
      ready_ = true;
      Mark("ready");
    }
    if (edit_->PopupVisible() == dropped_) return;
    dropped_ = edit_->PopupVisible();
    if (dropped_) {
      const comp::TPopupCalendar* popup = edit_->PopupCalendar();
      Mark("dropped " + std::to_string(popup->Left()) + " " + std::to_string(popup->Top()) + " " +
           std::to_string(popup->Width()) + " " + std::to_string(popup->Height()));
    } else {
      Mark("closed");
    }
  }

  comp::TDateEdit* edit_;
  cl::TTimer* watch_;
  bool ready_ = false;
  bool dropped_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  demo::Start(argc, argv);
  TDateForm* form = nullptr;
  cl::Application().CreateForm(form);
  cl::Application().Run();
  return 0;
}
