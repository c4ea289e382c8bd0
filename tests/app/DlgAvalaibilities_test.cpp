#include "app/DlgAvalaibilities.h"

#include <gtest/gtest.h>

#include <map>

#include "app/EditorForm.h"
#include "app/FenChoixDestinataires.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/DateTime.h"
#include "tests/app/AppUiTestSupport.h"

namespace mirvel_test {
namespace {

using mirvel::TDlgAvalaibilities;

const std::vector<TUserSeed> kUsers = {{"bob", "Bob", 0}, {"carol", "Carol", 1}};

// Runs the dialog through the main window's command with `check` inside its modal loop.
void WithDialog(const std::function<void(TDlgAvalaibilities&)>& check) {
  bool ran = false;
  cl::AddModalAction([&] {
    auto* dialog = FindForm<TDlgAvalaibilities>();
    ASSERT_NE(dialog, nullptr);
    ran = true;
    check(*dialog);
    if (mirvel::DMMirvel->TableUtilisateurs->State() != cl::dsBrowse) {
      mirvel::DMMirvel->TableUtilisateurs->Cancel();
    }
    dialog->SetModalResult(cl::mrOk);
  });
  mirvel::ShowAvailabilities();
  EXPECT_TRUE(ran);
}

void TypeInto(cl::TWinControl* control, const char* text) {
  control->SetFocus();
  ASSERT_TRUE(PumpUntil([&] { return control->Focused(); }));
  QTest::keyClicks(Widget(control), text);
}

int BoxesWith(const UiRecorder& ui, const std::string& text) {
  int count = 0;
  for (const cl::TMessageDlgRequest& box : ui.boxes) count += box.text == text ? 1 : 0;
  return count;
}

TEST(DlgAvalaibilities, KeysRefusedBeforeModifier) {
  Workstation station(kUsers);
  cl::TField* note = station.dm().TableUtilisateurs->FieldByName("Disponibilites");
  WithDialog([&](TDlgAvalaibilities& dialog) {
    const std::string before = dialog.MemoDispo->Text();
    struct {
      const char* name;
      std::function<void()> act;
    } refused[] = {
        {"memo key", [&] { TypeInto(dialog.MemoDispo, "abc"); }},
        {"date key", [&] { TypeInto(dialog.DateDisponibilites, "1"); }},
        {"date button",
         [&] { cl::CallGuarded(nullptr, [&] { dialog.DateDisponibilites->DoClick(); }); }},
    };
    for (auto& r : refused) {
      SCOPED_TRACE(r.name);
      const int boxes = BoxesWith(station.ui, mirvel::kClickModifyFirst);
      r.act();
      EXPECT_GE(BoxesWith(station.ui, mirvel::kClickModifyFirst), boxes + 1);
      ASSERT_FALSE(station.ui.boxes.empty());
      EXPECT_EQ(station.ui.boxes.back().type, cl::mtError);
      EXPECT_EQ(dialog.MemoDispo->Text(), before);
      EXPECT_EQ(station.dm().TableUtilisateurs->State(), cl::dsBrowse);
    }
    EXPECT_TRUE(note->IsNull() || note->AsString().empty());
  });
  EXPECT_TRUE(station.ui.errors.empty());
}

TEST(DlgAvalaibilities, ModifierStampsTodayAndTypingPosts) {
  Workstation station(kUsers);
  tessera::TTesseraTable* users = station.dm().TableUtilisateurs;
  WithDialog([&](TDlgAvalaibilities& dialog) {
    // On show the own user is current.
    EXPECT_EQ(station.dm().TableUtilisateursNoUtilisateur->AsInteger(), 1);
    dialog.DBNavBarre1->BtnClick(comp::navEdit);
    ASSERT_EQ(users->State(), cl::dsEdit);
    EXPECT_EQ(users->FieldByName("DateDisponibilites")->AsDateTime(), cl::Date());
    TypeInto(dialog.MemoDispo, "absent");
    EXPECT_EQ(BoxesWith(station.ui, mirvel::kClickModifyFirst), 0);
    // Enter in the grid posts the pending edit.
    uint16_t key = cl::VK_RETURN;
    dialog.MainDBGridKeyDown(dialog.MainDBGrid, key, {});
    EXPECT_EQ(users->State(), cl::dsBrowse);
  });
  ASSERT_TRUE(users->Locate("NoUtilisateur", 1, {}));
  EXPECT_EQ(users->FieldByName("Disponibilites")->AsString(), "absent");
  EXPECT_EQ(users->FieldByName("DateDisponibilites")->AsDateTime(), cl::Date());
}

TEST(DlgAvalaibilities, UsersFilterSetWhileOpenAndPutBack) {
  Workstation station(kUsers);
  tessera::TTesseraTable* users = station.dm().TableUtilisateurs;
  for (const char* before : {"", "NoUtilisateur <> 3"}) {
    users->SetFilter(before);
    std::string during;
    int rows = 0;
    bool zero = false;
    WithDialog([&](TDlgAvalaibilities&) {
      during = users->Filter();
      for (users->First(); !users->Eof(); users->Next()) {
        ++rows;
        zero = zero || station.dm().TableUtilisateursNoUtilisateur->AsInteger() == 0;
      }
    });
    EXPECT_EQ(during, mirvel::kUsersFilter);
    EXPECT_EQ(rows, 3);
    EXPECT_FALSE(zero);
    EXPECT_EQ(users->Filter(), before);
  }
}

TEST(DlgAvalaibilities, NamesInStatusColours) {
  Workstation station(kUsers);
  std::map<std::string, std::pair<int, int>> colours;  // name: green, grey pixels
  WithDialog([&](TDlgAvalaibilities& dialog) {
    comp::THDBGrid* grid = dialog.MainDBGrid;
    PumpFor(50);
    const int active = grid->DataLink().ActiveRecord();
    std::vector<std::string> names;
    for (int row = 0; row < 3; ++row) {
      grid->DataLink().SetActiveRecord(row);
      names.push_back(station.dm().TableUtilisateursNomComplet->AsString());
    }
    grid->DataLink().SetActiveRecord(active);
    for (int row = 0; row < 3; ++row) {
      const cl::TRect cell = grid->CellRect(grid->ColOffset(), grid->RowOffset() + row);
      colours[names[row]] = {CountPixels(grid, cell, mirvel::kConnectedColor),
                             CountPixels(grid, cell, mirvel::kDisconnectedColor)};
    }
  });
  ASSERT_EQ(colours.size(), 3u);
  for (const auto& [name, connected] :
       std::map<std::string, bool>{{"Alice Martin", true}, {"Bob", false}, {"Carol", true}}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(colours[name].first > 0, connected);
    EXPECT_EQ(colours[name].second > 0, !connected);
  }
}

TEST(DlgAvalaibilities, Texts) {
  Workstation station;
  std::unique_ptr<TDlgAvalaibilities> dialog(cl::Create<TDlgAvalaibilities>(nullptr));
  // clang-format off
  ExpectTexts(dialog.get(), {
      {"", "Caption", "Utilisateurs connect\xE9s & disponibilit\xE9s"},
      {"MainDBGrid/NomComplet", "Title", "Utilisateur"},
      {"LabelDispo", "Caption", "Disponibilit\xE9s"},
      {"LabelDate", "Caption", "Date derni\xE8re saisie"},
      {"btnFermer", "Caption", "&Fermer"},
  });
  // clang-format on
  EXPECT_EQ(dialog->DBNavBarre1->Button(comp::navEdit)->Hint(), "Modifier les disponibilit\xE9s");
  EXPECT_EQ(dialog->DBNavBarre1->Button(comp::navPost)->Hint(), "Sauvegarder les modifications");
  EXPECT_EQ(dialog->DBNavBarre1->Button(comp::navCancel)->Hint(), "Annuler les modifications");
}

}  // namespace
}  // namespace mirvel_test
