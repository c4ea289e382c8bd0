// The data-aware controls of one field (TDBEdit, TDBMemo, TDBLookupComboBox) and the navigator
// (TDBNavigator).
//
// A single-field control owns a TFieldDataLink to DataSource/DataField.  While the dataset
// browses it shows the field's DisplayText; with the focus on a modifiable field, or while the
// link edits, its Text.  A typed key first asks the link to edit: when the dataset cannot edit
// (AutoEdit off, read-only) the key is dropped with a beep.  The user's change marks the link
// modified; Escape reloads the field; the text is written back when the focus leaves and before
// the dataset posts.  When the write-back fails the focus and the typed text stay, and the error
// goes to the application's handler.  A field's FocusControl focuses its control.
//
// A control without data source, or on a closed dataset, is empty and read-only.
// Ownership: the controls are components; the link lives and dies with its control.  The data
// source is not owned (its freeing detaches the control).  Threads: GUI thread only.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "classlib/db/TDataLink.h"
#include "classlib/db/TDataSource.h"
#include "classlib/forms/Buttons.h"
#include "classlib/forms/Edits.h"
#include "classlib/forms/StdCtrls.h"

namespace cl {

// The field link of a control: focuses its control when its field asks for it.
class TControlDataLink : public TFieldDataLink {
 protected:
  void FocusControl(TField** field) override;
};

// What the single-field controls share: the link to DataSource/DataField, let go when the data
// source is freed, and a new source shown at once (DataSourceChanged).
template <class TBase>
class TDBFieldControl : public TBase {
 public:
  explicit TDBFieldControl(TComponent* owner) : TBase(owner) {}

  TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(TDataSource* source) {
    if (TDataSource* old = link_.DataSource()) old->RemoveFreeNotification(this);
    link_.SetDataSource(source);
    if (source != nullptr) source->FreeNotification(this);
    DataSourceChanged();
  }
  const std::string& DataField() const { return link_.FieldName(); }
  void SetDataField(const std::string& name) { link_.SetFieldName(name); }
  TField* Field() const { return link_.Field(); }

 protected:
  virtual void DataSourceChanged() = 0;
  void Notification(TComponent* component, TOperation operation) override {
    TBase::Notification(component, operation);
    if (operation == opRemove && component == link_.DataSource()) SetDataSource(nullptr);
  }

  TControlDataLink link_;
};

// What the edit and the memo share besides: read-only unless the link edits, a typed key that
// first asks the link to edit, any change of the text while not loading (lines changed in code
// while editing too) marking the link modified, and the field shown again by DataChange, which
// the control's ShowField does without it counting as a change.  Instantiated in DBCtrls.cpp for
// the two of them only.
template <class TBase>
class TDBTextControl : public TDBFieldControl<TBase> {
 public:
  explicit TDBTextControl(TComponent* owner);
  ~TDBTextControl() override;

  bool ReadOnly() const { return this->link_.ReadOnly(); }
  void SetReadOnly(bool read_only) override;

 protected:
  void Change() override;
  void KeyPress(char& key) override;
  void DataChange();
  // REQUIRES: called by DataChange.
  virtual void ShowField() = 0;
  // Writes the text back into the field.
  virtual void UpdateData() = 0;

 private:
  void DataSourceChanged() override;
  void EditingChange();

  bool loading_ = false;
};

extern template class TDBTextControl<TCustomMaskEdit>;
extern template class TDBTextControl<TCustomMemo>;

class TDBEdit : public TDBTextControl<TCustomMaskEdit> {
 public:
  explicit TDBEdit(TComponent* owner) : TDBTextControl(owner) {}

 protected:
  // Overridable paths (a derived edit intercepts keys and measures its text).
  void KeyDown(uint16_t& key, TShiftState shift) override;
  void DoEnter() override;
  void DoExit() override;
  TFieldDataLink& DataLink() { return link_; }

 private:
  void ShowField() override;
  void UpdateData() override;
  void SetFocused(bool focused);

  bool focused_ = false;
};

// DataField may change at run time: the memo shows the new field at once.
class TDBMemo : public TDBTextControl<TCustomMemo> {
 public:
  explicit TDBMemo(TComponent* owner) : TDBTextControl(owner) {}

 protected:
  void KeyDown(uint16_t& key, TShiftState shift) override;
  void DoExit() override;

