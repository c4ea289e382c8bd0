#include "engine/components/dialogs/TTesseraPasswordDialog.h"

#include <memory>

#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Units.h"

namespace tessera {

TTesseraPasswordDialog::TTesseraPasswordDialog(cl::TComponent* owner) : cl::TForm(owner) {
  SetName("TesseraPasswordDialog");
  SetCaption("Enter password");
  SetBounds(0, 0, 273, 132);
  SetBorderStyle(cl::bsDialog);  // fixes the size it finds
  SetPosition(cl::poScreenCenter);

  GroupBox1 = new cl::TGroupBox(this);
  GroupBox1->SetName("GroupBox1");
  GroupBox1->SetParent(this);
  GroupBox1->SetCaption("Password");
  GroupBox1->SetBounds(8, 8, 257, 81);

  Edit = new cl::TEdit(this);
  Edit->SetName("Edit");
  Edit->SetParent(GroupBox1);
  Edit->SetBounds(16, 18, 225, 21);
  Edit->SetPasswordChar('*');
  Edit->SetOnChange([this](cl::TObject* sender) { EditChange(sender); });

  auto button = [this](cl::TButton*& b, const char* name, const char* caption, int left, int top,
                       int width, cl::TWinControl* parent) {
    b = new cl::TButton(this);
    b->SetName(name);
    b->SetParent(parent);
    b->SetCaption(caption);
    b->SetBounds(left, top, width, 25);
  };
  button(AddButton, "AddButton", "&Add", 16, 46, 65, GroupBox1);
  AddButton->SetEnabled(false);
  AddButton->SetOnClick([this](cl::TObject* sender) { AddButtonClick(sender); });
  button(RemoveButton, "RemoveButton", "&Remove", 88, 46, 65, GroupBox1);
  RemoveButton->SetEnabled(false);
  RemoveButton->SetOnClick([this](cl::TObject* sender) { RemoveButtonClick(sender); });
  button(RemoveAllButton, "RemoveAllButton", "Re&move all", 160, 46, 81, GroupBox1);
  RemoveAllButton->SetOnClick([this](cl::TObject* sender) { RemoveAllButtonClick(sender); });
  button(OKButton, "OKButton", "&OK", 109, 98, 75, this);
  OKButton->SetDefault(true);
  OKButton->SetEnabled(false);
  OKButton->SetModalResult(cl::mrOk);
  OKButton->SetOnClick([this](cl::TObject* sender) { OKButtonClick(sender); });
  button(CancelButton, "CancelButton", "Cancel", 190, 98, 75, this);
  CancelButton->SetCancel(true);
  CancelButton->SetModalResult(cl::mrCancel);
  SetActiveControl(Edit);
}

void TTesseraPasswordDialog::EditChange(cl::TObject*) {
  const bool has_text = !Edit->Text().empty();
  AddButton->SetEnabled(has_text);
  RemoveButton->SetEnabled(has_text);
  OKButton->SetEnabled(has_text || added_);
}

void TTesseraPasswordDialog::AddButtonClick(cl::TObject*) {
  session_->AddPassword(Edit->Text());
  added_ = true;
  Edit->Clear();
  Edit->SetFocus();
}

void TTesseraPasswordDialog::RemoveButtonClick(cl::TObject*) {
  session_->RemovePassword(Edit->Text());
  Edit->Clear();
  Edit->SetFocus();
}

void TTesseraPasswordDialog::RemoveAllButtonClick(cl::TObject*) {
  session_->RemoveAllPasswords();
  Edit->SetFocus();
}

void TTesseraPasswordDialog::OKButtonClick(cl::TObject*) {
  // An empty text goes as it is: the session ignores it.
  session_->AddPassword(Edit->Text());
  SetModalResult(cl::mrOk);
}

bool PasswordDialog(TTesseraSession& session) {
  std::unique_ptr<TTesseraPasswordDialog> dialog(cl::Create<TTesseraPasswordDialog>(nullptr));
  dialog->SetSession(&session);
  return dialog->ShowModal() == cl::mrOk;
}

void RegisterPasswordDialogUnit() {
  cl::RegisterUnit(
      "TesseraPw", [] { SetDefaultPasswordRequest(PasswordDialog); },
      [] { SetDefaultPasswordRequest(nullptr); }, 300);
}

}  // namespace tessera
