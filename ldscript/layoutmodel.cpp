#include "ldscript/layoutmodel.h"

#include <algorithm>

std::string scriptName(const MemoryMapElement& element) {
  const std::string_view* name = element.attribute("name");
  std::string text = name ? std::string(*name) : std::string();
  std::replace(text.begin(), text.end(), ' ', '_');
  return text;
}

LayoutSection::LayoutSection(LayoutSection* prev, const MemoryMapElement& element,
                             const MemoryMapElement& segmentElement)
    : prev(prev), element(&element), segmentElement(&segmentElement), name(scriptName(element)),
      attributes(element) {
  // Symbols drop one leading dot: ".text" gives __text_start__.
  stem = name;
  if (!stem.empty() && stem.front() == '.')
    stem.remove_prefix(1);
  if (prev)
    prev->lastInSegment = false;
}

std::string_view LayoutModel::segmentName(const MemoryMapElement& segment) {
  auto found = segmentNames.find(&segment);
  if (found == segmentNames.end())
    found = segmentNames.emplace(&segment, scriptName(segment)).first;
  return found->second;
}

LayoutSection& LayoutModel::addSection(LayoutSection* prev, const MemoryMapElement& element,
                                       const MemoryMapElement& segmentElement) {
  LayoutSection& section = sections.emplace_back(prev, element, segmentElement);
  section.segment = segmentName(segmentElement);
  if (section.attributes.runIn)
    clientsByRunIn[*section.attributes.runIn].push_back(&section);
  return section;
}

const std::vector<LayoutSection*>* LayoutModel::clientsOf(std::string_view name) const {
  const auto found = clientsByRunIn.find(name);
  return found == clientsByRunIn.end() ? nullptr : &found->second;
}

bool LayoutModel::isRunSection(const LayoutSection& section) const {
  return !section.attributes.relocated() && clientsOf(section.name);
}
