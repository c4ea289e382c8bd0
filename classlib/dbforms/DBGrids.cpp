#include "classlib/dbforms/DBGrids.h"

#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>
#include <QWidget>
#include <algorithm>

#include "classlib/db/TDataSet.h"
#include "classlib/db/TField.h"
#include "classlib/forms/ControlImpl.h"
#include "classlib/forms/Dialogs.h"

namespace cl {

// ---- TColumn ----------------------------------------------------------------------------------

TColumn::TColumn(TCollection* collection) : TCollectionItem(collection) {}

TDBGrid* TColumn::Grid() const {
  auto* columns = dynamic_cast<TDBGridColumns*>(Collection());
  return columns ? columns->Grid() : nullptr;
}

void TColumn::Changed() {
  if (Collection() != nullptr && Collection()->UpdateCount() == 0) {
    if (TDBGrid* grid = Grid()) grid->LayoutColumns();
  }
}

void TColumn::SetFieldName(const std::string& name) {
  field_name_ = name;
  Changed();
}

TField* TColumn::Field() const {
  TDBGrid* grid = Grid();
  if (grid == nullptr || !grid->link_.Active() || field_name_.empty()) return nullptr;
  return grid->link_.DataSet()->FindField(field_name_);
}

std::string TColumn::TitleCaption() const {
  if (!title_.Caption.empty()) return title_.Caption;
  TField* field = Field();
  return field ? field->DisplayLabel() : field_name_;
}

void TColumn::SetColor(TColor color) {
  color_ = color;
  Changed();
}

int TColumn::Width() const {
  if (width_ > 0) return width_;
  TField* field = Field();
  TDBGrid* grid = Grid();
  if (field == nullptr || grid == nullptr) return 64;
  TCanvas& canvas = grid->Canvas();
  canvas.Font().Assign(&grid->Font());
  const int average = std::max(canvas.TextMetrics().tmAveCharWidth, 1);
  return field->DisplayWidth() * average + 4;
}

void TColumn::SetWidth(int width) {
  width_ = width;
  Changed();
}

TAlignment TColumn::Alignment() const {
  if (alignment_set_) return alignment_;
  TField* field = Field();
  return field ? field->Alignment() : taLeftJustify;
}

void TColumn::SetAlignment(TAlignment alignment) {
  alignment_ = alignment;
  alignment_set_ = true;
  Changed();
}

void TColumn::SetVisible(bool visible) {
  visible_ = visible;
  Changed();
}

TDBGridColumns::TDBGridColumns(TDBGrid* grid)
    : TCollection(TCollection::ItemsOf<TColumn>()), grid_(grid) {}

void TDBGridColumns::Update(TCollectionItem*) { grid_->LayoutColumns(); }

// ---- TGridDataLink ----------------------------------------------------------------------------

void TGridDataLink::ActiveChanged() { grid_->LayoutColumns(); }
void TGridDataLink::LayoutChanged() { grid_->LayoutColumns(); }
void TGridDataLink::DataSetChanged() { grid_->UpdateRows(); }
void TGridDataLink::DataSetScrolled(int) { grid_->UpdateRows(); }
void TGridDataLink::EditingChanged() { grid_->Invalidate(); }
void TGridDataLink::RecordChanged(TField*) { grid_->Invalidate(); }

// ---- TDBGrid ----------------------------------------------------------------------------------

TDBGrid::TDBGrid(TComponent* owner)
    : TCustomGrid(owner),
      columns_(std::make_unique<TDBGridColumns>(this)),
      default_columns_(std::make_unique<TDBGridColumns>(this)) {
  SetColor(clWindow);
  SetDefaultRowHeight(18);
  SetTabStop(true);
  SetScrollBars(ssNone);
  auto* bar = new QScrollBar(Qt::Vertical, WidgetOf(this));
  bar->setObjectName("records");
  bar->hide();
  scroll_bar_ = bar;
  QObject::connect(bar, &QScrollBar::actionTriggered, bar, [this](int action) {
    CallGuarded(this, [this, action] { ScrollBarAction(action); });
  });
  QObject::connect(bar, &QScrollBar::sliderReleased, bar, [this] {
    CallGuarded(this, [this] { ScrollBarAction(QAbstractSlider::SliderMove); });
  });
  // The wheel moves the dataset, three records a notch.
  impl_->extra_events = [this](QEvent* event) {
    if (event->type() != QEvent::Wheel || !link_.Active()) return false;
    const int steps = static_cast<QWheelEvent*>(event)->angleDelta().y() / 120;
    link_.DataSet()->MoveBy(-3 * steps);
    return true;
  };
  SetOptions(options_);
}

TDBGrid::~TDBGrid() {
  link_.SetDataSource(nullptr);
  default_columns_.reset();
  columns_.reset();
}

void TDBGrid::SetDataSource(TDataSource* source) {
  if (TDataSource* old = link_.DataSource()) old->RemoveFreeNotification(this);
  link_.SetDataSource(source);
  if (source != nullptr) source->FreeNotification(this);
  LayoutColumns();
}

void TDBGrid::Notification(TComponent* component, TOperation operation) {
  TCustomGrid::Notification(component, operation);
  if (operation == opRemove && link_.DataSource() == component) SetDataSource(nullptr);
}

void TDBGrid::SetOptions(TDBGridOptions options) {
  options_ = options;
  TGridOptions grid{goFixedVertLine, goFixedHorzLine};
  if (options.Contains(dgColLines)) grid.Include(goVertLine);
  if (options.Contains(dgRowLines)) grid.Include(goHorzLine);
  if (options.Contains(dgColumnResize)) grid.Include(goColSizing);
  if (options.Contains(dgRowSelect)) grid.Include(goRowSelect);
  TCustomGrid::SetOptions(grid);
  LayoutColumns();
}

int TDBGrid::ColumnCount() const {
  const TDBGridColumns& columns = columns_->Count() > 0 ? *columns_ : *default_columns_;
  int count = 0;
  for (int i = 0; i < columns.Count(); ++i) count += columns.Items(i)->Visible() ? 1 : 0;
  return count;
}

TColumn* TDBGrid::Column(int index) const {
  const TDBGridColumns& columns = columns_->Count() > 0 ? *columns_ : *default_columns_;
  for (int i = 0; i < columns.Count(); ++i) {
    if (!columns.Items(i)->Visible()) continue;
    if (index-- == 0) return columns.Items(i);
  }
  return nullptr;
}

int TDBGrid::VisibleRows() const {
  const int line = GridLineWidth();
  const int row = DefaultRowHeight() + line;
  const int free = ClientRect().Height() - RowOffset() * row;
  return std::max(free / row, 1);
}

void TDBGrid::LayoutColumns() {
  if (default_columns_ == nullptr || laying_out_) return;  // being destroyed, or here already
  laying_out_ = true;
  try {
    default_columns_->BeginUpdate();
    default_columns_->Clear();
    if (columns_->Count() == 0 && link_.Active()) {
      for (TField* field : link_.DataSet()->FieldList()) {
        if (field->Visible()) default_columns_->Add()->SetFieldName(field->FieldName());
      }
    }
    default_columns_->EndUpdate();
    LayoutCells();
  } catch (...) {
    laying_out_ = false;
    throw;
  }
  laying_out_ = false;
  ColumnsChanged();
}

void TDBGrid::LayoutCells() {
  const int count = ColumnCount();
  SetColCount(ColOffset() + std::max(count, 1));
  SetFixedCols(ColOffset());
  if (ColOffset() > 0) SetColWidths(0, 11);
  for (int i = 0; i < count; ++i) SetColWidths(ColOffset() + i, Column(i)->Width());
  UpdateRows();
}

void TDBGrid::ColumnsChanged() {
  if (on_columns_changed_) {
    TNotifyEvent handler = on_columns_changed_;
    handler(this);
  }
}

void TDBGrid::UpdateRows() {
  const int rows = VisibleRows();
  link_.SetBufferCount(rows);
  if (RowCount() != RowOffset() + rows) SetRowCount(RowOffset() + rows);
  SetFixedRows(RowOffset());
  if (link_.Active()) {
    syncing_ = true;
    SetRow(RowOffset() + std::max(link_.ActiveRecord(), 0));
    syncing_ = false;
  }
  UpdateScrollBar();
  Invalidate();
}

void TDBGrid::Resize() {
  TCustomGrid::Resize();
  UpdateRows();
}

TRect TDBGrid::ClientRect() const {
  TRect rect = TCustomGrid::ClientRect();
  auto* bar = static_cast<QScrollBar*>(scroll_bar_);
  if (bar != nullptr && bar->isVisibleTo(WidgetOf(this))) rect.Right -= bar->sizeHint().width();
  return rect;
}

void TDBGrid::UpdateScrollBar() {
  auto* bar = static_cast<QScrollBar*>(scroll_bar_);
  if (bar == nullptr) return;
  const QSignalBlocker blocker(bar);
  if (!link_.Active() || link_.DataSet()->IsEmpty()) {
    bar->hide();
    return;
  }
  TDataSet* dataset = link_.DataSet();
  if (dataset->IsSequenced()) {
    bar->setRange(0, std::max(dataset->RecordCount() - 1, 0));
    bar->setPageStep(VisibleRows());
    bar->setValue(std::max(dataset->RecNo() - 1, 0));
  } else {
    bar->setRange(0, 2);
    bar->setPageStep(1);
    bar->setValue(dataset->Bof() ? 0 : dataset->Eof() ? 2 : 1);
  }
  const int width = bar->sizeHint().width();
  const TRect client = TCustomGrid::ClientRect();
  bar->setGeometry(client.Right - width, 0, width, client.Height());
  bar->show();
}

void TDBGrid::ScrollBarAction(int action) {
  if (!link_.Active()) return;
  TDataSet* dataset = link_.DataSet();
  auto* bar = static_cast<QScrollBar*>(scroll_bar_);
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
      dataset->MoveBy(1);
      break;
    case QAbstractSlider::SliderSingleStepSub:
      dataset->MoveBy(-1);
      break;
    case QAbstractSlider::SliderPageStepAdd:
      dataset->MoveBy(VisibleRows());
      break;
    case QAbstractSlider::SliderPageStepSub:
      dataset->MoveBy(-VisibleRows());
      break;
    case QAbstractSlider::SliderToMinimum:
      dataset->First();
      break;
    case QAbstractSlider::SliderToMaximum:
      dataset->Last();
      break;
    case QAbstractSlider::SliderMove:
      if (bar->isSliderDown()) return;  // moved on release
      if (dataset->IsSequenced()) {
        dataset->SetRecNo(bar->sliderPosition() + 1);
      } else if (bar->sliderPosition() == 0) {
        dataset->First();
      } else if (bar->sliderPosition() == 2) {
        dataset->Last();
      }
      break;
    default:
      break;
  }
  UpdateScrollBar();
}

