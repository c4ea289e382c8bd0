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

class TDBEdit : public TCustomMaskEdit {
 public:
  explicit TDBEdit(TComponent* owner);
  ~TDBEdit() override;

  TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(TDataSource* source);
  const std::string& DataField() const { return link_.FieldName(); }
  void SetDataField(const std::string& name) { link_.SetFieldName(name); }
  TField* Field() const { return link_.Field(); }
  bool ReadOnly() const { return link_.ReadOnly(); }
  void SetReadOnly(bool read_only) override;

 protected:
  // Overridable paths (a derived edit intercepts keys and measures its text).
  void Change() override;
  void KeyDown(uint16_t& key, TShiftState shift) override;
  void KeyPress(char& key) override;
  void DoEnter() override;
  void DoExit() override;
  void Notification(TComponent* component, TOperation operation) override;
  TFieldDataLink& DataLink() { return link_; }

 private:
  void DataChange();
  void EditingChange();
  void UpdateData();
  void SetFocused(bool focused);

  TControlDataLink link_;
  bool focused_ = false;
  bool loading_ = false;
};

class TDBMemo : public TCustomMemo {
 public:
  explicit TDBMemo(TComponent* owner);
  ~TDBMemo() override;

  TDataSource* DataSource() const { return link_.DataSource(); }
  void SetDataSource(TDataSource* source);
  const std::string& DataField() const { return link_.FieldName(); }
  // May change at run time: the memo shows the new field at once.
  void SetDataField(const std::string& name) { link_.SetFieldName(name); }
  TField* Field() const { return link_.Field(); }
  bool ReadOnly() const { return link_.ReadOnly(); }
  void SetReadOnly(bool read_only) override;

 protected:
  void Change() override;
  void KeyDown(uint16_t& key, TShiftState shift) override;
  void KeyPress(char& key) override;
  void DoExit() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  void DataChange();
  void EditingChange();
  void UpdateData();

  TControlDataLink link_;
  bool loading_ = false;
};

}  // namespace cl
