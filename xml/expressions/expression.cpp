#include "xml/expressions/expression.h"

#include <QLocale>
#include <limits>
#include <utility>
#include <vector>

#include "xml/expressions/parserexception.h"

namespace {

using Kind = Value::Kind;

[[noreturn]] void fail(const char* message) { throw ParserException(QLatin1String(message)); }

// A result of the left operand's kind and size.
Value likeLeft(const Value& left, uint64_t payload) {
  switch (left.kind()) {
  case Kind::Bool:
    return Value::fromBool(payload != 0);
  case Kind::Unsigned:
    return Value::fromUnsigned(payload, left.size());
  default:
    return Value::fromSigned(static_cast<int64_t>(payload), left.size());
  }
}

// The left operand's reading of an integral operand: unsigned conversion for
// an unsigned left, signed conversion otherwise (bool counts as 0 or 1).
uint64_t integerAs(const Value& left, const Value& operand) {
  return left.kind() == Kind::Unsigned ? operand.toUnsigned()
                                       : static_cast<uint64_t>(operand.toSigned());
}

bool isZero(const Value& v) {
  if (v.kind() == Kind::Float)
    return v.toDouble() == 0.0;
  return v.isIntegral() && (v.toUnsigned() == 0 || v.toSigned() == 0);
}

enum class Arithmetic { Add, Subtract, Multiply, Divide };

// +, -, * and /: floating point wins; otherwise the left operand's kind.
// Integer arithmetic is done on uint64_t so that it wraps instead of
// overflowing.
Value arithmetic(Arithmetic op, const Value& left, const Value& right) {
  if (left.kind() == Kind::Float || right.kind() == Kind::Float) {
    if (!left.isNumeric() || !right.isNumeric())
      fail("unsupported binary numeric operation");
    const double a = left.toDouble();
    const double b = right.toDouble();
    switch (op) {
    case Arithmetic::Add:
      return Value::fromFloat(a + b);
    case Arithmetic::Subtract:
      return Value::fromFloat(a - b);
    case Arithmetic::Multiply:
      return Value::fromFloat(a * b);
    case Arithmetic::Divide:
      return Value::fromFloat(a / b);
    }
  }
  if (!left.isIntegral() || !right.isIntegral())
    fail("unsupported binary numeric operation");
  const uint64_t a = integerAs(left, left);
  const uint64_t b = integerAs(left, right);
  switch (op) {
  case Arithmetic::Add:
    return likeLeft(left, a + b);
  case Arithmetic::Subtract:
    return likeLeft(left, a - b);
  case Arithmetic::Multiply:
    return likeLeft(left, a * b);
  case Arithmetic::Divide:
    break;
  }
  if (left.kind() == Kind::Unsigned)
    return likeLeft(left, a / b);
  const int64_t sa = static_cast<int64_t>(a);
  const int64_t sb = static_cast<int64_t>(b);
  // The one signed quotient that does not fit: C++ leaves it undefined.
  if (sa == std::numeric_limits<int64_t>::min() && sb == -1)
    fail("integer overflow");
  return likeLeft(left, static_cast<uint64_t>(sa / sb));
}

enum class Bitwise { And, Xor, Or };

Value bitwise(Bitwise op, const Value& left, const Value& right) {
  if (!left.isIntegral() || !right.isIntegral())
    fail("unsupported binary numeric operation");
  const uint64_t a = integerAs(left, left);
  const uint64_t b = integerAs(left, right);
  switch (op) {
  case Bitwise::And:
    return likeLeft(left, a & b);
  case Bitwise::Xor:
    return likeLeft(left, a ^ b);
  case Bitwise::Or:
    break;
  }
  return likeLeft(left, a | b);
}

enum class Shift { Left, Right };

Value shift(Shift op, const Value& left, const Value& right) {
  if (right.kind() != Kind::Signed)
    fail("integer shift value expected");
  if (left.kind() != Kind::Signed && left.kind() != Kind::Unsigned)
    fail("can only shift numeric values");
  const unsigned count = static_cast<unsigned>(right.toSigned()) & 63u;
  if (left.kind() == Kind::Unsigned) {
    const uint64_t a = left.toUnsigned();
    return likeLeft(left, op == Shift::Left ? a << count : a >> count);
  }
  const int64_t a = left.toSigned();
  if (op == Shift::Left)
    return likeLeft(left, static_cast<uint64_t>(a) << count);
  // Arithmetic shift spelled out, since >> of a negative value is
  // implementation-defined before C++20.
  const int64_t shifted = a < 0 ? ~(~a >> count) : a >> count;
  return likeLeft(left, static_cast<uint64_t>(shifted));
}

enum class Comparison { Less, LessEqual, Greater, GreaterEqual, Equal, NotEqual };

template <typename T>
bool holds(Comparison op, const T& a, const T& b) {
  switch (op) {
  case Comparison::Less:
    return a < b;
  case Comparison::LessEqual:
    return a <= b;
  case Comparison::Greater:
    return b < a;
  case Comparison::GreaterEqual:
    return b <= a;
  case Comparison::Equal:
    return a == b;
  case Comparison::NotEqual:
    break;
  }
  return a != b;
}

// The left operand decides how both are compared.
Value compare(Comparison op, const Value& left, const Value& right) {
  switch (left.kind()) {
  case Kind::Signed:
    if (right.isNumeric())
      return Value::fromBool(holds(op, left.toSigned(), right.toSigned()));
    break;
  case Kind::Unsigned:
    if (right.isNumeric())
      return Value::fromBool(holds(op, left.toUnsigned(), right.toUnsigned()));
    break;
  case Kind::Bool:
    if (right.isNumeric()) {
      const uint8_t a = static_cast<uint8_t>(left.toUnsigned());
      const uint8_t b = static_cast<uint8_t>(right.toUnsigned());
      return Value::fromBool(holds(op, a, b));
    }
    break;
  case Kind::String:
    if (right.isNumeric() || right.kind() == Kind::String)
      return Value::fromBool(holds(op, QString::compare(left.text(), right.toText()), 0));
    break;
  default:
    break;
  }
  fail("unsupported comparison operation");
}

bool isTrue(const Value& v) {
  return v.kind() == Kind::Unsigned ? v.toUnsigned() != 0 : v.toSigned() != 0;
}

Value logical(bool isAnd, const Value& left, const Value& right) {
  if (!left.isIntegral() || !right.isIntegral())
    fail("unsupported binary numeric operation");
  const bool result = isAnd ? isTrue(left) && isTrue(right) : isTrue(left) || isTrue(right);
  return likeLeft(left, result ? 1 : 0);
}

// Text a floating-point constant shows in describe(): it always tells itself
// apart from an integer.
QString floatLabel(double value) {
  QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
  bool digitsOnly = true;
  for (QChar c : text)
    digitsOnly = digitsOnly && (c.isDigit() || c == QLatin1Char('-'));
  return digitsOnly ? text + QLatin1String(".0") : text;
}

}  // namespace

