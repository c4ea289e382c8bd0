#include "components/ui/TCustomDateEdit.h"

#include <vector>

#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/FormatSettings.h"
#include "components/ui/WindowRoutines.h"

namespace comp {
namespace {

// The keypad's plus and minus, for callers that send them as keys.
constexpr uint16_t kVkAdd = 107;
constexpr uint16_t kVkSubtract = 109;

bool CalendarKey(uint16_t key) {
  switch (key) {
    case cl::VK_PRIOR:
    case cl::VK_NEXT:
    case cl::VK_LEFT:
    case cl::VK_UP:
    case cl::VK_RIGHT:
    case cl::VK_DOWN:
    case kVkAdd:
    case kVkSubtract:
      return true;
    default:
      return false;
  }
}

}  // namespace

TCustomDateEdit::TCustomDateEdit(cl::TComponent* owner)
    : TCustomComboEdit(owner), calendar_hints_(std::make_unique<cl::TStringList>()) {
  calendar_hints_->SetOnChange([this](cl::TObject*) { HintsChanged(); });
  SetGlyphKind(gkDefault);
  SetCalendarStyle(csPopup);
  UpdateFormat();
}

TCustomDateEdit::~TCustomDateEdit() { calendar_hints_->SetOnChange(nullptr); }

const cl::TBitmap* TCustomDateEdit::DefaultGlyph() const {
  // Loaded once for every date edit; kept for the life of the process.
  static const cl::TBitmap* const glyph = [] {
    RegisterComponentResources();
    auto* bitmap = new cl::TBitmap;
    bitmap->LoadFromResourceName("DEDITBMP");
    return bitmap;
  }();
  return glyph;
}

cl::TDateTime TCustomDateEdit::DefaultDate() const {
  return default_today_ ? cl::Date() : kNullDate;
}

bool TCustomDateEdit::TextIsEmpty() const {
  const char separator = cl::CurrentFormatSettings().DateSeparator;
  for (char c : Text()) {
    if (c != blanks_char_ && c != ' ' && c != separator) return false;
  }
  return true;
}

cl::TDateTime TCustomDateEdit::Date() const {
  if (TextIsEmpty()) return DefaultDate();
  return StrToDateFmtDef(date_format_, Text(), DefaultDate());
}

void TCustomDateEdit::SetDate(cl::TDateTime value) {
  const cl::TDateTime before = Date();
  if (!IsValidDateTime(value) || value == kNullDate) value = DefaultDate();
  SetText(value == kNullDate ? "" : cl::FormatDateTime(date_format_, value));
  if (Date() != before) SetModified(true);
  if (DirectInput() && Focused()) SelectAll();
}

void TCustomDateEdit::CheckValidDate() {
  if (TextIsEmpty()) return;
  try {
    StrToDateFmt(date_format_, Text());
  } catch (...) {
    if (Focused()) SelectAll();
    throw;
  }
}

void TCustomDateEdit::UpdateFormat() {
  const cl::TDateTime date = date_format_.empty() ? kNullDate : Date();
  const bool four = year_digits_ != dyTwo;
  date_format_ = DefDateFormat(four);
  const bool modified = Modified();
  SetEditMask("");
  SetEditMask(DefDateMask(blanks_char_, four));
  if (calendar_ != nullptr) calendar_->SetFourDigitYear(four);
  SetDate(date);
  SetModified(modified);
}

void TCustomDateEdit::SetBlanksChar(char value) {
  if (static_cast<unsigned char>(value) < 32) value = ' ';
  if (value == blanks_char_) return;
  blanks_char_ = value;
  UpdateFormat();
}

void TCustomDateEdit::SetYearDigits(TYearDigits digits) {
  if (digits == year_digits_) return;
  year_digits_ = digits;
  UpdateFormat();
}

void TCustomDateEdit::SetStartOfWeek(TDayOfWeekName day) {
  start_of_week_ = day;
  ConfigurePopup();
}

void TCustomDateEdit::SetWeekends(TDaysOfWeek days) {
  weekends_ = days;
  ConfigurePopup();
}

void TCustomDateEdit::SetWeekendColor(cl::TColor color) {
  weekend_color_ = color;
  ConfigurePopup();
}

void TCustomDateEdit::SetPopupColor(cl::TColor color) {
  popup_color_ = color;
  ConfigurePopup();
}

void TCustomDateEdit::SetCalendarStyle(TCalendarStyle style) {
  calendar_style_ = style;
  if (style == csPopup && calendar_ == nullptr) {
    calendar_ = new TPopupCalendar(this);
    SetPopup(calendar_);
    ConfigurePopup();
  } else if (style == csDialog && calendar_ != nullptr) {
    SetPopup(nullptr);
    delete calendar_;
    calendar_ = nullptr;
  }
}

void TCustomDateEdit::ConfigurePopup() {
  if (calendar_ == nullptr) return;
  calendar_->SetColor(popup_color_);
  TLocCalendar* grid = calendar_->Calendar();
  grid->SetStartOfWeek(start_of_week_);
  grid->SetWeekends(weekends_);
  grid->SetWeekendColor(weekend_color_);
  calendar_->SetFourDigitYear(year_digits_ != dyTwo);
  std::vector<std::string> hints;
  for (int i = 0; i < calendar_hints_->Count(); ++i) hints.push_back(calendar_hints_->Get(i));
  calendar_->SetHints(hints);
}

void TCustomDateEdit::HintsChanged() {
  if (trimming_hints_) return;
  trimming_hints_ = true;
  while (calendar_hints_->Count() > 4) calendar_hints_->Delete(calendar_hints_->Count() - 1);
  trimming_hints_ = false;
  ConfigurePopup();
}

bool TCustomDateEdit::ConfirmDate(cl::TDateTime& date) {
  bool accept = true;
  if (on_confirm_date_) {
    TExecDateDialog handler = on_confirm_date_;
    handler(this, date, accept);
  }
  return accept;
}

bool TCustomDateEdit::ExecuteDialog(cl::TDateTime& date) {
  std::vector<std::string> hints;
  for (int i = 0; i < calendar_hints_->Count(); ++i) hints.push_back(calendar_hints_->Get(i));
  return SelectDate(date, dialog_title_, start_of_week_, weekends_, weekend_color_, hints);
}

void TCustomDateEdit::DoClick() {
  TCustomComboEdit::DoClick();
  if (calendar_style_ != csDialog || GetReadOnly()) return;
  cl::TDateTime date = Date();
  const bool chosen = ExecuteDialog(date);
  if (CanFocus()) SetFocus();
  if (chosen && ConfirmDate(date)) {
    SetDate(date);
    if (Focused()) SelectAll();
  }
}

bool TCustomDateEdit::AcceptPopup(cl::Variant& value) {
  cl::TDateTime date = value.IsNull() || value.IsEmpty() ? kNullDate : value.AsDateTime();
  if (!ConfirmDate(date)) return false;
  value = cl::Variant::FromDate(date);
  return true;
}

void TCustomDateEdit::AcceptValue(const cl::Variant& value) {
  const cl::TDateTime date = value.IsNull() || value.IsEmpty() ? kNullDate : value.AsDateTime();
  if (!TextIsEmpty() && date == Date()) return;
  SetDate(date);
}

void TCustomDateEdit::SetPopupValue(const cl::Variant& value) {
  cl::TDateTime date = kNullDate;
  // A text that is no date opens the calendar on today.
  if (value.IsNull() || TextIsEmpty() || !TryStrToDateFmt(date_format_, Text(), date) ||
      date == kNullDate) {
    TCustomComboEdit::SetPopupValue(cl::Variant::Null());
    return;
  }
  TCustomComboEdit::SetPopupValue(cl::Variant::FromDate(date));
}

void TCustomDateEdit::KeyDown(uint16_t& key, cl::TShiftState shift) {
  if (PopupVisible() && CalendarKey(key) && cl::ShortCut(key, shift) != ClickKey()) {
    calendar_->ForwardKey(key, shift);
    key = 0;
    return;
  }
  TCustomComboEdit::KeyDown(key, shift);
  if (key == 0 || PopupVisible()) return;
  const bool plain =
      !shift.Contains(cl::ssShift) && !shift.Contains(cl::ssCtrl) && !shift.Contains(cl::ssAlt);
  if (plain && DirectInput() && !TextLocked() && (key == kVkAdd || key == kVkSubtract)) {
    const cl::TDateTime base = TextIsEmpty() ? cl::Date() : Date();
    SetDate(base + (key == kVkAdd ? 1 : -1));
    key = 0;
  }
}

void TCustomDateEdit::KeyPress(char& key) {
  const bool calendar_char = key == '+' || key == '-' || key == 'T' || key == 't';
  if (PopupVisible() && calendar_char) {
    if (key == '+' || key == '-') {
      uint16_t vk = key == '+' ? kVkAdd : kVkSubtract;
      calendar_->ForwardKey(vk, {});
    } else {
      calendar_->ForwardChar(key);
    }
    key = 0;
    return;
  }
  TCustomComboEdit::KeyPress(key);
  if (key == 0 || !calendar_char || !DirectInput() || TextLocked()) return;
  if (key == 'T' || key == 't') {
    SetDate(cl::Date());
  } else {
    const cl::TDateTime base = TextIsEmpty() ? cl::Date() : Date();
    SetDate(base + (key == '+' ? 1 : -1));
  }
  key = 0;
}

void TCustomDateEdit::DoExit() {
  PopupCloseUp(false);
  if (check_on_exit_) CheckValidDate();
  TCustomComboEdit::DoExit();
}

void TCustomDateEdit::WndProc(cl::TMessage& message) {
  TCustomComboEdit::WndProc(message);
  if (message.Msg == cl::WM_WININICHANGE) UpdateFormat();
}

}  // namespace comp
