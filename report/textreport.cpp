#include "report/textreport.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "base/bytes.h"

namespace {

constexpr int BarCells = 20;

// Columns padded to their widest cell; numbers right-aligned. The last
// column is not padded, so no line ends in blanks. The cells' text lies back
// to back in one buffer: a report of 100,000 sections is 600,000 cells.
class Table {
public:
  explicit Table(std::vector<bool> rightAligned) : rightAligned_(std::move(rightAligned)) {}

  // Starts the next cell; its text is what is appended to the buffer returned.
  QByteArray& cell() {
    starts_.push_back(text_.size());
    return text_;
  }
  void cell(const QByteArray& text) { cell() += text; }
  void cell(const char* text) { cell() += text; }
  void number(uint64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    cell().append(digits, end - digits);
  }
  void address(uint64_t value) { appendHexAddress(cell(), value); }

  void write(QByteArray& out, const char* indent) const {
    const size_t columns = rightAligned_.size();
    std::vector<qsizetype> widths(columns, 0);
    for (size_t i = 0; i < starts_.size(); ++i)
      widths[i % columns] = std::max(widths[i % columns], length(i));
    out.reserve(out.size() + text_.size() + static_cast<qsizetype>(starts_.size() / columns) *
                                                 (qstrlen(indent) + 1 + 2 * static_cast<qsizetype>(columns)));
    for (size_t i = 0; i < starts_.size(); ++i) {
      const size_t column = i % columns;
      const qsizetype padding = widths[column] - length(i);
      if (column == 0)
        out += indent;
      else
        out += "  ";
      if (rightAligned_[column])
        out.append(padding, ' ');
      out.append(text_.constData() + starts_[i], length(i));
      if (column + 1 == columns)
        out += '\n';
      else if (!rightAligned_[column])
        out.append(padding, ' ');
    }
  }

private:
  qsizetype length(size_t i) const { return (i + 1 < starts_.size() ? starts_[i + 1] : text_.size()) - starts_[i]; }

  std::vector<bool> rightAligned_;
  QByteArray text_;
  std::vector<qsizetype> starts_;
};

void writeBlocks(QByteArray& out, const std::vector<Block>& blocks) {
  Table table({false, false, false, false, true, false});
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

QByteArray textReport(const MemoryReport& report) {
  QByteArray out = "Memory usage of " + toBytes(report.elfFile) + "\n\n";
  Table summary({false, false, true, true, true, true, true, true, false});
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
    out += '\n' + toBytes(segment.name) + " (" + hexAddress(segment.start) + ", " +
           QByteArray::number(static_cast<qulonglong>(segment.size)) + " bytes)\n";
    writeBlocks(out, segment.blocks);
  }
  if (!report.outside.empty()) {
    out += "\noutside every segment\n";
    writeBlocks(out, report.outside);
  }
  return out;
}
