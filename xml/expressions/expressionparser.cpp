#include "xml/expressions/expressionparser.h"

#include <climits>
#include <limits>

#include "xml/expressions/integerliteral.h"
#include "xml/expressions/lexer.h"
#include "xml/expressions/parserexception.h"

namespace {

constexpr int kNotBinary = INT_MIN;

// Every binary precedence in one place, lowest first. All binary operators
// are left-associative.
int binaryPrecedence(TokenKind kind) {
  switch (kind) {
  case TokenKind::Comma:
    return -4;
  case TokenKind::StarAssign:
  case TokenKind::SlashAssign:
  case TokenKind::PercentAssign:
  case TokenKind::PlusAssign:
  case TokenKind::MinusAssign:
  case TokenKind::LeftShiftAssign:
  case TokenKind::UnsignedRightShiftAssign:
  case TokenKind::RightShiftAssign:
  case TokenKind::CaretAssign:
  case TokenKind::AmpAssign:
  case TokenKind::PipeAssign:
    return -3;
  case TokenKind::Assign:
    return -2;
  case TokenKind::Question:
    return -1;
  case TokenKind::PipePipe:
    return 0;
  case TokenKind::AmpAmp:
    return 1;
  case TokenKind::Pipe:
    return 2;
  case TokenKind::Caret:
    return 3;
  case TokenKind::Amp:
    return 4;
  case TokenKind::Equal:
  case TokenKind::NotEqual:
    return 5;
  case TokenKind::Less:
  case TokenKind::LessEqual:
  case TokenKind::Greater:
  case TokenKind::GreaterEqual:
    return 6;
  case TokenKind::LeftShift:
  case TokenKind::RightShift:
  case TokenKind::UnsignedRightShift:
    return 7;
  case TokenKind::Plus:
  case TokenKind::Minus:
    return 8;
  case TokenKind::Star:
  case TokenKind::Slash:
  case TokenKind::Percent:
    return 9;
  default:
    return kNotBinary;
  }
}
constexpr int kLowestPrecedence = -4;

[[noreturn]] void fail(const char* message, qsizetype offset = -1) {
  throw ParserException(QLatin1String(message), offset);
}

// A node that reports its errors at `offset`.
std::unique_ptr<Expression> at(qsizetype offset, std::unique_ptr<Expression> node) {
  node->setOffset(offset);
  return node;
}

// Calls a hook; its error, unless it came from an operand evaluated on the
// way, stops at `offset`.
template <typename Hook>
Value askHook(qsizetype offset, Hook hook) {
  try {
    return hook();
  } catch (ParserException& e) {
    e.locate(offset);
    throw;
  }
}

std::unique_ptr<Expression> makeBinary(const Token& op, std::unique_ptr<Expression> left,
                                       std::unique_ptr<Expression> right) {
  auto assign = [&](const char* spelling) -> std::unique_ptr<Expression> {
    return std::make_unique<AssignExpression>(std::move(left), std::move(right),
                                              QLatin1String(spelling));
  };
  switch (op.kind) {
  case TokenKind::Plus:
    return std::make_unique<PlusExpression>(std::move(left), std::move(right));
  case TokenKind::Minus:
    return std::make_unique<MinusExpression>(std::move(left), std::move(right));
  case TokenKind::Star:
    return std::make_unique<MultiplyExpression>(std::move(left), std::move(right));
  case TokenKind::Slash:
    return std::make_unique<DivideExpression>(std::move(left), std::move(right));
  case TokenKind::Percent:
    return std::make_unique<ModExpression>(std::move(left), std::move(right));
  case TokenKind::LeftShift:
    return std::make_unique<LshiftExpression>(std::move(left), std::move(right));
  case TokenKind::RightShift:
    return std::make_unique<RshiftExpression>(std::move(left), std::move(right));
  case TokenKind::Less:
    return std::make_unique<LtExpression>(std::move(left), std::move(right));
  case TokenKind::LessEqual:
    return std::make_unique<LeExpression>(std::move(left), std::move(right));
  case TokenKind::Greater:
    return std::make_unique<GtExpression>(std::move(left), std::move(right));
  case TokenKind::GreaterEqual:
    return std::make_unique<GeExpression>(std::move(left), std::move(right));
  case TokenKind::Equal:
    return std::make_unique<EqExpression>(std::move(left), std::move(right));
  case TokenKind::NotEqual:
    return std::make_unique<NeExpression>(std::move(left), std::move(right));
  case TokenKind::Amp:
    return std::make_unique<BitAndExpression>(std::move(left), std::move(right));
  case TokenKind::Caret:
    return std::make_unique<BitXorExpression>(std::move(left), std::move(right));
  case TokenKind::Pipe:
    return std::make_unique<BitOrExpression>(std::move(left), std::move(right));
  case TokenKind::AmpAmp:
    return std::make_unique<LogicalAndExpression>(std::move(left), std::move(right));
  case TokenKind::PipePipe:
    return std::make_unique<LogicalOrExpression>(std::move(left), std::move(right));
  case TokenKind::Assign:
    return assign("=");
  case TokenKind::StarAssign:
    return assign("*=");
  case TokenKind::SlashAssign:
    return assign("/=");
  case TokenKind::PercentAssign:
    return assign("%=");
  case TokenKind::PlusAssign:
    return assign("+=");
  case TokenKind::MinusAssign:
    return assign("-=");
  case TokenKind::LeftShiftAssign:
    return assign("<<=");
  case TokenKind::RightShiftAssign:
    return assign(">>=");
  case TokenKind::CaretAssign:
    return assign("^=");
  case TokenKind::AmpAssign:
    return assign("&=");
  case TokenKind::PipeAssign:
    return assign("|=");
  default:
    // >>>, >>>=, ? and , have a precedence but no meaning here.
    fail("operator not supported");
  }
}

std::unique_ptr<Expression> makeConstant(Value value) {
  switch (value.kind()) {
  case Value::Kind::Float:
    return std::make_unique<FloatConstantExpression>(std::move(value));
  case Value::Kind::String:
    return std::make_unique<StringConstantExpression>(std::move(value));
  default:
    return std::make_unique<IntegerConstantExpression>(std::move(value));
  }
}

// Floating literals are digits, a dot and digits, so every one is a finite
// decimal; a value too large for a double becomes infinity and one too small
// becomes 0, as the C library reads them.
Value floatingLiteral(QStringView text) {
  const QByteArray bytes = text.toLatin1();
  bool ok = false;
  const double value = bytes.toDouble(&ok);
  if (ok)
    return Value::fromFloat(value);
  // QByteArray::toDouble refuses out-of-range values; decide by magnitude.
  for (char c : bytes) {
    if (c == '.')
      break;
    if (c != '0')
      return Value::fromFloat(std::numeric_limits<double>::infinity());
  }
  return Value::fromFloat(0.0);
}

// A parenthesis that opens with one of the C type keywords is a cast or
// sizeof(typename); any other name in that place is an expression.
bool isTypeKeyword(QStringView word) {
  static const char* const kKeywords[] = {"void",  "bool",   "_Bool",  "char",     "short",
                                          "int",   "long",   "float",  "double",   "signed",
                                          "unsigned"};
  for (const char* keyword : kKeywords) {
    if (word == QLatin1String(keyword))
      return true;
  }
  return false;
}

}  // namespace

