#include "memorymap/definednames.h"

#include <QString>
#include <algorithm>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/bytes.h"
#include "base/diagnostics.h"
#include "base/hex.h"
#include "memorymap/document.h"

namespace {

bool samePlace(const XMLNode& a, const XMLNode& b) {
  return a.file == b.file && a.line == b.line && a.column == b.column;
}

// Reports `text` at the name of `element`, with a note at `other`.
void reportAtName(const Document& document, Diagnostics& diagnostics, const MemoryMapElement& element,
                  std::string_view name, const QString& text, const MemoryMapElement& other,
                  const QString& otherText) {
  const SourceMap& sources = document.sources();
  std::vector<Diagnostic::Note> notes = sources.notes(element);
  notes.insert(notes.begin(), {sources.attributeLocation(other, "name", fromBytes(name), 0), otherText});
  diagnostics.reportLocated(Severity::Warning, sources.attributeLocation(element, "name", fromBytes(name), 0), text,
                            std::move(notes));
}

// "[0x20000000, 0x20001000)"
QString range(const MemoryMapElement& segment) {
  return QLatin1Char('[') + hexText(segment.start()) + QLatin1String(", ") +
         hexText(uint64_t(segment.start()) + segment.size()) + QLatin1Char(')');
}

// The first section of each name, and the last one reported as placed
// again: a loop that repeats a name many times says so once. Open
// addressing over two arrays, as every placed section passes here and a
// hash node per name cost more than the rest of the rule.
class FirstByName {
public:
  struct Entry {
    std::string_view name;
    const MemoryMapElement* first;
    const MemoryMapElement* reported;
  };

  explicit FirstByName(std::size_t count) : slots_(capacityFor(count), 0) { entries_.reserve(count); }

  // The entry of `name`, made with `section` as its first when the name is new.
  Entry& find(std::string_view name, const MemoryMapElement* section) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const char c : name)
      hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      if (slots_[i] == 0) {
        entries_.push_back({name, section, nullptr});
        slots_[i] = static_cast<std::uint32_t>(entries_.size());
        return entries_.back();
      }
      Entry& entry = entries_[slots_[i] - 1];
      if (entry.name == name)
        return entry;
    }
  }

private:
  // A power of two at least twice the count: probes stay short, and one
  // slot is always free.
  static std::size_t capacityFor(std::size_t count) {
    std::size_t capacity = 16;
    while (capacity < 2 * count)
      capacity *= 2;
    return capacity;
  }

  std::vector<std::uint32_t> slots_;  // 1 + the entry's index; 0: free
  std::vector<Entry> entries_;
};

// The program sections of each segment, segments in document order, as
// the layout places them (a segment's sections include those of segments
// within it; a section is not searched for more). One walk along the
// tree's links: the lists that memorySegments and programSections make
// cost a third of the rule.
std::vector<const MemoryMapElement*> placedSections(const MemoryMapElement* root) {
  std::vector<const MemoryMapElement*> sections;
  const XMLNode* segment = nullptr;  // the outermost segment the walk is in
  const XMLNode* node = root;
  while (node) {
    bool descend = true;
    if (node->type() == XMLNode::Type::Element) {  // every element comes from MemoryMapElement::make
      const auto& element = static_cast<const MemoryMapElement&>(*node);
      if (segment && element.kind() == MemoryMapElement::ProgramSection) {
        sections.push_back(&element);
        descend = false;
      } else if (!segment && element.kind() == MemoryMapElement::MemorySegment) {
        segment = node;
      }
    }
    if (descend && node->firstChild()) {
      node = node->firstChild();
      continue;
    }
    while (node != root && !node->nextSibling()) {
      if (node == segment)
        segment = nullptr;
      node = node->parent();
    }
    if (node == segment)
      segment = nullptr;
    node = node == root ? nullptr : node->nextSibling();
  }
  return sections;
}

}  // namespace

