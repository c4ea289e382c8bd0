// TFilterEvaluator: the in-memory dataset's filter language, an evaluator that registers
//
//   symbol                 kind       priority  meaning
//   = <> > < >= <=         operator   1         TFilterCompareOperator descendants
//   AND OR                 operator   0         TFilterLogicOperator descendants
//   NULL, True, False      variable   -         Null, and the two booleans
//   each stored field      variable   -         a TFieldVariable (fkData, fkInternalCalc)
//
// Comparisons bind tighter than AND and OR, which share one level and group left to right: a OR
// b AND c is (a OR b) AND c.  Two string operands compare with the dataset's string rule
// (case-insensitive with foCaseInsensitive); a "*" is a wildcard only in a string literal on the
// right and without foNoPartialCompare (trailing: prefix, leading: suffix, both: contains, where
// "=" tests containment and "<>" its absence).  Other operands compare as variants (a NULL field
// is Null, so "Numero = NULL" tests for NULL).  Logic: two booleans short-circuit left to right,
// two integers combine bit by bit, a variant side uses the variant and/or; anything else at run
// time raises EOperationError "Opération incorrecte".
//
// Owned by the dataset; one evaluator per compiled filter text.
#pragma once

#include "classlib/db/TField.h"
#include "components/data/TEvaluator.h"

namespace comp {

class TVirtualDataSet;

// A field read live: its kind follows the field type; a NULL reads as "", 0 or Null.
class TFieldVariable : public TExpression {
 public:
  explicit TFieldVariable(cl::TField* field);

  TExprKind GetKind() const override { return kind_; }
  bool GetAsBoolean() const override;
  int32_t GetAsInteger() const override;
  long double GetAsFloat() const override;
  std::string GetAsString() const override;
  cl::Variant GetAsVariant() const override;

  cl::TField* Field() const { return field_; }

 private:
  cl::TField* field_;
  TExprKind kind_;
};

class TFilterEvaluator : public TEvaluator {
 public:
  explicit TFilterEvaluator(TVirtualDataSet* dataset);

  TVirtualDataSet* DataSet() const { return dataset_; }

 private:
  TVirtualDataSet* dataset_;
};

enum TCompareCode : uint8_t {
  ccEqual,
  ccDifferent,
  ccSuperior,
  ccInferior,
  ccSuperiorEqual,
  ccInferiorEqual
};

class TFilterCompareOperator : public TOperator {
 public:
  TFilterCompareOperator(TEvaluator* evaluator, TCompareCode code)
      : TOperator(evaluator), code_(code) {}
  TExprKind ResultKind(TExprKind, TExprKind) const override { return ekBoolean; }
  void Evaluate(const TExpression* left, const TExpression* right,
                TExpression* result) const override;

 private:
  TCompareCode code_;
};

#define COMP_FILTER_COMPARE(Name, code)                                               \
  class Name : public TFilterCompareOperator {                                        \
   public:                                                                            \
    explicit Name(TEvaluator* evaluator) : TFilterCompareOperator(evaluator, code) {} \
  };
COMP_FILTER_COMPARE(TEqualOperator, ccEqual)
COMP_FILTER_COMPARE(TDifferentOperator, ccDifferent)
COMP_FILTER_COMPARE(TSuperiorOperator, ccSuperior)
COMP_FILTER_COMPARE(TInferiorOperator, ccInferior)
COMP_FILTER_COMPARE(TSuperiorEqualOperator, ccSuperiorEqual)
COMP_FILTER_COMPARE(TInferiorEqualOperator, ccInferiorEqual)
#undef COMP_FILTER_COMPARE

class TFilterLogicOperator : public TOperator {
 public:
  using TOperator::TOperator;
  TExprKind ResultKind(TExprKind left, TExprKind right) const override;
  void Evaluate(const TExpression* left, const TExpression* right,
                TExpression* result) const override;

 protected:
  virtual bool IsAnd() const = 0;
};

class TAndOperator : public TFilterLogicOperator {
 public:
  using TFilterLogicOperator::TFilterLogicOperator;

 protected:
  bool IsAnd() const override { return true; }
};

class TOrOperator : public TFilterLogicOperator {
 public:
  using TFilterLogicOperator::TFilterLogicOperator;

 protected:
  bool IsAnd() const override { return false; }
};

}  // namespace comp
