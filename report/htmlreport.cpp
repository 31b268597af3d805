#include "report/htmlreport.h"

#include <algorithm>
#include <map>
#include <vector>

#include "base/bytes.h"
#include "report/textreport.h"

namespace {

// Picture geometry, in SVG user units (pixels).
constexpr double ColumnHeight = 480;  // a segment at scale; minimum heights may stretch it
constexpr double ColumnWidth = 210;
constexpr double ColumnGap = 170;     // room for the arrows between columns
constexpr double LeftMargin = 96;     // room for the addresses
constexpr double TopMargin = 70;      // room for the segment headings
constexpr double MinBlockHeight = 15;
constexpr double MinFreeHeight = 6;
// A block inside another (a run image in its run section) leaves a strip
// of the outer block in view on the right, for its label.
constexpr double InsetWidth = 84;

QByteArray escaped(const QByteArray& text) {
  QByteArray out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    default:
      out += c;
    }
  }
  return out;
}

QByteArray coordinate(double value) {
  return QByteArray::number(value, 'f', 1);
}

QByteArray humanSize(uint64_t bytes) {
  if (bytes < 1024)
    return QByteArray::number(static_cast<qulonglong>(bytes)) + " B";
  if (bytes < 1024 * 1024)
    return QByteArray::number(static_cast<double>(bytes) / 1024, 'f', 1) + " KiB";
  return QByteArray::number(static_cast<double>(bytes) / (1024 * 1024), 'f', 1) + " MiB";
}

// Shortens a label to the characters that fit a width (about 7 units each).
QByteArray fitted(const QByteArray& text, double width) {
  const auto room = static_cast<qsizetype>(width / 7);
  if (text.size() <= room)
    return text;
  return room > 1 ? text.left(room - 1) + "\xe2\x80\xa6" : QByteArray();
}

const char* fillOf(BlockKind kind) {
  switch (kind) {
  case BlockKind::Run:
    return "#3b6ea8";
  case BlockKind::Load:
    return "#e08a2e";
  case BlockKind::Reserved:
    return "url(#reserved)";
  case BlockKind::Free:
    break;
  }
  return "url(#free)";
}

const char* labelColour(BlockKind kind) {
  return kind == BlockKind::Run || kind == BlockKind::Load ? "#fff" : "#222";
}

// One block as drawn.
struct Shape {
  const Block* block;
  double top = 0;
  double bottom = 0;
  bool inset = false;     // lies inside an earlier block: drawn narrower, on its left
  bool hasInset = false;  // a later block lies inside it: labelled in the strip on the right
};

struct Column {
  const SegmentUsage* segment;
  double x = 0;
  double height = 0;
  std::vector<Shape> shapes;
  // Address to y: the boundaries of all blocks with their y, ascending.
  std::vector<std::pair<uint64_t, double>> scale;

  double yOf(uint64_t address) const {
    const auto at = std::lower_bound(scale.begin(), scale.end(), address,
                                     [](const std::pair<uint64_t, double>& p, uint64_t a) { return p.first < a; });
    if (at == scale.end())
      return scale.empty() ? TopMargin : scale.back().second;
    return at->second;
  }
};

