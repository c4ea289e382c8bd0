// libFuzzer target: whole SQL statements against the application's six tables.  The tables are
// made once from the application's schema (app/MirvelSchema.h) in a directory of this process and
// filled with rows, memos of one to five blocks included; each input is one statement, parsed,
// bound with typed parameters, executed, and the rows of its result read back field by field
// (memos too).  The tables are put back as they were after each input.  Only engine errors may
// come out.
//
// Input: a byte of parameter types (two bits per parameter, repeating: int, string, timestamp,
// float), the statement's text up to a zero byte, then the bytes the parameter values are taken
// from (missing ones read as zero).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/MirvelSchema.h"
#include "classlib/rtl/Coding.h"
#include "engine/sql/TDataQuery.h"
#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/table/TDataFile.h"
#include "platform/ProcessInfo.h"

namespace {

using namespace tessera;
namespace fs = std::filesystem;
constexpr TFieldSet kSet = TFieldSet::kTable;

// The directory of the tables, removed when the process ends.
struct Workspace {
  fs::path dir = fs::temp_directory_path() /
                 ("mirvel-sqlfuzz-" + std::to_string(platform::GetCurrentProcessId()));
  std::map<fs::path, std::string> sound;  // every file of the filled tables
  ~Workspace() {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
};

void PutValue(TDataFile& t, const TFieldDefinition& f, int row, uint8_t* record) {
  uint8_t bytes[256] = {};
  switch (f.type) {
    case kFieldInt32:
      if (f.IsAutoIncrement()) return;
      cl::PutU32LE(bytes, static_cast<uint32_t>(row % 5 == 4 ? row / 2 : row));
      break;
    case kFieldString: {
      const std::string text =
          f.name.substr(0, 4) + (row % 3 ? "\xE9t\xE9 " : "ETE ") + std::to_string(row % 11);
      std::memcpy(bytes, text.data(), std::min<size_t>(text.size(), f.size));
      break;
    }
    case kFieldTimeStamp: {
      const double ms = (738000.0 + row) * 86400000.0 + row * 61000.0;
      std::memcpy(bytes, &ms, sizeof ms);
      break;
    }
    case kFieldBlob:
      if (row % 3 == 2) return;
      if (t.OpenBlob(kSet, f.number, 0, record) == 0) {
        const std::string text(static_cast<size_t>(row * 97 % 2400 + 1), 'a' + row % 26);
        t.WriteBlob(kSet, f.number, static_cast<int32_t>(text.size()), text.data(), 0, record);
      }
      return;
    default:
      return;
  }
  t.PutFieldValue(kSet, f.number, false, bytes, record);
}

void MakeTables(Workspace& w) {
  fs::create_directories(w.dir / "private");
  for (const mirvel::TSchemaTable& schema : mirvel::MirvelTables()) {
    const std::string path = (w.dir / schema.file_name).string();
    {
      TDataFile t;
      t.SetFileName(path);
      t.SetExclusive(true);
      t.SetupNewTable(mirvel::NewTableDefinition(schema));
    }
    TDataFile t;
    t.SetFileName(path);
    t.SetExclusive(true);
    t.Open();
    std::vector<uint8_t> record(t.GetRecordBufferSize());
    const int rows = std::string_view(schema.file_name) == mirvel::kMajFile ? 1 : 24;
    for (int row = 1; row <= rows; ++row) {
      t.ApplyFieldDefaults(record.data());
      for (const TFieldDefinition& f : t.TableFields()) PutValue(t, f, row, record.data());
      try {
        t.InsertRecord(record.data());
      } catch (const ETesseraEngineError&) {
        // A repeated key (the rows' values repeat on purpose): the row is left out.
      }
      for (const TFieldDefinition& f : t.TableFields()) {
        if (f.IsBlob() && t.IsBlobOpen(kSet, f.number, record.data())) {
          t.CloseBlob(kSet, f.number, record.data());
        }
      }
    }
    t.Close();
  }
  for (const auto& entry : fs::directory_iterator(w.dir)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    w.sound[entry.path()] = std::string(std::istreambuf_iterator<char>(in), {});
  }
}

// The tables as they were made; whatever a statement created beside them goes.
void Restore(const Workspace& w) {
  for (const auto& entry : fs::directory_iterator(w.dir)) {
    if (entry.is_regular_file() && w.sound.count(entry.path()) == 0) fs::remove(entry.path());
  }
  for (const auto& [path, bytes] : w.sound) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
}

void ReadRows(TDataFile& result) {
  std::vector<uint8_t> record(result.GetRecordBufferSize());
  std::vector<uint8_t> value(256);
  result.MoveToBeginning();
  for (int row = 0; row < 2000 && result.GetNextRecord(record.data()) == 0; ++row) {
    for (uint16_t n = 1; n <= result.GetFieldsInUse(); ++n) {
      const TFieldDefinition& f = result.GetFieldDefinition(TFieldSet::kWorking, n);
      value.assign(std::max<size_t>(256, f.stored_size + 1u), 0);
      result.GetFieldValue(TFieldSet::kWorking, n, value.data(), record.data());
      if (!f.IsBlob() || result.OpenBlob(TFieldSet::kWorking, n, 0, record.data()) != 0) continue;
      int32_t size = 0;
      if (result.GetBlobSize(TFieldSet::kWorking, n, size, record.data()) == 0 && size > 0) {
        std::vector<uint8_t> bytes(static_cast<size_t>(std::min(size, 1 << 16)));
        int32_t count = 0;
        result.ReadBlob(TFieldSet::kWorking, n, count, static_cast<int32_t>(bytes.size()),
                        bytes.data(), 0, record.data());
      }
      result.CloseBlob(TFieldSet::kWorking, n, record.data());
    }
  }
}

// Types the parameters and fills their values from `values`.
void BindParameters(TDataQuery& q, uint8_t types, std::string_view values) {
  const size_t count = q.Statement().parameters.size();
  if (count == 0) return;
  std::vector<TQueryParamDescriptor> descriptors;
  std::vector<uint8_t> buffer;
  size_t taken = 0;
  auto take = [&](size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n && taken < values.size(); ++i) bytes[i] = values[taken++];
    return bytes;
  };
  for (size_t i = 0; i < count; ++i) {
    TQueryParamDescriptor d;
    d.number = static_cast<uint16_t>(i + 1);
    d.name = "p" + std::to_string(i + 1);
    d.offset = static_cast<uint32_t>(buffer.size());
    std::string value;
    switch ((types >> (2 * (i % 4))) & 3) {
      case 0:
        d.type = kFieldInt32;
        d.size = 4;
        value = take(4);
        break;
      case 1:
        d.type = kFieldString;
        d.size = 20;
        value = take(20);
        value.push_back('\0');
        break;
      case 2: {
        d.type = kFieldTimeStamp;
        d.size = 8;
        const double ms = (738000.0 + static_cast<uint8_t>(take(1)[0])) * 86400000.0;
        value.assign(reinterpret_cast<const char*>(&ms), sizeof ms);
        break;
      }
      default:
        d.type = kFieldFloat;
        d.size = 8;
        value = take(8);
        break;
    }
    buffer.push_back(take(1)[0] == '\x7F' ? 0 : 1);  // now and then NULL
    buffer.insert(buffer.end(), value.begin(), value.end());
    descriptors.push_back(d);
  }
  q.SetQueryParams(descriptors, buffer.data(), buffer.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Workspace workspace;
  static const bool started = [] {
    InitializeEngine();
    GetEngineSession()->SetPrivateDirectory((workspace.dir / "private").string());
    MakeTables(workspace);
    return true;
  }();
  (void)started;
  if (size < 2 || size > 4096) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t end = std::min(input.find('\0'), input.size());
  const std::string_view text = input.substr(0, end);
  const std::string_view values = end < input.size() ? input.substr(end + 1) : std::string_view();
  try {
    TDataQuery q;
    q.SetDirectory(workspace.dir.string());
    q.SetLockRetryCount(0);
    q.PrepareQuery(text);
    BindParameters(q, data[0], values);
    TDataFile* result = nullptr;
    q.ExecuteQuery(result);
    if (result != nullptr) ReadRows(*result);
  } catch (const ETesseraEngineError&) {
    // Refused statements are a result as well.
  }
  Restore(workspace);
  return 0;
}
