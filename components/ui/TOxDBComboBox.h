// A combo box bound to one field: TCustomDBComboBox carries the behaviour, TOxDBComboBox adds
// the mapping of the listed Items to stored Values.
//
// The combo shows the field's edit text (unless its list is open).  Shown text and stored text
// meet in two overridable operations: SetComboText selects the entry that holds a text (or shows
// it as free text where the style allows), GetComboText gives the text the selection stands for.
// The user's first change (typing, Backspace, Ctrl+V/X, opening the list, picking an entry) puts
// the dataset into edit state; the chosen text is written back when the record is updated or the
// focus leaves; Escape reloads the field.  Selecting from code never starts an edit.  When the
// dataset cannot be edited the edit part is read-only, Up/Down are swallowed and a pick from the
// list is undone (the field's value shows again), so the shown value never drifts from the field.
//
// Ownership: the field link and Values live with the control; the data source is not owned (its
// freeing detaches the control).  There is no control grid, so no painting inside one.
// Threads: GUI thread only.
#pragma once

#include <memory>
#include <string>

#include "classlib/dbforms/DBCtrls.h"
#include "classlib/forms/StdCtrls.h"
#include "classlib/rtl/TStrings.h"

namespace comp {

class TCustomDBComboBox : public cl::TComboBox {
 public:
  explicit TCustomDBComboBox(cl::TComponent* owner);
  ~TCustomDBComboBox() override;

  cl::TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(cl::TDataSource* source);
  const std::string& DataField() const { return link_.FieldName(); }
  void SetDataField(const std::string& name) { link_.SetFieldName(name); }
  cl::TField* Field() const { return link_.Field(); }
  bool ReadOnly() const { return link_.ReadOnly(); }
  void SetReadOnly(bool read_only);
  // The style asked for; a derived class may force another while it needs it (see
  // TOxDBComboBox::EnableValues), the one asked for returns after.
  void SetStyle(cl::TComboBoxStyle style);

  // The text the current selection (or the edit part) stands for.
  virtual std::string GetComboText();
  // Shows `text`: selects its entry, else shows it as free text where the style allows.
  virtual void SetComboText(const std::string& text);

  void Click() override;

 protected:
  void Change() override;
  void DropDown() override;
  void CloseUp() override;
  void KeyDown(uint16_t& key, cl::TShiftState shift) override;
  void KeyPress(char& key) override;
  void DoExit() override;
  void Notification(cl::TComponent* component, cl::TOperation operation) override;
  virtual cl::TComboBoxStyle ForcedStyle(cl::TComboBoxStyle style) const { return style; }
  cl::TFieldDataLink& DataLink() { return link_; }
  // Shows the field again (after a change of the lists).
  void DataChange();
  // Applies the style asked for again, as ForcedStyle now turns it.
  void ApplyStyle() { SetStyle(asked_style_); }
  // Selects an entry without it counting as the user's change.
  void SelectIndex(int index);

 private:
  void EditingChange();
  void UpdateData();
  // Puts the link into edit state; true when it edits.
  bool StartEdit();
  // The user changed the value: edit, or undo the change when the dataset cannot edit.
  bool UserChange();

  cl::TControlDataLink link_;
  cl::TComboBoxStyle asked_style_ = cl::csDropDown;
  bool loading_ = false;
  bool starting_edit_ = false;
};

class TOxDBComboBox : public TCustomDBComboBox {
 public:
  explicit TOxDBComboBox(cl::TComponent* owner);
  ~TOxDBComboBox() override;

  // The stored text of each entry of Items, in the same order.
  cl::TStrings& Values() { return *values_; }
  bool EnableValues() const { return enable_values_; }
  // Forces the drop-down-list style while on; shows the field again.
  void SetEnableValues(bool enable);

  std::string GetComboText() override;
  void SetComboText(const std::string& text) override;

 protected:
  cl::TComboBoxStyle ForcedStyle(cl::TComboBoxStyle style) const override;

 private:
  std::unique_ptr<cl::TStringList> values_;
  bool enable_values_ = false;
};

}  // namespace comp
