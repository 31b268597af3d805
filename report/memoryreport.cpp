#include "report/memoryreport.h"

#include <QStringList>
#include <algorithm>
#include <limits>
#include <string>

#include "base/bytes.h"
#include "base/hex.h"
#include "ldscript/layoutmodel.h"

namespace {

QString nameOf(const MemoryMapElement& element) {
  return fromBytes(scriptName(element));
}

uint64_t endOf(uint64_t address, uint64_t size) {
  return size > std::numeric_limits<uint64_t>::max() - address ? std::numeric_limits<uint64_t>::max()
                                                               : address + size;
}

// Finds the segment holding an address: of the segments sorted by start,
// the last one starting at or below it that reaches past it. The walk down
// from the last start at or below the address stops where no segment so far
// down the list reaches the address (the farthest reach of each prefix is
// kept), so it passes over only segments that lie inside a holding one.
class SegmentFinder {
public:
  explicit SegmentFinder(const std::vector<SegmentRange>& segments) : segments_(segments) {
    for (size_t i = 0; i < segments.size(); ++i)
      byStart_.push_back(i);
    std::stable_sort(byStart_.begin(), byStart_.end(),
                     [&](size_t a, size_t b) { return segments[a].start < segments[b].start; });
    uint64_t farthest = 0;
    for (const size_t index : byStart_) {
      farthest = std::max(farthest, end(index));
      reach_.push_back(farthest);
    }
  }

  // Index into the segment list, or -1.
  int find(uint64_t address, uint64_t size) const {
    int found = find(address);
    if (found < 0 && size == 0 && address > 0) {
      found = find(address - 1);
    }
    return found;
  }

private:
  uint64_t end(size_t index) const { return endOf(segments_[index].start, segments_[index].size); }

  int find(uint64_t address) const {
    const auto after = std::upper_bound(byStart_.begin(), byStart_.end(), address,
                                        [&](uint64_t a, size_t index) { return a < segments_[index].start; });
    for (size_t position = static_cast<size_t>(after - byStart_.begin()); position > 0; --position) {
      if (reach_[position - 1] <= address)
        break;
      const size_t candidate = byStart_[position - 1];
      if (address < end(candidate))
        return static_cast<int>(candidate);
    }
    return -1;
  }

  const std::vector<SegmentRange>& segments_;
  std::vector<size_t> byStart_;
  std::vector<uint64_t> reach_;  // the farthest end of the segments up to each position
};

int priority(BlockKind kind) {
  switch (kind) {
  case BlockKind::Run:
    return 2;
  case BlockKind::Load:
    return 1;
  default:
    return 0;
  }
}

// The bytes of the segment's blocks that lie outside it, each counted once.
uint64_t overflow(const SegmentUsage& segment, uint64_t segmentEnd) {
  std::vector<std::pair<uint64_t, uint64_t>> outside;  // [begin, end)
  for (const Block& block : segment.blocks) {
    const uint64_t end = blockEnd(block);
    if (block.address < segment.start)
      outside.emplace_back(block.address, std::min(end, segment.start));
    if (end > segmentEnd)
      outside.emplace_back(std::max(block.address, segmentEnd), end);
  }
  std::sort(outside.begin(), outside.end());
  uint64_t bytes = 0;
  uint64_t reached = 0;
  for (const auto& [begin, end] : outside) {
    const uint64_t from = std::max(begin, reached);
    if (end > from)
      bytes += end - from;
    reached = std::max(reached, end);
  }
  return bytes;
}

// Counts each byte of the segment once, under the kind of highest priority
// that covers it, and turns the bytes nothing covers into free blocks.
void measure(SegmentUsage& segment) {
  struct Event {
    uint64_t position;
    int kind;   // priority
    int delta;  // +1 where a block begins, -1 where it ends
  };
  const uint64_t segmentEnd = endOf(segment.start, segment.size);
  std::vector<Event> events;
  events.reserve(segment.blocks.size() * 2);
  for (const Block& block : segment.blocks) {
    const uint64_t begin = std::max(block.address, segment.start);
    const uint64_t end = std::min(blockEnd(block), segmentEnd);
    if (begin >= end)
      continue;
    events.push_back({begin, priority(block.kind), 1});
    events.push_back({end, priority(block.kind), -1});
  }
  std::sort(events.begin(), events.end(),
            [](const Event& a, const Event& b) { return a.position < b.position; });
  int covering[3] = {0, 0, 0};
  uint64_t position = segment.start;
  std::vector<Block> gaps;
  const auto account = [&](uint64_t upTo) {
    if (upTo <= position)
      return;
    const uint64_t bytes = upTo - position;
    if (covering[2])
      segment.runBytes += bytes;
    else if (covering[1])
      segment.loadBytes += bytes;
    else if (covering[0])
      segment.reservedBytes += bytes;
    else if (!gaps.empty() && endOf(gaps.back().address, gaps.back().size) == position)
      gaps.back().size += bytes;
    else
      gaps.push_back(Block{BlockKind::Free, QString(), position, bytes, position, std::nullopt, QString()});
    position = upTo;
  };
  for (const Event& event : events) {
    account(event.position);
    covering[event.kind] += event.delta;
  }
  account(segmentEnd);
  for (const Block& gap : gaps) {
    segment.freeBytes += gap.size;
    segment.largestFreeGap = std::max(segment.largestFreeGap, gap.size);
  }
  segment.overflowBytes = overflow(segment, segmentEnd);
  segment.blocks.insert(segment.blocks.end(), gaps.begin(), gaps.end());
  // Free space after the blocks that start at the same address.
  std::stable_sort(segment.blocks.begin(), segment.blocks.end(), [](const Block& a, const Block& b) {
    if (a.address != b.address)
      return a.address < b.address;
    return a.kind != BlockKind::Free && b.kind == BlockKind::Free;
  });
}

}  // namespace

