#include "classlib/forms/HintWindow.h"

#include <gtest/gtest.h>

#include "classlib/forms/Forms.h"
#include "classlib/forms/StdCtrls.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace cl {
namespace {

using mirvel_test::Widget;

TEST(HintWindowTest, ShowsWithoutTakingActivationOrFocusInTheHintColours) {
  TForm form(nullptr);
  auto* button = new TButton(&form);
  button->SetParent(&form);
  button->SetHint("Envoyer|Envoie le message au destinataire");
  button->SetShowHint(true);
  EXPECT_EQ(Widget(button)->toolTip(), "Envoyer") << "controls show the short part";
  form.Show();
  QApplication::setActiveWindow(Widget(&form));
  button->SetFocus();

  THintWindow hint(nullptr);
  const TRect needed = hint.CalcHintRect(200, "Nouveau message de Mme Durand");
  EXPECT_GT(needed.Width(), 6);
  EXPECT_LE(needed.Width(), 206);
  hint.ActivateHint(Bounds(50, 60, needed.Width(), needed.Height()), "Nouveau message");
  EXPECT_TRUE(hint.Showing());
  EXPECT_EQ(QApplication::activeWindow(), Widget(&form));
  EXPECT_EQ(QApplication::focusWidget(), Widget(button));
  const QImage shot = Widget(&hint)->grab().toImage();
  EXPECT_EQ(shot.pixelColor(shot.width() - 3, shot.height() / 2), QColor(255, 255, 225))
      << "clInfoBk";
  EXPECT_EQ(shot.pixelColor(0, 0), QColor(0, 0, 0)) << "the clInfoText frame";
  hint.ReleaseHandle();
  EXPECT_FALSE(hint.Showing());
}

}  // namespace
}  // namespace cl
