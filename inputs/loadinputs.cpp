#include "inputs/loadinputs.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include "base/bytes.h"
#include "base/console.h"
#include "base/fatalerror.h"
#include "devicetree/devicetree.h"
#include "devicetree/regionnames.h"
#include "inputs/inputoptions.h"
#include "memorymap/memorymap.h"

namespace {

// The fields go into attribute values as they are, except the three
// characters that would end the value or start markup: a quote or an angle
// bracket in a field then still gives the field's own text, not a broken
// document. Ordinary names and numbers are unchanged.
QString attributeText(const QString& field) {
  QString text;
  text.reserve(field.size());
  for (const QChar c : field) {
    if (c == QLatin1Char('&'))
      text += QLatin1String("&amp;");
    else if (c == QLatin1Char('<'))
      text += QLatin1String("&lt;");
    else if (c == QLatin1Char('"'))
      text += QLatin1String("&quot;");
    else
      text += c;
  }
  return text;
}

// The memory-map XML text for a -memory-map-segments list
// ("NAME ACCESS START SIZE" entries separated by ';').
QString buildSegmentMapText(const QString& segments) {
  QString text = QStringLiteral("<!DOCTYPE Board_Memory_Definition_File><Root name=\"none\">");
  const QStringList entries = segments.split(QLatin1Char(';'));
  QSet<QString> usedNames;
  // From the last entry to the first: the last entry of a name counts.
  for (auto entry = entries.crbegin(); entry != entries.crend(); ++entry) {
    const QStringList fields = entry->split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (fields.size() != 4)
      continue;
    const QString& name = fields[0];
    const QString& access = fields[1];
    if (usedNames.contains(name))
      continue;
    usedNames.insert(name);
    text += QLatin1String("<MemorySegment name=\"") + attributeText(name) + QLatin1String("\" start=\"") +
            attributeText(fields[2]) + QLatin1String("\" size=\"") + attributeText(fields[3]) +
            QLatin1Char('"');
    if (access == QLatin1String("RW") || access == QLatin1String("RWX"))
      text += QLatin1String("access=\"ReadWrite\"");
    else if (access == QLatin1String("R") || access == QLatin1String("RX"))
      text += QLatin1String("access=\"ReadOnly\"");
    text += QLatin1String("/>");
  }
  text += QLatin1String("</Root>");
  return text;
}

std::string hexText(std::uint32_t value) {
  return toStdBytes(QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0')));
}

// Adds the devicetree's segments to the loaded memory map, except those whose
// names the memory map already uses: the file overrides by name. The script
// lists segments in reverse document order, so appending them from the
// highest address down puts the devicetree's first, in address order.
void addDeviceTreeSegments(const InputOptions& options, MemoryMap& memoryMap) {
  const std::vector<DeviceTreeRegion> regions =
      mapRegionNames(readDeviceTreeRegions(readDeviceTreeFile(options.memoryMapDtb), options.memoryMapDtb),
                     options.memoryMapDtbNames);
  if (!memoryMap.filesRead.contains(options.memoryMapDtb))
    memoryMap.filesRead.append(options.memoryMapDtb);
  MemoryMapElement* root = memoryMap.rootElement();
  for (auto region = regions.crbegin(); region != regions.crend(); ++region) {
    if (memoryMap.findSegment(region->name))
      continue;
    auto segment = std::make_unique<MemoryMapElement>("MemorySegment");
    segment->setAttribute("name", toStdBytes(region->name));
    segment->setAttribute("start", hexText(region->start));
    segment->setAttribute("size", hexText(region->size));
    segment->setAttribute("access", region->readOnly ? "ReadOnly" : "ReadWrite");
    segment->setStart(region->start);
    segment->setSize(region->size);
    root->appendChild(std::move(segment));
  }
}

}  // namespace

void appendMacros(QString& field, const QString& macros) {
  if (!field.isEmpty())
    field += QLatin1Char(';');
  field += macros;
}

bool loadInputs(const InputOptions& options, bool verbose, MemoryMap& memoryMap, MemoryMap& placement) {
  if (verbose)
    printOutput(QLatin1String("Using memory map file ") + options.memoryMapFile + QLatin1Char('\n'));
  if (!options.memoryMapFile.isEmpty()) {
    if (!memoryMap.loadFile(options.memoryMapFile, options.memoryMapMacros, true))
      throw FatalError(QStringLiteral("cannot load memory map file"));
  } else {
    memoryMap.loadString(buildSegmentMapText(options.memoryMapSegments));
  }
  if (!options.memoryMapDtb.isEmpty()) {
    if (verbose)
      printOutput(QLatin1String("Using memory map devicetree ") + options.memoryMapDtb + QLatin1Char('\n'));
    addDeviceTreeSegments(options, memoryMap);
  }
  if (options.sectionPlacementFile.isEmpty())
    return false;
  if (verbose)
    printOutput(QLatin1String("Using section placement file ") + options.sectionPlacementFile + QLatin1Char('\n'));
  if (!placement.loadFile(options.sectionPlacementFile, options.sectionPlacementMacros, true))
    throw FatalError(QStringLiteral("cannot load section placement file"));
  return true;
}
