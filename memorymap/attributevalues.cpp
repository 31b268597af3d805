#include "memorymap/attributevalues.h"

#include <QStringList>
#include <cstring>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "base/didyoumean.h"
#include "base/hex.h"
#include "expressions/integerliteral.h"
#include "memorymap/document.h"
#include "memorymap/sectionattributes.h"

namespace {


// `name` is `known`, a literal: its length is a constant, so the bytes are
// compared inline instead of through memcmp (every attribute passes here).
template <std::size_t N>
bool is(std::string_view name, const char (&known)[N]) {
  return name.size() == N - 1 && std::memcmp(name.data(), known, N - 1) == 0;
}

QString quotedAttribute(const char* attribute, std::string_view value) {
  return QLatin1String(attribute) + QLatin1String("=\"") + fromBytes(value) + QLatin1Char('"');
}

// An unexpanded $(NAME) was reported where it stands.
bool unexpanded(std::string_view text) { return text.find("$(") != std::string_view::npos; }

class ValueRules {
public:
  ValueRules(const Document& document, const MemoryMapElement& element, Diagnostics& diagnostics,
             ReportedOnce& reported)
      : document_(document), element_(element), diagnostics_(diagnostics), reported_(reported) {}

  // Read as an integer literal, where every character but U and L counts as
  // a digit: only a plain number means what it shows.
  void alignment(std::string_view text) {
    std::optional<uint64_t> plain = decimal(text);
    if (!plain)
      plain = parseStrictIntegerLiteral(text);
    if (text.empty() || (!plain && unexpanded(text)))
      return;
    if (!plain) {
      std::string_view digits = text;  // without the U and L suffixes that C allows
      while (!digits.empty() && std::string_view("uUlL").find(digits.back()) != std::string_view::npos)
        digits.remove_suffix(1);
      plain = parseStrictIntegerLiteral(digits);
    }
    if (!plain) {
      const uint64_t read = static_cast<uint32_t>(parseIntegerLiteral(text));
      const std::optional<uint64_t> trimmed = parseStrictIntegerLiteral(toStdBytes(fromBytes(text).trimmed()));
      warn("alignment", text,
           QStringLiteral("%1 of %2 is no plain number: mkld reads it as %3 (%4), every character but U and L "
                          "counting as a digit and a sign as a sign; %5")
               .arg(quotedAttribute("alignment", text), owner(), QString::number(read), hexText(read),
                    trimmed ? QStringLiteral("write %1 without blanks").arg(*trimmed)
                            : QStringLiteral("write a decimal, hexadecimal (0x) or octal (0) number")));
    } else if (*plain > 1 && (*plain & (*plain - 1)) != 0) {
      warn("alignment", text,
           QStringLiteral("%1 of %2 is not a power of two, and ld aligns only to powers of two")
               .arg(quotedAttribute("alignment", text), owner()));
    }
  }

  void access(const std::string_view* text) {
    if (!text || *text == "ReadOnly" || *text == "ReadWrite" || unexpanded(*text))
      return;
    const QStringList known = {QStringLiteral("ReadOnly"), QStringLiteral("ReadWrite")};
    warn("access", *text,
         QStringLiteral("%1 of %2 makes a read-write segment: only ReadOnly, written exactly so, makes it "
                        "read-only%3")
             .arg(quotedAttribute("access", *text), owner(), didYouMean(fromBytes(*text), known)));
  }

  void yesNo(const char* attribute, std::string_view text) {
    if (is(text, "Yes") || is(text, "No") || unexpanded(text))
      return;
    const QString value = quotedAttribute(attribute, text);
    warn(attribute, text,
         isYes(&text) ? QStringLiteral("%1 of %2 counts as Yes, as any letter case does; the files write Yes")
                            .arg(value, owner())
                      : QStringLiteral("%1 of %2 counts as No: only Yes, in any letter case, means yes; write Yes "
                                       "or No")
                            .arg(value, owner()));
  }

  // One pass over the attributes: the rules run on every element. The
  // length picks the one name to compare with.
  void programSection() {
    for (const XMLAttribute& attribute : element_) {
      const std::string_view name = attribute.name;
      switch (name.size()) {
        case 4:
          if (is(name, "load"))
            yesNo("load", attribute.value);
          else if (is(name, "keep"))
            yesNo("keep", attribute.value);
          break;
        case 9:
          if (is(name, "alignment"))
            alignment(attribute.value);
          break;
        case 22:
          if (is(name, "place_from_segment_end"))
            yesNo("place_from_segment_end", attribute.value);
          break;
        default:
          break;
      }
    }
  }

private:
  // A short decimal number without a leading zero, the usual alignment,
  // read without the general literal routine; anything else gives nothing.
  static std::optional<uint64_t> decimal(std::string_view text) {
    if (text.empty() || text.size() > 9 || text[0] == '0')
      return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
      if (c < '0' || c > '9')
        return std::nullopt;
      value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
  }

  // Made only for a warning: the rules run on every element.
  QString owner() const { return describeElement(element_); }

  // A loop's copies share their source's place and values: one report.
  void warn(const char* attribute, std::string_view value, const QString& text) {
    if (reported_.first(document_.sources(), element_, QLatin1Char('=') + QLatin1String(attribute)))
      document_.sources().reportAtAttribute(diagnostics_, Severity::Warning, element_, attribute, fromBytes(value), 0,
                                          text);
  }

  const Document& document_;
  const MemoryMapElement& element_;
  Diagnostics& diagnostics_;
  ReportedOnce& reported_;
};

}  // namespace

void checkAttributeValues(const Document& document, const MemoryMapElement& element, Diagnostics& diagnostics,
                          ReportedOnce& reported) {
  ValueRules rules(document, element, diagnostics, reported);
  switch (element.kind()) {
    case MemoryMapElement::ProgramSection:
      rules.programSection();
      break;
    case MemoryMapElement::MemorySegment:
      rules.access(element.attribute("access"));
      break;
    default:
      break;
  }
}
