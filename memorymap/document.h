// The loaded documents: a memory map and a section placement, each its
// preprocessed element tree (top-level Import elements replaced by the files
// they name) with every start and size resolved to a 32-bit number. They are
// plain values made by the document loader (memorymap/documentloader.h); the
// layout borrows them.
#pragma once

#include <QList>
#include <QString>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "memorymap/memorymapelement.h"
#include "xml/sourcemap.h"
#include "xml/xmlnode.h"

class Document {
public:
  // `sources` is the SourceMap of the load, which must outlive the document.
  explicit Document(const SourceMap& sources);

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
  // Every element of the tag name at any depth, in document order.
  QList<MemoryMapElement*> elementsNamed(std::string_view tagName) const;

  // Where each node came from.
  const SourceMap& sources() const { return *sources_; }

  // The tree, for the loader that builds it.
  XMLTree& tree() { return tree_; }

private:
  XMLTree tree_{MemoryMapElement::make};
  const SourceMap* sources_;
};

// The target's memory: segments, and the registers a board file may describe.
class MemoryMap : public Document {
public:
  using Document::Document;
};

// Where the program sections go, segment by segment.
class SectionPlacement : public Document {
public:
  using Document::Document;
};

// Visits `start` and the elements below it depth first in document order,
// without recursion. `visit(element, base)` returns whether to descend and
// the base the children receive.
template <typename Visit>
void walkElements(MemoryMapElement* start, uint32_t base, Visit visit) {
  if (!start)
    return;
  std::vector<std::pair<MemoryMapElement*, uint32_t>> pending{{start, base}};
  std::vector<MemoryMapElement*> children;
  while (!pending.empty()) {
    auto [element, elementBase] = pending.back();
    pending.pop_back();
    const auto [descend, childBase] = visit(*element, elementBase);
    if (!descend)
      continue;
    children.clear();
    for (XMLNode* child = element->firstChild(); child; child = child->nextSibling()) {
      if (child->type() == XMLNode::Type::Element)  // every element comes from MemoryMapElement::make
        children.push_back(static_cast<MemoryMapElement*>(child));
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it)
      pending.emplace_back(*it, childBase);
  }
}
