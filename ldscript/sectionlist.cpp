#include "ldscript/sectionlist.h"

#include <QList>
#include <unordered_map>

#include "base/bytes.h"
#include "base/console.h"
#include "memorymap/document.h"
#include "memorymap/placementsegment.h"
#include "expressions/evaluate.h"
#include "expressions/integerliteral.h"

namespace {

// Where the segment list and the MEMORY regions come from: the placement
// file's own segments when any of them has a start and a size, else the
// memory map's. True for the memory map's.
bool addSegments(LayoutModel& model, const MemoryMap& memoryMap, const SectionPlacement* placement) {
  if (placement) {
    const QList<MemoryMapElement*> placementSegments = placement->memorySegments(true);
    for (const MemoryMapElement* segment : placementSegments) {
      const SectionAttributes attributes(*segment);
      if (attributes.hasStart() && attributes.hasSize())
        model.regions.push_back(segment);
    }
    if (!model.regions.empty()) {
      model.segments.assign(placementSegments.cbegin(), placementSegments.cend());
      return false;
    }
  }
  const QList<MemoryMapElement*> segments = memoryMap.memorySegments(true);
  model.segments.assign(segments.cbegin(), segments.cend());
  model.regions = model.segments;
  return true;
}

// The symbol definitions as bytes, for looking up size texts.
using SymbolValues = std::unordered_map<std::string, std::string>;

SymbolValues symbolValues(const QMap<QString, QString>& symbols) {
  SymbolValues values;
  for (auto it = symbols.cbegin(); it != symbols.cend(); ++it)
    values.emplace(toStdBytes(it.key()), toStdBytes(it.value()));
  return values;
}

// A size that is a plain number (or names a symbol definition whose value is
// one) and fits 32 bits. Anything else is not a fixed size, so nothing is
// placed or checked on a guess.
std::optional<uint32_t> fixedSize(const SectionAttributes& attributes, const SymbolValues& symbols) {
  if (!attributes.hasSize())
    return std::nullopt;
  const auto symbol = symbols.empty() ? symbols.end() : symbols.find(std::string(*attributes.size));
  const std::optional<uint64_t> value =
      parseStrictIntegerLiteral(symbol != symbols.end() ? symbol->second : *attributes.size);
  if (!value || *value > 0xffffffffu)
    return std::nullopt;
  return static_cast<uint32_t>(*value);
}

// A start the linker reads as a constant. A leading "+" means "relative to
// the segment" to the memory map but is written into the script as it is,
// so neither reading is certain there.
std::optional<uint32_t> fixedStart(const SectionAttributes& attributes) {
  if (!attributes.hasStart() || attributes.start->front() == '+')
    return std::nullopt;
  const std::optional<uint64_t> value = evaluateUnsigned(*attributes.start).value;
  if (!value || *value > 0xffffffffu)
    return std::nullopt;
  return static_cast<uint32_t>(*value);
}

}  // namespace

bool isDiscard(const MemoryMapElement& section) {
  const std::string_view* name = section.attribute("name");
  return name && *name == "/DISCARD/";
}

void buildSectionList(LayoutModel& model, const MemoryMap& memoryMap, const SectionPlacement* placement,
                      const QMap<QString, QString>& symbols, bool verbose) {
  const bool fromMemoryMap = addSegments(model, memoryMap, placement);
  const SymbolValues values = symbolValues(symbols);
  // Appends the sections of one segment, chained after `prev`; the newest.
  auto appendChain = [&](LayoutSection* prev, const Document& document, const MemoryMapElement* documentSegment,
                         const MemoryMapElement& segment, const char* source) {
    for (const MemoryMapElement* element : document.programSections(documentSegment)) {
      if (isDiscard(*element)) {
        model.discards.push_back(element);
        continue;
      }
      LayoutSection& section = model.addSection(prev, *element, segment);
      section.document = &document;
      section.fixedSize = fixedSize(section.attributes, values);
      section.fixedStart = fixedStart(section.attributes);
      prev = &section;
      if (verbose) {
        printOutput(QLatin1String("Adding section from ") + QLatin1String(source) + QLatin1Char(' ') +
                    fromBytes(section.name) + QLatin1Char('\n'));
      }
    }
    return prev;
  };

  // The newest section of each segment name, so a placement segment
  // continues the chain that the list search from its end would find.
  std::unordered_map<std::string, LayoutSection*> newestBySegmentName;
  if (fromMemoryMap) {
    for (const MemoryMapElement* segment : model.segments) {
      if (LayoutSection* newest = appendChain(nullptr, memoryMap, segment, *segment, "memory map file"))
        newestBySegmentName[scriptName(*segment)] = newest;
    }
  }

  if (placement) {
    for (const MemoryMapElement* placementSegment : placement->memorySegments(true)) {
      const MemoryMapElement* segment = memoryMapSegmentFor(memoryMap, placementSegment->name());
      if (!segment)
        continue;
      LayoutSection*& newest = newestBySegmentName[scriptName(*segment)];
      newest = appendChain(newest, *placement, placementSegment, *segment, "placement file");
    }
    model.placement = placement;
    for (const MemoryMapElement* symbol : placement->elementsNamed("Symbol"))
      model.symbols.push_back(symbol);
    for (const MemoryMapElement* assertion : placement->elementsNamed("Assert"))
      model.asserts.push_back(assertion);
  }
}
