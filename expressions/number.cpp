#include "expressions/number.h"

#include <QLocale>
#include <QString>
#include <cmath>
#include <cstring>
#include <limits>

#include "expressions/lexer.h"

namespace {

using Kind = Number::Kind;

constexpr int64_t kMinimum = std::numeric_limits<int64_t>::min();

// A result of the left operand's kind and width.
Number likeLeft(const Number& left, uint64_t bits) {
  if (left.kind() == Kind::Bool)
    return Number::fromBool(bits != 0);
  return Number::fromSigned(static_cast<int64_t>(bits), left.byteWide());
}

bool isZero(const Number& n) {
  if (n.kind() == Kind::Float)
    return n.toDouble() == 0.0;
  return n.isIntegral() && n.toSigned() == 0;
}

// Casting NaN, infinities or values outside int64_t to an integer is
// undefined in C++; they saturate instead, and NaN gives 0.
int64_t truncateToSigned(double value) {
  if (std::isnan(value))
    return 0;
  if (value >= 9223372036854775808.0)
    return std::numeric_limits<int64_t>::max();
  if (value < -9223372036854775808.0)
    return kMinimum;
  return static_cast<int64_t>(value);
}

// +, -, * and /: floating point wins; otherwise the left operand's kind.
// Integer arithmetic is done on uint64_t so that it wraps instead of
// overflowing.
Number arithmetic(TokenKind op, const Number& left, const Number& right, qsizetype offset) {
  if (left.kind() == Kind::Float || right.kind() == Kind::Float) {
    if (!left.isNumeric() || !right.isNumeric())
      return Number::failed("unsupported binary numeric operation", offset);
    const double a = left.toDouble();
    const double b = right.toDouble();
    switch (op) {
    case TokenKind::Plus:
      return Number::fromFloat(a + b);
    case TokenKind::Minus:
      return Number::fromFloat(a - b);
    case TokenKind::Star:
      return Number::fromFloat(a * b);
    default:
      return Number::fromFloat(a / b);
    }
  }
  if (!left.isIntegral() || !right.isIntegral())
    return Number::failed("unsupported binary numeric operation", offset);
  const int64_t a = left.toSigned();
  const int64_t b = right.toSigned();
  const uint64_t ua = static_cast<uint64_t>(a);
  const uint64_t ub = static_cast<uint64_t>(b);
  switch (op) {
  case TokenKind::Plus:
    return likeLeft(left, ua + ub);
  case TokenKind::Minus:
    return likeLeft(left, ua - ub);
  case TokenKind::Star:
    return likeLeft(left, ua * ub);
  default:
    break;
  }
  // Both are undefined in C++ and have no sensible value for a memory map.
  if (op == TokenKind::Percent && b == 0)
    return Number::failed("modulo by zero", offset);
  if (a == kMinimum && b == -1)
    return Number::failed("integer overflow", offset);
  return likeLeft(left, static_cast<uint64_t>(op == TokenKind::Slash ? a / b : a % b));
}

Number bitwise(TokenKind op, const Number& left, const Number& right, qsizetype offset) {
  if (!left.isIntegral() || !right.isIntegral())
    return Number::failed("unsupported binary numeric operation", offset);
  const uint64_t a = static_cast<uint64_t>(left.toSigned());
  const uint64_t b = static_cast<uint64_t>(right.toSigned());
  switch (op) {
  case TokenKind::Amp:
    return likeLeft(left, a & b);
  case TokenKind::Caret:
    return likeLeft(left, a ^ b);
  case TokenKind::Pipe:
    return likeLeft(left, a | b);
  default:
    break;
  }
  // && and ||: both operands are always evaluated.
  const bool result = op == TokenKind::AmpAmp ? a != 0 && b != 0 : a != 0 || b != 0;
  return likeLeft(left, result ? 1 : 0);
}

Number shift(TokenKind op, const Number& left, const Number& right, qsizetype offset) {
  if (right.kind() != Kind::Signed)
    return Number::failed("integer shift value expected", offset);
  if (left.kind() != Kind::Signed)
    return Number::failed("can only shift numeric values", offset);
  const unsigned count = static_cast<unsigned>(right.toSigned()) & 63u;
  const int64_t a = left.toSigned();
  if (op == TokenKind::LeftShift)
    return likeLeft(left, static_cast<uint64_t>(a) << count);
  // Arithmetic shift spelled out, since >> of a negative value is
  // implementation-defined before C++20.
  const int64_t shifted = a < 0 ? ~(~a >> count) : a >> count;
  return likeLeft(left, static_cast<uint64_t>(shifted));
}

template <typename T>
bool holds(TokenKind op, const T& a, const T& b) {
  switch (op) {
  case TokenKind::Less:
    return a < b;
  case TokenKind::LessEqual:
    return a <= b;
  case TokenKind::Greater:
    return b < a;
  case TokenKind::GreaterEqual:
    return b <= a;
  case TokenKind::Equal:
    return a == b;
  default:
    return a != b;
  }
}

// The text a string is compared with: bool and integers in decimal,
// floating point in its shortest exact form.
QString textOf(const Number& n) {
  switch (n.kind()) {
  case Kind::Float:
    return QString::number(n.toDouble(), 'g', QLocale::FloatingPointShortest);
  case Kind::String:
    return n.text().toString();
  default:
    return QString::number(n.toSigned());
  }
}

// The left operand decides how both are compared; a bool compares bytes.
Number compare(TokenKind op, const Number& left, const Number& right, qsizetype offset) {
  switch (left.kind()) {
  case Kind::Signed:
    if (right.isNumeric())
      return Number::fromBool(holds(op, left.toSigned(), right.toSigned()));
    break;
  case Kind::Bool:
    if (right.isNumeric())
      return Number::fromBool(holds(op, static_cast<uint8_t>(left.toUnsigned()),
                                    static_cast<uint8_t>(right.toUnsigned())));
    break;
  case Kind::String:
    if (right.kind() == Kind::String)
      return Number::fromBool(holds(op, left.text().compare(right.text()), 0));
    if (right.isNumeric())
      return Number::fromBool(holds(op, left.text().compare(textOf(right)), 0));
    break;
  default:
    break;
  }
  return Number::failed("unsupported comparison operation", offset);
}

}  // namespace