// Lays a segment out top-down from its start: each stretch between two
// block boundaries gets its share of the column, then every block that came
// out shorter than the minimum is stretched at its last stretch, which pushes
// everything after it down.
Column layOut(const SegmentUsage& segment, double x) {
  Column column;
  column.segment = &segment;
  column.x = x;
  const uint64_t segmentEnd = segment.start + segment.size;
  std::vector<uint64_t> bounds = {segment.start, segmentEnd};
  for (const Block& block : segment.blocks) {
    if (block.size == 0)
      continue;
    bounds.push_back(std::clamp(block.address, segment.start, segmentEnd));
    bounds.push_back(std::clamp(blockEnd(block), segment.start, segmentEnd));
  }
  std::sort(bounds.begin(), bounds.end());
  bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
  const double perByte = segment.size ? ColumnHeight / static_cast<double>(segment.size) : 0;
  // heights[i]: the stretch from bounds[i] to bounds[i + 1].
  std::vector<double> heights(bounds.size(), 0);
  for (size_t i = 0; i + 1 < bounds.size(); ++i)
    heights[i] = static_cast<double>(bounds[i + 1] - bounds[i]) * perByte;
  const auto indexOf = [&](uint64_t address) {
    return static_cast<size_t>(std::lower_bound(bounds.begin(), bounds.end(), address) - bounds.begin());
  };
  // Blocks by address; of two at one address the larger first, and a
  // reservation before a run image of its size, so that a run section is
  // drawn around the run images inside it.
  std::vector<const Block*> blocks;
  for (const Block& block : segment.blocks) {
    if (block.size > 0 && block.address < segmentEnd && blockEnd(block) > segment.start)
      blocks.push_back(&block);
  }
  std::stable_sort(blocks.begin(), blocks.end(), [](const Block* a, const Block* b) {
    if (a->address != b->address)
      return a->address < b->address;
    if (a->size != b->size)
      return a->size > b->size;
    return a->kind == BlockKind::Reserved && b->kind != BlockKind::Reserved;
  });
  // Stretches are visited once per block that covers them; sections overlap
  // rarely, so this stays linear in practice.
  for (const Block* block : blocks) {
    const size_t first = indexOf(std::max(block->address, segment.start));
    const size_t last = indexOf(std::min(blockEnd(*block), segmentEnd));
    double height = 0;
    for (size_t i = first; i < last; ++i)
      height += heights[i];
    const double minimum = block->kind == BlockKind::Free ? MinFreeHeight : MinBlockHeight;
    if (height < minimum && last > first)
      heights[last - 1] += minimum - height;
  }
  double y = TopMargin;
  for (size_t i = 0; i < bounds.size(); ++i) {
    column.scale.emplace_back(bounds[i], y);
    y += heights[i];
  }
  column.height = y - TopMargin;
  uint64_t outerEnd = 0;
  size_t outer = 0;
  for (const Block* block : blocks) {
    Shape shape{block, column.yOf(std::max(block->address, segment.start)),
                column.yOf(std::min(blockEnd(*block), segmentEnd)), block->address < outerEnd, false};
    if (shape.inset) {
      column.shapes[outer].hasInset = true;
    } else {
      outerEnd = blockEnd(*block);
      outer = column.shapes.size();
    }
    column.shapes.push_back(shape);
  }
  return column;
}

QByteArray tooltip(const Block& block) {
  QByteArray text;
  if (block.kind == BlockKind::Free) {
    text = "free\n" + hexAddress(block.address) + " to " + hexAddress(blockEnd(block));
  } else {
    text = toBytes(block.section) + " (" + kindName(block.kind) + ")\nrun address " + hexAddress(block.runAddress);
    if (block.loadAddress)
      text += "\nload address " + hexAddress(*block.loadAddress);
    if (!block.loadSegment.isEmpty())
      text += "\nload image in " + toBytes(block.loadSegment);
  }
  return text + "\nsize " + QByteArray::number(static_cast<qulonglong>(block.size)) + " bytes (" +
         humanSize(block.size) + ")";
}

