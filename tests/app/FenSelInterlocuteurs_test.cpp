#include "app/FenSelInterlocuteurs.h"

#include <gtest/gtest.h>

#include "app/FenEditClients.h"
#include "classlib/forms/Dialogs.h"
#include "engine/components/TTesseraTable.h"
#include "tests/app/AppUiTestSupport.h"

namespace mirvel_test {
namespace {

using mirvel::TFenSelInterlocuteurs;

std::vector<std::string> QueryRows(TFenSelInterlocuteurs& dialog) {
  std::vector<std::string> rows;
  cl::TDataSet* query = dialog.QueryRechercheInter;
  for (query->First(); !query->Eof(); query->Next()) {
    rows.push_back(query->FieldByName("Nom")->AsString() + "|" +
                   query->FieldByName("Societe")->AsString());
  }
  return rows;
}

int32_t CallerNumber(Workstation& station, const char* name) {
  tessera::TTesseraTable* inters = station.dm().TableInterlocuteurs;
  inters->SetMasterSource(nullptr);
  const bool found = inters->Locate("Nom", name, {});
  const int32_t number = found ? inters->FieldByName("NoInterlocuteur")->AsInteger() : 0;
  inters->SetMasterSource(station.dm().DSClients);
  return number;
}

TEST(FenSelInterlocuteurs, QueryJoinsCallersWithTheirCompanyByName) {
  Workstation station;
  station.AddClient("ACME", "Paris", "", {{"durand", ""}, {"Albert", ""}});
  station.AddClient("Beta", "Lyon", "", {{"Zoe", ""}});
  tessera::TTesseraTable* inters = station.dm().TableInterlocuteurs;
  // A caller of no client and one whose company is gone.
  station.dm().TableClients->Locate("NoSociete", 0, {});
  inters->Append();
  inters->FieldByName("Nom")->SetAsString("Sans");
  inters->Post();
  inters->SetMasterSource(nullptr);
  inters->Append();
  inters->FieldByName("Nom")->SetAsString("Orphelin");
  inters->FieldByName("NoSociete")->SetAsInteger(77);
  inters->Post();
  inters->SetMasterSource(station.dm().DSClients);

  std::unique_ptr<TFenSelInterlocuteurs> dialog(cl::Create<TFenSelInterlocuteurs>(nullptr));
  dialog->ReopenQuery();
  EXPECT_EQ(QueryRows(*dialog), (std::vector<std::string>{"Albert|ACME", "durand|ACME",
                                                          "Sans|<Tous clients>", "Zoe|Beta"}));
  const int32_t zoe = CallerNumber(station, "Zoe");
  ASSERT_TRUE(dialog->LocateInterlocuteur(zoe));
  EXPECT_EQ(dialog->CurrentNom(), "Zoe");
  EXPECT_EQ(dialog->CurrentInterlocuteur(), zoe);
  EXPECT_FALSE(dialog->LocateInterlocuteur(9999));
}

TEST(FenSelInterlocuteurs, DoubleClickClosesOnlyOnARow) {
  for (bool with_callers : {false, true}) {
    SCOPED_TRACE(with_callers);
    Workstation station;
    if (with_callers) station.AddClient("ACME", "", "", {{"Albert", ""}});
    std::unique_ptr<TFenSelInterlocuteurs> dialog(cl::Create<TFenSelInterlocuteurs>(nullptr));
    int after_double_click = -1;
    std::string search_text = "<not shown>";
    dialog->FindPanel1->Edit()->SetText("old");
    cl::AddModalAction([&] {
      search_text = dialog->FindPanel1->Edit()->Text();
      dialog->DBGridPrincipalDblClick(dialog->DBGridPrincipal);
      after_double_click = dialog->ModalResult();
      if (after_double_click == cl::mrNone) dialog->SetModalResult(cl::mrCancel);
    });
    dialog->ShowModal();
    EXPECT_EQ(search_text, "");
    EXPECT_EQ(after_double_click, with_callers ? cl::mrOk : cl::mrNone);
  }
}

TEST(FenSelInterlocuteurs, ContactsFileReturnsToTheSameCaller) {
  Workstation station;
  station.AddClient("ACME", "", "", {{"Durand", ""}, {"Albert", ""}});
  station.AddClient("Beta", "", "", {{"Zoe", ""}});
  const int32_t durand = CallerNumber(station, "Durand");
  std::unique_ptr<TFenSelInterlocuteurs> dialog(cl::Create<TFenSelInterlocuteurs>(nullptr));
  dialog->ReopenQuery();
  ASSERT_TRUE(dialog->LocateInterlocuteur(durand));
  int32_t placed_on = 0;
  std::string client_shown;
  cl::AddModalAction([&] {
    dialog->btnContactsClick(dialog->btnContacts);
    dialog->SetModalResult(cl::mrOk);
  });
  cl::AddModalAction([&] {
    // Inside the contacts editor: the caller's client and the caller are current; rename him.
    tessera::TTesseraTable* inters = station.dm().TableInterlocuteurs;
    placed_on = inters->FieldByName("NoInterlocuteur")->AsInteger();
    client_shown = station.dm().TableClients->FieldByName("Societe")->AsString();
    inters->Edit();
    inters->FieldByName("Nom")->SetAsString("Durand-Lefort");
    inters->Post();
    mirvel::FenEditClients->SetModalResult(cl::mrOk);
  });
  EXPECT_EQ(dialog->ShowModal(), cl::mrOk);
  EXPECT_EQ(placed_on, durand);
  EXPECT_EQ(client_shown, "ACME");
  EXPECT_EQ(dialog->CurrentInterlocuteur(), durand);
  EXPECT_EQ(dialog->CurrentNom(), "Durand-Lefort");
  EXPECT_EQ(mirvel::FenEditClients, nullptr);
}

TEST(FenSelInterlocuteurs, Texts) {
  Workstation station;
  station.AddClient("ACME", "", "", {{"Durand", ""}, {"Albert", ""}});
  std::unique_ptr<TFenSelInterlocuteurs> dialog(cl::Create<TFenSelInterlocuteurs>(nullptr));
  dialog->ReopenQuery();
  PumpFor(20);
  // clang-format off
  ExpectTexts(dialog.get(), {
      {"", "Caption", "S\xE9lection d'un interlocuteur"},
      {"btnContacts", "Caption", "Fichier des Contacts"},
      {"DBGridPrincipal/Societe", "Title", "Soci\xE9t\xE9"},
      {"DBGridPrincipal/Nom", "Title", "Nom"},
      {"DBGridPrincipal/Fonction", "Title", "Fonction"},
      {"DBGridPrincipal/Ville", "Title", "Ville"},
      {"DBRecordCount1", "Caption", "2 enregistrements"},
  });
  // clang-format on
  EXPECT_EQ(dialog->FindPanel1->Label()->Caption(), " Rechercher ");
  EXPECT_EQ(dialog->ExitPanel1->BtnOk().Caption(), "OK");
  EXPECT_EQ(dialog->ExitPanel1->BtnCancel().Caption(), "Annuler");
}

}  // namespace
}  // namespace mirvel_test