Expression::Expression(std::unique_ptr<Expression> operand) { operands_[0] = std::move(operand); }

Expression::Expression(std::unique_ptr<Expression> left, std::unique_ptr<Expression> right) {
  operands_[0] = std::move(left);
  operands_[1] = std::move(right);
}

// Takes the operands apart one node at a time, so every node dies with no
// operands left and no destructor recurses.
Expression::~Expression() {
  std::vector<std::unique_ptr<Expression>> pending;
  for (std::unique_ptr<Expression>& operand : operands_) {
    if (operand)
      pending.push_back(std::move(operand));
  }
  while (!pending.empty()) {
    std::unique_ptr<Expression> node = std::move(pending.back());
    pending.pop_back();
    for (std::unique_ptr<Expression>& operand : node->operands_) {
      if (operand)
        pending.push_back(std::move(operand));
    }
  }
}

Value Expression::evaluate() const {
  struct Frame {
    const Expression* node;
    int remaining;  // operands still to evaluate, the right one first
  };
  std::vector<Frame> frames;
  std::vector<Value> values;
  frames.reserve(8);
  values.reserve(8);
  frames.push_back({this, operandCount()});
  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.remaining > 0) {
      const Expression* next = frame.node->operands_[--frame.remaining].get();
      frames.push_back({next, next->operandCount()});
      continue;
    }
    const Expression* node = frame.node;
    frames.pop_back();
    const int count = node->operandCount();
    // The right operand was pushed first; put the left one first for apply.
    Value* operands = values.data() + values.size() - count;
    if (count == 2)
      std::swap(operands[0], operands[1]);
    Value result;
    try {
      result = node->apply(operands);
    } catch (ParserException& e) {
      e.locate(node->offset_);
      throw;
    }
    values.resize(values.size() - static_cast<size_t>(count));
    values.push_back(std::move(result));
  }
  return std::move(values.back());
}

