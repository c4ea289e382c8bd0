#include "engine/storage/expr/ExpressionChecker.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "classlib/rtl/Exceptions.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/expr/ExpressionTypes.h"
#include "engine/storage/values/EngineFormats.h"
#include "engine/storage/values/FieldValues.h"

namespace tessera {

namespace {

inline constexpr int kMaxSubstringArgument = 250;

// Reads a text as a date, time or timestamp value (SQL texts use the fixed format set).
bool TextToExpressionDateTime(std::string_view text, uint8_t type, ExpressionNode& into) {
  uint8_t value[8] = {};
  try {
    if (!TextToDateTimeValue(text, type, FixedFormatSettings(), value)) return false;
  } catch (const cl::EConvertError&) {
    return false;
  }
  into.ClearValue();
  std::memcpy(into.value.data(), value, sizeof value);
  return true;
}

const char* KindWord(const ExpressionNode& n) {
  switch (n.kind) {
    case kNodeColumn:
      return "column";
    case kNodeConstant:
      return "constant";
    case kNodeFunction:
      return "function";
    default:
      return "expression";
  }
}

const char* PredicateName(uint32_t code) {
  switch (code) {
    case kOpLike:
      return "LIKE";
    case kOpNotLike:
      return "NOT LIKE";
    case kOpBetween:
      return "BETWEEN";
    case kOpNotBetween:
      return "NOT BETWEEN";
    case kOpIn:
      return "IN";
    default:
      return "NOT IN";
  }
}

bool IsBooleanOperand(const ExpressionNode& n) {
  return (n.kind == kNodeColumn || n.kind == kNodeFunction) && n.type == kExprTypeBoolean;
}

bool IsStringConstant(const ExpressionNode& n) {
  return n.kind == kNodeConstant && n.type == kExprTypeString && !n.is_parameter && !n.is_null;
}

uint8_t ClampSize(int size) { return static_cast<uint8_t>(std::clamp(size, 1, 255)); }

class Checker {
 public:
  Checker(std::string_view clause, const ColumnLookup& lookup) : clause_(clause), lookup_(lookup) {}

  void Check(ExpressionNode& n) {
    OfferQuotedText(n);
    switch (n.kind) {
      case kNodeUnary:
        return CheckUnary(n);
      case kNodeBinary:
        return CheckBinary(n);
      case kNodePrefixCompare:
        return CheckPrefixCompare(n);
      case kNodeColumn:
        return CheckColumn(n);
      case kNodeFunction:
        return CheckFunction(n);
      case kNodePredicate:
        return CheckPredicate(n);
      default:
        return;
    }
  }

 private:
  [[noreturn]] void Fail(const std::string& message) const {
    RaiseEngineError(kErrSql, {}, {}, {}, message);
  }
  [[noreturn]] void FailIn(const std::string& message) const { Fail(message + clause_); }

  // A quoted text that names a column becomes that column; its own typing is kept for the undo.
  void OfferQuotedText(ExpressionNode& n) {
    if (!IsStringConstant(n) || n.text.empty()) return;
    ExpressionNodeFields before = n.Fields();
    n.kind = kNodeColumn;
    n.column_name = std::string(n.StringValue());
    n.correlation_name.clear();
    if (lookup_ && lookup_(n)) {
      n.from_quoted_text = 1;
      n.saved_type = before.type;
      n.saved_sub_type = before.sub_type;
      n.saved_size = before.size;
      n.saved_decimals = before.decimals;
    } else {
      n.Fields() = before;
    }
  }

  static void UndoQuotedBinding(ExpressionNode& n) {
    n.kind = kNodeConstant;
    n.type = n.saved_type;
    n.sub_type = n.saved_sub_type;
    n.size = n.saved_size;
    n.decimals = n.saved_decimals;
    n.field_number = 0;
    n.column_name.clear();
    n.from_quoted_text = 0;
  }

  void WrapIfBooleanOperand(ExpressionNodePtr& slot) {
    if (slot && IsBooleanOperand(*slot)) slot = WrapBooleanAsComparison(std::move(slot));
  }

  // Reads a string constant as the date, time or timestamp it faces.
  void ConvertToDateTime(ExpressionNode& constant, const ExpressionNode& other) {
    if (!TextToExpressionDateTime(constant.StringValue(), other.type, constant)) {
      Fail("Date, time, or timestamp expression expected, instead found '" + constant.text +
           "' in " + clause_);
    }
    constant.type = other.type;
    constant.size = ValueSizeOfType(other.type);
    constant.decimals = other.decimals;
  }

