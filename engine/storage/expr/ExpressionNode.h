// The node of the engine's expression trees, shared by filters and SQL.
//
// A tree is owned by whoever holds its root (an ExpressionNodePtr); children are owned by their
// parent.  A list of values hangs off one operand slot through `next` links of its own, apart from
// the operands, so that a value written as an expression keeps both its operands:
//   IN, NOT IN            second: the first value, each value's `next` the following one
//   BETWEEN, NOT BETWEEN  second: the low bound, its `next` the high bound
//   SUBSTRING             second: the FROM value, its `next` the FOR value (when given)
// Trees can be long in one direction (a long IN list; a long "a OR b OR c ..." leans left), so
// destruction and copying walk the tree with an explicit stack instead of recursion: no input can
// overflow the call stack there.
//
// The value area keeps the engine's 255-byte form: a NUL-terminated string of at most 254
// characters, or the binary value of the node's type, little-endian:
//   boolean  i16 -1 / 0            16-bit integer  i16       word       u16
//   32-bit   i32                   date            u32 day number (0001-01-01 = day 1)
//   time     u32 ms since midnight float           f64       timestamp  f64 ms since day 1 00:00
//   money    i64 in units of 1/10000 (not the scaled-decimal form of a stored field)
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/storage/values/FieldTypes.h"

namespace tessera {

// Node kinds.
inline constexpr uint32_t kNodeUnary = 1;
inline constexpr uint32_t kNodeBinary = 2;
inline constexpr uint32_t kNodePrefixCompare = 3;
inline constexpr uint32_t kNodeColumn = 4;
inline constexpr uint32_t kNodeConstant = 5;
inline constexpr uint32_t kNodeFunction = 10;
inline constexpr uint32_t kNodePredicate = 12;

// Operator and function codes.  The numbers are shared with the compiled filter buffers of the
// dataset layer and must never change.
inline constexpr uint32_t kOpIsNull = 1;
inline constexpr uint32_t kOpIsNotNull = 2;
inline constexpr uint32_t kOpEqual = 3;
inline constexpr uint32_t kOpNotEqual = 4;
inline constexpr uint32_t kOpGreater = 5;
inline constexpr uint32_t kOpLess = 6;
inline constexpr uint32_t kOpGreaterEqual = 7;
inline constexpr uint32_t kOpLessEqual = 8;
inline constexpr uint32_t kOpNot = 9;
inline constexpr uint32_t kOpAnd = 10;
inline constexpr uint32_t kOpOr = 11;
inline constexpr uint32_t kOpNegate = 15;
inline constexpr uint32_t kOpPlus = 16;
inline constexpr uint32_t kOpAdd = 17;  // also the concatenation "||"
inline constexpr uint32_t kOpSubtract = 18;
inline constexpr uint32_t kOpMultiply = 19;
inline constexpr uint32_t kOpDivide = 20;
inline constexpr uint32_t kFnSum = 23;
inline constexpr uint32_t kFnCount = 24;
inline constexpr uint32_t kFnMin = 25;
inline constexpr uint32_t kFnMax = 26;
inline constexpr uint32_t kFnAvg = 27;
inline constexpr uint32_t kOpLike = 31;
inline constexpr uint32_t kOpIn = 32;
inline constexpr uint32_t kFnUpper = 34;
inline constexpr uint32_t kFnLower = 35;
inline constexpr uint32_t kOpBetween = 39;
inline constexpr uint32_t kOpNotBetween = 40;
inline constexpr uint32_t kOpNotLike = 41;
inline constexpr uint32_t kOpNotIn = 42;
inline constexpr uint32_t kFnSubstring = 43;
inline constexpr uint32_t kFnTrimLeading = 44;
inline constexpr uint32_t kFnTrimTrailing = 45;
inline constexpr uint32_t kFnTrimBoth = 46;
inline constexpr uint32_t kFnExtractYear = 48;
inline constexpr uint32_t kFnExtractMonth = 49;
inline constexpr uint32_t kFnExtractDay = 50;

// The value types of expressions: the field type codes of the data file, 0 for a value whose type
// is not known yet (the NULL literal, a parameter).
inline constexpr uint8_t kExprTypeNone = 0;
inline constexpr uint8_t kExprTypeString = kFieldString;
inline constexpr uint8_t kExprTypeDate = kFieldDate;
inline constexpr uint8_t kExprTypeBlob = kFieldBlob;
inline constexpr uint8_t kExprTypeBoolean = kFieldBoolean;
inline constexpr uint8_t kExprTypeInt16 = kFieldInt16;
inline constexpr uint8_t kExprTypeInt32 = kFieldInt32;
inline constexpr uint8_t kExprTypeFloat = kFieldFloat;
inline constexpr uint8_t kExprTypeMoney = kFieldMoney;
inline constexpr uint8_t kExprTypeBytes = kFieldBytes;
inline constexpr uint8_t kExprTypeTime = kFieldTime;
inline constexpr uint8_t kExprTypeTimestamp = kFieldTimeStamp;
inline constexpr uint8_t kExprTypeWord = kFieldWord;

// The field sub-type of a money value shown as currency.
inline constexpr uint8_t kSubTypeCurrency = 21;

inline constexpr size_t kValueAreaSize = 255;
inline constexpr size_t kMaxStringValueLength = kValueAreaSize - 1;  // plus the NUL
inline constexpr size_t kMaxNodeTextLength = 255;

// Everything a node holds except its children; copying it copies one node's data.
struct ExpressionNodeFields {
  std::string text;  // source text: operator symbol, name or literal as written
  uint32_t kind = 0;
  uint32_t code = 0;
  uint8_t index_verdict = 0;  // 0 index serves it, 1 partly, 2 per record
  uint8_t join_type = 0;      // a comparison of an SQL ON condition: its join; 0 for any other
  std::string column_name;
  uint16_t field_number = 0;
  std::string correlation_name;
  std::array<uint8_t, kValueAreaSize> value{};
  uint8_t is_null = 0;
  uint8_t is_parameter = 0;
  uint8_t prefix_length = 0;     // prefix comparison: leading characters compared, 0 = all
  uint8_t case_insensitive = 0;  // prefix comparison
  uint8_t type = 0;
  uint8_t sub_type = 0;
  uint8_t size = 0;  // bytes; a string's length + 1
  uint8_t decimals = 0;
  uint8_t from_quoted_text = 0;  // a quoted text that the checker bound to a column
  uint8_t saved_type = 0;        // the quoted text's own typing, for undoing the binding
  uint8_t saved_sub_type = 0;
  uint8_t saved_size = 0;
  uint8_t saved_decimals = 0;

