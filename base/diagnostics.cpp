#include "base/diagnostics.h"

#include "base/console.h"

namespace {

QLatin1String severityName(Severity severity) {
  switch (severity) {
    case Severity::Error:
      return QLatin1String("error");
    case Severity::Warning:
      return QLatin1String("warning");
    case Severity::Note:
      break;
  }
  return QLatin1String("note");
}

}  // namespace

Diagnostics::Diagnostics(bool located) : located_(located) {}

void Diagnostics::report(Diagnostic diagnostic) {
  if (diagnostic.severity == Severity::Error)
    ++errors_;
  if (located_ && !diagnostic.text.isEmpty()) {
    kept_ += format(diagnostic.severity, diagnostic.where, diagnostic.text) + QLatin1Char('\n');
    for (const Diagnostic::Note& note : diagnostic.notes)
      kept_ += format(Severity::Note, note.where, note.text) + QLatin1Char('\n');
    return;
  }
  if (!diagnostic.plain.isEmpty())
    printError(severityName(diagnostic.severity) + QLatin1String(": ") + diagnostic.plain + QLatin1Char('\n'));
}

QString Diagnostics::format(Severity severity, const SourceLocation& where, const QString& text) {
  // Without a file a line number locates nothing: the line is left unlocated.
  QString line;
  if (!where.file.isEmpty()) {
    line = where.file;
    if (where.line > 0) {
      line += QLatin1Char(':') + QString::number(where.line);
      if (where.column > 0)
        line += QLatin1Char(':') + QString::number(where.column);
    }
    line += QLatin1String(": ");
  }
  return line + severityName(severity) + QLatin1String(": ") + text;
}

void Diagnostics::flush() {
  if (kept_.isEmpty())
    return;
  printError(kept_);
  kept_.clear();
}
