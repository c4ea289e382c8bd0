#include "app/FenEditPhoneUsers.h"

#include <gtest/gtest.h>

#include "classlib/forms/Dialogs.h"
#include "engine/components/TTesseraTable.h"
#include "tests/app/AppUiTestSupport.h"

namespace mirvel_test {
namespace {

using mirvel::FenEditPhoneUsers;

TEST(FenEditPhoneUsers, NeverListsUserZeroAndPutsTheFilterBack) {
  Workstation station({{"bob", "Bob", 0}});
  tessera::TTesseraTable* users = station.dm().TableUtilisateurs;
  for (const char* before : {"", "NoUtilisateur <> 2"}) {
    SCOPED_TRACE(before);
    users->SetFilter(before);
    mirvel::ShowUsersEditor();
    ASSERT_NE(FenEditPhoneUsers, nullptr);
    auto* editor = FenEditPhoneUsers;
    // One instance: asking again shows the same editor.
    mirvel::ShowUsersEditor();
    EXPECT_EQ(FenEditPhoneUsers, editor);
    std::vector<int32_t> listed;
    for (users->First(); !users->Eof(); users->Next()) {
      listed.push_back(station.dm().TableUtilisateursNoUtilisateur->AsInteger());
    }
    EXPECT_EQ(listed, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(editor->DBRecordCount1->Caption(), "2 utilisateurs");
    editor->btnFermerClick(nullptr);
    EXPECT_EQ(FenEditPhoneUsers, nullptr);
    EXPECT_EQ(users->Filter(), before);
    EXPECT_TRUE(PumpUntil([] { return FindForm<mirvel::TFenEditPhoneUsers>() == nullptr; }));
  }
}

TEST(FenEditPhoneUsers, CloseQueryAnswers) {
  struct {
    const char* name;
    int answer;
    bool closes;
    const char* stored;
  } cases[] = {
      {"yes posts", cl::mrYes, true, "Robert"},
      {"no cancels", cl::mrNo, true, "Bob"},
      {"cancel stays open", cl::mrCancel, false, "Bob"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Workstation station({{"bob", "Bob", 0}});
    tessera::TTesseraTable* users = station.dm().TableUtilisateurs;
    mirvel::ShowUsersEditor();
    ASSERT_TRUE(users->Locate("NoUtilisateur", 2, {}));
    users->Edit();
    station.dm().TableUtilisateursNomComplet->SetAsString("Robert");
    station.ui.answers = {c.answer};
    FenEditPhoneUsers->btnFermerClick(nullptr);
    ASSERT_EQ(station.ui.boxes.size(), 1u);
    EXPECT_EQ(station.ui.boxes[0].text, mirvel::kSaveChangesQuestion);
    EXPECT_EQ(station.ui.boxes[0].buttons, (cl::TMsgDlgButtons{cl::mbYes, cl::mbNo, cl::mbCancel}));
    EXPECT_EQ(FenEditPhoneUsers == nullptr, c.closes);
    if (FenEditPhoneUsers != nullptr) {
      EXPECT_EQ(users->State(), cl::dsEdit);
      users->Cancel();
      FenEditPhoneUsers->btnFermerClick(nullptr);
    }
    EXPECT_EQ(users->Filter(), "");
    ASSERT_TRUE(users->Locate("NoUtilisateur", 2, {}));
    EXPECT_EQ(station.dm().TableUtilisateursNomComplet->AsString(), c.stored);
    PumpUntil([] { return FindForm<mirvel::TFenEditPhoneUsers>() == nullptr; });
  }
}

TEST(FenEditPhoneUsers, Texts) {
  Workstation station;
  mirvel::ShowUsersEditor();
  // clang-format off
  ExpectTexts(FenEditPhoneUsers, {
      {"", "Caption", "Fichier des utilisateurs"},
      {"LabelNomReseau", "Caption", "Nom r\xE9seau"},
      {"LabelAdresseMessagerie", "Caption", "Adresse messagerie"},
      {"LabelNomComplet", "Caption", "Nom complet"},
      {"LabelStatut", "Caption", "Statut"},
      {"DBGridPrincipal/NomReseau", "Title", "Nom r\xE9seau"},
      {"DBGridPrincipal/NomComplet", "Title", "Nom complet"},
      {"DBGridPrincipal/AdresseMessagerie", "Title", "Adresse messagerie"},
      {"DBGridPrincipal/Statut", "Title", "Statut"},
      {"DBNavBarre1", "Label", "&Cr\xE9""er"},
      {"DBNavBarre1", "Delete", "Supprimer l'utilisateur ?"},
      {"btnFermer", "Caption", "&Fermer"},
  });
  // clang-format on
  // The status is typed as its text.
  tessera::TTesseraTable* users = station.dm().TableUtilisateurs;
  ASSERT_TRUE(users->Locate("NoUtilisateur", 1, {}));
  EXPECT_EQ(FenEditPhoneUsers->DBEditStatut->Text(), "Connect\xE9");
  FenEditPhoneUsers->Close();
}

}  // namespace
}  // namespace mirvel_test
