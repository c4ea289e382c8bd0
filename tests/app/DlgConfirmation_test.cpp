#include "app/DlgConfirmation.h"

#include <gtest/gtest.h>

#include "classlib/forms/Dialogs.h"
#include "tests/app/AppUiTestSupport.h"

namespace mirvel_test {
namespace {

using mirvel::TDlgConfirmation;

TEST(DlgConfirmation, AnswersByButtonAndKey) {
  struct {
    const char* name;
    std::function<void(TDlgConfirmation&)> act;
    int result;
  } cases[] = {
      {"Reduire", [](TDlgConfirmation& d) { d.btnReduire->Click(); }, cl::mrOk},
      {"Annuler", [](TDlgConfirmation& d) { d.btnAnnuler->Click(); }, cl::mrCancel},
      {"Quitter", [](TDlgConfirmation& d) { d.btnQuitter->Click(); }, cl::mrAbort},
      {"Enter", [](TDlgConfirmation& d) { QTest::keyClick(Widget(&d), Qt::Key_Return); }, cl::mrOk},
      {"Escape", [](TDlgConfirmation& d) { QTest::keyClick(Widget(&d), Qt::Key_Escape); },
       cl::mrCancel},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    cl::AddModalAction([&] {
      auto* dialog = FindForm<TDlgConfirmation>();
      ASSERT_NE(dialog, nullptr);
      c.act(*dialog);
    });
    EXPECT_EQ(mirvel::AskQuitConfirmation(), c.result);
    EXPECT_EQ(FindForm<TDlgConfirmation>(), nullptr);
  }
}

TEST(DlgConfirmation, Texts) {
  std::unique_ptr<TDlgConfirmation> dialog(cl::Create<TDlgConfirmation>(nullptr));
  // clang-format off
  ExpectTexts(dialog.get(), {
      {"", "Caption", "Confirmation"},
      {"Label1", "Caption", "Voulez-vous vraiment quitter Mirvel ?"},
      {"Label2", "Caption",
       "Si vous le fermer, vous ne pourrez plus envoyer et recevoir de messages."},
      {"btnReduire", "Caption", "&R\xE9""duire"},
      {"btnAnnuler", "Caption", "&Annuler"},
      {"btnQuitter", "Caption", "&Quitter"},
  });
  // clang-format on
}

}  // namespace
}  // namespace mirvel_test
