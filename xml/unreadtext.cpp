#include "xml/unreadtext.h"

#include <string_view>
#include <vector>

#include <QStringList>

#include "base/bytes.h"
#include "base/diagnostics.h"
#include "base/didyoumean.h"
#include "base/hex.h"
#include "expressions/evaluate.h"
#include "xml/sourcemap.h"
#include "xml/xmlnode.h"

namespace {

// The size suffixes people write out of habit, and what they mean.
struct Suffix {
  QLatin1String spelling;
  QLatin1String factor;
  QLatin1String unit;
};
const Suffix kSuffixes[] = {
    {QLatin1String("K"), QLatin1String("*1024"), QLatin1String("KiB")},
    {QLatin1String("KB"), QLatin1String("*1024"), QLatin1String("KiB")},
    {QLatin1String("KiB"), QLatin1String("*1024"), QLatin1String("KiB")},
    {QLatin1String("M"), QLatin1String("*1024*1024"), QLatin1String("MiB")},
    {QLatin1String("MB"), QLatin1String("*1024*1024"), QLatin1String("MiB")},
    {QLatin1String("MiB"), QLatin1String("*1024*1024"), QLatin1String("MiB")},
};

// How to write what the text most likely meant.
QString advice(const QString& text, const QString& read, const QString& rest) {
  for (const Suffix& suffix : kSuffixes) {
    if (rest.compare(suffix.spelling, Qt::CaseInsensitive) == 0)
      return QStringLiteral("mkld reads no size suffix: write %1%2 for %1 %3").arg(read, suffix.factor, suffix.unit);
  }
  if (rest.startsWith(QLatin1Char('_'))) {
    QString joined = text;
    joined.remove(QLatin1Char('_'));
    const Evaluation<uint64_t> grouped = evaluateUnsigned(joined);
    if (grouped && grouped.unread < 0)
      return QStringLiteral("digits cannot be grouped with '_': write %1").arg(joined.trimmed());
  }
  if (rest.startsWith(QLatin1Char(')')))
    return QStringLiteral("no '(' opens this ')'");
  if (rest.front().isLetterOrNumber() || rest.front() == QLatin1Char('('))
    return QStringLiteral("an operator is missing before it");
  return QStringLiteral("remove it or complete the expression");
}

// Notes for each $(NAME) of the written text that the command line set.
std::vector<Diagnostic::Note> macroNotes(std::string_view written, const CommandLineMacros& macros) {
  std::vector<Diagnostic::Note> notes;
  for (std::size_t at = written.find("$("); at != std::string_view::npos; at = written.find("$(", at + 2)) {
    const std::size_t end = written.find_first_of(":)", at + 2);
    if (end == std::string_view::npos)
      break;
    const QString name = fromBytes(written.substr(at + 2, end - at - 2));
    const auto found = macros.table.constFind(name);
    if (found == macros.table.constEnd())
      continue;
    notes.push_back({{},
                     QStringLiteral("$(%1) is \"%2\", as %3 sets it on the command line")
                         .arg(name, *found, QLatin1String(macros.option))});
  }
  return notes;
}

bool isNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Whether `name` stands in `text` as a whole word.
bool mentions(std::string_view text, std::string_view name) {
  for (std::size_t at = text.find(name); at != std::string_view::npos; at = text.find(name, at + 1)) {
    const std::size_t end = at + name.size();
    if ((at == 0 || !isNameByte(text[at - 1])) && (end == text.size() || !isNameByte(text[end])))
      return true;
  }
  return false;
}

// The names that $(NAME) references of `text` use, for a did-you-mean.
void addReferencedNames(std::string_view text, QStringList& names) {
  for (std::size_t at = text.find("$("); at != std::string_view::npos; at = text.find("$(", at + 2)) {
    std::size_t end = at + 2;
    while (end < text.size() && isNameByte(text[end]))
      ++end;
    const QString name = fromBytes(text.substr(at + 2, end - at - 2));
    if (!name.isEmpty() && !names.contains(name))
      names.append(name);
  }
}

}  // namespace

void reportUnusedMacros(const SourceMap& sources, Diagnostics& diagnostics, std::uint32_t firstFile,
                        const CommandLineMacros& macros) {
  if (!diagnostics.located() || macros.table.isEmpty())
    return;
  QStringList referenced;
  for (auto it = macros.table.constBegin(); it != macros.table.constEnd(); ++it) {
    const QByteArray name = toBytes(it.key());
    const std::string_view bytes(name.constData(), static_cast<std::size_t>(name.size()));
    bool used = false;
    for (std::uint32_t file = firstFile; file <= sources.fileCount() && !used; ++file)
      used = mentions(sources.text(file), bytes);
    if (used)
      continue;
    if (referenced.isEmpty()) {
      for (std::uint32_t file = firstFile; file <= sources.fileCount(); ++file)
        addReferencedNames(sources.text(file), referenced);
    }
    const QString text = QStringLiteral("%1 sets %2, but the files it applies to never use it: no $(%2), and no "
                                        "directive names it%3")
                             .arg(QLatin1String(macros.option), it.key(), didYouMean(it.key(), referenced));
    diagnostics.reportLocated(Severity::Warning, SourceLocation(), text);
  }
}

void reportUnreadText(const SourceMap& sources, Diagnostics& diagnostics, ReportedOnce& reported,
                      const XMLElement& element, const char* attribute, const QString& text, uint64_t value,
                      qsizetype unread, const CommandLineMacros& macros) {
  if (!reported.first(sources, element, QLatin1String("unread ") + QLatin1String(attribute)))
    return;
  const QString read = text.left(unread).trimmed();
  const QString rest = text.mid(unread).trimmed();
  const QString message =
      QStringLiteral("%1=\"%2\" of %3 reads as %4 (%5), from \"%6\": the rest, \"%7\", is ignored; %8")
          .arg(QLatin1String(attribute), text, describeElement(element), QString::number(value), hexText(value),
               read, rest, advice(text, read, rest));
  std::vector<Diagnostic::Note> notes = macroNotes(sources.writtenValue(element, attribute), macros);
  for (Diagnostic::Note& note : sources.notes(element))
    notes.push_back(std::move(note));
  diagnostics.reportLocated(Severity::Warning, sources.attributeLocation(element, attribute, text, unread), message,
                            std::move(notes));
}
