// TDBGrid: a browse-only grid of a dataset's records, with its columns (TColumn).
//
// Rows come from the dataset's buffer window, never from walking the cursor: the grid's data
// link asks for as many buffers as whole rows fit (BufferCount), and painting row i sets the
// link's ActiveRecord to i for a moment, which fires no event.  Row 0 is the title row (with
// dgTitles), column 0 the indicator (with dgIndicator); RowOffset and ColOffset give them.
//
// The vertical scroll bar shows the record number when the dataset is sequenced, else three
// positions (top, middle, bottom); the wheel moves by records.  The dataset moves with the keys (Up/Down, PgUp/PgDn by the visible rows, Ctrl+Home/Ctrl+End,
// Ctrl+Del deletes after "Supprimer l'enregistrement ?" with dgConfirmDelete) and a click on a
// row.  Leaving the grid with dgCancelOnExit cancels an inserted record only while it is
// unmodified: nothing typed is dropped.  There is no in-place editor (dgEditing is ignored):
// the programs edit beside the grid.
//
// Columns: the declared ones, else one per visible field (rebuilt when the dataset's layout
// changes).  Ownership: the grid owns its columns and its link; the data source is not owned.
// Threads: GUI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "classlib/db/TDataLink.h"
#include "classlib/db/TDataSource.h"
#include "classlib/forms/Grids.h"
#include "classlib/rtl/TCollection.h"

namespace cl {

class TDBGrid;

struct TColumnTitle {
  std::string Caption;  // empty: the field's DisplayLabel
  TFont Font;
};

class TColumn : public TCollectionItem {
 public:
  explicit TColumn(TCollection* collection);

  const std::string& FieldName() const { return field_name_; }
  void SetFieldName(const std::string& name);
  // The grid dataset's field of that name, or nullptr.
  TField* Field() const;
  TColumnTitle& Title() { return title_; }
  std::string TitleCaption() const;
  TColor Color() const { return color_; }
  void SetColor(TColor color);
  // 0: the field's DisplayWidth in average characters.
  int Width() const;
  void SetWidth(int width);
  TAlignment Alignment() const;
  void SetAlignment(TAlignment alignment);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  TFont& Font() { return font_; }

 private:
  TDBGrid* Grid() const;
  void Changed();

  std::string field_name_;
  TColumnTitle title_;
  TColor color_ = clWindow;
  int width_ = 0;
  TAlignment alignment_ = taLeftJustify;
  bool alignment_set_ = false;
  bool visible_ = true;
  TFont font_;
};

class TDBGridColumns : public TCollection {
 public:
  explicit TDBGridColumns(TDBGrid* grid);
  TColumn* Items(int index) const { return static_cast<TColumn*>(TCollection::Items(index)); }
  TColumn* Add() { return static_cast<TColumn*>(TCollection::Add()); }
  TDBGrid* Grid() const { return grid_; }

 protected:
  void Update(TCollectionItem* item) override;

 private:
  TDBGrid* grid_;
};

enum TDBGridOption {
  dgEditing,
  dgTitles,
  dgIndicator,
  dgColumnResize,
  dgColLines,
  dgRowLines,
  dgTabs,
  dgRowSelect,
  dgAlwaysShowSelection,
  dgConfirmDelete,
  dgCancelOnExit
};
using TDBGridOptions = TSet<TDBGridOption>;

struct TGridCoord {
  int X = -1;
  int Y = -1;
};

using TDrawColumnCellEvent = std::function<void(TObject* sender, const TRect& rect, int data_col,
                                                TColumn* column, TGridDrawState state)>;

class TGridDataLink : public TDataLink {
 public:
  explicit TGridDataLink(TDBGrid* grid) : grid_(grid) {}

 protected:
  void ActiveChanged() override;
  void DataSetChanged() override;
  void DataSetScrolled(int distance) override;
  void LayoutChanged() override;
  void EditingChanged() override;
  void RecordChanged(TField* field) override;

 private:
  TDBGrid* grid_;
};

class TDBGrid : public TCustomGrid {
 public:
  explicit TDBGrid(TComponent* owner);
  ~TDBGrid() override;

  TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(TDataSource* source);
  TDBGridColumns& Columns() { return *columns_; }
  // The columns shown: the declared ones, else the default ones.
  int ColumnCount() const;
  TColumn* Column(int index) const;
  TDBGridOptions Options() const { return options_; }
  void SetOptions(TDBGridOptions options);
  TFont& TitleFont() { return title_font_; }
  bool DefaultDrawing() const { return default_drawing_; }
  void SetDefaultDrawing(bool value) { default_drawing_ = value; }
  TDataLink& DataLink() { return link_; }
  TRect ClientRect() const override;
  // Whole data rows that fit.
  int VisibleRows() const;
  // The title row and indicator column, when shown (the first data row and column).
  int RowOffset() const { return options_.Contains(dgTitles) ? 1 : 0; }
  int ColOffset() const { return options_.Contains(dgIndicator) ? 1 : 0; }
  // The field of the current column, or nullptr.
  TField* SelectedField() const;
  TGridCoord MouseCoord(int x, int y) const;
  // Draws a cell's text as the grid does (the column's font, colour and alignment).
  void DefaultDrawColumnCell(const TRect& rect, int data_col, TColumn* column,
                             TGridDrawState state);

  const TDrawColumnCellEvent& OnDrawColumnCell() const { return on_draw_column_cell_; }
  void SetOnDrawColumnCell(TDrawColumnCellEvent handler) {
    on_draw_column_cell_ = std::move(handler);
  }
  // After the columns changed (count or widths).
  const TNotifyEvent& OnColumnsChanged() const { return on_columns_changed_; }
  void SetOnColumnsChanged(TNotifyEvent handler) { on_columns_changed_ = std::move(handler); }

 protected:
  void DrawCell(int col, int row, TRect rect, TGridDrawState state) override;
  bool SelectCell(int col, int row) override;
  void KeyDown(uint16_t& key, TShiftState shift) override;
  void DoExit() override;
  void Resize() override;
  void Notification(TComponent* component, TOperation operation) override;
  virtual void ColumnsChanged();

 private:
  friend class TGridDataLink;
  friend class TDBGridColumns;
  friend class TColumn;
  void LayoutColumns();
  void LayoutCells();
  void UpdateRows();
  void DrawTitle(int data_col, const TRect& rect);
  void DrawIndicator(int data_row, const TRect& rect);
  // The vertical bar: the record number of a sequenced dataset, else top, middle or bottom.
  void UpdateScrollBar();
  void ScrollBarAction(int action);

  TGridDataLink link_{this};
  std::unique_ptr<TDBGridColumns> columns_;
  std::unique_ptr<TDBGridColumns> default_columns_;
  void* scroll_bar_ = nullptr;  // the toolkit's bar, a child of the peer
  TDBGridOptions options_{dgTitles,   dgIndicator, dgColumnResize,  dgColLines,
                          dgRowLines, dgTabs,      dgConfirmDelete, dgCancelOnExit};
  TFont title_font_;
  bool default_drawing_ = true;
  bool syncing_ = false;
  bool laying_out_ = false;
  TDrawColumnCellEvent on_draw_column_cell_;
  TNotifyEvent on_columns_changed_;
};

}  // namespace cl
