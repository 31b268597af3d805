// The preprocessor and the document load: part 1 is a macro list, part 2 the
// main file, parts 3 and 4 the files a.xml and b.xml that it may include or
// Import (and that may include each other). The located diagnostics are on,
// as with -diagnostics, and printed (scripts/fuzz silences them); the
// segment rules run on the loaded map as the tool runs them.
#include "base/bytes.h"
#include "base/diagnostics.h"
#include "fuzz/fuzz_support.h"
#include "memorymap/definednames.h"
#include "memorymap/documentloader.h"
#include "xml/loadcontext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = splitParts(data, size, 4);
  writeScratchFile(QStringLiteral("a.xml"), parts[2]);
  writeScratchFile(QStringLiteral("b.xml"), parts[3]);
  const QString main = writeScratchFile(QStringLiteral("main.xml"), parts[1]);
  Diagnostics diagnostics(true);
  // A tenth of the real budget: loops at the full million are tested by the
  // unit tests, and here they would only slow the search down.
  LoadLimits limits;
  limits.maxCreatedElements = 100'000;
  LoadContext context(diagnostics, limits);
  if (const std::optional<MemoryMap> map = loadMemoryMap(context, main, fromBytes(parts[0]))) {
    checkSegmentNames(*map, diagnostics);
    for (MemoryMapElement* segment : map->memorySegments(true)) {
      map->programSections(segment);
      map->findSegment(segment->name());
    }
  }
  diagnostics.flush();
  return 0;
}
