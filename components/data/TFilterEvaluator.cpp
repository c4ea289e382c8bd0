#include "components/data/TFilterEvaluator.h"

#include "components/data/TVirtualDataSet.h"

namespace comp {

using namespace cl;

namespace {

TExprKind KindOfField(TFieldType type) {
  switch (type) {
    case ftString:
    case ftMemo:
      return ekString;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
      return ekInteger;
    case ftBoolean:
      return ekBoolean;
    case ftFloat:
    case ftCurrency:
    case ftDate:
    case ftTime:
    case ftDateTime:
      return ekFloat;
    default:
      return ekNone;
  }
}

bool IsText(TExprKind kind) { return kind == ekString || kind == ekSymbol; }

}  // namespace

// ---- TFieldVariable ----------------------------------------------------------------------------

TFieldVariable::TFieldVariable(TField* field)
    : field_(field), kind_(KindOfField(field->DataType())) {}

namespace {

// The field's value held in an expression of its kind, for the conversion table.
TExpression Snapshot(const TField* field, TExprKind kind) {
  TExpression value(kind);
  switch (kind) {
    case ekString:
      value.SetAsString(field->AsString());
      break;
    case ekInteger:
      value.SetAsInteger(field->AsInteger());
      break;
    case ekBoolean:
      value.SetAsBoolean(field->AsBoolean());
      break;
    case ekFloat:
      value.SetAsFloat(field->AsFloat());
      break;
    default:
      break;
  }
  return value;
}

}  // namespace

bool TFieldVariable::GetAsBoolean() const { return Snapshot(field_, kind_).GetAsBoolean(); }
int32_t TFieldVariable::GetAsInteger() const { return Snapshot(field_, kind_).GetAsInteger(); }
long double TFieldVariable::GetAsFloat() const { return Snapshot(field_, kind_).GetAsFloat(); }
std::string TFieldVariable::GetAsString() const { return Snapshot(field_, kind_).GetAsString(); }
Variant TFieldVariable::GetAsVariant() const { return field_->Value(); }

// ---- TFilterEvaluator --------------------------------------------------------------------------

TFilterEvaluator::TFilterEvaluator(TVirtualDataSet* dataset)
    : TEvaluator(nullptr), dataset_(dataset) {
  auto op = [](auto* tag) {
    using T = std::remove_pointer_t<decltype(tag)>;
    return [](TEvaluator* evaluator) -> std::unique_ptr<TOperator> {
      return std::make_unique<T>(evaluator);
    };
  };
  AddOperator("=", 1, op(static_cast<TEqualOperator*>(nullptr)));
  AddOperator("<>", 1, op(static_cast<TDifferentOperator*>(nullptr)));
  AddOperator(">", 1, op(static_cast<TSuperiorOperator*>(nullptr)));
  AddOperator("<", 1, op(static_cast<TInferiorOperator*>(nullptr)));
  AddOperator(">=", 1, op(static_cast<TSuperiorEqualOperator*>(nullptr)));
  AddOperator("<=", 1, op(static_cast<TInferiorEqualOperator*>(nullptr)));
  AddOperator("AND", 0, op(static_cast<TAndOperator*>(nullptr)));
  AddOperator("OR", 0, op(static_cast<TOrOperator*>(nullptr)));
  auto null = std::make_unique<TExpression>(ekVariant);
  null->SetAsVariant(Variant::Null());
  AddVariable("NULL", std::move(null));
  auto yes = std::make_unique<TExpression>(ekBoolean);
  yes->SetAsBoolean(true);
  AddVariable("True", std::move(yes));
  AddVariable("False", std::make_unique<TExpression>(ekBoolean));
  for (TField* field : dataset->FieldList()) {
    if (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc) {
      AddVariable(field->FieldName(), std::make_unique<TFieldVariable>(field));
    }
  }
}

// ---- operators ---------------------------------------------------------------------------------

void TFilterCompareOperator::Evaluate(const TExpression* left, const TExpression* right,
                                      TExpression* result) const {
  auto* dataset = static_cast<TFilterEvaluator*>(Evaluator())->DataSet();
  bool verdict = false;
  if (IsText(left->GetKind()) && IsText(right->GetKind())) {
    TFilterOptions options = dataset->FilterOptions();
    uint8_t flags = options.Contains(foCaseInsensitive) ? kCmpCaseInsensitive : 0;
    std::string r = left->GetAsString();
    std::string k = right->GetAsString();
    if (dynamic_cast<const TConstExpression*>(right) != nullptr &&
        !options.Contains(foNoPartialCompare) && !k.empty()) {
      bool lead = k.front() == '*';
      bool trail = k.back() == '*';
      if (lead && trail && k.size() >= 2) {
        k = k.substr(1, k.size() - 2);
        flags |= kCmpContains;
      } else if (trail) {
        k.pop_back();
        flags |= kCmpPrefix;
      } else if (lead) {
        k.erase(0, 1);
        flags |= kCmpSuffix;
      }
    }
    int c = dataset->CompareStrings(r, k, flags);
    switch (code_) {
      case ccEqual:
        verdict = c == 0;
        break;
      case ccDifferent:
        verdict = c != 0;
        break;
      case ccSuperior:
        verdict = c > 0;
        break;
      case ccInferior:
        verdict = c < 0;
        break;
      case ccSuperiorEqual:
        verdict = c >= 0;
        break;
      case ccInferiorEqual:
        verdict = c <= 0;
        break;
    }
  } else {
    Variant a = left->GetAsVariant();
    Variant b = right->GetAsVariant();
    switch (code_) {
      case ccEqual:
        verdict = a == b;
        break;
      case ccDifferent:
        verdict = a != b;
        break;
      case ccSuperior:
        verdict = a > b;
        break;
      case ccInferior:
        verdict = a < b;
        break;
      case ccSuperiorEqual:
        verdict = a >= b;
        break;
      case ccInferiorEqual:
        verdict = a <= b;
        break;
    }
  }
  result->SetAsBoolean(verdict);
}

TExprKind TFilterLogicOperator::ResultKind(TExprKind left, TExprKind right) const {
  if (left == ekBoolean && right == ekBoolean) return ekBoolean;
  if (left == ekInteger && right == ekInteger) return ekInteger;
  if (left == ekVariant || right == ekVariant) return ekVariant;
  return ekNone;
}

void TFilterLogicOperator::Evaluate(const TExpression* left, const TExpression* right,
                                    TExpression* result) const {
  TExprKind l = left->GetKind();
  TExprKind r = right->GetKind();
  if (l == ekBoolean && r == ekBoolean) {
    bool value = left->GetAsBoolean();
    if (value == IsAnd()) value = right->GetAsBoolean();
    result->SetAsBoolean(value);
  } else if (l == ekInteger && r == ekInteger) {
    int32_t a = left->GetAsInteger();
    int32_t b = right->GetAsInteger();
    result->SetAsInteger(IsAnd() ? (a & b) : (a | b));
  } else if (l == ekVariant || r == ekVariant) {
    Variant a = left->GetAsVariant();
    Variant b = right->GetAsVariant();
    result->SetAsVariant(IsAnd() ? VarAnd(a, b) : VarOr(a, b));
  } else {
    throw EOperationError("Op\xE9ration incorrecte");
  }
}

}  // namespace comp
