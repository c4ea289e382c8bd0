#include "components/ui/TPopupCalendar.h"

#include <cmath>

#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/FormatSettings.h"
#include "classlib/rtl/TextUtils.h"
#include "components/ui/WindowRoutines.h"

namespace comp {
namespace {

const char* const kButtonGlyphs[4] = {"PREV2", "PREV1", "NEXT1", "NEXT2"};

TOxTimerSpeedButton* NavButton(cl::TComponent* owner, cl::TWinControl* parent, int index,
                               const std::string& hint, int size) {
  auto* button = new TOxTimerSpeedButton(owner);
  button->SetParent(parent);
  button->Glyph().LoadFromResourceName(kButtonGlyphs[index]);
  button->SetNumGlyphs(1);
  button->SetHint(hint);
  button->SetBounds(0, -1, size, size);
  return button;
}

void Step(TOxCalendar* calendar, int index) {
  switch (index) {
    case 0:
      calendar->PrevYear();
      break;
    case 1:
      calendar->PrevMonth();
      break;
    case 2:
      calendar->NextMonth();
      break;
    default:
      calendar->NextYear();
      break;
  }
}

// PageUp / PageDown (Ctrl: years); true when the key was one of them.
bool PageKey(TOxCalendar* calendar, uint16_t key, cl::TShiftState shift) {
  const bool ctrl = shift.Contains(cl::ssCtrl);
  if (key == cl::VK_PRIOR) {
    Step(calendar, ctrl ? 0 : 1);
    return true;
  }
  if (key == cl::VK_NEXT) {
    Step(calendar, ctrl ? 3 : 2);
    return true;
  }
  return false;
}

}  // namespace

std::string CalendarTitle(cl::TDateTime date) { return cl::FormatDateTime("MMMM, YYYY", date); }

TPopupCalendar::TPopupCalendar(cl::TComponent* owner) : TPopupWindow(owner) {
  RegisterComponentResources();
  int width = 187;
  int height = 124;
  const int ppi = cl::Screen().PixelsPerInch();
  if (ppi != 96 && ppi > 0) {
    width = width * ppi / 96;
    height = height * ppi / 96;
  }
  SetBounds(0, 0, width, height);
  SetColor(cl::clBtnFace);
  Font().SetName("MS Sans Serif");
  Font().SetSize(8);
  Font().SetColor(cl::clWindowText);
  cl::TControl* owner_control = dynamic_cast<cl::TControl*>(owner);
  SetShowHint(owner_control == nullptr || owner_control->ShowHint());

  auto* top = new cl::TPanel(this);
  top->SetParent(this);
  top->SetAlign(cl::alTop);
  top->SetHeight(18);
  top->SetBevelOuter(cl::bvNone);
  // Windows-1252, as every text of the controls.
  const char* const hints[4] = {
      "Ann\xE9"
      "e pr\xE9"
      "c\xE9"
      "dente",
      "Mois pr\xE9"
      "c\xE9"
      "dent",
      "Mois suivant",
      "Ann\xE9"
      "e suivante"};
  for (int i = 0; i < 4; ++i) buttons_[i] = NavButton(this, top, i, hints[i], 14);
  buttons_[0]->SetLeft(-1);
  buttons_[1]->SetLeft(12);
  buttons_[3]->SetLeft(width - 2 - 13);
  buttons_[2]->SetLeft(width - 2 - 26);
  title_ = new cl::TLabel(this);
  title_->SetParent(top);
  title_->SetTransparent(true);
  title_->SetAlignment(cl::taCenter);
  title_->SetBounds(29, 1, width - 2 * 29, 14);
  title_->SetOnDblClick([this](cl::TObject*) { calendar_->SetCalendarDate(cl::Date()); });

  calendar_ = new TLocCalendar(this);
  calendar_->SetParent(this);
  calendar_->SetAlign(cl::alClient);
  calendar_->SetOnChange([this](cl::TObject*) { UpdateTitle(); });
  calendar_->SetOnMouseUp(
      [this](cl::TObject*, cl::TMouseButton button, cl::TShiftState shift, int x, int y) {
        if (button != cl::mbLeft || !shift.Empty()) return;
        int col = -1;
        int row = -1;
        calendar_->MouseToCell(x, y, col, row);
        if (!calendar_->CellText(col, row).empty() && row >= 1) CloseUp(true);
      });
  for (int i = 0; i < 4; ++i) {
    buttons_[i]->SetOnClick([this, i](cl::TObject*) { Step(calendar_, i); });
  }
  UpdateTitle();
}

void TPopupCalendar::UpdateTitle() { title_->SetCaption(CalendarTitle(calendar_->CalendarDate())); }

cl::Variant TPopupCalendar::GetValue() const { return cl::Variant(calendar_->CalendarDate()); }

void TPopupCalendar::SetValue(const cl::Variant& value) {
  bool blank = value.IsNull() || value.IsEmpty();
  if (!blank) {
    std::string text = value.AsString();
    std::erase(text, cl::CurrentFormatSettings().DateSeparator);
    blank = cl::Trim(text).empty();
  }
  calendar_->SetCalendarDate(blank ? cl::Date() : value.AsDateTime());
  UpdateTitle();
}

void TPopupCalendar::SetHints(const std::vector<std::string>& hints) {
  for (size_t i = 0; i < 4 && i < hints.size(); ++i) {
    if (!hints[i].empty()) buttons_[i]->SetHint(hints[i]);
  }
}

void TPopupCalendar::ForwardKey(uint16_t& key, cl::TShiftState shift) {
  if (PageKey(calendar_, key, shift)) {
    key = 0;
    return;
  }
  calendar_->Perform(cl::WM_KEYDOWN, key, static_cast<cl::LPARAM>(shift.Bits()));
}

void TPopupCalendar::ForwardChar(char& key) {
  calendar_->Perform(cl::WM_CHAR, static_cast<uint8_t>(key), 0);
}

// ---- TSelectDateDlg --------------------------------------------------------------------------

TSelectDateDlg::TSelectDateDlg(cl::TComponent* owner) : cl::TForm(owner) {
  RegisterComponentResources();
  SetCaption("Select a Date");
  SetBorderStyle(cl::bsToolWindow);
  SetBorderIcons({cl::biSystemMenu});
  SetBounds(0, 0, 222, 154);
  SetPosition(cl::poScreenCenter);
  SetShowHint(true);
  SetKeyPreview(true);

  auto* top = new cl::TPanel(this);
  top->SetParent(this);
  top->SetBounds(0, 0, 222, 22);
  top->SetAlign(cl::alTop);
  top->SetBevelInner(cl::bvLowered);
  const char* const hints[4] = {"Previous Year|", "Previous Month|", "Next Month|", "Next Year|"};
  const int lefts[4] = {3, 18, 188, 203};
  for (int i = 0; i < 4; ++i) {
    Buttons[i] = NavButton(this, top, i, hints[i], 16);
    Buttons[i]->SetBounds(lefts[i], 3, 16, 16);
  }
  top->SetOnDblClick([this](cl::TObject*) { Calendar->SetCalendarDate(cl::Date()); });
  TitleLabel = new cl::TLabel(this);
  TitleLabel->SetParent(top);
  TitleLabel->SetBounds(35, 4, 152, 14);
  TitleLabel->SetAlignment(cl::taCenter);
  TitleLabel->Font().SetColor(cl::clBlue);

  auto* bottom = new cl::TPanel(this);
  bottom->SetParent(this);
  bottom->SetBounds(0, 133, 222, 21);
  bottom->SetAlign(cl::alBottom);
  bottom->SetBevelOuter(cl::bvNone);
  OkButton = new cl::TButton(this);
  OkButton->SetParent(bottom);
  OkButton->SetBounds(0, 0, 112, 21);
  OkButton->SetCaption("OK");
  OkButton->SetModalResult(cl::mrOk);
  CancelButton = new cl::TButton(this);
  CancelButton->SetParent(bottom);
  CancelButton->SetBounds(111, 0, 111, 21);
  CancelButton->SetCaption("Annuler");
  CancelButton->SetModalResult(cl::mrCancel);
  CancelButton->SetCancel(true);

  auto* middle = new cl::TPanel(this);
  middle->SetParent(this);
  middle->SetAlign(cl::alClient);
  middle->SetBevelInner(cl::bvLowered);
  Calendar = new TOxCalendar(this);
  Calendar->SetParent(middle);
  Calendar->SetAlign(cl::alClient);
  Calendar->SetColor(cl::clWhite);
  Calendar->SetTabOrder(0);
  Calendar->SetUseCurrentDate(false);
  Calendar->SetOnChange([this](cl::TObject*) { UpdateTitle(); });
  Calendar->SetOnDblClick([this](cl::TObject*) { SetModalResult(cl::mrOk); });
  SetActiveControl(Calendar);
  for (int i = 0; i < 4; ++i) {
    Buttons[i]->SetOnClick([this, i](cl::TObject*) { Step(Calendar, i); });
  }
  UpdateTitle();
}

void TSelectDateDlg::UpdateTitle() {
  TitleLabel->SetCaption(CalendarTitle(Calendar->CalendarDate()));
}

void TSelectDateDlg::KeyDown(uint16_t& key, cl::TShiftState shift) {
  switch (key) {
    case cl::VK_ESCAPE:
      SetModalResult(cl::mrCancel);
      key = 0;
      return;
    case cl::VK_RETURN:
      SetModalResult(cl::mrOk);
      key = 0;
      return;
    case cl::VK_TAB:
      Step(Calendar, shift.Contains(cl::ssShift) ? 1 : 2);
      key = 0;
      return;
    default:
      if (PageKey(Calendar, key, shift)) {
        key = 0;
        return;
      }
  }
  cl::TForm::KeyDown(key, shift);
}

bool SelectDate(cl::TDateTime& date, const std::string& caption, TDayOfWeekName start_of_week,
                TDaysOfWeek weekends, cl::TColor weekend_color,
                const std::vector<std::string>& hints) {
  TSelectDateDlg dialog(nullptr);
  if (!caption.empty()) dialog.SetCaption(caption);
  const int ppi = cl::Screen().PixelsPerInch();
  if (ppi != 96 && ppi > 0) dialog.ScaleBy(ppi, 96);
  dialog.SetBounds(cl::Screen().Width() / 2 - dialog.Width() / 2,
                   cl::Screen().Height() / 2 - dialog.Height() / 2, dialog.Width(),
                   dialog.Height());
  dialog.Calendar->SetCalendarDate(date == 0 ? cl::Date() : date);
  dialog.Calendar->SetStartOfWeek(start_of_week);
  dialog.Calendar->SetWeekends(weekends);
  dialog.Calendar->SetWeekendColor(weekend_color);
  for (size_t i = 0; i < 4 && i < hints.size(); ++i) {
    if (!hints[i].empty()) dialog.Buttons[i]->SetHint(hints[i]);
  }
  if (dialog.ShowModal() != cl::mrOk) return false;
  date = dialog.Calendar->CalendarDate();
  return true;
}

}  // namespace comp
