#include "app/DlgAvalaibilities.h"

#include <memory>

#include "app/FenChoixDestinataires.h"  // the row colours
#include "app/MBDMirvel.h"
#include "app/MMirvel.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Loader.h"
#include "engine/components/TTesseraTable.h"

namespace mirvel {

TDlgAvalaibilities::TDlgAvalaibilities(cl::TComponent* owner) : TEditorForm(owner) {
  cl::TLoader loader(this);
  SetName("DlgAvalaibilities");
  SetCaption("Utilisateurs connect\xE9s & disponibilit\xE9s");
  SetBounds(0, 0, 620, 380);
  SetBorderStyle(cl::bsDialog);
  SetPosition(cl::poScreenCenter);

  DSUsers = loader.Create<cl::TDataSource>(this, "DSUsers");
  DSUsers->SetDataSet(DMMirvel->TableUtilisateurs);
  DSUsers->SetAutoEdit(false);

  btnFermer = CloseButtonBar(loader, this, PanelBoutons);
  btnFermer->SetModalResult(cl::mrOk);
  btnFermer->SetCancel(true);
  btnFermer->SetBounds(520, 8, 90, 25);

  PanelDroite = loader.Create<cl::TPanel>(this, "PanelDroite");
  PanelDroite->SetParent(this);
  PanelDroite->SetAlign(cl::alRight);
  PanelDroite->SetWidth(300);
  LabelDispo = loader.Create<cl::TLabel>(this, "LabelDispo");
  LabelDispo->SetParent(PanelDroite);
  LabelDispo->SetCaption("Disponibilit\xE9s");
  LabelDispo->SetBounds(8, 6, 280, 13);
  MemoDispo = loader.Create<cl::TDBMemo>(this, "MemoDispo");
  MemoDispo->SetParent(PanelDroite);
  MemoDispo->SetBounds(8, 22, 284, 180);
  MemoDispo->SetDataSource(DSUsers);
  MemoDispo->SetDataField("Disponibilites");
  LabelDispo->SetFocusControl(MemoDispo);
  LabelDate = loader.Create<cl::TLabel>(this, "LabelDate");
  LabelDate->SetParent(PanelDroite);
  LabelDate->SetCaption("Date derni\xE8re saisie");
  LabelDate->SetBounds(8, 212, 280, 13);
  DateDisponibilites = loader.Create<comp::TDBDateEdit>(this, "DateDisponibilites");
  DateDisponibilites->SetParent(PanelDroite);
  DateDisponibilites->SetBounds(8, 228, 140, 21);
  DateDisponibilites->SetDataSource(DSUsers);
  DateDisponibilites->SetDataField("DateDisponibilites");
  LabelDate->SetFocusControl(DateDisponibilites);
  DBNavBarre1 = loader.Create<comp::TDBNavBarre>(this, "DBNavBarre1");
  DBNavBarre1->SetParent(PanelDroite);
  DBNavBarre1->SetBounds(8, 262, 284, 33);
  DBNavBarre1->SetBevelOuter(cl::bvNone);
  DBNavBarre1->SetDataSource(DSUsers);
  DBNavBarre1->SetVisibleBtn({comp::navEdit, comp::navPost, comp::navCancel});
  DBNavBarre1->SetBtnHints({"", "Modifier les disponibilit\xE9s", "",
                            "Sauvegarder les modifications", "Annuler les modifications"});
  DBNavBarre1->SetShowHint(true);
  DBNavBarre1->SetFocusControl(MemoDispo);

  MainDBGrid = loader.Create<comp::THDBGrid>(this, "MainDBGrid");
  MainDBGrid->SetParent(this);
  MainDBGrid->SetAlign(cl::alClient);
  MainDBGrid->SetOptions({cl::dgTitles, cl::dgIndicator, cl::dgColumnResize, cl::dgColLines,
                          cl::dgRowLines, cl::dgTabs, cl::dgRowSelect, cl::dgAlwaysShowSelection,
                          cl::dgConfirmDelete, cl::dgCancelOnExit});
  cl::TColumn* name_column = MainDBGrid->Columns().Add();
  name_column->SetFieldName("NomComplet");
  name_column->Title().Caption = "Utilisateur";
  name_column->SetWidth(200);  // the status stays in sight
  cl::TColumn* status_column = MainDBGrid->Columns().Add();
  status_column->SetFieldName("Statut");
  status_column->SetWidth(80);  // the longer of the two statuses whole
  MainDBGrid->SetDataSource(DSUsers);

  SetOnShow([this](cl::TObject* s) { FormShow(s); });
  MainDBGrid->SetOnDrawColumnCell(
      [this](cl::TObject* s, const cl::TRect& r, int c, cl::TColumn* col, cl::TGridDrawState st) {
        MainDBGridDrawColumnCell(s, r, c, col, st);
      });
  MainDBGrid->SetOnKeyDown(
      [this](cl::TObject* s, uint16_t& k, cl::TShiftState sh) { MainDBGridKeyDown(s, k, sh); });
  MainDBGrid->SetOnExit([this](cl::TObject* s) { MainDBGridExit(s); });
  DBNavBarre1->SetAfterAction(
      [this](cl::TObject* s, comp::TNavButtons b) { DBNavBarre1AfterAction(s, b); });
  MemoDispo->SetOnKeyPress([this](cl::TObject* s, char& k) { MemoDispoKeyPress(s, k); });
  DateDisponibilites->SetOnKeyPress([this](cl::TObject* s, char& k) { MemoDispoKeyPress(s, k); });
  DateDisponibilites->SetOnButtonClick(
      [this](cl::TObject* s) { DateDisponibilitesButtonClick(s); });
  loader.Finish();
}

void TDlgAvalaibilities::FormShow(cl::TObject*) {
  DMMirvel->TableUtilisateurs->Locate("NoUtilisateur", DMBDMirvel->FCurrentUser, {});
}

void TDlgAvalaibilities::MainDBGridDrawColumnCell(cl::TObject*, const cl::TRect& rect, int data_col,
                                                  cl::TColumn* column, cl::TGridDrawState state) {
  cl::TField* statut = DMMirvel->TableUtilisateursStatut;
  if (column != nullptr && column->FieldName() == "NomComplet" && !statut->IsNull()) {
    MainDBGrid->Canvas().Font().SetColor(statut->AsInteger() == 1 ? kConnectedColor
                                                                  : kDisconnectedColor);
  }
  MainDBGrid->DefaultDrawColumnCell(rect, data_col, column, state);
}

void TDlgAvalaibilities::PostPending() {
  tessera::TTesseraTable* users = DMMirvel->TableUtilisateurs;
  if (users->State() == cl::dsEdit || users->State() == cl::dsInsert) users->Post();
}

void TDlgAvalaibilities::MainDBGridKeyDown(cl::TObject*, uint16_t& key, cl::TShiftState) {
  if (key == cl::VK_RETURN) PostPending();
}

void TDlgAvalaibilities::MainDBGridExit(cl::TObject*) { PostPending(); }

void TDlgAvalaibilities::DBNavBarre1AfterAction(cl::TObject*, comp::TNavButtons button) {
  if (button == comp::navEdit) {
    DMMirvel->TableUtilisateurs->FieldByName("DateDisponibilites")->SetAsDateTime(cl::Date());
  }
}

void TDlgAvalaibilities::RequireEdit() {
  if (DMMirvel->TableUtilisateurs->State() == cl::dsEdit) return;
  cl::MessageDlg(kClickModifyFirst, cl::mtError, {cl::mbOK}, 0);
  cl::Abort();
}

void TDlgAvalaibilities::MemoDispoKeyPress(cl::TObject*, char& key) {
  if (DMMirvel->TableUtilisateurs->State() == cl::dsEdit) return;
  key = 0;
  RequireEdit();
}

void TDlgAvalaibilities::DateDisponibilitesButtonClick(cl::TObject*) { RequireEdit(); }

void ShowAvailabilities() {
  std::unique_ptr<TDlgAvalaibilities> dialog(cl::Create<TDlgAvalaibilities>(nullptr));
  TFilterGuard filter(DMMirvel->TableUtilisateurs, kUsersFilter);
  dialog->ShowModal();
}

}  // namespace mirvel
