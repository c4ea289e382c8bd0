#include "classlib/forms/Grids.h"

#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>
#include <QWidget>
#include <algorithm>
#include <cstdlib>

#include "classlib/forms/ControlImpl.h"

namespace cl {

struct TGridScrollBars {
  QScrollBar* vertical = nullptr;
  QScrollBar* horizontal = nullptr;
  bool updating = false;
};

TCustomGrid::TCustomGrid(TComponent* owner)
    : TCustomControl(owner), bars_(std::make_unique<TGridScrollBars>()) {
  col_widths_.assign(5, default_col_width_);
  row_heights_.assign(5, default_row_height_);
  QWidget* widget = WidgetOf(this);
  bars_->vertical = new QScrollBar(Qt::Vertical, widget);
  bars_->horizontal = new QScrollBar(Qt::Horizontal, widget);
  bars_->vertical->hide();
  bars_->horizontal->hide();
  QObject::connect(bars_->vertical, &QScrollBar::valueChanged, widget, [this](int value) {
    if (!bars_->updating) CallGuarded(this, [this, value] { SetTopRow(value); });
  });
  QObject::connect(bars_->horizontal, &QScrollBar::valueChanged, widget, [this](int value) {
    if (!bars_->updating) CallGuarded(this, [this, value] { SetLeftCol(value); });
  });
  impl_->extra_events = [this](QEvent* event) {
    if (event->type() != QEvent::Wheel) return false;
    const int steps = static_cast<QWheelEvent*>(event)->angleDelta().y() / 120;
    SetTopRow(top_row_ - 3 * steps);
    return true;
  };
  SetColor(clWindow);
  SetTabStop(true);
  SetBounds(0, 0, 320, 120);
}

TCustomGrid::~TCustomGrid() { DetachEvents(this); }

void TCustomGrid::SetScrollBars(TScrollStyle style) {
  scroll_bars_ = style;
  UpdateScrollBars();
}

void TCustomGrid::Resize() {
  UpdateScrollBars();
  TCustomControl::Resize();
}

TRect TCustomGrid::ClientRect() const {
  TRect rect = TCustomControl::ClientRect();
  if (bars_ != nullptr && bars_->vertical->isVisibleTo(WidgetOf(this))) {
    rect.Right -= bars_->vertical->sizeHint().width();
  }
  if (bars_ != nullptr && bars_->horizontal->isVisibleTo(WidgetOf(this))) {
    rect.Bottom -= bars_->horizontal->sizeHint().height();
  }
  return rect;
}

void TCustomGrid::UpdateScrollBars() {
  if (bars_ == nullptr) return;
  bars_->updating = true;
  const bool vertical = scroll_bars_ == ssVertical || scroll_bars_ == ssBoth;
  const bool horizontal = scroll_bars_ == ssHorizontal || scroll_bars_ == ssBoth;
  int rows_height = 0;
  for (int r = 0; r < RowCount(); ++r) rows_height += RowHeights(r) + grid_line_width_;
  int cols_width = 0;
  for (int c = 0; c < ColCount(); ++c) cols_width += ColWidths(c) + grid_line_width_;
  const int thickness = bars_->vertical->sizeHint().width();
  const bool show_v = vertical && rows_height > Height();
  const bool show_h = horizontal && cols_width > Width() - (show_v ? thickness : 0);
  const int bar_h = bars_->horizontal->sizeHint().height();
  bars_->vertical->setVisible(show_v);
  bars_->horizontal->setVisible(show_h);
  bars_->vertical->setGeometry(Width() - thickness, 0, thickness, Height() - (show_h ? bar_h : 0));
  bars_->horizontal->setGeometry(0, Height() - bar_h, Width() - (show_v ? thickness : 0), bar_h);
  bars_->vertical->setRange(fixed_rows_, std::max(fixed_rows_, RowCount() - 1));
  bars_->vertical->setValue(top_row_);
  bars_->horizontal->setRange(fixed_cols_, std::max(fixed_cols_, ColCount() - 1));
  bars_->horizontal->setValue(left_col_);
  bars_->updating = false;
}

void TCustomGrid::SetLeftCol(int col) {
  left_col_ = std::clamp(col, fixed_cols_, std::max(fixed_cols_, ColCount() - 1));
  UpdateScrollBars();
  Invalidate();
}

void TCustomGrid::Changed() {
  col_ = std::clamp(col_, std::min(fixed_cols_, ColCount() - 1), std::max(ColCount() - 1, 0));
  row_ = std::clamp(row_, std::min(fixed_rows_, RowCount() - 1), std::max(RowCount() - 1, 0));
  left_col_ = std::clamp(left_col_, fixed_cols_, std::max(fixed_cols_, ColCount() - 1));
  top_row_ = std::clamp(top_row_, fixed_rows_, std::max(fixed_rows_, RowCount() - 1));
  UpdateScrollBars();
  Invalidate();
}

void TCustomGrid::SetColCount(int count) {
  col_widths_.resize(static_cast<size_t>(std::max(count, 1)), default_col_width_);
  fixed_cols_ = std::min(fixed_cols_, ColCount() - 1);
  Changed();
}

void TCustomGrid::SetRowCount(int count) {
  row_heights_.resize(static_cast<size_t>(std::max(count, 1)), default_row_height_);
  fixed_rows_ = std::min(fixed_rows_, RowCount() - 1);
  Changed();
}

void TCustomGrid::SetFixedCols(int count) {
  fixed_cols_ = std::clamp(count, 0, ColCount() - 1);
  left_col_ = fixed_cols_;
  col_ = std::max(col_, fixed_cols_);
  Changed();
}

void TCustomGrid::SetFixedRows(int count) {
  fixed_rows_ = std::clamp(count, 0, RowCount() - 1);
  top_row_ = fixed_rows_;
  row_ = std::max(row_, fixed_rows_);
  Changed();
}

void TCustomGrid::SetDefaultColWidth(int width) {
  default_col_width_ = width;
  std::fill(col_widths_.begin(), col_widths_.end(), width);
  Changed();
}

void TCustomGrid::SetDefaultRowHeight(int height) {
  default_row_height_ = height;
  std::fill(row_heights_.begin(), row_heights_.end(), height);
  Changed();
}

int TCustomGrid::ColWidths(int col) const {
  return col >= 0 && col < ColCount() ? col_widths_[static_cast<size_t>(col)] : 0;
}

void TCustomGrid::SetColWidths(int col, int width) {
  if (col < 0 || col >= ColCount()) return;
  col_widths_[static_cast<size_t>(col)] = std::max(width, 0);
  Invalidate();
}

int TCustomGrid::RowHeights(int row) const {
  return row >= 0 && row < RowCount() ? row_heights_[static_cast<size_t>(row)] : 0;
}

void TCustomGrid::SetRowHeights(int row, int height) {
  if (row < 0 || row >= RowCount()) return;
  row_heights_[static_cast<size_t>(row)] = std::max(height, 0);
  Invalidate();
}

void TCustomGrid::SetGridLineWidth(int width) {
  grid_line_width_ = std::max(width, 0);
  Invalidate();
}

void TCustomGrid::SetOptions(TGridOptions options) {
  options_ = options;
  Invalidate();
}

void TCustomGrid::SetBorderStyle(bool border) {
  border_ = border;
  Invalidate();
}

void TCustomGrid::SetTopRow(int row) {
  top_row_ = std::clamp(row, fixed_rows_, std::max(fixed_rows_, RowCount() - 1));
  UpdateScrollBars();
  Invalidate();
}

TGridRect TCustomGrid::Selection() const {
  if (options_.Contains(goRowSelect)) return {fixed_cols_, row_, ColCount() - 1, row_};
  return {col_, row_, col_, row_};
}

int TCustomGrid::ColumnX(int col) const {
  if (col < 0 || col >= ColCount() || (col >= fixed_cols_ && col < left_col_)) return -1;
  const int line = options_.Contains(goVertLine) ? grid_line_width_ : 0;
  int x = 0;
  for (int c = 0; c < fixed_cols_ && c < col; ++c) x += ColWidths(c) + line;
  if (col >= fixed_cols_) {
    for (int c = left_col_; c < col; ++c) x += ColWidths(c) + line;
  }
  return x;
}

int TCustomGrid::RowY(int row) const {
  if (row < 0 || row >= RowCount() || (row >= fixed_rows_ && row < top_row_)) return -1;
  const int line = options_.Contains(goHorzLine) ? grid_line_width_ : 0;
  int y = 0;
  for (int r = 0; r < fixed_rows_ && r < row; ++r) y += RowHeights(r) + line;
  if (row >= fixed_rows_) {
    for (int r = top_row_; r < row; ++r) y += RowHeights(r) + line;
  }
  return y;
}

TRect TCustomGrid::CellRect(int col, int row) const {
  const int x = ColumnX(col);
  const int y = RowY(row);
  const TRect client = ClientRect();
  if (x < 0 || y < 0 || x >= client.Right || y >= client.Bottom) return TRect();
  return Rect(x, y, std::min(x + ColWidths(col), client.Right),
              std::min(y + RowHeights(row), client.Bottom));
}

void TCustomGrid::MouseToCell(int x, int y, int& col, int& row) const {
  col = -1;
  row = -1;
  for (int c = 0; c < ColCount(); ++c) {
    const int left = ColumnX(c);
    if (left >= 0 && x >= left && x < left + ColWidths(c)) col = c;
  }
  for (int r = 0; r < RowCount(); ++r) {
    const int top = RowY(r);
    if (top >= 0 && y >= top && y < top + RowHeights(r)) row = r;
  }
  if (col < 0 || row < 0) col = row = -1;
}

void TCustomGrid::InvalidateCell(int, int) { Invalidate(); }

int TCustomGrid::VisibleRowCount() const {
  int count = 0;
  for (int r = top_row_; r < RowCount(); ++r) {
    const TRect rect = CellRect(0, r);
    if (rect.Height() <= 0 || rect.Bottom > ClientRect().Bottom) break;
    ++count;
  }
  return std::max(count, 1);
}

bool TCustomGrid::SelectCell(int col, int row) {
  bool can_select = true;
  if (on_select_cell_) {
    TSelectCellEvent handler = on_select_cell_;
    handler(this, col, row, can_select);
  }
  return can_select;
}

void TCustomGrid::FocusCell(int col, int row) {
  col = std::clamp(col, fixed_cols_, ColCount() - 1);
  row = std::clamp(row, fixed_rows_, RowCount() - 1);
  if (col == col_ && row == row_) return;
  if (!SelectCell(col, row)) return;
  col_ = col;
  row_ = row;
  // Keep the current cell in view.
  if (row_ < top_row_) top_row_ = row_;
  while (row_ >= top_row_ + VisibleRowCount() && top_row_ < RowCount() - 1) ++top_row_;
  if (col_ < left_col_) left_col_ = col_;
  while (CellRect(col_, fixed_rows_).Width() < ColWidths(col_) && left_col_ < col_) ++left_col_;
  UpdateScrollBars();
  Invalidate();
}

void TCustomGrid::KeyDown(uint16_t& key, TShiftState shift) {
  TCustomControl::KeyDown(key, shift);
  const bool ctrl = shift.Contains(ssCtrl);
  const int page = VisibleRowCount();
  switch (key) {
    case VK_UP:
      FocusCell(col_, row_ - 1);
      break;
    case VK_DOWN:
      FocusCell(col_, row_ + 1);
      break;
    case VK_LEFT:
      FocusCell(col_ - 1, row_);
      break;
    case VK_RIGHT:
      FocusCell(col_ + 1, row_);
      break;
    case VK_PRIOR:
      FocusCell(col_, ctrl ? fixed_rows_ : row_ - page);
      break;
    case VK_NEXT:
      FocusCell(col_, ctrl ? RowCount() - 1 : row_ + page);
      break;
    case VK_HOME:
      FocusCell(ctrl ? col_ : fixed_cols_, ctrl ? fixed_rows_ : row_);
      break;
    case VK_END:
      FocusCell(ctrl ? col_ : ColCount() - 1, ctrl ? RowCount() - 1 : row_);
      break;
    default:
      return;
  }
  key = 0;  // the grid moved: the key goes no further
}

int TCustomGrid::SizingColumnAt(int x) const {
  for (int c = 0; c < ColCount(); ++c) {
    const int left = ColumnX(c);
    if (left >= 0 && std::abs(x - (left + ColWidths(c))) <= 2) return c;
  }
  return -1;
}

void TCustomGrid::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (button == mbLeft && options_.Contains(goColSizing) && fixed_rows_ > 0 &&
      y < RowY(fixed_rows_ - 1) + RowHeights(fixed_rows_ - 1)) {
    sizing_col_ = SizingColumnAt(x);
    if (sizing_col_ >= 0) {
      TCustomControl::MouseDown(button, shift, x, y);
      return;
    }
  }
  if (button == mbLeft && CanFocus()) SetFocus();
  int col = 0;
  int row = 0;
  MouseToCell(x, y, col, row);
  if (button == mbLeft && col >= fixed_cols_ && row >= fixed_rows_) FocusCell(col, row);
  TCustomControl::MouseDown(button, shift, x, y);
}

