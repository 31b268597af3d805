// The three ways the rest of the tool evaluates a constant C-like expression.
// Each clears *ok first and returns 0 with *ok false when the text does not
// evaluate to a value of the right kind.
#pragma once

#include <cstdint>

class QString;

// Signed, unsigned or floating-point results; the unsigned conversion.
uint64_t evaluateUnsigned(const QString& text, bool* ok);
// Signed, unsigned or floating-point results; the signed conversion.
int64_t evaluateInt(const QString& text, bool* ok);
// Bool results only (a comparison, not the text 1).
bool evaluateBool(const QString& text, bool* ok);
