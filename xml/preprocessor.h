// The preprocessor: rewrites a freshly read element tree in place, running
// its directives against a macro table: conditionals (if, ifnot, ifex,
// ifdef, ifndef, switch), includes, defines, loops (for, foreach) and
// fragments (xmldef, xmlput).
#pragma once

#include <QString>
#include <QStringList>
#include <map>
#include <string_view>

#include "base/diagnostics.h"
#include "xml/macros.h"

class LoadContext;
class XMLElement;
class XMLTree;

// The element names of the directives, with the case and default of a
// switch; for the suggestions after an unknown name.
const QStringList& directiveNames();

class Preprocessor {
public:
  // One per document: fragments that an xmldef defines stay known to the
  // later runs over the same tree (the files a memory map imports).
  Preprocessor(LoadContext& context, XMLTree& tree);

  // Runs the directives of `top` (the tree's root or a subtree read into
  // it), read from `filePath`, and of everything below it; includes are read
  // relative to that path into the same tree. A directive at `top` must
  // leave exactly one element, which is returned. Null, after an error
  // through the context, when the load must fail: nesting too deep or the
  // budgets of the document spent (see LoadLimits); a truncated tree would
  // give a wrong script. Null too, reported with `noRoot`, when no single
  // element is left.
  XMLElement* run(XMLElement* top, const QString& filePath, MacroTable macros, bool expandAttributes,
                  Severity noRoot);

private:
  class Run;

  LoadContext& context_;
  XMLTree& tree_;
  // Fragments defined by xmldef, by name.
  std::map<std::string_view, XMLElement*> fragments_;
};
