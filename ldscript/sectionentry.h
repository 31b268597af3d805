// One program section placed in one memory segment, chained to the section
// placed before it in the same segment. The script writer owns every entry;
// the layout and everything else borrow them.
//
// Names stay bytes, as the XML tree holds them, on their way into the script:
// the layout writes each one many times for tens of thousands of sections,
// and a QString round trip per use would cost more than the layout itself.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "memorymap/memorymapelement.h"

// A name as it is written into the script: every blank becomes "_".
inline std::string scriptName(const MemoryMapElement& element) {
  const std::string* name = element.attribute("name");
  std::string text = name ? *name : std::string();
  std::replace(text.begin(), text.end(), ' ', '_');
  return text;
}

struct SectionEntry {
  // `section` and `segment` are borrowed from the documents. Building an entry
  // after `prev` makes `prev` no longer the last of its segment.
  SectionEntry(SectionEntry* prev, const MemoryMapElement& section, const MemoryMapElement& segment)
      : prev(prev), section(&section), segment(&segment), name(scriptName(section)) {
    if (prev)
      prev->lastInSegment = false;
  }
  SectionEntry(const SectionEntry&) = delete;
  SectionEntry& operator=(const SectionEntry&) = delete;

  SectionEntry* prev;                // same segment, built just before; null for the first
  const MemoryMapElement* section;   // the ProgramSection describing it
  const MemoryMapElement* segment;   // the memory-map MemorySegment it is placed in
  std::string name;                  // output-section name
  bool laidOut = false;              // written, or discarded
  bool layingOut = false;            // being laid out; meeting it again is a cycle
  bool discarded = false;            // dropped because its run section is missing
  bool lastInSegment = true;         // the newest entry of its segment
  bool placeFromEnd = false;         // placed endOffset bytes below the segment end
  uint32_t endOffset = 0;
};