Number Number::fromBool(bool value) {
  Number n;
  n.kind_ = Kind::Bool;
  n.integer_ = value ? 1 : 0;
  return n;
}

Number Number::fromSigned(int64_t value, bool byteWide) {
  Number n;
  n.kind_ = Kind::Signed;
  n.byteWide_ = byteWide;
  n.integer_ = byteWide ? static_cast<int8_t>(static_cast<uint8_t>(value)) : value;
  return n;
}

Number Number::fromFloat(double value) {
  Number n;
  n.kind_ = Kind::Float;
  n.real_ = value;
  return n;
}

Number Number::fromString(QStringView text) {
  Number n;
  n.kind_ = Kind::String;
  n.text_ = text;
  return n;
}

Number Number::failed(const char* message, qsizetype offset) {
  Number n;
  n.failure_ = message;
  n.failureOffset_ = offset;
  return n;
}

uint64_t Number::toUnsigned() const {
  if (kind_ == Kind::Float) {
    uint64_t bits;
    std::memcpy(&bits, &real_, sizeof bits);
    return bits;
  }
  return byteWide_ ? static_cast<uint8_t>(integer_) : static_cast<uint64_t>(integer_);
}

int64_t Number::toSigned() const {
  return kind_ == Kind::Float ? truncateToSigned(real_) : integer_;
}

double Number::toDouble() const {
  return kind_ == Kind::Float ? real_ : static_cast<double>(integer_);
}

Number applyBinary(TokenKind op, const Number& left, const Number& right, qsizetype offset) {
  // The right operand is evaluated first, so its failure wins.
  if (right.kind() == Kind::Failed)
    return right;
  if (left.kind() == Kind::Failed)
    return left;
  switch (op) {
  case TokenKind::Plus:
  case TokenKind::Minus:
  case TokenKind::Star:
    return arithmetic(op, left, right, offset);
  case TokenKind::Slash:
    if (isZero(right))
      return Number::failed("divide by zero", offset);
    return arithmetic(op, left, right, offset);
  case TokenKind::Percent:
    if (!left.isIntegral() || !right.isIntegral())
      return Number::failed("unsupported binary numeric operation", offset);
    return arithmetic(op, left, right, offset);
  case TokenKind::Amp:
  case TokenKind::Caret:
  case TokenKind::Pipe:
  case TokenKind::AmpAmp:
  case TokenKind::PipePipe:
    return bitwise(op, left, right, offset);
  case TokenKind::LeftShift:
  case TokenKind::RightShift:
    return shift(op, left, right, offset);
  case TokenKind::Less:
  case TokenKind::LessEqual:
  case TokenKind::Greater:
  case TokenKind::GreaterEqual:
  case TokenKind::Equal:
  case TokenKind::NotEqual:
    return compare(op, left, right, offset);
  default:
    // "=" and the compound assignments: only an object can be assigned to,
    // and no name resolves to one here.
    return Number::failed("bad expression type", offset);
  }
}

Number applyUnary(TokenKind op, const Number& operand, qsizetype offset) {
  if (operand.kind() == Kind::Failed)
    return operand;
  switch (op) {
  case TokenKind::Minus:
    if (operand.kind() == Kind::Float)
      return Number::fromFloat(-operand.toDouble());
    if (operand.isIntegral())
      return Number::fromSigned(
          static_cast<int64_t>(uint64_t{0} - static_cast<uint64_t>(operand.toSigned())),
          operand.kind() == Kind::Bool || operand.byteWide());
    break;
  case TokenKind::Tilde:
    if (operand.kind() == Kind::Signed)
      return likeLeft(operand, ~static_cast<uint64_t>(operand.toSigned()));
    break;
  case TokenKind::Not:
    if (operand.isNumeric())
      return Number::fromBool(isZero(operand));
    break;
  case TokenKind::Amp:
    // Nothing here can name an object's address: only a debugger could.
    return Number::failed("addressof not implemented", offset);
  default:
    // Prefix ++ and --: assignments, see applyBinary.
    return Number::failed("bad expression type", offset);
  }
  return Number::failed("unsupported unary num operation", offset);
}
