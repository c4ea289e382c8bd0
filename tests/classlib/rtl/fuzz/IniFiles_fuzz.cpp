// libFuzzer target: any bytes as an INI file, read, then written to (a value replaced, a section
// erased) and read again.  Only the class library's INI error may come out, and a value written
// must read back.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "classlib/rtl/IniFiles.h"

namespace {

const std::string& ScratchFile() {
  static const std::string file = [] {
    std::string dir = (std::filesystem::temp_directory_path() / "mirvel-ini-fuzz-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) std::abort();
    return dir + "/fuzz.ini";
  }();
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  const std::string& file = ScratchFile();
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  try {
    cl::TIniFile ini(file);
    for (const char* section : {"Environnement", "a", ""}) {
      ini.SectionExists(section);
      for (const char* ident : {"Database", "x", ""}) {
        ini.ReadString(section, ident, "");
        ini.ReadInteger(section, ident, 0);
        ini.ReadBool(section, ident, false);
      }
    }
    ini.WriteString("Environnement", "Database", "/srv/mirvel");
    ini.EraseSection("a");
    if (ini.ReadString("Environnement", "Database", "") != "/srv/mirvel") std::abort();
  } catch (const cl::EIniFileException&) {
  }
  std::filesystem::remove(file);
  return 0;
}
