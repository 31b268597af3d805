// Parsing of C-like constant expressions into expression trees.
//
// ExpressionParser knows the grammar; names, types and memory reach it only
// through the hooks below, which a derived parser answers.
// SimpleExpressionParser answers each of them with its error, so only
// constant expressions succeed: that is the parser the tool uses.
#pragma once

#include <QString>
#include <memory>
#include <vector>

#include "xml/expressions/expression.h"
#include "xml/expressions/value.h"

class ExpressionParser {
public:
  // The deepest nesting of parentheses, unary operators, casts, sizeof and
  // call arguments accepted; deeper input fails with "expression nested too
  // deeply" instead of exhausting the stack.
  static constexpr int kMaxNesting = 256;

  virtual ~ExpressionParser() = default;

  // The tree of `text`, or null when the text holds no token. Tokens after
  // the expression are ignored. Throws ParserException.
  std::unique_ptr<Expression> parse(const QString& text);
  // The value of `text`; Value::Kind::None when it holds no token. Throws
  // ParserException.
  Value evaluate(const QString& text);

protected:
  // Each hook answers or throws ParserException. A name is qualified with
  // "::" as written ("a::b", "::c"); a type name is its keywords joined by
  // single blanks, then one "*" per pointer level ("unsigned int*").
  virtual Value lookupSymbol(const QString& name) = 0;
  virtual Value callFunction(const QString& name, const std::vector<Value>& arguments) = 0;
  virtual Value castValue(const QString& typeName, const Value& value) = 0;
  virtual Value sizeOfValue(const Value& value) = 0;
  virtual Value sizeOfType(const QString& typeName) = 0;
  virtual Value dereference(const Value& pointer) = 0;

private:
  class Grammar;
};

class SimpleExpressionParser : public ExpressionParser {
protected:
  Value lookupSymbol(const QString& name) override;
  Value callFunction(const QString& name, const std::vector<Value>& arguments) override;
  Value castValue(const QString& typeName, const Value& value) override;
  Value sizeOfValue(const Value& value) override;
  Value sizeOfType(const QString& typeName) override;
  Value dereference(const Value& pointer) override;
};
