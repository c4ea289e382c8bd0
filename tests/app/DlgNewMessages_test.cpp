#include "app/DlgNewMessages.h"

#include <gtest/gtest.h>

#include "app/MMirvel.h"
#include "classlib/forms/Dialogs.h"
#include "tests/app/AppUiTestSupport.h"

namespace mirvel_test {
namespace {

using mirvel::TDlgNewMessages;

TEST(DlgNewMessages, ShowsTheTitleAndAnswers) {
  struct {
    const char* name;
    bool unread;
    int close_with;
    const char* label;
    bool go_see;
  } cases[] = {
      {"new, go see", false, cl::mrOk, mirvel::kNewMessagesLabel, true},
      {"unread, ignore", true, cl::mrIgnore, mirvel::kUnreadLabel, false},
      {"closed by the main window", false, cl::mrCancel, mirvel::kNewMessagesLabel, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string caption, label;
    bool registered = false;
    cl::AddModalAction([&] {
      registered = mirvel::DlgNewMessages != nullptr;
      ASSERT_TRUE(registered);
      caption = mirvel::DlgNewMessages->Caption();
      label = mirvel::DlgNewMessages->LabelNouveau->Caption();
      mirvel::DlgNewMessages->SetModalResult(c.close_with);
    });
    EXPECT_EQ(mirvel::ShowNewMessagesDialog(c.unread), c.go_see);
    EXPECT_TRUE(registered);
    EXPECT_EQ(caption, cl::Application().Title());
    EXPECT_EQ(label, c.label);
    EXPECT_EQ(mirvel::DlgNewMessages, nullptr);
  }
}

TEST(DlgNewMessages, Texts) {
  std::unique_ptr<TDlgNewMessages> dialog(cl::Create<TDlgNewMessages>(nullptr));
  // clang-format off
  ExpectTexts(dialog.get(), {
      {"LabelNouveau", "Caption", "Vous avez de nouveaux messages."},
      {"btnVoir", "Caption", "Aller &voir"},
      {"btnIgnorer", "Caption", "&Ignorer"},
  });
  // clang-format on
}

}  // namespace
}  // namespace mirvel_test
