#include "engine/components/TTesseraParams.h"

#include <cstring>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TField.h"
#include "classlib/rtl/AsciiText.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Filer.h"
#include "classlib/rtl/Streams.h"
#include "engine/storage/values/FieldTypes.h"

namespace tessera {

using namespace cl;

namespace {

bool IsTextType(cl::TFieldType type) { return type == ftString || type == ftMemo; }

// Null-terminated text of a value area or stored value, read no further than `size`.
std::string TextOf(const uint8_t* buffer, size_t size) {
  const void* end = std::memchr(buffer, 0, size);
  size_t length =
      end == nullptr ? size : static_cast<size_t>(static_cast<const uint8_t*>(end) - buffer);
  return std::string(reinterpret_cast<const char*>(buffer), length);
}

}  // namespace

// ---- TTesseraParam -----------------------------------------------------------------------------

TTesseraParam::TTesseraParam(TTesseraParams* owner, std::string name, TParamType param_type)
    : owner_(owner), name_(std::move(name)), param_type_(param_type) {}

void TTesseraParam::Set(cl::TFieldType type, const Variant& value) {
  data_type_ = type;
  value_ = value;
  null_ = false;
  bound_ = true;
}

void TTesseraParam::SetValue(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) {
    Clear();
    return;
  }
  cl::TFieldType type = data_type_;
  if (type == ftUnknown) {
    switch (value.Kind()) {
      case Variant::Type::Boolean:
        type = ftBoolean;
        break;
      case Variant::Type::Integer:
        type = ftInteger;
        break;
      case Variant::Type::Double:
        type = ftFloat;
        break;
      case Variant::Type::Currency:
        type = ftCurrency;
        break;
      case Variant::Type::Date:
        type = ftDateTime;
        break;
      default:
        type = ftString;
        break;
    }
  }
  Set(type, value);
}

void TTesseraParam::Clear() {
  value_ = Variant::Null();
  null_ = true;
  bound_ = true;
}

void TTesseraParam::AssignField(const TField& field) {
  data_type_ = field.DataType();
  if (field.IsNull()) {
    Clear();
  } else {
    Set(field.DataType(), field.Value());
  }
}

void TTesseraParam::Assign(const TTesseraParam& other) {
  value_ = other.value_;
  data_type_ = other.data_type_;
  null_ = other.null_;
  bound_ = other.bound_;
  param_type_ = other.param_type_;
}

uint8_t TTesseraParam::EngineType() const {
  switch (data_type_) {
    case ftString:
      return kFieldString;
    case ftMemo:
    case ftBlob:
    case ftGraphic:
    case ftFmtMemo:
    case ftTypedBinary:
      return kFieldBlob;
    case ftSmallint:
      return kFieldInt16;
    case ftInteger:
    case ftAutoInc:
      return kFieldInt32;
    case ftWord:
      return kFieldWord;
    case ftBoolean:
      return kFieldBoolean;
    case ftFloat:
    case ftCurrency:
      return kFieldFloat;
    case ftBCD:
      return kFieldMoney;
    case ftDate:
      return kFieldDate;
    case ftTime:
      return kFieldTime;
    case ftDateTime:
      return kFieldTimeStamp;
    case ftBytes:
      return kFieldBytes;
    case ftVarBytes:
      return kFieldSized;
    default:
      DatabaseErrorFmt(SNoParameterValue, {name_});
  }
}

size_t TTesseraParam::DataSize() const {
  uint8_t type = EngineType();
  if (data_type_ == ftString || data_type_ == ftMemo) return AsString().size() + 1;
  switch (type) {
    case kFieldInt16:
    case kFieldWord:
    case kFieldBoolean:
      return 2;
    case kFieldInt32:
    case kFieldDate:
    case kFieldTime:
      return 4;
    case kFieldFloat:
    case kFieldMoney:
    case kFieldTimeStamp:
      return 8;
    default:
      DatabaseErrorFmt(SUnsupportedParamType, {name_});
  }
}

void TTesseraParam::GetData(uint8_t* buffer) const {
  size_t size = DataSize();
  std::memset(buffer, 0, size);
  if (null_) return;
  switch (data_type_) {
    case ftString:
    case ftMemo: {
      std::string text = AsString();
      std::memcpy(buffer, text.data(), text.size());
      break;
    }
    case ftSmallint:
      PutI16LE(buffer, static_cast<int16_t>(value_.AsInteger()));
      break;
    case ftInteger:
    case ftAutoInc:
      PutI32LE(buffer, value_.AsInteger());
      break;
    case ftWord:
      PutU16LE(buffer, static_cast<uint16_t>(value_.AsInteger()));
      break;
    case ftBoolean:
      PutI16LE(buffer, value_.AsBoolean() ? -1 : 0);
      break;
    case ftFloat:
    case ftCurrency:
      PutF64LE(buffer, value_.AsDouble());
      break;
    case ftBCD:
      PutI64LE(buffer, value_.AsCurrency().Raw);
      break;
    case ftDate:
      PutI32LE(buffer, DateTimeToTimeStamp(value_.AsDateTime()).Date);
      break;
    case ftTime:
      PutI32LE(buffer, DateTimeToTimeStamp(value_.AsDateTime()).Time);
      break;
    case ftDateTime:
      PutF64LE(buffer, TimeStampToMSecs(DateTimeToTimeStamp(value_.AsDateTime())));
      break;
    default:
      break;
  }
}

