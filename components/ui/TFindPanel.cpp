#include "components/ui/TFindPanel.h"

#include <algorithm>
#include <cstdint>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TField.h"
#include "classlib/db/TFields.h"
#include "classlib/rtl/Collation.h"
#include "classlib/rtl/Currency.h"
#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/FormatSettings.h"
#include "classlib/rtl/NumberText.h"
#include "components/data/TVirtualDataSet.h"

namespace comp {
namespace {

bool SimpleType(cl::TFieldType type) {
  return (type >= cl::ftString && type <= cl::ftDateTime) || type == cl::ftAutoInc;
}

bool SameName(const std::string& a, const std::string& b) {
  return cl::AnsiUpperCase(a) == cl::AnsiUpperCase(b);
}

// Whether `text` converts to the field's type (and range), as the locate will convert it.  Text
// that does not is simply not found: the search runs after a pause in the typing, so an error
// box there would interrupt the user at every half-typed number or date.
bool TextFitsField(const cl::TField& field, const std::string& text) {
  const cl::TFormatSettings settings = cl::CurrentFormatSettings();
  cl::TDateTime date = 0;
  switch (field.DataType()) {
    case cl::ftSmallint:
    case cl::ftInteger:
    case cl::ftWord:
    case cl::ftAutoInc: {
      int64_t number = 0;
      if (!cl::TryStrToInt64(text, number)) return false;
      const auto type = field.DataType();
      int64_t low = type == cl::ftSmallint ? INT16_MIN : type == cl::ftWord ? 0 : INT32_MIN;
      int64_t high = type == cl::ftSmallint ? INT16_MAX
                     : type == cl::ftWord   ? UINT16_MAX
                                            : INT32_MAX;
      const auto* integer = dynamic_cast<const cl::TIntegerField*>(&field);
      if (integer != nullptr && (integer->MinValue() != 0 || integer->MaxValue() != 0)) {
        low = std::max<int64_t>(low, integer->MinValue());
        high = std::min<int64_t>(high, integer->MaxValue());
      }
      return number >= low && number <= high;
    }
    case cl::ftFloat:
    case cl::ftCurrency: {
      double number = 0;
      return cl::TryStrToFloat(text, number, settings);
    }
    case cl::ftBCD: {
      cl::Currency amount;
      return cl::TryStrToCurr(text, amount, settings);
    }
    case cl::ftBoolean: {
      auto is_prefix_of = [&text](std::string_view word) {
        return text.size() <= word.size() && cl::AnsiSameText(text, word.substr(0, text.size()));
      };
      return is_prefix_of(cl::STextTrue) || is_prefix_of(cl::STextFalse);
    }
    case cl::ftDate:
      return cl::TryStrToDate(text, date, settings);
    case cl::ftTime:
      return cl::TryStrToTime(text, date, settings);
    case cl::ftDateTime:
      return cl::TryStrToDateTime(text, date, settings);
    default:
      return true;
  }
}

// The panel places its parts itself (no alignment), so its splitter has no aligned neighbour to
// resize: its drag goes to the panel, which moves the border between edit and combo box.
class TFindSplitter : public cl::TSplitter {
 public:
  explicit TFindSplitter(TFindPanel* panel) : cl::TSplitter(panel), panel_(panel) {
    SetAlign(cl::alNone);
    SetMinSize(TFindPanel::kMinPartWidth);
  }

 protected:
  void MouseDown(cl::TMouseButton button, cl::TShiftState shift, int x, int y) override {
    cl::TCustomControl::MouseDown(button, shift, x, y);
    if (button != cl::mbLeft) return;
    dragging_ = true;
    drag_x_ = ClientToScreen({x, y}).X;
  }
  void MouseMove(cl::TShiftState shift, int x, int y) override {
    cl::TCustomControl::MouseMove(shift, x, y);
    if (!dragging_) return;
    // Screen coordinates: the splitter itself moves with the border.
    const int now = ClientToScreen({x, y}).X;
    if (now == drag_x_) return;
    panel_->MoveSplitter(now - drag_x_);
    drag_x_ = now;
  }
  void MouseUp(cl::TMouseButton button, cl::TShiftState shift, int x, int y) override {
    dragging_ = false;
    cl::TCustomControl::MouseUp(button, shift, x, y);
  }

