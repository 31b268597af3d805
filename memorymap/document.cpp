#include "memorymap/document.h"

#include <algorithm>
#include <string_view>

#include "base/bytes.h"

namespace {

MemoryMapElement* asMemoryMapElement(XMLNode* node) {
  // Every element of a document comes from MemoryMapElement::make.
  return node && node->type() == XMLNode::Type::Element ? static_cast<MemoryMapElement*>(node)
                                                        : nullptr;
}

// Elements of `kind` at or below `start` in document order; a match is not
// searched further.
QList<MemoryMapElement*> collect(MemoryMapElement* start, MemoryMapElement::Kind kind) {
  QList<MemoryMapElement*> found;
  walkElements(start, 0, [&](MemoryMapElement& element, uint32_t) {
    const bool match = element.kind() == kind;
    if (match)
      found.append(&element);
    return std::make_pair(!match, uint32_t{0});
  });
  return found;
}

}  // namespace

Document::Document(const SourceMap& sources) : sources_(&sources) {}

MemoryMapElement* Document::rootElement() const { return asMemoryMapElement(tree_.root()); }

QList<MemoryMapElement*> Document::memorySegments(bool reverse) const {
  QList<MemoryMapElement*> segments = collect(rootElement(), MemoryMapElement::MemorySegment);
  if (reverse)
    std::reverse(segments.begin(), segments.end());
  return segments;
}

QList<MemoryMapElement*> Document::programSections(const MemoryMapElement* segment) const {
  return collect(const_cast<MemoryMapElement*>(segment), MemoryMapElement::ProgramSection);
}

MemoryMapElement* Document::findSegment(const QString& name) const {
  const QByteArray wanted = toBytes(name);
  const std::string_view wantedView(wanted.constData(), static_cast<size_t>(wanted.size()));
  MemoryMapElement* found = nullptr;
  walkElements(rootElement(), 0, [&](MemoryMapElement& element, uint32_t) {
    if (!found && element.kind() == MemoryMapElement::MemorySegment) {
      const std::string_view* segmentName = element.attribute("name");
      if (segmentName && *segmentName == wantedView)
        found = &element;
    }
    return std::make_pair(!found, uint32_t{0});
  });
  return found;
}

QList<MemoryMapElement*> Document::elementsNamed(std::string_view tagName) const {
  QList<MemoryMapElement*> found;
  walkElements(rootElement(), 0, [&](MemoryMapElement& element, uint32_t) {
    if (element.tagName() == tagName)
      found.append(&element);
    return std::make_pair(true, uint32_t{0});
  });
  return found;
}
