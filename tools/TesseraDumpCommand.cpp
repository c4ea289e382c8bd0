#include "tools/TesseraDumpCommand.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Cp1252.h"
#include "engine/storage/blob/TBlobFile.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/core/TFileHandler.h"
#include "engine/storage/core/TableCipher.h"
#include "engine/storage/index/IndexFormat.h"
#include "engine/storage/table/TableCheck.h"
#include "engine/storage/table/TableRepair.h"
#include "platform/FileNames.h"
#include "platform/OsFile.h"
#include "tools/DataFileDump.h"
#include "tools/IndexImageCheck.h"
#include "tools/TesseraDump.h"

namespace tessera {
namespace {

int Usage(std::ostream& err) {
  err << "usage: tessera-dump FILE.DAT\n"
         "       tessera-dump [--block-size N] [--encrypted] [--entries] FILE.IDX|FILE.BLB\n"
         "       tessera-dump --check [--encrypted] FILE.IDX\n"
         "       tessera-dump --check [--password TEXT] TABLE\n"
         "       tessera-dump --repair [--password TEXT] TABLE\n";
  return 2;
}

// The whole-table check: 0 sound, 1 damaged, 2 when the table cannot be opened, 3 a commit pending
// (no damage: the next open completes it).
int CheckWholeTable(const std::string& table, std::ostream& out, std::ostream& err) {
  try {
    const TTableCheckReport report = CheckTableFiles(cl::Utf8ToCp1252(table));
    if (report.commit_pending) {
      // No damage: a writer stopped inside a commit that its journal completes.
      out << "table check: " << report.problems.front() << " (or tessera-dump --repair)\n";
      return 3;
    }
    for (const std::string& problem : report.problems) {
      out << "damage: " << cl::Cp1252ToUtf8(problem) << "\n";
    }
    out << "table check: " << (report.ok() ? "ok" : "damaged") << ", " << report.live_records
        << " records, " << report.deleted_records << " deleted slots\n";
    return report.ok() ? 0 : 1;
  } catch (const ETesseraEngineError& e) {
    err << "tessera-dump: " << cl::Cp1252ToUtf8(e.Message()) << "\n";
    return 2;
  }
}

// The repair, then the whole-table check: 0 when the table is sound afterwards, 1 when not, 2 when
// the repair was refused or failed.
int RepairWholeTable(const std::string& table, std::ostream& out, std::ostream& err) {
  try {
    const TTableRepairReport report = RepairTableFiles(cl::Utf8ToCp1252(table));
    for (const std::string& change : report.changes) {
      out << "repair: " << cl::Cp1252ToUtf8(change) << "\n";
    }
    if (report.changes.empty()) out << "repair: nothing to repair\n";
  } catch (const ETesseraEngineError& e) {
    err << "tessera-dump: repair refused: " << cl::Cp1252ToUtf8(e.Message()) << "\n";
    return 2;
  }
  return CheckWholeTable(table, out, err);
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

// The longest file of each kind the formats allow: an .IDX or .BLB ends at most one page or
// block past its largest offset; a .DAT is addressed with 32-bit signed offsets.
uint64_t LargestFile(const std::string& ext) {
  if (ext == ".IDX") return uint64_t{kMaxIndexFileOffset} + kIndexPageSize;
  if (ext == ".BLB") return uint64_t{kMaxBlobFileOffset} + kMaxBlobBlockSize;
  return INT32_MAX;
}

struct TFileImage {
  std::vector<uint8_t> bytes;  // the file's start: what the account needs
  uint64_t file_size = 0;
};

// Reads what the account of `path` needs (see the header); false with the reason in `error`.
bool ReadTableFile(const std::string& path, const std::string& ext, bool encrypted,
                   TFileImage& image, std::string& error) {
  switch (platform::GetFileKind(path)) {
    case platform::FileKind::kRegular:
      break;
    case platform::FileKind::kMissing:
      error = path + ": no such file";
      return false;
    case platform::FileKind::kDirectory:
      error = path + ": a directory, not a table file";
      return false;
    case platform::FileKind::kOther:
      error = path + ": not a regular file";
      return false;
  }
  // The length is judged before anything is opened or read.
  std::error_code length_error;
  const uintmax_t length =
      std::filesystem::file_size(platform::ResolveFileName(path), length_error);
  const uint64_t largest = LargestFile(ext);
  if (!length_error && length > largest) {
    error = path + ": " + std::to_string(length) + " bytes, longer than a " + ext +
            " file can be (" + std::to_string(largest) + ")";
    return false;
  }
  try {
    TFileHandler file;
    file.SetReadOnly(true);
    file.SetFileName(cl::Utf8ToCp1252(path));
    file.Open();
    const int32_t size = file.Size();
    image.file_size = static_cast<uint64_t>(size);
    size_t needed = static_cast<size_t>(size);
    const size_t header_size = ext == ".IDX" ? kIndexHeaderSize : kBlobHeaderSize;
    if (ext != ".DAT" && needed >= header_size) {
      // Nothing past the end offset belongs to the file's pages or blocks.
      std::vector<uint8_t> header(header_size);
      file.ReadAt(0, header.data(), static_cast<int32_t>(header_size));
      if (encrypted) DecipherBuffer(header.data(), header.size(), kDataKeyA, kDataKeyB);
      const uint32_t end =
          cl::GetU32LE(header.data() + (ext == ".IDX" ? kIdxEndOffset : kBlbEndOffset));
      needed = std::min<size_t>(needed, std::max<size_t>(end, header_size));
    }
    image.bytes.resize(needed);
    if (needed > 0) file.ReadAt(0, image.bytes.data(), static_cast<int32_t>(needed));
  } catch (const ETesseraEngineError& e) {
    error = cl::Cp1252ToUtf8(e.Message());
    return false;
  }
  return true;
}

}  // namespace

int RunTesseraDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TDumpOptions options;
  std::string path;
  bool check = false;
  bool repair = false;
  std::string password;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--check") {
      check = true;
    } else if (arg == "--repair") {
      repair = true;
    } else if (arg == "--password" && i + 1 < args.size()) {
      password = args[++i];
    } else if (arg == "--encrypted") {
      options.encrypted = true;
    } else if (arg == "--entries") {
      options.entries = true;
    } else if (arg == "--block-size" && i + 1 < args.size()) {
      const std::string& value = args[++i];
      char* end = nullptr;
      const unsigned long n = std::strtoul(value.c_str(), &end, 10);
      if (end == value.c_str() || *end != '\0' || n > 65535) return Usage(err);
      options.block_size = static_cast<uint32_t>(n);
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage(err);
    } else if (path.empty()) {
      path = arg;
    } else {
      return Usage(err);
    }
  }
  if (path.empty()) return Usage(err);
  const std::string ext = UpperExtension(path);
  InitializeEngine();
  if (!password.empty()) {
    if (!check && !repair) return Usage(err);
    GetEngineSession()->AddPassword(cl::Utf8ToCp1252(password));
  }
  if (repair) {
    if (check || (!ext.empty() && ext != ".DAT")) return Usage(err);
    return RepairWholeTable(path, out, err);
  }
  if (check && (ext.empty() || ext == ".DAT")) return CheckWholeTable(path, out, err);
  if (ext != ".DAT" && ext != ".IDX" && ext != ".BLB") return Usage(err);
  if (check && ext != ".IDX") return Usage(err);
  // Keys of a table with a language are ordered by its collation, which only the .DAT tells: with
  // the table beside it, the index is checked as part of the whole table, in the table's order.
  if (check) {
    const std::string table = path.substr(0, path.size() - ext.size());
    if (platform::PathExists(platform::ResolveFileName(table + ".DAT"))) {
      out << "check: the index of table " << table << ", checked with its table\n";
      return CheckWholeTable(table, out, err);
    }
    out << "check: no table beside the index; keys are compared as bytes\n";
  }

  TFileImage image;
  std::string error;
  if (!ReadTableFile(path, ext, options.encrypted, image, error)) {
    err << "tessera-dump: " << error << "\n";
    return 2;
  }
  options.file_size = image.file_size;
  if (check) return CheckIndexImage(image.bytes, options.encrypted, out) ? 0 : 1;
  bool sound;
  if (ext == ".DAT") {
    sound = DumpDataFile(image.bytes, out);
  } else if (ext == ".IDX") {
    sound = DumpIndexFile(image.bytes, options, out);
  } else {
    sound = DumpBlobFile(image.bytes, options, out);
  }
  return sound ? 0 : 1;
}

}  // namespace tessera
