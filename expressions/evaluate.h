// The three ways the rest of the tool evaluates a constant C-like expression.
// Each gives an Evaluation: the value, or none and the reason.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <string_view>

struct EvaluationError {
  QString message;
  // Where evaluation stopped, in characters from the start of the text: the
  // offending token for a text that does not parse, the operator for one
  // that does not evaluate ("divide by zero"), 0 for a result of the wrong
  // kind and the end of the text for an empty one.
  qsizetype offset = 0;
};

// The deepest nesting of parentheses, unary operators, casts, sizeof and call
// arguments accepted; deeper input fails with "expression nested too deeply"
// instead of exhausting the stack.
constexpr int kMaxExpressionNesting = 256;

// The outcome of one evaluation. Tests as true when there is a value.
template <typename T>
struct Evaluation {
  std::optional<T> value;
  EvaluationError error;  // why there is no value
  // Where text after a complete expression starts, in characters; -1 when
  // the whole text was read. "64K" is 64 with 2 unread.
  qsizetype unread = -1;

  explicit operator bool() const { return value.has_value(); }
  const T& operator*() const { return *value; }
};

// Signed, unsigned or floating-point results; the unsigned conversion.
// Text after a complete expression is not read: "64K" is 64, "0x2000_0000"
// is 0x2000.
Evaluation<uint64_t> evaluateUnsigned(const QString& text);
// The same on bytes read as Latin-1 (see base/bytes.h), as attribute texts
// come from the tree; a plain number, the usual start or size, is read
// without converting it.
Evaluation<uint64_t> evaluateUnsigned(std::string_view bytes);
// Signed, unsigned or floating-point results; the signed conversion.
Evaluation<int64_t> evaluateInt(const QString& text);
// Bool results only (a comparison, not the text 1).
Evaluation<bool> evaluateBool(const QString& text);
