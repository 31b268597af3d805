#include "xml/expressions/evaluate.h"

#include "xml/expressions/expressionparser.h"
#include "xml/expressions/parserexception.h"

namespace {

bool isNumber(Value::Kind kind) {
  return kind == Value::Kind::Signed || kind == Value::Kind::Unsigned ||
         kind == Value::Kind::Float;
}

bool isBool(Value::Kind kind) { return kind == Value::Kind::Bool; }

// The value of `text` when it parses, evaluates and is of a kind the caller
// accepts; otherwise none. Sets *ok (when given) to tell which.
Value evaluateChecked(const QString& text, bool* ok, bool (*accepts)(Value::Kind)) {
  if (ok)
    *ok = false;
  Value value;
  try {
    value = SimpleExpressionParser().evaluate(text);
  } catch (const ParserException&) {
    return Value();
  }
  if (!accepts(value.kind()))
    return Value();
  if (ok)
    *ok = true;
  return value;
}

}  // namespace

uint64_t evaluateUnsigned(const QString& text, bool* ok) {
  const Value value = evaluateChecked(text, ok, isNumber);
  return value.kind() == Value::Kind::None ? 0 : value.toUnsigned();
}

int64_t evaluateInt(const QString& text, bool* ok) {
  const Value value = evaluateChecked(text, ok, isNumber);
  return value.kind() == Value::Kind::None ? 0 : value.toSigned();
}

bool evaluateBool(const QString& text, bool* ok) {
  return evaluateChecked(text, ok, isBool).toUnsigned() != 0;
}
