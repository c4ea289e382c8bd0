// TDlgConfirmation: asked before the program ends.  "&Réduire" answers mrOk, "&Annuler"
// mrCancel, "&Quitter" mrAbort.
//
// Lifetime: made, shown modally and freed by the main window's close query.  GUI thread only.
#pragma once

#include "classlib/forms/ExtCtrls.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/StdCtrls.h"

namespace mirvel {

class TDlgConfirmation : public cl::TForm {
 public:
  explicit TDlgConfirmation(cl::TComponent* owner);

  cl::TImage* Image1;
  cl::TLabel* Label1;
  cl::TLabel* Label2;
  cl::TButton* btnReduire;
  cl::TButton* btnAnnuler;
  cl::TButton* btnQuitter;
};

// Shows the dialog modally and frees it; its modal result.
int AskQuitConfirmation();

}  // namespace mirvel
