// The value of a constant expression while it is evaluated, and the
// operators that combine values.
//
// Design priority: evaluation never allocates. A string is a view into the
// expression text, and an operator that cannot be applied gives a failed
// value instead of throwing: the message of the first failure in evaluation
// order (right operand before left, operands before their operator) wins,
// but only once the whole text has parsed, since a text that does not parse
// reports that first.
#pragma once

#include <QStringView>
#include <cstdint>

enum class TokenKind;

class Number {
public:
  enum class Kind { Bool, Signed, Float, String, Failed };

  static Number fromBool(bool value);
  // A negated bool is a signed value one byte wide; everything else is 64 bits.
  static Number fromSigned(int64_t value, bool byteWide = false);
  static Number fromFloat(double value);
  static Number fromString(QStringView text);  // the view must outlive the number
  static Number failed(const char* message, qsizetype offset);

  Kind kind() const { return kind_; }
  bool isIntegral() const { return kind_ == Kind::Bool || kind_ == Kind::Signed; }
  bool isNumeric() const { return isIntegral() || kind_ == Kind::Float; }
  const char* failure() const { return failure_; }
  qsizetype failureOffset() const { return failureOffset_; }

  bool byteWide() const { return byteWide_; }
  QStringView text() const { return text_; }

  // Bool gives 0 or 1, a signed value its bits at its width zero-extended, a
  // floating-point value its IEEE-754 bit pattern.
  uint64_t toUnsigned() const;
  // Bool gives 0 or 1; floating point is truncated toward zero (saturating,
  // NaN gives 0).
  int64_t toSigned() const;
  double toDouble() const;

private:
  Kind kind_ = Kind::Failed;
  bool byteWide_ = false;
  int64_t integer_ = 0;  // Bool (0 or 1) and Signed, sign-extended from its width
  double real_ = 0;
  QStringView text_;
  const char* failure_ = nullptr;
  qsizetype failureOffset_ = 0;
};

// `left op right` for a binary operator token (assignments included); the
// offset is the operator's, where a failure is reported.
Number applyBinary(TokenKind op, const Number& left, const Number& right, qsizetype offset);
// A prefix operator: -, ~, !, & (address of), ++ and --.
Number applyUnary(TokenKind op, const Number& operand, qsizetype offset);
