// A second process for the numbering test: `NumberingHelper DIR COUNT NAME` takes COUNT numbers
// of NAME from DIR's numbering table, printing one per line ("E <message>" for a failure).  It
// starts once the file DIR/go exists, so that the processes of a test begin together.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <thread>

#include "app/Numbering.h"
#include "classlib/rtl/TComponent.h"
#include "engine/components/TTesseraSession.h"
#include "engine/components/TTesseraTable.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  for (int i = 0; i < 10000 && !std::filesystem::exists(std::string(argv[1]) + "/go"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  tessera::InitializeSessions();
  int status = 0;
  {
    cl::TComponent owner(nullptr);
    auto* numbers = cl::Create<tessera::TTesseraTable>(&owner);
    numbers->SetDatabaseName(argv[1]);
    numbers->SetTableName("Numeros.DAT");
    for (int i = std::atoi(argv[2]); i > 0; --i) {
      try {
        std::printf("%d\n", mirvel::NextNumber(*numbers, argv[3]));
      } catch (const std::exception& e) {
        std::printf("E %s\n", e.what());
        status = 1;
      }
      std::fflush(stdout);
    }
  }
  tessera::FinalizeSessions();
  return status;
}
