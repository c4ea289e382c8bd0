#include "app/ProgramUnits.h"

#include <gtest/gtest.h>

#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Units.h"
#include "engine/components/dialogs/TTesseraPasswordDialog.h"
#include "engine/storage/core/EngineSession.h"
#include "tests/app/AppUiTestSupport.h"

namespace mirvel_test {
namespace {

// The program's units put the password dialog in front of a session's request: the typed
// password reaches the session and the engine is told to try again.
TEST(ProgramUnits, APasswordRequestShowsTheDialog) {
  tessera::TTesseraSession* session = tessera::Sessions().DefaultSession();
  session->Open();
  EXPECT_FALSE(session->PasswordRequest()) << "before the program's units: no dialog, no";
  mirvel::RegisterProgramUnits();
  cl::InitializeUnits();
  cl::AddModalAction([] {
    auto* dialog = FindForm<tessera::TTesseraPasswordDialog>();
    ASSERT_NE(dialog, nullptr);
    QApplication::setActiveWindow(Widget(dialog));
    dialog->Edit->SetFocus();
    QTest::keyClicks(Widget(dialog->Edit), "secret");
    QTest::keyClick(Widget(dialog->Edit), Qt::Key_Return);
  });
  EXPECT_TRUE(session->PasswordRequest());
  EXPECT_TRUE(session->EngineSession()->HasPassword("secret"));
  cl::FinalizeUnits();
}

}  // namespace
}  // namespace mirvel_test
