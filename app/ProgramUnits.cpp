#include "app/ProgramUnits.h"

#include "engine/components/dialogs/TTesseraPasswordDialog.h"

namespace mirvel {

void RegisterProgramUnits() {
  // Encrypted tables ask the user through this dialog; without it every request answers "no".
  tessera::RegisterPasswordDialogUnit();
}

}  // namespace mirvel
