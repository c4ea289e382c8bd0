// TFenEditPhoneUsers: the users file.  It hides the pseudo-user 0 through the users table's
// filter while it is open and puts the filter text back as it found it when it closes.
//
// Lifetime: modeless, at most one; the main window makes it when FenEditPhoneUsers is null.  It
// frees itself on close, which clears FenEditPhoneUsers.  GUI thread only.
#pragma once

#include <string>

#include "app/EditorForm.h"
#include "classlib/db/TDataSource.h"
#include "classlib/dbforms/DBCtrls.h"
#include "classlib/forms/ExtCtrls.h"
#include "classlib/forms/StdCtrls.h"
#include "components/ui/TDBNavBarre.h"
#include "components/ui/TDBRecordCount.h"
#include "components/ui/TFindPanel.h"
#include "components/ui/THintController.h"

namespace mirvel {

class TFenEditPhoneUsers : public TEditorForm {
 public:
  explicit TFenEditPhoneUsers(cl::TComponent* owner);
  ~TFenEditPhoneUsers() override;

  cl::TDataSource* DSPrincipal;
  comp::TFindPanel* FindPanel1;
  cl::TPanel* PanelEdits;
  cl::TLabel* LabelNomReseau;
  comp::THDBEdit* DBEditNomReseau;
  cl::TLabel* LabelAdresseMessagerie;
  comp::THDBEdit* DBEditAdresseMessagerie;
  cl::TLabel* LabelNomComplet;
  comp::THDBEdit* DBEditNomComplet;
  cl::TLabel* LabelStatut;
  cl::TDBEdit* DBEditStatut;
  comp::THDBGrid* DBGridPrincipal;
  cl::TPanel* PanelNavigation;
  cl::TDBNavigator* DBNavigator1;
  comp::TDBRecordCount* DBRecordCount1;
  cl::TPanel* PanelBoutons;
  comp::TDBNavBarre* DBNavBarre1;
  cl::TButton* btnFermer;

  void FormShow(cl::TObject* sender);
  void FormCloseQuery(cl::TObject* sender, bool& can_close);
  void FormClose(cl::TObject* sender, cl::TCloseAction& action);
  void btnFermerClick(cl::TObject* sender);

 private:
  bool filter_set_ = false;
  std::string previous_filter_;
};

// The open users editor, or nullptr.
extern TFenEditPhoneUsers* FenEditPhoneUsers;

// Shows the users editor, making it first when none is open.
void ShowUsersEditor();

}  // namespace mirvel
