// The page's decisions without a browser: which segments come first, the
// budget colours, and a column drawn to scale with thin sections grouped.
#include <gtest/gtest.h>

#include "report/pagelayout.h"

namespace {

SegmentUsage segment(const char* name, uint64_t start, uint64_t size, std::vector<Block> blocks) {
  SegmentUsage usage;
  usage.name = QString::fromLatin1(name);
  usage.start = start;
  usage.size = size;
  usage.blocks = std::move(blocks);
  usage.freeBytes = size;
  for (const Block& block : usage.blocks)
    usage.freeBytes -= block.kind == BlockKind::Free ? 0 : std::min(block.size, usage.freeBytes);
  return usage;
}

Block block(BlockKind kind, uint64_t address, uint64_t size, const char* name = "") {
  return {kind, QString::fromLatin1(name), address, size, address, std::nullopt, QString()};
}

TEST(PageLayout, SegmentsWithSectionsFirstAndEmptyOnesFolded) {
  MemoryReport report;
  report.segments = {segment("UART0", 0x1000, 0x100, {block(BlockKind::Free, 0x1000, 0x100)}),
                     segment("FLASH", 0x2000, 0x100, {block(BlockKind::Run, 0x2000, 0x10, ".text")}),
                     segment("EMPTY", 0x3000, 0x100, {block(BlockKind::Run, 0x3000, 0, ".marker")}),
                     segment("RAM", 0x4000, 0x100, {block(BlockKind::Reserved, 0x40f0, 0x10, ".stack")})};
  const PageOrder order = pageOrder(report);
  ASSERT_EQ(order.shown.size(), 2u);
  EXPECT_EQ(order.shown[0]->name, QStringLiteral("FLASH"));
  EXPECT_EQ(order.shown[1]->name, QStringLiteral("RAM"));
  ASSERT_EQ(order.folded.size(), 2u);
  EXPECT_EQ(order.folded[0]->name, QStringLiteral("UART0"));
}

TEST(PageLayout, BudgetIsOverPastTheLimitOrTheEndAndNearAboveNineTenths) {
  const struct {
    uint64_t used, overflow;
    std::optional<uint64_t> limit;
    Budget expected;
  } cases[] = {{900, 0, std::nullopt, Budget::Ok}, {901, 0, std::nullopt, Budget::Near},
               {1000, 0, std::nullopt, Budget::Near}, {1000, 1, std::nullopt, Budget::Over},
               {450, 0, 500, Budget::Ok},           {451, 0, 500, Budget::Near},
               {500, 0, 500, Budget::Near},         {501, 0, 500, Budget::Over}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.used);
    SegmentUsage ram = segment("RAM", 0, 1000, {block(BlockKind::Run, 0, c.used + c.overflow, ".bss")});
    ram.overflowBytes = c.overflow;
    if (c.limit)
      ram.limit = SegmentLimit{QStringLiteral("50"), *c.limit};
    EXPECT_EQ(budgetOf(ram), c.expected);
  }
}

TEST(PageLayout, ColumnIsToScaleWithThinSectionsGroupedAndOverflowBelow) {
  // 120 sections of 40 bytes (2 px each at 0.05 px per byte), a 3,200-byte
  // table, 2 bytes alone after a gap, then free space.
  std::vector<Block> blocks;
  for (uint64_t i = 0; i < 120; ++i)
    blocks.push_back(block(BlockKind::Run, i * 40, 40, ".t"));
  blocks.push_back(block(BlockKind::Run, 4800, 3200, ".table"));
  blocks.push_back(block(BlockKind::Free, 8000, 1000));
  blocks.push_back(block(BlockKind::Run, 9000, 2, ".tiny"));
  blocks.push_back(block(BlockKind::Free, 9002, 6998));
  const SegmentUsage flash = segment("FLASH", 0, 16000, blocks);
  const ColumnScale scale(flash, 800);
  const std::vector<Mark> marks = columnMarks(flash, scale);
  ASSERT_EQ(marks.size(), 5u);
  EXPECT_EQ(marks[0].blocks.size(), 120u);  // one group, to scale: 4,800 bytes are 240 px
  EXPECT_DOUBLE_EQ(marks[0].height, 240);
  EXPECT_EQ(marks[1].blocks.front()->section, QStringLiteral(".table"));
  EXPECT_DOUBLE_EQ(marks[1].top, 240);
  EXPECT_DOUBLE_EQ(marks[1].height, 160);
  EXPECT_TRUE(marks[3].enlarged);  // 0.1 px: drawn as a 3 px line at its own place
  EXPECT_DOUBLE_EQ(marks[3].top, 450);
  EXPECT_DOUBLE_EQ(marks[3].height, 3);
  EXPECT_DOUBLE_EQ(marks[4].top + marks[4].height, 800);  // the column ends where the segment ends
  // Of two blocks at one address the larger is drawn first and holds the other inset.
  const SegmentUsage nested =
      segment("RAM", 0, 1000, {block(BlockKind::Run, 0, 40, ".inner"), block(BlockKind::Run, 0, 100, ".outer")});
  const std::vector<Mark> nestedMarks = columnMarks(nested, ColumnScale(nested, 800));
  ASSERT_GE(nestedMarks.size(), 2u);
  EXPECT_EQ(nestedMarks[0].blocks.front()->section, QStringLiteral(".outer"));
  EXPECT_TRUE(nestedMarks[1].inset);
  // An address below the segment's start is drawn at its top, not wrapped around.
  EXPECT_DOUBLE_EQ(ColumnScale(segment("RAM", 0x1000, 16000, {}), 800).yOf(0x800), 0);

  // Overflow up to a quarter of the segment is drawn at the same scale, more
  // is squeezed into a quarter of the column.
  for (const auto& [overflow, height, squeezed] :
       {std::tuple{4000u, 200.0, false}, std::tuple{48000u, 200.0, true}, std::tuple{800u, 40.0, false}}) {
    SegmentUsage full = segment("FLASH", 0, 16000, {block(BlockKind::Run, 0, 16000 + overflow, ".rodata")});
    full.overflowBytes = overflow;
    const ColumnScale overflowing(full, 800);
    EXPECT_DOUBLE_EQ(overflowing.overflowHeight(), height);
    EXPECT_EQ(overflowing.overflowSqueezed(), squeezed);
  }
}

}  // namespace