TField* TDBGrid::SelectedField() const {
  TColumn* column = Column(Col() - ColOffset());
  return column ? column->Field() : nullptr;
}

TGridCoord TDBGrid::MouseCoord(int x, int y) const {
  TGridCoord coord;
  MouseToCell(x, y, coord.X, coord.Y);
  return coord;
}

bool TDBGrid::SelectCell(int col, int row) {
  if (syncing_ || !link_.Active()) return TCustomGrid::SelectCell(col, row);
  const int target = row - RowOffset();
  if (target >= link_.RecordCount()) return false;
  const int distance = target - link_.ActiveRecord();
  if (distance != 0) link_.DataSet()->MoveBy(distance);
  return TCustomGrid::SelectCell(col, row);
}

void TDBGrid::KeyDown(uint16_t& key, TShiftState shift) {
  TWinControl::KeyDown(key, shift);  // OnKeyDown first; the grid's own moves below
  if (key == 0) return;
  if (!link_.Active()) {
    TCustomGrid::KeyDown(key, shift);
    return;
  }
  TDataSet* dataset = link_.DataSet();
  const bool ctrl = shift.Contains(ssCtrl);
  switch (key) {
    case VK_UP:
      dataset->MoveBy(-1);
      break;
    case VK_DOWN:
      dataset->MoveBy(1);
      break;
    case VK_PRIOR:
      dataset->MoveBy(-VisibleRows());
      break;
    case VK_NEXT:
      dataset->MoveBy(VisibleRows());
      break;
    case VK_HOME:
    case VK_END:
      if (!ctrl) {
        TCustomGrid::KeyDown(key, shift);
        return;
      }
      if (key == VK_HOME) {
        dataset->First();
      } else {
        dataset->Last();
      }
      break;
    case VK_DELETE:
      if (!ctrl || dataset->IsEmpty() || !dataset->CanModify()) return;
      if (!options_.Contains(dgConfirmDelete) ||
          MessageDlg("Supprimer l'enregistrement ?", mtConfirmation, TMsgDlgButtons{mbOK, mbCancel},
                     0) != mrCancel) {
        dataset->Delete();
      }
      break;
    default:
      TCustomGrid::KeyDown(key, shift);
      return;
  }
  key = 0;
}

