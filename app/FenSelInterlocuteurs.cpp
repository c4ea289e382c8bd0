#include "app/FenSelInterlocuteurs.h"

#include <memory>

#include "app/FenEditClients.h"
#include "app/MMirvel.h"
#include "classlib/db/TFields.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Loader.h"
#include "engine/components/TTesseraQuery.h"

namespace mirvel {

TFenSelInterlocuteurs::TFenSelInterlocuteurs(cl::TComponent* owner) : TEditorForm(owner) {
  cl::TLoader loader(this);
  SetName("FenSelInterlocuteurs");
  SetCaption("S\xE9lection d'un interlocuteur");
  SetBounds(0, 0, 560, 400);
  SetPosition(cl::poScreenCenter);
  SetHelpContext(100);

  QueryRechercheInter = DMMirvel->QueryRechercheInter;
  DSPrincipal = loader.Create<cl::TDataSource>(this, "DSPrincipal");
  DSPrincipal->SetDataSet(QueryRechercheInter);
  DSPrincipal->SetAutoEdit(false);

  FindPanel1 = loader.Create<comp::TFindPanel>(this, "FindPanel1");
  FindPanel1->SetParent(this);
  FindPanel1->SetAlign(cl::alTop);
  FindPanel1->SetHeight(33);
  FindPanel1->SetLabelCaption(" Rechercher ");
  FindPanel1->SetComboBoxWidth(120);
  FindPanel1->SetDataSet(QueryRechercheInter);
  FindPanel1->Edit()->SetFieldTagValue(1);
  FindPanel1->Edit()->SetAllowCalcFields(false);
  FindPanel1->SetSearchField("Nom");

  ExitPanel1 = loader.Create<comp::TExitPanel>(this, "ExitPanel1");
  ExitPanel1->SetParent(this);
  ExitPanel1->SetAlign(cl::alBottom);
  ExitPanel1->SetHeight(43);
  ExitPanel1->BtnOk().SetCaption("OK");
  ExitPanel1->BtnOk().SetModalResult(cl::mrOk);
  ExitPanel1->BtnOk().SetDefault(true);
  ExitPanel1->BtnCancel().SetCaption("Annuler");
  ExitPanel1->BtnCancel().SetModalResult(cl::mrCancel);
  ExitPanel1->BtnCancel().SetCancel(true);
  ExitPanel1->SetBtnWidth(110);
  ExitPanel1->SetBtnHeight(31);
  ExitPanel1->SetSpacing(6);

  PanelContacts = loader.Create<cl::TPanel>(this, "PanelContacts");
  PanelContacts->SetParent(this);
  PanelContacts->SetAlign(cl::alBottom);
  PanelContacts->SetHeight(37);
  PanelContacts->SetBevelOuter(cl::bvNone);
  btnContacts = loader.Create<cl::TButton>(this, "btnContacts");
  btnContacts->SetParent(PanelContacts);
  btnContacts->SetCaption("Fichier des Contacts");
  btnContacts->SetBounds((560 - 150) / 2, 6, 150, 25);

  PanelNavigation = loader.Create<cl::TPanel>(this, "PanelNavigation");
  PanelNavigation->SetParent(this);
  PanelNavigation->SetAlign(cl::alBottom);
  PanelNavigation->SetHeight(29);
  DBNavigator1 = loader.Create<cl::TDBNavigator>(this, "DBNavigator1");
  DBNavigator1->SetParent(PanelNavigation);
  DBNavigator1->SetBounds(4, 2, 125, 25);
  DBNavigator1->SetVisibleButtons(
      {cl::nbFirst, cl::nbPrior, cl::nbNext, cl::nbLast, cl::nbRefresh});
  DBNavigator1->SetDataSource(DSPrincipal);
  DBRecordCount1 = loader.Create<comp::TDBRecordCount>(this, "DBRecordCount1");
  DBRecordCount1->SetParent(PanelNavigation);
  DBRecordCount1->SetAlign(cl::alRight);
  DBRecordCount1->SetWidth(180);
  DBRecordCount1->SetRecordName("enregistrement");
  DBRecordCount1->SetPluralLetter("s");
  DBRecordCount1->SetDataSource(DSPrincipal);

  DBGridPrincipal = loader.Create<comp::THDBGrid>(this, "DBGridPrincipal");
  DBGridPrincipal->SetParent(this);
  DBGridPrincipal->SetAlign(cl::alClient);
  DBGridPrincipal->SetOptions({cl::dgTitles, cl::dgIndicator, cl::dgColumnResize, cl::dgColLines,
                               cl::dgRowLines, cl::dgTabs, cl::dgRowSelect, cl::dgConfirmDelete,
                               cl::dgCancelOnExit});
  for (const char* name : {"Societe", "Nom", "Fonction", "Ville"}) {
    DBGridPrincipal->Columns().Add()->SetFieldName(name);
  }
  DBGridPrincipal->SetDataSource(DSPrincipal);

  SetOnShow([this](cl::TObject* s) { FormShow(s); });
  SetOnCloseQuery([this](cl::TObject* s, bool& c) { FormCloseQuery(s, c); });
  DBGridPrincipal->SetOnDblClick([this](cl::TObject* s) { DBGridPrincipalDblClick(s); });
  btnContacts->SetOnClick([this](cl::TObject* s) { btnContactsClick(s); });
  SetActiveControl(FindPanel1->Edit());
  loader.Finish();
}

void TFenSelInterlocuteurs::ReopenQuery() {
  QueryRechercheInter->Close();
  QueryRechercheInter->Open();
}

bool TFenSelInterlocuteurs::LocateInterlocuteur(int32_t no_interlocuteur) {
  return QueryRechercheInter->Active() &&
         QueryRechercheInter->Locate("NoInterlocuteur", no_interlocuteur, {});
}

int32_t TFenSelInterlocuteurs::CurrentInterlocuteur() const {
  if (!QueryRechercheInter->Active() || QueryRechercheInter->IsEmpty()) return 0;
  return QueryRechercheInter->FieldByName("NoInterlocuteur")->AsInteger();
}

std::string TFenSelInterlocuteurs::CurrentNom() const {
  if (!QueryRechercheInter->Active() || QueryRechercheInter->IsEmpty()) return "";
  return QueryRechercheInter->FieldByName("Nom")->AsString();
}

void TFenSelInterlocuteurs::FormShow(cl::TObject*) {
  FindPanel1->Edit()->SetText("");
  if (FindPanel1->Edit()->CanFocus()) FindPanel1->Edit()->SetFocus();
  if (!QueryRechercheInter->Active()) ReopenQuery();
}

void TFenSelInterlocuteurs::DBGridPrincipalDblClick(cl::TObject*) {
  if (QueryRechercheInter->Active() && !QueryRechercheInter->IsEmpty()) SetModalResult(cl::mrOk);
}

void TFenSelInterlocuteurs::btnContactsClick(cl::TObject*) {
  if (FenEditClients != nullptr) return;
  const int32_t no_interlocuteur = CurrentInterlocuteur();
  const int32_t no_societe = QueryRechercheInter->Active() && !QueryRechercheInter->IsEmpty()
                                 ? QueryRechercheInter->FieldByName("NoSociete")->AsInteger()
                                 : -1;
  ShowContactsEditor(no_societe, no_interlocuteur > 0 ? no_interlocuteur : -1);
  ReopenQuery();
  if (no_interlocuteur > 0) LocateInterlocuteur(no_interlocuteur);
}

void TFenSelInterlocuteurs::FormCloseQuery(cl::TObject*, bool& can_close) {
  can_close = ConfirmPendingEdits({QueryRechercheInter});
}

}  // namespace mirvel
