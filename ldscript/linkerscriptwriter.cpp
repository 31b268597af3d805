#include "ldscript/linkerscriptwriter.h"

#include <QHash>
#include <QList>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <memory>
#include <optional>
#include <vector>

#include "ldscript/scriptstream.h"
#include "ldscript/sectionentry.h"
#include "ldscript/sectionlayout.h"
#include "memorymap/memorymap.h"
#include "mkld/bytes.h"
#include "mkld/commandline.h"
#include "mkld/console.h"
#include "mkld/hexception.h"

namespace {

using Entries = std::vector<std::unique_ptr<SectionEntry>>;

// Whether the regular file at `path` already holds exactly `bytes`.
bool fileHolds(const QFileInfo& info, const QByteArray& bytes) {
  if (!info.isFile() || info.size() != bytes.size())
    return false;
  QFile file(info.filePath());
  return file.open(QIODevice::ReadOnly) && file.readAll() == bytes;
}

QString hexField(uint32_t value) { return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')); }

// Where the segment list and the MEMORY regions come from.
struct SegmentSources {
  QList<MemoryMapElement*> segments;  // symbols, and the chains of memory-map sections
  QList<MemoryMapElement*> regions;   // MEMORY lines
  bool fromMemoryMap = true;
};

SegmentSources segmentSources(const MemoryMap& memoryMap, const MemoryMap* placement) {
  if (placement) {
    const QList<MemoryMapElement*> placementSegments = placement->memorySegments(true);
    QList<MemoryMapElement*> ownRegions;
    for (MemoryMapElement* segment : placementSegments) {
      if (segment->hasStart() && segment->hasSize())
        ownRegions.append(segment);
    }
    if (!ownRegions.isEmpty())
      return {placementSegments, ownRegions, false};
  }
  const QList<MemoryMapElement*> segments = memoryMap.memorySegments(true);
  return {segments, segments, true};
}

void writeMemoryBlock(ScriptStream& out, const SegmentSources& sources, bool checkUnplacedSections) {
  out << "MEMORY\n{\n";
  if (checkUnplacedSections)
    out << "  UNPLACED_SECTIONS (wx) : ORIGIN = 0x100000000, LENGTH = 0\n";
  for (const MemoryMapElement* segment : sources.regions) {
    out << "  " << scriptName(*segment) << " (" << (segment->isReadOnly() ? "rx" : "wx")
        << ") : ORIGIN = 0x" << hexField(segment->start()) << ", LENGTH = 0x" << hexField(segment->size())
        << "\n";
  }
  out << "}\n\n";
}

void writeSegmentSymbols(ScriptStream& out, const QList<MemoryMapElement*>& segments) {
  for (const MemoryMapElement* segment : segments) {
    const QString seg = scriptName(*segment);
    const QString start = hexField(segment->start());
    const QString size = hexField(segment->size());
    out << "  __" << seg << "_segment_start__ = 0x" << start << ";\n";
    if (segment->hasAddressSymbol())
      out << segment->addressSymbol() << " = 0x" << start << ";\n";
    out << "  __" << seg << "_segment_end__ = 0x" << hexField(segment->start() + segment->size()) << ";\n";
    out << "  __" << seg << "_segment_size__ = 0x" << size << ";\n";
    if (segment->hasSizeSymbol())
      out << segment->sizeSymbol() << " = 0x" << size << ";\n";
  }
}

// The first MemorySegment of each name in depth-first document order, at any
// depth (also inside another segment): what a lookup by name finds first.
QHash<QString, MemoryMapElement*> segmentsByName(const MemoryMap& memoryMap) {
  QHash<QString, MemoryMapElement*> byName;
  XMLNode* const root = memoryMap.rootElement();
  XMLNode* node = root;
  while (node) {
    auto* element = dynamic_cast<MemoryMapElement*>(node);
    if (element && element->kind() == MemoryMapElement::MemorySegment) {
      const QString name = element->name();
      if (!byName.contains(name))
        byName.insert(name, element);
    }
    if (node->firstChild()) {
      node = node->firstChild();
      continue;
    }
    while (node != root && !node->nextSibling())
      node = node->parent();
    node = node == root ? nullptr : node->nextSibling();
  }
  return byName;
}

// Builds the chained entries: the memory map's own sections (when its
// segments are the ones written), then the placement file's, each continuing
// the chain of the memory-map segment it names.
Entries buildSectionList(const SegmentSources& sources, const MemoryMap& memoryMap,
                         const MemoryMap* placement) {
  Entries entries;
  // The newest entry of each segment name, so a placement segment continues
  // the chain that the list search from its end would find.
  QHash<QString, SectionEntry*> newestBySegmentName;
  auto append = [&](SectionEntry* prev, const MemoryMapElement& section, const MemoryMapElement& segment,
                    const char* source) {
    entries.push_back(std::make_unique<SectionEntry>(prev, section, segment));
    SectionEntry* entry = entries.back().get();
    newestBySegmentName.insert(scriptName(segment), entry);
    if (verbose)
      printOutput(QLatin1String("Adding section from ") + QLatin1String(source) + QLatin1Char(' ') +
                  entry->name + QLatin1Char('\n'));
    return entry;
  };

  if (sources.fromMemoryMap) {
    for (const MemoryMapElement* segment : sources.segments) {
      SectionEntry* prev = nullptr;
      for (const MemoryMapElement* section : memoryMap.programSections(segment, true))
        prev = append(prev, *section, *segment, "memory map file");
    }
  }

  if (placement) {
    const QHash<QString, MemoryMapElement*> mapSegments = segmentsByName(memoryMap);
    for (const MemoryMapElement* placementSegment : placement->memorySegments(true)) {
      // "RAM2;RAM": the first alternative that the memory map has.
      const MemoryMapElement* segment = nullptr;
      for (const QString& part : placementSegment->name().split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if ((segment = mapSegments.value(part)))
          break;
      }
      if (!segment)
        continue;
      SectionEntry* prev = newestBySegmentName.value(scriptName(*segment));
      for (const MemoryMapElement* section : placement->programSections(placementSegment, true))
        prev = append(prev, *section, *segment, "placement file");
    }
  }
  return entries;
}

bool isAsciiYes(const std::string* text) {
  if (!text || text->size() != 3)
    return false;
  const char* yes = "yes";
  for (size_t i = 0; i < 3; ++i) {
    if (((*text)[i] | 0x20) != yes[i])
      return false;
  }
  return true;
}

bool wantsSegmentEnd(const SectionEntry& entry) {
  return isAsciiYes(entry.section->attribute("place_from_segment_end"));
}

// A size that is a plain number (or names a symbol definition whose value is
// one) can be summed up to place a section from the segment end. Anything
// else (blanks, a sign, a suffix, an expression, a digit outside the base, a
// value above 32 bits) is not a fixed size, so nothing is placed on a guess.
std::optional<uint32_t> fixedSize(const MemoryMapElement& section, const QMap<QString, QString>& symbols) {
  if (!section.hasSize())
    return std::nullopt;
  QString text = section.sizeText();
  const auto symbol = symbols.constFind(text);
  if (symbol != symbols.cend())
    text = symbol.value();

  int base = 10;
  qsizetype i = 0;
  if (text.startsWith(QLatin1String("0x")) || text.startsWith(QLatin1String("0X"))) {
    base = 16;
    i = 2;
  } else if (text.startsWith(QLatin1Char('0'))) {
    base = 8;
  }
  if (i >= text.size())
    return std::nullopt;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const ushort c = text[i].unicode();
    int digit = 16;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    if (digit >= base)
      return std::nullopt;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0xffffffffu)
      return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

// Marks, per segment chain, the earliest section that asks to be placed from
// the segment end and is followed only by sections of fixed size.
void markEndPlacement(const Entries& entries, const QMap<QString, QString>& symbols) {
  for (const std::unique_ptr<SectionEntry>& last : entries) {
    if (!last->lastInSegment)
      continue;
    uint32_t total = 0;
    SectionEntry* chosen = nullptr;
    uint32_t chosenOffset = 0;
    for (SectionEntry* entry = last.get(); entry; entry = entry->prev) {
      const std::optional<uint32_t> size = fixedSize(*entry->section, symbols);
      if (!size) {
        if (chosen)
          break;
        for (const SectionEntry* earlier = entry->prev; earlier; earlier = earlier->prev) {
          if (wantsSegmentEnd(*earlier)) {
            printError(QLatin1String("warning: cannot place section ") + earlier->name +
                       QLatin1String(" at end of segment because section ") + entry->name +
                       QLatin1String(" does not have a fixed size\n"));
            break;
          }
        }
        break;
      }
      total += *size;
      if (wantsSegmentEnd(*entry)) {
        chosen = entry;
        chosenOffset = total;
      }
    }
    if (chosen) {
      chosen->placeFromEnd = true;
      chosen->endOffset = chosenOffset;
    }
  }
}

}  // namespace

QByteArray generateLinkerScript(const LinkerScriptInputs& inputs) {
  const MemoryMap& memoryMap = *inputs.memoryMap;
  const SegmentSources sources = segmentSources(memoryMap, inputs.placement);

  ScriptStream out;
  writeMemoryBlock(out, sources, inputs.checkUnplacedSections);
  out << "SECTIONS\n{\n";
  writeSegmentSymbols(out, sources.segments);
  out << "\n";
  for (auto it = inputs.symbols.cbegin(); it != inputs.symbols.cend(); ++it)
    out << "  " << it.key() << " = " << it.value() << ";\n";
  out << "\n";

  const Entries entries = buildSectionList(sources, memoryMap, inputs.placement);
  markEndPlacement(entries, inputs.symbols);
  SectionLayout layout(entries, out, inputs.checkSegmentOverflow, inputs.defaultFillPattern);
  for (const std::unique_ptr<SectionEntry>& entry : entries)
    layout.layoutSection(*entry);
  out << "}\n\n";
  return out.bytes();
}

void writeLinkerScript(const QString& outputFile, const QMap<QString, QString>& symbols,
                       bool checkSegmentOverflow, bool checkUnplacedSections, const MemoryMap& memoryMap,
                       const MemoryMap* placement, const QString& defaultFillPattern) {
  // A script file is written to a temporary file beside it and renamed over
  // it only when complete, so an error or a kill never leaves half a script.
  // A device or a pipe (/dev/null, /dev/stdout, a FIFO) must not be replaced
  // by a file: it is written in place.
  const QFileInfo info(nativePath(outputFile));
  const bool inPlace = info.exists() && !info.isFile() && !info.isDir();
  std::unique_ptr<QFileDevice> file;
  if (inPlace)
    file = std::make_unique<QFile>(nativePath(outputFile));
  else
    file = std::make_unique<QSaveFile>(nativePath(outputFile));
  if (outputFile.isEmpty() || !file->open(QIODevice::WriteOnly))
    throw HException(QLatin1String("cannot open ") + outputFile + QLatin1String(" for writing"));

  const QByteArray script = generateLinkerScript(
      {symbols, checkSegmentOverflow, checkUnplacedSections, &memoryMap, placement, defaultFillPattern});
  // A script that comes out as it already is stays untouched, modification
  // time included, so that Make and Ninja (restat) relink nothing.
  if (!inPlace && fileHolds(info, script)) {
    static_cast<QSaveFile&>(*file).cancelWriting();
    return;
  }
  bool written = file->write(script) == script.size();
  if (inPlace)
    written = file->flush() && written;
  else
    written = written && static_cast<QSaveFile&>(*file).commit();
  if (!written) {
    throw HException(QLatin1String("cannot write ") + outputFile + QLatin1String(": ") +
                     file->errorString());
  }
}
