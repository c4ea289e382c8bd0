#include "app/FenEditClients.h"

#include <gtest/gtest.h>

#include "classlib/forms/Dialogs.h"
#include "engine/components/TTesseraTable.h"
#include "tests/app/AppUiTestSupport.h"

namespace mirvel_test {
namespace {

using mirvel::TFenEditClients;

// Clients ACME (Paris, "01 02": Durand, Albert) and Beta (Zoe); one caller, Sans, under
// "<Tous clients>".
struct Contacts {
  Contacts() {
    acme = station.AddClient("ACME", "Paris", "01 02", {{"Durand", "11"}, {"Albert", "12"}});
    beta = station.AddClient("Beta", "", "", {{"Zoe", "13"}});
    tessera::TTesseraTable* inters = station.dm().TableInterlocuteurs;
    station.dm().TableClients->Locate("NoSociete", 0, {});
    inters->Append();  // the "no particular client" question is answered OK
    inters->FieldByName("Nom")->SetAsString("Sans");
    inters->Post();
  }
  Workstation station;
  int32_t acme = 0, beta = 0;
};

std::vector<std::string> CallerNames() {
  std::vector<std::string> names;
  tessera::TTesseraTable* inters = mirvel::DMMirvel->TableInterlocuteurs;
  for (inters->First(); !inters->Eof(); inters->Next()) {
    names.push_back(inters->FieldByName("Nom")->AsString());
  }
  return names;
}

void WithEditor(int32_t client, const std::function<void(TFenEditClients&)>& check) {
  bool ran = false;
  cl::AddModalAction([&] {
    ASSERT_NE(mirvel::FenEditClients, nullptr);
    ran = true;
    check(*mirvel::FenEditClients);
    mirvel::FenEditClients->SetModalResult(cl::mrCancel);
  });
  EXPECT_TRUE(mirvel::ShowContactsEditor(client));
  EXPECT_TRUE(ran);
  EXPECT_EQ(mirvel::FenEditClients, nullptr);
}

TEST(FenEditClients, AllClientsListsEveryCallerAndRefusesEditing) {
  Contacts contacts;
  tessera::TTesseraTable* clients = contacts.station.dm().TableClients;
  WithEditor(0, [&](TFenEditClients& editor) {
    EXPECT_EQ(editor.PageControl1->ActivePage(), editor.TabClient);
    EXPECT_EQ(CallerNames(), (std::vector<std::string>{"Albert", "Durand", "Sans", "Zoe"}));
    EXPECT_THROW(clients->Edit(), cl::EAbort);
    EXPECT_EQ(clients->State(), cl::dsBrowse);
    EXPECT_EQ(editor.TabClient->Caption(), "<Tous clients>");

    ASSERT_TRUE(clients->Locate("NoSociete", contacts.acme, {}));
    EXPECT_EQ(CallerNames(), (std::vector<std::string>{"Albert", "Durand"}));
    clients->Edit();
    EXPECT_EQ(clients->State(), cl::dsEdit);
    clients->Cancel();
    // And back: detached again.
    ASSERT_TRUE(clients->Locate("NoSociete", 0, {}));
    EXPECT_EQ(CallerNames().size(), 4u);
    // One editor at a time.
    EXPECT_FALSE(mirvel::ShowContactsEditor());
  });
  EXPECT_EQ(contacts.station.dm().TableInterlocuteurs->MasterSource(),
            contacts.station.dm().DSClients);
  EXPECT_TRUE(contacts.station.ui.errors.empty());
}

TEST(FenEditClients, PageCaptionFollowsTheClient) {
  Contacts contacts;
  const int32_t gamma = contacts.station.AddClient("Gamma", "", "03", {});
  const int32_t delta = contacts.station.AddClient("Delta", "Lyon", "", {});
  tessera::TTesseraTable* clients = contacts.station.dm().TableClients;
  WithEditor(contacts.acme, [&](TFenEditClients& editor) {
    const std::pair<int32_t, const char*> cases[] = {
        {contacts.acme, "ACME Paris 01 02"},
        {contacts.beta, "Beta"},
        {gamma, "Gamma 03"},
        {delta, "Delta Lyon"},
    };
    for (const auto& [number, caption] : cases) {
      ASSERT_TRUE(clients->Locate("NoSociete", number, {}));
      EXPECT_EQ(editor.TabClient->Caption(), caption);
    }
  });
}

TEST(FenEditClients, CloseQueryOverBothTables) {
  struct {
    const char* name;
    int answer;
    bool closes;
    const char* ville_after;
    const char* tel_after;
  } cases[] = {
      {"yes posts both", cl::mrYes, true, "Lille", "99"},
      {"no cancels both", cl::mrNo, true, "Paris", "12"},
      {"cancel keeps the editor", cl::mrCancel, false, "Paris", "12"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Contacts contacts;
    tessera::TTesseraTable* clients = contacts.station.dm().TableClients;
    tessera::TTesseraTable* inters = contacts.station.dm().TableInterlocuteurs;
    bool closed = false;
    WithEditor(contacts.acme, [&](TFenEditClients& editor) {
      clients->Edit();
      clients->FieldByName("Ville")->SetAsString("Lille");
      ASSERT_TRUE(inters->Locate("Nom", "Albert", {}));
      inters->Edit();
      inters->FieldByName("Tel1")->SetAsString("99");
      contacts.station.ui.answers = {c.answer};
      editor.btnFermerClick(nullptr);
      closed = editor.ModalResult() != cl::mrNone;
      if (!closed) {
        EXPECT_EQ(clients->State(), cl::dsEdit);
        EXPECT_EQ(inters->State(), cl::dsEdit);
        inters->Cancel();
        clients->Cancel();
      }
    });
    EXPECT_EQ(closed, c.closes);
    ASSERT_EQ(contacts.station.ui.boxes.size(), 2u);  // the insert question, then this one
    EXPECT_EQ(contacts.station.ui.boxes[1].text, mirvel::kSaveChangesQuestion);
    clients->Refresh();
    ASSERT_TRUE(clients->Locate("NoSociete", contacts.acme, {}));
    EXPECT_EQ(clients->FieldByName("Ville")->AsString(), c.ville_after);
    ASSERT_TRUE(inters->Locate("Nom", "Albert", {}));
    EXPECT_EQ(inters->FieldByName("Tel1")->AsString(), c.tel_after);
  }
}

TEST(FenEditClients, NewCallerFocusesItsNameWhileOpen) {
  Contacts contacts;
  tessera::TTesseraTable* inters = contacts.station.dm().TableInterlocuteurs;
  WithEditor(contacts.acme, [&](TFenEditClients& editor) {
    inters->Append();
    EXPECT_EQ(editor.PageControl1->ActivePage(), editor.TabInterlocuteurs);
    EXPECT_TRUE(PumpUntil([&] { return editor.DBEditNom->Focused(); }));
    inters->Cancel();
  });
  EXPECT_FALSE(static_cast<bool>(inters->AfterInsert()));
  EXPECT_FALSE(static_cast<bool>(contacts.station.dm().TableClients->BeforeEdit()));
}

TEST(FenEditClients, Texts) {
  Workstation station;
  station.dm().TableClients->Open();
  station.dm().TableInterlocuteurs->Open();
  std::unique_ptr<TFenEditClients> editor(cl::Create<TFenEditClients>(nullptr));
  // clang-format off
  ExpectTexts(editor.get(), {
      {"", "Caption", "Fichier des Contacts"},
      {"DBGridClients/Societe", "Title", "Nom/Soci\xE9t\xE9"},
      {"TabInterlocuteurs", "Caption", "Interlocuteurs"},
      {"LabelSociete", "Caption", "Nom/Soci\xE9t\xE9"},
      {"LabelAdresse1", "Caption", "Adresse"},
      {"LabelCodePostal", "Caption", "Code postal, Ville"},
      {"LabelPays", "Caption", "Pays"},
      {"LabelTelStandard", "Caption", "T\xE9l. standard"},
      {"LabelTelFax", "Caption", "T\xE9l\xE9""copie"},
      {"LabelNom", "Caption", "Nom complet"},
      {"LabelTel1", "Caption", "T\xE9l\xE9phone 1"},
      {"LabelTel2", "Caption", "T\xE9l\xE9phone 2"},
      {"LabelFonction", "Caption", "Fonction"},
      {"LabelCommentaires", "Caption", "Commentaires"},
      {"DBNavBarre1", "Delete", "Effacer l'enregistrement ?"},
      {"btnFermer", "Caption", "&Fermer"},
  });
  // clang-format on
}

}  // namespace
}  // namespace mirvel_test