 private:
  TFindPanel* panel_;
  bool dragging_ = false;
  int drag_x_ = 0;
};

}  // namespace

// ---- TFindEdit -------------------------------------------------------------------------------

TFindEdit::TFindEdit(cl::TComponent* owner)
    : cl::TEdit(owner), timer_(std::make_unique<cl::TTimer>(nullptr)) {
  timer_->SetEnabled(false);
  timer_->SetInterval(500);
  timer_->SetOnTimer([this](cl::TObject*) {
    timer_->SetEnabled(false);
    Search(default_direction_);
  });
  SetColor(cl::clAqua);
  SetTabStop(true);
}

TFindEdit::~TFindEdit() { timer_.reset(); }

void TFindEdit::SetDataSet(cl::TDataSet* dataset) {
  dataset_ = dataset;
  if (dataset != nullptr) dataset->FreeNotification(this);
}

void TFindEdit::SetSearchField(const std::string& name) {
  if (name == search_field_) return;
  search_field_ = name;
  if (on_search_field_change_) on_search_field_change_(this);
}

void TFindEdit::Notification(cl::TComponent* component, cl::TOperation operation) {
  cl::TEdit::Notification(component, operation);
  if (operation == cl::opRemove && component == dataset_) dataset_ = nullptr;
}

bool TFindEdit::CanSearch(const cl::TField* field) const {
  if (field == nullptr || field->Tag() != field_tag_value_) return false;
  if (field->DataType() == cl::ftMemo || field->Calculated()) return allow_calc_fields_;
  return SimpleType(field->DataType());
}

void TFindEdit::Change() {
  cl::TEdit::Change();
  // Every change restarts the pause.
  timer_->SetEnabled(false);
  timer_->SetEnabled(true);
}

bool TFindEdit::Search(TFindDirection direction) {
  if (search_field_.empty() || dataset_ == nullptr || !dataset_->Active() || Text().empty()) {
    return false;
  }
  cl::TField* field = dataset_->FindField(search_field_);
  if (field == nullptr) return false;
  std::string text = Text();
  bool do_search = true;
  if (before_search_) before_search_(this, field, text, do_search);
  if (!do_search) return false;
  if (direction == fdFirst && find_mode_ == fmNearest && field->FieldKind() == cl::fkData &&
      field->DataType() != cl::ftMemo) {
    found_ =
        TextFitsField(*field, text) && dataset_->Locate(search_field_, cl::Variant(text),
                                                        {cl::loCaseInsensitive, cl::loPartialKey});
  } else {
    found_ = ScanDataSet(PrepareFindPattern(text), *dataset_, field, direction);
  }
  if (on_after_find_) on_after_find_(this, found_);
  return found_;
}

void TFindEdit::KeyDown(uint16_t& key, cl::TShiftState shift) {
  if (Text().empty() && dataset_ != nullptr && dataset_->Active() && shift.Empty()) {
    bool moved = true;
    switch (key) {
      case cl::VK_UP:
        dataset_->Prior();
        break;
      case cl::VK_DOWN:
        dataset_->Next();
        break;
      case cl::VK_NEXT:
        dataset_->MoveBy(5);
        break;
      case cl::VK_PRIOR:
        dataset_->MoveBy(-5);
        break;
      case cl::VK_HOME:
        dataset_->First();
        break;
      case cl::VK_END:
        dataset_->Last();
        break;
      default:
        moved = false;
    }
    if (moved) {
      key = 0;
      return;
    }
  }
  cl::TEdit::KeyDown(key, shift);
}

// ---- TFindPanel ------------------------------------------------------------------------------

TFindPanel::TFindPanel(cl::TComponent* owner) : cl::TPanel(owner) {
  SetCaption("");
  SetBevelOuter(cl::bvNone);
  label_ = new cl::TLabel(this);
  label_->SetParent(this);
  label_->SetCaption("Rechercher :");
  edit_ = new TFindEdit(this);
  edit_->SetParent(this);
  next_ = new TOxSpeedButton(this);
  next_->SetParent(this);
  next_->SetCaption(">");
  next_->SetOnClick([this](cl::TObject*) { edit_->Search(fdNext); });
  prior_ = new TOxSpeedButton(this);
  prior_->SetParent(this);
  prior_->SetCaption("<");
  prior_->SetOnClick([this](cl::TObject*) { edit_->Search(fdPrior); });
  combo_ = new cl::TComboBox(this);
  combo_->SetParent(this);
  combo_->SetStyle(cl::csDropDownList);
  combo_->SetOnChange([this](cl::TObject*) {
    const int index = combo_->ItemIndex();
    if (index >= 0 && index < static_cast<int>(field_names_.size())) {
      edit_->SetSearchField(field_names_[static_cast<size_t>(index)]);
      ApplyChangeIndex();
    }
  });
  splitter_ = new TFindSplitter(this);
  splitter_->SetParent(this);
  SetBounds(0, 0, 400, 30);
  Arrange();
}

TFindPanel::~TFindPanel() { ReleaseDataSet(); }

void TFindPanel::ReleaseDataSet() {
  if (hooked_dataset_ != nullptr) {
    hooked_dataset_->SetAfterOpen(after_open_token_.Release(hooked_dataset_->AfterOpen()));
  }
  hooked_dataset_ = nullptr;
}

void TFindPanel::SetDataSet(cl::TDataSet* dataset) {
  if (dataset == hooked_dataset_) return;
  ReleaseDataSet();
  edit_->SetDataSet(dataset);
  if (dataset != nullptr) {
    dataset->FreeNotification(this);
    after_open_token_.Install(dataset->AfterOpen(), [this](cl::TDataSet* ds) {
      after_open_token_.CallPrevious(ds);
      RelistFields();
    });
    dataset->SetAfterOpen(after_open_token_.Handler());
    hooked_dataset_ = dataset;
  }
  RebuildFieldList();
}

void TFindPanel::Notification(cl::TComponent* component, cl::TOperation operation) {
  cl::TPanel::Notification(component, operation);
  if (operation == cl::opRemove && component == hooked_dataset_) {
    // The dataset is going: give its handler back now (its owner may still call it).
    ReleaseDataSet();
    field_names_.clear();
    combo_->Items().Clear();
  }
}

void TFindPanel::RebuildFieldList() {
  field_names_.clear();
  combo_->Items().Clear();
  cl::TDataSet* dataset = edit_->DataSet();
  if (dataset == nullptr) return;
  for (int i = 0; i < dataset->FieldCount(); ++i) {
    cl::TField* field = dataset->Fields(i);
    if (!edit_->CanSearch(field)) continue;
    field_names_.push_back(field->FieldName());
    combo_->Items().Add(field->DisplayLabel());
  }
}

void TFindPanel::RelistFields() {
  const std::string field = edit_->SearchField();
  RebuildFieldList();
  SetSearchField(field);
}

void TFindPanel::SetSearchField(const std::string& name) {
  for (size_t i = 0; i < field_names_.size(); ++i) {
    if (SameName(field_names_[i], name)) {
      combo_->SetItemIndex(static_cast<int>(i));
      edit_->SetSearchField(field_names_[i]);
      ApplyChangeIndex();
      return;
    }
  }
  edit_->SetSearchField(name);
}

void TFindPanel::SetFieldTagValue(int value) {
  edit_->SetFieldTagValue(value);
  RelistFields();
}

void TFindPanel::SetAllowCalcFields(bool value) {
  edit_->SetAllowCalcFields(value);
  RelistFields();
}

void TFindPanel::SetChangeIndex(bool value) {
  change_index_ = value;
  ApplyChangeIndex();
}

void TFindPanel::ApplyChangeIndex() {
  if (!change_index_) return;
  auto* dataset = dynamic_cast<TVirtualDataSet*>(edit_->DataSet());
  if (dataset == nullptr) return;
  cl::TField* field = dataset->FindField(edit_->SearchField());
  // Only stored fields can order the records; a calculated or memo search keeps the order.
  if (field == nullptr || field->FieldKind() != cl::fkData || field->DataType() == cl::ftMemo) {
    return;
  }
  if (!SameName(dataset->IndexFieldNames(), field->FieldName())) {
    dataset->SetIndexFieldNames(field->FieldName());
  }
}

void TFindPanel::SetVisibleItems(TFindPanelVisibleItems items) {
  visible_items_ = items;
  Arrange();
}

void TFindPanel::SetVerticalAlignment(TVerticalAlignment alignment) {
  vertical_alignment_ = alignment;
  Arrange();
}

void TFindPanel::SetComboBoxWidth(int width) {
  combo_width_ = width;
  Arrange();
}

void TFindPanel::SetLabelCaption(const std::string& caption) {
  label_->SetCaption(caption);
  Arrange();
}

void TFindPanel::Resize() {
  cl::TPanel::Resize();
  Arrange();
}

void TFindPanel::Arrange() {
  if (edit_ == nullptr) return;
  constexpr int kGap = 4;
  constexpr int kMinWidth = kMinPartWidth;
  const int h = 21;
  auto top_for = [&](int height) {
    switch (vertical_alignment_) {
      case vaTop:
        return kGap / 2;
      case vaBottom:
        return Height() - height - kGap / 2;
      default:
        return (Height() - height) / 2;
    }
  };
  int left = kGap;
  int right = Width() - kGap;
  label_->SetVisible(visible_items_.Contains(viLabel));
  if (label_->Visible()) {
    label_->SetBounds(left, top_for(label_->Height()), label_->Width(), label_->Height());
    left += label_->Width() + kGap;
  }
  combo_->SetVisible(visible_items_.Contains(viComboBox));
  if (combo_->Visible()) {
    const int width = std::max(kMinWidth, combo_width_);
    combo_->SetBounds(right - width, top_for(h), width, h);
    right -= width + kGap;
  }
  splitter_->SetVisible(combo_->Visible());
  if (splitter_->Visible()) splitter_->SetBounds(right, top_for(h), kGap, h);
  const bool buttons = visible_items_.Contains(viButtons);
  next_->SetVisible(buttons);
  prior_->SetVisible(buttons);
  if (buttons) {
    next_->SetBounds(right - h, top_for(h), h, h);
    prior_->SetBounds(right - 2 * h, top_for(h), h, h);
    right -= 2 * h + kGap;
  }
  edit_->SetBounds(left, top_for(h), std::max(kMinWidth, right - left), h);
}

int TFindPanel::MoveSplitter(int delta) {
  if (!combo_->Visible()) return combo_->Width();
  // The edit gives or takes the room; each keeps its minimum.
  const int size = cl::SplitterSize(combo_->Width(), -delta, kMinPartWidth, edit_->Width());
  if (size != combo_->Width()) SetComboBoxWidth(size);
  return combo_->Width();
}

}  // namespace comp
