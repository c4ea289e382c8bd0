// TCustomGrid: a grid of cells drawn by the program (the calendar, the data grid).
//
// Geometry: fixed columns and rows stay at the left and top; the others scroll, LeftCol and
// TopRow being the first shown.  Each column has its width (DefaultColWidth unless set), each
// row its height; GridLineWidth pixels of line follow every cell when the options draw lines.
// CellRect and MouseToCell convert between cells and client pixels; a cell not shown has an
// empty rectangle, a point outside every cell gives -1.
//
// The current cell (Col, Row) moves by click or by key (arrows, Home/End, PageUp/PageDown,
// with Ctrl for the first/last row); a move asks SelectCell (OnSelectCell) first, and a refused
// move leaves everything as it was.  Drawing goes cell by cell through DrawCell, whose state says
// whether the cell is fixed, selected or focused.
//
// With goColSizing a drag on a column's right line in the fixed rows changes its width.
//
// Scroll bars (ScrollBars) appear when the rows or columns do not fit; they and the mouse wheel
// move TopRow and LeftCol.  ClientRect leaves them out.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "classlib/forms/Controls.h"

namespace cl {

// goRangeSelect is accepted and selects nothing beyond the current cell, and there is no goTabs
// (Tab always leaves the grid): no grid of the program selects a range of cells or moves between
// cells with Tab.
enum TGridOption {
  goFixedVertLine,
  goFixedHorzLine,
  goVertLine,
  goHorzLine,
  goRangeSelect,
  goDrawFocusSelected,
  goRowSelect,
  goColSizing,
  goThumbTracking
};
using TGridOptions = TSet<TGridOption>;
enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TGridDrawStateFlag { gdSelected, gdFocused, gdFixed };
using TGridDrawState = TSet<TGridDrawStateFlag>;

struct TGridRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  bool operator==(const TGridRect&) const = default;
};

using TSelectCellEvent = std::function<void(TObject* sender, int col, int row, bool& can_select)>;
using TDrawCellEvent =
    std::function<void(TObject* sender, int col, int row, TRect rect, TGridDrawState state)>;

struct TGridScrollBars;

class TCustomGrid : public TCustomControl {
 public:
  explicit TCustomGrid(TComponent* owner);
  ~TCustomGrid() override;

  int ColCount() const { return static_cast<int>(col_widths_.size()); }
  void SetColCount(int count);
  int RowCount() const { return static_cast<int>(row_heights_.size()); }
  void SetRowCount(int count);
  int FixedCols() const { return fixed_cols_; }
  void SetFixedCols(int count);
  int FixedRows() const { return fixed_rows_; }
  void SetFixedRows(int count);
  int DefaultColWidth() const { return default_col_width_; }
  // Sets every column to this width.
  void SetDefaultColWidth(int width);
  int DefaultRowHeight() const { return default_row_height_; }
  void SetDefaultRowHeight(int height);
  int ColWidths(int col) const;
  void SetColWidths(int col, int width);
  int RowHeights(int row) const;
  void SetRowHeights(int row, int height);
  int GridLineWidth() const { return grid_line_width_; }
  void SetGridLineWidth(int width);
  TGridOptions Options() const { return options_; }
  void SetOptions(TGridOptions options);
  TScrollStyle ScrollBars() const { return scroll_bars_; }
  void SetScrollBars(TScrollStyle style);
  bool BorderStyle() const { return border_; }
  void SetBorderStyle(bool border);

  int Col() const { return col_; }
  void SetCol(int col) { FocusCell(col, row_); }
  int Row() const { return row_; }
  void SetRow(int row) { FocusCell(col_, row); }
  int LeftCol() const { return left_col_; }
  void SetLeftCol(int col);
  int TopRow() const { return top_row_; }
  void SetTopRow(int row);
  TGridRect Selection() const;

  TRect ClientRect() const override;
  TRect CellRect(int col, int row) const;
  void MouseToCell(int x, int y, int& col, int& row) const;
  void InvalidateCell(int col, int row);

  const TSelectCellEvent& OnSelectCell() const { return on_select_cell_; }
  void SetOnSelectCell(TSelectCellEvent handler) { on_select_cell_ = std::move(handler); }
  const TDrawCellEvent& OnDrawCell() const { return on_draw_cell_; }
  void SetOnDrawCell(TDrawCellEvent handler) { on_draw_cell_ = std::move(handler); }

 protected:
  virtual void DrawCell(int col, int row, TRect rect, TGridDrawState state);
  virtual bool SelectCell(int col, int row);
  // Moves the current cell when SelectCell agrees, keeping it in view.
  void FocusCell(int col, int row);
  void KeyDown(uint16_t& key, TShiftState shift) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  void Paint() override;
  void Resize() override;

 private:
  void UpdateScrollBars();
  // The column whose right line lies under x (within 2 pixels), or -1.
  int SizingColumnAt(int x) const;
  // The client x of a column's left edge, or -1 when it is not shown.
  int ColumnX(int col) const;
  int RowY(int row) const;
  int VisibleRowCount() const;
  void Changed();

  std::vector<int> col_widths_;
  std::vector<int> row_heights_;
  int fixed_cols_ = 1;
  int fixed_rows_ = 1;
  int default_col_width_ = 64;
  int default_row_height_ = 24;
  int grid_line_width_ = 1;
  TGridOptions options_{goFixedVertLine, goFixedHorzLine, goVertLine, goHorzLine, goRangeSelect};
  TScrollStyle scroll_bars_ = ssBoth;
  bool border_ = true;
  int col_ = 1;
  int row_ = 1;
  int left_col_ = 1;
  int top_row_ = 1;
  TSelectCellEvent on_select_cell_;
  TDrawCellEvent on_draw_cell_;
  std::unique_ptr<TGridScrollBars> bars_;
  int sizing_col_ = -1;
};

}  // namespace cl
