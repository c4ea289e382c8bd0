#include "engine/components/TFilterExpr.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>
#include <utility>

#include "classlib/db/DBConsts.h"
#include "classlib/db/TDataSet.h"
#include "classlib/db/TField.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/Collation.h"
#include "classlib/rtl/Currency.h"
#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/NumberText.h"
#include "engine/storage/expr/ExpressionNode.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/values/MoneyStorage.h"

namespace tessera {

namespace {

// The engine's field type codes, as constant types of the buffer.
constexpr uint16_t kConstString = kExprTypeString;
constexpr uint16_t kConstDate = kExprTypeDate;
constexpr uint16_t kConstBoolean = kExprTypeBoolean;
constexpr uint16_t kConstSmallint = kExprTypeInt16;
constexpr uint16_t kConstInteger = kExprTypeInt32;
constexpr uint16_t kConstFloat = kExprTypeFloat;
constexpr uint16_t kConstBCD = kExprTypeMoney;
constexpr uint16_t kConstTime = kExprTypeTime;
constexpr uint16_t kConstDateTime = kExprTypeTimestamp;
constexpr uint16_t kConstWord = kExprTypeWord;

// A BCD constant: an 8-byte currency amount followed by bytes nobody reads.
constexpr size_t kBCDConstantSize = 18;
constexpr size_t kMaxBufferSize = 0xFFFF;
constexpr int kMaxDepth = 256;
// The operator codes of field and constant nodes.
constexpr uint32_t kOpFieldNode = 13;
constexpr uint32_t kOpConstantNode = 14;

bool IsRelational(uint32_t op) { return op >= kOpEqual && op <= kOpLessEqual; }

// The operator seen from the other side: 5 < Age is Age > 5.
uint32_t Mirror(uint32_t op) {
  switch (op) {
    case kOpGreater:
      return kOpLess;
    case kOpLess:
      return kOpGreater;
    case kOpGreaterEqual:
      return kOpLessEqual;
    case kOpLessEqual:
      return kOpGreaterEqual;
    default:
      return op;
  }
}

bool IsNameStart(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool IsNameChar(unsigned char c) { return IsNameStart(c) || std::isdigit(c); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A whole number for an integer field, refused outside [low, high] or with a fraction.
int64_t IntegerConstant(const cl::Variant& value, int64_t low, int64_t high) {
  double number;
  if (value.Kind() == cl::Variant::Type::String) {
    number = static_cast<double>(cl::StrToInt64(value.AsString()));
  } else if (value.Kind() == cl::Variant::Type::Integer) {
    number = value.AsInteger();
  } else {
    number = value.AsDouble();
  }
  if (!std::isfinite(number) || number != std::trunc(number) || number < static_cast<double>(low) ||
      number > static_cast<double>(high)) {
    cl::DatabaseError(SExprBadConst);
  }
  return static_cast<int64_t>(number);
}

// The Boolean field's own text rule: a case-insensitive prefix of the true or false text.
bool BooleanConstant(const cl::Variant& value) {
  if (value.Kind() != cl::Variant::Type::String) return value.AsBoolean();
  const std::string text = value.AsString();
  auto is_prefix_of = [&text](std::string_view word) {
    return !text.empty() && text.size() <= word.size() &&
           cl::AnsiSameText(text, word.substr(0, text.size()));
  };
  if (is_prefix_of(cl::STextTrue)) return true;
  if (is_prefix_of(cl::STextFalse)) return false;
  cl::DatabaseErrorFmt(cl::SInvalidBoolValue, {text, ""});
}

cl::TDateTime DateTimeConstant(const cl::Variant& value, cl::TFieldType type) {
  if (value.Kind() != cl::Variant::Type::String) return value.AsDateTime();
  const std::string text = value.AsString();
  if (type == cl::ftDate) return cl::StrToDate(text);
  if (type == cl::ftTime) return cl::StrToTime(text);
  return cl::StrToDateTime(text);
}

cl::Currency CurrencyConstant(const cl::Variant& value) {
  switch (value.Kind()) {
    case cl::Variant::Type::String:
      return cl::StrToCurr(value.AsString());
    case cl::Variant::Type::Double:
      return cl::FloatToCurr(value.AsDouble());
    default:
      return value.AsCurrency();
  }
}

double FloatConstant(const cl::Variant& value) {
  if (value.Kind() == cl::Variant::Type::String) return cl::StrToFloat(value.AsString());
  return value.AsDouble();
}

template <size_t N>
std::vector<uint8_t> Bytes(const uint8_t (&bytes)[N]) {
  return std::vector<uint8_t>(bytes, bytes + N);
}

}  // namespace

// ---- TFilterExpr -------------------------------------------------------------------------------

TFilterExpr::TFilterExpr(cl::TDataSet& dataset, cl::TFilterOptions options)
    : dataset_(dataset), options_(options) {}

TExprNode* TFilterExpr::NewNode(TExprNodeKind kind, uint32_t op, const cl::Variant& data,
                                TExprNode* left, TExprNode* right) {
  auto node = std::make_unique<TExprNode>();
  node->kind = kind;
  node->op = op;
  node->data = data;
  node->left = left;
  node->right = right;
  nodes_.push_back(std::move(node));
  return nodes_.back().get();
}

TExprNode* TFilterExpr::NewFieldNode(std::string_view name) {
  cl::TField* field = dataset_.FieldByName(name);
  if (field->Calculated() || field->Lookup()) {
    cl::DatabaseErrorFmt(SExprBadField, {field->FieldName()});
  }
  TExprNode* node = NewNode(enField, 0, {}, nullptr, nullptr);
  node->field = field;
  return node;
}

TExprNode* TFilterExpr::NewCompareNode(cl::TField* field, uint32_t op, const cl::Variant& value,
                                       bool partial) {
  TExprNode* left = NewFieldNode(field->FieldName());
  TExprNode* right = value.IsNull() || value.IsEmpty()
                         ? NewNode(enNull, 0, {}, nullptr, nullptr)
                         : NewNode(enConst, 0, value, nullptr, nullptr);
  TExprNode* node = NewNode(enOperator, op, {}, left, right);
  node->partial = partial;
  return node;
}

std::vector<uint8_t> TFilterExpr::GetFilterData(TExprNode* root) {
  node_area_.clear();
  literal_area_.clear();
  PutCondition(root);
  const size_t total = kFilterBufferHeaderSize + node_area_.size() + literal_area_.size();
  std::vector<uint8_t> data(total, 0);
  cl::PutU16LE(&data[0], 0);
  cl::PutU16LE(&data[2], static_cast<uint16_t>(total));
  cl::PutU16LE(&data[4], 0xFFFF);
  cl::PutU16LE(&data[6], static_cast<uint16_t>(kFilterBufferHeaderSize));
  cl::PutU16LE(&data[8], static_cast<uint16_t>(kFilterBufferHeaderSize + node_area_.size()));
  std::memcpy(&data[kFilterBufferHeaderSize], node_area_.data(), node_area_.size());
  if (!literal_area_.empty()) {
    std::memcpy(&data[kFilterBufferHeaderSize + node_area_.size()], literal_area_.data(),
                literal_area_.size());
  }
  return data;
}

// A node that yields true or false: AND, OR, NOT, a comparison, or a Boolean field alone.
uint16_t TFilterExpr::PutCondition(const TExprNode* node) {
  switch (node->kind) {
    case enField: {
      if (node->field->DataType() != cl::ftBoolean) {
        cl::DatabaseErrorFmt(SExprNotBoolean, {node->field->FieldName()});
      }
      const uint16_t at = NodeSlot(kFilterNodeBinary, kOpEqual);
      SetArgument(at, 0, PutField(node->field));
      SetArgument(at, 1, PutConstant(node->field, cl::Variant(true), ""));
      return at;
    }
    case enConst:
    case enNull:
      cl::DatabaseError(SExprIncorrect);
    case enOperator:
      break;
  }
  if (node->op == kOpNot) {
    const uint16_t at = NodeSlot(kFilterNodeUnary, kOpNot);
    SetArgument(at, 0, PutCondition(node->left));
    return at;
  }
  if (node->op == kOpAnd || node->op == kOpOr) {
    const uint16_t at = NodeSlot(kFilterNodeBinary, node->op);
    SetArgument(at, 0, PutCondition(node->left));
    SetArgument(at, 1, PutCondition(node->right));
    return at;
  }
  return PutComparison(node);
}

uint16_t TFilterExpr::PutComparison(const TExprNode* node) {
  const TExprNode* left = node->left;
  const TExprNode* right = node->right;
  uint32_t op = node->op;
  if (!IsRelational(op) || left->kind == enOperator || right->kind == enOperator) {
    cl::DatabaseError(SExprIncorrect);
  }
  if ((left->kind == enNull || right->kind == enNull) && op != kOpEqual && op != kOpNotEqual) {
    cl::DatabaseError(SExprNullOnlyEqual);
  }
  if (left->kind != enField) {
    std::swap(left, right);
    op = Mirror(op);
  }
  if (left->kind != enField) cl::DatabaseError(SExprIncorrect);
  cl::TField* field = left->field;

  if (right->kind == enNull) {
    const uint16_t at = NodeSlot(kFilterNodeUnary, op == kOpEqual ? kOpIsNull : kOpIsNotNull);
    SetArgument(at, 0, PutField(field));
    return at;
  }
  if (right->kind == enField) {
    const uint16_t at = NodeSlot(kFilterNodeBinary, op);
    SetArgument(at, 0, PutField(field));
    SetArgument(at, 1, PutField(right->field));
    return at;
  }

  if (field->DataType() == cl::ftString && (op == kOpEqual || op == kOpNotEqual)) {
    std::string text = right->text.empty() ? cl::VarToStr(right->data) : right->text;
    const bool case_insensitive = options_.Contains(cl::foCaseInsensitive);
    bool partial = node->partial;
    size_t partial_length = partial ? text.size() : 0;
    if (!partial && text.size() >= 2 && text.back() == '*' &&
        !options_.Contains(cl::foNoPartialCompare)) {
      text.pop_back();
      partial = true;
      partial_length = text.size();
    }
    if (case_insensitive || partial) {
      const uint16_t at = NodeSlot(kFilterNodeCompare, op);
      SetArgument(at, 0, case_insensitive ? 1 : 0);
      SetArgument(at, 1, static_cast<uint16_t>(partial_length & 0xFF));
      SetArgument(at, 2, PutField(field));
      SetArgument(at, 3, PutConstant(field, cl::Variant(std::move(text)), ""));
      return at;
    }
  }
  const uint16_t at = NodeSlot(kFilterNodeBinary, op);
  SetArgument(at, 0, PutField(field));
  SetArgument(at, 1, PutConstant(field, right->data, right->text));
  return at;
}

uint16_t TFilterExpr::PutField(cl::TField* field) {
  const uint16_t at = NodeSlot(kFilterNodeField, kOpFieldNode);
  const std::string name = dataset_.Translate(field->FieldName(), true);
  SetArgument(at, 0, static_cast<uint16_t>(field->FieldNo()));
  SetArgument(at, 1, PutLiteral(name.c_str(), name.size() + 1));
  return at;
}

// `written`: a number as the text gave it (a string field takes it as it stands), else "".
uint16_t TFilterExpr::PutConstant(cl::TField* field, const cl::Variant& value,
                                  const std::string& written) {
  uint16_t type = 0;
  std::vector<uint8_t> bytes;
  const cl::Variant& numeric = value;
  switch (field->DataType()) {
    case cl::ftString: {
      const std::string text =
          dataset_.Translate(written.empty() ? cl::VarToStr(value) : written, true);
      if (text.size() > kMaxStringValueLength) cl::DatabaseError(SExprBadConst);
      type = kConstString;
      bytes.assign(text.begin(), text.end());
      bytes.push_back(0);
      break;
    }
    case cl::ftSmallint: {
      uint8_t b[2];
      cl::PutU16LE(b, static_cast<uint16_t>(IntegerConstant(numeric, -32768, 32767)));
      type = kConstSmallint;
      bytes = Bytes(b);
      break;
    }
    case cl::ftInteger:
    case cl::ftAutoInc: {
      uint8_t b[4];
      cl::PutU32LE(
          b, static_cast<uint32_t>(IntegerConstant(numeric, std::numeric_limits<int32_t>::min(),
                                                   std::numeric_limits<int32_t>::max())));
      type = kConstInteger;
      bytes = Bytes(b);
      break;
    }
    case cl::ftWord: {
      uint8_t b[2];
      cl::PutU16LE(b, static_cast<uint16_t>(IntegerConstant(numeric, 0, 65535)));
      type = kConstWord;
      bytes = Bytes(b);
      break;
    }
    case cl::ftBoolean: {
      uint8_t b[2];
      cl::PutU16LE(b, BooleanConstant(numeric) ? 0xFFFF : 0);
      type = kConstBoolean;
      bytes = Bytes(b);
      break;
    }
    case cl::ftFloat:
    case cl::ftCurrency: {
      uint8_t b[8];
      cl::PutF64LE(b, FloatConstant(numeric));
      type = kConstFloat;
      bytes = Bytes(b);
      break;
    }
    case cl::ftBCD: {
      const cl::Currency amount = RoundCurrency(field->Size(), CurrencyConstant(numeric));
      bytes.assign(kBCDConstantSize, 0);
      cl::PutU64LE(bytes.data(), static_cast<uint64_t>(amount.Raw));
      type = kConstBCD;
      break;
    }
    case cl::ftDate:
    case cl::ftTime: {
      const cl::TTimeStamp stamp =
          cl::DateTimeToTimeStamp(DateTimeConstant(numeric, field->DataType()));
      uint8_t b[4];
      cl::PutU32LE(
          b, static_cast<uint32_t>(field->DataType() == cl::ftDate ? stamp.Date : stamp.Time));
      type = field->DataType() == cl::ftDate ? kConstDate : kConstTime;
      bytes = Bytes(b);
      break;
    }
    case cl::ftDateTime: {
      uint8_t b[8];
      cl::PutF64LE(b, cl::TimeStampToMSecs(
                          cl::DateTimeToTimeStamp(DateTimeConstant(numeric, cl::ftDateTime))));
      type = kConstDateTime;
      bytes = Bytes(b);
      break;
    }
    default:
      // Blobs and byte fields have no constant form; they can only be tested for NULL.
      cl::DatabaseErrorFmt(SExprBadField, {field->FieldName()});
  }
  const uint16_t at = NodeSlot(kFilterNodeConstant, kOpConstantNode);
  SetArgument(at, 0, type);
  SetArgument(at, 1, static_cast<uint16_t>(bytes.size()));
  SetArgument(at, 2, PutLiteral(bytes.data(), bytes.size()));
  return at;
}

uint16_t TFilterExpr::NodeSlot(uint32_t node_class, uint32_t op) {
  const size_t at = node_area_.size();
  node_area_.resize(at + kFilterNodeSize, 0);
  CheckSize();
  cl::PutU32LE(&node_area_[at], node_class);
  cl::PutU32LE(&node_area_[at + 4], op);
  return static_cast<uint16_t>(at);
}

void TFilterExpr::SetArgument(uint16_t node, size_t index, uint16_t value) {
  cl::PutU16LE(&node_area_[size_t{node} + 8 + 2 * index], value);
}

uint16_t TFilterExpr::PutLiteral(const void* bytes, size_t size) {
  const size_t at = literal_area_.size();
  literal_area_.resize(at + size);
  CheckSize();
  std::memcpy(&literal_area_[at], bytes, size);
  return static_cast<uint16_t>(at);
}

// Sizes and offsets are 16-bit: a buffer past 65,535 bytes cannot be described.
void TFilterExpr::CheckSize() const {
  if (kFilterBufferHeaderSize + node_area_.size() + literal_area_.size() > kMaxBufferSize) {
    cl::DatabaseError(SExprIncorrect);
  }
}

// ---- TExprParser -------------------------------------------------------------------------------

TExprParser::TExprParser(cl::TDataSet& dataset, std::string_view text, cl::TFilterOptions options)
    : filter_(dataset, options), text_(text) {
  NextToken();
  TExprNode* root = ParseExpr();
  if (token_ != kEnd) cl::DatabaseError(SExprTermination);
  filter_data_ = filter_.GetFilterData(root);
}

void TExprParser::NextToken() {
  while (position_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[position_]))) {
    ++position_;
  }
  token_start_ = position_;
  token_text_.clear();
  if (position_ >= text_.size()) {
    token_ = kEnd;
    return;
  }
  const char c = text_[position_];
  const char next = position_ + 1 < text_.size() ? text_[position_ + 1] : '\0';
  if (c == '[') {
    const size_t close = text_.find(']', position_ + 1);
    if (close == std::string_view::npos) cl::DatabaseError(SExprNameError);
    token_text_ = text_.substr(position_ + 1, close - position_ - 1);
    position_ = close + 1;
    token_ = kName;
  } else if (c == '\'') {
    // A quote inside the text is written twice.
    ++position_;
    for (;;) {
      if (position_ >= text_.size()) cl::DatabaseError(SExprStringError);
      if (text_[position_] == '\'') {
        if (position_ + 1 < text_.size() && text_[position_ + 1] == '\'') {
          token_text_ += '\'';
          position_ += 2;
          continue;
        }
        ++position_;
        break;
      }
      token_text_ += text_[position_++];
    }
    token_ = kText;
  } else if (IsDigit(c) || (c == '.' && IsDigit(next)) ||
             ((c == '-' || c == '+') && (IsDigit(next) || next == '.'))) {
    ReadNumber();
  } else if (IsNameStart(static_cast<unsigned char>(c))) {
    while (position_ < text_.size() && IsNameChar(static_cast<unsigned char>(text_[position_]))) {
      ++position_;
    }
    token_text_ = text_.substr(token_start_, position_ - token_start_);
    token_ = kName;
    if (cl::AnsiSameText(token_text_, "AND")) token_ = kAnd;
    if (cl::AnsiSameText(token_text_, "OR")) token_ = kOr;
    if (cl::AnsiSameText(token_text_, "NOT")) token_ = kNot;
    if (cl::AnsiSameText(token_text_, "NULL")) token_ = kNull;
  } else if (c == '(' || c == ')') {
    token_ = c == '(' ? kLParen : kRParen;
    token_text_ = c;
    ++position_;
  } else if (c == '=' || c == '<' || c == '>') {
    token_ = kCompare;
    size_t length = 1;
    if (c == '=') {
      token_op_ = kOpEqual;
    } else if (c == '<' && next == '>') {
      token_op_ = kOpNotEqual;
      length = 2;
    } else if (next == '=') {
      token_op_ = c == '<' ? kOpLessEqual : kOpGreaterEqual;
      length = 2;
    } else {
      token_op_ = c == '<' ? kOpLess : kOpGreater;
    }
    token_text_ = text_.substr(position_, length);
    position_ += length;
  } else {
    cl::DatabaseErrorFmt(SExprInvalidChar, {std::string(1, c)});
  }
}

// A number in the text, always with "." as its decimal point.
void TExprParser::ReadNumber() {
  size_t end = position_ + 1;
  bool fraction = text_[position_] == '.';
  while (end < text_.size() && (IsDigit(text_[end]) || (text_[end] == '.' && !fraction))) {
    if (text_[end] == '.') fraction = true;
    ++end;
  }
  token_text_ = text_.substr(position_, end - position_);
  position_ = end;
  token_ = kNumber;
}

TExprNode* TExprParser::ParseExpr() {
  TExprNode* left = ParseAnd();
  while (token_ == kOr) {
    NextToken();
    TExprNode* right = ParseAnd();
    left = filter_.NewNode(enOperator, kOpOr, {}, left, right);
  }
  return left;
}

TExprNode* TExprParser::ParseAnd() {
  TExprNode* left = ParseUnary();
  while (token_ == kAnd) {
    NextToken();
    TExprNode* right = ParseUnary();
    left = filter_.NewNode(enOperator, kOpAnd, {}, left, right);
  }
  return left;
}

TExprNode* TExprParser::ParseUnary() {
  if (token_ != kNot) return ParseCompare();
  if (++depth_ > kMaxDepth) cl::DatabaseError(SExprIncorrect);
  NextToken();
  TExprNode* operand = ParseUnary();
  --depth_;
  return filter_.NewNode(enOperator, kOpNot, {}, operand, nullptr);
}

TExprNode* TExprParser::ParseCompare() {
  TExprNode* left = ParseOperand();
  if (token_ != kCompare) return left;
  const uint32_t op = token_op_;
  NextToken();
  TExprNode* right = ParseOperand();
  return filter_.NewNode(enOperator, op, {}, left, right);
}

TExprNode* TExprParser::ParseOperand() {
  TExprNode* node = nullptr;
  switch (token_) {
    case kName:
      node = filter_.NewFieldNode(token_text_);
      break;
    case kText:
      node = filter_.NewNode(enConst, 0, cl::Variant(token_text_), nullptr, nullptr);
      break;
    case kNumber: {
      double value = 0;
      const char* first = token_text_.data() + (token_text_[0] == '+' ? 1 : 0);
      const char* last = token_text_.data() + token_text_.size();
      const auto [end, error] = std::from_chars(first, last, value);
      if (error == std::errc::result_out_of_range) cl::DatabaseError(SExprBadConst);
      if (error != std::errc{} || end != last) cl::DatabaseErrorFmt(SExprExpected, {TokenName()});
      node = filter_.NewNode(enConst, 0, cl::Variant(value), nullptr, nullptr);
      node->text = token_text_;
      break;
    }
    case kNull:
      node = filter_.NewNode(enNull, 0, {}, nullptr, nullptr);
      break;
    case kLParen: {
      if (++depth_ > kMaxDepth) cl::DatabaseError(SExprIncorrect);
      NextToken();
      node = ParseExpr();
      if (token_ != kRParen) cl::DatabaseErrorFmt(SExprNoRParen, {TokenName()});
      --depth_;
      break;
    }
    default:
      cl::DatabaseErrorFmt(SExprExpected, {TokenName()});
  }
  NextToken();
  return node;
}

std::string TExprParser::TokenName() const {
  if (token_ == kEnd) return SExprTokenEnd;
  return std::string(text_.substr(token_start_, position_ - token_start_));
}

// ---- entry points ------------------------------------------------------------------------------

uint16_t MakeTextFilter(TDataFile& file, cl::TDataSet& dataset, std::string_view text,
                        cl::TFilterOptions options, TFilter** handle) {
  const TExprParser parser(dataset, text, options);
  return file.AddFilter(parser.FilterData(), nullptr, false, false, nullptr, {}, handle);
}

uint16_t MakeLocateFilter(TDataFile& file, cl::TDataSet& dataset,
                          const std::vector<cl::TField*>& fields, const cl::Variant& values,
                          cl::TLocateOptions options, TFilter** handle) {
  // A located value is taken as it stands: a trailing "*" is no prefix mark here.
  cl::TFilterOptions filter_options;
  filter_options.Include(cl::foNoPartialCompare);
  if (options.Contains(cl::loCaseInsensitive)) filter_options.Include(cl::foCaseInsensitive);
  TFilterExpr filter(dataset, filter_options);
  TExprNode* root = nullptr;
  if (fields.empty()) cl::DatabaseError(SExprIncorrect);
  const bool partial = options.Contains(cl::loPartialKey);
  for (size_t i = 0; i < fields.size(); ++i) {
    const cl::Variant& value =
        values.IsArray() ? values[static_cast<int>(i)] : (i == 0 ? values : cl::Variant::Null());
    // Every text begins with "": an empty prefix puts no condition on its field.
    if (partial && fields[i]->DataType() == cl::ftString && !value.IsNull() && !value.IsEmpty() &&
        cl::VarToStr(value).empty()) {
      continue;
    }
    TExprNode* compare = filter.NewCompareNode(fields[i], kOpEqual, value, partial);
    root = root == nullptr ? compare : filter.NewNode(enOperator, kOpAnd, {}, root, compare);
  }
  if (root == nullptr) {
    return file.AddFilter(
        {}, nullptr, false, false, nullptr, [](void*, const uint8_t*, uint32_t) { return true; },
        handle);
  }
  const std::vector<uint8_t> data = filter.GetFilterData(root);
  return file.AddFilter(data, nullptr, false, false, nullptr, {}, handle);
}

uint16_t MakeCallbackFilter(TDataFile& file, void* data, TFilterCallback callback,
                            TFilter** handle) {
  return file.AddFilter({}, nullptr, false, false, data, std::move(callback), handle);
}

}  // namespace tessera
