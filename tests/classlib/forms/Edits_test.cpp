#include "classlib/forms/Edits.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/StdCtrls.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace cl {
namespace {

using mirvel_test::Widget;

TEST(EditsTest, MasksTranslateAsTheTableSays) {
  struct Case {
    const char* mask;
    const char* toolkit;
  };
  // clang-format off
  const Case cases[] = {
      {"!99/99/9999;1; ", "00/00/0000; "},
      {"!9999/99/99;1;_", "0000/00/00;_"},
      {"!99/99/99;1; ", "00/00/00; "},
      {"00:00", "99:99; "},
      {"LlAaCc#", "AaNnXx#; "},
      {">L<l<>L", ">A<a!A; "},
      {"\\9\\;x;0", "\\9\\;\\x; "},
      {"", ""},
  };
  // clang-format on
  for (const Case& c : cases) EXPECT_EQ(ToolkitInputMask(c.mask), c.toolkit) << c.mask;
}

TEST(EditsTest, TypedDigitsFillTheDateMaskAndValidateNamesTheText) {
  TForm form(nullptr);
  auto* edit = new TMaskEdit(&form);
  edit->SetParent(&form);
  edit->SetEditMask("!99/99/9999;1; ");
  EXPECT_EQ(edit->EditText(), "  /  /    ") << "an empty date edit";
  form.Show();
  QApplication::setActiveWindow(Widget(&form));
  edit->SetFocus();
  edit->SetSelStart(0);
  QTest::keyClicks(Widget(edit), "12032024");
  EXPECT_EQ(edit->EditText(), "12/03/2024");
  EXPECT_EQ(edit->Text(), "12/03/2024");

  edit->SetEditMask("!99/99/9999;0; ");
  EXPECT_EQ(edit->Text(), "12032024") << "literals dropped";

  // Required digits: a partly typed date fails, and the message shows what was typed.
  edit->SetEditMask("!00/00/0000;1;_");
  edit->SetText("");
  edit->SetSelStart(0);
  QTest::keyClicks(Widget(edit), "1203");
  EXPECT_EQ(edit->EditText(), "12/03/____");
  try {
    edit->ValidateEdit();
    FAIL() << "an incomplete date passed";
  } catch (const EDBEditError& e) {
    EXPECT_NE(e.Message().find("12/03/____"), std::string::npos) << e.Message();
  }
  edit->SetSelStart(6);
  QTest::keyClicks(Widget(edit), "2024");
  EXPECT_NO_THROW(edit->ValidateEdit());
}

TEST(EditsTest, ChangeFiresForCodeAndUserAndForeignTextIsRefusedWhole) {
  mirvel_test::UiRecorder recorder;
  TForm form(nullptr);
  auto* edit = new TEdit(&form);
  edit->SetParent(&form);
  std::vector<std::string> changes;
  edit->SetOnChange([&](TObject*) { changes.push_back(edit->Text()); });
  edit->SetText("abc");
  EXPECT_EQ(changes, std::vector<std::string>{"abc"});
  EXPECT_FALSE(edit->Modified());
  form.Show();
  QApplication::setActiveWindow(Widget(&form));
  edit->SetFocus();
  edit->SetSelStart(3);
  QKeyEvent e_acute(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(0xE9)));
  QApplication::sendEvent(Widget(edit), &e_acute);  // fits the code page
  EXPECT_EQ(edit->Text(), "abc\xE9");
  EXPECT_TRUE(edit->Modified());

  // A paste holding one character outside the code page is refused whole, with one beep.
  const int beeps = MessageBeepCount();
  QGuiApplication::clipboard()->setText(QString::fromUtf8("xyΩ"));
  static_cast<QLineEdit*>(Widget(edit))->paste();
  EXPECT_EQ(edit->Text(), "abc\xE9");
  EXPECT_EQ(MessageBeepCount(), beeps + 1);
  QGuiApplication::clipboard()->setText("xy");
  static_cast<QLineEdit*>(Widget(edit))->paste();
  EXPECT_EQ(edit->Text(), "abc\xE9xy");
  EXPECT_EQ(changes.size(), 3u);

  // The password character shows as itself.
  edit->SetPasswordChar('*');
  auto* line = static_cast<QLineEdit*>(Widget(edit));
  EXPECT_EQ(line->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, line),
            QChar('*').unicode());
  EXPECT_EQ(line->echoMode(), QLineEdit::Password);
}

TEST(EditsTest, MemoKeepsCrLfLinesFollowTextAndEnterStaysInTheMemo) {
  TForm form(nullptr);
  auto* memo = new TMemo(&form);
  memo->SetParent(&form);
  auto* ok = new TButton(&form);
  ok->SetParent(&form);
  ok->SetTop(120);
  ok->SetDefault(true);
  int clicks = 0;
  ok->SetOnClick([&](TObject*) { ++clicks; });
  int changes = 0;
  memo->SetOnChange([&](TObject*) { ++changes; });

  memo->SetText("un\r\ndeux");
  EXPECT_EQ(memo->Lines().Count(), 2);
  EXPECT_EQ(memo->Lines().Get(1), "deux");
  memo->Lines().Add("trois");
  EXPECT_EQ(memo->Text(), "un\r\ndeux\r\ntrois");
  EXPECT_EQ(changes, 2);

  form.Show();
  QApplication::setActiveWindow(Widget(&form));
  memo->SetFocus();
  QTest::keyClick(Widget(memo), Qt::Key_End, Qt::ControlModifier);
  QTest::keyClick(Widget(memo), Qt::Key_Return);
  QTest::keyClicks(Widget(memo), ">");
  EXPECT_EQ(clicks, 0) << "Enter makes a line, not a click";
  EXPECT_EQ(memo->Text(), "un\r\ndeux\r\ntrois\r\n>");
  EXPECT_EQ(memo->Lines().Count(), 4);
  EXPECT_TRUE(memo->Modified());

  memo->SetWantReturns(false);
  QTest::keyClick(Widget(memo), Qt::Key_Return);
  EXPECT_EQ(clicks, 1);
}

}  // namespace
}  // namespace cl
