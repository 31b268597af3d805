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

void Diagnostics::plainError(const QString& text) {
  printError(QLatin1String("error: ") + text + QLatin1Char('\n'));
}

void Diagnostics::plainWarning(const QString& text) {
  printError(QLatin1String("warning: ") + text + QLatin1Char('\n'));
}

void Diagnostics::error(const SourceLocation& where, const QString& text) {
  add(Severity::Error, where, text);
}

void Diagnostics::warning(const SourceLocation& where, const QString& text) {
  add(Severity::Warning, where, text);
}

void Diagnostics::note(const SourceLocation& where, const QString& text) {
  add(Severity::Note, where, text);
}

void Diagnostics::add(Severity severity, const SourceLocation& where, const QString& text) {
  if (!located_)
    return;
  kept_.push_back({severity, where, text});
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
  if (kept_.empty())
    return;
  QString text;
  for (const Located& located : kept_)
    text += format(located.severity, located.where, located.text) + QLatin1Char('\n');
  kept_.clear();
  printError(text);
}
