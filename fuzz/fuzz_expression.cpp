// The expression evaluator through its three entry points.
#include "base/bytes.h"
#include "xml/expressions/evaluate.h"
#include "xml/expressions/integerliteral.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  bool ok = false;
  evaluateUnsigned(text, &ok);
  evaluateInt(text, &ok);
  evaluateBool(text, &ok);
  parseIntegerLiteral(text);
  return 0;
}
