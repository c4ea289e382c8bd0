#include "classlib/dbforms/DBCtrls.h"

#include <QTimer>
#include <QWidget>
#include <algorithm>

#include "classlib/db/TDataSet.h"
#include "classlib/db/TField.h"
#include "classlib/forms/ControlImpl.h"
#include "classlib/forms/Dialogs.h"

namespace cl {
namespace {

// Keys that change the text: printable characters, Backspace, Ctrl+V and Ctrl+X.
bool ChangesText(char key) {
  const auto c = static_cast<unsigned char>(key);
  return c >= 32 || c == 8 || c == 22 || c == 24;
}

// A key that changes the text starts the edit; one the field cannot take, or an edit the dataset
// refuses, beeps and is dropped.
void StartEditOrRefuse(TControlDataLink& link, char& key) {
  if (key == 0 || !ChangesText(key)) return;
  TField* field = link.Field();
  const bool printable = static_cast<unsigned char>(key) >= 32;
  if (field == nullptr || (printable && !field->IsValidChar(key)) || !link.Edit()) {
    MessageBeep(0);
    key = 0;
  }
}

}  // namespace

void TControlDataLink::FocusControl(TField** field) {
  if (field == nullptr || *field == nullptr || *field != Field()) return;
  if (auto* control = dynamic_cast<TWinControl*>(Control()); control && control->CanFocus()) {
    *field = nullptr;
    control->SetFocus();
  }
}

// ---- TDBTextControl ---------------------------------------------------------------------------

// The link's data and editing changes refresh the control, an update asks it to write its text
// back.
template <class TBase>
TDBTextControl<TBase>::TDBTextControl(TComponent* owner) : TDBFieldControl<TBase>(owner) {
  this->link_.SetControl(this);
  this->link_.SetOnDataChange([this](TObject*) { DataChange(); });
  this->link_.SetOnEditingChange([this](TObject*) { EditingChange(); });
  this->link_.SetOnUpdateData([this](TObject*) { UpdateData(); });
  this->link_.SetOnActiveChange([this](TObject*) { EditingChange(); });
  TBase::SetReadOnly(true);
}

template <class TBase>
TDBTextControl<TBase>::~TDBTextControl() {
  this->link_.SetOnDataChange(nullptr);
  this->link_.SetOnEditingChange(nullptr);
  this->link_.SetOnUpdateData(nullptr);
  this->link_.SetOnActiveChange(nullptr);
  this->link_.SetDataSource(nullptr);
}

template <class TBase>
void TDBTextControl<TBase>::DataSourceChanged() {
  DataChange();
  EditingChange();
}

template <class TBase>
void TDBTextControl<TBase>::SetReadOnly(bool read_only) {
  this->link_.SetReadOnly(read_only);
  EditingChange();
}

template <class TBase>
void TDBTextControl<TBase>::DataChange() {
  loading_ = true;
  try {
    ShowField();
    this->SetModified(false);
  } catch (...) {
    loading_ = false;
    throw;
  }
  loading_ = false;
}

template <class TBase>
void TDBTextControl<TBase>::EditingChange() {
  TBase::SetReadOnly(!this->link_.Editing());
}

template <class TBase>
void TDBTextControl<TBase>::Change() {
  if (!loading_) this->link_.Modified();
  TBase::Change();
}

template <class TBase>
void TDBTextControl<TBase>::KeyPress(char& key) {
  TBase::KeyPress(key);
  StartEditOrRefuse(this->link_, key);
}

template class TDBTextControl<TCustomMaskEdit>;
template class TDBTextControl<TCustomMemo>;

// ---- TDBEdit ----------------------------------------------------------------------------------

void TDBEdit::ShowField() {
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
}

void TDBEdit::UpdateData() {
  ValidateEdit();
  if (TField* field = link_.Field()) field->SetText(Text());
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

void TDBMemo::ShowField() {
  TField* field = link_.Field();
  // A memo shows the whole text of a memo field (its display text is only a tag).
  if (field == nullptr) {
    SetText("");
  } else if (field->IsBlob()) {
    SetText(field->AsString());
  } else {
    SetText(link_.Editing() ? field->Text() : field->DisplayText());
  }
}

void TDBMemo::UpdateData() {
  TField* field = link_.Field();
  if (field == nullptr) return;
  if (field->IsBlob()) {
    field->SetAsString(Text());
  } else {
    field->SetText(Text());
  }
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

void TDBMemo::DoExit() {
  link_.UpdateRecord();
  TCustomMemo::DoExit();
}

}  // namespace cl

// ---- TDBNavigator -----------------------------------------------------------------------------

namespace cl {
namespace {

// clang-format off
const char* const kDefaultHints[TDBNavigator::kButtonCount] = {
    "Premier enregistrement", "Enregistrement pr\xE9" "c\xE9" "dent", "Enregistrement suivant",
    "Dernier enregistrement", "Ins\xE9rer un enregistrement", "Supprimer l'enregistrement",
    "Modifier l'enregistrement", "Valider les modifications", "Annuler les modifications",
    "Rafra\xEE" "chir les donn\xE9" "es"};
// clang-format on

}  // namespace

void TNavDataLink::ActiveChanged() { navigator_->UpdateButtons(); }
void TNavDataLink::DataSetChanged() { navigator_->UpdateButtons(); }
void TNavDataLink::EditingChanged() { navigator_->UpdateButtons(); }

TDBNavigator::TDBNavigator(TComponent* owner)
    : TCustomControl(owner), hints_(std::make_unique<TStringList>()) {
  for (const char* hint : kDefaultHints) hints_->Add(hint);
  SetBounds(0, 0, 240, 25);
  UpdateButtons();
}

TDBNavigator::~TDBNavigator() { link_.SetDataSource(nullptr); }

void TDBNavigator::SetDataSource(TDataSource* source) {
  if (TDataSource* old = link_.DataSource()) old->RemoveFreeNotification(this);
  link_.SetDataSource(source);
  if (source != nullptr) source->FreeNotification(this);
  UpdateButtons();
}

void TDBNavigator::Notification(TComponent* component, TOperation operation) {
  TCustomControl::Notification(component, operation);
  if (operation == opRemove && component == link_.DataSource()) SetDataSource(nullptr);
}

void TDBNavigator::SetVisibleButtons(TButtonSet buttons) {
  visible_ = buttons;
  Invalidate();
}

void TDBNavigator::UpdateButtons() {
  enabled_.fill(false);
  TDataSet* dataset = link_.Active() ? link_.DataSet() : nullptr;
  if (dataset != nullptr && Enabled()) {
    const bool can_modify = dataset->CanModify();
    const bool editing = link_.Editing();
    enabled_[nbFirst] = enabled_[nbPrior] = !dataset->Bof();
    enabled_[nbNext] = enabled_[nbLast] = !dataset->Eof();
    enabled_[nbInsert] = can_modify;
    enabled_[nbDelete] = can_modify && !dataset->IsEmpty();
    enabled_[nbEdit] = can_modify && !editing;
    enabled_[nbPost] = enabled_[nbCancel] = editing;
    enabled_[nbRefresh] = true;
  }
  Invalidate();
}

TRect TDBNavigator::ButtonRect(TNavigateBtn button) const {
  int count = 0;
  int index = -1;
  for (int b = 0; b < kButtonCount; ++b) {
    if (!visible_.Contains(static_cast<TNavigateBtn>(b))) continue;
    if (b == button) index = count;
    ++count;
  }
  if (index < 0) return Rect(0, 0, 0, 0);
  const TRect client = ClientRect();
  const int left = client.Width() * index / count;
  const int right = client.Width() * (index + 1) / count;
  return Rect(left, 0, right, client.Height());
}

int TDBNavigator::ButtonAt(int x, int y) const {
  for (int b = 0; b < kButtonCount; ++b) {
    const TRect r = ButtonRect(static_cast<TNavigateBtn>(b));
    if (x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom) return b;
  }
  return -1;
}

void TDBNavigator::BtnClick(TNavigateBtn button) {
  if (!visible_.Contains(button) || !enabled_[button]) return;
  if (before_action_) {
    TNavClickEvent handler = before_action_;
    handler(this, button);  // Abort stops the action here
  }
  TDataSet* dataset = link_.DataSet();
  if (dataset != nullptr && link_.Active()) {
    switch (button) {
      case nbFirst:
        dataset->First();
        break;
      case nbPrior:
        dataset->Prior();
        break;
      case nbNext:
        dataset->Next();
        break;
      case nbLast:
        dataset->Last();
        break;
      case nbInsert:
        dataset->Insert();
        break;
      case nbDelete:
        if (!confirm_delete_ || MessageDlg("Supprimer l'enregistrement ?", mtConfirmation,
                                           TMsgDlgButtons{mbOK, mbCancel}, 0) != mrCancel) {
          dataset->Delete();
        }
        break;
      case nbEdit:
        dataset->Edit();
        break;
      case nbPost:
        dataset->Post();
        break;
      case nbCancel:
        dataset->Cancel();
        break;
      case nbRefresh:
        dataset->Refresh();
        break;
    }
  }
  if (on_click_) {
    TNavClickEvent handler = on_click_;
    handler(this, button);
  }
}

void TDBNavigator::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TCustomControl::MouseDown(button, shift, x, y);
  if (button != mbLeft) return;
  pressed_ = ButtonAt(x, y);
  Invalidate();
}

void TDBNavigator::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  TCustomControl::MouseUp(button, shift, x, y);
  if (button != mbLeft) return;
  const int pressed = pressed_;
  pressed_ = -1;
  Invalidate();
  if (pressed >= 0 && ButtonAt(x, y) == pressed) BtnClick(static_cast<TNavigateBtn>(pressed));
}

void TDBNavigator::MouseMove(TShiftState shift, int x, int y) {
  TCustomControl::MouseMove(shift, x, y);
  const int at = ButtonAt(x, y);
  if (at == hint_button_) return;
  hint_button_ = at;
  SetHint(at >= 0 && at < hints_->Count() ? hints_->Get(at) : std::string());
}

void TDBNavigator::Paint() {
  TCanvas& canvas = Canvas();
  for (int b = 0; b < kButtonCount; ++b) {
    const auto button = static_cast<TNavigateBtn>(b);
    const TRect r = ButtonRect(button);
    if (r.Width() <= 0) continue;
    canvas.Brush().SetColor(clBtnFace);
    canvas.FillRect(r);
    const bool down = b == pressed_;
    canvas.Pen().SetColor(down ? clBtnShadow : clBtnHighlight);
    canvas.MoveTo(r.Left, r.Bottom - 1);
    canvas.LineTo(r.Left, r.Top);
    canvas.LineTo(r.Right - 1, r.Top);
    canvas.Pen().SetColor(down ? clBtnHighlight : clBtnShadow);
    canvas.LineTo(r.Right - 1, r.Bottom - 1);
    canvas.LineTo(r.Left, r.Bottom - 1);
    DrawGlyph(button, r, enabled_[b]);
  }
}

// The glyphs are drawn with lines: triangles for the moves, a plus, a minus, a triangle up for
// edit, a check, a cross and a circle-like arrow for refresh.
void TDBNavigator::DrawGlyph(TNavigateBtn button, const TRect& rect, bool enabled) {
  TCanvas& canvas = Canvas();
  canvas.Pen().SetColor(enabled ? clBlack : clGrayText);
  const int cx = (rect.Left + rect.Right) / 2;
  const int cy = (rect.Top + rect.Bottom) / 2;
  auto triangle = [&](int tip_x, int dir) {  // dir -1 points left, +1 right
    for (int i = 0; i < 5; ++i) {
      canvas.MoveTo(tip_x - dir * i, cy - i);
      canvas.LineTo(tip_x - dir * i, cy + i + 1);
    }
  };
  auto bar = [&](int x) {
    canvas.MoveTo(x, cy - 4);
    canvas.LineTo(x, cy + 5);
    canvas.MoveTo(x + 1, cy - 4);
    canvas.LineTo(x + 1, cy + 5);
  };
  switch (button) {
    case nbFirst:
      bar(cx - 5);
      triangle(cx - 2, -1);
      break;
    case nbPrior:
      triangle(cx - 2, -1);
      break;
    case nbNext:
      triangle(cx + 2, 1);
      break;
    case nbLast:
      triangle(cx + 2, 1);
      bar(cx + 4);
      break;
    case nbInsert:
      for (int d = 0; d < 2; ++d) {
        canvas.MoveTo(cx - 4, cy + d);
        canvas.LineTo(cx + 5, cy + d);
        canvas.MoveTo(cx + d, cy - 4);
        canvas.LineTo(cx + d, cy + 5);
      }
      break;
    case nbDelete:
      for (int d = 0; d < 2; ++d) {
        canvas.MoveTo(cx - 4, cy + d);
        canvas.LineTo(cx + 5, cy + d);
      }
      break;
    case nbEdit:
      for (int i = 0; i < 5; ++i) {
        canvas.MoveTo(cx - i, cy - 2 + i);
        canvas.LineTo(cx + i + 1, cy - 2 + i);
      }
      break;
    case nbPost:
      canvas.MoveTo(cx - 4, cy);
      canvas.LineTo(cx - 1, cy + 3);
      canvas.LineTo(cx + 5, cy - 3);
      break;
    case nbCancel:
      canvas.MoveTo(cx - 4, cy - 4);
      canvas.LineTo(cx + 5, cy + 5);
      canvas.MoveTo(cx + 4, cy - 4);
      canvas.LineTo(cx - 5, cy + 5);
      break;
    case nbRefresh:
      canvas.MoveTo(cx + 4, cy - 2);
      canvas.LineTo(cx + 2, cy - 4);
      canvas.LineTo(cx - 3, cy - 4);
      canvas.LineTo(cx - 4, cy - 2);
      canvas.LineTo(cx - 4, cy + 2);
      canvas.LineTo(cx - 2, cy + 4);
      canvas.LineTo(cx + 3, cy + 4);
      canvas.LineTo(cx + 4, cy + 2);
      break;
  }
}

}  // namespace cl

