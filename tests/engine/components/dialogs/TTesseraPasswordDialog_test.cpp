#include "engine/components/dialogs/TTesseraPasswordDialog.h"

#include <gtest/gtest.h>

#include <functional>

#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Units.h"
#include "engine/storage/core/EngineSession.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace tessera {
namespace {

using mirvel_test::Widget;

// The dialog showing now (found among the top-level windows).
TTesseraPasswordDialog* ShownDialog() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* dialog = dynamic_cast<TTesseraPasswordDialog*>(cl::ControlOfWidget(w));
    if (dialog != nullptr && w->isVisible()) return dialog;
  }
  return nullptr;
}

// Runs one request of the session through the registered default request, with `drive` acting
// inside the dialog's modal loop.
bool Request(TTesseraSession& session, std::function<void(TTesseraPasswordDialog&)> drive) {
  cl::AddModalAction([drive] {
    TTesseraPasswordDialog* dialog = ShownDialog();
    ASSERT_NE(dialog, nullptr);
    QApplication::setActiveWindow(Widget(dialog));
    dialog->Edit->SetFocus();
    drive(*dialog);
  });
  return session.PasswordRequest();
}

class PasswordDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitializeSessions();
    session_ = Sessions().DefaultSession();
    session_->Open();
  }
  void TearDown() override {
    cl::ClearModalActions();
    FinalizeSessions();
  }
  bool Has(const char* password) { return session_->EngineSession()->HasPassword(password); }

  TTesseraSession* session_ = nullptr;
};

TEST_F(PasswordDialogTest, TheUnitRegistersTheDialogAsTheDefaultRequest) {
  EXPECT_FALSE(session_->PasswordRequest()) << "no dialog registered: no";
  cl::RegisterUnit("TesseraPw", nullptr, nullptr, 300);
  RegisterPasswordDialogUnit();
  cl::InitializeUnits();

  // Typed and Enter: added, true.  The texts and geometry are the dialog's own.
  EXPECT_TRUE(Request(*session_, [](TTesseraPasswordDialog& d) {
    EXPECT_EQ(d.Caption(), "Enter password");
    EXPECT_EQ(d.Width(), 273);
    EXPECT_EQ(d.Height(), 132);
    EXPECT_EQ(d.RemoveAllButton->Caption(), "Re&move all");
    EXPECT_FALSE(d.OKButton->Enabled());
    EXPECT_EQ(d.Edit->PasswordChar(), '*');
    QTest::keyClick(Widget(d.Edit), Qt::Key_Return);  // a disabled default button does nothing
    EXPECT_TRUE(d.Visible());
    QTest::keyClicks(Widget(d.Edit), "secret");
    EXPECT_TRUE(d.AddButton->Enabled());
    QTest::keyClick(Widget(d.Edit), Qt::Key_Return);
  }));
  EXPECT_TRUE(Has("secret"));

  // Add, clear: OK stays enabled, and OK adds the empty text too (true).
  EXPECT_TRUE(Request(*session_, [](TTesseraPasswordDialog& d) {
    QTest::keyClicks(Widget(d.Edit), "autre");
    d.AddButton->Click();
    EXPECT_EQ(d.Edit->Text(), "");
    EXPECT_FALSE(d.AddButton->Enabled());
    EXPECT_TRUE(d.OKButton->Enabled());
    d.OKButton->Click();
  }));
  EXPECT_TRUE(Has("autre"));

  // Remove takes one password, Remove all the rest; Cancel answers false.
  EXPECT_FALSE(Request(*session_, [](TTesseraPasswordDialog& d) {
    QTest::keyClicks(Widget(d.Edit), "autre");
    d.RemoveButton->Click();
    d.RemoveAllButton->Click();
    QTest::keyClick(Widget(d.Edit), Qt::Key_Escape);
  }));
  EXPECT_FALSE(Has("autre"));
  EXPECT_FALSE(Has("secret"));

  cl::FinalizeUnits();
  cl::ClearUnits();
  EXPECT_FALSE(session_->PasswordRequest());
}

}  // namespace
}  // namespace tessera
