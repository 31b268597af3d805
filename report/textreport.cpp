#include "report/textreport.h"

#include <algorithm>
#include <QHash>
#include <vector>

#include "base/bytes.h"
#include "report/texttable.h"

namespace {

constexpr int BarCells = 20;

void writeBlocks(QByteArray& out, const std::vector<Block>& blocks) {
  TextTable table({false, false, false, false, true, false});
  for (const char* heading : {"section", "kind", "run address", "load address", "size", "load image in"})
    table.cell(heading);
  for (const Block& block : blocks) {
    if (block.kind == BlockKind::Free)
      table.cell("(free)");
    else
      table.cell() += toBytes(block.section);
    table.cell(kindName(block.kind));
    table.address(block.runAddress);
    if (block.loadAddress)
      table.address(*block.loadAddress);
    else
      table.cell("-");
    table.number(block.size);
    if (block.loadSegment.isEmpty())
      table.cell("-");
    else
      table.cell() += toBytes(block.loadSegment);
  }
  table.write(out, "  ");
}

}  // namespace

QByteArray usageBar(const SegmentUsage& segment) {
  QByteArray bar(BarCells, '.');
  if (segment.size == 0)
    return '[' + bar + ']';
  // Cumulative cell counts, rounded up; in long double so that 64-bit
  // sizes cannot overflow the product.
  const auto cells = [&](uint64_t bytes) {
    const long double exact = static_cast<long double>(bytes) * BarCells / static_cast<long double>(segment.size);
    return std::min(BarCells, static_cast<int>(exact + 0.999999L));
  };
  const int run = cells(segment.runBytes);
  const int load = std::max(run, cells(segment.runBytes + segment.loadBytes));
  const int used = std::max(load, cells(segment.usedBytes()));
  for (int i = 0; i < used; ++i)
    bar[i] = i < run ? '#' : i < load ? '=' : '+';
  return '[' + bar + ']';
}

QByteArray percentText(double percent) {
  return QByteArray::number(percent, 'f', 1) + '%';
}

QByteArray groupedNumber(uint64_t value) {
  QByteArray digits = QByteArray::number(static_cast<qulonglong>(value));
  for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
    digits.insert(at, ',');
  return digits;
}

