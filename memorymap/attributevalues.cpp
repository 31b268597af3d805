#include "memorymap/attributevalues.h"

#include <QStringList>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "base/didyoumean.h"
#include "expressions/integerliteral.h"
#include "memorymap/document.h"
#include "memorymap/sectionattributes.h"

namespace {

using namespace std::string_view_literals;

// The attributes that isYes reads.
constexpr std::string_view kYesNoAttributes[] = {"load"sv, "keep"sv, "place_from_segment_end"sv};

QString quotedAttribute(const char* attribute, std::string_view value) {
  return QLatin1String(attribute) + QLatin1String("=\"") + fromBytes(value) + QLatin1Char('"');
}

// An unexpanded $(NAME) was reported where it stands.
bool unexpanded(std::string_view text) { return text.find("$(") != std::string_view::npos; }

QString hexText(uint64_t value) { return QLatin1String("0x") + QString::number(value, 16); }

class ValueRules {
public:
  ValueRules(const Document& document, const MemoryMapElement& element, Diagnostics& diagnostics,
             ReportedOnce& reported)
      : document_(document), element_(element), diagnostics_(diagnostics), reported_(reported) {}

  // Read as an integer literal, where every character but U and L counts as
  // a digit: only a plain number means what it shows.
  void alignment(std::string_view text) {
    std::optional<uint64_t> plain = parseStrictIntegerLiteral(text);
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
    if (text == "Yes"sv || text == "No"sv || unexpanded(text))
      return;
    const QString value = quotedAttribute(attribute, text);
    warn(attribute, text,
         isYes(&text) ? QStringLiteral("%1 of %2 counts as Yes, as any letter case does; the files write Yes")
                            .arg(value, owner())
                      : QStringLiteral("%1 of %2 counts as No: only Yes, in any letter case, means yes; write Yes "
                                       "or No")
                            .arg(value, owner()));
  }

  // One pass over the attributes: the rules run on every element.
  void programSection() {
    for (const XMLAttribute& attribute : element_) {
      const std::string_view name = attribute.name;
      // The first letter rules out most names without a comparison.
      if (name.empty() || (name[0] != 'a' && name[0] != 'l' && name[0] != 'k' && name[0] != 'p'))
        continue;
      if (name == "alignment"sv) {
        alignment(attribute.value);
        continue;
      }
      for (const std::string_view yesNoName : kYesNoAttributes) {
        if (name == yesNoName)
          yesNo(yesNoName.data(), attribute.value);
      }
    }
  }

private:
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
