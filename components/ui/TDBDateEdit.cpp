#include "components/ui/TDBDateEdit.h"

#include "classlib/db/TDataSet.h"
#include "classlib/db/TField.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/FormatSettings.h"

namespace comp {

TDBDateEdit::TDBDateEdit(cl::TComponent* owner) : TCustomDateEdit(owner) {
  link_.SetControl(this);
  link_.SetOnDataChange([this](cl::TObject*) { DataChange(); });
  link_.SetOnEditingChange([this](cl::TObject*) { EditingChange(); });
  link_.SetOnActiveChange([this](cl::TObject*) { EditingChange(); });
  link_.SetOnUpdateData([this](cl::TObject*) { UpdateData(); });
  UpdateEditable();
}

TDBDateEdit::~TDBDateEdit() {
  link_.SetOnDataChange(nullptr);
  link_.SetOnEditingChange(nullptr);
  link_.SetOnActiveChange(nullptr);
  link_.SetOnUpdateData(nullptr);
  link_.SetDataSource(nullptr);
}

void TDBDateEdit::SetDataSource(cl::TDataSource* source) {
  if (cl::TDataSource* old = link_.DataSource()) old->RemoveFreeNotification(this);
  link_.SetDataSource(source);
  if (source != nullptr) source->FreeNotification(this);
  DataChange();
  EditingChange();
}

void TDBDateEdit::Notification(cl::TComponent* component, cl::TOperation operation) {
  TCustomDateEdit::Notification(component, operation);
  if (operation == cl::opRemove && component == link_.DataSource()) SetDataSource(nullptr);
}

void TDBDateEdit::SetReadOnly(bool read_only) {
  link_.SetReadOnly(read_only);
  UpdateEditable();
}

bool TDBDateEdit::TextLocked() const { return TCustomDateEdit::TextLocked() || !link_.Editing(); }

void TDBDateEdit::DataChange() {
  loading_ = true;
  try {
    UpdateFormat();
    cl::TField* field = link_.Field();
    SetDate(field == nullptr || field->IsNull() ? kNullDate : field->AsDateTime());
    SetModified(false);
  } catch (...) {
    loading_ = false;
    throw;
  }
  loading_ = false;
}

void TDBDateEdit::EditingChange() {
  UpdateEditable();
  cl::TField* field = link_.Field();
  if (link_.Editing() && DefaultToday() && field != nullptr && field->AsDateTime() == kNullDate) {
    field->SetAsDateTime(cl::Now());
  }
}

void TDBDateEdit::UpdateData() {
  ValidateEdit();
  cl::TField* field = link_.Field();
  if (field == nullptr) return;
  if (TextIsEmpty()) {
    field->Clear();
    return;
  }
  // A text that is no date must not reach the field as the default date.
  CheckValidDate();
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  if (!field->IsNull()) cl::DecodeTime(field->AsDateTime(), hour, minute, second, millisecond);
  field->SetAsDateTime(
      cl::ComposeDateTime(Date(), cl::EncodeTime(hour, minute, second, millisecond)));
}

void TDBDateEdit::Change() {
  if (!loading_) link_.Modified();
  TCustomDateEdit::Change();
}

void TDBDateEdit::DoClick() {
  if (!GetReadOnly()) link_.Edit();
  TCustomDateEdit::DoClick();
}

void TDBDateEdit::PopupDropDown(bool disable_edit) {
  cl::TDataSet* data_set = link_.DataSet();
  if (data_set == nullptr || !data_set->CanModify() || !link_.Edit()) return;
  TCustomDateEdit::PopupDropDown(disable_edit);
}

bool TDBDateEdit::AcceptPopup(cl::Variant& value) {
  return link_.Edit() && TCustomDateEdit::AcceptPopup(value);
}

bool TDBDateEdit::ExecuteDialog(cl::TDateTime& date) {
  return link_.Editing() && TCustomDateEdit::ExecuteDialog(date);
}

void TDBDateEdit::KeyDown(uint16_t& key, cl::TShiftState shift) {
  if (!PopupVisible()) {
    if (key == cl::VK_ESCAPE) {
      link_.Reset();
      SelectAll();
      key = 0;
      return;
    }
    const bool insert = key == cl::VK_INSERT && shift.Contains(cl::ssShift);
    if ((key == cl::VK_DELETE || insert) && !GetReadOnly()) link_.Edit();
    // Backspace, Ctrl+V and Ctrl+X reach the toolkit as keys without a character: the edit
    // must start before the text widget acts on them.
    const bool ctrl = shift.Contains(cl::ssCtrl);
    if (key == cl::VK_BACK || (ctrl && (key == 'V' || key == 'X'))) link_.Edit();
  }
  TCustomDateEdit::KeyDown(key, shift);
}

void TDBDateEdit::KeyPress(char& key) {
  if (!PopupVisible()) {
    const auto c = static_cast<unsigned char>(key);
    const bool digit = key >= '0' && key <= '9';
    if (c >= 32 && !digit && key != cl::CurrentFormatSettings().DateSeparator) {
      cl::MessageBeep(0);
      key = 0;
      return;
    }
    // Backspace, Ctrl+V, Ctrl+X.
    if (digit || c == 8 || c == 22 || c == 24) link_.Edit();
  }
  TCustomDateEdit::KeyPress(key);
}

void TDBDateEdit::DoExit() {
  // A failing write-back keeps the typed text and the focus (the class library gives it back).
  link_.UpdateRecord();
  TCustomDateEdit::DoExit();
}

}  // namespace comp
