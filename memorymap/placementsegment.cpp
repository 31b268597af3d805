#include "memorymap/placementsegment.h"

#include <QStringList>

#include "memorymap/document.h"

const MemoryMapElement* memoryMapSegmentFor(const Document& memoryMap, const QString& names) {
  for (const QString& name : names.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    if (const MemoryMapElement* segment = memoryMap.findSegment(name))
      return segment;
  }
  return nullptr;
}
