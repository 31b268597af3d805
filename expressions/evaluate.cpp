#include "expressions/evaluate.h"

#include <QByteArray>
#include <climits>
#include <limits>

#include "base/bytes.h"
#include "expressions/integerliteral.h"
#include "expressions/lexer.h"
#include "expressions/number.h"

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

// Floating literals are digits, a dot and digits, so every one is a finite
// decimal; a value too large for a double becomes infinity and one too small
// becomes 0, as the C library reads them.
double floatingLiteral(QStringView text) {
  const QByteArray bytes = text.toLatin1();
  bool ok = false;
  const double value = bytes.toDouble(&ok);
  if (ok)
    return value;
  // QByteArray::toDouble refuses out-of-range values; decide by magnitude.
  for (char c : bytes) {
    if (c == '.')
      break;
    if (c != '0')
      return std::numeric_limits<double>::infinity();
  }
  return 0.0;
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

// Precedence climbing over the lexer, evaluating as it goes. A text that
// does not parse stops at the offending token: the first such error is kept,
// and from then on the parse sees the end of the text, so every level
// returns at once. An operator that cannot be applied gives a failed Number,
// reported once the text has parsed. Each call of parseUnary is one level of
// nesting; parseBinary recurses at most once per precedence level in
// between, so the stack depth is bounded by kMaxExpressionNesting.
class Evaluator {
public:
  explicit Evaluator(const QString& text)
      : lexer_(text), end_{TokenKind::End, QStringView(text).sliced(text.size(), 0)} {}

  // The value, or Failed; none for a text without tokens.
  std::optional<Number> evaluate() {
    if (peek().kind == TokenKind::End)
      return std::nullopt;
    return parseBinary(kLowestPrecedence);
  }

  qsizetype offset() const { return lexer_.offset(); }
  // Where the first token the parse left starts; -1 at the end of the text.
  qsizetype unread() {
    const Token& token = peek();
    return token.kind == TokenKind::End ? -1 : lexer_.offsetOf(token);
  }
  // Why the text does not parse; null when it does.
  const EvaluationError* syntaxError() const { return error_ ? &*error_ : lexer_.error(); }

private:
  // Keeps the first reason the text does not parse; the value returned
  // stands for the operand that could not be read.
  Number fail(QString message, qsizetype offset) {
    if (!syntaxError())
      error_ = EvaluationError{std::move(message), offset};
    return Number::failed("", offset);
  }
  Number fail(const char* message, qsizetype offset) { return fail(QString::fromLatin1(message), offset); }

  // An operand the evaluator must look at before it can go on (the operand
  // of *, a cast, sizeof, a call argument) reports its failure at once.
  void check(const Number& operand) {
    if (operand.kind() == Number::Kind::Failed)
      fail(operand.failure(), operand.failureOffset());
  }

  const Token& peek() { return error_ ? end_ : lexer_.peek(); }
  Token next() { return error_ ? end_ : lexer_.next(); }
  bool consumeIf(TokenKind kind) { return !error_ && lexer_.consumeIf(kind); }

  Number parseBinary(int minimumPrecedence) {
    Number left = parseUnary();
    for (;;) {
      const int precedence = binaryPrecedence(peek().kind);
      if (precedence == kNotBinary || precedence < minimumPrecedence)
        return left;
      const Token op = next();
      const qsizetype offset = lexer_.offsetOf(op);
      if (op.kind == TokenKind::UnsignedRightShift ||
          op.kind == TokenKind::UnsignedRightShiftAssign || op.kind == TokenKind::Question ||
          op.kind == TokenKind::Comma)
        return fail("operator not supported", offset);
      const Number right = parseBinary(precedence + 1);
      left = applyBinary(op.kind, left, right, offset);
    }
  }

  // Counts one level of nesting for as long as it lives.
  class NestingGuard {
  public:
    explicit NestingGuard(int& depth) : depth_(depth) { ++depth_; }
    ~NestingGuard() { --depth_; }
    NestingGuard(const NestingGuard&) = delete;
    NestingGuard& operator=(const NestingGuard&) = delete;

  private:
    int& depth_;
  };

  Number parseUnary() {
    const NestingGuard guard(depth_);
    // The outermost operand is not nested in anything, hence the + 1.
    if (depth_ > kMaxExpressionNesting + 1)
      return fail("expression nested too deeply", lexer_.offset());
    const Token token = next();
    const qsizetype offset = lexer_.offsetOf(token);
    switch (token.kind) {
    case TokenKind::DecimalLiteral:
    case TokenKind::HexLiteral:
    case TokenKind::BinaryLiteral:
      return Number::fromSigned(static_cast<int64_t>(parseIntegerLiteral(token.text)));
    case TokenKind::FloatLiteral:
      return Number::fromFloat(floatingLiteral(token.text));
    case TokenKind::String:
      return Number::fromString(token.text.mid(1, token.text.size() - 2));
    case TokenKind::LeftParen:
      return parseParenthesised(offset);
    case TokenKind::Plus:
      return parseUnary();
    case TokenKind::Minus:
    case TokenKind::Tilde:
    case TokenKind::Not:
    case TokenKind::Amp:
    case TokenKind::PlusPlus:
    case TokenKind::MinusMinus:
      return applyUnary(token.kind, parseUnary(), offset);
    case TokenKind::Star:
      check(parseUnary());
      return fail("cannot dereference", offset);
    case TokenKind::Identifier:
      if (token.text == QLatin1String("sizeof"))
        return parseSizeof(offset);
      if (token.text == QLatin1String("addressof"))
        return applyUnary(TokenKind::Amp, parseUnary(), offset);
      return parseName(token.text.toString(), offset);
    case TokenKind::ColonColon:
      return parseName(QString(), offset);
    default:
      return fail("expression expected", offset);
    }
  }

  // After "(": a cast when a type name follows, else a parenthesised expression.
  Number parseParenthesised(qsizetype offset) {
    if (startsTypeName()) {
      parseTypeName();
      check(parseUnary());
      return fail("cannot cast", offset);
    }
    const Number inner = parseBinary(kLowestPrecedence);
    expectClosingParen();
    return inner;
  }

  // No sizeof has a value: nothing here is an object or a known type.
  Number parseSizeof(qsizetype offset) {
    if (!consumeIf(TokenKind::LeftParen)) {
      check(parseUnary());
      return fail("cannot determine sizeof of a constant", offset);
    }
    if (startsTypeName()) {
      parseTypeName();
      return fail("sizeof(typename) not implemented", offset);
    }
    const Number operand = parseBinary(kLowestPrecedence);
    expectClosingParen();
    check(operand);
    return fail("cannot determine sizeof of a constant", offset);
  }

  // `name` is the identifier just read, or empty after a leading "::". No
  // name resolves and no function can be called, but a call's arguments are
  // read and evaluated first.
  Number parseName(QString name, qsizetype offset) {
    if (name.isEmpty())
      name = QStringLiteral("::") + expectIdentifier();
    while (consumeIf(TokenKind::ColonColon))
      name += QStringLiteral("::") + expectIdentifier();
    if (!consumeIf(TokenKind::LeftParen))
      return fail(name + QLatin1String(" symbol not found"), offset);
    if (!consumeIf(TokenKind::RightParen)) {
      do {
        // Above the comma's precedence, which separates the arguments here.
        check(parseBinary(kLowestPrecedence + 1));
      } while (consumeIf(TokenKind::Comma));
      expectClosingParen();
    }
    return fail("function calling not implemented", offset);
  }

  bool startsTypeName() {
    const Token& token = peek();
    return token.kind == TokenKind::Identifier && isTypeKeyword(token.text);
  }

  // Keywords, pointer stars and the closing parenthesis.
  void parseTypeName() {
    while (startsTypeName())
      next();
    while (consumeIf(TokenKind::Star)) {
    }
    expectClosingParen();
  }

  QString expectIdentifier() {
    if (peek().kind != TokenKind::Identifier) {
      fail("expression expected", lexer_.offset());
      return QString();
    }
    return next().text.toString();
  }

  // An unclosed parenthesis fails rather than being closed at the end of the
  // text: an address must never be guessed.
  void expectClosingParen() {
    if (!consumeIf(TokenKind::RightParen))
      fail("')' expected", lexer_.offset());
  }

  Lexer lexer_;
  const Token end_;  // what the parse sees once the text does not parse
  std::optional<EvaluationError> error_;
  int depth_ = 0;
};

bool isNumber(Number::Kind kind) {
  return kind == Number::Kind::Signed || kind == Number::Kind::Float;
}

bool isBool(Number::Kind kind) { return kind == Number::Kind::Bool; }

// The value of `text` when it parses, evaluates and is of a kind the caller
// accepts, converted by `convert`; otherwise none, with the reason.
template <typename T, typename Convert>
Evaluation<T> evaluateChecked(const QString& text, bool (*accepts)(Number::Kind), Convert convert) {
  Evaluation<T> result;
  Evaluator evaluator(text);
  const std::optional<Number> value = evaluator.evaluate();
  result.unread = evaluator.unread();
  if (const EvaluationError* syntax = evaluator.syntaxError())
    result.error = *syntax;
  else if (!value)
    result.error = EvaluationError{QStringLiteral("expression expected"), evaluator.offset()};
  else if (value->kind() == Number::Kind::Failed)
    result.error = EvaluationError{QString::fromLatin1(value->failure()), value->failureOffset()};
  else if (accepts(value->kind()))
    result.value = convert(*value);
  else
    result.error = EvaluationError{QStringLiteral("bad expression type"), 0};
  return result;
}

}  // namespace

Evaluation<uint64_t> evaluateUnsigned(const QString& text) {
  return evaluateChecked<uint64_t>(text, isNumber, [](const Number& n) { return n.toUnsigned(); });
}

Evaluation<uint64_t> evaluateUnsigned(std::string_view bytes) {
  // The strict literal reads exactly the decimal, octal and "0x" numbers
  // that the lexer takes as one literal token, to the same value, and reads
  // the whole text; "0X" is no prefix to the lexer.
  if (bytes.size() < 2 || bytes[1] != 'X') {
    if (const std::optional<uint64_t> number = parseStrictIntegerLiteral(bytes))
      return {number, {}, -1};
  }
  return evaluateUnsigned(fromBytes(bytes));
}

Evaluation<int64_t> evaluateInt(const QString& text) {
  return evaluateChecked<int64_t>(text, isNumber, [](const Number& n) { return n.toSigned(); });
}

Evaluation<bool> evaluateBool(const QString& text) {
  return evaluateChecked<bool>(text, isBool, [](const Number& n) { return n.toSigned() != 0; });
}
