// Filter text and locate conditions turned into the compiled filter expression buffer that
// TDataFile::AddFilter consumes (the buffer's layout is described once, in
// engine/storage/table/TFilter.h).
//
// TExprParser reads a dataset's Filter text into a chain of parse nodes held by a TFilterExpr,
// which then lays the nodes out as the buffer.  Grammar (keywords and field names without regard
// to case):
//
//   expr     := and-expr { OR and-expr }
//   and-expr := unary { AND unary }
//   unary    := NOT unary | compare
//   compare  := operand [ ( = | <> | < | > | <= | >= ) operand ]
//   operand  := field | [field with blanks] | 'text' | number | NULL | ( expr )
//
// A field standing alone must be Boolean (it means "field = true"); a comparison needs one field
// and one constant or NULL; a constant on the left is swapped to the right with the operator
// mirrored.  NULL works only with "=" and "<>" (is null / is not null).  A string field compared
// with "=" or "<>" becomes an extended compare when the options ask for case-insensitivity, the
// compare is partial (locate), or the text has two or more characters and ends with "*" (a
// prefix: the "*" is dropped) while foNoPartialCompare is off; a lone "*" is an ordinary text.
//
// Numbers are read with "." as the decimal point whatever the regional format, so a filter written
// in code keeps its meaning on every workstation.  A quoted text facing a non-string field goes
// through that field type's ordinary text conversion (the current format set).
//
// Every fault in the text raises cl::EDatabaseError with one of the messages below before
// anything reaches the engine; a text constant longer than 254 characters and a buffer that would
// pass 65,535 bytes are refused too (the engine's value area and the buffer's u16 offsets).
//
// The builder reads fields through the dataset only (FieldByName, type, size, decimals, kind);
// calculated and lookup fields are refused, internally calculated ones allowed.
// Threads: the dataset's thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "classlib/db/DBTypes.h"
#include "classlib/rtl/Variant.h"
#include "engine/storage/table/TFilter.h"

namespace cl {
class TDataSet;
class TField;
}  // namespace cl

namespace tessera {

class TDataFile;

// Windows-1252 texts; "%s" is a field name or the token found.
inline constexpr const char* SExprNameError = "Nom de champ non termin\xE9";
inline constexpr const char* SExprStringError =
    "Constante cha\xEEne non termin\xE9"
    "e";
inline constexpr const char* SExprInvalidChar = "Caract\xE8re d'expression filtre incorrect : '%s'";
inline constexpr const char* SExprNoRParen = "')' attendu mais %s trouv\xE9";
inline constexpr const char* SExprExpected = "Expression attendue mais %s trouv\xE9";
inline constexpr const char* SExprBadConst = "Constante hors limites";
inline constexpr const char* SExprNotBoolean = "Le champ '%s' n'est pas de type BOOLEAN";
inline constexpr const char* SExprIncorrect =
    "Expression filtre form\xE9"
    "e incorrectement";
inline constexpr const char* SExprTermination =
    "Expression filtre termin\xE9"
    "e incorrectement";
inline constexpr const char* SExprBadField =
    "Le champ '%s' ne peut \xEAtre utilis\xE9 dans une expression filtre";
inline constexpr const char* SExprNullOnlyEqual = "NULL autoris\xE9 seulement avec '=' et '<>'";
// The end of text as SExprExpected and SExprNoRParen name it.
inline constexpr const char* SExprTokenEnd = "vide";

// One node of the parse chain.  Operators use the engine's codes (ExpressionNode.h: kOpEqual ..
// kOpOr; kOpIsNull / kOpIsNotNull after a NULL compare).
enum TExprNodeKind : uint8_t { enField, enConst, enNull, enOperator };

struct TExprNode {
  TExprNodeKind kind = enConst;
  uint32_t op = 0;
  bool partial = false;  // a locate compare on a key prefix
  cl::TField* field = nullptr;
  cl::Variant data;  // a constant's value: a String for quoted text, a number for a number
  std::string text;  // a number as written
  TExprNode* left = nullptr;
  TExprNode* right = nullptr;
};

// Owns the parse nodes of one filter and lays them out as the compiled buffer.
class TFilterExpr {
 public:
  TFilterExpr(cl::TDataSet& dataset, cl::TFilterOptions options);
  TFilterExpr(const TFilterExpr&) = delete;
  TFilterExpr& operator=(const TFilterExpr&) = delete;

