#include "app/DlgChoixDatabaseMirvel.h"

#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Loader.h"

namespace mirvel {

TDlgChoixDatabaseMirvel::TDlgChoixDatabaseMirvel(cl::TComponent* owner) : cl::TForm(owner) {
  cl::TLoader loader(this);
  SetName("DlgChoixDatabaseMirvel");
  SetCaption(kChooseDatabaseCaption);
  SetBounds(0, 0, 420, 130);
  SetBorderStyle(cl::bsDialog);
  SetPosition(cl::poScreenCenter);
  SetHelpContext(100);

  Label1 = loader.Create<cl::TLabel>(this, "Label1");
  Label1->SetParent(this);
  Label1->SetCaption(kChooseDatabaseText);
  Label1->SetBounds(8, 8, 400, 13);

  DirectoryEdit1 = loader.Create<comp::TDirectoryEdit>(this, "DirectoryEdit1");
  DirectoryEdit1->SetParent(this);
  DirectoryEdit1->SetBounds(8, 28, 400, 21);
  DirectoryEdit1->SetDialogKind(comp::dkWin32);
  DirectoryEdit1->SetDialogText(kChooseDatabaseText);
  DirectoryEdit1->SetDialogOptions({cl::sdAllowCreate, cl::sdPerformCreate});

  ExitPanel1 = loader.Create<comp::TExitPanel>(this, "ExitPanel1");
  ExitPanel1->SetParent(this);
  ExitPanel1->SetAlign(cl::alBottom);
  ExitPanel1->SetHeight(41);
  ExitPanel1->BtnOk().SetCaption("OK");
  ExitPanel1->BtnOk().SetModalResult(cl::mrOk);
  ExitPanel1->BtnOk().SetDefault(true);
  ExitPanel1->BtnCancel().SetCaption("Annuler");
  ExitPanel1->BtnCancel().SetModalResult(cl::mrCancel);
  ExitPanel1->SetBtnWidth(85);
  ExitPanel1->SetBtnHeight(29);
  ExitPanel1->SetSpacing(8);
  loader.Finish();
}

}  // namespace mirvel
