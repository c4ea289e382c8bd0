// Fuzz target of the expression parser, checker and evaluator (clang with libFuzzer; not run by
// ctest).  The first byte chooses the clause flags; the rest is the text.  Every input must end in
// a tree or in engine error 11949: never a crash, a leak or undefined behaviour.
//
//   CXX=clang++ cmake -S . -B build-fuzz -DMIRVEL_FUZZ=ON
//   cmake --build build-fuzz --target ExpressionParser_fuzz
//   build-fuzz/tests/engine/storage/ExpressionParser_fuzz -max_total_time=300
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/storage/core/ETesseraEngineError.h"
#include "engine/storage/core/EngineSession.h"
#include "engine/storage/expr/ExpressionChecker.h"
#include "engine/storage/expr/ExpressionEvaluator.h"
#include "engine/storage/expr/TExpressionParser.h"

namespace {

using namespace tessera;

// Columns a .. l of types 1 .. 12, every value set to something non-NULL.
bool Lookup(ExpressionNode& n) {
  if (n.column_name.size() != 1 || n.column_name[0] < 'a' || n.column_name[0] > 'l') return false;
  n.type = static_cast<uint8_t>(n.column_name[0] - 'a' + 1);
  n.size = n.type == kExprTypeString ? 50 : ValueSizeOfType(n.type);
  n.field_number = n.type;
  return true;
}

void Column(ExpressionNode& n) {
  n.is_null = n.field_number % 3 == 0;
  n.ClearValue();
  if (n.type == kExprTypeString) {
    n.SetString("ab%c");
  } else {
    n.value[0] = 7;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool started = (InitializeEngine(), true);
  (void)started;
  if (size == 0) return 0;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    TExpressionParser parser;
    parser.SetText(text);
    parser.NextToken();
    ExpressionNodePtr root = parser.ParseExpression(data[0] & 15, "fuzz");
    if (root == nullptr) return 0;
    ExpressionNodePtr copy = CopyExpressionTree(root.get());
    CheckExpression("fuzz", *copy, Lookup);
    ExpressionNode result;
    EvaluateExpression(*copy, result, (data[0] & 16) ? 0x040C : 0, 0, Column);
  } catch (const ETesseraEngineError& e) {
    if (e.GetError(0).ErrorCode() != 11949) std::abort();
  }
  return 0;
}
