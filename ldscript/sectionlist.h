// The section list: which sections the script places, in which memory
// segment, chained in placement order, with the numbers mkld can hold itself.
#pragma once

#include <QMap>
#include <QString>

#include "ldscript/layoutmodel.h"

class MemoryMap;
class SectionPlacement;

// Fills the model's regions, segments and sections: the memory map's own
// sections (when its segments are the ones written), then the placement
// file's, each continuing the chain of the memory-map segment it names.
// Prints the -verbose "Adding section" lines.
void buildSectionList(LayoutModel& model, const MemoryMap& memoryMap, const SectionPlacement* placement,
                      const QMap<QString, QString>& symbols, bool verbose);
