#include "classlib/forms/Menus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/forms/Buttons.h"
#include "classlib/forms/ComCtrls.h"
#include "classlib/forms/ExtCtrls.h"
#include "classlib/forms/Forms.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace cl {
namespace {

using mirvel_test::Widget;

TEST(MenusTest, ARightClickOpensTheMenuAndTheChoiceRunsAfterItCloses) {
  TForm form(nullptr);
  auto* panel = new TPanel(&form);
  panel->SetParent(&form);
  auto* menu = new TPopupMenu(&form);
  auto* show = new TMenuItem(menu);
  show->SetCaption("&Afficher");
  show->SetDefault(true);
  auto* separator = new TMenuItem(menu);
  separator->SetCaption("-");
  menu->Items()->Add(show);
  menu->Items()->Add(separator);
  std::vector<std::string> trace;
  bool menu_open = false;
  menu->SetOnPopup([&](TObject*) { trace.push_back("popup"); });
  show->SetOnClick([&](TObject*) { trace.push_back(menu_open ? "click inside" : "click"); });
  SetPopupMenuResponder([&](TPopupMenu* m) {
    EXPECT_EQ(m->PopupComponent(), panel);
    return show;
  });
  panel->SetPopupMenu(menu);
  form.Show();
  QTest::mouseClick(Widget(panel), Qt::RightButton);
  EXPECT_EQ(trace, (std::vector<std::string>{"popup", "click"}));

  // A menu freed before its control forgets it.
  delete menu;
  EXPECT_EQ(panel->PopupMenu(), nullptr);
  SetPopupMenuResponder(nullptr);
}

TEST(MenusTest, PagesSwitchSilentlyFromCodeAndBitButtonKinds) {
  TForm form(nullptr);
  auto* pages = new TPageControl(&form);
  pages->SetParent(&form);
  auto* first = new TTabSheet(&form);
  auto* second = new TTabSheet(&form);
  first->SetPageControl(pages);
  second->SetPageControl(pages);
  second->SetCaption("Historique");
  int changes = 0;
  pages->SetOnChange([&](TObject*) { ++changes; });
  pages->SetActivePage(second);
  EXPECT_EQ(pages->ActivePage(), second);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(static_cast<QTabWidget*>(Widget(pages))->tabText(1), "Historique");
  static_cast<QTabWidget*>(Widget(pages))->setCurrentIndex(0);  // as a click on the tab does
  EXPECT_EQ(changes, 1);
  delete second;
  EXPECT_EQ(pages->PageCount(), 1);

  auto* ok = new TBitBtn(&form);
  ok->SetKind(bkOK);
  EXPECT_EQ(ok->Caption(), "OK");
  EXPECT_EQ(ok->ModalResult(), mrOk);
  EXPECT_TRUE(ok->Default());
  EXPECT_FALSE(ok->Glyph().Empty()) << "the class library's own BBOK bitmap";
  int glyph_changes = 0;
  ok->Glyph().SetOnChange([&](TObject*) { ++glyph_changes; });
  ok->Glyph().SetSize(32, 16);
  EXPECT_EQ(glyph_changes, 1);
}

}  // namespace
}  // namespace cl
