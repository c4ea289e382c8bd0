#include "components/ui/TCustomDateEdit.h"

#include <gtest/gtest.h>

#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Edits.h"
#include "classlib/forms/Forms.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/ManualEventLoop.h"

namespace comp {
namespace {

using cl::EncodeDate;

const cl::TDateTime kToday = EncodeDate(2026, 12, 7);

struct DateEditTest : ::testing::Test {
  DateEditTest() : saved(cl::CurrentFormatSettings()) {
    cl::SetClock([] { return kToday + 0.5; });
    cl::TFormatSettings dmy = saved;
    dmy.ShortDateFormat = "dd/MM/yyyy";
    dmy.DateSeparator = '/';
    cl::SetCurrentFormatSettings(dmy);
  }
  ~DateEditTest() override {
    cl::SetCurrentFormatSettings(saved);
    cl::SetClock(nullptr);
  }
  cl::TFormatSettings saved;
};

void Key(cl::TControl* control, uint16_t key, cl::TShiftState shift = {}) {
  control->Perform(cl::WM_KEYDOWN, key, static_cast<cl::LPARAM>(shift.Bits()));
}
void Char(cl::TControl* control, char c) {
  control->Perform(cl::WM_CHAR, static_cast<unsigned char>(c), 0);
}

TEST_F(DateEditTest, TextReadingAndValidation) {
  TDateEdit edit(nullptr);
  const struct {
    const char* text;
    bool empty;
    bool valid;
    cl::TDateTime date;  // with DefaultToday off; an invalid or empty text gives 0 (or today)
  } cases[] = {
      {"07/12/2026", false, true, EncodeDate(2026, 12, 7)},
      {"29/02/2000", false, true, EncodeDate(2000, 2, 29)},
      {"29/02/2001", false, false, 0},
      {"31/02/2003", false, false, 0},
      {"  /  /    ", true, true, 0},
      {"", true, true, 0},
      {"12/  /    ", false, false, 0},
  };
  for (bool default_today : {false, true}) {
    edit.SetDefaultToday(default_today);
    for (const auto& c : cases) {
      edit.SetText(c.text);
      SCOPED_TRACE(std::string(c.text) + (default_today ? " today" : ""));
      EXPECT_EQ(edit.TextIsEmpty(), c.empty);
      const cl::TDateTime fallback = default_today ? kToday : 0;
      EXPECT_EQ(edit.Date(), c.valid && !c.empty ? c.date : fallback);
      if (c.valid) {
        EXPECT_NO_THROW(edit.CheckValidDate());
      } else {
        try {
          edit.CheckValidDate();
          ADD_FAILURE() << "no error";
        } catch (const cl::Exception& e) {
          EXPECT_EQ(e.Message(), "''" + edit.Text() + "'' n'est pas une date correcte");
        }
      }
    }
  }
  // Writing: the null date shows blank (or today), an invalid value is not shown.
  edit.SetDefaultToday(false);
  edit.SetDate(0);
  EXPECT_TRUE(edit.TextIsEmpty());
  edit.SetDate(-700000);
  EXPECT_TRUE(edit.TextIsEmpty());
  edit.SetDefaultToday(true);
  edit.SetDate(0);
  EXPECT_EQ(edit.Text(), "07/12/2026");
}

TEST_F(DateEditTest, FormatAndMaskFollowTheSettings) {
  TDateEdit edit(nullptr);
  EXPECT_EQ(edit.DateFormat(), "DD/MM/YYYY");
  EXPECT_EQ(edit.EditMask(), "!99/99/9999;1; ");
  EXPECT_EQ(edit.NumGlyphs(), 2);
  EXPECT_EQ(edit.GlyphKind(), gkDefault);
  EXPECT_EQ(edit.DialogTitle(), "Select a Date");
  edit.SetDate(EncodeDate(2026, 3, 4));
  edit.SetYearDigits(dyTwo);
  EXPECT_EQ(edit.EditMask(), "!99/99/99;1; ");
  EXPECT_EQ(edit.Text(), "04/03/26");
  EXPECT_EQ(edit.Date(), EncodeDate(2026, 3, 4));
  edit.SetYearDigits(dyFour);
  edit.SetBlanksChar('_');
  EXPECT_EQ(edit.EditMask(), "!99/99/9999;1;_");
  EXPECT_EQ(edit.Date(), EncodeDate(2026, 3, 4));
  edit.SetBlanksChar('\x05');
  EXPECT_EQ(edit.BlanksChar(), ' ');

  // A locale change: read with the old format, written with the new one.
  cl::TFormatSettings mdy = cl::CurrentFormatSettings();
  mdy.ShortDateFormat = "M/d/yyyy";
  cl::SetCurrentFormatSettings(mdy);
  edit.Perform(cl::WM_WININICHANGE, 0, 0);
  EXPECT_EQ(edit.DateFormat(), "MM/DD/YYYY");
  EXPECT_EQ(edit.Text(), "03/04/2026");
  EXPECT_EQ(edit.Date(), EncodeDate(2026, 3, 4));

  // At most four calendar hints are kept; they reach the calendar's buttons.
  for (const char* hint : {"a", "", "c", "d", "e"}) edit.CalendarHints().Add(hint);
  EXPECT_EQ(edit.CalendarHints().Count(), 4);
  EXPECT_EQ(edit.PopupCalendar()->Button(0)->Hint(), "a");
  EXPECT_EQ(cl::Cp1252ToUtf8(edit.PopupCalendar()->Button(1)->Hint()), "Mois précédent");
  EXPECT_EQ(edit.PopupCalendar()->Button(3)->Hint(), "d");
}

TEST_F(DateEditTest, CalendarDropsOnAltDownAndWritesOnEnter) {
  cl::TForm form(nullptr);
  auto* edit = new TDateEdit(&form);
  edit->SetParent(&form);
  edit->SetText("07/12/2026");
  Key(edit, cl::VK_DOWN, {cl::ssAlt});
  ASSERT_TRUE(edit->PopupVisible());
  TLocCalendar* grid = edit->PopupCalendar()->Calendar();
  EXPECT_EQ(grid->CalendarDate(), kToday);
  Key(edit, cl::VK_RIGHT);
  Key(edit, cl::VK_NEXT, {cl::ssCtrl});
  Char(edit, '+');
  EXPECT_EQ(grid->CalendarDate(), EncodeDate(2027, 12, 9));
  EXPECT_EQ(edit->Text(), "07/12/2026") << "nothing written while open";
  Key(edit, cl::VK_RETURN);
  EXPECT_FALSE(edit->PopupVisible());
  EXPECT_EQ(edit->Text(), "09/12/2027");

  // Escape leaves the text; an empty edit opens on today.
  edit->DoClick();
  Key(edit, cl::VK_DOWN);
  Key(edit, cl::VK_ESCAPE);
  EXPECT_EQ(edit->Text(), "09/12/2027");
  edit->SetDate(0);
  edit->DoClick();
  EXPECT_EQ(grid->CalendarDate(), kToday);
  Key(edit, cl::VK_ESCAPE);
  EXPECT_TRUE(edit->TextIsEmpty());

  // OnConfirmDate may move or refuse the chosen date.
  bool refuse = true;
  edit->SetOnConfirmDate([&](cl::TObject*, cl::TDateTime& date, bool& accept) {
    accept = !refuse;
    date += 1;
  });
  edit->DoClick();
  Key(edit, cl::VK_RETURN);
  EXPECT_TRUE(edit->TextIsEmpty());
  refuse = false;
  edit->DoClick();
  Key(edit, cl::VK_RETURN);
  EXPECT_EQ(edit->Text(), "08/12/2026");
  edit->SetOnConfirmDate(nullptr);

  // Closed: "+", "-" step a day, "T" sets today.
  Char(edit, '+');
  Char(edit, '+');
  Char(edit, '-');
  EXPECT_EQ(edit->Text(), "09/12/2026");
  Char(edit, 't');
  EXPECT_EQ(edit->Text(), "07/12/2026");

  // A read-only edit ignores its button and the keys; without DirectInput the button works.
  edit->SetReadOnly(true);
  edit->DoClick();
  Key(edit, cl::VK_DOWN, {cl::ssAlt});
  Char(edit, '+');
  EXPECT_FALSE(edit->PopupVisible());
  EXPECT_EQ(edit->Text(), "07/12/2026");
  edit->SetReadOnly(false);
  edit->SetDirectInput(false);
  Char(edit, '+');
  EXPECT_EQ(edit->Text(), "07/12/2026");
  Key(edit, cl::VK_DOWN, {cl::ssAlt});
  Key(edit, cl::VK_LEFT);
  Key(edit, cl::VK_RETURN);
  EXPECT_EQ(edit->Text(), "06/12/2026");
}

TEST_F(DateEditTest, DialogStyleRunsTheDateDialog) {
  TDateEdit edit(nullptr);
  edit.SetCalendarStyle(csDialog);
  EXPECT_EQ(edit.PopupCalendar(), nullptr);
  edit.SetDialogTitle("Date de retour");
  edit.SetDate(EncodeDate(2026, 1, 31));
  // Tab goes a month on, then the key closes the dialog.
  auto answer = [](uint16_t key) {
    cl::AddModalAction([key] {
      for (int i = 0; i < cl::Screen().FormCount(); ++i) {
        if (auto* dialog = dynamic_cast<TSelectDateDlg*>(cl::Screen().Forms(i))) {
          EXPECT_EQ(dialog->Caption(), "Date de retour");
          dialog->Perform(cl::WM_KEYDOWN, cl::VK_TAB, 0);
          dialog->Perform(cl::WM_KEYDOWN, key, 0);
        }
      }
    });
  };
  answer(cl::VK_RETURN);
  edit.DoClick();
  EXPECT_EQ(edit.Date(), EncodeDate(2026, 2, 28));
  answer(cl::VK_ESCAPE);
  edit.DoClick();
  EXPECT_EQ(edit.Date(), EncodeDate(2026, 2, 28)) << "cancelled";
  cl::ClearModalActions();
}

TEST_F(DateEditTest, CheckOnExitKeepsTheFocusAndReports) {
  cl::TManualEventLoop loop;
  cl::TEventLoop* saved_loop = cl::CurrentEventLoop();
  cl::SetEventLoop(&loop);
  std::vector<std::string> errors;
  cl::Application().SetOnException(
      [&](cl::TObject*, cl::Exception& e) { errors.push_back(e.Message()); });

  cl::TForm form(nullptr);
  auto* next = new cl::TEdit(&form);
  next->SetParent(&form);
  auto* edit = new TDateEdit(&form);
  edit->SetParent(&form);
  edit->SetTop(40);
  form.Show();
  edit->SetText("31/02/2003");
  edit->Perform(cl::CM_EXIT, 0, 0);
  EXPECT_TRUE(errors.empty()) << "no check without CheckOnExit";
  EXPECT_EQ(loop.RunPosted(), 0);
  edit->SetCheckOnExit(true);
  // The focus has moved on when the exit is checked.
  edit->SetFocus();
  next->SetFocus();
  EXPECT_EQ(form.ActiveControl(), next);
  edit->Perform(cl::CM_EXIT, 0, 0);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "''31/02/2003'' n'est pas une date correcte");
  EXPECT_EQ(loop.RunPosted(), 1);
  EXPECT_EQ(form.ActiveControl(), edit) << "the focus is given back";
  edit->SetText("  /  /    ");
  edit->Perform(cl::CM_EXIT, 0, 0);
  EXPECT_EQ(errors.size(), 1u) << "an empty text passes";
  form.Hide();

  cl::Application().SetOnException(nullptr);
  cl::SetEventLoop(saved_loop);
}

}  // namespace
}  // namespace comp
