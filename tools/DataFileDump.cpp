#include "tools/DataFileDump.h"

#include <cmath>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <string>

#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/Exceptions.h"
#include "engine/storage/core/TableCipher.h"
#include "engine/storage/table/DataFileFormat.h"
#include "engine/storage/values/EngineFormats.h"
#include "engine/storage/values/FieldValues.h"

namespace tessera {
namespace {

const char* TypeName(uint8_t type) {
  static const char* const kNames[] = {
      "invalid", "string", "date", "blob",      "boolean", "int16",  "int32",   "float",
      "money",   "bytes",  "time", "timestamp", "word",    "4-byte", "10-byte", "sized"};
  return type <= kLastFieldType ? kNames[type] : "unknown";
}

std::string Hex(const uint8_t* p, size_t n) {
  std::ostringstream s;
  s << std::hex << std::setfill('0');
  for (size_t i = 0; i < n; ++i) s << std::setw(2) << static_cast<int>(p[i]);
  return s.str();
}

std::string Quoted(const std::string& text) { return "\"" + cl::Cp1252ToUtf8(text) + "\""; }

// One field's value as text; damage reads as "?" with the bytes.
std::string ValueText(const TFieldDefinition& d, const uint8_t* record) {
  if (d.IsAutoIncrement()) return std::to_string(cl::GetI32LE(record + kRecSequence));
  if (record[d.offset] == 0) return "NULL";
  const uint8_t* data = record + d.offset + 1;
  switch (d.type) {
    case kFieldBlob:
      return "blob @" + std::to_string(cl::GetU32LE(data));
    case kFieldBytes:
    case kFieldFourBytes:
    case kFieldTenBytes:
    case kFieldSized:
      return Hex(data, d.stored_size);
    case kFieldString:
    case kFieldDate:
    case kFieldBoolean:
    case kFieldInt16:
    case kFieldInt32:
    case kFieldFloat:
    case kFieldMoney:
    case kFieldTime:
    case kFieldTimeStamp:
    case kFieldWord: {
      std::vector<uint8_t> buffer(256, 0);
      std::memcpy(buffer.data(), data, d.stored_size);
      try {
        ConvertFieldValue(d.type, d.stored_size, buffer.data(), kFieldString, 255, 0,
                          FixedFormatSettings());
      } catch (const cl::EConvertError&) {
        return "? " + Hex(data, d.stored_size);
      }
      const std::string text(reinterpret_cast<const char*>(buffer.data()));
      return d.type == kFieldString ? Quoted(text) : cl::Cp1252ToUtf8(text);
    }
    default:
      return Hex(data, d.stored_size);
  }
}

// The update stamp as the local date and time it records; a value no date can have (damage, or
// a header never written) as the number alone.
std::string StampText(double stamp) {
  std::ostringstream number;
  number << std::setprecision(17) << stamp;
  const double date_time = stamp + kUpdateStampBias;
  // Years 1 to 9999.
  if (!std::isfinite(date_time) || date_time < -693593.0 || date_time >= 2958466.0) {
    return number.str() + " (not a date)";
  }
  return cl::FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", date_time, FixedFormatSettings()) + " (" +
         number.str() + ")";
}

}  // namespace

bool DumpDataFile(const std::vector<uint8_t>& image, std::ostream& out) {
  if (image.size() < kDataHeaderSize) {
    out << "damage: " << image.size() << " bytes, shorter than the 127-byte header\n";
    return false;
  }
  TDataHeader h;
  std::memcpy(h.Bytes().data(), image.data(), kDataHeaderSize);
  out << "header\n"
      << "  change counter      " << h.ChangeCounter() << "\n"
      << "  blob block size     " << h.StoredBlobBlockSize()
      << (h.StoredBlobBlockSize() == 0 ? " (read as 512)" : "") << "\n"
      << "  version             " << int(h.Version()) << "\n"
      << "  deleted chain head  " << h.DeletedHead() << "\n"
      << "  next record number  " << h.NextRecord() << "\n"
      << "  last auto-increment " << h.LastAutoIncrement() << "\n"
      << "  record size         " << h.RecordSize() << "\n"
      << "  field count         " << h.FieldCount() << "\n"
      << "  blob field count    " << h.BlobFieldCount() << "\n"
      << "  update stamp        " << StampText(h.UpdateStamp()) << "\n"
      << "  description         " << Quoted(h.Description()) << "\n"
      << "  encrypted           " << (h.Encrypted() ? "yes" : "no") << "\n"
      << "  password            " << Quoted(h.Password()) << "\n"
      << "  language, sort      " << h.Language() << ", " << h.Sort() << "\n"
      << "  creator values      " << h.CreatorA() << ", " << h.CreatorB() << "\n"
      << "  computed area       " << h.StoredComputedAreaSize() << "\n"
      << "  changed flag        " << int(image[kDatHeaderChanged]) << "\n";
  switch (CheckDataHeader(h)) {
    case TDataFileFault::kVersion:
      out << "damage: version " << int(h.Version()) << ", not 3\n";
      return false;
    case TDataFileFault::kCorrupt:
      out << "damage: header limits (fields, record size, blob fields or block size)\n";
      return false;
    case TDataFileFault::kNone:
      break;
  }
  const size_t data_start = h.DataStart();
  if (image.size() < data_start) {
    out << "damage: the file ends inside the field definitions\n";
    return false;
  }
  std::vector<uint8_t> block(image.begin() + kDataHeaderSize, image.begin() + data_start);
  if (h.Encrypted()) DecipherBuffer(block.data(), block.size(), kDataKeyA, kDataKeyB);
  std::vector<TFieldDefinition> fields;
  for (size_t i = 0; i < h.FieldCount(); ++i) {
    fields.push_back(DecodeFieldDefinition(block.data() + i * kFieldDefinitionSize));
  }
  DeriveStoredSizes(fields);
  out << "fields\n";
  for (const TFieldDefinition& d : fields) {
    out << "  " << d.number << " " << Quoted(d.name) << " " << TypeName(d.type) << "("
        << int(d.type) << ")" << (d.IsAutoIncrement() ? " auto-increment" : "") << " size "
        << int(d.size) << " decimals " << int(d.decimals) << " stored " << d.stored_size << " at "
        << d.offset << (d.required ? " required" : "") << (d.computed ? " computed" : "");
    if (!d.minimum.empty()) out << " min " << Quoted(d.minimum);
    if (!d.maximum.empty()) out << " max " << Quoted(d.maximum);
    if (!d.default_value.empty()) out << " default " << Quoted(d.default_value);
    out << "\n";
  }
  if (!CheckFieldStructure(fields, h)) {
    out << "damage: field numbers, offsets or sizes do not match the header\n";
    return false;
  }
  bool sound = true;
  const size_t record_size = h.RecordSize();
  const size_t slots = (image.size() - data_start) / record_size;
  if ((image.size() - data_start) % record_size != 0) {
    out << "damage: a partial record of " << (image.size() - data_start) % record_size
        << " bytes at the end\n";
    sound = false;
  }
  if (slots + 1 != h.NextRecord()) {
    out << "damage: " << slots << " record slots, the header counts "
        << (h.NextRecord() == 0 ? 0 : h.NextRecord() - 1) << "\n";
    sound = false;
  }
  out << "records\n";
  std::vector<uint8_t> record(record_size);
  for (size_t n = 1; n <= slots; ++n) {
    std::memcpy(record.data(), image.data() + data_start + (n - 1) * record_size, record_size);
    if (h.Encrypted()) DecipherBuffer(record.data(), record.size(), kDataKeyA, kDataKeyB);
    out << "  " << n;
    if (record[kRecDeleted] != 0) {
      out << " deleted, next " << cl::GetU32LE(&record[kRecLink]) << "\n";
      continue;
    }
    out << " sequence " << cl::GetU32LE(&record[kRecSequence]);
    if (cl::GetU32LE(&record[kRecLink]) != n) {
      out << " (own number " << cl::GetU32LE(&record[kRecLink]) << ")";
    }
    for (const TFieldDefinition& d : fields) {
      if (!d.computed) out << " " << cl::Cp1252ToUtf8(d.name) << "=" << ValueText(d, record.data());
    }
    out << "\n";
  }
  return sound;
}

}  // namespace tessera
