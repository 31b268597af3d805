#include "expressions/lexer.h"

#include "expressions/evaluate.h"

namespace {

// The literal operators in the order they are tried; a longer spelling comes
// before every shorter one it begins with.
struct Spelling {
  const char* text;
  TokenKind kind;
};
const Spelling kOperators[] = {
    {";", TokenKind::Semicolon},
    {"::", TokenKind::ColonColon},
    {":", TokenKind::Colon},
    {"(", TokenKind::LeftParen},
    {")", TokenKind::RightParen},
    {"[", TokenKind::LeftBracket},
    {"]", TokenKind::RightBracket},
    {"{", TokenKind::LeftBrace},
    {"}", TokenKind::RightBrace},
    {".", TokenKind::Dot},
    {"->", TokenKind::Arrow},
    {"++", TokenKind::PlusPlus},
    {"--", TokenKind::MinusMinus},
    {"!=", TokenKind::NotEqual},
    {"!", TokenKind::Not},
    {"~", TokenKind::Tilde},
    {"*=", TokenKind::StarAssign},
    {"*", TokenKind::Star},
    {"/=", TokenKind::SlashAssign},
    {"/", TokenKind::Slash},
    {"%=", TokenKind::PercentAssign},
    {"%", TokenKind::Percent},
    {"+=", TokenKind::PlusAssign},
    {"+", TokenKind::Plus},
    {"-=", TokenKind::MinusAssign},
    {"-", TokenKind::Minus},
    {"<<=", TokenKind::LeftShiftAssign},
    {"<<", TokenKind::LeftShift},
    {">>>=", TokenKind::UnsignedRightShiftAssign},
    {">>>", TokenKind::UnsignedRightShift},
    {">>=", TokenKind::RightShiftAssign},
    {">>", TokenKind::RightShift},
    {"<=", TokenKind::LessEqual},
    {"<", TokenKind::Less},
    {">=", TokenKind::GreaterEqual},
    {">", TokenKind::Greater},
    {"==", TokenKind::Equal},
    {"^=", TokenKind::CaretAssign},
    {"^", TokenKind::Caret},
    {"&=", TokenKind::AmpAssign},
    {"&&", TokenKind::AmpAmp},
    {"&", TokenKind::Amp},
    {"|=", TokenKind::PipeAssign},
    {"||", TokenKind::PipePipe},
    {"|", TokenKind::Pipe},
    {"?", TokenKind::Question},
    {"=", TokenKind::Assign},
    {",", TokenKind::Comma},
};

// Reads characters past the end as -1, which no pattern accepts.
class Cursor {
public:
  Cursor(QStringView text, qsizetype position) : text_(text), position_(position) {}

  int peek(qsizetype ahead = 0) const {
    const qsizetype at = position_ + ahead;
    return at < text_.size() ? text_[at].unicode() : -1;
  }
  bool take(int c) {
    if (peek() != c)
      return false;
    ++position_;
    return true;
  }
  template <typename Predicate>
  void takeWhile(Predicate accepts) {
    while (accepts(peek()))
      ++position_;
  }
  void skip(qsizetype count) { position_ += count; }
  qsizetype position() const { return position_; }

private:
  QStringView text_;
  qsizetype position_;
};

bool isDigit(int c) { return c >= '0' && c <= '9'; }
bool isHexDigit(int c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isLetter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isIdentifierStart(int c) { return isLetter(c) || c == '_' || c == '$'; }
bool isIdentifierPart(int c) { return isIdentifierStart(c) || isDigit(c); }
bool isRegisterPart(int c) { return isLetter(c) || isDigit(c) || c == '_'; }

// U?L?L?u?l?l?: each optional letter is taken when present, which is also
// the longest match.
void takeIntegerSuffix(Cursor& cursor) {
  for (int c : {'U', 'L', 'L', 'u', 'l', 'l'})
    cursor.take(c);
}

bool startsWith(QStringView text, qsizetype position, const char* spelling) {
  for (qsizetype i = 0; spelling[i] != '\0'; ++i) {
    if (position + i >= text.size() || text[position + i].unicode() != static_cast<uchar>(spelling[i]))
      return false;
  }
  return true;
}

}  // namespace

const Token& Lexer::peek() {
  if (!scanned_)
    scan();
  return current_;
}

Token Lexer::next() {
  Token token = peek();
  position_ = tokenEnd_;
  scanned_ = false;
  return token;
}

bool Lexer::consumeIf(TokenKind kind) {
  if (peek().kind != kind)
    return false;
  next();
  return true;
}

qsizetype Lexer::offset() const {
  if (scanned_)
    return offsetOf(current_);
  qsizetype start = position_;
  while (start < text_.size() && isExpressionSpace(text_[start]))
    ++start;
  return start;
}

void Lexer::scan() {
  scanned_ = true;
  qsizetype start = position_;
  while (start < text_.size() && isExpressionSpace(text_[start]))
    ++start;
  if (start == text_.size() || error_) {
    current_ = Token{TokenKind::End, text_.sliced(start, 0)};
    tokenEnd_ = start;
    return;
  }

  Cursor cursor(text_, start);
  const int c = cursor.peek();
  TokenKind kind = TokenKind::End;
  if (c == '"') {
    const qsizetype close = text_.indexOf(QLatin1Char('"'), start + 1);
    if (close >= 0) {
      kind = TokenKind::String;
      cursor.skip(close + 1 - start);
    }
  } else if (c == '0' && cursor.peek(1) == 'x') {
    cursor.skip(2);
    cursor.takeWhile(isHexDigit);
    takeIntegerSuffix(cursor);
    kind = TokenKind::HexLiteral;
  } else if (c == '0' && cursor.peek(1) == 'b') {
    cursor.skip(2);
    cursor.takeWhile([](int d) { return d == '0' || d == '1'; });
    kind = TokenKind::BinaryLiteral;
  } else if (isDigit(c)) {
    cursor.takeWhile(isDigit);
    if (cursor.peek() == '.' && isDigit(cursor.peek(1))) {
      cursor.skip(1);
      cursor.takeWhile(isDigit);
      kind = TokenKind::FloatLiteral;
    } else {
      takeIntegerSuffix(cursor);
      kind = TokenKind::DecimalLiteral;
    }
  } else if (isIdentifierStart(c)) {
    cursor.takeWhile(isIdentifierPart);
    kind = TokenKind::Identifier;
  } else if (c == '@') {
    cursor.skip(1);
    cursor.takeWhile(isRegisterPart);
    kind = TokenKind::Register;
  } else {
    for (const Spelling& spelling : kOperators) {
      if (startsWith(text_, start, spelling.text)) {
        kind = spelling.kind;
        cursor.skip(static_cast<qsizetype>(qstrlen(spelling.text)));
        break;
      }
    }
  }
  if (kind == TokenKind::End) {
    error_ = EvaluationError{QStringLiteral("unrecognised token: ") + text_.mid(start).toString(), start};
    current_ = Token{TokenKind::End, text_.sliced(start, 0)};
    tokenEnd_ = start;
    return;
  }
  current_ = Token{kind, text_.mid(start, cursor.position() - start)};
  tokenEnd_ = cursor.position();
}
