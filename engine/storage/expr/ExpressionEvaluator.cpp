#include "engine/storage/expr/ExpressionEvaluator.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "classlib/rtl/DateTime.h"
#include "engine/storage/expr/ExpressionOperators.h"
#include "engine/storage/values/EngineStrings.h"
#include "engine/storage/values/TextCompare.h"

namespace tessera {

namespace {

// Scratch nodes for intermediate values, handed out and returned in stack order.
struct ScratchPool {
  std::vector<std::unique_ptr<ExpressionNode>> nodes;
  size_t top = 0;
};

thread_local ScratchPool t_scratch;

// Takes `count` scratch nodes for the life of the frame.
class ScratchFrame {
 public:
  explicit ScratchFrame(size_t count) : base_(t_scratch.top) {
    while (t_scratch.nodes.size() < base_ + count) {
      t_scratch.nodes.push_back(std::make_unique<ExpressionNode>());
    }
    t_scratch.top = base_ + count;
  }
  ~ScratchFrame() { t_scratch.top = base_; }
  ScratchFrame(const ScratchFrame&) = delete;
  ScratchFrame& operator=(const ScratchFrame&) = delete;

  ExpressionNode& operator[](size_t i) { return *t_scratch.nodes[base_ + i]; }

 private:
  size_t base_;
};

void SetNull(ExpressionNode& result) {
  result.ClearValue();
  result.is_null = 1;
}

void SetStringResult(ExpressionNode& result, std::string_view text) {
  result.ClearValue();
  result.type = kExprTypeString;
  if (text.empty()) {
    result.is_null = 1;
    return;
  }
  result.is_null = 0;
  result.SetString(text);
}

void SetBoolean(ExpressionNode& result, bool v) {
  result.ClearValue();
  result.is_null = 0;
  result.type = kExprTypeBoolean;
  result.SetBoolean(v);
}

class Evaluator {
 public:
  Evaluator(uint16_t language, uint16_t sort, const ColumnSource& columns)
      : language_(language), sort_(sort), columns_(columns) {}

  void Evaluate(const ExpressionNode& n, ExpressionNode& result) {
    result.Fields() = n.Fields();
    switch (n.kind) {
      case kNodeUnary: {
        ScratchFrame s(1);
        Evaluate(*n.first, s[0]);
        EvaluateUnaryOperator(n.code, s[0], result);
        break;
      }
      case kNodeBinary:
        EvaluateBinary(n, result);
        break;
      case kNodePrefixCompare: {
        ScratchFrame s(2);
        Evaluate(*n.second, s[1]);
        Evaluate(*n.first, s[0]);
        EvaluatePrefixCompare(n.code, n.prefix_length, n.case_insensitive != 0, s[0], s[1], result,
                              language_, sort_);
        break;
      }
      case kNodeColumn:
        if (n.column_name != "*" && columns_) columns_(result);
        break;
      case kNodeFunction:
        EvaluateFunction(n, result);
        break;
      case kNodePredicate:
        EvaluatePredicate(n, result);
        break;
      default:
        break;
    }
    result.kind = kNodeConstant;
    result.first.reset();
    result.second.reset();
    result.next.reset();
  }

 private:
  void EvaluateBinary(const ExpressionNode& n, ExpressionNode& result) {
    ScratchFrame s(2);
    ExpressionNode& left = s[0];
    ExpressionNode& right = s[1];
    Evaluate(*n.second, right);
    bool right_true = !right.is_null && right.BooleanValue();
    if ((n.code == kOpAnd && !right_true) || (n.code == kOpOr && right_true)) {
      SetBoolean(result, right_true);
      return;
    }
    Evaluate(*n.first, left);
    EvaluateBinaryOperator(n.code, left, right, result, language_, sort_);
  }

  void EvaluateFunction(const ExpressionNode& n, ExpressionNode& result) {
    ScratchFrame s(1);
    ExpressionNode& argument = s[0];
    Evaluate(*n.first, argument);
    switch (n.code) {
      case kFnSum:
      case kFnCount:
      case kFnMin:
      case kFnMax:
      case kFnAvg:
        // The SQL engine aggregates; here the argument's own value is the answer.
        result.value = argument.value;
        result.is_null = argument.is_null;
        result.type = argument.type;
        return;
      case kFnUpper:
      case kFnLower:
        if (argument.is_null) return SetStringResult(result, {});
        return SetStringResult(
            result, n.code == kFnUpper ? UpperCaseText(language_, sort_, argument.StringValue())
                                       : LowerCaseText(language_, sort_, argument.StringValue()));
      case kFnSubstring:
        return Substring(n, argument, result);
      case kFnTrimLeading:
      case kFnTrimTrailing:
      case kFnTrimBoth: {
        if (argument.is_null) return SetStringResult(result, {});
        std::string_view character = n.second->StringValue();
        if (n.second->is_null || character.empty()) {
          return SetStringResult(result, argument.StringValue());
        }
        char c = character[0];
        std::string_view text = argument.StringValue();
        return SetStringResult(result, n.code == kFnTrimLeading    ? TrimLeftChar(text, c)
                                       : n.code == kFnTrimTrailing ? TrimRightChar(text, c)
                                                                   : TrimChar(text, c));
      }
      case kFnExtractYear:
      case kFnExtractMonth:
      case kFnExtractDay:
        return Extract(n.code, argument, result);
      default:
        return;
    }
  }

