#include "components/ui/THintController.h"

#include <algorithm>

#include "classlib/db/TField.h"
#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/Units.h"

namespace comp {
namespace {

THintController* g_controller = nullptr;

bool AnyButton(const cl::TMessage& message) {
  const auto shift = cl::TShiftState::FromBits(static_cast<uint32_t>(message.WParam));
  return shift.Contains(cl::ssLeft) || shift.Contains(cl::ssRight) || shift.Contains(cl::ssMiddle);
}

// The messages after which a hint that shows or waits no longer belongs where the mouse is.
bool EndsHint(uint32_t msg) {
  switch (msg) {
    case cl::WM_KEYDOWN:
    case cl::WM_SYSKEYDOWN:
    case cl::WM_LBUTTONDOWN:
    case cl::WM_RBUTTONDOWN:
    case cl::WM_MBUTTONDOWN:
    case cl::WM_LBUTTONDBLCLK:
    case cl::WM_RBUTTONDBLCLK:
    case cl::WM_MBUTTONDBLCLK:
    case cl::WM_KILLFOCUS:
      return true;
    default:
      return false;
  }
}

// The hint messages every hinted control handles before its own handling.
void RouteHintMessage(cl::TControl* control, bool sp_hint, const cl::TMessage& message) {
  THintController* controller = HintController();
  if (controller == nullptr) return;
  if (message.Msg == cl::WM_MOUSEMOVE) {
    if (sp_hint && !AnyButton(message)) controller->MouseMoved(control);
  } else if (message.Msg == cl::CM_MOUSELEAVE) {
    controller->MouseLeft(control);
  } else if (EndsHint(message.Msg)) {
    controller->ControlReset(control);
  }
}

}  // namespace

// ---- THintProcList ----------------------------------------------------------------------------

const THintProc& THintProcList::Items(int index) const {
  if (index < 0 || index >= Count()) cl::ListIndexError(index);
  return procs_[static_cast<size_t>(index)];
}

void THintProcList::Delete(int index) {
  if (index < 0 || index >= Count()) cl::ListIndexError(index);
  procs_.erase(procs_.begin() + index);
}

// ---- THintController --------------------------------------------------------------------------

THintController::THintController(cl::TComponent* owner)
    : cl::THintWindow(owner), timer_(std::make_unique<cl::TTimer>(nullptr)) {
  SetColor(cl::clInfoBk);
  Font().SetColor(cl::clInfoText);
  timer_->SetEnabled(false);
  timer_->SetInterval(kHintPause);
  timer_->SetOnTimer([this](cl::TObject*) { Tick(); });
  cursor_ = [] { return cl::GetCursorPos(); };
}

THintController::~THintController() {
  timer_->SetEnabled(false);
  controls_.clear();
}

void THintController::Register(cl::TControl* control, THintProc proc) {
  if (control == nullptr || IsRegistered(control)) return;
  controls_.push_back(control);
  procs_.Add(std::move(proc));
}

void THintController::Unregister(cl::TControl* control) {
  if (control == watched_) Reset();
  const auto it = std::find(controls_.begin(), controls_.end(), control);
  if (it == controls_.end()) return;
  procs_.Delete(static_cast<int>(it - controls_.begin()));
  controls_.erase(it);
}

bool THintController::IsRegistered(const cl::TControl* control) const {
  return std::find(controls_.begin(), controls_.end(), control) != controls_.end();
}

void THintController::MouseMoved(cl::TControl* control) {
  if (control != watched_) Reset();
  if (watched_ == nullptr && IsRegistered(control)) {
    watched_ = control;
    state_ = hsWaiting;
    timer_->SetEnabled(true);
  }
}

void THintController::ControlReset(const cl::TControl* control) {
  if (control == watched_) Reset();
}

void THintController::MouseLeft(const cl::TControl* control) {
  if (control == watched_ && !CursorOver(control)) Reset();
}

bool THintController::CursorOver(const cl::TControl* control) const {
  const cl::TPoint p = control->ScreenToClient(cursor_());
  const cl::TRect r = control->ClientRect();
  return p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom;
}

void THintController::Reset() {
  timer_->SetEnabled(false);
  timer_->SetInterval(kHintPause);
  ticks_ = 0;
  if (state_ == hsShowing) ReleaseHandle();
  watched_ = nullptr;
  state_ = hsIdle;
}

void THintController::Tick() {
  if (watched_ == nullptr) return;
  if (state_ == hsShowing) {
    if (!CursorOver(watched_)) Reset();
    return;
  }
  // The first tick only starts the count: the mouse must rest two pauses.
  if (++ticks_ < 2) return;
  const auto it = std::find(controls_.begin(), controls_.end(), watched_);
  if (it == controls_.end()) {
    Reset();
    return;
  }
  if (!watched_->Showing()) {
    Reset();
    return;
  }
  const THintProc proc = procs_.Items(static_cast<int>(it - controls_.begin()));
  const cl::TPoint point = watched_->ScreenToClient(cursor_());
  bool shown = false;
  try {
    shown = proc && proc(watched_, point);
  } catch (...) {
    Reset();
    throw;
  }
  if (shown) {
    state_ = hsShowing;
  } else {
    Reset();
  }
}

int THintController::MeasureText(const std::string& text, const cl::TFont& font) {
  Canvas().Font().Assign(&font);
  return Canvas().TextWidth(text);
}

void THintController::ShowAt(const cl::TRect& rect, const std::string& text,
                             const cl::TFont& font) {
  Font().Assign(&font);
  Font().SetColor(cl::clInfoText);
  ActivateHint(rect, text);
}

void THintController::WndProc(cl::TMessage& message) {
  if (watched_ != nullptr && message.Msg >= cl::WM_MOUSEMOVE &&
      message.Msg <= cl::WM_MBUTTONDBLCLK) {
    const cl::TPoint p = watched_->ScreenToClient(ClientToScreen(cl::MousePoint(message)));
    const auto packed =
        (static_cast<uint32_t>(static_cast<uint16_t>(p.Y)) << 16) | static_cast<uint16_t>(p.X);
    watched_->Perform(message.Msg, message.WParam, static_cast<cl::LPARAM>(packed));
    return;
  }
  cl::THintWindow::WndProc(message);
}

void THintController::Paint() {
  cl::TCanvas& canvas = Canvas();
  cl::TRect rect = ClientRect();
  canvas.Brush().SetColor(cl::clInfoText);
  canvas.FrameRect(rect);
  rect = cl::Rect(rect.Left + 1, rect.Top + 1, rect.Right - 1, rect.Bottom - 1);
  canvas.Font().Assign(&Font());
  canvas.Brush().SetStyle(cl::bsClear);
  canvas.DrawText(Caption(), rect, cl::DT_LEFT | cl::DT_WORDBREAK | cl::DT_NOPREFIX);
}

THintController* HintController() { return g_controller; }

void RegisterHintControllerUnit() {
  cl::RegisterUnit(
      "HintController",
      [] {
        if (g_controller == nullptr) g_controller = new THintController(nullptr);
      },
      [] {
        delete g_controller;
        g_controller = nullptr;
      },
      400);
}

// ---- THDBEdit ---------------------------------------------------------------------------------

THDBEdit::THDBEdit(cl::TComponent* owner) : cl::TDBEdit(owner) {
  if (THintController* controller = HintController()) {
    controller->Register(this,
                         [this](cl::TControl*, cl::TPoint p) { return ShowTruncatedHint(p); });
  }
}

THDBEdit::~THDBEdit() {
  if (THintController* controller = HintController()) controller->Unregister(this);
}

void THDBEdit::WndProc(cl::TMessage& message) {
  RouteHintMessage(this, sp_hint_, message);
  cl::TDBEdit::WndProc(message);
}

bool THDBEdit::ShowTruncatedHint(cl::TPoint) {
  THintController* controller = HintController();
  if (controller == nullptr) return false;
  const bool framed = BorderStyle() == cl::bsSingle;
  std::string text = Text();
  bool show = controller->MeasureText(text, Font()) > Width() - (framed ? 4 : 0);
  if (on_show_hint_) {
    THintEvent handler = on_show_hint_;
    handler(this, show, text);
  }
  if (!show) return false;
  // Over the edit; without a frame the window's own border would push the text right, so it
  // starts two pixels further left and up.
  cl::TPoint at = ClientToScreen({0, 0});
  if (!framed) at = {at.X - 2, at.Y - 2};
  const int width = controller->MeasureText(text, Font()) + 5;
  controller->ShowAt(cl::Rect(at.X, at.Y, at.X + width, at.Y + Height()), text, Font());
  return true;
}

// ---- THDBGrid ---------------------------------------------------------------------------------

THDBGrid::THDBGrid(cl::TComponent* owner) : cl::TDBGrid(owner) {
  if (THintController* controller = HintController()) {
    controller->Register(this,
                         [this](cl::TControl*, cl::TPoint p) { return ShowTruncatedHint(p); });
  }
}

THDBGrid::~THDBGrid() {
  if (THintController* controller = HintController()) controller->Unregister(this);
}

void THDBGrid::WndProc(cl::TMessage& message) {
  THintController* controller = HintController();
  if (controller != nullptr && message.Msg == cl::WM_MOUSEMOVE &&
      controller->State() == THintController::hsShowing && controller->Watched() == this) {
    // Another cell hides the hint and waits again; the same cell keeps it.
    const cl::TPoint p = cl::MousePoint(message);
    const cl::TGridCoord cell = MouseCoord(p.X, p.Y);
    if (cell.X != hint_cell_.X || cell.Y != hint_cell_.Y) controller->Reset();
  }
  RouteHintMessage(this, sp_hint_, message);
  cl::TDBGrid::WndProc(message);
}

bool THDBGrid::ShowTruncatedHint(cl::TPoint point) {
  THintController* controller = HintController();
  if (controller == nullptr) return false;
  const cl::TGridCoord cell = MouseCoord(point.X, point.Y);
  const int data_col = cell.X - ColOffset();
  const int data_row = cell.Y - RowOffset();
  if (cell.X < 0 || cell.Y < 0 || data_col < 0 || data_row < 0) return false;
  cl::TDataLink& link = DataLink();
  if (!link.Active() || data_row >= link.RecordCount()) return false;
  cl::TColumn* column = Column(data_col);
  cl::TField* field = column != nullptr ? column->Field() : nullptr;
  if (field == nullptr) return false;
  const int saved = link.ActiveRecord();
  link.SetActiveRecord(data_row);
  std::string text;
  try {
    text = field->DisplayText();
  } catch (...) {
    link.SetActiveRecord(saved);
    throw;
  }
  link.SetActiveRecord(saved);

  const cl::TRect rect = CellRect(cell.X, cell.Y);
  bool show = controller->MeasureText(text, column->Font()) > rect.Width() - 2;
  if (on_show_hint_) {
    TGridHintEvent handler = on_show_hint_;
    handler(this, cell.X, cell.Y, show, text);
  }
  if (!show) return false;
  const cl::TPoint at = ClientToScreen({rect.Left, rect.Top});
  const int width = controller->MeasureText(text, column->Font()) + 5;
  controller->ShowAt(cl::Rect(at.X, at.Y, at.X + width, at.Y + rect.Height()), text,
                     column->Font());
  hint_cell_ = cell;
  return true;
}

void THDBGrid::SetAutoSizeLastColumn(bool on) {
  auto_size_last_column_ = on;
  SizeLastColumn();
}

void THDBGrid::Resize() {
  cl::TDBGrid::Resize();
  SizeLastColumn();
}

void THDBGrid::ColumnsChanged() {
  cl::TDBGrid::ColumnsChanged();
  SizeLastColumn();
}

void THDBGrid::SizeLastColumn() {
  if (!auto_size_last_column_ || sizing_) return;
  const int columns = ColumnCount();
  if (columns == 0 || ColCount() == 0) return;
  // Setting the width announces a column change, which lands here again.
  struct Guard {
    bool& flag;
    explicit Guard(bool& f) : flag(f) { flag = true; }
    ~Guard() { flag = false; }
  } guard(sizing_);
  int others = 0;
  for (int col = 0; col < ColCount() - 1; ++col) others += ColWidths(col);
  const int width = ClientRect().Width() - others - ColCount();
  if (width <= 0) return;
  // The default columns are made afresh on every layout (which lands here again): only the
  // declared ones keep a width.
  if (Columns().Count() > 0) {
    Column(columns - 1)->SetWidth(width);
  } else {
    SetColWidths(ColCount() - 1, width);
  }
}

}  // namespace comp
