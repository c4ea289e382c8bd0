// QtText.h declares Qt types, so it comes through the test-support header.
#include <gtest/gtest.h>

#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Forms.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace cl {
namespace {

TEST(QtTextTest, EveryByteRoundTripsAndForeignCharactersAreRefused) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(FromQString(ToQString(all)), all);
  EXPECT_EQ(ToQString("\x80\xE9\x9C"), QString::fromUtf8("€éœ"));
  EXPECT_TRUE(FitsCp1252(QString::fromUtf8("Réponse à « l’équipe » – 5 €")));
  EXPECT_FALSE(FitsCp1252(QString::fromUtf8("Ωmega")));
  EXPECT_EQ(FromQString(QString::fromUtf8("aΩb")), "a?b");
}

// A control that records the characters it is given.
class TKeySink : public TCustomControl {
 public:
  explicit TKeySink(TComponent* owner) : TCustomControl(owner) {
    mirvel_test::Widget(this)->setFocusPolicy(Qt::StrongFocus);
    SetOnKeyPress([this](TObject*, char& key) { typed += key; });
  }
  std::string typed;
};

TEST(QtTextTest, ATypedCharacterOutsideWindows1252IsRefusedWithABeep) {
  TForm form(nullptr);
  auto* sink = new TKeySink(&form);
  sink->SetParent(&form);
  form.Show();
  sink->SetFocus();
  const int beeps = MessageBeepCount();
  for (const char* text : {"é", "€", "Ω", "x"}) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8(text));
    QApplication::sendEvent(mirvel_test::Widget(sink), &press);
  }
  EXPECT_EQ(sink->typed, "\xE9\x80x");
  EXPECT_EQ(MessageBeepCount(), beeps + 1);
}

}  // namespace
}  // namespace cl
