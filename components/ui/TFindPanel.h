// TFindEdit: an edit that positions a dataset on the first record matching what is typed
// (FindRoutines.h), after a pause in the typing; TFindPanel: a caption, that edit, next and
// prior buttons and a combo box of the fields that can be searched.  A splitter left of the
// combo box moves the border between the edit and the combo box, keeping both at least
// kMinPartWidth wide.
//
// The panel takes over its dataset's AfterOpen (to rebuild the field list) through a
// handler-takeover token: the handler goes back when the dataset changes, when the dataset is
// removed and when the panel is destroyed, so the dataset never calls a freed panel.
// GUI thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "classlib/db/TDataSet.h"
#include "classlib/forms/Edits.h"
#include "classlib/forms/ExtCtrls.h"
#include "classlib/forms/StdCtrls.h"
#include "classlib/rtl/HandlerTakeover.h"
#include "classlib/rtl/TTimer.h"
#include "components/ui/FindRoutines.h"
#include "components/ui/TOxSpeedButton.h"

namespace comp {

enum TVerticalAlignment { vaTop, vaBottom, vaCenter };
enum TFindPanelVisibleItem { viButtons, viComboBox, viLabel };
using TFindPanelVisibleItems = cl::TSet<TFindPanelVisibleItem>;

using TSearchEvent =
    std::function<void(cl::TObject* sender, cl::TField* field, std::string& text, bool& do_search)>;
using TFindEvent = std::function<void(cl::TObject* sender, bool found)>;

class TFindEdit : public cl::TEdit {
 public:
  explicit TFindEdit(cl::TComponent* owner);
  ~TFindEdit() override;

  cl::TDataSet* DataSet() const { return dataset_; }
  void SetDataSet(cl::TDataSet* dataset);
  const std::string& SearchField() const { return search_field_; }
  void SetSearchField(const std::string& name);
  TFindMode FindMode() const { return find_mode_; }
  void SetFindMode(TFindMode mode) { find_mode_ = mode; }
  TFindDirection DefaultDirection() const { return default_direction_; }
  void SetDefaultDirection(TFindDirection direction) { default_direction_ = direction; }
  int Interval() const { return timer_->Interval(); }
  void SetInterval(int ms) { timer_->SetInterval(ms); }
  int FieldTagValue() const { return field_tag_value_; }
  void SetFieldTagValue(int value) { field_tag_value_ = value; }
  bool AllowCalcFields() const { return allow_calc_fields_; }
  void SetAllowCalcFields(bool value) { allow_calc_fields_ = value; }
  void SetBeforeSearch(TSearchEvent handler) { before_search_ = std::move(handler); }
  void SetOnAfterFind(TFindEvent handler) { on_after_find_ = std::move(handler); }
  void SetOnSearchFieldChange(cl::TNotifyEvent handler) {
    on_search_field_change_ = std::move(handler);
  }

  // Searches now; false when nothing was found (or nothing could be searched).
  bool Search(TFindDirection direction);
  bool Found() const { return found_; }
  // Whether the field may be searched (its Tag and its type).
  bool CanSearch(const cl::TField* field) const;

 protected:
  void Change() override;
  void KeyDown(uint16_t& key, cl::TShiftState shift) override;
  void Notification(cl::TComponent* component, cl::TOperation operation) override;

 private:
  cl::TDataSet* dataset_ = nullptr;
  std::string search_field_;
  TFindMode find_mode_ = fmNearest;
  TFindDirection default_direction_ = fdFirst;
  int field_tag_value_ = 0;
  bool allow_calc_fields_ = true;
  bool found_ = false;
  std::unique_ptr<cl::TTimer> timer_;
  TSearchEvent before_search_;
  TFindEvent on_after_find_;
  cl::TNotifyEvent on_search_field_change_;
};

class TFindPanel : public cl::TPanel {
 public:
  explicit TFindPanel(cl::TComponent* owner);
  ~TFindPanel() override;