// Precedence climbing over the lexer. Each call of parseUnary is one level of
// nesting; parseBinary recurses at most once per precedence level in between,
// so the stack depth is bounded by kMaxNesting.
class ExpressionParser::Grammar {
public:
  Grammar(Lexer& lexer, ExpressionParser& hooks) : lexer_(lexer), hooks_(hooks) {}

  std::unique_ptr<Expression> parseBinary(int minimumPrecedence) {
    std::unique_ptr<Expression> left = parseUnary();
    for (;;) {
      const int precedence = binaryPrecedence(lexer_.peek().kind);
      if (precedence == kNotBinary || precedence < minimumPrecedence)
        return left;
      const Token op = lexer_.next();
      const qsizetype offset = lexer_.offsetOf(op);
      if (op.kind == TokenKind::UnsignedRightShift ||
          op.kind == TokenKind::UnsignedRightShiftAssign || op.kind == TokenKind::Question ||
          op.kind == TokenKind::Comma)
        fail("operator not supported", offset);
      std::unique_ptr<Expression> right = parseBinary(precedence + 1);
      left = at(offset, makeBinary(op, std::move(left), std::move(right)));
    }
  }

private:
  class NestingGuard {
  public:
    // The outermost operand is not nested in anything, hence the + 1.
    NestingGuard(int& depth, qsizetype offset) : depth_(depth) {
      if (++depth_ > kMaxNesting + 1)
        fail("expression nested too deeply", offset);
    }
    ~NestingGuard() { --depth_; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;

  private:
    int& depth_;
  };

