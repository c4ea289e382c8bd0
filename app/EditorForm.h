// What the dialogs and editors share: a form that keeps its width at creation as its minimum
// tracking width, the question asked before pending edits are dropped, the guard that puts a
// filter text back as it was found, and the parts their windows are built of.
//
// GUI thread only.
#pragma once

#include <initializer_list>
#include <string>

#include "classlib/db/TDataSet.h"
#include "classlib/dbforms/DBCtrls.h"
#include "classlib/forms/ExtCtrls.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/StdCtrls.h"
#include "classlib/rtl/Loader.h"
#include "components/ui/TDBNavBarre.h"
#include "components/ui/TDBRecordCount.h"
#include "components/ui/TExitPanel.h"
#include "components/ui/TFindPanel.h"
#include "components/ui/THintController.h"

namespace mirvel {

inline constexpr const char* kSaveChangesQuestion =
    "Attention ! Vous avez fait des modifications. Souhaitez-vous les sauvegarder ?";
inline constexpr const char* kUsersFilter = "NoUtilisateur <> 0";

// A form whose width when its construction finishes is the least the user can shrink it to.
class TEditorForm : public cl::TForm {
 public:
  explicit TEditorForm(cl::TComponent* owner);
  void AfterConstruction() override;
  int FMinWidth = 0;

 protected:
  void DefaultHandler(cl::TMessage& message) override;
};

// The close query of a form editing `data_sets` (masters before their details): none of them
// editing or inserting closes; none modified cancels them all and closes; otherwise the question
// with Yes, No and Cancel: Yes posts each editing one in order, No cancels them all (details
// first, so that no master's link posts what was refused), Cancel keeps the form.  Returns
// whether the form may close.
bool ConfirmPendingEdits(std::initializer_list<cl::TDataSet*> data_sets);

// Sets a data set's filter text for its lifetime and puts the previous text back when it goes,
// also when the work in between fails.
class TFilterGuard {
 public:
  TFilterGuard(cl::TDataSet* data_set, const std::string& filter);
  ~TFilterGuard();
  TFilterGuard(const TFilterGuard&) = delete;
  TFilterGuard& operator=(const TFilterGuard&) = delete;

 private:
  cl::TDataSet* data_set_;
  std::string previous_;
};

// The parts below are made through the form's loader, owned by `form`, under the names the
// windows' tests and stored layouts know them by; each caller sets what is its own afterwards.

// The bottom bar "PanelBoutons", 41 high, holding the button "btnFermer" ("&Fermer"), which the
// caller places.  Returns the button.
cl::TButton* CloseButtonBar(cl::TLoader& loader, cl::TForm* form, cl::TPanel*& panel);

// The dialogs' bottom panel "ExitPanel1": OK closes with mrOk and is the default button, Cancel
// closes with mrCancel and answers Escape.
struct TExitPanelLayout {
  int height;
  const char* ok_caption;
  const char* cancel_caption;
  int button_width;
  int button_height;
  int spacing;
};
comp::TExitPanel* OkCancelPanel(cl::TLoader& loader, cl::TForm* form,
                                const TExitPanelLayout& layout);

// The editors' bottom bar: the close button at its right end, 90 wide, and the navigation bar
// "DBNavBarre1" over the rest of it.  Returns the navigation bar.
comp::TDBNavBarre* EditorButtonBar(cl::TLoader& loader, cl::TForm* form, cl::TPanel*& panel,
                                   cl::TButton*& close_button);

// The search panel `name` at the top of `parent`, looking `field` up in `data_set`.  `tagged`:
// a form's main search panel, whose list of fields is 120 wide and holds only the fields tagged
// 1, calculated ones left out.
comp::TFindPanel* SearchPanel(cl::TLoader& loader, cl::TForm* form, cl::TWinControl* parent,
                              const char* name, cl::TDataSet* data_set, const char* field,
                              bool tagged = false);

// A strip 29 high at the bottom of `parent`: a navigator at `navigator_bounds` showing `buttons`
// and, at the strip's right end, a record count `count_width` wide.  The caller gives both their
// data source.
struct TNavigationStrip {
  cl::TPanel* panel;
  cl::TDBNavigator* navigator;
  comp::TDBRecordCount* count;
};
TNavigationStrip NavigationStrip(cl::TLoader& loader, cl::TForm* form, cl::TWinControl* parent,
                                 const char* panel_name, const char* navigator_name,
                                 const char* count_name, const cl::TRect& navigator_bounds,
                                 cl::TButtonSet buttons, int count_width);

// A browse grid `name` filling `parent`: titles, whole rows selected, deletions confirmed, one
// column for each of `fields`.  The caller gives it its data source.
comp::THDBGrid* BrowseGrid(cl::TLoader& loader, cl::TForm* form, cl::TWinControl* parent,
                           const char* name, std::initializer_list<const char*> fields);

}  // namespace mirvel
