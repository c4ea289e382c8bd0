// The main of every test program of the visual layer: one QApplication on the offscreen platform.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "classlib/forms/Forms.h"
#include "classlib/rtl/Application.h"
#include "tests/classlib/forms/FormsTestSupport.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  cl::InstallFormsBackend();
  cl::Application().Initialize();
  const int result = RUN_ALL_TESTS();
  cl::StopMessageReceiver();
  // Widgets of controls freed inside their own events are deleted by the loop.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  return result;
}
