#include "mkld/inputroles.h"

#include "base/diagnostics.h"
#include "memorymap/document.h"

namespace {

// The first ProgramSection of the document, or null.
const MemoryMapElement* firstSection(const Document& document) {
  for (const MemoryMapElement* segment : document.memorySegments(false)) {
    const QList<MemoryMapElement*> sections = document.programSections(segment);
    if (!sections.isEmpty())
      return sections.front();
  }
  return nullptr;
}

}  // namespace

void checkInputRoles(const MemoryMap& memoryMap, const SectionPlacement* placement, Diagnostics& diagnostics) {
  if (!diagnostics.located())
    return;
  const MemoryMapElement* mapSection = firstSection(memoryMap);
  if (!placement) {
    if (!mapSection) {
      diagnostics.reportLocated(Severity::Warning, SourceLocation(),
                                QStringLiteral("no -section-placement-file was given and the memory map places no "
                                               "section: the script places none; name the placement file with "
                                               "-section-placement-file"));
    }
    return;
  }
  if (!mapSection || firstSection(*placement) || !placement->rootElement())
    return;
  Diagnostic wrongWay = placement->sources().diagnostic(
      Severity::Warning, *placement->rootElement(),
      QStringLiteral("the section-placement file places no section, but the memory-map file does: are the two "
                     "files given the wrong way round? -memory-map-file names the segments' addresses and sizes, "
                     "-section-placement-file the sections in them"));
  wrongWay.notes.push_back({memoryMap.sources().location(*mapSection),
                            QStringLiteral("the memory-map file places section %1 here").arg(mapSection->name())});
  diagnostics.report(std::move(wrongWay));
}
