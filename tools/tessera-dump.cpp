// tessera-dump: see tools/TesseraDumpCommand.h.
#include <iostream>
#include <string>
#include <vector>

#include "tools/TesseraDumpCommand.h"

int main(int argc, char** argv) {
  return tessera::RunTesseraDump(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                 std::cerr);
}
