#include "components/ui/TOxDBComboBox.h"

#include "classlib/db/TField.h"
#include "classlib/forms/Dialogs.h"

namespace comp {
namespace {

constexpr char kBackspace = 8;
constexpr char kCtrlV = 22;
constexpr char kCtrlX = 24;

bool ListStyle(cl::TComboBoxStyle style) { return style == cl::csDropDownList; }

// Re-runs `then` after every change of `list`, after the handler it had.
void FollowChanges(cl::TStrings& strings, std::function<void()> then) {
  auto& list = static_cast<cl::TStringList&>(strings);
  cl::TNotifyEvent previous = list.OnChange();
  list.SetOnChange([previous, then](cl::TObject* sender) {
    if (previous) previous(sender);
    then();
  });
}

}  // namespace

// ---- TCustomDBComboBox ------------------------------------------------------------------------

TCustomDBComboBox::TCustomDBComboBox(cl::TComponent* owner) : cl::TComboBox(owner) {
  link_.SetControl(this);
  link_.SetOnDataChange([this](cl::TObject*) { DataChange(); });
  link_.SetOnEditingChange([this](cl::TObject*) { EditingChange(); });
  link_.SetOnUpdateData([this](cl::TObject*) { UpdateData(); });
  link_.SetOnActiveChange([this](cl::TObject*) {
    DataChange();
    EditingChange();
  });
  FollowChanges(Items(), [this] { DataChange(); });
  EditingChange();
}

TCustomDBComboBox::~TCustomDBComboBox() {
  link_.SetOnDataChange(nullptr);
  link_.SetOnEditingChange(nullptr);
  link_.SetOnUpdateData(nullptr);
  link_.SetOnActiveChange(nullptr);
  link_.SetDataSource(nullptr);
}

void TCustomDBComboBox::SetDataSource(cl::TDataSource* source) {
  if (cl::TDataSource* old = link_.DataSource()) old->RemoveFreeNotification(this);
  link_.SetDataSource(source);
  if (source != nullptr) source->FreeNotification(this);
  DataChange();
  EditingChange();
}

void TCustomDBComboBox::Notification(cl::TComponent* component, cl::TOperation operation) {
  cl::TComboBox::Notification(component, operation);
  if (operation == cl::opRemove && component == link_.DataSource()) SetDataSource(nullptr);
}

void TCustomDBComboBox::SetReadOnly(bool read_only) {
  link_.SetReadOnly(read_only);
  EditingChange();
}

void TCustomDBComboBox::SetStyle(cl::TComboBoxStyle style) {
  asked_style_ = style;
  cl::TComboBox::SetStyle(ForcedStyle(style));
  EditingChange();
  DataChange();
}

void TCustomDBComboBox::EditingChange() { cl::TComboBox::SetReadOnly(!link_.CanModify()); }

void TCustomDBComboBox::DataChange() {
  if (DroppedDown() || starting_edit_) return;
  cl::TField* field = link_.Field();
  // Like the data-aware edits: no more typed than the field keeps, rather than cut at the post.
  SetMaxLength(field != nullptr && field->DataType() == cl::ftString ? field->Size() : 0);
  loading_ = true;
  try {
    SetComboText(field != nullptr ? field->Text() : std::string());
  } catch (...) {
    loading_ = false;
    throw;
  }
  loading_ = false;
}

void TCustomDBComboBox::UpdateData() {
  if (cl::TField* field = link_.Field()) field->SetText(GetComboText());
}

std::string TCustomDBComboBox::GetComboText() {
  if (!ListStyle(Style())) return Text();
  const int index = ItemIndex();
  return index >= 0 && index < Items().Count() ? Items().Get(index) : std::string();
}

void TCustomDBComboBox::SetComboText(const std::string& text) {
  const bool simple = Style() == cl::csSimple;
  int index = simple ? -1 : Items().IndexOf(text);
  if (index >= Items().Count()) index = -1;
  if (text == GetComboText() && (simple || index == ItemIndex())) return;
  if (!simple) {
    SelectIndex(index);
    if (index >= 0) return;
  }
  if (!ListStyle(Style())) cl::TComboBox::SetText(text);
}

void TCustomDBComboBox::SelectIndex(int index) { cl::TComboBox::SetItemIndex(index); }

bool TCustomDBComboBox::StartEdit() {
  // Entering the edit may re-read the record: the user's pending change must not be replaced
  // by the stored value it is about to overwrite.
  const bool was_starting = starting_edit_;
  starting_edit_ = true;
  bool editing = false;
  try {
    editing = link_.Edit();
  } catch (...) {
    starting_edit_ = was_starting;
    throw;
  }
  starting_edit_ = was_starting;
  return editing;
}

bool TCustomDBComboBox::UserChange() {
  if (loading_) return false;
  if (!StartEdit()) {
    // The dataset refuses the edit: the shown value goes back to the field's.
    link_.Reset();
    return false;
  }
  return true;
}

void TCustomDBComboBox::Change() {
  if (!UserChange()) return;
  cl::TComboBox::Change();
  link_.Modified();
}

void TCustomDBComboBox::Click() {
  if (!UserChange()) return;
  cl::TComboBox::Click();
  link_.Modified();
}

void TCustomDBComboBox::DropDown() {
  StartEdit();
  cl::TComboBox::DropDown();
}

void TCustomDBComboBox::CloseUp() {
  cl::TComboBox::CloseUp();
  if (!link_.Editing()) DataChange();
}

void TCustomDBComboBox::KeyDown(uint16_t& key, cl::TShiftState shift) {
  cl::TComboBox::KeyDown(key, shift);
  if (key == cl::VK_ESCAPE) {
    // Consumed only while editing, so that a dialog's Cancel button still hears it otherwise.
    const bool editing = link_.Editing();
    link_.Reset();
    SelectAll();
    if (editing) key = 0;
  } else if ((key == cl::VK_UP || key == cl::VK_DOWN) && !StartEdit()) {
    key = 0;
  }
}

void TCustomDBComboBox::KeyPress(char& key) {
  cl::TComboBox::KeyPress(key);
  const auto c = static_cast<unsigned char>(key);
  const bool printable = c >= 32;
  if (!printable && key != kBackspace && key != kCtrlV && key != kCtrlX) return;
  cl::TField* field = link_.Field();
  if (printable && field != nullptr && !field->IsValidChar(key)) {
    cl::MessageBeep(0);
    key = 0;
    return;
  }
  // A key the dataset will not let change the value is dropped.
  if (!StartEdit()) key = 0;
}

void TCustomDBComboBox::DoExit() {
  // A failing write-back leaves the choice and the focus (the caller gives it back).
  link_.UpdateRecord();
  cl::TComboBox::DoExit();
}

// ---- TOxDBComboBox ----------------------------------------------------------------------------

TOxDBComboBox::TOxDBComboBox(cl::TComponent* owner)
    : TCustomDBComboBox(owner), values_(std::make_unique<cl::TStringList>()) {
  FollowChanges(*values_, [this] {
    if (enable_values_) DataChange();
  });
}

TOxDBComboBox::~TOxDBComboBox() = default;

void TOxDBComboBox::SetEnableValues(bool enable) {
  if (enable_values_ == enable) return;
  enable_values_ = enable;
  ApplyStyle();
}

cl::TComboBoxStyle TOxDBComboBox::ForcedStyle(cl::TComboBoxStyle style) const {
  return enable_values_ ? cl::csDropDownList : style;
}

std::string TOxDBComboBox::GetComboText() {
  if (!enable_values_) return TCustomDBComboBox::GetComboText();
  const int index = ItemIndex();
  return index >= 0 && index < values_->Count() ? values_->Get(index) : std::string();
}

void TOxDBComboBox::SetComboText(const std::string& text) {
  if (!enable_values_) {
    TCustomDBComboBox::SetComboText(text);
    return;
  }
  if (text == GetComboText() && ItemIndex() >= 0) return;
  int index = values_->IndexOf(text);
  if (index >= Items().Count()) index = -1;
  SelectIndex(index);
}

}  // namespace comp
