// TFenSelInterlocuteurs: the search of a caller by name among every company's callers.
//
// QueryRechercheInter runs the main data module's caller search statement: the callers joined
// with their company (callers whose company is missing are left out), ordered by name, with
// NoSociete, NoInterlocuteur, Nom, Fonction, Societe and Ville.  It is the main data module's
// query (the dialog only shows it); ReopenQuery runs it again on the shared tables.
//
// Lifetime: made, shown modally and freed by the main window's caller button.  GUI thread only.
#pragma once

#include <cstdint>

#include "app/EditorForm.h"
#include "classlib/db/TDataSource.h"
#include "classlib/dbforms/DBCtrls.h"
#include "classlib/forms/ExtCtrls.h"
#include "classlib/forms/StdCtrls.h"
#include "components/ui/TDBRecordCount.h"
#include "components/ui/TExitPanel.h"
#include "components/ui/TFindPanel.h"
#include "components/ui/THintController.h"
#include "engine/components/TTesseraQuery.h"

namespace mirvel {

class TFenSelInterlocuteurs : public TEditorForm {
 public:
  explicit TFenSelInterlocuteurs(cl::TComponent* owner);

  tessera::TTesseraQuery* QueryRechercheInter;
  cl::TDataSource* DSPrincipal;
  comp::TFindPanel* FindPanel1;
  comp::THDBGrid* DBGridPrincipal;
  cl::TPanel* PanelNavigation;
  cl::TDBNavigator* DBNavigator1;
  comp::TDBRecordCount* DBRecordCount1;
  cl::TPanel* PanelContacts;
  cl::TButton* btnContacts;
  comp::TExitPanel* ExitPanel1;

  void FormShow(cl::TObject* sender);
  void FormCloseQuery(cl::TObject* sender, bool& can_close);
  void DBGridPrincipalDblClick(cl::TObject* sender);
  void btnContactsClick(cl::TObject* sender);

  // Reads the query again and opens it (the close and reopen of the caller).
  void ReopenQuery();
  // Positions the query on that caller; false when it is not listed.
  bool LocateInterlocuteur(int32_t no_interlocuteur);
  // The current row's caller number and name (0 and "" on an empty list).
  int32_t CurrentInterlocuteur() const;
  std::string CurrentNom() const;
};

}  // namespace mirvel
