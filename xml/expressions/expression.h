// Expression trees: one node class per construct, each combining the values
// of its operands.
//
// Design priority: no input exhausts the stack. The parser bounds how deeply
// parentheses and unary operators nest, but a left-associative chain such as
// 1+1+...+1 builds a left spine as long as its input. So evaluation,
// description and destruction walk the tree with explicit stacks.
#pragma once

#include <QLatin1String>
#include <QString>
#include <memory>

#include "xml/expressions/value.h"

class Expression {
public:
  virtual ~Expression();
  Expression(const Expression&) = delete;
  Expression& operator=(const Expression&) = delete;

  // Evaluates the right operand of every node before its left one; both are
  // always evaluated. Throws ParserException.
  Value evaluate() const;
  // Canonical prefix form: "(+ 1 (* 2 3))", "(- 5)", "\"text\"", "1.5";
  // constants that no literal spells show their Value::describe() in brackets.
  QString describe() const;

  int operandCount() const { return operands_[1] ? 2 : operands_[0] ? 1 : 0; }
  // Where the node's operator starts in the text: the offset of its errors.
  void setOffset(qsizetype offset) { offset_ = offset; }
  const Expression& operand(int index) const { return *operands_[index]; }

protected:
  Expression() = default;
  explicit Expression(std::unique_ptr<Expression> operand);
  Expression(std::unique_ptr<Expression> left, std::unique_ptr<Expression> right);

  // This node's value from its operands' values, left operand first.
  virtual Value apply(const Value* operands) const = 0;
  // The operator as describe() shows it, or a constant's text.
  virtual QString label() const = 0;

private:
  std::unique_ptr<Expression> operands_[2];
  qsizetype offset_ = -1;
};

class ConstantExpression : public Expression {
public:
  explicit ConstantExpression(Value value) : value_(std::move(value)) {}
  const Value& value() const { return value_; }

protected:
  Value apply(const Value*) const override { return value_; }
  QString label() const override;

private:
  Value value_;
};

// Bool, signed and unsigned values, including those a symbol hook hands back.
class IntegerConstantExpression : public ConstantExpression {
public:
  using ConstantExpression::ConstantExpression;
};
class FloatConstantExpression : public ConstantExpression {
public:
  using ConstantExpression::ConstantExpression;
};
class StringConstantExpression : public ConstantExpression {
public:
  using ConstantExpression::ConstantExpression;
};

class UnaryExpression : public Expression {
public:
  explicit UnaryExpression(std::unique_ptr<Expression> operand) : Expression(std::move(operand)) {}
};

class BinaryExpression : public Expression {
public:
  BinaryExpression(std::unique_ptr<Expression> left, std::unique_ptr<Expression> right)
      : Expression(std::move(left), std::move(right)) {}
};

#define MKLD_EXPRESSION_NODE(Name, Base)                 \
  class Name : public Base {                             \
  public:                                                \
    using Base::Base;                                    \
                                                         \
  protected:                                             \
    Value apply(const Value* operands) const override;   \
    QString label() const override;                      \
  };

MKLD_EXPRESSION_NODE(PlusExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(MinusExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(MultiplyExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(DivideExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(ModExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(LshiftExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(RshiftExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(LtExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(LeExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(GtExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(GeExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(EqExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(NeExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(BitAndExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(BitXorExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(BitOrExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(LogicalAndExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(LogicalOrExpression, BinaryExpression)
MKLD_EXPRESSION_NODE(NegateExpression, UnaryExpression)
MKLD_EXPRESSION_NODE(BitNotExpression, UnaryExpression)
MKLD_EXPRESSION_NODE(LogicalNotExpression, UnaryExpression)
MKLD_EXPRESSION_NODE(AddressofExpression, UnaryExpression)

#undef MKLD_EXPRESSION_NODE

// "=", a compound assignment ("+=", "<<=", ...) or a prefix "++"/"--" (kept as
// "+=" or "-=" with the constant 1). Only an object can be assigned to.
class AssignExpression : public BinaryExpression {
public:
  AssignExpression(std::unique_ptr<Expression> target, std::unique_ptr<Expression> value,
                   QLatin1String spelling)
      : BinaryExpression(std::move(target), std::move(value)), spelling_(spelling) {}

protected:
  Value apply(const Value* operands) const override;
  QString label() const override { return spelling_; }

private:
  QLatin1String spelling_;
};
