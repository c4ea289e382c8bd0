// TDlgChoixDatabaseMirvel: the dialog in which the user picks the database directory (a missing
// one may be typed and is then created by the folder browser).  GUI thread only.
#pragma once

#include <string>

#include "classlib/forms/Forms.h"
#include "classlib/forms/StdCtrls.h"
#include "components/ui/TDirectoryEdit.h"
#include "components/ui/TExitPanel.h"

namespace mirvel {

inline constexpr const char* kChooseDatabaseCaption =
    "Chemin vers la base de donn\xE9"
    "es";
inline constexpr const char* kChooseDatabaseText =
    "Veuillez s\xE9lectionner le r\xE9pertoire contenant la base de donn\xE9"
    "es Mirvel";

class TDlgChoixDatabaseMirvel : public cl::TForm {
 public:
  explicit TDlgChoixDatabaseMirvel(cl::TComponent* owner);

  cl::TLabel* Label1;
  comp::TDirectoryEdit* DirectoryEdit1;
  comp::TExitPanel* ExitPanel1;

  std::string Path() const { return DirectoryEdit1->Text(); }
  void SetPath(const std::string& path) { DirectoryEdit1->SetText(path); }
};

}  // namespace mirvel