  std::unique_ptr<Expression> parseUnary() {
    NestingGuard guard(depth_, lexer_.offset());
    const Token token = lexer_.next();
    const qsizetype offset = lexer_.offsetOf(token);
    switch (token.kind) {
    case TokenKind::DecimalLiteral:
    case TokenKind::HexLiteral:
    case TokenKind::BinaryLiteral:
      return std::make_unique<IntegerConstantExpression>(Value::fromSigned(
          static_cast<int64_t>(parseIntegerLiteral(token.text))));
    case TokenKind::FloatLiteral:
      return std::make_unique<FloatConstantExpression>(floatingLiteral(token.text));
    case TokenKind::String:
      return std::make_unique<StringConstantExpression>(
          Value::fromString(token.text.mid(1, token.text.size() - 2).toString()));
    case TokenKind::LeftParen:
      return parseParenthesised(offset);
    case TokenKind::Minus:
      return at(offset, std::make_unique<NegateExpression>(parseUnary()));
    case TokenKind::Plus:
      return parseUnary();
    case TokenKind::Tilde:
      return at(offset, std::make_unique<BitNotExpression>(parseUnary()));
    case TokenKind::Not:
      return at(offset, std::make_unique<LogicalNotExpression>(parseUnary()));
    case TokenKind::PlusPlus:
    case TokenKind::MinusMinus: {
      std::unique_ptr<Expression> target = parseUnary();
      return at(offset, std::make_unique<AssignExpression>(
                            std::move(target),
                            std::make_unique<IntegerConstantExpression>(Value::fromSigned(1)),
                            QLatin1String(token.kind == TokenKind::PlusPlus ? "+=" : "-=")));
    }
    case TokenKind::Star:
      return makeConstant(
          askHook(offset, [&] { return hooks_.dereference(parseUnary()->evaluate()); }));
    case TokenKind::Amp:
      return at(offset, std::make_unique<AddressofExpression>(parseUnary()));
    case TokenKind::Identifier:
      if (token.text == QLatin1String("sizeof"))
        return parseSizeof(offset);
      if (token.text == QLatin1String("addressof"))
        return at(offset, std::make_unique<AddressofExpression>(parseUnary()));
      return parseName(token.text.toString(), offset);
    case TokenKind::ColonColon:
      return parseName(QString(), offset);
    default:
      fail("expression expected", offset);
    }
  }

  // After "(": a cast when a type name follows, else a parenthesised expression.
  std::unique_ptr<Expression> parseParenthesised(qsizetype offset) {
    if (startsTypeName()) {
      const QString typeName = parseTypeName();
      return makeConstant(
          askHook(offset, [&] { return hooks_.castValue(typeName, parseUnary()->evaluate()); }));
    }
    std::unique_ptr<Expression> inner = parseBinary(kLowestPrecedence);
    expectClosingParen();
    return inner;
  }

