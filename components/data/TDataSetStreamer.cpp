#include "components/data/TDataSetStreamer.h"

#include <algorithm>
#include <cmath>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TBlobField.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/TextUtils.h"

namespace comp {

using namespace cl;

namespace {

constexpr const char* SUnsupportedType = "Unable to save this field type : %s";
constexpr const char* SDamaged = "Flux endommag\xE9 : valeur incorrecte pour le champ '%s'";
constexpr const char* STooWide = "Valeur trop longue pour la colonne du champ '%s'";

bool IsBlobType(TFieldType type) { return type >= ftBlob && type <= ftTypedBinary; }

void CheckSupported(const TField* field) {
  TFieldType type = field->DataType();
  if (type == ftUnknown || type == ftCursor || IsBlobType(type)) {
    DatabaseErrorFmt(SUnsupportedType, {FieldTypeName(type)});
  }
}

[[noreturn]] void Damaged(const TField* field) { DatabaseErrorFmt(SDamaged, {field->FieldName()}); }

void WriteBytes(TStream& stream, const void* data, size_t size) {
  if (size > 0) stream.WriteBuffer(data, static_cast<int32_t>(size));
}

void WriteI32(TStream& stream, int32_t value) {
  uint8_t bytes[4];
  PutI32LE(bytes, value);
  stream.WriteBuffer(bytes, 4);
}

// Reads exactly `size` bytes, or answers false at a cut in the stream.
bool ReadExactly(TStream& stream, void* data, int64_t size) {
  if (size < 0 || stream.Size() - stream.Position() < size) return false;
  if (size > 0) stream.ReadBuffer(data, static_cast<int32_t>(size));
  return true;
}

int64_t Remaining(TStream& stream) { return stream.Size() - stream.Position(); }

// A text column into a field.  An empty column is what a NULL was written as: a binary field
// gets NULL back rather than a value of zero bytes.
void AssignText(TField* field, const std::string& text) {
  if (text.empty() && (field->DataType() == ftBytes || field->DataType() == ftVarBytes)) {
    field->Clear();
  } else {
    field->SetAsString(text);
  }
}

}  // namespace

std::vector<TField*> TDataSetFormat::FieldsInScope() const {
  std::vector<TField*> fields;
  for (TField* field : dataset_->FieldList()) {
    if (include_calc_ || field->FieldKind() == fkData) fields.push_back(field);
  }
  return fields;
}

// ---- efDataSet ---------------------------------------------------------------------------------

void TGenericFormat::WriteRecord(TStream& stream) {
  for (TField* field : FieldsInScope()) {
    if (auto* blob = dynamic_cast<TBlobField*>(field)) {
      TMemoryStream bytes;
      blob->SaveToStream(bytes);
      WriteI32(stream, static_cast<int32_t>(bytes.Size()));
      WriteBytes(stream, bytes.Memory(), static_cast<size_t>(bytes.Size()));
      continue;
    }
    CheckSupported(field);
    uint8_t flag = field->IsNull() ? 0 : 1;
    stream.WriteBuffer(&flag, 1);
    if (flag == 0) continue;
    uint8_t bytes[8];
    switch (field->DataType()) {
      case ftString: {
        std::string text = field->AsString();
        WriteI32(stream, static_cast<int32_t>(text.size()));
        WriteBytes(stream, text.data(), text.size());
        break;
      }
      case ftSmallint:
      case ftWord:
        PutU16LE(bytes, static_cast<uint16_t>(field->AsInteger()));
        stream.WriteBuffer(bytes, 2);
        break;
      case ftInteger:
      case ftAutoInc:
        WriteI32(stream, field->AsInteger());
        break;
      case ftBoolean:
        bytes[0] = field->AsBoolean() ? 1 : 0;
        stream.WriteBuffer(bytes, 1);
        break;
      case ftFloat:
        PutF64LE(bytes, field->AsFloat());
        stream.WriteBuffer(bytes, 8);
        break;
      case ftDate:
      case ftTime:
      case ftDateTime:
        PutF64LE(bytes, field->AsDateTime());
        stream.WriteBuffer(bytes, 8);
        break;
      case ftCurrency:
      case ftBCD:
        // The scaled amount rounded to nearest: 0.29 is 2900, never a truncated 2899.
        PutI64LE(bytes, field->AsCurrency().Raw);
        stream.WriteBuffer(bytes, 8);
        break;
      case ftBytes:
      case ftVarBytes: {
        std::vector<uint8_t> value(static_cast<size_t>(field->DataSize()));
        field->GetData(value.data());
        WriteI32(stream, static_cast<int32_t>(value.size()));
        WriteBytes(stream, value.data(), value.size());
        break;
      }
      default:
        CheckSupported(field);
    }
  }
}

void TGenericFormat::WriteEnd(TStream& stream) { WriteI32(stream, -1); }

bool TGenericFormat::ReadRecord(TStream& stream) {
  std::vector<TField*> fields = FieldsInScope();
  uint8_t bytes[8];
  if (fields.empty()) {
    if (!ReadExactly(stream, bytes, 1)) return false;
    if (bytes[0] == 0xFF) {
      ReadExactly(stream, bytes, std::min<int64_t>(3, Remaining(stream)));
    } else {
      stream.Seek(-1, soFromCurrent);
    }
    return false;
  }
  for (TField* field : fields) {
    bool assign = field->FieldKind() == fkData;
    if (auto* blob = dynamic_cast<TBlobField*>(field)) {
      if (!ReadExactly(stream, bytes, 4)) return false;
      int32_t size = GetI32LE(bytes);
      if (size == -1) return false;
      if (size < 0) Damaged(field);
      if (size > Remaining(stream)) return false;  // cut inside the value
      TMemoryStream value;
      value.SetSize(size);
      if (!ReadExactly(stream, value.Memory(), size)) return false;
      if (!assign) continue;
      if (size > 0) {
        value.SetPosition(0);
        blob->LoadFromStream(value);
      } else {
        blob->Clear();
      }
      continue;
    }
    CheckSupported(field);
    if (!ReadExactly(stream, bytes, 1)) return false;
    if (bytes[0] == 0xFF) {
      ReadExactly(stream, bytes, std::min<int64_t>(3, Remaining(stream)));
      return false;
    }
    if (bytes[0] != 1) continue;  // NULL
    switch (field->DataType()) {
      case ftString: {
        if (!ReadExactly(stream, bytes, 4)) return false;
        int32_t size = GetI32LE(bytes);
        if (size < 0 || size > field->Size()) Damaged(field);
        std::string text(static_cast<size_t>(size), '\0');
        if (!ReadExactly(stream, text.data(), size)) return false;
        if (assign) field->SetAsString(text);
        break;
      }
      case ftSmallint:
      case ftWord:
        if (!ReadExactly(stream, bytes, 2)) return false;
        if (assign) {
          field->SetAsInteger(field->DataType() == ftSmallint ? GetI16LE(bytes) : GetU16LE(bytes));
        }
        break;
      case ftInteger:
      case ftAutoInc:
        if (!ReadExactly(stream, bytes, 4)) return false;
        if (assign) field->SetAsInteger(GetI32LE(bytes));
        break;
      case ftBoolean:
        if (!ReadExactly(stream, bytes, 1)) return false;
        if (assign) field->SetAsBoolean(bytes[0] != 0);
        break;
      case ftFloat:
      case ftDate:
      case ftTime:
      case ftDateTime: {
        if (!ReadExactly(stream, bytes, 8)) return false;
        double value = GetF64LE(bytes);
        if (!std::isfinite(value)) Damaged(field);
        if (!assign) break;
        if (field->DataType() == ftFloat) {
          field->SetAsFloat(value);
        } else {
          field->SetAsDateTime(value);
        }
        break;
      }
      case ftCurrency:
      case ftBCD:
        if (!ReadExactly(stream, bytes, 8)) return false;
        if (assign) field->SetAsCurrency(Currency::FromRaw(GetI64LE(bytes)));
        break;
      case ftBytes:
      case ftVarBytes: {
        if (!ReadExactly(stream, bytes, 4)) return false;
        int32_t size = GetI32LE(bytes);
        if (size != field->DataSize()) Damaged(field);
        std::vector<uint8_t> value(static_cast<size_t>(size));
        if (!ReadExactly(stream, value.data(), size)) return false;
        if (field->DataType() == ftVarBytes && GetU16LE(value.data()) > field->Size()) {
          Damaged(field);
        }
        if (assign) field->SetData(value.data());
        break;
      }
      default:
        CheckSupported(field);
    }
  }
  return true;
}

// ---- efTextCSV ---------------------------------------------------------------------------------

namespace {

bool InCsv(const TField* field) { return !field->IsBlob() || field->DataType() == ftMemo; }

std::string CsvQuoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::vector<std::string> CsvColumns(const std::string& line) {
  std::vector<std::string> columns;
  size_t i = 0;
  size_t n = line.size();
  while (i < n) {
    std::string value;
    if (line[i] == '"') {
      ++i;
      while (i < n) {
        if (line[i] == '"') {
          if (i + 1 < n && line[i + 1] == '"') {
            value += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        value += line[i++];
      }
      // Text between a closing quote and the next ";" is kept with the value: the format leaves
      // it open, and dropping it would lose data silently.
      while (i < n && line[i] != ';') value += line[i++];
    } else {
      while (i < n && line[i] != ';') value += line[i++];
    }
    columns.push_back(value);
    if (i < n && line[i] == ';') {
      ++i;
      if (i == n) columns.emplace_back();
    }
  }
  return columns;
}

}  // namespace

void TCSVFormat::WriteRecord(TStream& stream) {
  std::string line;
  bool first = true;
  for (TField* field : FieldsInScope()) {
    if (!InCsv(field)) continue;
    std::string text = field->AsString();
    if (field->DataType() == ftMemo) {
      std::string flat;
      for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\n' && i > 0 && text[i - 1] == '\r') continue;
        flat += static_cast<unsigned char>(c) < 32 ? ' ' : c;
      }
      text = std::move(flat);
    } else {
      text = field->AsString();
    }
    if (!first) line += ';';
    first = false;
    line += CsvQuoted(text);
  }
  line += "\r\n";
  WriteBytes(stream, line.data(), line.size());
}

bool TCSVFormat::ReadRecord(TStream& stream) {
  std::vector<std::string> columns = CsvColumns(ReadLine(stream));
  size_t column = 0;
  for (TField* field : FieldsInScope()) {
    if (!InCsv(field)) continue;
    std::string text = column < columns.size() ? columns[column] : std::string();
    ++column;
    if (field->FieldKind() == fkData) AssignText(field, text);
  }
  return true;
}

// ---- efTextConst -------------------------------------------------------------------------------

namespace {

int ColumnWidth(const TField* field) {
  switch (field->DataType()) {
    case ftString:
      return field->Size();
    case ftSmallint:
      return 6;
    case ftInteger:
    case ftAutoInc:
      return 10;
    case ftWord:
      return 5;
    case ftBoolean:
      return 1;
    case ftFloat:
    case ftCurrency:
    case ftBCD:
      return 21;
    case ftDate:
      return 10;
    case ftTime:
      return 8;
    case ftDateTime:
      return 19;
    default:
      return 0;
  }
}

}  // namespace

void TTextConstFormat::WriteRecord(TStream& stream) {
  std::string line;
  for (TField* field : FieldsInScope()) {
    int width = ColumnWidth(field);
    if (width == 0) continue;
    std::string text;
    if (!field->IsNull()) {
      switch (field->DataType()) {
        case ftBoolean:
          text = field->AsBoolean() ? "1" : "0";
          break;
        case ftDate:
          text = FormatDateTime("dd/mm/yyyy", field->AsDateTime());
          break;
        case ftTime:
          text = FormatDateTime("hh:nn:ss", field->AsDateTime());
          break;
        case ftDateTime:
          text = FormatDateTime("dd/mm/yyyy hh:nn:ss", field->AsDateTime());
          break;
        default:
          text = field->AsString();
          break;
      }
    }
    // A wider value would shift every column after it when read back.
    if (static_cast<int>(text.size()) > width) DatabaseErrorFmt(STooWide, {field->FieldName()});
    text.resize(static_cast<size_t>(width), ' ');
    line += text;
  }
  line += "\r\n";
  WriteBytes(stream, line.data(), line.size());
}

bool TTextConstFormat::ReadRecord(TStream& stream) {
  std::vector<TField*> fields = FieldsInScope();
  int64_t length = 2;
  for (TField* field : fields) length += ColumnWidth(field);
  std::string line(static_cast<size_t>(std::min(length, Remaining(stream))), '\0');
  ReadExactly(stream, line.data(), static_cast<int64_t>(line.size()));
  if (static_cast<int64_t>(line.size()) < length || line.compare(line.size() - 2, 2, "\r\n") != 0) {
    DatabaseError("Flux endommag\xE9 : ligne de longueur incorrecte");
  }
  size_t at = 0;
  for (TField* field : fields) {
    auto width = static_cast<size_t>(ColumnWidth(field));
    std::string text = cl::Trim(line.substr(at, width));
    at += width;
    if (field->FieldKind() != fkData) continue;
    if (width == 0) {
      AssignText(field, std::string());
    } else if (field->DataType() == ftBoolean) {
      int32_t value = 0;
      field->SetAsBoolean(TryStrToInt(text, value) && value != 0);
    } else {
      AssignText(field, text);
    }
  }
  return true;
}

// ---- the streamer ------------------------------------------------------------------------------

TDataSetStreamer::TDataSetStreamer(TDataSet* dataset, TExportFormat format, bool include_calc)
    : dataset_(dataset) {
  switch (format) {
    case efTextCSV:
      format_ = std::make_unique<TCSVFormat>(dataset, include_calc);
      break;
    case efTextConst:
      format_ = std::make_unique<TTextConstFormat>(dataset, include_calc);
      break;
    default:
      format_ = std::make_unique<TGenericFormat>(dataset, include_calc);
      break;
  }
}

void TDataSetStreamer::Save(TStream& stream) {
  TBookmark bookmark = dataset_->GetBookmark();
  dataset_->DisableControls();
  auto restore = [&] {
    if (!bookmark.empty() && dataset_->BookmarkValid(bookmark)) dataset_->GotoBookmark(bookmark);
    dataset_->EnableControls();
  };
  try {
    dataset_->First();
    while (!dataset_->Eof()) {
      format_->WriteRecord(stream);
      dataset_->Next();
    }
    format_->WriteEnd(stream);
  } catch (...) {
    try {
      restore();
    } catch (...) {
      // The first failure is the one to report; the position is lost either way.
    }
    throw;
  }
  restore();
}

void TDataSetStreamer::Load(TStream& stream) {
  while (!dataset_->IsEmpty()) dataset_->Delete();
  while (stream.Position() != stream.Size()) {
    dataset_->Append();
    bool read = false;
    try {
      read = format_->ReadRecord(stream);
    } catch (...) {
      dataset_->Cancel();
      throw;
    }
    if (!read) {
      dataset_->Cancel();
      break;
    }
    dataset_->Post();
  }
  dataset_->First();
}

std::string ReadLine(TStream& stream) {
  std::string line;
  char c = 0;
  // Quoted as CsvColumns reads values: a quote opens one only where a value starts (a doubled
  // quote inside stays in it), so that a stray quote elsewhere cannot swallow the line ends after
  // it and merge the rest of the file into one record.
  bool quoted = false;
  bool value_start = true;
  bool just_closed = false;
  while (stream.Read(&c, 1) == 1) {
    if (quoted || (c == '"' && (value_start || just_closed))) {
      if (c == '"') quoted = !quoted;
      just_closed = !quoted;
      value_start = false;
      line += c;
      continue;
    }
    just_closed = false;
    if (c == '\n') break;
    if (c == '\r') {
      // A file written elsewhere may end its lines with LF alone: never take a byte that is not
      // the LF of a CR LF.
      if (stream.Read(&c, 1) == 1 && c != '\n') stream.Seek(-1, soFromCurrent);
      break;
    }
    value_start = c == ';';
    line += c;
  }
  return line;
}

}  // namespace comp
