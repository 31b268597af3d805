// The tokenizer of constant expressions.
//
// Design priority: the token at a position is exactly the one that the
// pattern table below would give if its regular expressions were tried in
// order and the first one matching at the position won. The table is the
// contract; a hand-written matcher implements it because running regular
// expressions per token is far too slow for files with 100,000 sections.
//
//   white space (skipped)  [\s]+
//   string                 "[^"]*"
//   hexadecimal            0x[0-9A-Fa-f]*U?L?L?u?l?l?
//   binary                 0b[0-1]*
//   floating               \d+\.\d+
//   decimal                \d+U?L?L?u?l?l?
//   identifier             [A-Za-z_$][A-Za-z_0-9$]*
//   register               @[A-Za-z_0-9]*
//   then the literal operators in TokenKind order, longest spelling of a
//   family first (!= before !, <<= before << before <= before <).
//
// Tokens are produced one at a time on demand, so text after the last token
// the parser looks at is never examined.
#pragma once

#include <QString>
#include <QStringView>
#include <optional>

#include "expressions/evaluate.h"

enum class TokenKind {
  End,
  String,
  HexLiteral,
  BinaryLiteral,
  FloatLiteral,
  DecimalLiteral,
  Identifier,
  Register,
  Semicolon,
  ColonColon,
  Colon,
  LeftParen,
  RightParen,
  LeftBracket,
  RightBracket,
  LeftBrace,
  RightBrace,
  Dot,
  Arrow,
  PlusPlus,
  MinusMinus,
  NotEqual,
  Not,
  Tilde,
  StarAssign,
  Star,
  SlashAssign,
  Slash,
  PercentAssign,
  Percent,
  PlusAssign,
  Plus,
  MinusAssign,
  Minus,
  LeftShiftAssign,
  LeftShift,
  UnsignedRightShiftAssign,
  UnsignedRightShift,
  RightShiftAssign,
  RightShift,
  LessEqual,
  Less,
  GreaterEqual,
  Greater,
  Equal,
  CaretAssign,
  Caret,
  AmpAssign,
  AmpAmp,
  Amp,
  PipeAssign,
  PipePipe,
  Pipe,
  Question,
  Assign,
  Comma,
};

struct Token {
  TokenKind kind = TokenKind::End;
  QStringView text;  // the matched characters; empty at the end (of the text)
};

// The expression tokenizer's idea of white space: what QChar::isSpace()
// accepts, which for Latin-1 text is tab to carriage return, space, 0x85 and
// 0xA0. The integer literal routine skips the same characters.
inline bool isExpressionSpace(QChar c) { return c.isSpace(); }

class Lexer {
public:
  // `text` must outlive the lexer and every token taken from it.
  explicit Lexer(const QString& text) : text_(text) {}

  // The current token, scanned on first use. When nothing matches, it is
  // the end, from then on, and error() says "unrecognised token: <rest of
  // the text>".
  const Token& peek();
  Token next();
  bool consumeIf(TokenKind kind);
  // Where `token` starts in the text.
  qsizetype offsetOf(const Token& token) const { return token.text.data() - text_.data(); }
  // Where the next token starts, without scanning it.
  qsizetype offset() const;
  // Why the text ended early; null while every token was recognised.
  const EvaluationError* error() const { return error_ ? &*error_ : nullptr; }

private:
  void scan();

  QStringView text_;
  qsizetype position_ = 0;  // where the current token's scan starts
  qsizetype tokenEnd_ = 0;  // where it ends, once scanned
  Token current_;
  bool scanned_ = false;
  std::optional<EvaluationError> error_;
};