void TCustomGrid::MouseMove(TShiftState shift, int x, int y) {
  if (sizing_col_ >= 0) SetColWidths(sizing_col_, std::max(x - ColumnX(sizing_col_), 1));
  TCustomControl::MouseMove(shift, x, y);
}

void TCustomGrid::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (sizing_col_ >= 0) {
    sizing_col_ = -1;
    UpdateScrollBars();
  }
  TCustomControl::MouseUp(button, shift, x, y);
}

void TCustomGrid::DrawCell(int col, int row, TRect rect, TGridDrawState state) {
  if (on_draw_cell_) {
    TDrawCellEvent handler = on_draw_cell_;
    handler(this, col, row, rect, state);
  }
}

void TCustomGrid::Paint() {
  TCanvas& canvas = Canvas();
  const TGridRect selection = Selection();
  const int vline = options_.Contains(goVertLine) ? grid_line_width_ : 0;
  const int hline = options_.Contains(goHorzLine) ? grid_line_width_ : 0;
  for (int row = 0; row < RowCount(); ++row) {
    for (int col = 0; col < ColCount(); ++col) {
      const TRect rect = CellRect(col, row);
      if (rect.Width() <= 0 || rect.Height() <= 0) continue;
      TGridDrawState state;
      const bool fixed = col < fixed_cols_ || row < fixed_rows_;
      if (fixed) state.Include(gdFixed);
      const bool selected = !fixed && col >= selection.Left && col <= selection.Right &&
                            row >= selection.Top && row <= selection.Bottom;
      const bool focused = col == col_ && row == row_ && Focused();
      if (selected && (!focused || options_.Contains(goDrawFocusSelected))) {
        state.Include(gdSelected);
      }
      if (focused) state.Include(gdFocused);
      canvas.Brush().SetStyle(bsSolid);
      canvas.Brush().SetColor(fixed                        ? clBtnFace
                              : state.Contains(gdSelected) ? clHighlight
                                                           : Color());
      canvas.Font().SetColor(state.Contains(gdSelected) ? clHighlightText : Font().Color());
      canvas.FillRect(rect);
      DrawCell(col, row, rect, state);
      canvas.Brush().SetStyle(bsSolid);
      canvas.Brush().SetColor(clBtnShadow);
      if (vline > 0)
        canvas.FillRect(Rect(rect.Right, rect.Top, rect.Right + vline, rect.Bottom + hline));
      if (hline > 0)
        canvas.FillRect(Rect(rect.Left, rect.Bottom, rect.Right + vline, rect.Bottom + hline));
    }
  }
  if (border_) {
    canvas.Brush().SetColor(clWindowFrame);
    canvas.FrameRect(ClientRect());
  }
}

}  // namespace cl
