#include "xml/sourcemap.h"

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
    : files_{{QString(), 0}}, origins_{{Directive::Include, 0, 0, 0, 0}} {}

std::uint32_t SourceMap::addFile(const QString& path, std::uint32_t openedBy) {
  files_.push_back({path, openedBy < origins_.size() ? openedBy : 0});
  return static_cast<std::uint32_t>(files_.size() - 1);
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

SourceLocation SourceMap::location(const XMLNode& node) const {
  return location(node.file, node.line, node.column);
}

SourceLocation SourceMap::location(std::uint32_t file, int line, int column) const {
  if (file == 0 || file >= files_.size())
    return {};
  return {files_[file].path, line + 1, column};
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
    notes.push_back({location(copy.file, copy.line, copy.column),
                     QLatin1String("in a copy made by <") + directiveName(copy.directive) +
                         QLatin1Char('>')});
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
  ::report(diagnostics, severity, location(node), text, notes(node));
}

void report(Diagnostics& diagnostics, Severity severity, const SourceLocation& where,
            const QString& text, const std::vector<SourceMap::Note>& notes) {
  if (!diagnostics.located())
    return;
  switch (severity) {
    case Severity::Error:
      diagnostics.error(where, text);
      break;
    case Severity::Warning:
      diagnostics.warning(where, text);
      break;
    case Severity::Note:
      diagnostics.note(where, text);
      break;
  }
  for (const SourceMap::Note& note : notes)
    diagnostics.note(note.where, note.text);
}
