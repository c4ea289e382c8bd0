#include "app/FenChoixDestinataires.h"

#include <gtest/gtest.h>

#include "app/EditorForm.h"
#include "app/FenEditPhoneUsers.h"
#include "classlib/forms/Dialogs.h"
#include "tests/app/AppUiTestSupport.h"

namespace mirvel_test {
namespace {

using mirvel::TFenChoixDestinataires;

// Users by name order: "<b>" (4, disconnected), "Alice Martin" (1, connected at start), "Bob"
// (2, disconnected), "Carol" (3, connected), "Eve" (5, no status).
const std::vector<TUserSeed> kUsers = {
    {"bob", "Bob", 0}, {"carol", "Carol", 1}, {"b", "<b>", 0}, {"eve", "Eve", -1}};

struct TChooseCase {
  const char* name;
  std::string list;
  void (TFenChoixDestinataires::*button)(cl::TObject*);  // pressed before closing, or null
  int close_with;
  std::string checked_at_show;
  bool result;
  std::string list_after;
};

TEST(FenChoixDestinataires, ChooseRecipientsTable) {
  // clang-format off
  const std::vector<TChooseCase> cases = {
      {"unchanged", "2;5", nullptr, cl::mrOk, "2;5", true, "2;5"},
      {"none checked", "2;5", &TFenChoixDestinataires::btnAucunClick, cl::mrOk, "2;5", true, ""},
      {"cancel keeps", "2;5", &TFenChoixDestinataires::btnTousClick, cl::mrCancel, "2;5", false,
       "2;5"},
      {"bad tokens dropped", "x; 0;3;99;;2", nullptr, cl::mrOk, "2;3", true, "2;3"},
      {"all", "", &TFenChoixDestinataires::btnTousClick, cl::mrOk, "", true, "4;1;2;3;5"},
      {"connected", "2", &TFenChoixDestinataires::btnConnectesClick, cl::mrOk, "2", true, "1;3"},
      {"disconnected", "1", &TFenChoixDestinataires::btnDeconnectesClick, cl::mrOk, "1", true,
       "4;2"},
  };
  // clang-format on
  Workstation station(kUsers);
  for (const TChooseCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string seen_at_show = "<not shown>";
    cl::AddModalAction([&] {
      auto* dialog = FindForm<TFenChoixDestinataires>();
      ASSERT_NE(dialog, nullptr);
      seen_at_show = dialog->CheckedList();
      if (c.button != nullptr) (dialog->*c.button)(nullptr);
      dialog->SetModalResult(c.close_with);
    });
    std::string list = c.list;
    EXPECT_EQ(mirvel::ChooseRecipients(list), c.result);
    EXPECT_EQ(seen_at_show, c.checked_at_show);
    EXPECT_EQ(list, c.list_after);
  }
  EXPECT_EQ(FindForm<TFenChoixDestinataires>(), nullptr);
}

TEST(FenChoixDestinataires, RowsDrawnInStatusColours) {
  Workstation station(kUsers);
  std::vector<int> green(5), grey(5);
  cl::AddModalAction([&] {
    auto* dialog = FindForm<TFenChoixDestinataires>();
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(dialog->ListeDestinataires->Items().Count(), 5);
    for (int row = 0; row < 5; ++row) {
      // Inside the list's frame and right of the check box: both are grey on every row.
      const cl::TRect band =
          cl::Rect(20, row * 17 + 3, dialog->ListeDestinataires->Width() - 4, row * 17 + 16);
      green[row] = CountPixels(dialog->ListeDestinataires, band, mirvel::kConnectedColor);
      grey[row] = CountPixels(dialog->ListeDestinataires, band, mirvel::kDisconnectedColor);
    }
    dialog->SetModalResult(cl::mrCancel);
  });
  std::string list;
  mirvel::ChooseRecipients(list);
  // Rows: "<b>", Alice, Bob, Carol, Eve (no status: grey, as "otherwise").
  const bool connected[5] = {false, true, false, true, false};
  for (int row = 0; row < 5; ++row) {
    SCOPED_TRACE(row);
    if (connected[row]) {
      EXPECT_GT(green[row], 0);
      EXPECT_EQ(grey[row], 0);
    } else {
      EXPECT_GT(grey[row], 0);
      EXPECT_EQ(green[row], 0);
    }
  }
}

// The users editor hides user 0 through the shared filter; choosing recipients meanwhile must
// leave that filter in place, and the editor puts back what it found when it closes.
TEST(FenChoixDestinataires, UsersFilterKeptForTheOpenUsersEditor) {
  Workstation station(kUsers);
  tessera::TTesseraTable* users = station.dm().TableUtilisateurs;
  ASSERT_EQ(users->Filter(), "");
  mirvel::ShowUsersEditor();
  ASSERT_NE(mirvel::FenEditPhoneUsers, nullptr);
  EXPECT_EQ(users->Filter(), mirvel::kUsersFilter);

  cl::AddModalAction([] { FindForm<TFenChoixDestinataires>()->SetModalResult(cl::mrOk); });
  std::string list = "3";
  ASSERT_TRUE(mirvel::ChooseRecipients(list));
  EXPECT_EQ(users->Filter(), mirvel::kUsersFilter);
  bool user_zero_seen = false;
  for (users->First(); !users->Eof(); users->Next()) {
    user_zero_seen =
        user_zero_seen || station.dm().TableUtilisateursNoUtilisateur->AsInteger() == 0;
  }
  EXPECT_FALSE(user_zero_seen);

  mirvel::FenEditPhoneUsers->Close();
  EXPECT_EQ(mirvel::FenEditPhoneUsers, nullptr);
  EXPECT_EQ(users->Filter(), "");
  EXPECT_TRUE(PumpUntil([] { return FindForm<mirvel::TFenEditPhoneUsers>() == nullptr; }));
}

TEST(FenChoixDestinataires, Texts) {
  Workstation station;
  std::unique_ptr<TFenChoixDestinataires> dialog(cl::Create<TFenChoixDestinataires>(nullptr));
  // clang-format off
  ExpectTexts(dialog.get(), {
      {"", "Caption", "Choix des destinataires"},
      {"btnTous", "Caption", "&Tous"},
      {"btnAucun", "Caption", "A&ucun"},
      {"btnConnectes", "Caption", "&Les connect\xE9s"},
      {"btnDeconnectes", "Caption", "&Les d\xE9""connect\xE9s"},
  });
  // clang-format on
  EXPECT_EQ(dialog->ExitPanel1->BtnOk().Caption(), "&OK");
  EXPECT_EQ(dialog->ExitPanel1->BtnCancel().Caption(), "&Annuler");
}

}  // namespace
}  // namespace mirvel_test
