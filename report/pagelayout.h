// What the HTML page decides before it draws anything: which segments come
// first, how full each is against its budget, and how a segment's blocks
// become marks in a column drawn to scale. Kept apart from the markup so that
// these decisions can be checked without a browser.
#pragma once

#include <cstdint>
#include <vector>

#include "report/memoryreport.h"

// Segments that hold a section come first, in the report's (address)
// order; segments without any (peripheral windows, spare banks) are folded
// away at the end, since they have nothing to show.
struct PageOrder {
  std::vector<const SegmentUsage*> shown;
  std::vector<const SegmentUsage*> folded;
};
PageOrder pageOrder(const MemoryReport& report);

// A segment is over budget when it overflows or uses more bytes than its
// limit, near when it uses more than nine tenths of its budget (the limit,
// or the whole segment when it has none).
enum class Budget { Ok, Near, Over };
Budget budgetOf(const SegmentUsage& segment);

// A column maps addresses to heights at one scale from the segment's start
// to its end. What overflows is drawn below the end, at the same scale up to
// a quarter of the column and squeezed into that quarter beyond it.
class ColumnScale {
public:
  ColumnScale(const SegmentUsage& segment, double height);
  double yOf(uint64_t address) const;     // 0 at the start
  double overflowHeight() const;          // below the end
  bool overflowSqueezed() const { return squeezed_; }

private:
  uint64_t start_;
  uint64_t size_;
  uint64_t overflow_;
  double height_;
  bool squeezed_;
};

// One thing drawn in a column: a block, or a run of neighbouring blocks of one
// kind too thin to draw one by one (a group). Free space is drawn as the
// column's background, but also gets marks, for its tooltip.
struct Mark {
  BlockKind kind = BlockKind::Free;
  std::vector<const Block*> blocks;  // one, or the members of a group
  uint64_t address = 0;
  uint64_t size = 0;  // bytes the marks's blocks cover, from the first start to the last end
  double top = 0;
  double height = 0;
  bool enlarged = false;  // thinner than a line at scale: drawn as one
  bool inset = false;     // lies inside an earlier mark (a run image in its run section)
  bool hasInset = false;  // a later mark lies inside it

  bool isGroup() const { return blocks.size() > 1; }
};

// Thresholds of the column, in pixels.
struct MarkSizes {
  double label = 14;  // thinner blocks are grouped with their thin neighbours
  double line = 3;    // the thinnest mark drawn; thinner ones are enlarged to it
};

// The marks of a segment in address order, every top and height at the
// column's scale except an enlarged mark's height.
std::vector<Mark> columnMarks(const SegmentUsage& segment, const ColumnScale& scale, MarkSizes sizes = {});