  void CheckUnary(ExpressionNode& n) {
    Check(*n.first);
    if (n.code == kOpNot) WrapIfBooleanOperand(n.first);
    TypeUnary(n);
  }

  void TypeUnary(ExpressionNode& n) {
    const ExpressionNode& operand = *n.first;
    if (!UnaryOperandAccepted(n.code, operand.type)) {
      Fail("Type mismatch between '" + n.text + "' operator and '" + operand.text + "' in " +
           clause_);
    }
    n.type = UnaryResultType(n.code, operand.type);
    n.sub_type = UnaryResultSubType(n.code, operand.sub_type);
    if (n.type == kExprTypeBoolean && n.code != kOpNegate && n.code != kOpPlus) {
      n.size = ValueSizeOfType(kExprTypeBoolean);
      n.decimals = 0;
    } else {
      n.size = operand.size;
      n.decimals = operand.decimals;
    }
  }

  void CheckBinary(ExpressionNode& n) {
    Check(*n.first);
    Check(*n.second);
    if (n.code == kOpAnd || n.code == kOpOr) {
      WrapIfBooleanOperand(n.first);
      WrapIfBooleanOperand(n.second);
    }
    ExpressionNode& left = *n.first;
    ExpressionNode& right = *n.second;
    if (left.kind == kNodeColumn && right.kind == kNodeColumn) {
      if (right.from_quoted_text) {
        UndoQuotedBinding(right);
      } else if (left.from_quoted_text) {
        UndoQuotedBinding(left);
      }
    }
    // Only a string constant is read as a date: a string column facing a date is a mismatch.
    if (IsStringConstant(left) && IsDateTimeType(right.type)) {
      ConvertToDateTime(left, right);
    } else if (IsStringConstant(right) && IsDateTimeType(left.type)) {
      ConvertToDateTime(right, left);
    }
    if (!OperandTypesCompatible(n.code, left.type, right.type)) {
      Fail(std::string("Type mismatch between ") + KindWord(left) + " '" + left.text + "' and " +
           KindWord(right) + " '" + right.text + "' in " + clause_);
    }
    n.type = BinaryResultType(n.code, left.type, right.type);
    n.sub_type = BinaryResultSubType(n.code, left.type, left.sub_type, right.type, right.sub_type);
    n.decimals = std::max(left.decimals, right.decimals);
    if (n.type == kExprTypeString) {
      // Both sizes count their NUL; the result keeps one.  Values are cut at 254 characters.
      n.size = ClampSize(int{left.size} + int{right.size} - 1);
      n.decimals = 0;
    } else {
      n.size = ValueSizeOfType(n.type);
    }
  }

  void CheckPrefixCompare(ExpressionNode& n) {
    Check(*n.first);
    Check(*n.second);
    n.type = kExprTypeBoolean;
    n.size = ValueSizeOfType(kExprTypeBoolean);
  }

  void CheckColumn(ExpressionNode& n) {
    if (n.from_quoted_text || n.column_name == "*") return;
    if (!lookup_ || !lookup_(n)) {
      Fail("Invalid column name '" + n.column_name + "' or table correlation name '" +
           n.correlation_name + "' specified in " + clause_);
    }
  }

  void CheckFunction(ExpressionNode& n) {
    Check(*n.first);
    const ExpressionNode& argument = *n.first;
    switch (n.code) {
      case kFnSum:
      case kFnMin:
      case kFnMax:
      case kFnAvg:
        if (!IsNumericType(argument.type) && !IsDateTimeType(argument.type)) {
          FailIn(n.text +
                 " aggregate function must contain a numeric, date, time, or timestamp "
                 "expression in ");
        }
        n.type = argument.type;
        n.sub_type = argument.sub_type;
        n.size = argument.size;
        n.decimals = argument.decimals;
        return;
      case kFnCount:
        n.type = kExprTypeInt32;
        n.size = 4;
        n.decimals = 0;
        return;
      case kFnUpper:
      case kFnLower:
        if (argument.type != kExprTypeString) {
          FailIn(std::string("Type mismatch between ") + (n.code == kFnUpper ? "UPPER" : "LOWER") +
                 " function and function argument in ");
        }
        n.type = kExprTypeString;
        n.size = argument.size;
        return;
      case kFnSubstring:
        return CheckSubstring(n);
      case kFnTrimLeading:
      case kFnTrimTrailing:
      case kFnTrimBoth:
        return CheckTrim(n);
      case kFnExtractYear:
      case kFnExtractMonth:
      case kFnExtractDay:
        if (argument.type != kExprTypeDate && argument.type != kExprTypeTimestamp) {
          FailIn("FROM argument of EXTRACT function must be a date or date and time in ");
        }
        n.type = kExprTypeInt32;
        n.size = 4;
        n.decimals = 0;
        return;
      default:
        return;
    }
  }

