// A loaded memory-map or section-placement file: the preprocessed element
// tree with top-level Import elements replaced by the files they name and
// every start and size resolved to a 32-bit number.
#pragma once

#include <QList>
#include <QString>
#include <functional>

#include "memorymap/memorymapelement.h"
#include "xml/xmlpp2.h"

class MemoryMap : public XMLPP2 {
public:
  MemoryMap();
  ~MemoryMap() override;

  // Reads, preprocesses (when `preprocess`), imports and resolves a file.
  // False when the file cannot be read or parsed or gives no root element.
  bool loadFile(const QString& path, const QString& macroList, bool preprocess);
  // Parses a text without preprocessing; false when it gives no root element.
  bool loadString(const QString& text);

  MemoryMapElement* rootElement() const;
  // Every MemorySegment at any depth (not searched inside one); `reverse`
  // gives reverse document order.
  QList<MemoryMapElement*> memorySegments(bool reverse) const;
  // Every ProgramSection below `segment` (not searched inside one), in
  // document order.
  QList<MemoryMapElement*> programSections(const MemoryMapElement* segment) const;
  // The first MemorySegment in document order, at any depth (also inside
  // another segment), whose name is exactly `name`.
  MemoryMapElement* findSegment(const QString& name) const;

  std::unique_ptr<XMLElement> createElement(std::string tagName) override;

  bool preprocess = false;
  QString macroList;
  QString filePath;

private:
  // `openedBy`: the SourceMap origin of the `importElement` that names the
  // file; 0 and null for the file named by the user.
  std::unique_ptr<MemoryMapElement> readFile(const QString& path, std::uint32_t openedBy = 0,
                                             const XMLElement* importElement = nullptr);
  // Resolves starts and sizes, and checks the names, of the loaded tree.
  void resolve();
  // False when an imported file failed on a preprocessing limit: leaving
  // its Import in place would give a script without it.
  bool importFiles();
};
