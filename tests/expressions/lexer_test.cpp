#include "expressions/lexer.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <random>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "expressions/evaluate.h"

namespace {

// Kind names for the tokens that are not spelled the same every time.
const char* className(TokenKind kind) {
  switch (kind) {
  case TokenKind::String:
    return "str:";
  case TokenKind::HexLiteral:
    return "hex:";
  case TokenKind::BinaryLiteral:
    return "bin:";
  case TokenKind::FloatLiteral:
    return "float:";
  case TokenKind::DecimalLiteral:
    return "dec:";
  case TokenKind::Identifier:
    return "id:";
  case TokenKind::Register:
    return "reg:";
  default:
    return "";
  }
}

// Every token up to the end, one "class:text" or operator per word; an
// unrecognised token ends the list with "error: <message>".
std::string tokens(const QString& text) {
  std::string out;
  Lexer lexer(text);
  for (Token token = lexer.next(); token.kind != TokenKind::End; token = lexer.next()) {
    out += out.empty() ? "" : " ";
    out += className(token.kind) + toStdBytes(token.text.toString());
  }
  if (const EvaluationError* error = lexer.error())
    out += (out.empty() ? "error: " : " error: ") + toStdBytes(error->message);
  return out;
}

struct TokenCase {
  const char* text;
  const char* expected;
};

class LexerTable : public testing::TestWithParam<TokenCase> {};

TEST_P(LexerTable, Tokens) { EXPECT_EQ(tokens(fromBytes(GetParam().text)), GetParam().expected); }

// The matcher is checked against the pattern table itself below; these are
// the longer texts that the generated ones rarely spell.
INSTANTIATE_TEST_SUITE_P(
    Texts, LexerTable,
    testing::Values(TokenCase{"0x1fUL 0xFFull 0x 0xg", "hex:0x1fUL hex:0xFFull hex:0x hex:0x id:g"},
                    TokenCase{"0x1LLUll", "hex:0x1LL id:Ull"},
                    TokenCase{"1.5 10.25 1. .5", "float:1.5 float:10.25 dec:1 . . dec:5"},
                    TokenCase{"007 1000UL 1lu 16K", "dec:007 dec:1000UL dec:1l id:u dec:16 id:K"},
                    TokenCase{"\"a b\"\"\" \"x", "str:\"a b\" str:\"\" error: unrecognised token: \"x"},
                    TokenCase{"\"line\none\"", "str:\"line\none\""},
                    TokenCase{"@r1 @ @_x.y a::b:c", "reg:@r1 reg:@ reg:@_x . id:y id:a :: id:b : id:c"},
                    TokenCase{">>>=>>>>>=>>>=>", ">>>= >>> >>= >>>= >"},
                    TokenCase{"1\xa0+\x85" "2 # 2", "dec:1 + dec:2 error: unrecognised token: # 2"}));

// The matcher against the pattern table itself, run with regular
// expressions: both must cut every text into the same tokens.
class ReferenceLexer {
public:
  ReferenceLexer() {
    // Unicode mode gives \s the separators, but 0x85 is a control character
    // there while the matcher (like QChar::isSpace) treats it as a blank.
    add(R"([\s\x{85}]+)", TokenKind::End);
    add(R"("[^"]*")", TokenKind::String);
    add(R"(0x[0-9A-Fa-f]*U?L?L?u?l?l?)", TokenKind::HexLiteral);
    add(R"(0b[0-1]*)", TokenKind::BinaryLiteral);
    add(R"([0-9]+\.[0-9]+)", TokenKind::FloatLiteral);
    add(R"([0-9]+U?L?L?u?l?l?)", TokenKind::DecimalLiteral);
    add(R"([A-Za-z_$][A-Za-z_0-9$]*)", TokenKind::Identifier);
    add(R"(@[A-Za-z_0-9]*)", TokenKind::Register);
    const char* operators[] = {";",   "::",  ":",  "(",  ")",  "[",   "]",  "{",  "}",  ".",
                               "->",  "++",  "--", "!=", "!",  "~",   "*=", "*",  "/=", "/",
                               "%=",  "%",   "+=", "+",  "-=", "-",   "<<=", "<<", ">>>=",
                               ">>>", ">>=", ">>", "<=", "<",  ">=",  ">",  "==", "^=", "^",
                               "&=",  "&&",  "&",  "|=", "||", "|",   "?",  "=",  ","};
    for (const char* op : operators)
      add(QRegularExpression::escape(QLatin1String(op)), TokenKind::Semicolon);
  }

  std::string tokens(const QString& text) const {
    std::string out;
    qsizetype position = 0;
    while (position < text.size()) {
      bool matched = false;
      for (const auto& [pattern, kind] : patterns_) {
        const QRegularExpressionMatch match = pattern.match(
            text, position, QRegularExpression::NormalMatch,
            QRegularExpression::AnchorAtOffsetMatchOption);
        if (!match.hasMatch())
          continue;
        if (kind != TokenKind::End) {
          out += out.empty() ? "" : " ";
          out += className(kind) + toStdBytes(match.captured());
        }
        position = match.capturedEnd();
        matched = true;
        break;
      }
      if (!matched)
        return out + (out.empty() ? "error: " : " error: ") + "unrecognised token: " +
               toStdBytes(text.mid(position));
    }
    return out;
  }

private:
  void add(const QString& pattern, TokenKind kind) {
    patterns_.emplace_back(QRegularExpression(pattern,
                                              QRegularExpression::UseUnicodePropertiesOption),
                           kind);
  }
  void add(const char* pattern, TokenKind kind) { add(QLatin1String(pattern), kind); }

  std::vector<std::pair<QRegularExpression, TokenKind>> patterns_;
};

TEST(Lexer, MatchesThePatternTableOnEveryShortText) {
  const ReferenceLexer reference;
  const std::string alphabet = std::string("0 1x9b.ULulaAF_$@\"!=<>+-*/%&|^~?,:;()[]{}#\t\xa0\x85\xff") +
                               std::string(1, '\0');
  for (char a : alphabet) {
    for (char b : alphabet) {
      const QString text = fromBytes(std::string{a, b});
      ASSERT_EQ(tokens(text), reference.tokens(text)) << "text: " << std::string{a, b};
    }
  }
  const std::string operatorChars = "<>=!&|+-*/%^:.";
  for (char a : operatorChars)
    for (char b : operatorChars)
      for (char c : operatorChars)
        for (char d : operatorChars) {
          const QString text = fromBytes(std::string{a, b, c, d});
          ASSERT_EQ(tokens(text), reference.tokens(text)) << "text: " << std::string{a, b, c, d};
        }
}

TEST(Lexer, MatchesThePatternTableOnRandomTexts) {
  const ReferenceLexer reference;
  const std::string alphabet = "0011x9b.ULulaAfF_$@\"!=<>+-*/%&|^~?,:;()[] \t\xa0\xe9";
  std::mt19937 random(12345);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> length(1, 16);
  for (int i = 0; i < 3000; ++i) {
    std::string bytes;
    for (int n = length(random); n > 0; --n)
      bytes += alphabet[pick(random)];
    const QString text = fromBytes(bytes);
    ASSERT_EQ(tokens(text), reference.tokens(text)) << "text: " << bytes;
  }
}

}  // namespace
