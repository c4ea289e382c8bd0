// TFenEditClients: the contacts file, the client companies and their callers.  On the client
// "<Tous clients>" (NoSociete 0) every caller of every company is listed and the client itself
// cannot be edited.
//
// Lifetime: modal, at most one at a time (FenEditClients points at it while it exists); made by
// ShowContactsEditor, which opens or refreshes the clients and callers tables first.
// GUI thread only.
#pragma once

#include <cstdint>
#include <string>

#include "app/EditorForm.h"
#include "classlib/db/TDataSource.h"
#include "classlib/dbforms/DBCtrls.h"
#include "classlib/forms/ComCtrls.h"
#include "classlib/forms/ExtCtrls.h"
#include "classlib/forms/StdCtrls.h"
#include "components/ui/TDBNavBarre.h"
#include "components/ui/TDBRecordCount.h"
#include "components/ui/TFindPanel.h"
#include "components/ui/THintController.h"

namespace mirvel {

class TFenEditClients : public TEditorForm {
 public:
  explicit TFenEditClients(cl::TComponent* owner);
  ~TFenEditClients() override;

  cl::TDataSource* DSPrincipal;
  cl::TDataSource* DSInterlocuteurs;
  // Top: the clients.
  cl::TPanel* PanelClients;
  comp::TFindPanel* FindPanelClients;
  comp::THDBGrid* DBGridClients;
  cl::TPanel* PanelNavClients;
  cl::TDBNavigator* DBNavigatorClients;
  comp::TDBRecordCount* DBRecordCountClients;
  // The pages.
  cl::TPageControl* PageControl1;
  cl::TTabSheet* TabClient;
  comp::THDBEdit* DBEditSociete;
  comp::THDBEdit* DBEditAdresse1;
  comp::THDBEdit* DBEditAdresse2;
  comp::THDBEdit* DBEditCodePostal;
  comp::THDBEdit* DBEditVille;
  comp::THDBEdit* DBEditPays;
  comp::THDBEdit* DBEditTelStandard;
  comp::THDBEdit* DBEditTelFax;
  comp::TFindPanel* FindPanelInterClient;
  comp::THDBGrid* DBGridInterClient;
  cl::TTabSheet* TabInterlocuteurs;
  comp::TFindPanel* FindPanelInter;
  comp::THDBGrid* DBGridInter;
  cl::TDBNavigator* DBNavigatorInter;
  comp::TDBRecordCount* DBRecordCountInter;
  comp::THDBEdit* DBEditNom;
  comp::THDBEdit* DBEditTel1;
  comp::THDBEdit* DBEditTel2;
  comp::THDBEdit* DBEditFonction;
  cl::TDBMemo* DBMemoCommentaires;
  // Bottom.
  cl::TPanel* PanelBoutons;
  comp::TDBNavBarre* DBNavBarre1;
  cl::TButton* btnFermer;

  void FormShow(cl::TObject* sender);
  void FormCloseQuery(cl::TObject* sender, bool& can_close);
  void FormClose(cl::TObject* sender, cl::TCloseAction& action);
  void DSPrincipalDataChange(cl::TObject* sender, cl::TField* field);
  void TableClientsBeforeEdit(cl::TDataSet* data_set);
  void TableInterlocuteursAfterInsert(cl::TDataSet* data_set);
  void DBGridInterClientDblClick(cl::TObject* sender);
  void btnFermerClick(cl::TObject* sender);

  // The page "Client"'s caption for the current client.
  std::string ClientCaption() const;

 private:
  bool clients_locked_ = false;
};

// The open contacts editor, or nullptr.
extern TFenEditClients* FenEditClients;

// Opens or refreshes the clients and callers tables, places them on `no_societe` and
// `no_interlocuteur` when given (> 0, or 0 for the client "<Tous clients>"), and shows the
// editor modally; nothing when one is already open.  Returns false in that case.
bool ShowContactsEditor(int32_t no_societe = -1, int32_t no_interlocuteur = -1);

}  // namespace mirvel