  // The FROM or FOR value of SUBSTRING: a 32-bit integer constant between 1 and 250.
  int SubstringArgument(ExpressionNode& value, const char* which) {
    Check(value);
    if (value.kind != kNodeConstant || value.type != kExprTypeInt32 || value.is_null) {
      FailIn(std::string(which) +
             " argument of SUBSTRING function must be an integer constant in ");
    }
    int32_t v = value.Int32Value();
    if (v < 1 || v > kMaxSubstringArgument) {
      FailIn(std::string(which) +
             " argument of SUBSTRING function must be an integer constant between 1 and " +
             std::to_string(kMaxSubstringArgument) + " in ");
    }
    return v;
  }

  void CheckSubstring(ExpressionNode& n) {
    const ExpressionNode& argument = *n.first;
    if (argument.type != kExprTypeString) {
      FailIn("Expression argument of SUBSTRING function must be a string in ");
    }
    ExpressionNode& from = *n.second;
    int length = int{argument.size} - SubstringArgument(from, "FROM");
    if (from.next) length = SubstringArgument(*from.next, "FOR");
    n.type = kExprTypeString;
    // FROM at or past the end leaves an empty string.
    n.size = ClampSize(std::max(length, 0) + 1);
    n.decimals = 0;
  }

  void CheckTrim(ExpressionNode& n) {
    const ExpressionNode& argument = *n.first;
    if (argument.type != kExprTypeString) {
      FailIn("FROM argument of TRIM function must be a string in ");
    }
    ExpressionNode& character = *n.second;
    Check(character);
    if (!IsStringConstant(character) || character.StringValue().size() != 1) {
      FailIn("Trim character argument of TRIM function must be a single character constant in ");
    }
    n.type = kExprTypeString;
    n.size = argument.size;
  }

  void CheckPredicate(ExpressionNode& n) {
    Check(*n.first);
    const ExpressionNode& tested = *n.first;
    std::string name = PredicateName(n.code);
    if (n.code == kOpLike || n.code == kOpNotLike) {
      if (tested.type != kExprTypeString) {
        Fail("Type mismatch between " + name + " operator and expression '" + tested.text +
             "' in " + clause_);
      }
      const ExpressionNode& pattern = *n.second;
      if (pattern.kind != kNodeConstant) {
        Fail("Constant expression expected after " + name + " operator, instead found '" +
             pattern.text + "' in " + clause_);
      }
      // A parameter or NULL pattern has no type yet; any other pattern must be a string.
      if (pattern.type != kExprTypeString && pattern.type != kExprTypeNone) {
        Fail("Type mismatch between " + name + " operator and expression '" + pattern.text +
             "' in " + clause_);
      }
    } else {
      // BETWEEN bounds (low, then the high linked after it) and IN values.
      for (ExpressionNode* value = n.second.get(); value != nullptr; value = value->next.get()) {
        CheckListValue(name, tested, *value);
      }
    }
    n.type = kExprTypeBoolean;
    n.size = ValueSizeOfType(kExprTypeBoolean);
  }

  void CheckListValue(const std::string& name, const ExpressionNode& tested,
                      ExpressionNode& value) {
    if (value.kind == kNodeUnary && value.first && value.first->kind == kNodeConstant) {
      TypeUnary(value);
    } else if (value.kind != kNodeConstant) {
      Fail("Constant expression expected after " + name + " operator, instead found '" +
           value.text + "' in " + clause_);
    }
    if (IsStringConstant(value) && IsDateTimeType(tested.type)) ConvertToDateTime(value, tested);
    if (!OperandTypesCompatible(kOpEqual, tested.type, value.type)) {
      Fail("Type mismatch between " + name + " operator and expression '" + value.text + "' in " +
           clause_);
    }
  }

  std::string clause_;
  const ColumnLookup& lookup_;
};

}  // namespace

void CheckExpression(std::string_view clause, ExpressionNode& root, const ColumnLookup& lookup) {
  Checker(clause, lookup).Check(root);
}

ExpressionNodePtr WrapBooleanAsComparison(ExpressionNodePtr operand) {
  auto node = MakeExpressionNode(kNodeBinary, kOpEqual, "=", kExprTypeBoolean);
  auto constant = MakeExpressionNode(kNodeConstant, 0, "True", kExprTypeBoolean);
  constant->SetBoolean(true);
  node->first = std::move(operand);
  node->second = std::move(constant);
  return node;
}

}  // namespace tessera
