// mirvel-initdb [--register] [--user LOGIN] [--name "FULL NAME"] DIR: makes a new Mirvel
// database directory (InitDb.h).
#include <iostream>
#include <string>
#include <vector>

#include "app/InitDb.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return mirvel::RunInitDb(args, std::cout, std::cerr);
}
