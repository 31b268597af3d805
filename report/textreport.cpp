#include "report/textreport.h"

#include <algorithm>
#include <vector>

#include "base/bytes.h"

namespace {

constexpr int BarCells = 20;

// Columns padded to their widest cell; numbers right-aligned. The last
// column is not padded, so no line ends in blanks.
class Table {
public:
  explicit Table(std::vector<bool> rightAligned) : rightAligned_(std::move(rightAligned)) {}

  void add(std::vector<QByteArray> row) { rows_.push_back(std::move(row)); }

  void write(QByteArray& out, const char* indent) const {
    std::vector<qsizetype> widths(rightAligned_.size(), 0);
    for (const auto& row : rows_) {
      for (size_t i = 0; i < row.size(); ++i)
        widths[i] = std::max(widths[i], row[i].size());
    }
    for (const auto& row : rows_) {
      out += indent;
      for (size_t i = 0; i < row.size(); ++i) {
        const bool last = i + 1 == row.size();
        if (i > 0)
          out += "  ";
        if (rightAligned_[i])
          out += row[i].rightJustified(widths[i], ' ');
        else
          out += last ? row[i] : row[i].leftJustified(widths[i], ' ');
      }
      out += '\n';
    }
  }

private:
  std::vector<bool> rightAligned_;
  std::vector<std::vector<QByteArray>> rows_;
};

QByteArray number(uint64_t value) {
  return QByteArray::number(static_cast<qulonglong>(value));
}

void writeBlocks(QByteArray& out, const std::vector<Block>& blocks) {
  Table table({false, false, false, false, true, false});
  table.add({"section", "kind", "run address", "load address", "size", "load image in"});
  for (const Block& block : blocks) {
    const bool free = block.kind == BlockKind::Free;
    table.add({free ? QByteArray("(free)") : toBytes(block.section), kindName(block.kind),
               hexAddress(block.runAddress), block.loadAddress ? hexAddress(*block.loadAddress) : QByteArray("-"),
               number(block.size), block.loadSegment.isEmpty() ? QByteArray("-") : toBytes(block.loadSegment)});
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
  summary.add({"segment", "start", "size", "run", "load", "reserved", "free", "largest gap", "used"});
  for (const SegmentUsage& segment : report.segments) {
    summary.add({toBytes(segment.name), hexAddress(segment.start), number(segment.size), number(segment.runBytes),
                 number(segment.loadBytes), number(segment.reservedBytes), number(segment.freeBytes),
                 number(segment.largestFreeGap),
                 usageBar(segment) + ' ' + percentText(segment.usedPercent()).rightJustified(6, ' ')});
  }
  summary.write(out, "");
  for (const SegmentUsage& segment : report.segments) {
    out += '\n' + toBytes(segment.name) + " (" + hexAddress(segment.start) + ", " + number(segment.size) +
           " bytes)\n";
    writeBlocks(out, segment.blocks);
  }
  if (!report.outside.empty()) {
    out += "\noutside every segment\n";
    writeBlocks(out, report.outside);
  }
  return out;
}