  // sizeof never leaves a node behind: it asks the hook at once.
  std::unique_ptr<Expression> parseSizeof(qsizetype offset) {
    if (!lexer_.consumeIf(TokenKind::LeftParen))
      return makeConstant(
          askHook(offset, [&] { return hooks_.sizeOfValue(parseUnary()->evaluate()); }));
    if (startsTypeName())
      return makeConstant(askHook(offset, [&] { return hooks_.sizeOfType(parseTypeName()); }));
    std::unique_ptr<Expression> operand = parseBinary(kLowestPrecedence);
    expectClosingParen();
    return makeConstant(askHook(offset, [&] { return hooks_.sizeOfValue(operand->evaluate()); }));
  }

  // `name` is the identifier just read, or empty after a leading "::".
  std::unique_ptr<Expression> parseName(QString name, qsizetype offset) {
    if (name.isEmpty())
      name = QStringLiteral("::") + expectIdentifier();
    while (lexer_.consumeIf(TokenKind::ColonColon))
      name += QStringLiteral("::") + expectIdentifier();
    if (!lexer_.consumeIf(TokenKind::LeftParen))
      return makeConstant(askHook(offset, [&] { return hooks_.lookupSymbol(name); }));
    std::vector<Value> arguments;
    if (!lexer_.consumeIf(TokenKind::RightParen)) {
      do {
        // Above the comma's precedence, which separates the arguments here.
        arguments.push_back(parseBinary(kLowestPrecedence + 1)->evaluate());
      } while (lexer_.consumeIf(TokenKind::Comma));
      expectClosingParen();
    }
    return makeConstant(askHook(offset, [&] { return hooks_.callFunction(name, arguments); }));
  }

  bool startsTypeName() {
    const Token& token = lexer_.peek();
    return token.kind == TokenKind::Identifier && isTypeKeyword(token.text);
  }

  // Keywords, pointer stars and the closing parenthesis.
  QString parseTypeName() {
    QString name;
    while (startsTypeName()) {
      if (!name.isEmpty())
        name += QLatin1Char(' ');
      name += lexer_.next().text;
    }
    while (lexer_.consumeIf(TokenKind::Star))
      name += QLatin1Char('*');
    expectClosingParen();
    return name;
  }

  QString expectIdentifier() {
    if (lexer_.peek().kind != TokenKind::Identifier)
      fail("expression expected", lexer_.offset());
    return lexer_.next().text.toString();
  }

  // An unclosed parenthesis fails rather than being closed at the end of the
  // text: an address must never be guessed.
  void expectClosingParen() {
    if (!lexer_.consumeIf(TokenKind::RightParen))
      fail("')' expected", lexer_.offset());
  }

  Lexer& lexer_;
  ExpressionParser& hooks_;
  int depth_ = 0;
};

std::unique_ptr<Expression> ExpressionParser::parse(const QString& text) {
  Lexer lexer(text);
  if (lexer.peek().kind == TokenKind::End)
    return nullptr;
  return Grammar(lexer, *this).parseBinary(kLowestPrecedence);
}

Value ExpressionParser::evaluate(const QString& text) {
  const std::unique_ptr<Expression> tree = parse(text);
  return tree ? tree->evaluate() : Value();
}

Value SimpleExpressionParser::lookupSymbol(const QString& name) {
  throw ParserException(name + QLatin1String(" symbol not found"));
}

Value SimpleExpressionParser::callFunction(const QString&, const std::vector<Value>&) {
  fail("function calling not implemented");
}

Value SimpleExpressionParser::castValue(const QString&, const Value&) { fail("cannot cast"); }

Value SimpleExpressionParser::sizeOfValue(const Value&) {
  fail("cannot determine sizeof of a constant");
}

Value SimpleExpressionParser::sizeOfType(const QString&) {
  fail("sizeof(typename) not implemented");
}

Value SimpleExpressionParser::dereference(const Value&) { fail("cannot dereference"); }