  TExprNode* NewNode(TExprNodeKind kind, uint32_t op, const cl::Variant& data, TExprNode* left,
                     TExprNode* right);
  // The field named `name` in the dataset: the class library's field-not-found error when
  // absent, SExprBadField for a calculated or lookup field.
  TExprNode* NewFieldNode(std::string_view name);
  // A comparison of `field` and the constant `value` (a locate condition); `partial` as
  // loPartialKey.
  TExprNode* NewCompareNode(cl::TField* field, uint32_t op, const cl::Variant& value, bool partial);

  // The buffer for the tree under `root`.  Raises the node rules' messages (SExprNotBoolean,
  // SExprIncorrect, SExprNullOnlyEqual, SExprBadConst).
  std::vector<uint8_t> GetFilterData(TExprNode* root);

 private:
  uint16_t PutCondition(const TExprNode* node);
  uint16_t PutComparison(const TExprNode* node);
  uint16_t PutField(cl::TField* field);
  uint16_t PutConstant(cl::TField* field, const cl::Variant& value, const std::string& written);
  uint16_t NodeSlot(uint32_t node_class, uint32_t op);
  void SetArgument(uint16_t node, size_t index, uint16_t value);
  uint16_t PutLiteral(const void* bytes, size_t size);
  void CheckSize() const;

  cl::TDataSet& dataset_;
  cl::TFilterOptions options_;
  std::vector<std::unique_ptr<TExprNode>> nodes_;
  std::vector<uint8_t> node_area_;
  std::vector<uint8_t> literal_area_;
};

// Parses one filter text; FilterData() is its compiled buffer.
class TExprParser {
 public:
  // Raises cl::EDatabaseError for any fault in `text`.
  TExprParser(cl::TDataSet& dataset, std::string_view text, cl::TFilterOptions options);
  const std::vector<uint8_t>& FilterData() const { return filter_data_; }
  size_t DataSize() const { return filter_data_.size(); }

 private:
  enum TokenKind : uint8_t {
    kEnd,
    kName,
    kText,
    kNumber,
    kNull,
    kAnd,
    kOr,
    kNot,
    kCompare,
    kLParen,
    kRParen
  };

  void NextToken();
  TExprNode* ParseExpr();
  TExprNode* ParseAnd();
  TExprNode* ParseUnary();
  TExprNode* ParseCompare();
  TExprNode* ParseOperand();
  void ReadNumber();
  // The token as SExprExpected and SExprNoRParen name it.
  std::string TokenName() const;

  TFilterExpr filter_;
  std::string_view text_;
  size_t position_ = 0;
  size_t token_start_ = 0;
  TokenKind token_ = kEnd;
  uint32_t token_op_ = 0;  // kCompare: the operator
  int depth_ = 0;          // nesting of parentheses and NOT, bounded to keep the stack safe
  std::string token_text_;
  std::vector<uint8_t> filter_data_;
};

// The three ways a dataset gets an engine filter.  Each returns AddFilter's code with the new,
// inactive filter in *handle (the caller activates it, and drops it when done); text faults
// raise before the engine is called.

// REQUIRES: `dataset`'s data fields are `file`'s fields, by name.
uint16_t MakeTextFilter(TDataFile& file, cl::TDataSet& dataset, std::string_view text,
                        cl::TFilterOptions options, TFilter** handle);
// One compare per field (field = value), joined with AND.  `values`: one value for one field, a
// variant array for several.  loCaseInsensitive compares strings without regard to case;
// loPartialKey makes every string compare a prefix compare over the value's length (an empty
// value: no condition on that field).
uint16_t MakeLocateFilter(TDataFile& file, cl::TDataSet& dataset,
                          const std::vector<cl::TField*>& fields, const cl::Variant& values,
                          cl::TLocateOptions options, TFilter** handle);
// A filter that asks `callback` (with `data`) about each record.
uint16_t MakeCallbackFilter(TDataFile& file, void* data, TFilterCallback callback,
                            TFilter** handle);

}  // namespace tessera
