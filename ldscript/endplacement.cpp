#include "ldscript/endplacement.h"

#include "base/bytes.h"
#include "base/diagnostics.h"

void markEndPlacement(LayoutModel& model, Diagnostics& diagnostics) {
  for (LayoutSection& last : model.sections) {
    if (!last.lastInSegment)
      continue;
    uint32_t total = 0;
    LayoutSection* chosen = nullptr;
    uint32_t chosenOffset = 0;
    for (LayoutSection* section = &last; section; section = section->prev) {
      if (!section->fixedSize) {
        if (chosen)
          break;
        for (const LayoutSection* earlier = section->prev; earlier; earlier = earlier->prev) {
          if (earlier->attributes.wantsSegmentEnd()) {
            diagnostics.reportPlain(Severity::Warning, QLatin1String("cannot place section ") + fromBytes(earlier->name) +
                                     QLatin1String(" at end of segment because section ") +
                                     fromBytes(section->name) + QLatin1String(" does not have a fixed size"));
            break;
          }
        }
        break;
      }
      total += *section->fixedSize;
      if (section->attributes.wantsSegmentEnd()) {
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
