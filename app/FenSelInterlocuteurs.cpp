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

  FindPanel1 =
      SearchPanel(loader, this, this, "FindPanel1", QueryRechercheInter, "Nom", /*tagged=*/true);

  ExitPanel1 = OkCancelPanel(loader, this, {43, "OK", "Annuler", 110, 31, 6});

  PanelContacts = loader.Create<cl::TPanel>(this, "PanelContacts");
  PanelContacts->SetParent(this);
  PanelContacts->SetAlign(cl::alBottom);
  PanelContacts->SetHeight(37);
  PanelContacts->SetBevelOuter(cl::bvNone);
  btnContacts = loader.Create<cl::TButton>(this, "btnContacts");
  btnContacts->SetParent(PanelContacts);
  btnContacts->SetCaption("Fichier des Contacts");
  btnContacts->SetBounds((560 - 150) / 2, 6, 150, 25);

  const TNavigationStrip strip =
      NavigationStrip(loader, this, this, "PanelNavigation", "DBNavigator1", "DBRecordCount1",
                      cl::Bounds(4, 2, 125, 25),
                      {cl::nbFirst, cl::nbPrior, cl::nbNext, cl::nbLast, cl::nbRefresh}, 180);
  PanelNavigation = strip.panel;
  DBNavigator1 = strip.navigator;
  DBNavigator1->SetDataSource(DSPrincipal);
  DBRecordCount1 = strip.count;
  DBRecordCount1->SetRecordName("enregistrement");
  DBRecordCount1->SetPluralLetter("s");
  DBRecordCount1->SetDataSource(DSPrincipal);

  DBGridPrincipal =
      BrowseGrid(loader, this, this, "DBGridPrincipal", {"Societe", "Nom", "Fonction", "Ville"});
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
