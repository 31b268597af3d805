#include "xml/sourcemap.h"

#include <algorithm>
#include <cstring>
#include <functional>

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
                    QLatin1String("=\"") + text + QLatin1String("\" of ") + describeElement(element) +
                    QLatin1String(": ") + error.message;
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

// The reader keeps an attribute's place in its name: the name is a view into
// the text it was read from (xml/xmlnode.h). An attribute that the
// preprocessor or a loader added has no such place.
const char* SourceMap::attributeName(const XMLElement& element, std::string_view attribute) const {
  if (element.file == 0 || element.file >= files_.size() || element.line < 1)
    return nullptr;
  const std::string_view data = files_[element.file].text;
  for (const XMLAttribute& candidate : element) {
    if (candidate.name != attribute)
      continue;
    const char* at = candidate.name.data();
    const bool inText = !data.empty() && std::less_equal<const char*>()(data.data(), at) &&
                        std::less<const char*>()(at, data.data() + data.size());
    return inText ? at : nullptr;
  }
  return nullptr;
}

// Counts lines from the element's tag name, which is a view into the same
// text: a report costs the length of the start tag, not of the file.
SourceLocation SourceMap::locationIn(const XMLElement& element, const char* at) const {
  const SourceLocation own = location(element);
  const std::string_view data = files_[element.file].text;
  const char* tag = element.tagName().data();
  const bool tagInText = std::less_equal<const char*>()(data.data(), tag) && std::less_equal<const char*>()(tag, at);
  const char* from = tagInText ? tag : data.data();
  const int line = (tagInText ? own.line : 1) + static_cast<int>(std::count(from, at, '\n'));
  const char* lineStart = at;
  while (lineStart > data.data() && lineStart[-1] != '\n')
    --lineStart;
  return {own.file, line, static_cast<int>(at - lineStart + 1)};
}

SourceLocation SourceMap::attributeLocation(const XMLElement& element, std::string_view attribute) const {
  const char* name = attributeName(element, attribute);
  return name ? locationIn(element, name) : location(element);
}

// The value starts after the name, '=' and its quote, blanks allowed around
// '=' as the reader allows them.
const char* SourceMap::writtenValueStart(const XMLElement& element, const char* name, std::size_t nameLength) const {
  const std::string_view data = files_[element.file].text;
  const char* end = data.data() + data.size();
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
  const char* at = name + nameLength;
  while (at < end && blank(*at))
    ++at;
  if (at < end && *at == '=')
    ++at;
  while (at < end && blank(*at))
    ++at;
  return at < end && (*at == '"' || *at == '\'') ? at + 1 : nullptr;
}

std::string_view SourceMap::writtenValue(const XMLElement& element, std::string_view attribute) const {
  const char* name = attributeName(element, attribute);
  const char* value = name ? writtenValueStart(element, name, attribute.size()) : nullptr;
  if (!value)
    return {};
  const std::string_view data = files_[element.file].text;
  const std::string_view rest(value, static_cast<std::size_t>(data.data() + data.size() - value));
  return rest.substr(0, rest.find(value[-1]));
}

SourceLocation SourceMap::attributeLocation(const XMLElement& element, const char* attribute,
                                            const QString& text, qsizetype offset) const {
  const char* name = attributeName(element, attribute);
  if (!name)
    return location(element);
  const char* at = writtenValueStart(element, name, std::strlen(attribute));
  if (!at)
    return locationIn(element, name);
  // The offset counts only when the file holds exactly `text` there.
  const std::string_view data = files_[element.file].text;
  const char* end = data.data() + data.size();
  const QByteArray shown = toBytes(text);
  const std::string_view written(at, std::min<std::size_t>(static_cast<std::size_t>(shown.size()),
                                                           static_cast<std::size_t>(end - at)));
  if (written == std::string_view(shown.constData(), static_cast<std::size_t>(shown.size())) &&
      at + written.size() < end && at[written.size()] == at[-1])
    at += toBytes(text.left(offset)).size();
  return locationIn(element, at);
}

QString describeElement(const XMLElement& element) {
  QString described = QLatin1Char('<') + fromBytes(element.tagName());
  if (const std::string_view* name = element.attribute("name"))
    described += QLatin1String(" name=\"") + fromBytes(*name) + QLatin1Char('"');
  return described + QLatin1Char('>');
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