void TDBGrid::DoExit() {
  // Only an untouched new record goes: whatever was typed into it stays for the user.
  if (options_.Contains(dgCancelOnExit) && link_.Active()) {
    TDataSet* dataset = link_.DataSet();
    if (dataset->State() == dsInsert && !dataset->Modified()) dataset->Cancel();
  }
  TCustomGrid::DoExit();
}

void TDBGrid::DrawCell(int col, int row, TRect rect, TGridDrawState state) {
  const int data_col = col - ColOffset();
  const int data_row = row - RowOffset();
  if (data_row < 0) {
    if (data_col >= 0) DrawTitle(data_col, rect);
    return;
  }
  if (data_col < 0) {
    DrawIndicator(data_row, rect);
    return;
  }
  TColumn* column = Column(data_col);
  if (!link_.Active() || column == nullptr || data_row >= link_.RecordCount()) return;
  const bool current = data_row == link_.ActiveRecord();
  if (current && options_.Contains(dgRowSelect)) state.Include(gdSelected);
  const int saved = link_.ActiveRecord();
  link_.SetActiveRecord(data_row);
  try {
    TCanvas& canvas = Canvas();
    canvas.Font().Assign(&column->Font());
    canvas.Brush().SetColor(state.Contains(gdSelected) ? clHighlight : column->Color());
    if (state.Contains(gdSelected)) canvas.Font().SetColor(clHighlightText);
    if (on_draw_column_cell_) {
      TDrawColumnCellEvent handler = on_draw_column_cell_;
      handler(this, rect, data_col, column, state);
      if (default_drawing_) DefaultDrawColumnCell(rect, data_col, column, state);
    } else if (default_drawing_) {
      DefaultDrawColumnCell(rect, data_col, column, state);
    }
  } catch (...) {
    link_.SetActiveRecord(saved);
    throw;
  }
  link_.SetActiveRecord(saved);
}