void drawColumn(QByteArray& svg, const Column& column) {
  const SegmentUsage& segment = *column.segment;
  const QByteArray x = coordinate(column.x);
  const QByteArray middle = coordinate(column.x + ColumnWidth / 2);
  svg += "<g class=\"segment\">\n<text class=\"heading\" x=\"" + middle + "\" y=\"" + coordinate(TopMargin - 38) +
         "\">" + escaped(toBytes(segment.name)) + "</text>\n";
  svg += "<text class=\"note\" x=\"" + middle + "\" y=\"" + coordinate(TopMargin - 20) + "\">" +
         percentText(segment.usedPercent()) + " of " + humanSize(segment.size) + " used, " +
         humanSize(segment.freeBytes) + " free</text>\n";
  svg += "<text class=\"address\" x=\"" + coordinate(column.x - 6) + "\" y=\"" + coordinate(TopMargin + 4) + "\">" +
         hexAddress(segment.start) + "</text>\n";
  svg += "<text class=\"address\" x=\"" + coordinate(column.x - 6) + "\" y=\"" +
         coordinate(TopMargin + column.height + 4) + "\">" + hexAddress(segment.start + segment.size) + "</text>\n";
  for (const Shape& shape : column.shapes) {
    const Block& block = *shape.block;
    const double width = ColumnWidth - (shape.inset ? InsetWidth : 0);
    // The strip of an outer block that its inner blocks leave free.
    const double labelLeft = column.x + (shape.hasInset ? ColumnWidth - InsetWidth : 0);
    const double labelWidth = shape.hasInset ? InsetWidth : width;
    const double height = shape.bottom - shape.top;
    svg += "<g class=\"block " + QByteArray(kindName(block.kind)).replace(' ', '-') + "\"><title>" +
           escaped(tooltip(block)) + "</title><rect x=\"" + coordinate(column.x) + "\" y=\"" + coordinate(shape.top) +
           "\" width=\"" + coordinate(width) + "\" height=\"" + coordinate(height) + "\" fill=\"" +
           fillOf(block.kind) + "\"/>";
    if (block.kind != BlockKind::Free && height >= 12) {
      const QByteArray size = humanSize(block.size);
      const bool showSize = labelWidth > 150;
      const double nameRoom = labelWidth - 12 - (showSize ? 7.0 * static_cast<double>(size.size()) + 8 : 0);
      const QByteArray baseline = coordinate(shape.top + std::min(height / 2 + 4, 15.0));
      svg += "<text class=\"label\" fill=\"" + QByteArray(labelColour(block.kind)) + "\" x=\"" +
             coordinate(labelLeft + 6) + "\" y=\"" + baseline + "\">" + escaped(fitted(toBytes(block.section), nameRoom)) +
             "</text>";
      if (showSize) {
        svg += "<text class=\"size\" fill=\"" + QByteArray(labelColour(block.kind)) + "\" x=\"" +
               coordinate(labelLeft + labelWidth - 6) + "\" y=\"" + baseline + "\">" + size + "</text>";
      }
    } else if (block.kind == BlockKind::Free && height >= 16) {
      svg += "<text class=\"free\" x=\"" + middle + "\" y=\"" + coordinate(shape.top + height / 2 + 4) +
             "\">free " + humanSize(block.size) + "</text>";
    }
    svg += "</g>\n";
  }
  svg += "<rect class=\"outline\" x=\"" + x + "\" y=\"" + coordinate(TopMargin) + "\" width=\"" +
         coordinate(ColumnWidth) + "\" height=\"" + coordinate(column.height) + "\"/>\n</g>\n";
}

// An arrow from the side of a load image to the facing side of its run
// image; within one column, a loop to the right.
void drawArrows(QByteArray& svg, const std::vector<Column>& columns) {
  std::map<QString, std::pair<const Column*, const Shape*>> runs;
  for (const Column& column : columns) {
    for (const Shape& shape : column.shapes) {
      if (shape.block->kind == BlockKind::Run || shape.block->kind == BlockKind::Reserved)
        runs.emplace(shape.block->section, std::make_pair(&column, &shape));
    }
  }
  for (const Column& column : columns) {
    for (const Shape& shape : column.shapes) {
      if (shape.block->kind != BlockKind::Load)
        continue;
      const auto run = runs.find(shape.block->section);
      if (run == runs.end())
        continue;
      const Column& target = *run->second.first;
      const Shape& runShape = *run->second.second;
      const double fromY = (shape.top + shape.bottom) / 2;
      const double toY = (runShape.top + runShape.bottom) / 2;
      double fromX = column.x + ColumnWidth;
      double toX = target.x;
      double bend = ColumnGap / 2;
      if (target.x < column.x) {
        fromX = column.x;
        toX = target.x + ColumnWidth - (runShape.inset ? InsetWidth : 0);
        bend = -bend;
      } else if (&target == &column) {
        toX = column.x + ColumnWidth - (runShape.inset ? InsetWidth : 0);
        bend = ColumnGap / 3;
      }
      svg += "<path class=\"arrow\" d=\"M " + coordinate(fromX) + ' ' + coordinate(fromY) + " C " +
             coordinate(fromX + bend) + ' ' + coordinate(fromY) + ", " + coordinate(toX - (&target == &column ? -bend : bend)) +
             ' ' + coordinate(toY) + ", " + coordinate(toX) + ' ' + coordinate(toY) + "\"><title>" +
             escaped(toBytes(shape.block->section) + " is stored at " + hexAddress(*shape.block->loadAddress) +
                     " and runs at " + hexAddress(shape.block->runAddress)) +
             "</title></path>\n";
    }
  }
}

