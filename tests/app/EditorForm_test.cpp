#include "app/EditorForm.h"

#include <gtest/gtest.h>

#include "app/DlgAvalaibilities.h"
#include "app/FenEditClients.h"
#include "app/FenEditPhoneUsers.h"
#include "app/FenSelInterlocuteurs.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Screen.h"
#include "engine/components/TTesseraTable.h"
#include "tests/app/AppUiTestSupport.h"

namespace mirvel_test {
namespace {

// Each editor's width at creation is the least it can be shrunk to, whatever it is later.
TEST(EditorForm, CreationWidthIsTheMinimumTrackingWidth) {
  Workstation station;
  station.dm().TableClients->Open();
  station.dm().TableInterlocuteurs->Open();
  const std::vector<std::pair<const char*, std::function<mirvel::TEditorForm*()>>> forms = {
      {"users", [] { return cl::Create<mirvel::TFenEditPhoneUsers>(nullptr); }},
      {"availabilities", [] { return cl::Create<mirvel::TDlgAvalaibilities>(nullptr); }},
      {"contacts", [] { return cl::Create<mirvel::TFenEditClients>(nullptr); }},
      {"caller search", [] { return cl::Create<mirvel::TFenSelInterlocuteurs>(nullptr); }},
  };
  for (const auto& [name, make] : forms) {
    SCOPED_TRACE(name);
    std::unique_ptr<mirvel::TEditorForm> form(make());
    const int created = form->Width();
    form->SetWidth(created + 150);
    cl::TMinMaxInfo info;
    form->Perform(cl::WM_GETMINMAXINFO, 0, reinterpret_cast<cl::LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.X, created);
    EXPECT_EQ(form->FMinWidth, created);
  }
}

// The close question over two data sets, a master and its detail.
TEST(EditorForm, ConfirmPendingEditsTable) {
  struct {
    const char* name;
    bool edit_master, edit_detail, modify;
    int answer;
    bool asked, may_close;
    const char* master_after;
    const char* detail_after;
  } cases[] = {
      {"nothing editing", false, false, false, cl::mrYes, false, true, "ACME", "Albert"},
      {"unmodified edits cancelled", true, true, false, cl::mrYes, false, true, "ACME", "Albert"},
      {"yes posts", true, true, true, cl::mrYes, true, true, "ACME2", "Albert2"},
      {"no cancels", true, true, true, cl::mrNo, true, true, "ACME", "Albert"},
      {"detail only, no", false, true, true, cl::mrNo, true, true, "ACME", "Albert"},
      {"cancel keeps", true, true, true, cl::mrCancel, true, false, "ACME2", "Albert2"},
      {"escape keeps", true, false, true, cl::mrNone, true, false, "ACME2", "Albert"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Workstation station;
    const int32_t acme = station.AddClient("ACME", "", "", {{"Albert", ""}});
    tessera::TTesseraTable* clients = station.dm().TableClients;
    tessera::TTesseraTable* inters = station.dm().TableInterlocuteurs;
    ASSERT_TRUE(clients->Locate("NoSociete", acme, {}));
    if (c.edit_master) {
      clients->Edit();
      if (c.modify) clients->FieldByName("Societe")->SetAsString("ACME2");
    }
    if (c.edit_detail) {
      inters->Edit();
      if (c.modify) inters->FieldByName("Nom")->SetAsString("Albert2");
    }
    station.ui.answers = {c.answer};
    EXPECT_EQ(mirvel::ConfirmPendingEdits({clients, inters}), c.may_close);
    EXPECT_EQ(station.ui.boxes.size(), c.asked ? 1u : 0u);
    EXPECT_EQ(clients->FieldByName("Societe")->AsString(), c.master_after);
    EXPECT_EQ(inters->FieldByName("Nom")->AsString(), c.detail_after);
    if (c.may_close) {
      EXPECT_EQ(clients->State(), cl::dsBrowse);
      EXPECT_EQ(inters->State(), cl::dsBrowse);
    }
    inters->Cancel();
    clients->Cancel();
    clients->Refresh();
    inters->Refresh();
    EXPECT_EQ(clients->FieldByName("Societe")->AsString(),
              std::string(c.answer == cl::mrYes && c.asked ? "ACME2" : "ACME"));
  }
}

}  // namespace
}  // namespace mirvel_test
