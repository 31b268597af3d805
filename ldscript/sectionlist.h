// The section list: which sections the script places, in which memory
// segment, chained in placement order, with the numbers mkld can hold itself.
#pragma once

#include <QMap>
#include <QString>

#include "ldscript/layoutmodel.h"

class MemoryMap;
class SectionPlacement;

// A ProgramSection named "/DISCARD/": a discard statement, not a section.
bool isDiscard(const MemoryMapElement& section);

// Fills the model's regions, segments and sections: the memory map's own
// sections (when its segments are the ones written), then the placement
// file's, each continuing the chain of the memory-map segment it names.
// Sections named "/DISCARD/" and the placement file's Symbol and Assert
// elements go to their own lists. Prints the -verbose "Adding section" lines.
void buildSectionList(LayoutModel& model, const MemoryMap& memoryMap, const SectionPlacement* placement,
                      const QMap<QString, QString>& symbols, bool verbose);
