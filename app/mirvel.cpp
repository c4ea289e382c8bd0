// The program: the application object, the two modules, the main window and the zoom window,
// then the message loop.  The main window stays hidden in the notification area unless the first
// argument is exactly "SHOW" or the desktop has no notification area.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/FenEditMessages.h"
#include "app/FenVisuMessage.h"
#include "app/MBDMirvel.h"
#include "app/MMirvel.h"
#include "app/ProgramUnits.h"
#include "classlib/forms/Forms.h"
#include "classlib/rtl/Application.h"
#include "classlib/rtl/Units.h"
#include "engine/components/TTesseraSession.h"

namespace {

// The toolkit aborts when its platform finds no display: say so plainly instead.  Only the
// offscreen platform needs none.
bool HasDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && std::string_view(platform).starts_with("offscreen")) return true;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (!HasDisplay()) {
    std::fprintf(stderr,
                 "mirvel: no graphical display (DISPLAY and WAYLAND_DISPLAY are not set); "
                 "run it inside a desktop session.\n");
    return 1;
  }
  cl::SetCommandLine(argc, argv);
  cl::InstallFormsBackend();
  cl::Application().Initialize();
  cl::Application().SetShowMainForm(false);
  cl::Application().SetTitle("Gestion des appels t\xE9l\xE9phoniques");
  cl::Application().SetHelpFile("Mirvel.hlp");
  tessera::InitializeSessions();
  mirvel::RegisterProgramUnits();
  cl::InitializeUnits();
  cl::Application().CreateForm(mirvel::DMBDMirvel);
  cl::Application().CreateForm(mirvel::DMMirvel);
  cl::Application().CreateForm(mirvel::FenEditMessages);
  cl::Application().CreateForm(mirvel::FenVisuMessage);
  cl::Application().Run();
  cl::Application().DestroyComponents();
  cl::FinalizeUnits();
  return 0;
}
