#include "report/pagelayout.h"

#include <algorithm>
#include <cstdint>

namespace {

bool holdsSections(const SegmentUsage& segment) {
  return std::any_of(segment.blocks.begin(), segment.blocks.end(),
                     [](const Block& block) { return block.kind != BlockKind::Free && block.size > 0; });
}

}  // namespace

PageOrder pageOrder(const MemoryReport& report) {
  PageOrder order;
  for (const SegmentUsage& segment : report.segments)
    (holdsSections(segment) ? order.shown : order.folded).push_back(&segment);
  return order;
}

Budget budgetOf(const SegmentUsage& segment) {
  if (segment.overflowBytes > 0 || segment.overLimit())
    return Budget::Over;
  const uint64_t used = segment.usedBytes();
  const uint64_t budget = segment.limit ? segment.limit->bytes : segment.size;
  // In long double: ten times a 64-bit size does not fit 64 bits.
  return static_cast<long double>(used) * 10 > static_cast<long double>(budget) * 9 ? Budget::Near : Budget::Ok;
}

ColumnScale::ColumnScale(const SegmentUsage& segment, double height)
    : start_(segment.start),
      size_(segment.size),
      overflow_(segment.overflowBytes),
      height_(height),
      squeezed_(overflow_ > size_ / 4) {}

double ColumnScale::yOf(uint64_t address) const {
  if (address <= start_ || size_ == 0)
    return 0;
  const uint64_t offset = address - start_;
  const double perByte = height_ / static_cast<double>(size_);
  if (offset <= size_)
    return static_cast<double>(offset) * perByte;
  const uint64_t over = std::min(offset - size_, overflow_);
  if (!squeezed_)
    return height_ + static_cast<double>(over) * perByte;
  return height_ + static_cast<double>(over) / static_cast<double>(overflow_) * (height_ / 4);
}

double ColumnScale::overflowHeight() const {
  return overflow_ == 0 ? 0 : yOf(start_ + size_ + overflow_) - height_;
}

std::vector<Mark> columnMarks(const SegmentUsage& segment, const ColumnScale& scale, MarkSizes sizes) {
  // Blocks by address; of two at one address the larger first, and a
  // reservation before a run image of its size, so that a run section comes
  // before the run images inside it.
  std::vector<const Block*> blocks;
  for (const Block& block : segment.blocks) {
    if (block.size > 0 && blockEnd(block) > segment.start)
      blocks.push_back(&block);
  }
  std::stable_sort(blocks.begin(), blocks.end(), [](const Block* a, const Block* b) {
    if (a->address != b->address)
      return a->address < b->address;
    if (a->size != b->size)
      return a->size > b->size;
    return a->kind == BlockKind::Reserved && b->kind != BlockKind::Reserved;
  });

  std::vector<Mark> marks;
  uint64_t outerEnd = 0;
  size_t outer = 0;
  constexpr size_t NoGroup = SIZE_MAX;
  size_t group = NoGroup;  // the thin mark that thin neighbours join
  for (const Block* block : blocks) {
    const double top = scale.yOf(block->address);
    const double bottom = scale.yOf(blockEnd(*block));
    if (block->kind == BlockKind::Free) {
      // A gap thinner than a line (alignment padding) neither shows nor
      // parts the blocks around it.
      if (bottom - top >= sizes.line) {
        marks.push_back(Mark{block->kind, {block}, block->address, block->size, top, bottom - top});
        group = NoGroup;
      }
      continue;
    }
    if (block->address < outerEnd) {
      marks[outer].hasInset = true;
      Mark inset{block->kind, {block}, block->address, block->size, top, bottom - top};
      inset.inset = true;
      marks.push_back(inset);
      continue;
    }
    outerEnd = blockEnd(*block);
    const bool thin = bottom - top < sizes.label;
    if (thin && group != NoGroup && marks[group].kind == block->kind) {
      Mark& joined = marks[group];
      joined.blocks.push_back(block);
      joined.size = blockEnd(*block) - joined.address;
      joined.height = bottom - joined.top;
      outer = group;
      continue;
    }
    outer = marks.size();
    marks.push_back(Mark{block->kind, {block}, block->address, block->size, top, bottom - top});
    if (thin)
      group = outer;
    else
      group = NoGroup;
  }
  const double columnBottom = scale.yOf(segment.start + segment.size) + scale.overflowHeight();
  for (Mark& mark : marks) {
    if (mark.kind != BlockKind::Free && mark.height < sizes.line) {
      mark.enlarged = true;
      mark.height = sizes.line;
      mark.top = std::max(0.0, std::min(mark.top, columnBottom - sizes.line));
    }
  }
  return marks;
}
