// Where each node of a document came from: the file, line and column it was
// read at, the include or Import that read that file, and for a copy the
// directive (for, foreach, xmlput) that made it.
//
// Design priority: cheap on every node. A node holds two small indices into
// the tables kept here (XMLNode::file, XMLNode::origin) next to its line and
// column; paths and directive records exist once per file read and once per
// directive run, and the text of a location is only made when one is
// reported.
#pragma once

#include <QSet>
#include <QString>
#include <cstdint>
#include <string_view>
#include <vector>

#include "base/diagnostics.h"
#include "expressions/evaluate.h"

class XMLElement;
class XMLNode;

class SourceMap {
public:
  // The directives that bring a node in from elsewhere.
  enum class Directive : std::uint8_t { Include, Import, For, Foreach, Xmlput };

  using Note = Diagnostic::Note;

  // A node's place as the node holds it, kept apart from the node.
  struct Place {
    std::uint32_t file = 0;
    std::uint32_t origin = 0;
    int line = 0;  // from 1
    int column = 0;
  };
  static Place placeOf(const XMLNode& node);

  SourceMap();

  // A file read into the document, named as given or as the include or
  // Import resolved it; `openedBy` is the Include or Import origin that
  // read it, 0 for a file named on the command line.
  std::uint32_t addFile(const QString& path, std::uint32_t openedBy = 0);
  // The text `file` was read from, kept by its load: attribute positions
  // are found in it when one is reported.
  void setText(std::uint32_t file, std::string_view text);
  // A run of `directive` at `element`; copies it makes carry the result.
  std::uint32_t addOrigin(Directive directive, const XMLNode& element);
  // Files are numbered from 1 in the order they were added.
  std::uint32_t fileCount() const { return static_cast<std::uint32_t>(files_.size() - 1); }
  // The text `file` was read from; empty when it was not read.
  std::string_view text(std::uint32_t file) const { return file < files_.size() ? files_[file].text : std::string_view(); }
  // The origin that read `file`, 0 for none.
  std::uint32_t openedBy(std::uint32_t file) const;

  // The node's own place; empty for a node not read from a file.
  SourceLocation location(const XMLNode& node) const;
  SourceLocation location(std::uint32_t file, int line, int column) const;
  // How the node got where it is: the directives that copied it, innermost
  // first, then the includes and Imports that read its file.
  std::vector<Note> notes(const XMLNode& node) const;
  std::vector<Note> notes(std::uint32_t file, std::uint32_t origin) const;

  // `text` at the node, followed by its notes; `plain` for the default output.
  Diagnostic diagnostic(Severity severity, const XMLNode& node, const QString& text,
                        const QString& plain = QString()) const;
  // Reports `text` at the node, followed by its notes.
  void report(Diagnostics& diagnostics, Severity severity, const XMLNode& node,
              const QString& text) const;
  void report(Diagnostics& diagnostics, Severity severity, const Place& place,
              const QString& text) const;
  // Warns that `attribute` of `element`, whose (expanded) text is `text`,
  // does not evaluate: names the attribute, its text, the reason and where
  // evaluation stopped (located at that character when the file shows the
  // same text); `consequence` says what is taken instead.
  void reportExpression(Diagnostics& diagnostics, const XMLElement& element, const char* attribute,
                        const QString& text, const EvaluationError& error,
                        const QString& consequence) const;

  // Reports `text` at the value of `attribute` of `element`, `offset`
  // characters into `value` (the attribute's text after expansion; the
  // offset counts only when the file holds exactly that text), followed by
  // the element's notes.
  void reportAtAttribute(Diagnostics& diagnostics, Severity severity, const XMLElement& element,
                         const char* attribute, const QString& value, qsizetype offset,
                         const QString& text) const;
  // Where the value of `attribute` starts in the element's start tag, plus
  // `offset` characters when the file holds exactly `text` there; the
  // element's own place when the file does not show the attribute.
  SourceLocation attributeLocation(const XMLElement& element, const char* attribute,
                                   const QString& text, qsizetype offset) const;
  // Where the name of `attribute` of `element` stands; the element's own
  // place for an attribute not read from a file.
  SourceLocation attributeLocation(const XMLElement& element, std::string_view attribute) const;
  // The value of `attribute` as the file writes it, before entities are
  // decoded and $(NAME) references expanded; empty for an attribute not
  // read from a file.
  std::string_view writtenValue(const XMLElement& element, std::string_view attribute) const;

private:
  struct File {
    QString path;
    std::uint32_t openedBy;
    std::string_view text;
  };
  struct Origin {
    Directive directive;
    std::uint32_t file;
    int line;  // from 1
    int column;
    std::uint32_t origin;  // the directive element's own origin
  };

  // The attribute's name in the text of the element's file; null when the
  // attribute was not read from there.
  const char* attributeName(const XMLElement& element, std::string_view attribute) const;
  // Just after the opening quote of the value of the attribute whose name
  // is at `name` in the element's file; null when no quoted value follows.
  const char* writtenValueStart(const XMLElement& element, const char* name, std::size_t nameLength) const;
  // The place of `at`, a position in the text of the element's file.
  SourceLocation locationIn(const XMLElement& element, const char* at) const;

  std::vector<File> files_;
  std::vector<Origin> origins_;
};

// "<MemorySegment name="FLASH">": the element as messages name it.
QString describeElement(const XMLElement& element);

// Remembers what was reported at which place: the copies a loop makes share
// their source's place and would repeat each report.
class ReportedOnce {
public:
  // True the first time `what` is asked for the node's place.
  bool first(const SourceMap& sources, const XMLNode& node, const QString& what);

private:
  QSet<QString> seen_;
};
