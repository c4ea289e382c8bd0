// tessera-dump: prints a table's .DAT, .IDX or .BLB file as the engine sees it.
//
//   tessera-dump FILE.DAT                          (header, field definitions, record slots)
//   tessera-dump [--block-size N] [--encrypted] [--entries] FILE.IDX|FILE.BLB
//   tessera-dump --check [--encrypted] FILE.IDX   (every tree and free chain verified)
//   tessera-dump --check TABLE                    (.DAT, .IDX and .BLB against each other, keys
//                                                  in the table's own order; TABLE with or
//                                                  without ".DAT")
//
// The kind of file comes from its extension.  A blob file's block size is its data file's
// (header +4 of the .DAT, 0 meaning 512); it is not stored in the blob file itself.
// Exit status: 0 when the file looks sound, 1 when damage was found, 2 for a usage error.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TableCheck.h"
#include "tools/DataFileDump.h"
#include "tools/IndexImageCheck.h"
#include "tools/TesseraDump.h"

namespace {

int Usage() {
  std::cerr << "usage: tessera-dump FILE.DAT\n"
               "       tessera-dump [--block-size N] [--encrypted] [--entries] FILE.IDX|FILE.BLB\n"
               "       tessera-dump --check [--encrypted] FILE.IDX\n"
               "       tessera-dump --check TABLE\n";
  return 2;
}

std::string UpperExtension(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const size_t slash = path.find_last_of('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot);
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return ext;
}

// The whole-table check: 0 sound, 1 damaged, 2 when the table cannot be opened.
int CheckTable(const std::string& table) {
  tessera::InitializeEngine();
  try {
    const tessera::TTableCheckReport report = tessera::CheckTableFiles(table);
    for (const std::string& problem : report.problems) std::cout << "damage: " << problem << "\n";
    std::cout << "table check: " << (report.ok() ? "ok" : "damaged") << ", " << report.live_records
              << " records, " << report.deleted_records << " deleted slots\n";
    return report.ok() ? 0 : 1;
  } catch (const tessera::ETesseraEngineError& e) {
    std::cerr << "tessera-dump: " << e.what() << "\n";
    return 2;
  }
}

}  // namespace

int main(int argc, char** argv) {
  tessera::TDumpOptions options;
  std::string path;
  bool check = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--check") {
      check = true;
    } else if (arg == "--encrypted") {
      options.encrypted = true;
    } else if (arg == "--entries") {
      options.entries = true;
    } else if (arg == "--block-size" && i + 1 < argc) {
      char* end = nullptr;
      const unsigned long n = std::strtoul(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0' || n > 65535) return Usage();
      options.block_size = static_cast<uint32_t>(n);
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage();
    } else if (path.empty()) {
      path = arg;
    } else {
      return Usage();
    }
  }
  if (path.empty()) return Usage();
  const std::string ext = UpperExtension(path);
  if (check && (ext.empty() || ext == ".DAT")) return CheckTable(path);
  if (ext != ".DAT" && ext != ".IDX" && ext != ".BLB") return Usage();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "tessera-dump: cannot read " << path << "\n";
    return 2;
  }
  const std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  if (check) {
    if (ext != ".IDX") return Usage();
    return tessera::CheckIndexImage(image, options.encrypted, std::cout) ? 0 : 1;
  }
  bool sound;
  if (ext == ".DAT") {
    sound = tessera::DumpDataFile(image, std::cout);
  } else if (ext == ".IDX") {
    sound = tessera::DumpIndexFile(image, options, std::cout);
  } else {
    sound = tessera::DumpBlobFile(image, options, std::cout);
  }
  return sound ? 0 : 1;
}