const char* const Style = R"css(body { font-family: sans-serif; margin: 24px; color: #222; }
h1 { font-size: 20px; }
pre { font-size: 13px; background: #f6f6f6; padding: 12px; overflow-x: auto; }
svg text { font-size: 12px; }
.heading { font-size: 16px; font-weight: bold; text-anchor: middle; }
.note { fill: #555; text-anchor: middle; }
.address { fill: #555; text-anchor: end; font-family: monospace; font-size: 11px; }
.size { text-anchor: end; }
.free { fill: #666; text-anchor: middle; }
.block rect { stroke: #fff; stroke-width: 1; }
.block:hover rect { stroke: #000; stroke-width: 2; }
.outline { fill: none; stroke: #333; stroke-width: 1.5; }
.arrow { fill: none; stroke: #b35c00; stroke-width: 2; marker-end: url(#head); }
.legend text { dominant-baseline: middle; }
)css";

const char* const Definitions = R"svg(<defs>
<pattern id="free" patternUnits="userSpaceOnUse" width="8" height="8" patternTransform="rotate(45)"><rect width="8" height="8" fill="#fff"/><line x1="0" y1="0" x2="0" y2="8" stroke="#c8c8c8" stroke-width="3"/></pattern>
<pattern id="reserved" patternUnits="userSpaceOnUse" width="8" height="8" patternTransform="rotate(-45)"><rect width="8" height="8" fill="#cfe0cf"/><line x1="0" y1="0" x2="0" y2="8" stroke="#7da87d" stroke-width="3"/></pattern>
<marker id="head" viewBox="0 0 10 10" refX="9" refY="5" markerWidth="7" markerHeight="7" orient="auto-start-reverse"><path d="M 0 0 L 10 5 L 0 10 z" fill="#b35c00"/></marker>
</defs>
)svg";

void drawLegend(QByteArray& svg, double y) {
  const struct {
    BlockKind kind;
    const char* text;
  } entries[] = {{BlockKind::Run, "run image"},
                 {BlockKind::Load, "load image (stored copy)"},
                 {BlockKind::Reserved, "reserved"},
                 {BlockKind::Free, "free"}};
  svg += "<g class=\"legend\">";
  double x = LeftMargin;
  for (const auto& entry : entries) {
    svg += "<rect x=\"" + coordinate(x) + "\" y=\"" + coordinate(y) + "\" width=\"14\" height=\"14\" fill=\"" +
           fillOf(entry.kind) + "\" stroke=\"#333\"/><text x=\"" + coordinate(x + 20) + "\" y=\"" +
           coordinate(y + 7) + "\">" + entry.text + "</text>";
    x += 40 + 7.0 * static_cast<double>(qstrlen(entry.text));
  }
  svg += "</g>\n";
}

}  // namespace

QByteArray htmlReport(const MemoryReport& report) {
  std::vector<Column> columns;
  columns.reserve(report.segments.size());
  double tallest = 0;
  for (const SegmentUsage& segment : report.segments) {
    columns.push_back(layOut(segment, LeftMargin + static_cast<double>(columns.size()) * (ColumnWidth + ColumnGap)));
    tallest = std::max(tallest, columns.back().height);
  }
  const double width = LeftMargin + static_cast<double>(std::max<size_t>(columns.size(), 1)) * (ColumnWidth + ColumnGap);
  const double height = TopMargin + tallest + 70;

  QByteArray svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + coordinate(width) + "\" height=\"" +
                   coordinate(height) + "\" viewBox=\"0 0 " + coordinate(width) + ' ' + coordinate(height) +
                   "\" role=\"img\">\n" + Definitions;
  for (const Column& column : columns)
    drawColumn(svg, column);
  drawArrows(svg, columns);
  drawLegend(svg, TopMargin + tallest + 30);
  if (!report.outside.empty()) {
    svg += "<text class=\"note\" x=\"" + coordinate(LeftMargin) + "\" y=\"" + coordinate(TopMargin + tallest + 58) +
           "\" style=\"text-anchor: start\">" + QByteArray::number(static_cast<qulonglong>(report.outside.size())) +
           " blocks lie outside every segment: see the table</text>\n";
  }
  svg += "</svg>\n";

  const QByteArray title = "Memory usage of " + escaped(toBytes(report.elfFile));
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + title +
         "</title>\n<style>\n" + Style + "</style>\n</head>\n<body>\n<h1>" + title + "</h1>\n" + svg +
         "<h2>Table</h2>\n<pre>" + escaped(textReport(report)) + "</pre>\n</body>\n</html>\n";
}
