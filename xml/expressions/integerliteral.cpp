#include "xml/expressions/integerliteral.h"

#include "xml/expressions/lexer.h"

namespace {

QChar characterAt(QStringView text, qsizetype i) { return text[i]; }
QChar characterAt(std::string_view bytes, qsizetype i) {
  return QLatin1Char(bytes[static_cast<size_t>(i)]);
}

template <typename Text>
uint64_t parse(Text text) {
  const auto at = [text](qsizetype i) { return characterAt(text, i); };
  const qsizetype size = static_cast<qsizetype>(text.size());
  qsizetype i = 0;
  while (i < size && isExpressionSpace(at(i)))
    ++i;

  bool negative = false;
  if (i < size && (at(i) == QLatin1Char('-') || at(i) == QLatin1Char('+'))) {
    negative = at(i) == QLatin1Char('-');
    ++i;
  }

  uint64_t base = 10;
  if (i < size && at(i) == QLatin1Char('0')) {
    if (i + 1 < size && at(i + 1) == QLatin1Char('x')) {
      base = 16;
      i += 2;
    } else if (i + 1 < size && at(i + 1) == QLatin1Char('b')) {
      base = 2;
      i += 2;
    } else {
      base = 8;
      i += 1;
    }
  }

  uint64_t value = 0;
  for (; i < size; ++i) {
    const char16_t c = at(i).unicode();
    if (c == u'U' || c == u'u' || c == u'L' || c == u'l')
      break;
    int64_t digit;
    if (c >= u'0' && c <= u'9')
      digit = c - u'0';
    else if (c >= u'a' && c <= u'z')
      digit = c - u'a' + 10;
    else
      digit = static_cast<int64_t>(c) - u'A' + 10;
    value = value * base + static_cast<uint64_t>(digit);
  }
  return negative ? uint64_t{0} - value : value;
}

}  // namespace

uint64_t parseIntegerLiteral(QStringView text) { return parse(text); }

uint64_t parseIntegerLiteral(std::string_view bytes) { return parse(bytes); }
