#include "app/FenEditSujet.h"

#include <gtest/gtest.h>

#include "classlib/forms/Dialogs.h"
#include "tests/app/AppUiTestSupport.h"

namespace mirvel_test {
namespace {

using mirvel::TFenEditSujet;

TEST(FenEditSujet, TypedSubjectOnOkOnly) {
  struct {
    const char* name;
    const char* typed;
    int close_with;
    bool result;
    const char* after;
  } cases[] = {
      {"ok", "Devis", cl::mrOk, true, "Devis"},
      {"ok unchanged", nullptr, cl::mrOk, true, "(Sans sujet)"},
      {"cancel", "Devis", cl::mrCancel, false, "(Sans sujet)"},
      {"markup kept as typed", "<b>Urgent</b>", cl::mrOk, true, "<b>Urgent</b>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    bool focused = false;
    cl::AddModalAction([&] {
      auto* dialog = FindForm<TFenEditSujet>();
      ASSERT_NE(dialog, nullptr);
      focused = PumpUntil([&] { return dialog->EditSujet->Focused(); });
      if (c.typed != nullptr) {
        dialog->EditSujet->SelectAll();
        QTest::keyClicks(Widget(dialog->EditSujet), c.typed);
      }
      dialog->SetModalResult(c.close_with);
    });
    std::string subject = "(Sans sujet)";
    EXPECT_EQ(mirvel::AskSubjectDialog(subject), c.result);
    EXPECT_TRUE(focused);
    EXPECT_EQ(subject, c.after);
  }
}

TEST(FenEditSujet, Texts) {
  std::unique_ptr<TFenEditSujet> dialog(cl::Create<TFenEditSujet>(nullptr));
  // clang-format off
  ExpectTexts(dialog.get(), {
      {"", "Caption", "Sujet du message"},
      {"Label1", "Caption", "Vous n'avez pas saisi de sujet pour ce message. \r\n"
                            "Si vous souhaitez en donner un, veuillez l'entrer maintenant."},
  });
  // clang-format on
  EXPECT_EQ(dialog->ExitPanel1->BtnOk().Caption(), "&OK");
  EXPECT_EQ(dialog->ExitPanel1->BtnCancel().Caption(), "&Annuler");
}

}  // namespace
}  // namespace mirvel_test
