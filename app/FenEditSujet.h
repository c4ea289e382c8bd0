// TFenEditSujet: asks for the subject of a message posted without one.
//
// Lifetime: made, shown modally and freed by the main window's subject prompt.  GUI thread
// only.
#pragma once

#include <string>

#include "classlib/forms/Edits.h"
#include "classlib/forms/Forms.h"
#include "classlib/forms/StdCtrls.h"
#include "components/ui/TExitPanel.h"

namespace mirvel {

class TFenEditSujet : public cl::TForm {
 public:
  explicit TFenEditSujet(cl::TComponent* owner);

  cl::TLabel* Label1;
  cl::TEdit* EditSujet;
  comp::TExitPanel* ExitPanel1;

  // The subject, read and written through EditSujet.
  std::string Sujet() const { return EditSujet->Text(); }
  void SetSujet(const std::string& text) { EditSujet->SetText(text); }
};

// Shows the dialog holding `subject`; true on OK with the typed text in `subject`.
bool AskSubjectDialog(std::string& subject);

}  // namespace mirvel
