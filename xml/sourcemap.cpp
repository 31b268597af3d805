#include "xml/sourcemap.h"

#include <algorithm>

#include "base/bytes.h"
#include "xml/xmlnode.h"

namespace {

// Nested loops and include chains can be long; past this many notes the
// outermost ones add nothing a reader would follow.
constexpr std::size_t kMaxNotes = 16;

QLatin1String directiveName(SourceMap::Directive directive) {
  switch (directive) {
    case SourceMap::Directive::Include:
      return QLatin1String("include");
    case SourceMap::Directive::Import:
      return QLatin1String("Import");
    case SourceMap::Directive::For:
      return QLatin1String("for");
    case SourceMap::Directive::Foreach:
      return QLatin1String("foreach");
    case SourceMap::Directive::Xmlput:
      break;
  }
  return QLatin1String("xmlput");
}

}  // namespace

// Index 0 of both tables stands for "none", so a zero-initialised node has
// no location.
SourceMap::SourceMap()
    : files_{{QString(), 0, {}}}, origins_{{Directive::Include, 0, 0, 0, 0}} {}

std::uint32_t SourceMap::addFile(const QString& path, std::uint32_t openedBy) {
  files_.push_back({path, openedBy < origins_.size() ? openedBy : 0, {}});
  return static_cast<std::uint32_t>(files_.size() - 1);
}

void SourceMap::setText(std::uint32_t file, std::string_view text) {
  if (file != 0 && file < files_.size())
    files_[file].text = text;
}

std::uint32_t SourceMap::addOrigin(Directive directive, const XMLNode& element) {
  const std::uint32_t file = element.file < files_.size() ? element.file : 0;
  const std::uint32_t origin = element.origin < origins_.size() ? element.origin : 0;
  origins_.push_back({directive, file, element.line, element.column, origin});
  return static_cast<std::uint32_t>(origins_.size() - 1);
}

std::uint32_t SourceMap::openedBy(std::uint32_t file) const {
  return file < files_.size() ? files_[file].openedBy : 0;
}

SourceMap::Place SourceMap::placeOf(const XMLNode& node) {
  return {node.file, node.origin, node.line, node.column};
}

SourceLocation SourceMap::location(const XMLNode& node) const {
  return location(node.file, node.line, node.column);
}

SourceLocation SourceMap::location(std::uint32_t file, int line, int column) const {
  if (file == 0 || file >= files_.size())
    return {};
  return {files_[file].path, line, column};
}

std::vector<SourceMap::Note> SourceMap::notes(const XMLNode& node) const {
  return notes(node.file, node.origin);
}

// Every link points to an entry made earlier, so both walks end.
std::vector<SourceMap::Note> SourceMap::notes(std::uint32_t file, std::uint32_t origin) const {
  std::vector<Note> notes;
  for (std::uint32_t o = origin < origins_.size() ? origin : 0; o != 0 && notes.size() < kMaxNotes;
       o = origins_[o].origin) {
    const Origin& copy = origins_[o];
    Note note{location(copy.file, copy.line, copy.column),
              QLatin1String("in a copy made by <") + directiveName(copy.directive) + QLatin1Char('>')};
    // A fragment that puts itself repeats one note many times over.
    if (notes.empty() || notes.back().where.line != note.where.line ||
        notes.back().where.column != note.where.column || notes.back().text != note.text)
      notes.push_back(std::move(note));
  }
  for (std::uint32_t f = file < files_.size() ? file : 0;
       f != 0 && files_[f].openedBy != 0 && notes.size() < kMaxNotes;
       f = origins_[files_[f].openedBy].file) {
    const Origin& opener = origins_[files_[f].openedBy];
    const SourceLocation where = location(opener.file, opener.line, opener.column);
    const QLatin1String verb = opener.directive == Directive::Import
                                   ? QLatin1String("in file imported from ")
                                   : QLatin1String("in file included from ");
    notes.push_back({where, verb + where.file + QLatin1Char(':') + QString::number(where.line)});
  }
  return notes;
}

void SourceMap::report(Diagnostics& diagnostics, Severity severity, const XMLNode& node,
                       const QString& text) const {
  report(diagnostics, severity, placeOf(node), text);
}

void SourceMap::report(Diagnostics& diagnostics, Severity severity, const Place& place,
                       const QString& text) const {
  if (diagnostics.located()) {
    diagnostics.reportLocated(severity, location(place.file, place.line, place.column), text,
                              notes(place.file, place.origin));
  }
}

