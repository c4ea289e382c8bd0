#include "app/EditorForm.h"

#include <map>
#include <string_view>
#include <vector>

#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Screen.h"
#include "classlib/rtl/Messages.h"

namespace mirvel {

TEditorForm::TEditorForm(cl::TComponent* owner) : cl::TForm(owner) {}

void TEditorForm::AfterConstruction() {
  FMinWidth = Width();
  cl::TForm::AfterConstruction();
}

void TEditorForm::DefaultHandler(cl::TMessage& message) {
  cl::TForm::DefaultHandler(message);
  if (message.Msg == cl::WM_GETMINMAXINFO && message.LParam != 0) {
    reinterpret_cast<cl::TMinMaxInfo*>(message.LParam)->ptMinTrackSize.X = FMinWidth;
  }
}

bool ConfirmPendingEdits(std::initializer_list<cl::TDataSet*> data_sets) {
  std::vector<cl::TDataSet*> editing;
  bool modified = false;
  for (cl::TDataSet* data_set : data_sets) {
    if (data_set->State() == cl::dsEdit || data_set->State() == cl::dsInsert) {
      editing.push_back(data_set);
      modified = modified || data_set->Modified();
    }
  }
  if (editing.empty()) return true;
  int answer = cl::mrNo;  // nothing modified: cancel without asking
  if (modified) {
    answer = cl::MessageDlg(kSaveChangesQuestion, cl::mtConfirmation,
                            {cl::mbYes, cl::mbNo, cl::mbCancel}, 0);
  }
  if (answer == cl::mrYes) {
    // Posting a master may already have posted its detail (the link brings it to browse mode).
    for (cl::TDataSet* data_set : editing) {
      if (data_set->State() == cl::dsEdit || data_set->State() == cl::dsInsert) data_set->Post();
    }
    return true;
  }
  if (answer == cl::mrNo) {
    // Details first: a master leaving edit mode makes its link post the detail's pending edit.
    for (auto it = editing.rbegin(); it != editing.rend(); ++it) {
      if ((*it)->State() == cl::dsEdit || (*it)->State() == cl::dsInsert) (*it)->Cancel();
    }
    return true;
  }
  return false;
}

TFilterGuard::TFilterGuard(cl::TDataSet* data_set, const std::string& filter)
    : data_set_(data_set), previous_(data_set->Filter()) {
  data_set_->SetFilter(filter);
}

TFilterGuard::~TFilterGuard() {
  try {
    data_set_->SetFilter(previous_);
  } catch (cl::Exception& e) {
    // A destructor cannot raise; the failure still reaches the user.
    cl::Application().ShowException(e);
  }
}

cl::TButton* CloseButtonBar(cl::TLoader& loader, cl::TForm* form, cl::TPanel*& panel) {
  panel = loader.Create<cl::TPanel>(form, "PanelBoutons");
  panel->SetParent(form);
  panel->SetAlign(cl::alBottom);
  panel->SetHeight(41);
  auto* button = loader.Create<cl::TButton>(form, "btnFermer");
  button->SetParent(panel);
  button->SetCaption("&Fermer");
  return button;
}

comp::TExitPanel* OkCancelPanel(cl::TLoader& loader, cl::TForm* form,
                                const TExitPanelLayout& layout) {
  auto* panel = loader.Create<comp::TExitPanel>(form, "ExitPanel1");
  panel->SetParent(form);
  panel->SetAlign(cl::alBottom);
  panel->SetHeight(layout.height);
  panel->BtnOk().SetCaption(layout.ok_caption);
  panel->BtnOk().SetModalResult(cl::mrOk);
  panel->BtnOk().SetDefault(true);
  panel->BtnCancel().SetCaption(layout.cancel_caption);
  panel->BtnCancel().SetModalResult(cl::mrCancel);
  panel->BtnCancel().SetCancel(true);
  panel->SetBtnWidth(layout.button_width);
  panel->SetBtnHeight(layout.button_height);
  panel->SetSpacing(layout.spacing);
  return panel;
}

comp::TDBNavBarre* EditorButtonBar(cl::TLoader& loader, cl::TForm* form, cl::TPanel*& panel,
                                   cl::TButton*& close_button) {
  close_button = CloseButtonBar(loader, form, panel);
  close_button->SetAlign(cl::alRight);
  close_button->SetWidth(90);
  auto* bar = loader.Create<comp::TDBNavBarre>(form, "DBNavBarre1");
  bar->SetParent(panel);
  bar->SetAlign(cl::alClient);
  bar->SetBevelOuter(cl::bvNone);
  bar->SetSpacing(6);
  bar->SetMarginHeight(2);
  bar->SetMarginWidth(3);
  return bar;
}

comp::TFindPanel* SearchPanel(cl::TLoader& loader, cl::TForm* form, cl::TWinControl* parent,
                              const char* name, cl::TDataSet* data_set, const char* field,
                              bool tagged) {
  auto* panel = loader.Create<comp::TFindPanel>(form, name);
  panel->SetParent(parent);
  panel->SetAlign(cl::alTop);
  panel->SetHeight(33);
  panel->SetLabelCaption(" Rechercher ");
  if (tagged) panel->SetComboBoxWidth(120);
  panel->SetDataSet(data_set);
  if (tagged) {
    panel->Edit()->SetFieldTagValue(1);
    panel->Edit()->SetAllowCalcFields(false);
  }
  panel->SetSearchField(field);
  return panel;
}

TNavigationStrip NavigationStrip(cl::TLoader& loader, cl::TForm* form, cl::TWinControl* parent,
                                 const char* panel_name, const char* navigator_name,
                                 const char* count_name, const cl::TRect& navigator_bounds,
                                 cl::TButtonSet buttons, int count_width) {
  TNavigationStrip strip;
  strip.panel = loader.Create<cl::TPanel>(form, panel_name);
  strip.panel->SetParent(parent);
  strip.panel->SetAlign(cl::alBottom);
  strip.panel->SetHeight(29);
  strip.navigator = loader.Create<cl::TDBNavigator>(form, navigator_name);
  strip.navigator->SetParent(strip.panel);
  strip.navigator->SetBounds(navigator_bounds.Left, navigator_bounds.Top, navigator_bounds.Width(),
                             navigator_bounds.Height());
  strip.navigator->SetVisibleButtons(buttons);
  strip.count = loader.Create<comp::TDBRecordCount>(form, count_name);
  strip.count->SetParent(strip.panel);
  strip.count->SetAlign(cl::alRight);
  strip.count->SetWidth(count_width);
  return strip;
}

comp::THDBGrid* BrowseGrid(cl::TLoader& loader, cl::TForm* form, cl::TWinControl* parent,
                           const char* name, std::initializer_list<const char*> fields) {
  auto* grid = loader.Create<comp::THDBGrid>(form, name);
  grid->SetParent(parent);
  grid->SetAlign(cl::alClient);
  grid->SetOptions({cl::dgTitles, cl::dgIndicator, cl::dgColumnResize, cl::dgColLines,
                    cl::dgRowLines, cl::dgTabs, cl::dgRowSelect, cl::dgConfirmDelete,
                    cl::dgCancelOnExit});
  // Widths for what the columns show: their fields' sizes (up to 50 characters) would push the
  // last columns out of the smallest windows.
  static const std::map<std::string_view, int> kWidths = {
      {"Societe", 150},    {"Nom", 150},   {"NomComplet", 150}, {"NomReseau", 100},
      {"Fonction", 110},   {"Ville", 110}, {"Pays", 90},        {"CodePostal", 70},
      {"TelStandard", 95}, {"TelFax", 95}, {"Tel1", 95},        {"AdresseMessagerie", 170},
      {"Statut", 80}};
  for (const char* field : fields) {
    cl::TColumn* column = grid->Columns().Add();
    column->SetFieldName(field);
    if (const auto it = kWidths.find(field); it != kWidths.end()) column->SetWidth(it->second);
  }
  return grid;
}

}  // namespace mirvel