namespace {

QByteArray shareOf(uint64_t part, uint64_t whole) {
  return whole ? percentText(100.0 * static_cast<double>(part) / static_cast<double>(whole)) : QByteArray("-");
}

void writeSymbols(QByteArray& out, const MemoryReport& report, int top) {
  QHash<QString, uint64_t> usedIn;
  for (const SegmentUsage& segment : report.segments)
    usedIn.insert(segment.name, segment.usedBytes());
  // A stripped ELF says so in a line rather than under an empty heading.
  if (std::all_of(report.sections.begin(), report.sections.end(),
                  [](const SectionUsage& section) { return section.symbols.empty(); })) {
    out += "\nLargest symbols: none, the ELF has no sized symbols (stripped?)\n";
    return;
  }
  out += "\nLargest symbols, " + QByteArray::number(top) + " per section (share: of the bytes used in the segment)\n";
  for (const SectionUsage& section : report.sections) {
    if (section.symbols.empty())
      continue;
    out += '\n' + toBytes(section.name) + " (" +
           (section.segment.isEmpty() ? QByteArray("outside every segment") : toBytes(section.segment)) + ", " +
           QByteArray::number(static_cast<qulonglong>(section.size)) + " bytes, " +
           QByteArray::number(static_cast<qulonglong>(section.symbols.size())) +
           (section.symbols.size() == 1 ? " symbol)\n" : " symbols)\n");
    TextTable table({false, false, true, true});
    for (const char* heading : {"symbol", "address", "size", "share"})
      table.cell(heading);
    const size_t shown = std::min(section.symbols.size(), static_cast<size_t>(top));
    for (size_t i = 0; i < shown; ++i) {
      const SymbolUsage& symbol = section.symbols[i];
      table.cell() += toBytes(symbol.name);
      table.address(symbol.address);
      table.number(symbol.size);
      table.cell(shareOf(symbol.size, usedIn.value(section.segment)));
    }
    table.write(out, "  ");
  }
}

void writeObjects(QByteArray& out, const MemoryReport& report, int top) {
  if (report.objects.empty())
    return;
  struct Total {
    QString object, library;
    uint64_t size = 0;
    QByteArray sections;
  };
  std::vector<Total> objects;  // report.objects is grouped by object
  QHash<QString, uint64_t> libraries;
  for (const ObjectUsage& entry : report.objects) {
    if (objects.empty() || objects.back().object != entry.object || objects.back().library != entry.library)
      objects.push_back({entry.object, entry.library, 0, {}});
    Total& total = objects.back();
    total.size += entry.size;
    total.sections += (total.sections.isEmpty() ? "" : ", ") + toBytes(entry.section) + ' ' +
                      QByteArray::number(static_cast<qulonglong>(entry.size));
    if (!entry.library.isEmpty())
      libraries[entry.library] += entry.size;
  }
  std::stable_sort(objects.begin(), objects.end(), [](const Total& a, const Total& b) { return a.size > b.size; });
  out += "\nLargest object files, " + QByteArray::number(std::min<size_t>(top, objects.size())) + " of " +
         QByteArray::number(objects.size()) + " (" +
         (report.objectSource == ObjectSource::Dwarf ? "from DWARF: compilation units" : "from the map file") + ")\n";
  TextTable table({false, false, true, false});
  for (const char* heading : {"object", "library", "size", "sections"})
    table.cell(heading);
  for (size_t i = 0; i < std::min(objects.size(), static_cast<size_t>(top)); ++i) {
    table.cell() += toBytes(objects[i].object);
    table.cell() += objects[i].library.isEmpty() ? QByteArray("-") : toBytes(objects[i].library);
    table.number(objects[i].size);
    table.cell(objects[i].sections);
  }
  table.write(out, "  ");
  if (libraries.isEmpty())
    return;
  std::vector<std::pair<QString, uint64_t>> byLibrary(libraries.keyValueBegin(), libraries.keyValueEnd());
  std::sort(byLibrary.begin(), byLibrary.end(), [](const auto& a, const auto& b) {
    return a.second != b.second ? a.second > b.second : a.first < b.first;
  });
  out += "\nLargest libraries, " + QByteArray::number(std::min<size_t>(top, byLibrary.size())) + " of " +
         QByteArray::number(byLibrary.size()) + "\n";
  TextTable libraryTable({false, true});
  libraryTable.cell("library");
  libraryTable.cell("size");
  for (size_t i = 0; i < std::min(byLibrary.size(), static_cast<size_t>(top)); ++i) {
    libraryTable.cell() += toBytes(byLibrary[i].first);
    libraryTable.number(byLibrary[i].second);
  }
  libraryTable.write(out, "  ");
}

}  // namespace

QByteArray textReport(const MemoryReport& report, const TextOptions& options) {
  QByteArray out = "Memory usage of " + toBytes(report.elfFile) + "\n\n";
  TextTable summary({false, false, true, true, true, true, true, true, false});
  for (const char* heading : {"segment", "start", "size", "run", "load", "reserved", "free", "largest gap", "used"})
    summary.cell(heading);
  for (const SegmentUsage& segment : report.segments) {
    summary.cell() += toBytes(segment.name);
    summary.address(segment.start);
    for (const uint64_t value : {segment.size, segment.runBytes, segment.loadBytes, segment.reservedBytes,
                                 segment.freeBytes, segment.largestFreeGap})
      summary.number(value);
    summary.cell(usageBar(segment) + ' ' + percentText(segment.usedPercent()).rightJustified(6, ' '));
  }
  summary.write(out, "");
  for (const SegmentUsage& segment : report.segments) {
    if (segment.overflowBytes > 0) {
      out += toBytes(segment.name) + " overflows: " + groupedNumber(segment.usedBytes()) + " of " +
             groupedNumber(segment.size) + " bytes used, " + groupedNumber(segment.overflowBytes) +
             " bytes past its end\n";
    }
  }
  for (const SegmentUsage& segment : report.segments) {
    out += '\n' + toBytes(segment.name) + " (" + hexAddress(segment.start) + ", " +
           QByteArray::number(static_cast<qulonglong>(segment.size)) + " bytes)\n";
    writeBlocks(out, segment.blocks);
  }
  if (!report.outside.empty()) {
    out += "\noutside every segment\n";
    writeBlocks(out, report.outside);
  }
  if (options.top > 0) {
    writeSymbols(out, report, options.top);
    writeObjects(out, report, options.top);
  }
  return out;
}