  TFindEdit* Edit() const { return edit_; }
  cl::TComboBox* ComboBox() const { return combo_; }
  cl::TLabel* Label() const { return label_; }
  // The bar left of the combo box (shown with it).
  cl::TSplitter* Splitter() const { return splitter_; }
  TOxSpeedButton* NextButton() const { return next_; }
  TOxSpeedButton* PriorButton() const { return prior_; }

  cl::TDataSet* DataSet() const { return edit_->DataSet(); }
  void SetDataSet(cl::TDataSet* dataset);
  const std::string& SearchField() const { return edit_->SearchField(); }
  // Selects the combo entry of that field (names compared ignoring case).
  void SetSearchField(const std::string& name);
  int Interval() const { return edit_ != nullptr ? edit_->Interval() : 200; }
  void SetInterval(int ms) { edit_->SetInterval(ms); }
  TFindMode FindMode() const { return edit_->FindMode(); }
  void SetFindMode(TFindMode mode) { edit_->SetFindMode(mode); }
  TFindDirection DefaultDirection() const { return edit_->DefaultDirection(); }
  void SetDefaultDirection(TFindDirection direction) { edit_->SetDefaultDirection(direction); }
  // Both change which fields the combo box lists; the search field stays chosen when listed.
  int FieldTagValue() const { return edit_->FieldTagValue(); }
  void SetFieldTagValue(int value);
  bool AllowCalcFields() const { return edit_->AllowCalcFields(); }
  void SetAllowCalcFields(bool value);
  // With ChangeIndex, choosing a data field of an in-memory dataset orders the dataset by it.
  bool ChangeIndex() const { return change_index_; }
  void SetChangeIndex(bool value);
  std::string Text() const { return edit_->Text(); }
  void SetText(const std::string& text) { edit_->SetText(text); }
  // The edit's events, under the panel's names.
  void SetOnChange(cl::TNotifyEvent handler) { edit_->SetOnChange(std::move(handler)); }
  void SetBeforeSearch(TSearchEvent handler) { edit_->SetBeforeSearch(std::move(handler)); }
  void SetAfterSearch(TFindEvent handler) { edit_->SetOnAfterFind(std::move(handler)); }
  TFindPanelVisibleItems VisibleItems() const { return visible_items_; }
  void SetVisibleItems(TFindPanelVisibleItems items);
  TVerticalAlignment VerticalAlignment() const { return vertical_alignment_; }
  void SetVerticalAlignment(TVerticalAlignment alignment);
  int ComboBoxWidth() const { return combo_width_; }
  void SetComboBoxWidth(int width);
  void SetLabelCaption(const std::string& caption);

  // Lists the searchable fields in the combo box again.
  void RebuildFieldList();
  void Arrange();
  // Moves the border between edit and combo box by `delta` pixels (towards the right when
  // positive), as a drag of the splitter does; returns the combo box's new width.
  static constexpr int kMinPartWidth = 60;
  int MoveSplitter(int delta);

 protected:
  void Resize() override;
  void Notification(cl::TComponent* component, cl::TOperation operation) override;

 private:
  void ReleaseDataSet();
  // Lists the fields again and re-selects the search field.
  void RelistFields();
  void ApplyChangeIndex();

  cl::TLabel* label_;
  TFindEdit* edit_ = nullptr;
  TOxSpeedButton* next_;
  TOxSpeedButton* prior_;
  cl::TComboBox* combo_;
  cl::TSplitter* splitter_;
  std::vector<std::string> field_names_;  // the combo's entries' field names
  TFindPanelVisibleItems visible_items_{viButtons, viComboBox, viLabel};
  TVerticalAlignment vertical_alignment_ = vaCenter;
  int combo_width_ = 120;
  bool change_index_ = false;
  cl::TDataSet* hooked_dataset_ = nullptr;
  cl::THandlerTakeover<cl::TDataSetNotifyEvent> after_open_token_;
};

}  // namespace comp
