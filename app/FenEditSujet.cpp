#include "app/FenEditSujet.h"

#include <memory>

#include "app/EditorForm.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/rtl/Loader.h"

namespace mirvel {

TFenEditSujet::TFenEditSujet(cl::TComponent* owner) : cl::TForm(owner) {
  cl::TLoader loader(this);
  SetName("FenEditSujet");
  SetCaption("Sujet du message");
  SetBounds(0, 0, 400, 150);
  SetBorderStyle(cl::bsDialog);
  SetPosition(cl::poScreenCenter);
  SetHelpContext(100);

  Label1 = loader.Create<cl::TLabel>(this, "Label1");
  Label1->SetParent(this);
  Label1->SetCaption(
      "Vous n'avez pas saisi de sujet pour ce message. \r\n"
      "Si vous souhaitez en donner un, veuillez l'entrer maintenant.");
  Label1->SetBounds(10, 10, 380, 30);

  EditSujet = loader.Create<cl::TEdit>(this, "EditSujet");
  EditSujet->SetParent(this);
  EditSujet->SetBounds(10, 52, 380, 21);
  EditSujet->SetMaxLength(50);  // the subject field's size

  ExitPanel1 = OkCancelPanel(loader, this, {45, "&OK", "&Annuler", 80, 33, 8});
  SetActiveControl(EditSujet);
  loader.Finish();
}

bool AskSubjectDialog(std::string& subject) {
  std::unique_ptr<TFenEditSujet> dialog(cl::Create<TFenEditSujet>(nullptr));
  dialog->SetSujet(subject);
  if (dialog->ShowModal() != cl::mrOk) return false;
  subject = dialog->Sujet();
  return true;
}

}  // namespace mirvel