void TTesseraParam::SetData(const uint8_t* buffer, size_t size) {
  if (!IsTextType(data_type_) && size < DataSize()) DatabaseError(SBadParamData);
  switch (data_type_) {
    case ftString:
    case ftMemo:
      value_ = TextOf(buffer, size);
      break;
    case ftSmallint:
      value_ = GetI16LE(buffer);
      break;
    case ftInteger:
    case ftAutoInc:
      value_ = GetI32LE(buffer);
      break;
    case ftWord:
      value_ = GetU16LE(buffer);
      break;
    case ftBoolean:
      value_ = GetI16LE(buffer) != 0;
      break;
    case ftFloat:
    case ftCurrency:
      value_ = GetF64LE(buffer);
      break;
    case ftBCD:
      value_ = Currency::FromRaw(GetI64LE(buffer));
      break;
    case ftDate:
      value_ = Variant::FromDate(TimeStampToDateTime(TTimeStamp{0, GetI32LE(buffer)}));
      break;
    case ftTime:
      value_ = Variant::FromDate(TimeStampToDateTime(TTimeStamp{GetI32LE(buffer), kDateDelta}));
      break;
    case ftDateTime:
      value_ = Variant::FromDate(TimeStampToDateTime(MSecsToTimeStamp(GetF64LE(buffer))));
      break;
    default:
      break;
  }
}

// ---- TTesseraParams ----------------------------------------------------------------------------

TTesseraParam* TTesseraParams::Add(std::string name, TParamType param_type) {
  items_.push_back(std::make_unique<TTesseraParam>(this, std::move(name), param_type));
  return items_.back().get();
}

TTesseraParam* TTesseraParams::FindParam(std::string_view name) const {
  for (const auto& param : items_) {
    if (CompareText(param->Name(), name) == 0) return param.get();
  }
  return nullptr;
}

TTesseraParam* TTesseraParams::ParamByName(std::string_view name) const {
  TTesseraParam* param = FindParam(name);
  if (param == nullptr) DatabaseErrorFmt(SParameterNotFound, {name});
  return param;
}

void TTesseraParams::AssignValues(const TTesseraParams& source) {
  for (const auto& from : source.items_) {
    TTesseraParam* to = FindParam(from->Name());
    if (to != nullptr) to->Assign(*from);
  }
}

namespace {

class DataWriter {
 public:
  explicit DataWriter(bool wide) : wide_(wide) {}
  void U8(uint8_t v) { bytes_.push_back(v); }
  void Count(uint32_t v) {
    uint8_t b[4];
    PutU32LE(b, v);
    bytes_.insert(bytes_.end(), b, b + (wide_ ? 4 : 2));
  }
  void NameLength(uint32_t v) {
    if (!wide_) {
      U8(static_cast<uint8_t>(v));
      return;
    }
    Count(v);
  }
  void Bytes(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
  }
  const std::vector<uint8_t>& Result() const { return bytes_; }

