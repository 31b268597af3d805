// The expression evaluator through its three entry points.
#include "base/bytes.h"
#include "expressions/evaluate.h"
#include "expressions/integerliteral.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  EvaluationError error;
  evaluateUnsigned(text, &error);
  evaluateInt(text, &error);
  evaluateBool(text, &error);
  // Where evaluation stopped is always inside the text or at its end.
  if (error.offset < 0 || error.offset > text.size())
    __builtin_trap();
  parseIntegerLiteral(text);
  return 0;
}
