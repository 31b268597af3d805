#include "devicetree/regionnames.h"

#include <QSet>

#include "base/fatalerror.h"
#include "base/splitlist.h"

namespace {

[[noreturn]] void fail(const QString& item, const QString& text) {
  throw FatalError(QLatin1String("-memory-map-dtb-names ") + item + QLatin1String(": ") + text);
}

// The index of the region that `reference` names: by name first, then as
// the first region of a node path.
std::size_t findRegion(const std::vector<DeviceTreeRegion>& regions, const QString& reference,
                       const QString& item) {
  for (std::size_t i = 0; i < regions.size(); ++i) {
    if (regions[i].name == reference)
      return i;
  }
  for (std::size_t i = 0; i < regions.size(); ++i) {
    if (regions[i].nodePath == reference)
      return i;
  }
  fail(item, QLatin1String("the devicetree has no region ") + reference);
}

}  // namespace

std::vector<DeviceTreeRegion> mapRegionNames(const std::vector<DeviceTreeRegion>& regions, const QString& mapping) {
  const QStringList items = splitList(mapping, false);
  if (items.isEmpty())
    return regions;
  std::vector<QString> names(regions.size());
  QSet<QString> given;
  for (const QString& item : items) {
    const qsizetype equals = item.indexOf(QLatin1Char('='));
    if (equals <= 0 || equals == item.size() - 1)
      fail(item, QStringLiteral("not NAME=REGION"));
    const QString name = item.left(equals);
    const std::size_t index = findRegion(regions, item.mid(equals + 1), item);
    if (given.contains(name))
      fail(item, QLatin1String("a second region named ") + name);
    if (!names[index].isEmpty())
      fail(item, QLatin1String("region ") + regions[index].name + QLatin1String(" is already named ") +
                     names[index]);
    given.insert(name);
    names[index] = name;
  }
  std::vector<DeviceTreeRegion> mapped;
  for (std::size_t i = 0; i < regions.size(); ++i) {
    if (names[i].isEmpty())
      continue;
    mapped.push_back(regions[i]);
    mapped.back().name = names[i];
  }
  return mapped;
}
