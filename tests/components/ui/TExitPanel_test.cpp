#include "components/ui/TExitPanel.h"

#include <gtest/gtest.h>

#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Forms.h"

namespace comp {
namespace {

TEST(TExitPanelTest, ConstructionAndCentredPair) {
  cl::TForm form(nullptr);
  form.SetBounds(0, 0, 300, 200);
  auto* panel = new TExitPanel(&form);
  panel->SetParent(&form);
  EXPECT_EQ(panel->Align(), cl::alBottom);
  EXPECT_EQ(panel->Caption(), "");
  EXPECT_EQ(panel->BevelOuter(), cl::bvLowered);
  EXPECT_EQ(panel->Spacing(), 8);
  EXPECT_EQ(panel->BtnOk().Caption(), "&OK");
  EXPECT_EQ(panel->BtnOk().Kind(), cl::bkOK);
  EXPECT_EQ(panel->BtnCancel().Caption(), "&Annuler");
  EXPECT_EQ(panel->BtnCancel().Kind(), cl::bkCancel);
  EXPECT_EQ(panel->BtnWidth(), 120);
  EXPECT_EQ(panel->BtnHeight(), 33);

  panel->SetHeight(41);
  panel->SetBtnWidth(85);
  ASSERT_EQ(panel->Width(), 300);
  cl::TBitBtn* ok = panel->BtnOk().Button();
  cl::TBitBtn* cancel = panel->BtnCancel().Button();
  EXPECT_EQ(ok->Left(), 61);
  EXPECT_EQ(cancel->Left(), 154);
  EXPECT_EQ(ok->Top(), 4);
  EXPECT_EQ(cancel->Width(), 85);

  // Every setter re-centres: spacing, height, and a resize of the panel by its form.
  panel->SetSpacing(20);
  EXPECT_EQ(ok->Left(), (300 - 190) / 2);
  EXPECT_EQ(cancel->Left(), ok->Left() + 85 + 20);
  panel->SetBtnHeight(30);
  EXPECT_EQ(ok->Top(), (41 - 30) / 2);
  form.SetBounds(0, 0, 501, 200);
  EXPECT_EQ(ok->Left(), (501 - 190) / 2);
  // A panel narrower than the pair: negative positions, truncated toward zero.
  form.SetBounds(0, 0, 101, 200);
  EXPECT_EQ(ok->Left(), (101 - 190) / 2);
}

TEST(TExitPanelTest, GlyphSetsNumGlyphsAndKeepsTheButtonsOwnHandling) {
  TExitPanel panel(nullptr);
  TBtnExitPanel& ok = panel.BtnOk();
  const struct {
    int w, h, expected;
  } cases[] = {{64, 16, 4}, {80, 16, 1}, {32, 16, 2}, {40, 16, 2} /* unchanged */, {16, 16, 1}};
  for (const auto& c : cases) {
    cl::TBitmap glyph;
    glyph.SetSize(c.w, c.h);
    ok.Glyph().Assign(&glyph);
    EXPECT_EQ(ok.Button()->NumGlyphs(), c.expected) << c.w << "x" << c.h;
    EXPECT_EQ(ok.Glyph().Width(), c.w) << "the button took the picture";
  }

  TExitPanel other(nullptr);
  other.BtnCancel().SetCaption("&Fermer");
  other.BtnCancel().SetModalResult(cl::mrOk);
  panel.SetBtnCancel(other.BtnCancel());
  EXPECT_EQ(panel.BtnCancel().Caption(), "&Fermer");
  EXPECT_EQ(panel.BtnCancel().ModalResult(), cl::mrOk);
  EXPECT_TRUE(panel.BtnCancel().Cancel());
}

TEST(TExitPanelTest, EllipsisButton) {
  TEllipsisButton button(nullptr);
  EXPECT_EQ(button.Width(), 25);
  EXPECT_EQ(button.Height(), 21);
  EXPECT_EQ(button.Caption(), "");
  EXPECT_EQ(button.NumGlyphs(), 2);
  EXPECT_FALSE(button.Glyph().Empty());
}

}  // namespace
}  // namespace comp
