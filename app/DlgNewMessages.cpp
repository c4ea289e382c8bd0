#include "app/DlgNewMessages.h"

#include <memory>

#include "app/MMirvel.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Loader.h"

namespace mirvel {

TDlgNewMessages* DlgNewMessages = nullptr;

TDlgNewMessages::TDlgNewMessages(cl::TComponent* owner) : cl::TForm(owner) {
  cl::TLoader loader(this);
  SetName("DlgNewMessages");
  SetBounds(0, 0, 300, 110);
  SetBorderStyle(cl::bsDialog);
  SetBorderIcons({cl::biSystemMenu});
  SetFormStyle(cl::fsStayOnTop);
  SetPosition(cl::poScreenCenter);
  SetHelpContext(100);

  LabelNouveau = loader.Create<cl::TLabel>(this, "LabelNouveau");
  LabelNouveau->SetParent(this);
  LabelNouveau->SetCaption(kNewMessagesLabel);
  LabelNouveau->SetBounds(20, 16, 260, 13);

  btnVoir = loader.Create<cl::TButton>(this, "btnVoir");
  btnVoir->SetParent(this);
  btnVoir->SetCaption("Aller &voir");
  btnVoir->SetModalResult(cl::mrOk);
  btnVoir->SetDefault(true);
  btnVoir->SetBounds(60, 60, 85, 25);

  btnIgnorer = loader.Create<cl::TButton>(this, "btnIgnorer");
  btnIgnorer->SetParent(this);
  btnIgnorer->SetCaption("&Ignorer");
  btnIgnorer->SetModalResult(cl::mrIgnore);
  btnIgnorer->SetCancel(true);
  btnIgnorer->SetBounds(155, 60, 85, 25);

  SetOnShow([this](cl::TObject* s) { FormShow(s); });
  loader.Finish();
  DlgNewMessages = this;
}

TDlgNewMessages::~TDlgNewMessages() {
  if (DlgNewMessages == this) DlgNewMessages = nullptr;
}

void TDlgNewMessages::FormShow(cl::TObject*) {
  SetCaption(cl::Application().Title());
  BringToFront();
}

bool ShowNewMessagesDialog(bool unread) {
  std::unique_ptr<TDlgNewMessages> dialog(cl::Create<TDlgNewMessages>(nullptr));
  if (unread) dialog->LabelNouveau->SetCaption(kUnreadLabel);
  return dialog->ShowModal() == cl::mrOk;
}

}  // namespace mirvel
