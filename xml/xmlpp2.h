// The preprocessing document: rewrites a freshly read element tree in place
// (conditionals, includes, defines, loops, fragments) against a macro table.
#pragma once

#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "xml/macros.h"
#include "xml/xmldocument.h"

// The element names of the preprocessor's directives, with the case and
// default of a switch; for the suggestions after an unknown name.
const QStringList& directiveNames();

class XMLPP2 : public QXMLDocument {
public:
  using QXMLDocument::QXMLDocument;
  ~XMLPP2() override;

  // Processes `first` and all its following siblings. `first` is either in a
  // tree (has a parent) or is the document's root; a directive at the root
  // must leave exactly one element, which becomes the root. Returns false,
  // after a warning, when the load must fail: nesting or the element budget
  // exceeded, macro expansion past its budget (see Limits), or no single
  // root left. A truncated tree would give
  // a wrong script. After a failure at the root the document has no root.
  bool processConditionals(XMLNode* first, const QString& currentFilePath, MacroTable macros,
                           bool expandAttributes);

  // Where the preprocessor reports what it finds (processing goes on after
  // a warning); none: nothing is reported.
  Diagnostics* diagnostics = nullptr;

  // Bounds that keep every input finite, far above what real files need.
  // Exceeding the first or last fails the load; an include past the depth
  // limit fails like an unreadable one.
  struct Limits {
    // Element levels below the first node, counted across includes,
    // fragments and loop copies.
    int maxNesting = 1000;
    // Includes open inside one another.
    int maxIncludeDepth = 64;
    // Per call: loop iterations plus the elements copied by for, foreach and
    // xmlput and read by include.
    // A million keeps a load within about a second and a few hundred
    // megabytes; generated register maps stay far below it.
    std::uint64_t maxCreatedElements = 1'000'000;
    // Per call: characters that $(NAME) expansions read and write, over all
    // their re-scanning passes.
    std::int64_t maxExpandedCharacters = std::int64_t(1) << 28;
  };
  Limits limits;

  // What the last call used of the per-call limits, also when it failed; a
  // caller that loads several files against one budget lowers the limits by it.
  struct Usage {
    std::uint64_t createdElements = 0;
    std::int64_t expandedCharacters = 0;
    bool limitExceeded = false;  // the call failed on one of the limits
  };
  Usage lastUsage;

protected:
  // Fragments defined by xmldef, kept for the life of the document.
  std::map<std::string, std::unique_ptr<XMLElement>> fragments;

private:
  class Run;
};
