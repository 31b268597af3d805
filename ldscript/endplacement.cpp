#include "ldscript/endplacement.h"

#include "base/bytes.h"
#include "base/diagnostics.h"

void markEndPlacement(LayoutModel& model, Diagnostics& diagnostics) {
  for (LayoutSection& last : model.sections) {
    if (!last.lastInSegment)
      continue;
    uint32_t total = 0;  // the sizes from the end up to the section
    LayoutSection* chosen = nullptr;
    uint32_t chosenOffset = 0;
    const LayoutSection* firstBlocker = nullptr;  // the last section of the chain without a fixed size
    const LayoutSection* blocker = nullptr;       // the nearest one after (or at) the section
    bool warned = false;
    for (LayoutSection* section = &last; section; section = section->prev) {
      const bool wantsEnd = section->attributes.wantsSegmentEnd();
      // The default output names only the nearest section before the first
      // blocker that asks for the end, when nothing after it got there. With
      // -diagnostics the layout checks say it at the section instead.
      if (wantsEnd && blocker && !chosen && !warned && !diagnostics.located()) {
        diagnostics.reportPlain(Severity::Warning, QLatin1String("cannot place section ") + fromBytes(section->name) +
                                                       QLatin1String(" at end of segment because section ") +
                                                       fromBytes(firstBlocker->name) +
                                                       QLatin1String(" does not have a fixed size"));
        warned = true;
      }
      if (!section->fixedSize) {
        if (!firstBlocker)
          firstBlocker = section;
        blocker = section;
      } else if (!blocker) {
        total += *section->fixedSize;
      }
      if (!wantsEnd)
        continue;
      if (blocker) {
        model.endPlacementMisses.push_back({section, blocker});
      } else {
        chosen = section;
        chosenOffset = total;
      }
    }
    if (chosen) {
      chosen->placeFromEnd = true;
      chosen->endOffset = chosenOffset;
    }
  }
}
