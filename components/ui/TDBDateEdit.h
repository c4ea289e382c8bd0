// TDBDateEdit: the date edit bound to a date field through a field data link.
//
// It shows the field's date and is read-only until the link edits.  When editing starts with
// DefaultToday on a field that holds the empty date (0), the field gets the current date and
// time.  Writing back stores the edit's date with the time of day already in the field (decoded
// and composed again, so dates before 1899 keep their time too); a blank text clears the field
// (null); a text that is no date is refused with the conversion error instead of being stored as
// some other date.
//
// Keys: Delete and Shift+Insert start the edit (unless ReadOnly); digits, Backspace, Ctrl+V and
// Ctrl+X start it too; any other printable character but the date separator beeps and is
// dropped; Escape reloads the field.  The button, the calendar and a date chosen in it start the
// edit first; the calendar opens only while the dataset can be modified and the link edits.
// The copy painted inside a control grid has no counterpart here (there is no control grid).
//
// Ownership: the link lives and dies with the control; the data source is not owned.
// GUI thread only.
#pragma once

#include <string>

#include "classlib/dbforms/DBCtrls.h"
#include "components/ui/TCustomDateEdit.h"

namespace comp {

class TDBDateEdit : public TCustomDateEdit {
 public:
  explicit TDBDateEdit(cl::TComponent* owner);
  ~TDBDateEdit() override;

  cl::TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(cl::TDataSource* source);
  const std::string& DataField() const { return link_.FieldName(); }
  void SetDataField(const std::string& name) { link_.SetFieldName(name); }
  cl::TField* Field() const { return link_.Field(); }
  void SetReadOnly(bool read_only) override;

  void DoClick() override;

 protected:
  bool GetReadOnly() const override { return link_.ReadOnly(); }
  bool TextLocked() const override;
  void PopupDropDown(bool disable_edit) override;
  bool AcceptPopup(cl::Variant& value) override;
  bool ExecuteDialog(cl::TDateTime& date) override;
  void Change() override;
  void KeyDown(uint16_t& key, cl::TShiftState shift) override;
  void KeyPress(char& key) override;
  void DoExit() override;
  void Notification(cl::TComponent* component, cl::TOperation operation) override;

 private:
  void DataChange();
  void EditingChange();
  void UpdateData();

  cl::TControlDataLink link_;
  bool loading_ = false;
};

}  // namespace comp