// ---- TDBLookupComboBox ------------------------------------------------------------------------

namespace cl {

TDBLookupComboBox::TDBLookupComboBox(TComponent* owner) : TDBFieldControl(owner) {
  SetStyle(csDropDownList);
  link_.SetControl(this);
  link_.SetOnDataChange([this](TObject*) { DataChange(); });
  link_.SetOnActiveChange([this](TObject*) { DataChange(); });
}

TDBLookupComboBox::~TDBLookupComboBox() {
  link_.SetOnDataChange(nullptr);
  link_.SetOnActiveChange(nullptr);
  link_.SetDataSource(nullptr);
}

TField* TDBLookupComboBox::KeyField() const {
  TField* field = link_.Field();
  if (field == nullptr || field->KeyFields().empty()) return nullptr;
  return field->DataSet()->FindField(field->KeyFields());
}

void TDBLookupComboBox::ReadList() {
  TField* field = link_.Field();
  TDataSet* lookup = field ? field->LookupDataSet() : nullptr;
  std::vector<std::string> keys;
  std::vector<std::string> texts;
  if (lookup != nullptr && lookup->Active()) {
    TField* key = lookup->FieldByName(field->LookupKeyFields());
    TField* result = lookup->FieldByName(field->LookupResultField());
    lookup->DisableControls();
    const TBookmark mark = lookup->GetBookmark();
    try {
      for (lookup->First(); !lookup->Eof(); lookup->Next()) {
        keys.push_back(key->AsString());
        texts.push_back(result->DisplayText());
      }
    } catch (...) {
      if (!mark.empty()) lookup->GotoBookmark(mark);
      lookup->EnableControls();
      throw;
    }
    if (!mark.empty()) lookup->GotoBookmark(mark);
    lookup->EnableControls();
  }
  keys_ = std::move(keys);
  Items().BeginUpdate();
  Items().Clear();
  for (const std::string& text : texts) Items().Add(text);
  Items().EndUpdate();
}

void TDBLookupComboBox::DataChange() {
  TField* key = KeyField();
  if (key == nullptr) {
    keys_.clear();
    Items().Clear();
    return;
  }
  if (keys_.empty()) ReadList();
  const std::string value = key->AsString();
  auto it = std::find(keys_.begin(), keys_.end(), value);
  if (it == keys_.end() && !key->IsNull()) {
    // A key missing from the list was added to the lookup table after the list was read.
    ReadList();
    it = std::find(keys_.begin(), keys_.end(), value);
  }
  SetItemIndex(it == keys_.end() || key->IsNull() ? -1 : static_cast<int>(it - keys_.begin()));
  applied_ = ItemIndex();
}

void TDBLookupComboBox::DropDown() {
  if (!PopupOpening()) {
    SetDroppedDown(true);
    return;
  }
  ReadList();
  DataChange();
  TComboBox::DropDown();
}

void TDBLookupComboBox::ApplyChoice() {
  const int index = ItemIndex();
  if (index < 0 || index == applied_ || index >= static_cast<int>(keys_.size())) return;
  TField* key = KeyField();
  if (key == nullptr || !link_.Edit()) {
    MessageBeep(0);
    DataChange();
    return;
  }
  key->SetAsString(keys_[static_cast<size_t>(index)]);
  // The key's change reaches the lookup field's link only through a refresh: show it here.
  SetItemIndex(index);
  applied_ = index;
}

void TDBLookupComboBox::Change() {
  ApplyChoice();
  FireCloseUp();
  TComboBox::Change();
}

void TDBLookupComboBox::CloseUp() {
  // The list tells of its closing before the choice arrives (Change): OnCloseUp waits for it,
  // or for the loop's next turn when nothing was chosen.
  close_pending_ = true;
  QTimer::singleShot(0, WidgetOf(this), [this] { CallGuarded(this, [this] { FireCloseUp(); }); });
}

void TDBLookupComboBox::FireCloseUp() {
  if (!close_pending_) return;
  close_pending_ = false;
  TComboBox::CloseUp();
}

}  // namespace cl