QString Expression::describe() const {
  struct Frame {
    const Expression* node;
    int done;  // operands already described, left first
  };
  std::vector<Frame> frames{{this, 0}};
  std::vector<QString> texts;
  while (!frames.empty()) {
    Frame& frame = frames.back();
    const int count = frame.node->operandCount();
    if (frame.done < count) {
      const Expression* next = frame.node->operands_[frame.done++].get();
      frames.push_back({next, 0});
      continue;
    }
    QString text = frame.node->label();
    frames.pop_back();
    if (count > 0) {
      QString list = QLatin1Char('(') + text;
      for (qsizetype i = static_cast<qsizetype>(texts.size()) - count; i < static_cast<qsizetype>(texts.size()); ++i)
        list += QLatin1Char(' ') + texts[static_cast<size_t>(i)];
      text = list + QLatin1Char(')');
      texts.resize(texts.size() - static_cast<size_t>(count));
    }
    texts.push_back(std::move(text));
  }
  return texts.back();
}

QString ConstantExpression::label() const {
  switch (value_.kind()) {
  case Kind::Signed:
    if (value_.size() == 8)
      return QString::number(value_.toSigned());
    break;
  case Kind::Float:
    if (value_.size() == 8)
      return floatLabel(value_.toDouble());
    break;
  case Kind::String:
    return QLatin1Char('"') + value_.text() + QLatin1Char('"');
  default:
    break;
  }
  return QLatin1Char('[') + value_.describe() + QLatin1Char(']');
}

Value PlusExpression::apply(const Value* v) const { return arithmetic(Arithmetic::Add, v[0], v[1]); }
QString PlusExpression::label() const { return QStringLiteral("+"); }

Value MinusExpression::apply(const Value* v) const {
  return arithmetic(Arithmetic::Subtract, v[0], v[1]);
}
QString MinusExpression::label() const { return QStringLiteral("-"); }

Value MultiplyExpression::apply(const Value* v) const {
  return arithmetic(Arithmetic::Multiply, v[0], v[1]);
}
QString MultiplyExpression::label() const { return QStringLiteral("*"); }

Value DivideExpression::apply(const Value* v) const {
  if (isZero(v[1]))
    fail("divide by zero");
  return arithmetic(Arithmetic::Divide, v[0], v[1]);
}
QString DivideExpression::label() const { return QStringLiteral("/"); }

Value ModExpression::apply(const Value* v) const {
  const Value& left = v[0];
  const Value& right = v[1];
  if (!left.isIntegral() || !right.isIntegral())
    fail("unsupported binary numeric operation");
  const uint64_t a = integerAs(left, left);
  const uint64_t b = integerAs(left, right);
  // Both are undefined in C++ and have no sensible value for a memory map.
  if (b == 0)
    fail("modulo by zero");
  if (left.kind() == Kind::Unsigned)
    return likeLeft(left, a % b);
  const int64_t sa = static_cast<int64_t>(a);
  const int64_t sb = static_cast<int64_t>(b);
  if (sa == std::numeric_limits<int64_t>::min() && sb == -1)
    fail("integer overflow");
  return likeLeft(left, static_cast<uint64_t>(sa % sb));
}
QString ModExpression::label() const { return QStringLiteral("%"); }

