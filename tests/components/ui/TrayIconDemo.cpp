// The program of the components' real-display test: a hidden main form, a tray icon with a
// pop-up menu whose default item marks its click, and, with a second argument, a form whose
// placement storage sets a minimum size and keeps the size ("placement"), or a form with a data
// edit too narrow for its value ("hint").  What it sees goes to the marker file, one word a line:
// ready, default-item, popup, size <w> <h>, restored <w> <h>, hint-shown, hint-hidden.
#include <string>

#include "classlib/db/TDataSource.h"
#include "classlib/db/TFields.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/Menus.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Loader.h"
#include "classlib/rtl/TTimer.h"
#include "classlib/rtl/Units.h"
#include "components/data/TVirtualDataSet.h"
#include "components/ui/TFormPlacement.h"
#include "components/ui/THintController.h"
#include "components/ui/TOxTrayIcon.h"
#include "components/ui/WindowRoutines.h"
#include "tests/classlib/forms/DemoProgram.h"

namespace {

using demo::Mark;

class TTrayForm : public cl::TForm {
 public:
  explicit TTrayForm(cl::TComponent* owner) : cl::TForm(owner) {
    SetCaption("Mirvel tray");
    menu_ = new cl::TPopupMenu(this);
    auto* open = new cl::TMenuItem(menu_);
    open->SetCaption("Ouvrir");
    open->SetDefault(true);
    open->SetOnClick([](cl::TObject*) { Mark("default-item"); });
    menu_->Items()->Add(open);
    menu_->SetOnPopup([](cl::TObject*) { Mark("popup"); });
    tray_ = new comp::TOxTrayIcon(this);
    tray_->SetHint("Mirvel tray");
    tray_->SetPopupMenu(menu_);
  }
  comp::TOxTrayIcon* tray_;
  cl::TPopupMenu* menu_;
};

// The main window's placement storage with its minimum size.
class TPlacedForm : public cl::TForm {
 public:
  explicit TPlacedForm(cl::TComponent* owner) : cl::TForm(owner) {
    SetCaption("Mirvel placement");
    cl::TLoader loader(this);
    auto* storage = loader.Create<comp::TFormStorage>(this, "FormStorage");
    storage->SetOptions({});
    storage->MinMaxInfo().SetMinTrackWidth(635);
    storage->MinMaxInfo().SetMinTrackHeight(452);
    // As the program's main window keeps its size: by its own two values, in an INI file beside
    // the markers.
    storage->SetIniFileName(demo::MarkerFile() + ".ini");
    storage->SetOnSavePlacement([this, storage](cl::TObject*) {
      storage->WriteInteger("FormWidth", Width());
      storage->WriteInteger("FormHeight", Height());
    });
    storage->SetOnRestorePlacement([this, storage](cl::TObject*) {
      const int width = storage->ReadInteger("FormWidth", 0);
      const int height = storage->ReadInteger("FormHeight", 0);
      if (width > 0 && height > 0) SetBounds(Left(), Top(), width, height);
      Mark("restored " + std::to_string(width) + " " + std::to_string(height));
    });
    loader.Finish();
    SetBounds(50, 50, 700, 500);
    SetOnResize([this](cl::TObject*) {
      Mark("size " + std::to_string(Width()) + " " + std::to_string(Height()));
    });
  }
};

// A data edit at (20, 20), 120 wide, holding a longer value; every change of the hint window's
// visibility is marked.
class THintedForm : public cl::TForm {
 public:
  explicit THintedForm(cl::TComponent* owner) : cl::TForm(owner) {
    SetCaption("Mirvel hint");
    SetBounds(50, 50, 400, 200);
    auto* data = new comp::TVirtualDataSet(this);
    auto* field = new cl::TStringField(this);
    field->SetFieldName("Societe");
    field->SetSize(80);
    field->SetDataSet(data);
    data->Open();
    data->AppendRecord(
        {cl::Variant(std::string("Soci\xE9t\xE9 des \xC9tablissements Martin-Dupont"))});
    auto* source = new cl::TDataSource(this);
    source->SetDataSet(data);
    auto* edit = new comp::THDBEdit(this);
    edit->SetParent(this);
    edit->SetBounds(20, 20, 120, 24);
    edit->SetDataSource(source);
    edit->SetDataField("Societe");
    auto* watch = new cl::TTimer(this);
    watch->SetInterval(50);
    watch->SetOnTimer([this](cl::TObject*) {
      const bool showing = comp::HintController()->Showing();
      if (showing == shown_) return;
      shown_ = showing;
      Mark(showing ? "hint-shown" : "hint-hidden");
    });
  }

 private:
  bool shown_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  demo::Start(argc, argv);
  const std::string mode = argc > 2 ? argv[2] : "";
  cl::Application().SetShowMainForm(!mode.empty());
  TPlacedForm* placed = nullptr;
  THintedForm* hinted = nullptr;
  TTrayForm* form = nullptr;
  if (mode == "placement") cl::Application().CreateForm(placed);
  if (mode == "hint") {
    comp::RegisterHintControllerUnit();
    comp::RegisterComponentCursorsUnit();
    cl::InitializeUnits();
    cl::Application().CreateForm(hinted);
  }
  cl::Application().CreateForm(form);
  cl::TTimer start(nullptr);
  start.SetInterval(200);
  start.SetOnTimer([&](cl::TObject*) {
    if (!form->tray_->IconVisible()) {
      form->tray_->SetIcon(demo::StripedIcon());
      if (!form->tray_->IconVisible()) return;  // the tray host is not there yet
    }
    start.SetEnabled(false);
    Mark("ready");
  });
  cl::Application().Run();
  cl::FinalizeUnits();
  return 0;
}
