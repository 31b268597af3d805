// The three ways the rest of the tool evaluates a constant C-like expression.
// Each gives no value when the text does not evaluate to a value of the right
// kind, and then fills *error (when given) with the reason.
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

// Signed, unsigned or floating-point results; the unsigned conversion.
// Text after a complete expression is not read: "64K" is 64, "0x2000_0000"
// is 0x2000. With `unread`, a value comes with where that text starts, or
// -1 when the whole text was read.
std::optional<uint64_t> evaluateUnsigned(const QString& text, EvaluationError* error = nullptr,
                                         qsizetype* unread = nullptr);
// The same on bytes read as Latin-1 (see base/bytes.h), as attribute texts
// come from the tree; a plain number, the usual start or size, is read
// without converting it.
std::optional<uint64_t> evaluateUnsigned(std::string_view bytes, EvaluationError* error = nullptr,
                                         qsizetype* unread = nullptr);
// Signed, unsigned or floating-point results; the signed conversion.
std::optional<int64_t> evaluateInt(const QString& text, EvaluationError* error = nullptr);
// Bool results only (a comparison, not the text 1).
std::optional<bool> evaluateBool(const QString& text, EvaluationError* error = nullptr);