 private:
  void ShowField() override;
  void UpdateData() override;
};

// A list bound to a lookup field: it shows the lookup field's text, lists the lookup dataset's
// result texts and, on a choice, puts the dataset into edit and sets the key field.  The list is
// read again on every drop-down (so it is never stale), with the lookup dataset's controls
// disabled and its position restored.  OnCloseUp fires once per drop-down, after a choice is
// applied, also without a change.  One key field.
class TDBLookupComboBox : public TDBFieldControl<TComboBox> {
 public:
  explicit TDBLookupComboBox(TComponent* owner);
  ~TDBLookupComboBox() override;

  int DropDownRows() const { return DropDownCount(); }
  void SetDropDownRows(int rows) { SetDropDownCount(rows); }
  // Opens the list (from code); as the list's hook, reads it again.
  void DropDown() override;
  // The lookup keys of the listed items, in order.
  const std::vector<std::string>& Keys() const { return keys_; }

 protected:
  void Change() override;
  void CloseUp() override;

 private:
  void DataSourceChanged() override { DataChange(); }
  void DataChange();
  void ReadList();
  void ApplyChoice();
  void FireCloseUp();
  TField* KeyField() const;

  std::vector<std::string> keys_;
  int applied_ = -1;
  bool close_pending_ = false;
};

// The navigator: a row of buttons that move and edit the dataset of its data source.
//
// Enabling (ButtonEnabled): first and prior while not at the start (Bof), next and last while
// not at the end (Eof), insert while the dataset can be modified, delete when it also holds a
// record, edit when it can be modified and is not editing, post and cancel while editing, refresh
// while open; nothing without an open dataset.  A click (BtnClick) first fires BeforeAction, which
// may stop it with Abort, then acts (delete asks "Supprimer l'enregistrement ?" when
// ConfirmDelete is set), then fires OnClick.  Each button shows its line of Hints as its hint.
enum TNavigateBtn {
  nbFirst,
  nbPrior,
  nbNext,
  nbLast,
  nbInsert,
  nbDelete,
  nbEdit,
  nbPost,
  nbCancel,
  nbRefresh
};
using TButtonSet = TSet<TNavigateBtn>;
using TNavClickEvent = std::function<void(TObject* sender, TNavigateBtn button)>;

class TDBNavigator;

class TNavDataLink : public TDataLink {
 public:
  explicit TNavDataLink(TDBNavigator* navigator) : navigator_(navigator) {}

 protected:
  void ActiveChanged() override;
  void DataSetChanged() override;
  void EditingChanged() override;

 private:
  TDBNavigator* navigator_;
};

class TDBNavigator : public TCustomControl {
 public:
  static constexpr int kButtonCount = 10;

  explicit TDBNavigator(TComponent* owner);
  ~TDBNavigator() override;

  TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(TDataSource* source);
  TButtonSet VisibleButtons() const { return visible_; }
  void SetVisibleButtons(TButtonSet buttons);
  // One line per button, in the order of TNavigateBtn (French texts by default).
  TStrings& Hints() { return *hints_; }
  bool ConfirmDelete() const { return confirm_delete_; }
  void SetConfirmDelete(bool confirm) { confirm_delete_ = confirm; }

  bool ButtonEnabled(TNavigateBtn button) const { return enabled_[button]; }
  // The button's place in the control (empty when hidden).
  TRect ButtonRect(TNavigateBtn button) const;
  // Performs a button's click (the rules above).  A disabled or hidden button does nothing.
  void BtnClick(TNavigateBtn button);

  const TNavClickEvent& BeforeAction() const { return before_action_; }
  void SetBeforeAction(TNavClickEvent handler) { before_action_ = std::move(handler); }
  const TNavClickEvent& OnClick() const { return on_click_; }
  void SetOnClick(TNavClickEvent handler) { on_click_ = std::move(handler); }

 protected:
  void Paint() override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend class TNavDataLink;
  void UpdateButtons();
  int ButtonAt(int x, int y) const;
  void DrawGlyph(TNavigateBtn button, const TRect& rect, bool enabled);

  TNavDataLink link_{this};
  std::unique_ptr<TStringList> hints_;
  TButtonSet visible_{nbFirst,  nbPrior, nbNext, nbLast,   nbInsert,
                      nbDelete, nbEdit,  nbPost, nbCancel, nbRefresh};
  std::array<bool, kButtonCount> enabled_{};
  bool confirm_delete_ = true;
  int pressed_ = -1;
  int hint_button_ = -1;
  TNavClickEvent before_action_;
  TNavClickEvent on_click_;
};

}  // namespace cl
