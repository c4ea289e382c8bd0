// A program that updates itself, for the self-update test.
//   UpdateHelper <update folder> <result file>
// Its launcher checks the folder when the form is loaded: with a newer copy of this program
// there it writes and starts the real installer and ends (exit code 0, nothing written);
// otherwise it appends "current" to the result file.
#include <fstream>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/Loader.h"
#include "components/data/TAutoInstaller.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  cl::SetCommandLine(argc, argv);
  cl::Application().SetTitle("Gestion des appels t\xE9l\xE9phoniques");
  cl::TComponent root(nullptr);
  {
    cl::TLoader loader(&root);
    auto* installer = loader.Create<comp::TAutoInstaller>(&root, "AutoInstaller");
    installer->SetUpdatePath(cl::Utf8ToCp1252(argv[1]));
    installer->SetAutoCheck(true);
    loader.Finish();
  }
  std::ofstream(argv[2], std::ios::app) << "current\n";
  return 0;
}