void TDBGrid::DefaultDrawColumnCell(const TRect& rect, int, TColumn* column, TGridDrawState) {
  TField* field = column ? column->Field() : nullptr;
  const std::string text = field ? field->DisplayText() : std::string();
  TCanvas& canvas = Canvas();
  int x = rect.Left + 2;
  const int width = canvas.TextWidth(text);
  if (column && column->Alignment() == taRightJustify) x = rect.Right - width - 2;
  if (column && column->Alignment() == taCenter) x = (rect.Left + rect.Right - width) / 2;
  canvas.TextRect(rect, x, rect.Top + 2, text);
}

void TDBGrid::DrawTitle(int data_col, const TRect& rect) {
  TColumn* column = Column(data_col);
  if (column == nullptr) return;
  TCanvas& canvas = Canvas();
  canvas.Font().Assign(&title_font_);
  if (column->Title().Font.Style().Bits() != 0) canvas.Font().Assign(&column->Title().Font);
  canvas.Brush().SetColor(clBtnFace);
  canvas.TextRect(rect, rect.Left + 2, rect.Top + 2, column->TitleCaption());
}

void TDBGrid::DrawIndicator(int data_row, const TRect& rect) {
  TCanvas& canvas = Canvas();
  canvas.Brush().SetColor(clBtnFace);
  canvas.FillRect(rect);
  if (!link_.Active() || data_row != link_.ActiveRecord()) return;
  // A small triangle points at the current record.
  canvas.Pen().SetColor(clBlack);
  const int cy = (rect.Top + rect.Bottom) / 2;
  for (int i = 0; i < 4; ++i) {
    canvas.MoveTo(rect.Left + 3 + i, cy - 3 + i);
    canvas.LineTo(rect.Left + 3 + i, cy + 4 - i);
  }
}

}  // namespace cl
