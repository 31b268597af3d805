#include "inputs/loadinputs.h"

#include <QString>
#include <string>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "base/console.h"
#include "devicetree/devicetree.h"
#include "devicetree/regionnames.h"
#include "inputs/inputoptions.h"
#include "memorymap/documentloader.h"
#include "xml/loadcontext.h"

namespace {

QString hexText(std::uint32_t value) { return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0')); }

// Adds the devicetree's segments to the loaded memory map, except those whose
// names the memory map already uses: the file overrides by name. The script
// lists segments in reverse document order, so appending them from the
// highest address down puts the devicetree's first, in address order.
void addDeviceTreeSegments(LoadContext& context, const InputOptions& options, MemoryMap& memoryMap) {
  const std::vector<DeviceTreeRegion> regions =
      mapRegionNames(readDeviceTreeRegions(readDeviceTreeFile(options.memoryMapDtb), options.memoryMapDtb),
                     options.memoryMapDtbNames);
  if (!context.filesRead().contains(options.memoryMapDtb))
    context.addFileRead(options.memoryMapDtb);
  XMLTree& tree = memoryMap.tree();
  Arena& arena = tree.arena();
  MemoryMapElement* root = memoryMap.rootElement();
  for (auto region = regions.crbegin(); region != regions.crend(); ++region) {
    if (memoryMap.findSegment(region->name))
      continue;
    auto* segment = static_cast<MemoryMapElement*>(tree.newElement("MemorySegment"));
    segment->setAttribute(arena, "name", copyBytes(arena, region->name));
    segment->setAttribute(arena, "start", copyBytes(arena, hexText(region->start)));
    segment->setAttribute(arena, "size", copyBytes(arena, hexText(region->size)));
    segment->setAttribute(arena, "access", region->readOnly ? "ReadOnly" : "ReadWrite");
    segment->setStart(region->start);
    segment->setSize(region->size);
    root->appendChild(segment);
  }
}

}  // namespace

void appendMacros(QString& field, const QString& macros) {
  if (!field.isEmpty())
    field += QLatin1Char(';');
  field += macros;
}

std::optional<LoadedInputs> loadInputs(LoadContext& context, const InputOptions& options, bool verbose) {
  if (verbose)
    printOutput(QLatin1String("Using memory map file ") + options.memoryMapFile + QLatin1Char('\n'));
  std::optional<MemoryMap> memoryMap = options.memoryMapFile.isEmpty()
                                           ? memoryMapOfSegments(context, options.memoryMapSegments)
                                           : loadMemoryMap(context, options.memoryMapFile, options.memoryMapMacros);
  if (!memoryMap)
    return std::nullopt;
  if (!options.memoryMapDtb.isEmpty()) {
    if (verbose)
      printOutput(QLatin1String("Using memory map devicetree ") + options.memoryMapDtb + QLatin1Char('\n'));
    addDeviceTreeSegments(context, options, *memoryMap);
  }
  LoadedInputs inputs{std::move(*memoryMap), std::nullopt};
  if (options.sectionPlacementFile.isEmpty())
    return inputs;
  if (verbose)
    printOutput(QLatin1String("Using section placement file ") + options.sectionPlacementFile + QLatin1Char('\n'));
  inputs.placement = loadSectionPlacement(context, options.sectionPlacementFile, options.sectionPlacementMacros);
  if (!inputs.placement)
    return std::nullopt;
  return inputs;
}