uint64_t blockEnd(const Block& block) {
  return endOf(block.address, block.size);
}

const char* kindName(BlockKind kind) {
  switch (kind) {
  case BlockKind::Run:
    return "run";
  case BlockKind::Load:
    return "load image";
  case BlockKind::Reserved:
    return "reserved";
  case BlockKind::Free:
    break;
  }
  return "free";
}

void appendHexAddress(QByteArray& out, uint64_t address) {
  appendHex(out, address, address > 0xffffffffu ? 16 : 8);
}

QByteArray hexAddress(uint64_t address) {
  QByteArray text;
  appendHexAddress(text, address);
  return text;
}

LayoutIntent layoutIntent(const LayoutModel& model) {
  LayoutIntent intent;
  // In address order, whichever order the files or the command line gave.
  for (auto region = model.regions.rbegin(); region != model.regions.rend(); ++region)
    intent.segments.push_back({nameOf(**region), (*region)->start(), (*region)->size()});
  std::stable_sort(intent.segments.begin(), intent.segments.end(),
                   [](const SegmentRange& a, const SegmentRange& b) { return a.start < b.start; });
  for (const LayoutSection& section : model.sections) {
    const SectionAttributes& attributes = section.attributes;
    if (model.isRunSection(section) || (attributes.hasSize() && !attributes.isLoad()))
      intent.reservations.insert(fromBytes(section.name));
    intent.placedIn.insert(fromBytes(section.name), fromBytes(std::string(section.segment)));
  }
  return intent;
}

bool MemoryReport::fails() const {
  return std::any_of(segments.begin(), segments.end(),
                     [](const SegmentUsage& segment) { return segment.overflowBytes > 0 || segment.overLimit(); });
}

MemoryReport buildMemoryReport(const QString& elfFile, const ElfFile& elf, const LayoutIntent& intent) {
  const std::vector<SegmentRange>& segments = intent.segments;
  MemoryReport report;
  report.elfFile = elfFile;
  QHash<QString, int> segmentIndex;
  for (const SegmentRange& range : segments) {
    segmentIndex.insert(range.name, static_cast<int>(report.segments.size()));
    SegmentUsage usage;
    usage.name = range.name;
    usage.start = range.start;
    usage.size = range.size;
    report.segments.push_back(std::move(usage));
  }
  const SegmentFinder finder(segments);
  const auto place = [&](int segment, Block block) {
    if (segment < 0)
      report.outside.push_back(std::move(block));
    else
      report.segments[static_cast<size_t>(segment)].blocks.push_back(std::move(block));
  };
  for (const ElfSection& section : elf.sections) {
    const bool loadedElsewhere = section.hasContents && section.loadAddress != section.runAddress;
    // An image in no segment overflowed from the one its section is placed
    // in: the stored image, which is the run image too unless it runs
    // elsewhere.
    const int placedIn = segmentIndex.value(intent.placedIn.value(section.name), -1);
    int runSegment = finder.find(section.runAddress, section.size);
    if (runSegment < 0 && !loadedElsewhere)
      runSegment = placedIn;
    int loadSegment = !section.hasContents ? -1
                      : loadedElsewhere    ? finder.find(section.loadAddress, section.size)
                                           : runSegment;
    if (loadSegment < 0 && section.hasContents)
      loadSegment = placedIn;
    SectionUsage usage;
    usage.name = section.name;
    usage.runAddress = section.runAddress;
    usage.size = section.size;
    if (runSegment >= 0)
      usage.segment = segments[static_cast<size_t>(runSegment)].name;
    Block run;
    run.kind = intent.reservations.contains(section.name) ? BlockKind::Reserved : BlockKind::Run;
    run.section = section.name;
    run.sectionIndex = static_cast<int>(report.sections.size());
    run.address = section.runAddress;
    run.size = section.size;
    run.runAddress = section.runAddress;
    if (section.hasContents)
      run.loadAddress = section.loadAddress;
    if (loadSegment >= 0)
      run.loadSegment = segments[static_cast<size_t>(loadSegment)].name;
    if (loadedElsewhere) {
      Block load = run;
      load.kind = BlockKind::Load;
      load.address = section.loadAddress;
      place(loadSegment, std::move(load));
    }
    place(runSegment, std::move(run));
    report.sections.push_back(std::move(usage));
  }
  for (const ElfSymbol& symbol : elf.symbols)
    report.sections[symbol.section].symbols.push_back({symbol.name, symbol.address, symbol.size});
  for (SectionUsage& section : report.sections) {
    std::sort(section.symbols.begin(), section.symbols.end(), [](const SymbolUsage& a, const SymbolUsage& b) {
      if (a.size != b.size)
        return a.size > b.size;
      if (a.address != b.address)
        return a.address < b.address;
      return a.name < b.name;
    });
  }
  for (SegmentUsage& segment : report.segments)
    measure(segment);
  return report;
}