  // SUBSTRING(s FROM f [FOR n]): 1-based, bounded by the string's length.
  static void Substring(const ExpressionNode& n, const ExpressionNode& argument,
                        ExpressionNode& result) {
    const ExpressionNode& from = *n.second;
    if (argument.is_null || from.is_null) return SetStringResult(result, {});
    std::string_view text = argument.StringValue();
    int64_t start = static_cast<int64_t>(from.Int32Value()) - 1;
    if (start < 0) start = 0;
    if (start >= static_cast<int64_t>(text.size())) return SetStringResult(result, {});
    size_t count = text.size() - static_cast<size_t>(start);
    if (from.next) {
      int32_t length = from.next->Int32Value();
      if (length < 0) length = 0;
      if (static_cast<size_t>(length) < count) count = static_cast<size_t>(length);
    }
    SetStringResult(result, text.substr(static_cast<size_t>(start), count));
  }

  static void Extract(uint32_t code, const ExpressionNode& argument, ExpressionNode& result) {
    result.ClearValue();
    result.type = kExprTypeInt32;
    result.is_null = 0;
    if (argument.is_null) return SetNull(result);
    int64_t day;
    if (argument.type == kExprTypeDate) {
      day = argument.UInt32Value();
    } else if (argument.type == kExprTypeTimestamp) {
      double ms = std::round(argument.FloatValue());
      if (!std::isfinite(ms) || ms < 0 || ms > 1e16) return SetNull(result);
      day = static_cast<int64_t>(std::floor(ms / cl::kMSecsPerDay));
    } else {
      return SetNull(result);
    }
    int year = 0, month = 0, dom = 0;
    if (day >= 1 && day <= 3652059) {
      cl::DecodeDate(static_cast<double>(day - cl::kDateDelta), year, month, dom);
    }
    if (year == 0) return SetNull(result);
    result.SetInt32(code == kFnExtractYear ? year : code == kFnExtractMonth ? month : dom);
  }

  void EvaluatePredicate(const ExpressionNode& n, ExpressionNode& result) {
    ScratchFrame s(3);
    ExpressionNode& tested = s[0];
    ExpressionNode& value = s[1];
    ExpressionNode& answer = s[2];
    Evaluate(*n.first, tested);
    bool v = false;
    switch (n.code) {
      case kOpLike:
      case kOpNotLike: {
        Evaluate(*n.second, value);
        bool match = !tested.is_null && !value.is_null &&
                     LikeMatch(tested.StringValue(), value.StringValue());
        v = n.code == kOpLike ? match : !match;
        break;
      }
      case kOpIn:
      case kOpNotIn: {
        bool found = false;
        for (const ExpressionNode* item = n.second.get(); item && !found; item = item->next.get()) {
          Evaluate(*item, value);
          found = Holds(kOpEqual, tested, value, answer, n);
        }
        v = n.code == kOpIn ? found : !found;
        break;
      }
      case kOpBetween:
      case kOpNotBetween: {
        const ExpressionNode& low = *n.second;
        Evaluate(low, value);
        bool inside = Holds(kOpGreaterEqual, tested, value, answer, n);
        if (inside && low.next) {
          Evaluate(*low.next, value);
          inside = Holds(kOpLessEqual, tested, value, answer, n);
        }
        v = n.code == kOpBetween ? inside : !inside;
        break;
      }
      default:
        return;
    }
    SetBoolean(result, v);
  }

  bool Holds(uint32_t code, const ExpressionNode& left, const ExpressionNode& right,
             ExpressionNode& answer, const ExpressionNode& n) {
    answer.Fields() = n.Fields();
    answer.type = 0;
    EvaluateBinaryOperator(code, left, right, answer, language_, sort_);
    return answer.type == kExprTypeBoolean && !answer.is_null && answer.BooleanValue();
  }

  uint16_t language_;
  uint16_t sort_;
  const ColumnSource& columns_;
};

}  // namespace

void EvaluateExpression(const ExpressionNode& node, ExpressionNode& result, uint16_t language,
                        uint16_t sort, const ColumnSource& columns) {
  Evaluator(language, sort, columns).Evaluate(node, result);
}

}  // namespace tessera
