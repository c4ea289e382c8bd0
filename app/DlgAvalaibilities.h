// TDlgAvalaibilities: every user's connection state and availability note.  The note and its
// date are changed only after the bar's "Modifier"; a key typed before that is refused with a
// box.
//
// Lifetime: made, shown modally and freed by ShowAvailabilities (the main window's button),
// which hides the pseudo-user 0 meanwhile and puts the users filter back.  GUI thread only.
#pragma once

#include "app/EditorForm.h"
#include "classlib/db/TDataSource.h"
#include "classlib/dbforms/DBCtrls.h"
#include "classlib/forms/ExtCtrls.h"
#include "classlib/forms/StdCtrls.h"
#include "components/ui/TDBDateEdit.h"
#include "components/ui/TDBNavBarre.h"
#include "components/ui/THintController.h"

namespace mirvel {

inline constexpr const char* kClickModifyFirst =
    "Vous devez d'abord cliquer sur le bouton \"Modifier\"";

class TDlgAvalaibilities : public TEditorForm {
 public:
  explicit TDlgAvalaibilities(cl::TComponent* owner);

  cl::TDataSource* DSUsers;
  comp::THDBGrid* MainDBGrid;
  cl::TPanel* PanelDroite;
  cl::TLabel* LabelDispo;
  cl::TDBMemo* MemoDispo;
  cl::TLabel* LabelDate;
  comp::TDBDateEdit* DateDisponibilites;
  comp::TDBNavBarre* DBNavBarre1;
  cl::TPanel* PanelBoutons;
  cl::TButton* btnFermer;

  void FormShow(cl::TObject* sender);
  void MainDBGridDrawColumnCell(cl::TObject* sender, const cl::TRect& rect, int data_col,
                                cl::TColumn* column, cl::TGridDrawState state);
  void MainDBGridKeyDown(cl::TObject* sender, uint16_t& key, cl::TShiftState shift);
  void MainDBGridExit(cl::TObject* sender);
  void DBNavBarre1AfterAction(cl::TObject* sender, comp::TNavButtons button);
  void MemoDispoKeyPress(cl::TObject* sender, char& key);
  void DateDisponibilitesButtonClick(cl::TObject* sender);

 private:
  // The box and the silent abort unless the users table is being edited.
  void RequireEdit();
  void PostPending();
};

// The main window's availabilities command: the dialog over the users without user 0.
void ShowAvailabilities();

}  // namespace mirvel
