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
// accepts; otherwise none, with the reason in *error (when given).
std::optional<Value> evaluateChecked(const QString& text, EvaluationError* error,
                                     bool (*accepts)(Value::Kind)) {
  Value value;
  try {
    value = SimpleExpressionParser().evaluate(text);
  } catch (const ParserException& e) {
    if (error)
      *error = EvaluationError{e.message(), e.offset() < 0 ? 0 : e.offset()};
    return std::nullopt;
  }
  if (accepts(value.kind()))
    return value;
  if (error) {
    if (value.kind() == Value::Kind::None)
      *error = EvaluationError{QStringLiteral("expression expected"), text.size()};
    else
      *error = EvaluationError{QStringLiteral("bad expression type"), 0};
  }
  return std::nullopt;
}

}  // namespace

std::optional<uint64_t> evaluateUnsigned(const QString& text, EvaluationError* error) {
  const std::optional<Value> value = evaluateChecked(text, error, isNumber);
  return value ? std::optional<uint64_t>(value->toUnsigned()) : std::nullopt;
}

std::optional<int64_t> evaluateInt(const QString& text, EvaluationError* error) {
  const std::optional<Value> value = evaluateChecked(text, error, isNumber);
  return value ? std::optional<int64_t>(value->toSigned()) : std::nullopt;
}

std::optional<bool> evaluateBool(const QString& text, EvaluationError* error) {
  const std::optional<Value> value = evaluateChecked(text, error, isBool);
  return value ? std::optional<bool>(value->toUnsigned() != 0) : std::nullopt;
}
