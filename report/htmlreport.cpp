#include "report/htmlreport.h"

#include <QSet>
#include <algorithm>
#include <map>
#include <vector>

#include "base/bytes.h"
#include "report/pagelayout.h"
#include "report/textreport.h"

namespace {

// Picture geometry, in SVG user units (pixels at full size).
constexpr double ColumnHeight = 400;  // every segment, at its own scale
constexpr double ColumnWidth = 200;
constexpr double ColumnGap = 130;   // room for the arrows between columns
constexpr double LeftMargin = 100;  // room for the addresses and the limit
constexpr double RightMargin = 130;  // room for the names of thin sections
constexpr double TopMargin = 90;    // room for the segment headings
// A mark inside another (a run image in its run section) leaves a strip
// of the outer mark in view on the right, for its label.
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

// "318,584 B": exact, in groups of three digits.
QByteArray exactBytes(uint64_t bytes) {
  return groupedNumber(bytes) + " B";
}

double percentOf(uint64_t part, uint64_t whole) {
  return whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0;
}

// A share as the page says it: "<0.1%" rather than "0.0%" for a few bytes.
QByteArray shareText(uint64_t part, uint64_t whole) {
  const double percent = percentOf(part, whole);
  return part > 0 && percent < 0.05 ? QByteArray("<0.1%") : percentText(percent);
}

// A width in percent for CSS.
QByteArray widthOf(uint64_t part, uint64_t whole) {
  return QByteArray::number(std::min(100.0, percentOf(part, whole)), 'f', 3) + '%';
}

// Shortens a label to the characters that fit a width (about 7 units each).
QByteArray fitted(const QByteArray& text, double width) {
  const auto room = static_cast<qsizetype>(width / 7);
  if (text.size() <= room)
    return text;
  return room > 1 ? text.left(room - 1) + "\xe2\x80\xa6" : QByteArray();
}

QByteArray className(BlockKind kind) {
  return QByteArray(kindName(kind)).replace(' ', '-');
}

const char* budgetClass(Budget budget) {
  switch (budget) {
  case Budget::Ok:
    return "ok";
  case Budget::Near:
    return "near";
  case Budget::Over:
    break;
  }
  return "over";
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

// What the page knows of one segment it shows.
struct SegmentView {
  const SegmentUsage* segment;
  size_t index;  // in the report, for element ids
  Budget budget;
};

QByteArray sectionId(const SegmentView& view, const Block& block) {
  return "s" + QByteArray::number(static_cast<qulonglong>(view.index)) + '-' +
         QByteArray::number(static_cast<qulonglong>(&block - view.segment->blocks.data()));
}

// "RAM is over its limit: 15,828 B used, limit 14,745 B (90.0%)".
QByteArray verdictOf(const SegmentView& view) {
  const SegmentUsage& segment = *view.segment;
  if (segment.overflowBytes > 0)
    return "overflows by " + exactBytes(segment.overflowBytes);
  if (view.budget == Budget::Over)
    return "over its limit by " + exactBytes(segment.usedBytes() - segment.limit->bytes);
  if (view.budget == Budget::Near)
    return segment.limit ? "near its limit" : "nearly full";
  return "within budget";
}

QByteArray figuresOf(const SegmentView& view) {
  const SegmentUsage& segment = *view.segment;
  QByteArray text = exactBytes(segment.usedBytes()) + " of " + exactBytes(segment.size) + " (" +
                    shareText(segment.usedBytes(), segment.size) + ")";
  if (segment.limit)
    text += " \xc2\xb7 limit " + exactBytes(segment.limit->bytes) + " (" + toBytes(segment.limit->percentText) + "%)";
  return text + " \xc2\xb7 " + exactBytes(segment.freeBytes) + " free";
}

// One bar per segment: its kinds of use to scale, the limit as a line, what
// overflows as a red part past the end (to scale up to a quarter of the
// bar, squeezed beyond).
void writeBudgets(QByteArray& html, const std::vector<SegmentView>& views) {
  html += "<section class=\"budgets\">\n";
  for (const SegmentView& view : views) {
    const SegmentUsage& segment = *view.segment;
    html += "<div class=\"budget " + QByteArray(budgetClass(view.budget)) + "\" data-segment=\"" +
            escaped(toBytes(segment.name)) + "\">\n<div class=\"head\"><a class=\"name\" href=\"#d" +
            QByteArray::number(static_cast<qulonglong>(view.index)) + "\">" + escaped(toBytes(segment.name)) +
            "</a> <span class=\"state\">" + verdictOf(view) + "</span></div>\n<div class=\"figures\">" +
            figuresOf(view) + "</div>\n";
    const double spill =
        segment.overflowBytes == 0 ? 0 : std::min(25.0, percentOf(segment.overflowBytes, segment.size));
    html += "<div class=\"meter\"><div class=\"track\" style=\"flex-basis: " +
            QByteArray::number(100.0 / (1 + spill / 100), 'f', 3) + "%\">";
    for (const auto& [kind, bytes] : {std::pair{BlockKind::Run, segment.runBytes},
                                      std::pair{BlockKind::Load, segment.loadBytes},
                                      std::pair{BlockKind::Reserved, segment.reservedBytes}}) {
      if (bytes > 0)
        html += "<span class=\"" + className(kind) + "\" style=\"width: " + widthOf(bytes, segment.size) + "\"></span>";
    }
    if (segment.limit) {
      html += "<span class=\"limit\" style=\"left: " + widthOf(segment.limit->bytes, segment.size) +
              "\" title=\"limit " + exactBytes(segment.limit->bytes) + "\"></span>";
    }
    html += "</div>";
    if (segment.overflowBytes > 0) {
      html += "<div class=\"spill\" style=\"flex-basis: " +
              QByteArray::number(100.0 * spill / (100 + spill), 'f', 3) + "%\" title=\"" +
              exactBytes(segment.overflowBytes) + " past the end\"></div>";
    }
    html += "</div>\n</div>\n";
  }
  html += "</section>\n";
}

// One column of the picture.
struct Column {
  const SegmentView* view;
  double x = 0;
  ColumnScale scale;
  std::vector<Mark> marks;
};

QByteArray tooltip(const Mark& mark) {
  QByteArray text;
  const Block& first = *mark.blocks.front();
  if (mark.kind == BlockKind::Free) {
    text = "free\n" + hexAddress(first.address) + " to " + hexAddress(blockEnd(first));
  } else if (mark.isGroup()) {
    text = QByteArray::number(static_cast<qulonglong>(mark.blocks.size())) + " sections (" + kindName(mark.kind) +
           "), each too thin to draw alone: " + toBytes(first.section) + " to " +
           toBytes(mark.blocks.back()->section) + "\n" + hexAddress(mark.address) + " to " +
           hexAddress(mark.address + mark.size);
  } else {
    text = toBytes(first.section) + " (" + kindName(first.kind) + ")\nrun address " + hexAddress(first.runAddress);
    if (first.loadAddress)
      text += "\nload address " + hexAddress(*first.loadAddress);
    if (!first.loadSegment.isEmpty())
      text += "\nload image in " + toBytes(first.loadSegment);
  }
  text += "\n" + exactBytes(mark.size) + " (" + humanSize(mark.size) + ")";
  if (mark.enlarged)
    text += "\ndrawn as a line: thinner at scale";
  return text;
}

// A mark's name in a width, escaped: its section's; a group's sections
// when they fit, else their count.
QByteArray markName(const Mark& mark, double width) {
  if (!mark.isGroup())
    return escaped(fitted(toBytes(mark.blocks.front()->section), width));
  QByteArray names;
  for (const Block* block : mark.blocks)
    names += (names.isEmpty() ? "" : ", ") + toBytes(block->section);
  if (fitted(names, width) != names)
    names = QByteArray::number(static_cast<qulonglong>(mark.blocks.size())) + " sections";
  return escaped(fitted(names, width));
}

QByteArray headingNote(const SegmentView& view) {
  const SegmentUsage& segment = *view.segment;
  return exactBytes(segment.usedBytes()) + " of " + humanSize(segment.size) + " used (" +
         shareText(segment.usedBytes(), segment.size) + ")";
}

void drawColumn(QByteArray& svg, const Column& column) {
  const SegmentView& view = *column.view;
  const SegmentUsage& segment = *view.segment;
  const QByteArray x = coordinate(column.x);
  const QByteArray middle = coordinate(column.x + ColumnWidth / 2);
  const double bottom = TopMargin + ColumnHeight;
  svg += "<g class=\"segment " + QByteArray(budgetClass(view.budget)) + "\" data-segment=\"" +
         escaped(toBytes(segment.name)) + "\">\n<text class=\"heading\" x=\"" + middle + "\" y=\"" +
         coordinate(TopMargin - 58) + "\">" + escaped(toBytes(segment.name)) + "</text>\n";
  svg += "<text class=\"note\" x=\"" + middle + "\" y=\"" + coordinate(TopMargin - 41) + "\">" + headingNote(view) +
         "</text>\n";
  svg += "<text class=\"note state\" x=\"" + middle + "\" y=\"" + coordinate(TopMargin - 25) + "\">" +
         verdictOf(view) + "</text>\n";
  // The addresses above and below the column's left edge, leaving the sides
  // to the limit and to the names of thin sections.
  // A few bytes over still show, as a line like any thin mark.
  const double spill = segment.overflowBytes == 0 ? 0 : std::max(column.scale.overflowHeight(), MarkSizes().line);
  svg += "<text class=\"address\" x=\"" + x + "\" y=\"" + coordinate(TopMargin - 5) + "\">" +
         hexAddress(segment.start) + "</text>\n";
  // With overflow below it, the end is named beside the line that marks it.
  svg += "<text class=\"address\" x=\"" + (spill > 0 ? coordinate(column.x + ColumnWidth + 5) : x) + "\" y=\"" +
         coordinate(spill > 0 ? bottom - 4 : bottom + 14) + "\">" + (spill > 0 ? "end " : "") +
         hexAddress(segment.start + segment.size) + "</text>\n";
  svg += "<rect x=\"" + x + "\" y=\"" + coordinate(TopMargin) + "\" width=\"" + coordinate(ColumnWidth) +
         "\" height=\"" + coordinate(ColumnHeight) + "\" fill=\"url(#free)\"/>\n";
  for (const Mark& mark : column.marks) {
    const double top = TopMargin + mark.top;
    const double height = mark.height;
    const double width = ColumnWidth - (mark.inset ? InsetWidth : 0);
    // The strip of an outer mark that its inner marks leave free.
    const double labelLeft = column.x + (mark.hasInset ? ColumnWidth - InsetWidth : 0);
    const double labelWidth = mark.hasInset ? InsetWidth : width;
    const QByteArray rect = "<rect x=\"" + x + "\" y=\"" + coordinate(top) + "\" width=\"" + coordinate(width) +
                            "\" height=\"" + coordinate(height) + "\" fill=\"";
    svg += "<a href=\"#" + sectionId(view, *mark.blocks.front()) + "\"><g class=\"mark " + className(mark.kind) +
           (mark.isGroup() ? " group" : "") + (mark.enlarged ? " enlarged" : "") + "\"><title>" +
           escaped(tooltip(mark)) + "</title>" + rect + fillOf(mark.kind) + "\"/>";
    if (mark.isGroup())
      svg += rect + "url(#group)\"/>";
    if (mark.kind != BlockKind::Free && height >= 14) {
      const QByteArray size = humanSize(mark.size);
      const bool showSize = labelWidth > 150;
      const double nameRoom = labelWidth - 12 - (showSize ? 7.0 * static_cast<double>(size.size()) + 8 : 0);
      const QByteArray baseline = coordinate(top + std::min(height / 2 + 4, 15.0));
      svg += "<text class=\"label\" fill=\"" + QByteArray(labelColour(mark.kind)) + "\" x=\"" +
             coordinate(labelLeft + 6) + "\" y=\"" + baseline + "\">" + markName(mark, nameRoom) + "</text>";
      if (showSize) {
        svg += "<text class=\"size\" fill=\"" + QByteArray(labelColour(mark.kind)) + "\" x=\"" +
               coordinate(labelLeft + labelWidth - 6) + "\" y=\"" + baseline + "\">" + size + "</text>";
      }
    } else if (mark.kind == BlockKind::Free && height >= 16) {
      svg += "<text class=\"free\" x=\"" + middle + "\" y=\"" + coordinate(top + height / 2 + 4) + "\">free " +
             humanSize(mark.size) + "</text>";
    }
    svg += "</g></a>\n";
  }
  // Marks too thin for a label inside are named beside the column, where
  // there is room between the names above them.
  double free = 0;
  for (const Mark& mark : column.marks) {
    const double y = TopMargin + mark.top + mark.height / 2 + 4;
    if (mark.kind == BlockKind::Free || mark.inset || mark.height >= 14 || y < free)
      continue;
    const QByteArray size = humanSize(mark.size);
    svg += "<text class=\"aside\" x=\"" + coordinate(column.x + ColumnWidth + 5) + "\" y=\"" + coordinate(y) +
           "\">" + markName(mark, ColumnGap - 14 - 7.0 * static_cast<double>(size.size())) + ' ' + size +
           "</text>\n";
    free = y + 13;
  }
  svg += "<rect class=\"outline\" x=\"" + x + "\" y=\"" + coordinate(TopMargin) + "\" width=\"" +
         coordinate(ColumnWidth) + "\" height=\"" + coordinate(ColumnHeight) + "\"/>\n";
  if (spill > 0) {
    svg += "<g class=\"overflow\"><title>" + exactBytes(segment.overflowBytes) + " past the end of " +
           escaped(toBytes(segment.name)) +
           (column.scale.overflowSqueezed() ? QByteArray(", squeezed: not to scale") : QByteArray()) +
           "</title><rect x=\"" + x + "\" y=\"" + coordinate(bottom) + "\" width=\"" + coordinate(ColumnWidth) +
           "\" height=\"" + coordinate(spill) + "\"/><line x1=\"" + coordinate(column.x - 4) + "\" y1=\"" +
           coordinate(bottom) + "\" x2=\"" + coordinate(column.x + ColumnWidth + 4) + "\" y2=\"" +
           coordinate(bottom) + "\"/><text x=\"" + coordinate(column.x + ColumnWidth + 5) + "\" y=\"" +
           coordinate(bottom + 14) + "\">overflow</text><text x=\"" + coordinate(column.x + ColumnWidth + 5) +
           "\" y=\"" + coordinate(bottom + 28) + "\">" + exactBytes(segment.overflowBytes) + "</text>" +
           (column.scale.overflowSqueezed()
                ? "<text x=\"" + coordinate(column.x + ColumnWidth + 5) + "\" y=\"" + coordinate(bottom + 42) +
                      "\">not to scale</text>"
                : QByteArray()) +
           "</g>\n";
  }
  if (segment.limit) {
    const double y = TopMargin + column.scale.yOf(segment.start + segment.limit->bytes);
    svg += "<g class=\"limit\"><title>limit " + exactBytes(segment.limit->bytes) + "</title><line x1=\"" +
           coordinate(column.x - 44) + "\" y1=\"" + coordinate(y) + "\" x2=\"" +
           coordinate(column.x + ColumnWidth + 4) + "\" y2=\"" + coordinate(y) + "\"/><text x=\"" +
           coordinate(column.x - 6) + "\" y=\"" + coordinate(y - 4) + "\">limit " +
           toBytes(segment.limit->percentText) + "%</text></g>\n";
  }
  svg += "</g>\n";
}

// An arrow from the side of a load image to the facing side of its run
// image; within one column, a loop to the right.
void drawArrows(QByteArray& svg, const std::vector<Column>& columns) {
  std::map<QString, std::pair<const Column*, const Mark*>> runs;
  for (const Column& column : columns) {
    for (const Mark& mark : column.marks) {
      if (mark.kind == BlockKind::Run || mark.kind == BlockKind::Reserved) {
        for (const Block* block : mark.blocks)
          runs.emplace(block->section, std::make_pair(&column, &mark));
      }
    }
  }
  for (const Column& column : columns) {
    for (const Mark& mark : column.marks) {
      if (mark.kind != BlockKind::Load)
        continue;
      std::vector<const Mark*> drawn;
      for (const Block* block : mark.blocks) {
        const auto run = runs.find(block->section);
        if (run == runs.end() || std::find(drawn.begin(), drawn.end(), run->second.second) != drawn.end())
          continue;
        drawn.push_back(run->second.second);
        const Column& target = *run->second.first;
        const Mark& runMark = *run->second.second;
        const double fromY = TopMargin + mark.top + mark.height / 2;
        const double toY = TopMargin + runMark.top + runMark.height / 2;
        double fromX = column.x + ColumnWidth;
        double toX = target.x;
        double bend = ColumnGap / 2;
        if (target.x < column.x) {
          fromX = column.x;
          toX = target.x + ColumnWidth - (runMark.inset ? InsetWidth : 0);
          bend = -bend;
        } else if (&target == &column) {
          toX = column.x + ColumnWidth - (runMark.inset ? InsetWidth : 0);
          bend = ColumnGap / 3;
        }
        svg += "<path class=\"arrow\" d=\"M " + coordinate(fromX) + ' ' + coordinate(fromY) + " C " +
               coordinate(fromX + bend) + ' ' + coordinate(fromY) + ", " +
               coordinate(toX - (&target == &column ? -bend : bend)) + ' ' + coordinate(toY) + ", " +
               coordinate(toX) + ' ' + coordinate(toY) + "\"><title>" +
               escaped(toBytes(block->section) + " is stored at " + hexAddress(*block->loadAddress) +
                       " and runs at " + hexAddress(block->runAddress)) +
               "</title></path>\n";
      }
    }
  }
}

const char* const Definitions = R"svg(<defs>
<pattern id="free" patternUnits="userSpaceOnUse" width="8" height="8" patternTransform="rotate(45)"><rect width="8" height="8" fill="#fff"/><line x1="0" y1="0" x2="0" y2="8" stroke="#d8d8d8" stroke-width="3"/></pattern>
<pattern id="reserved" patternUnits="userSpaceOnUse" width="8" height="8" patternTransform="rotate(-45)"><rect width="8" height="8" fill="#cfe0cf"/><line x1="0" y1="0" x2="0" y2="8" stroke="#7da87d" stroke-width="3"/></pattern>
<pattern id="group" patternUnits="userSpaceOnUse" width="6" height="4"><line x1="0" y1="0.5" x2="6" y2="0.5" stroke="#fff" stroke-opacity="0.45" stroke-width="1"/></pattern>
<pattern id="spill" patternUnits="userSpaceOnUse" width="8" height="8" patternTransform="rotate(45)"><line x1="0" y1="0" x2="0" y2="8" stroke="#c62828" stroke-opacity="0.75" stroke-width="4"/></pattern>
<marker id="head" viewBox="0 0 10 10" refX="9" refY="5" markerWidth="7" markerHeight="7" orient="auto-start-reverse"><path d="M 0 0 L 10 5 L 0 10 z" fill="#b35c00"/></marker>
</defs>
)svg";

void drawLegend(QByteArray& svg, double y) {
  const struct {
    const char* fill;
    const char* text;
  } entries[] = {{"#3b6ea8", "run image"},       {"#e08a2e", "load image (stored copy)"},
                 {"url(#reserved)", "reserved"}, {"url(#free)", "free"},
                 {"url(#spill)", "overflow"}};
  svg += "<g class=\"legend\">";
  double x = LeftMargin;
  for (const auto& entry : entries) {
    svg += "<rect x=\"" + coordinate(x) + "\" y=\"" + coordinate(y) + "\" width=\"14\" height=\"14\" fill=\"" +
           entry.fill + "\" stroke=\"#333\"/><text x=\"" + coordinate(x + 20) + "\" y=\"" + coordinate(y + 7) +
           "\">" + entry.text + "</text>";
    x += 34 + 7.0 * static_cast<double>(qstrlen(entry.text));
  }
  svg += "</g>\n";
}

void writePicture(QByteArray& html, const std::vector<SegmentView>& views) {
  std::vector<Column> columns;
  columns.reserve(views.size());
  double spill = 0;
  for (const SegmentView& view : views) {
    const ColumnScale scale(*view.segment, ColumnHeight);
    columns.push_back(Column{&view, LeftMargin + static_cast<double>(columns.size()) * (ColumnWidth + ColumnGap),
                             scale, columnMarks(*view.segment, scale)});
    spill = std::max(spill, scale.overflowHeight() + (scale.overflowHeight() > 0 ? 40 : 0));
  }
  const double width =
      std::max(LeftMargin + static_cast<double>(columns.size()) * (ColumnWidth + ColumnGap) - ColumnGap + RightMargin,
               620.0);
  const double height = TopMargin + ColumnHeight + spill + 60;
  html += "<div class=\"picture\"><svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + coordinate(width) + ' ' +
          coordinate(height) + "\" style=\"max-width: " + coordinate(width) + "px\" role=\"img\">\n" + Definitions;
  // The arrows first: the names beside the columns stay readable over them.
  drawArrows(html, columns);
  for (const Column& column : columns)
    drawColumn(html, column);
  drawLegend(html, height - 30);
  html += "</svg></div>\n<p class=\"scale\">Each column is its segment drawn to scale from start (top) to end. "
          "Neighbouring sections too thin to label are drawn as one striped group; a section or group thinner than "
          "3 px is drawn 3 px tall. Overflow is drawn red below the end, to scale up to a quarter of the column and "
          "squeezed (marked \xe2\x80\x9cnot to scale\xe2\x80\x9d) beyond. The list below has every section.</p>\n";
}

constexpr size_t ListedSymbols = 20;  // per section
constexpr size_t ListedObjects = 20;  // per segment

// A section's largest symbols, each with its share of the bytes the
// segment uses (as in the table, so that a symbol's weight reads the same
// at every level); the rest summed up, and what no sized symbol covers
// (padding, code written without a size).
QByteArray symbolList(const SectionUsage& section, uint64_t used) {
  QByteArray html = "<details><summary>" + escaped(toBytes(section.name)) +
                    "</summary>\n<table class=\"symbols\"><tr><th>symbol</th><th>address</th><th class=\"n\">bytes</th>"
                    "<th>share of the used bytes</th></tr>\n";
  uint64_t inSymbols = 0;
  uint64_t rest = 0;
  for (size_t i = 0; i < section.symbols.size(); ++i) {
    const SymbolUsage& symbol = section.symbols[i];
    inSymbols += symbol.size;
    if (i >= ListedSymbols) {
      rest += symbol.size;
      continue;
    }
    html += "<tr><td>" + escaped(toBytes(symbol.name)) + "</td><td class=\"a\">" + hexAddress(symbol.address) +
            "</td><td class=\"n\">" + exactBytes(symbol.size) + "</td><td>" + shareText(symbol.size, used) +
            "</td></tr>\n";
  }
  if (section.symbols.size() > ListedSymbols) {
    html += "<tr><td>" + QByteArray::number(static_cast<qulonglong>(section.symbols.size() - ListedSymbols)) +
            " more symbols</td><td></td><td class=\"n\">" + exactBytes(rest) + "</td><td>" +
            shareText(rest, used) + "</td></tr>\n";
  }
  if (inSymbols < section.size) {
    html += "<tr><td>in no sized symbol</td><td></td><td class=\"n\">" + exactBytes(section.size - inSymbols) +
            "</td><td>" + shareText(section.size - inSymbols, used) + "</td></tr>\n";
  }
  return html + "</table></details>";
}

// The bytes each object file (and library) puts into the sections of a
// segment, the largest first.
QByteArray objectList(const MemoryReport& report, const std::vector<const Block*>& blocks, uint64_t used) {
  QSet<QString> sections;
  for (const Block* block : blocks)
    sections.insert(block->section);
  std::map<std::pair<QString, QString>, uint64_t> bytes;  // by library, object
  for (const ObjectUsage& object : report.objects) {
    if (sections.contains(object.section))
      bytes[{object.library, object.object}] += object.size;
  }
  if (bytes.empty())
    return {};
  std::vector<std::pair<uint64_t, const std::pair<QString, QString>*>> largest;
  for (const auto& [key, size] : bytes)
    largest.emplace_back(size, &key);
  std::stable_sort(largest.begin(), largest.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  QByteArray html = "<details class=\"objects\"><summary>by object file (" +
                    QByteArray(report.objectSource == ObjectSource::MapFile ? "from the map file" : "from DWARF") +
                    ")</summary>\n<table><tr><th>object file</th><th>library</th><th class=\"n\">bytes</th>"
                    "<th>share of the used bytes</th></tr>\n";
  for (size_t i = 0; i < largest.size() && i < ListedObjects; ++i) {
    const auto& [size, key] = largest[i];
    html += "<tr><td>" + escaped(toBytes(key->second)) + "</td><td>" + escaped(toBytes(key->first)) +
            "</td><td class=\"n\">" + exactBytes(size) + "</td><td>" + shareText(size, used) + "</td></tr>\n";
  }
  if (largest.size() > ListedObjects) {
    html += "<tr><td>" + QByteArray::number(static_cast<qulonglong>(largest.size() - ListedObjects)) +
            " more object files</td></tr>\n";
  }
  return html + "</table></details>\n";
}

// Segment, then its sections from the largest down, each with its share of
// the bytes the segment uses, then each section's largest symbols; and the
// segment's bytes by object file, when the report knows them.
void writeDrillDown(QByteArray& html, const MemoryReport& report, const std::vector<SegmentView>& views) {
  html += "<h2>Where the memory went</h2>\n";
  for (const SegmentView& view : views) {
    const SegmentUsage& segment = *view.segment;
    std::vector<const Block*> sections;
    for (const Block& block : segment.blocks) {
      if (block.kind != BlockKind::Free)
        sections.push_back(&block);
    }
    std::stable_sort(sections.begin(), sections.end(),
                     [](const Block* a, const Block* b) { return a->size > b->size; });
    const uint64_t used = segment.usedBytes();
    html += "<details class=\"drill\" id=\"d" + QByteArray::number(static_cast<qulonglong>(view.index)) +
            "\"><summary><b>" + escaped(toBytes(segment.name)) + "</b>: " + exactBytes(used) + " in " +
            QByteArray::number(static_cast<qulonglong>(sections.size())) +
            (sections.size() == 1 ? " block" : " blocks") + "</summary>\n" + objectList(report, sections, used) +
            "<table><tr><th>section</th><th>kind</th><th>address</th><th class=\"n\">bytes</th>"
            "<th>share of the used bytes</th></tr>\n";
    for (const Block* block : sections) {
      const SectionUsage* usage =
          block->sectionIndex >= 0 ? &report.sections[static_cast<size_t>(block->sectionIndex)] : nullptr;
      html += "<tr id=\"" + sectionId(view, *block) + "\"><td>" +
              (usage && !usage->symbols.empty() ? symbolList(*usage, used) : escaped(toBytes(block->section))) +
              "</td><td>" + kindName(block->kind) + "</td><td class=\"a\">" + hexAddress(block->address) +
              "</td><td class=\"n\">" + exactBytes(block->size) + "</td><td><span class=\"share " +
              className(block->kind) + "\" style=\"width: " + widthOf(block->size, used) + "\"></span>" +
              shareText(block->size, used) + "</td></tr>\n";
    }
    html += "</table>\n</details>\n";
  }
}

void writeFolded(QByteArray& html, const std::vector<const SegmentUsage*>& folded) {
  if (folded.empty())
    return;
  QByteArray names;
  for (const SegmentUsage* segment : folded)
    names += (names.isEmpty() ? "" : ", ") + escaped(toBytes(segment->name));
  html += "<details class=\"folded\"><summary>" + QByteArray::number(static_cast<qulonglong>(folded.size())) +
          (folded.size() == 1 ? " segment holds" : " segments hold") + " no section: " + names +
          "</summary>\n<table><tr><th>segment</th><th>start</th><th>end</th><th class=\"n\">size</th></tr>\n";
  for (const SegmentUsage* segment : folded) {
    html += "<tr><td>" + escaped(toBytes(segment->name)) + "</td><td class=\"a\">" + hexAddress(segment->start) +
            "</td><td class=\"a\">" + hexAddress(segment->start + segment->size) + "</td><td class=\"n\">" +
            exactBytes(segment->size) + "</td></tr>\n";
  }
  html += "</table>\n</details>\n";
}

const char* const Style = R"css(body { font-family: sans-serif; margin: 16px auto; padding: 0 16px; max-width: 1400px; color: #222; }
h1 { font-size: 20px; margin: 0 0 6px; overflow-wrap: anywhere; }
h2 { font-size: 17px; margin-top: 28px; }
.verdict { margin: 0 0 12px; font-weight: bold; }
.budgets { display: grid; grid-template-columns: repeat(auto-fit, minmax(300px, 1fr)); gap: 10px 24px; }
.budget { border-left: 6px solid #2e7d32; padding: 4px 0 6px 10px; }
.budget.near { border-color: #d08c00; }
.budget.over { border-color: #c62828; background: #fdf0f0; }
.budget .name { font-size: 17px; font-weight: bold; color: inherit; }
.budget .state { font-weight: bold; color: #2e7d32; margin-left: 6px; }
.budget.near .state, .segment.near .state { color: #a86a00; fill: #a86a00; }
.budget.over .state, .segment.over .state { color: #c62828; fill: #c62828; }
.figures { font-size: 13px; color: #444; margin: 2px 0 5px; }
.meter { display: flex; height: 20px; }
.track { position: relative; display: flex; border: 1px solid #555; background: repeating-linear-gradient(45deg, #fff 0 3px, #e2e2e2 3px 6px); }
.track .run, .share.run { background: #3b6ea8; }
.track .load-image, .share.load-image { background: #e08a2e; }
.track .reserved, .share.reserved { background: repeating-linear-gradient(-45deg, #cfe0cf 0 3px, #7da87d 3px 6px); }
.track .limit { position: absolute; top: -5px; bottom: -5px; width: 0; border-left: 3px solid #111; margin-left: -1px; }
.spill { border: 1px solid #c62828; border-left: 0; background: repeating-linear-gradient(45deg, #c62828 0 4px, #f4c7c7 4px 8px); }
.picture { overflow-x: auto; }
.picture svg { display: block; width: 100%; height: auto; }
@media (max-width: 640px) { .picture svg { min-width: 560px; } }
svg text { font-size: 12px; }
.heading { font-size: 16px; font-weight: bold; text-anchor: middle; }
.segment.near .heading { fill: #a86a00; }
.segment.over .heading { fill: #c62828; }
.note { fill: #555; text-anchor: middle; }
.segment .state { font-weight: bold; fill: #2e7d32; }
.address { fill: #555; font-family: monospace; font-size: 11px; }
.size { text-anchor: end; }
.aside { fill: #333; font-size: 11px; }
.aside, .limit text, .overflow text, .address { paint-order: stroke; stroke: #fff; stroke-width: 3px; }
.free { fill: #666; text-anchor: middle; }
.mark rect { stroke: #fff; stroke-width: 0.5; }
.mark.enlarged rect { stroke: none; }
.mark:hover rect { stroke: #000; stroke-width: 2; }
.outline { fill: none; stroke: #333; stroke-width: 1.5; }
.overflow rect { fill: url(#spill); stroke: #c62828; stroke-dasharray: 4 3; }
.overflow line { stroke: #c62828; stroke-width: 3; }
.overflow text { fill: #c62828; font-weight: bold; }
.limit line { stroke: #111; stroke-width: 2; stroke-dasharray: 6 3; }
.limit text { text-anchor: end; font-weight: bold; }
.arrow { fill: none; stroke: #b35c00; stroke-width: 2; marker-end: url(#head); }
.legend text { dominant-baseline: middle; }
.scale { font-size: 13px; color: #555; max-width: 60em; }
details { margin: 6px 0; }
summary { cursor: pointer; }
table { border-collapse: collapse; font-size: 13px; margin: 6px 0 12px; }
.symbols { margin: 4px 0 8px 16px; font-size: 12px; }
.symbols td, .symbols th { padding-right: 14px; }
td, th { padding: 2px 10px 2px 0; text-align: left; vertical-align: top; }
td.n, th.n { text-align: right; }
td:last-child { white-space: nowrap; }
td.a { font-family: monospace; }
.track span { min-width: 2px; }
.share { display: inline-block; height: 10px; margin-right: 6px; min-width: 1px; max-width: 160px; }
tr:target { background: #fff3b0; }
pre { font-size: 13px; background: #f6f6f6; padding: 12px; overflow-x: auto; }
)css";

// Following a link to a section opens the drill-down that holds it, and
// the section's symbols.
const char* const Script = R"js(function openTarget() {
  var target = location.hash && document.getElementById(location.hash.slice(1));
  for (var node = target; node; node = node.parentElement) if (node.tagName === "DETAILS") node.open = true;
  var symbols = target && target.querySelector("details");
  if (symbols) symbols.open = true;
  if (target) target.scrollIntoView({block: "start"});
}
window.addEventListener("hashchange", openTarget);
openTarget();
)js";

}  // namespace

QByteArray htmlReport(const MemoryReport& report) {
  const PageOrder order = pageOrder(report);
  std::vector<SegmentView> views;
  for (const SegmentUsage* segment : order.shown) {
    views.push_back(SegmentView{segment, static_cast<size_t>(segment - report.segments.data()), budgetOf(*segment)});
  }
  // The worst news first: what is over budget, else what is near it.
  QByteArray verdict;
  for (const Budget budget : {Budget::Over, Budget::Near}) {
    for (const SegmentView& view : views) {
      if (view.budget == budget)
        verdict += escaped(toBytes(view.segment->name)) + ' ' + verdictOf(view) + ". ";
    }
    if (!verdict.isEmpty())
      break;
  }
  if (verdict.isEmpty())
    verdict = views.empty() ? QByteArray("No segment holds a section. ") : "Every segment is within budget. ";
  if (!report.outside.empty()) {
    verdict += QByteArray::number(static_cast<qulonglong>(report.outside.size())) +
               (report.outside.size() == 1 ? " block lies" : " blocks lie") + " outside every segment: see the table.";
  }

  const QByteArray title = "Memory usage of " + escaped(toBytes(report.elfFile));
  QByteArray html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
                    title + "</title>\n<style>\n" + Style + "</style>\n</head>\n<body>\n<h1>" + title +
                    "</h1>\n<p class=\"verdict\">" + verdict + "</p>\n";
  writeBudgets(html, views);
  if (!views.empty()) {
    html += "<h2>Memory map</h2>\n";
    writePicture(html, views);
    writeDrillDown(html, report, views);
  }
  writeFolded(html, order.folded);
  html += "<h2>Table</h2>\n<pre>" + escaped(textReport(report)) + "</pre>\n<script>\n" + Script +
          "</script>\n</body>\n</html>\n";
  return html;
}