 private:
  bool wide_;
  std::vector<uint8_t> bytes_;
};

// Reads untrusted stored bytes: every length is checked against what is left.
class DataReader {
 public:
  explicit DataReader(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  void SetWide(bool wide) { wide_ = wide; }
  const uint8_t* Take(size_t size) {
    if (size > bytes_.size() - position_) DatabaseError(SBadParamData);
    const uint8_t* p = bytes_.data() + position_;
    position_ += size;
    return p;
  }
  uint8_t U8() { return *Take(1); }
  uint16_t U16() { return GetU16LE(Take(2)); }
  uint32_t Count() { return wide_ ? GetU32LE(Take(4)) : U16(); }
  uint32_t NameLength() { return wide_ ? GetU32LE(Take(4)) : U8(); }

 private:
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
  bool wide_ = false;
};

}  // namespace

void TTesseraParams::WriteData(TStream& stream) const {
  // The narrow format holds names of up to 255 bytes; a longer one takes the wide format rather
  // than being cut.
  bool wide = items_.size() > 0xFFFF;
  for (const auto& param : items_) wide = wide || param->Name().size() > 0xFF;
  DataWriter out(wide);
  uint8_t version[2];
  PutU16LE(version, wide ? 2 : 1);
  out.Bytes(version, 2);
  out.Count(static_cast<uint32_t>(items_.size()));
  for (const auto& param : items_) {
    out.NameLength(static_cast<uint32_t>(param->Name().size()));
    out.Bytes(param->Name().data(), param->Name().size());
    out.U8(param->ParamType());
    out.U8(param->DataType());
    if (param->DataType() != ftUnknown) {
      size_t size = param->DataSize();
      if (size > static_cast<size_t>(kMaxStoredParamSize)) {
        std::string message = DBFormat(SParamTooLarge, {param->Name()});
        message.replace(message.find("%d"), 2, std::to_string(kMaxStoredParamSize));
        DatabaseError(message);
      }
      std::vector<uint8_t> value(size);
      param->GetData(value.data());
      out.Count(static_cast<uint32_t>(size));
      out.Bytes(value.data(), size);
    }
    out.U8(param->IsNull() ? 1 : 0);
    out.U8(param->Bound() ? 1 : 0);
  }
  stream.WriteBuffer(out.Result().data(), static_cast<int32_t>(out.Result().size()));
}

void TTesseraParams::ReadData(TStream& stream) {
  std::vector<uint8_t> bytes(static_cast<size_t>(stream.Size() - stream.Position()));
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
  DataReader in(std::move(bytes));
  uint16_t version = in.U16();
  if (version > 2) DatabaseError(SBadParamData);
  in.SetWide(version == 2);
  uint32_t count = in.Count();
  TTesseraParams loaded;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t length = in.NameLength();
    const uint8_t* name = in.Take(length);
    TTesseraParam* param = loaded.Add(std::string(reinterpret_cast<const char*>(name), length));
    param->SetParamType(static_cast<TParamType>(in.U8()));
    uint8_t type = in.U8();
    if (type >= kFieldTypeCount) DatabaseError(SBadParamData);
    param->SetDataType(static_cast<cl::TFieldType>(type));
    if (type != ftUnknown) {
      uint32_t size = in.Count();
      const uint8_t* value = in.Take(size);
      param->SetData(value, size);
    }
    param->null_ = in.U8() != 0;
    if (param->null_) param->value_ = Variant::Null();
    param->bound_ = in.U8() != 0;
  }
  items_.clear();
  for (auto& param : loaded.items_) {
    param->owner_ = this;
    items_.push_back(std::move(param));
  }
}

void TTesseraParams::DefineProperties(TFiler& filer) {
  filer.DefineBinaryProperty(
      "Data", [this](TStream& stream) { ReadData(stream); },
      [this](TStream& stream) { WriteData(stream); }, !items_.empty());
}

// ---- translation -------------------------------------------------------------------------------

namespace {

bool IsQuote(char c) { return c == '\'' || c == '"'; }

bool EndsName(char c) {
  return c == '\n' || c == '\r' || c == ' ' || c == ')' || c == ',' || c == ';';
}

std::string StripQuotes(std::string name) {
  if (!name.empty() && IsQuote(name.front())) name.erase(0, 1);
  if (!name.empty() && IsQuote(name.back())) name.pop_back();
  return name;
}

}  // namespace

void TranslateParams(std::string& text, TTesseraParams* params) {
  // The quote that opened the string being read (0 outside): the other quote inside it is text.
  char quote = 0;
  auto toggle = [&quote](char c) {
    if (quote == 0) {
      quote = c;
    } else if (c == quote) {
      quote = 0;
    }
  };
  size_t pos = 0;
  while (pos < text.size()) {
    char c = text[pos];
    if (c == '/' && quote == 0 && pos + 1 < text.size() && text[pos + 1] == '*') {
      // A comment ends where the statement's reader ends it, at its first "*/"; an unclosed one
      // is the reader's error, and nothing in it is a parameter.
      const size_t end = text.find("*/", pos + 2);
      pos = end == std::string::npos ? text.size() : end + 2;
      continue;
    }
    if (c == ':' && quote == 0) {
      if (pos + 1 < text.size() && text[pos + 1] == ':') {
        text.erase(pos, 1);
        ++pos;
        continue;
      }
      size_t end = pos + 1;
      bool quoted_name = end < text.size() && IsQuote(text[end]);
      while (end < text.size() && (quote != 0 || !EndsName(text[end]))) {
        if (IsQuote(text[end])) toggle(text[end]);
        ++end;
      }
      std::string name = text.substr(pos + 1, end - pos - 1);
      if (quoted_name) name = StripQuotes(std::move(name));
      if (params != nullptr) params->Add(std::move(name), ptUnknown);
      text.replace(pos, end - pos, "?");
      // The character that ended the name is no quote or colon: step over it with the marker.
      pos += 2;
      continue;
    }
    if (IsQuote(c)) toggle(c);
    ++pos;
  }
}

}  // namespace tessera
