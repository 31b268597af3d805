#include "ldscript/copiedtextchecks.h"

#include <QString>
#include <optional>
#include <string>

#include "base/bytes.h"
#include "base/diagnostics.h"
#include "ldscript/layoutmodel.h"
#include "ldscript/ldsyntax.h"
#include "ldscript/scripttext.h"
#include "memorymap/document.h"
#include "expressions/evaluate.h"

namespace {

QString quotedAttribute(const char* attribute, std::string_view text) {
  return QLatin1String(attribute) + QLatin1String("=\"") + fromBytes(text) + QLatin1Char('"');
}

// An unexpanded $(NAME) was reported where it stands.
bool unexpanded(std::string_view text) { return text.find("$(") != std::string_view::npos; }

// A lone symbol, such as a -symbols definition: ld reads its value.
// Read on the bytes as their Latin-1 characters, without a QString: every
// size passes here.
bool isSymbol(std::string_view text) {
  const auto blank = [](char c) { return QChar(QLatin1Char(c)).isSpace(); };
  while (!text.empty() && blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && blank(text.back()))
    text.remove_suffix(1);
  if (text.empty() || QChar(QLatin1Char(text.front())).isDigit())
    return false;
  for (const char byte : text) {
    if (!QChar(QLatin1Char(byte)).isLetterOrNumber() && byte != '_' && byte != '.' && byte != '$')
      return false;
  }
  return true;
}

class CopiedTexts {
public:
  CopiedTexts(const LayoutSection& section, Diagnostics& diagnostics)
      : section_(section), diagnostics_(diagnostics) {}

  void start() {
    const std::string_view* text = section_.attributes.start;
    if (!text || text->empty() || unexpanded(*text) || expression("start", *text, LdContext::SectionAddress) ||
        text->front() != '+')
      return;
    QString advice = QStringLiteral("write the address itself");
    if (const std::optional<uint64_t> offset = evaluateUnsigned(*text).value) {
      advice += QStringLiteral(", start=\"0x%1\"")
                    .arg(QString::number(section_.segmentElement->start() + *offset, 16));
    }
    warn("start", *text, 0,
         QStringLiteral("%1 of section %2 means an offset into segment %3, but the script holds it as written "
                        "and ld reads it as an absolute address; %4")
             .arg(quotedAttribute("start", *text), name(), fromBytes(std::string(section_.segment)), advice));
  }

  void size() {
    const std::string_view* text = section_.attributes.size;
    if (!text || text->empty() || unexpanded(*text) || expression("size", *text, LdContext::Assignment) ||
        isSymbol(*text) || !section_.document)
      return;
    // ld evaluates a size inside the section, where a symbol is an offset
    // into it: arithmetic on symbols gives the wrong number.
    // On the bytes: a plain number, the usual size, needs no QString.
    const Evaluation<uint64_t> value = evaluateUnsigned(*text);
    if (!value && value.error.message.endsWith(QLatin1String(" symbol not found"))) {
      section_.document->sources().reportExpression(
          diagnostics_, *section_.element, "size", fromBytes(*text), value.error,
          QLatin1String("ld evaluates a size inside the section, where symbols are read relative to it; write a "
                        "number or a macro whose value is one"));
    }
  }

  void fill(bool portableScript) {
    const std::string_view* text = section_.attributes.fill;
    if (!text || unexpanded(*text))
      return;
    if (text->find_first_not_of(" \t\r\n") != std::string::npos) {
      expression("fill", *text, LdContext::Assignment);
    } else if (!portableScript) {  // which writes no fill for it
      warn("fill", *text, 0,
           QStringLiteral("%1 of section %2 is empty: the script ends the section with \"} =\" and nothing after "
                          "it, which ld cannot read; leave fill out or give it a value")
               .arg(quotedAttribute("fill", *text), name()));
    }
  }

  void keep() {
    if (!section_.attributes.isKeep())
      return;
    const bool own = section_.attributes.hasInputSections();
    const std::string list(listedInputSections(section_));
    if (list.empty() || unexpanded(list))
      return;
    const std::optional<LdFault> fault = checkKeptInputSections(list);
    if (!fault)
      return;
    QString what = quotedAttribute("inputsections", list);
    QString advice = QStringLiteral("leave keep out and write KEEP(...) around each description in inputsections");
    if (!own) {
      what = QStringLiteral("the default input sections \"%1\"").arg(fromBytes(list));
      advice = list.compare(0, 4, "KEEP") == 0
                   ? QStringLiteral("leave keep out: the default list keeps its contents already")
                   : QStringLiteral("leave keep out and give inputsections with KEEP(...) around each description "
                                    "to keep");
    }
    const QString text = QStringLiteral("keep=\"Yes\" wraps %1 of section %2 in one KEEP(...), which ld cannot "
                                        "read: %3; %4")
                             .arg(what, name(), fromBytes(fault->message), advice);
    if (own)
      warn("inputsections", list, fault->offset, text);
    else
      warn("keep", *section_.attributes.keep, 0, text);
  }

private:
  // Reports where ld stops reading `text`; true when it does.
  bool expression(const char* attribute, std::string_view text, LdContext context) {
    const std::optional<LdFault> fault = checkLdExpression(text, context);
    if (fault) {
      warn(attribute, text, fault->offset,
           QStringLiteral("%1 of section %2 goes into the script as written, where ld cannot read it: %3")
               .arg(quotedAttribute(attribute, text), name(), fromBytes(fault->message)));
    }
    return fault.has_value();
  }

  void warn(const char* attribute, std::string_view value, std::size_t offset, const QString& text) {
    if (section_.document) {
      section_.document->sources().reportAtAttribute(diagnostics_, Severity::Warning, *section_.element, attribute,
                                                   fromBytes(value), static_cast<qsizetype>(offset), text);
    } else {  // a section built by hand, outside any file
      diagnostics_.reportLocated(Severity::Warning, SourceLocation(), text);
    }
  }

  // Made only for a warning: the rules run on every section.
  QString name() const { return fromBytes(section_.name); }

  const LayoutSection& section_;
  Diagnostics& diagnostics_;
};

}  // namespace

void checkCopiedTexts(const LayoutModel& model, bool portableScript, Diagnostics& diagnostics) {
  if (!diagnostics.located())
    return;
  for (const LayoutSection& section : model.sections) {
    if (section.discarded)
      continue;
    CopiedTexts texts(section, diagnostics);
    texts.start();
    texts.size();
    texts.fill(portableScript);
    texts.keep();
  }
}