Value LshiftExpression::apply(const Value* v) const { return shift(Shift::Left, v[0], v[1]); }
QString LshiftExpression::label() const { return QStringLiteral("<<"); }

Value RshiftExpression::apply(const Value* v) const { return shift(Shift::Right, v[0], v[1]); }
QString RshiftExpression::label() const { return QStringLiteral(">>"); }

Value LtExpression::apply(const Value* v) const { return compare(Comparison::Less, v[0], v[1]); }
QString LtExpression::label() const { return QStringLiteral("<"); }

Value LeExpression::apply(const Value* v) const {
  return compare(Comparison::LessEqual, v[0], v[1]);
}
QString LeExpression::label() const { return QStringLiteral("<="); }

Value GtExpression::apply(const Value* v) const { return compare(Comparison::Greater, v[0], v[1]); }
QString GtExpression::label() const { return QStringLiteral(">"); }

Value GeExpression::apply(const Value* v) const {
  return compare(Comparison::GreaterEqual, v[0], v[1]);
}
QString GeExpression::label() const { return QStringLiteral(">="); }

Value EqExpression::apply(const Value* v) const { return compare(Comparison::Equal, v[0], v[1]); }
QString EqExpression::label() const { return QStringLiteral("=="); }

Value NeExpression::apply(const Value* v) const { return compare(Comparison::NotEqual, v[0], v[1]); }
QString NeExpression::label() const { return QStringLiteral("!="); }

Value BitAndExpression::apply(const Value* v) const { return bitwise(Bitwise::And, v[0], v[1]); }
QString BitAndExpression::label() const { return QStringLiteral("&"); }

Value BitXorExpression::apply(const Value* v) const { return bitwise(Bitwise::Xor, v[0], v[1]); }
QString BitXorExpression::label() const { return QStringLiteral("^"); }

Value BitOrExpression::apply(const Value* v) const { return bitwise(Bitwise::Or, v[0], v[1]); }
QString BitOrExpression::label() const { return QStringLiteral("|"); }

Value LogicalAndExpression::apply(const Value* v) const { return logical(true, v[0], v[1]); }
QString LogicalAndExpression::label() const { return QStringLiteral("&&"); }

Value LogicalOrExpression::apply(const Value* v) const { return logical(false, v[0], v[1]); }
QString LogicalOrExpression::label() const { return QStringLiteral("||"); }

Value NegateExpression::apply(const Value* v) const {
  const Value& operand = v[0];
  switch (operand.kind()) {
  case Kind::Unsigned:
    return Value::fromUnsigned(uint64_t{0} - operand.toUnsigned(), operand.size());
  case Kind::Signed:
  case Kind::Bool:
    return Value::fromSigned(
        static_cast<int64_t>(uint64_t{0} - static_cast<uint64_t>(operand.toSigned())),
        operand.size());
  case Kind::Float:
    return Value::fromFloat(-operand.toDouble(), operand.size());
  default:
    fail("unsupported unary num operation");
  }
}
QString NegateExpression::label() const { return QStringLiteral("-"); }

Value BitNotExpression::apply(const Value* v) const {
  const Value& operand = v[0];
  if (operand.kind() != Kind::Signed && operand.kind() != Kind::Unsigned)
    fail("unsupported unary num operation");
  return likeLeft(operand, ~operand.payload());
}
QString BitNotExpression::label() const { return QStringLiteral("~"); }

Value LogicalNotExpression::apply(const Value* v) const {
  const Value& operand = v[0];
  if (!operand.isNumeric())
    fail("unsupported unary num operation");
  return Value::fromBool(isZero(operand));
}
QString LogicalNotExpression::label() const { return QStringLiteral("!"); }

// Nothing here can name an object's address: only a debugger could.
Value AddressofExpression::apply(const Value*) const { fail("addressof not implemented"); }
QString AddressofExpression::label() const { return QStringLiteral("&"); }

// A reference can only come from a symbol hook, and no hook in this tool
// writes memory, so even an object cannot be assigned to.
Value AssignExpression::apply(const Value* v) const {
  if (v[0].kind() != Kind::Reference)
    fail("bad expression type");
  fail("assignment not implemented");
}
