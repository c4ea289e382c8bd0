// The second (and third) process of the registry store's concurrency test: writes `count`
// values named <prefix><n> into one key of the given file, alternating strings and integers,
// as fast as it can.  Exit code 0 when every write succeeded.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/RegistryStore.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: RegistryWriter <file> <prefix> <count>\n");
    return 2;
  }
  platform::RegistryStore store(argv[1], "");
  const std::string prefix = argv[2];
  const int count = std::atoi(argv[3]);
  for (int i = 0; i < count; ++i) {
    platform::RegValue value;
    if (i % 2 == 0) {
      value.type = platform::RegType::kString;
      value.data = prefix + " value " + std::to_string(i) + " =%\n";
    } else {
      value.type = platform::RegType::kInteger;
      value.integer = i;
    }
    const platform::OsError error =
        store.SetValue("Software\\Ordelis\\Mirvel\\Concurrency", prefix + std::to_string(i), value);
    if (error != platform::kErrorSuccess) {
      std::fprintf(stderr, "write %d failed: %u\n", i, error);
      return 1;
    }
  }
  return 0;
}