Diagnostic SourceMap::diagnostic(Severity severity, const XMLNode& node, const QString& text,
                                 const QString& plain) const {
  return {severity, location(node), text, plain, notes(node)};
}

void SourceMap::reportExpression(Diagnostics& diagnostics, const XMLElement& element,
                                 const char* attribute, const QString& text,
                                 const EvaluationError& error, const QString& consequence) const {
  if (!diagnostics.located())
    return;
  const qsizetype offset = std::clamp<qsizetype>(error.offset, 0, text.size());
  const QString rest = text.mid(offset).trimmed();
  QString message = QLatin1String("cannot evaluate ") + QLatin1String(attribute) +
                    QLatin1String("=\"") + text + QLatin1String("\" of <") +
                    fromBytes(element.tagName());
  if (const std::string_view* name = element.attribute("name"))
    message += QLatin1String(" name=\"") + fromBytes(*name) + QLatin1Char('"');
  message += QLatin1String(">: ") + error.message;
  message += rest.isEmpty() ? QLatin1String(" at the end of the text")
                            : QLatin1String(" at \"") + rest + QLatin1Char('"');
  message += QLatin1String("; ") + consequence;
  diagnostics.reportLocated(Severity::Warning, attributeLocation(element, attribute, text, offset),
                            message, notes(element));
}

void SourceMap::reportAtAttribute(Diagnostics& diagnostics, Severity severity, const XMLElement& element,
                                  const char* attribute, const QString& value, qsizetype offset,
                                  const QString& text) const {
  if (!diagnostics.located())
    return;
  diagnostics.reportLocated(
      severity, attributeLocation(element, attribute, value, std::clamp<qsizetype>(offset, 0, value.size())), text,
      notes(element));
}

// Searches the start tag in the file's text again: attribute positions are
// not kept on the nodes, and this runs only for a report.
SourceLocation SourceMap::attributeLocation(const XMLElement& element, const char* attribute,
                                            const QString& text, qsizetype offset) const {
  const SourceLocation own = location(element);
  if (element.file == 0 || element.file >= files_.size() || element.line < 1)
    return own;
  const std::string_view data = files_[element.file].text;
  // The start of the element's line, then its '<'.
  std::size_t at = 0;
  for (int line = 1; line < element.line && at != std::string_view::npos; ++line) {
    at = data.find('\n', at);
    if (at != std::string_view::npos)
      ++at;
  }
  if (at == std::string_view::npos)
    return own;
  at += static_cast<std::size_t>(element.column - 1);
  const std::size_t tagEnd = data.find('>', at);
  const std::string name = std::string(attribute) + '=';
  const QByteArray shown = toBytes(text);
  for (std::size_t found = data.find(name, at); found != std::string_view::npos && found < tagEnd;
       found = data.find(name, found + 1)) {
    const char before = found > 0 ? data[found - 1] : ' ';
    const std::size_t quote = found + name.size();
    if ((before != ' ' && before != '\t' && before != '\n' && before != '"' && before != '\'') ||
        quote >= data.size() || (data[quote] != '"' && data[quote] != '\''))
      continue;
    std::size_t value = quote + 1;
    const std::string_view written = data.substr(value, static_cast<std::size_t>(shown.size()));
    if (written == std::string_view(shown.constData(), static_cast<std::size_t>(shown.size())) &&
        data.substr(value + written.size(), 1) == data.substr(quote, 1))
      value += static_cast<std::size_t>(toBytes(text.left(offset)).size());
    const std::size_t lineStart = data.rfind('\n', value - 1) + 1;
    const auto newlines = std::count(data.begin() + static_cast<std::ptrdiff_t>(at),
                                     data.begin() + static_cast<std::ptrdiff_t>(value), '\n');
    return {own.file, own.line + static_cast<int>(newlines), static_cast<int>(value - lineStart + 1)};
  }
  return own;
}

bool ReportedOnce::first(const SourceMap& sources, const XMLNode& node, const QString& what) {
  const SourceLocation where = sources.location(node);
  const QString key = where.file + QLatin1Char(':') + QString::number(where.line) + QLatin1Char(':') +
                      QString::number(where.column) + QLatin1Char(':') + what;
  if (seen_.contains(key))
    return false;
  seen_.insert(key);
  return true;
}

