#include "expressions/integerliteral.h"

#include "expressions/lexer.h"

namespace {

QChar characterAt(QStringView text, qsizetype i) { return text[i]; }
QChar characterAt(std::string_view bytes, qsizetype i) {
  return QLatin1Char(bytes[static_cast<size_t>(i)]);
}

// Both readings: the loose one never fails; the strict one (kStrict) gives
// nothing where the loose one would skip, stop or guess.
template <bool kStrict, typename Text>
std::optional<uint64_t> parse(Text text) {
  const auto at = [text](qsizetype i) { return characterAt(text, i); };
  const qsizetype size = static_cast<qsizetype>(text.size());
  qsizetype i = 0;
  bool negative = false;
  if (!kStrict) {
    while (i < size && isExpressionSpace(at(i)))
      ++i;
    if (i < size && (at(i) == QLatin1Char('-') || at(i) == QLatin1Char('+'))) {
      negative = at(i) == QLatin1Char('-');
      ++i;
    }
  }

  uint64_t base = 10;
  if (i < size && at(i) == QLatin1Char('0')) {
    if (i + 1 < size && (at(i + 1) == QLatin1Char('x') || (kStrict && at(i + 1) == QLatin1Char('X')))) {
      base = 16;
      i += 2;
    } else if (!kStrict && i + 1 < size && at(i + 1) == QLatin1Char('b')) {
      base = 2;
      i += 2;
    } else {
      base = 8;
      i += kStrict ? 0 : 1;  // strict: the "0" is a digit, so "0" alone reads
    }
  }
  if (kStrict && i >= size)
    return std::nullopt;

  uint64_t value = 0;
  for (; i < size; ++i) {
    const char16_t c = at(i).unicode();
    if (!kStrict && (c == u'U' || c == u'u' || c == u'L' || c == u'l'))
      break;
    int64_t digit;
    if (c >= u'0' && c <= u'9')
      digit = c - u'0';
    else if (c >= u'a' && c <= u'z')
      digit = c - u'a' + 10;
    else if (kStrict && !(c >= u'A' && c <= u'F'))
      return std::nullopt;
    else
      digit = static_cast<int64_t>(c) - u'A' + 10;
    if (kStrict) {
      const uint64_t unsignedDigit = static_cast<uint64_t>(digit);
      if (unsignedDigit >= base || value > (~uint64_t{0} - unsignedDigit) / base)
        return std::nullopt;
    }
    value = value * base + static_cast<uint64_t>(digit);
  }
  return negative ? uint64_t{0} - value : value;
}

}  // namespace

uint64_t parseIntegerLiteral(QStringView text) { return *parse<false>(text); }

uint64_t parseIntegerLiteral(std::string_view bytes) { return *parse<false>(bytes); }

std::optional<uint64_t> parseStrictIntegerLiteral(std::string_view bytes) { return parse<true>(bytes); }
