#include "app/FenEditPhoneUsers.h"

#include "app/MMirvel.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Loader.h"
#include "engine/components/TTesseraTable.h"

namespace mirvel {

TFenEditPhoneUsers* FenEditPhoneUsers = nullptr;

TFenEditPhoneUsers::TFenEditPhoneUsers(cl::TComponent* owner) : TEditorForm(owner) {
  cl::TLoader loader(this);
  SetName("FenEditPhoneUsers");
  SetCaption("Fichier des utilisateurs");
  SetBounds(0, 0, 600, 460);
  SetPosition(cl::poScreenCenter);
  SetHelpContext(100);

  DSPrincipal = loader.Create<cl::TDataSource>(this, "DSPrincipal");
  DSPrincipal->SetDataSet(DMMirvel->TableUtilisateurs);

  FindPanel1 = SearchPanel(loader, this, this, "FindPanel1", DMMirvel->TableUtilisateurs,
                           "NomReseau", /*tagged=*/true);

  DBNavBarre1 = EditorButtonBar(loader, this, PanelBoutons, btnFermer);
  DBNavBarre1->SetDataSource(DSPrincipal);
  DBNavBarre1->SetBtnLabels(
      {"&Cr\xE9"
       "er"});
  DBNavBarre1->SetDeleteMessage("Supprimer l'utilisateur ?");

  PanelEdits = loader.Create<cl::TPanel>(this, "PanelEdits");
  PanelEdits->SetParent(this);
  PanelEdits->SetAlign(cl::alBottom);
  PanelEdits->SetHeight(100);
  auto edit = [&](cl::TLabel*& label, const char* label_name, const char* caption, auto*& control,
                  const char* name, const char* field, int left, int top) {
    label = loader.Create<cl::TLabel>(this, label_name);
    label->SetParent(PanelEdits);
    label->SetCaption(caption);
    label->SetBounds(left, top, 280, 13);
    control = loader.Create<std::remove_reference_t<decltype(*control)>>(this, name);
    control->SetParent(PanelEdits);
    control->SetBounds(left, top + 15, 280, 21);
    control->SetDataSource(DSPrincipal);
    control->SetDataField(field);
    label->SetFocusControl(control);
  };
  edit(LabelNomReseau, "LabelNomReseau", "Nom r\xE9seau", DBEditNomReseau, "DBEditNomReseau",
       "NomReseau", 8, 6);
  edit(LabelAdresseMessagerie, "LabelAdresseMessagerie", "Adresse messagerie",
       DBEditAdresseMessagerie, "DBEditAdresseMessagerie", "AdresseMessagerie", 300, 6);
  edit(LabelNomComplet, "LabelNomComplet", "Nom complet", DBEditNomComplet, "DBEditNomComplet",
       "NomComplet", 8, 50);
  edit(LabelStatut, "LabelStatut", "Statut", DBEditStatut, "DBEditStatut", "Statut", 300, 50);

  const TNavigationStrip strip = NavigationStrip(
      loader, this, this, "PanelNavigation", "DBNavigator1", "DBRecordCount1",
      cl::Bounds(4, 2, 150, 25),
      {cl::nbFirst, cl::nbPrior, cl::nbNext, cl::nbLast, cl::nbDelete, cl::nbRefresh}, 160);
  PanelNavigation = strip.panel;
  DBNavigator1 = strip.navigator;
  DBNavigator1->SetShowHint(true);
  DBNavigator1->SetDataSource(DSPrincipal);
  DBRecordCount1 = strip.count;
  DBRecordCount1->SetRecordName("utilisateur");
  DBRecordCount1->SetPluralLetter("s");
  DBRecordCount1->SetDataSource(DSPrincipal);

  DBGridPrincipal = BrowseGrid(loader, this, this, "DBGridPrincipal",
                               {"NomReseau", "NomComplet", "AdresseMessagerie", "Statut"});
  DBGridPrincipal->Columns().Items(3)->SetAlignment(cl::taLeftJustify);
  DBGridPrincipal->SetDataSource(DSPrincipal);

  SetOnShow([this](cl::TObject* s) { FormShow(s); });
  SetOnCloseQuery([this](cl::TObject* s, bool& c) { FormCloseQuery(s, c); });
  SetOnClose([this](cl::TObject* s, cl::TCloseAction& a) { FormClose(s, a); });
  btnFermer->SetOnClick([this](cl::TObject* s) { btnFermerClick(s); });
  loader.Finish();
  FenEditPhoneUsers = this;
}

TFenEditPhoneUsers::~TFenEditPhoneUsers() {
  // Freed without its close (at the end of the program): the filter still goes back.
  if (filter_set_ && DMMirvel != nullptr) DMMirvel->TableUtilisateurs->SetFilter(previous_filter_);
  if (FenEditPhoneUsers == this) FenEditPhoneUsers = nullptr;
}

void TFenEditPhoneUsers::FormShow(cl::TObject*) {
  tessera::TTesseraTable* users = DMMirvel->TableUtilisateurs;
  if (!filter_set_) {
    previous_filter_ = users->Filter();
    filter_set_ = true;
  }
  users->SetFilter(kUsersFilter);
  if (users->Active()) users->Refresh();
}

void TFenEditPhoneUsers::FormCloseQuery(cl::TObject*, bool& can_close) {
  can_close = ConfirmPendingEdits({DMMirvel->TableUtilisateurs});
}

void TFenEditPhoneUsers::FormClose(cl::TObject*, cl::TCloseAction& action) {
  tessera::TTesseraTable* users = DMMirvel->TableUtilisateurs;
  if (filter_set_) {
    users->SetFilter(previous_filter_);
    filter_set_ = false;
    if (users->Active()) users->Refresh();
  }
  action = cl::caFree;
  if (FenEditPhoneUsers == this) FenEditPhoneUsers = nullptr;
}

void TFenEditPhoneUsers::btnFermerClick(cl::TObject*) { Close(); }

void ShowUsersEditor() {
  if (FenEditPhoneUsers == nullptr) cl::Create<TFenEditPhoneUsers>(nullptr);
  FenEditPhoneUsers->Show();
}

}  // namespace mirvel
