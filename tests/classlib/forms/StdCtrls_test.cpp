#include "classlib/forms/StdCtrls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Forms.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace cl {
namespace {

using mirvel_test::Widget;

TEST(StdCtrlsTest, ComboChangesFromCodeFireNothingAUserPickFiresChangeAndClick) {
  TForm form(nullptr);
  auto* combo = new TComboBox(&form);
  combo->SetParent(&form);
  combo->SetStyle(csDropDownList);
  combo->Items().AddObject("Accueil", reinterpret_cast<TObject*>(intptr_t{3}));
  combo->Items().AddObject("Standard", reinterpret_cast<TObject*>(intptr_t{7}));
  std::vector<std::string> events;
  combo->SetOnChange([&](TObject*) { events.push_back("change " + combo->Text()); });
  combo->SetOnClick([&](TObject*) { events.push_back("click"); });
  combo->SetItemIndex(1);
  combo->SetText("Accueil");
  EXPECT_EQ(combo->ItemIndex(), 0);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(reinterpret_cast<intptr_t>(combo->Items().Objects(1)), 7);

  form.Show();
  combo->SetFocus();
  QTest::keyClick(Widget(combo), Qt::Key_Down);  // the user picks the next item
  EXPECT_EQ(combo->ItemIndex(), 1);
  EXPECT_EQ(events, (std::vector<std::string>{"change Standard", "click"}));

  // An editable combo: typing fires OnChange; text from code does not.
  events.clear();
  combo->SetStyle(csDropDown);
  combo->SetText("libre");
  EXPECT_EQ(combo->Text(), "libre");
  EXPECT_EQ(combo->ItemIndex(), -1);
  combo->SetFocus();
  // The combo keeps the focus and hands its keys to its edit part.
  QWidget* edit = Widget(combo);
  QTest::keyClicks(edit, "x");
  EXPECT_EQ(events, std::vector<std::string>{"change librex"});
  // A character Windows-1252 cannot hold never reaches the edit part.
  const int beeps = MessageBeepCount();
  QKeyEvent omega(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8("Ω"));
  QApplication::sendEvent(edit, &omega);
  EXPECT_EQ(combo->Text(), "librex");
  EXPECT_EQ(MessageBeepCount(), beeps + 1);
  // Nor does a paste of such text: it is refused whole.
  QLineEdit* line = edit->findChild<QLineEdit*>();
  ASSERT_NE(line, nullptr);
  line->insert(QString::fromUtf8("aΩb"));
  EXPECT_EQ(combo->Text(), "librex");
  EXPECT_EQ(MessageBeepCount(), beeps + 2);
  // Setting an editable style again, or after a list-only one, still fires once per key.
  events.clear();
  combo->SetStyle(csDropDown);
  combo->SetStyle(csDropDownList);
  combo->SetStyle(csDropDown);
  combo->SetStyle(csDropDown);
  combo->SetText("");
  combo->SetFocus();
  QTest::keyClicks(edit, "y");
  EXPECT_EQ(events, std::vector<std::string>{"change y"});
  line = edit->findChild<QLineEdit*>();
  line->insert(QString::fromUtf8("Ω"));
  EXPECT_EQ(combo->Text(), "y") << "the new edit part refuses it too";
  combo->SetItemIndex(5);
  EXPECT_EQ(combo->ItemIndex(), -1) << "out of range clears the choice";
}

TEST(StdCtrlsTest, CheckListMarksFromCodeAreSilentAndOwnerDrawGetsTheRows) {
  TForm form(nullptr);
  form.SetBounds(0, 0, 200, 150);
  auto* list = new TCheckListBox(&form);
  list->SetParent(&form);
  list->Items().Add("Lu");
  list->Items().Add("Urgent");
  int checks = 0;
  list->SetOnClickCheck([&](TObject*) { ++checks; });
  std::vector<int> drawn;
  int row_height = 0;
  list->SetOnDrawItem([&](TWinControl*, int index, TRect rect, TOwnerDrawState) {
    drawn.push_back(index);
    row_height = rect.Height();
    list->Canvas().TextOut(rect.Left, rect.Top, list->Items().Get(index));
  });
  list->SetChecked(1, true);
  EXPECT_TRUE(list->Checked(1));
  EXPECT_FALSE(list->Checked(0));
  EXPECT_EQ(checks, 0);
  EXPECT_THROW(list->Checked(2), EListError);
  list->Items().Add("Rappel");
  EXPECT_TRUE(list->Checked(1)) << "marks survive a change of the items";
  form.Show();
  Widget(list)->grab();  // paints
  EXPECT_EQ(drawn.size(), 3u);
  EXPECT_EQ(row_height, 17);
}

TEST(StdCtrlsTest, LabelShowsItsAcceleratorWithoutTheAmpersand) {
  TForm form(nullptr);
  auto* label = new TLabel(&form);
  label->SetParent(&form);
  label->SetCaption("&Nom && pr\xE9nom");
  auto* label_widget = static_cast<QLabel*>(Widget(label));
  EXPECT_EQ(label_widget->text(), QString::fromUtf8("Nom & prénom"));
  EXPECT_EQ(label->Width(), label_widget->sizeHint().width()) << "AutoSize";

  // An opaque label shows its colour; a transparent one its parent's.
  form.SetBounds(0, 0, 50, 50);
  form.SetColor(clWhite);
  label->SetColor(clYellow);
  label->SetCaption("");
  label->SetAutoSize(false);
  label->SetBounds(0, 0, 10, 10);
  form.Show();
  EXPECT_EQ(Widget(&form)->grab().toImage().pixelColor(5, 5), QColor(255, 255, 0));
  label->SetTransparent(true);
  EXPECT_EQ(Widget(&form)->grab().toImage().pixelColor(5, 5), QColor(255, 255, 255));
}

}  // namespace
}  // namespace cl
