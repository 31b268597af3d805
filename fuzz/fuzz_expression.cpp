// The expression evaluator through its three entry points.
#include "base/bytes.h"
#include "expressions/evaluate.h"
#include "expressions/integerliteral.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  // Where evaluation stopped, and the text it left, are always inside the
  // text or at its end.
  const auto inside = [&text](qsizetype offset) { return offset >= 0 && offset <= text.size(); };
  const Evaluation<uint64_t> asUnsigned = evaluateUnsigned(text);
  if (!inside(asUnsigned.error.offset) || !(asUnsigned.unread == -1 || inside(asUnsigned.unread)) ||
      !inside(evaluateInt(text).error.offset) || !inside(evaluateBool(text).error.offset))
    __builtin_trap();
  parseIntegerLiteral(text);
  return 0;
}