void checkSectionNames(const SectionPlacement& placement, Diagnostics& diagnostics) {
  if (!diagnostics.located())
    return;
  const std::vector<const MemoryMapElement*> sections = placedSections(placement.rootElement());
  FirstByName firsts(sections.size());
  for (const MemoryMapElement* section : sections) {
    const std::string_view* name = section->attribute("name");
    if (!name || name->empty()) {
      const SourceMap& sources = placement.sources();
      diagnostics.reportLocated(Severity::Warning,
                                name ? sources.attributeLocation(*section, "name", QString(), 0)
                                     : sources.location(*section),
                                QStringLiteral("<ProgramSection> has no name: its statement in the script has "
                                               "none either, which ld cannot read; give it name=\"...\""),
                                sources.notes(*section));
      continue;
    }
    FirstByName::Entry& entry = firsts.find(*name, section);
    if (entry.first == section || (entry.reported && samePlace(*entry.reported, *section)))
      continue;
    entry.reported = section;
    const MemoryMapElement& first = *entry.first;
    const QString shown = fromBytes(*name);
    QString text = QStringLiteral("section %1 is placed twice: ld makes one output section of a name, where the "
                                  "script first places it, so one placement does nothing")
                       .arg(shown);
    if (samePlace(first, *section))
      text += QLatin1String("; this element makes the name more than once: a loop's copies differ only in the "
                            "loop variables that the name uses");
    reportAtName(placement, diagnostics, *section, *name, text, first,
                 QStringLiteral("section %1 is placed here first").arg(shown));
  }
}

void checkSegmentNames(const MemoryMap& memoryMap, Diagnostics& diagnostics) {
  if (!diagnostics.located())
    return;
  const QList<MemoryMapElement*> segments = memoryMap.memorySegments(false);
  std::unordered_map<std::string_view, const MemoryMapElement*> firsts;
  for (const MemoryMapElement* segment : segments) {
    const std::string_view* name = segment->attribute("name");
    if (!name)
      continue;
    const auto [found, inserted] = firsts.try_emplace(*name, segment);
    if (inserted)
      continue;
    const QString shown = fromBytes(*name);
    reportAtName(memoryMap, diagnostics, *segment, *name,
                 QStringLiteral("segment %1 is defined twice: the first definition places the sections, and this "
                                "one adds a second memory region %1 to the script, which ld warns about")
                     .arg(shown),
                 *found->second, QStringLiteral("segment %1 is defined here first").arg(shown));
  }
  // By start address: each segment is compared with the one that reaches
  // furthest among those before it.
  std::vector<const MemoryMapElement*> byStart;
  for (const MemoryMapElement* segment : segments) {
    if (segment->size() != 0)
      byStart.push_back(segment);
  }
  std::stable_sort(byStart.begin(), byStart.end(),
                   [](const MemoryMapElement* a, const MemoryMapElement* b) { return a->start() < b->start(); });
  const MemoryMapElement* furthest = nullptr;
  for (const MemoryMapElement* segment : byStart) {
    const uint64_t furthestEnd = furthest ? uint64_t(furthest->start()) + furthest->size() : 0;
    if (furthest && segment->start() < furthestEnd) {
      const uint64_t overlap = std::min<uint64_t>(furthestEnd, uint64_t(segment->start()) + segment->size()) -
                               segment->start();
      const std::string_view* name = segment->attribute("name");
      const std::string_view* otherName = furthest->attribute("name");
      const QString shownOther = otherName ? fromBytes(*otherName) : QString();
      const QString text =
          QStringLiteral("segment %1 %2 overlaps segment %3 %4 by %5 bytes: ld may place sections of both at the "
                         "same addresses")
              .arg(name ? fromBytes(*name) : QString(), range(*segment), shownOther, range(*furthest),
                   hexText(overlap));
      const SourceMap& sources = memoryMap.sources();
      std::vector<Diagnostic::Note> notes = sources.notes(*segment);
      notes.insert(notes.begin(), {sources.attributeLocation(*furthest, std::string_view("start")),
                                   QStringLiteral("segment %1 is defined here").arg(shownOther)});
      diagnostics.reportLocated(Severity::Warning, sources.attributeLocation(*segment, std::string_view("start")),
                                text, std::move(notes));
    }
    if (!furthest || uint64_t(segment->start()) + segment->size() > furthestEnd)
      furthest = segment;
  }
}