  // Value accessors.  The string reads up to the first NUL; SetString cuts at 254 characters.
  std::string_view StringValue() const;
  void SetString(std::string_view s);
  int16_t Int16Value() const;
  void SetInt16(int16_t v);
  uint16_t WordValue() const;
  void SetWord(uint16_t v);
  int32_t Int32Value() const;
  void SetInt32(int32_t v);
  uint32_t UInt32Value() const;
  void SetUInt32(uint32_t v);
  int64_t Int64Value() const;
  void SetInt64(int64_t v);
  double FloatValue() const;
  void SetFloat(double v);
  // Booleans are 16-bit: any nonzero value is true; SetBoolean writes -1 or 0.
  bool BooleanValue() const { return Int16Value() != 0; }
  void SetBoolean(bool v) { SetInt16(v ? -1 : 0); }
  void ClearValue() { value.fill(0); }
};

struct ExpressionNode;
using ExpressionNodePtr = std::unique_ptr<ExpressionNode>;

struct ExpressionNode : ExpressionNodeFields {
  ExpressionNodePtr first;
  ExpressionNodePtr second;
  ExpressionNodePtr next;  // the following value of a list (above); never an operand

  ExpressionNode() = default;
  ExpressionNode(const ExpressionNode&) = delete;
  ExpressionNode& operator=(const ExpressionNode&) = delete;
  ExpressionNode(ExpressionNode&&) = default;
  ExpressionNode& operator=(ExpressionNode&&) = default;
  // Frees the subtrees iteratively.
  ~ExpressionNode();

  ExpressionNodeFields& Fields() { return *this; }
  const ExpressionNodeFields& Fields() const { return *this; }
};

// A node without children or value: `text` cut to kMaxNodeTextLength, the size the natural one
// of `type` (0 for a type not known yet).
ExpressionNodePtr MakeExpressionNode(uint32_t kind, uint32_t code, std::string_view text,
                                     uint8_t type);

// A copy of the node, both subtrees and the values linked after it; nullptr for nullptr.
ExpressionNodePtr CopyExpressionTree(const ExpressionNode* node);

// Frees a whole tree (children first, then the node) and leaves the holder empty.
void FreeExpressionTree(ExpressionNodePtr& root);

// As FreeExpressionTree; an empty holder is accepted.
void FreeExpression(ExpressionNodePtr& root);

// The natural size in bytes of a value of `type` (strings: the full value area).
uint8_t ValueSizeOfType(uint8_t type);

}  // namespace tessera
