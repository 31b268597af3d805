// The devicetree reader on any bytes: a tree it rejects must say why; the
// regions of one it accepts must be in address order, apart, not empty and
// of distinct names, and must survive a mapping that renames the first.
#include <QSet>

#include "base/fatalerror.h"
#include "devicetree/devicetree.h"
#include "devicetree/regionnames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray blob(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  std::vector<DeviceTreeRegion> regions;
  try {
    regions = readDeviceTreeRegions(blob, QStringLiteral("input.dtb"));
  } catch (const FatalError& e) {
    if (e.diagnostic().plain.isEmpty())
      __builtin_trap();
    return 0;
  }
  QSet<QString> names;
  for (std::size_t i = 0; i < regions.size(); ++i) {
    const DeviceTreeRegion& region = regions[i];
    if (region.size == 0 || names.contains(region.name) || std::uint64_t(region.start) + region.size > 1ull << 32)
      __builtin_trap();
    if (i > 0 && std::uint64_t(regions[i - 1].start) + regions[i - 1].size > region.start)
      __builtin_trap();
    names.insert(region.name);
  }
  if (!regions.empty() &&
      mapRegionNames(regions, QLatin1String("FIRST=") + regions.front().name).front().name != QLatin1String("FIRST"))
    __builtin_trap();
  return 0;
}
