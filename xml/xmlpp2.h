// The preprocessing document: rewrites a freshly read element tree in place
// (conditionals, includes, defines, loops, fragments) against a macro table.
#pragma once

#include <QString>
#include <map>
#include <memory>
#include <string>

#include "xml/macros.h"
#include "xml/xmldocument.h"

class XMLPP2 : public QXMLDocument {
public:
  using QXMLDocument::QXMLDocument;
  ~XMLPP2() override;

  // Processes `first` and all its following siblings. Returns false when a
  // fixed bound (nesting, include depth, loop expansion budget) was exceeded:
  // the load must then fail, because a truncated tree would give a wrong script.
  bool processConditionals(XMLNode* first, const QString& currentFilePath, MacroTable macros,
                           bool expandAttributes);

  // Problems the preprocessor finds; processing goes on after each.
  virtual void warning(const QString& text) = 0;

protected:
  // Fragments defined by xmldef, kept for the life of the document.
  std::map<std::string, std::unique_ptr<XMLElement>> fragments;
};
