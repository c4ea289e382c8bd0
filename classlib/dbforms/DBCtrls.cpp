#include "classlib/dbforms/DBCtrls.h"

#include "classlib/db/TDataSet.h"
#include "classlib/db/TField.h"
#include "classlib/forms/Dialogs.h"

namespace cl {
namespace {

// Keys that change the text: printable characters, Backspace, Ctrl+V and Ctrl+X.
bool ChangesText(char key) {
  const auto c = static_cast<unsigned char>(key);
  return c >= 32 || c == 8 || c == 22 || c == 24;
}

}  // namespace

void TControlDataLink::FocusControl(TField** field) {
  if (field == nullptr || *field == nullptr || *field != Field()) return;
  if (auto* control = dynamic_cast<TWinControl*>(Control()); control && control->CanFocus()) {
    *field = nullptr;
    control->SetFocus();
  }
}

// ---- TDBEdit ----------------------------------------------------------------------------------

TDBEdit::TDBEdit(TComponent* owner) : TCustomMaskEdit(owner) {
  link_.SetControl(this);
  link_.SetOnDataChange([this](TObject*) { DataChange(); });
  link_.SetOnEditingChange([this](TObject*) { EditingChange(); });
  link_.SetOnUpdateData([this](TObject*) { UpdateData(); });
  link_.SetOnActiveChange([this](TObject*) { EditingChange(); });
  TCustomMaskEdit::SetReadOnly(true);
}

TDBEdit::~TDBEdit() {
  link_.SetOnDataChange(nullptr);
  link_.SetOnEditingChange(nullptr);
  link_.SetOnUpdateData(nullptr);
  link_.SetOnActiveChange(nullptr);
  link_.SetDataSource(nullptr);
}

void TDBEdit::SetDataSource(TDataSource* source) {
  if (TDataSource* old = link_.DataSource()) old->RemoveFreeNotification(this);
  link_.SetDataSource(source);
  if (source != nullptr) source->FreeNotification(this);
  DataChange();
  EditingChange();
}

void TDBEdit::Notification(TComponent* component, TOperation operation) {
  TCustomMaskEdit::Notification(component, operation);
  if (operation == opRemove && component == link_.DataSource()) SetDataSource(nullptr);
}

void TDBEdit::SetReadOnly(bool read_only) {
  link_.SetReadOnly(read_only);
  EditingChange();
}

void TDBEdit::DataChange() {
  loading_ = true;
  try {
    TField* field = link_.Field();
    if (field == nullptr) {
      SetEditMask("");
      SetMaxLength(0);
      SetText("");
    } else {
      SetEditMask(field->EditMask());
      SetMaxLength(field->DataType() == ftString ? field->Size() : 0);
      const bool edit_text = link_.Editing() || (focused_ && link_.CanModify());
      SetText(edit_text ? field->Text() : field->DisplayText());
    }
    SetModified(false);
  } catch (...) {
    loading_ = false;
    throw;
  }
  loading_ = false;
}

void TDBEdit::EditingChange() { TCustomMaskEdit::SetReadOnly(!link_.Editing()); }

void TDBEdit::UpdateData() {
  ValidateEdit();
  if (TField* field = link_.Field()) field->SetText(Text());
}

void TDBEdit::Change() {
  if (!loading_) link_.Modified();
  TCustomMaskEdit::Change();
}

void TDBEdit::SetFocused(bool focused) {
  if (focused_ == focused) return;
  focused_ = focused;
  // The field's edit text replaces its display text while the user may change it.
  if (link_.Field() != nullptr && !Modified()) DataChange();
}

void TDBEdit::KeyDown(uint16_t& key, TShiftState shift) {
  TCustomMaskEdit::KeyDown(key, shift);
  if (key == VK_ESCAPE && Modified()) {
    link_.Reset();
    SelectAll();
    key = 0;
  } else if (key == VK_DELETE || (key == VK_INSERT && shift.Contains(ssShift))) {
    if (!link_.Edit()) {
      MessageBeep(0);
      key = 0;
    }
  }
}

void TDBEdit::KeyPress(char& key) {
  TCustomMaskEdit::KeyPress(key);
  if (key == 0 || !ChangesText(key)) return;
  TField* field = link_.Field();
  const bool printable = static_cast<unsigned char>(key) >= 32;
  if (field == nullptr || (printable && !field->IsValidChar(key)) || !link_.Edit()) {
    MessageBeep(0);
    key = 0;
  }
}

void TDBEdit::DoEnter() {
  SetFocused(true);
  TCustomMaskEdit::DoEnter();
}

void TDBEdit::DoExit() {
  // A failing write-back leaves the typed text and the focus (the caller gives it back).
  link_.UpdateRecord();
  SetFocused(false);
  TCustomMaskEdit::DoExit();
}

// ---- TDBMemo ----------------------------------------------------------------------------------

TDBMemo::TDBMemo(TComponent* owner) : TCustomMemo(owner) {
  link_.SetControl(this);
  link_.SetOnDataChange([this](TObject*) { DataChange(); });
  link_.SetOnEditingChange([this](TObject*) { EditingChange(); });
  link_.SetOnUpdateData([this](TObject*) { UpdateData(); });
  link_.SetOnActiveChange([this](TObject*) { EditingChange(); });
  TCustomMemo::SetReadOnly(true);
}

TDBMemo::~TDBMemo() {
  link_.SetOnDataChange(nullptr);
  link_.SetOnEditingChange(nullptr);
  link_.SetOnUpdateData(nullptr);
  link_.SetOnActiveChange(nullptr);
  link_.SetDataSource(nullptr);
}

void TDBMemo::SetDataSource(TDataSource* source) {
  if (TDataSource* old = link_.DataSource()) old->RemoveFreeNotification(this);
  link_.SetDataSource(source);
  if (source != nullptr) source->FreeNotification(this);
  DataChange();
  EditingChange();
}

void TDBMemo::Notification(TComponent* component, TOperation operation) {
  TCustomMemo::Notification(component, operation);
  if (operation == opRemove && component == link_.DataSource()) SetDataSource(nullptr);
}

void TDBMemo::SetReadOnly(bool read_only) {
  link_.SetReadOnly(read_only);
  EditingChange();
}

void TDBMemo::DataChange() {
  loading_ = true;
  try {
    TField* field = link_.Field();
    // A memo shows the whole text of a memo field (its display text is only a tag).
    if (field == nullptr) {
      SetText("");
    } else if (field->IsBlob()) {
      SetText(field->AsString());
    } else {
      SetText(link_.Editing() ? field->Text() : field->DisplayText());
    }
    SetModified(false);
  } catch (...) {
    loading_ = false;
    throw;
  }
  loading_ = false;
}

void TDBMemo::EditingChange() { TCustomMemo::SetReadOnly(!link_.Editing()); }

void TDBMemo::UpdateData() {
  TField* field = link_.Field();
  if (field == nullptr) return;
  if (field->IsBlob()) {
    field->SetAsString(Text());
  } else {
    field->SetText(Text());
  }
}

void TDBMemo::Change() {
  // Lines changed in code while editing count as the user's change.
  if (!loading_) link_.Modified();
  TCustomMemo::Change();
}

void TDBMemo::KeyDown(uint16_t& key, TShiftState shift) {
  TCustomMemo::KeyDown(key, shift);
  if (key == VK_ESCAPE && Modified()) {
    link_.Reset();
    key = 0;
  } else if (key == VK_DELETE || (key == VK_RETURN && WantReturns()) ||
             (key == VK_INSERT && shift.Contains(ssShift))) {
    if (!link_.Edit()) {
      MessageBeep(0);
      key = 0;
    }
  }
}

void TDBMemo::KeyPress(char& key) {
  TCustomMemo::KeyPress(key);
  if (key == 0 || !ChangesText(key)) return;
  TField* field = link_.Field();
  const bool printable = static_cast<unsigned char>(key) >= 32;
  if (field == nullptr || (printable && !field->IsValidChar(key)) || !link_.Edit()) {
    MessageBeep(0);
    key = 0;
  }
}

void TDBMemo::DoExit() {
  link_.UpdateRecord();
  TCustomMemo::DoExit();
}

}  // namespace cl
