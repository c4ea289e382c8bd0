// What the dialogs and editors share: a form that keeps its width at creation as its minimum
// tracking width, the question asked before pending edits are dropped, and the guard that puts a
// filter text back as it was found.
//
// GUI thread only.
#pragma once

#include <initializer_list>
#include <string>

#include "classlib/db/TDataSet.h"
#include "classlib/forms/Forms.h"

namespace mirvel {

inline constexpr const char* kSaveChangesQuestion =
    "Attention ! Vous avez fait des modifications. Souhaitez-vous les sauvegarder ?";
inline constexpr const char* kUsersFilter = "NoUtilisateur <> 0";

// A form whose width when its construction finishes is the least the user can shrink it to.
class TEditorForm : public cl::TForm {
 public:
  explicit TEditorForm(cl::TComponent* owner);
  void AfterConstruction() override;
  int FMinWidth = 0;

 protected:
  void DefaultHandler(cl::TMessage& message) override;
};

// The close query of a form editing `data_sets` (masters before their details): none of them
// editing or inserting closes; none modified cancels them all and closes; otherwise the question
// with Yes, No and Cancel: Yes posts each editing one in order, No cancels them all (details
// first, so that no master's link posts what was refused), Cancel keeps the form.  Returns
// whether the form may close.
bool ConfirmPendingEdits(std::initializer_list<cl::TDataSet*> data_sets);

// Sets a data set's filter text for its lifetime and puts the previous text back when it goes,
// also when the work in between fails.
class TFilterGuard {
 public:
  TFilterGuard(cl::TDataSet* data_set, const std::string& filter);
  ~TFilterGuard();
  TFilterGuard(const TFilterGuard&) = delete;
  TFilterGuard& operator=(const TFilterGuard&) = delete;

 private:
  cl::TDataSet* data_set_;
  std::string previous_;
};

}  // namespace mirvel
