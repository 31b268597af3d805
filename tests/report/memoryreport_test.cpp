// The report's byte accounting on a hand-made program: overlaps, clipping,
// load images, sections on a segment's edge, outside every segment, and
// overlapping segments.
#include <gtest/gtest.h>

#include "report/memoryreport.h"

namespace {

ElfSection section(const char* name, uint64_t run, uint64_t load, uint64_t size, bool contents) {
  return {QString::fromLatin1(name), run, load, size, contents};
}

std::vector<std::string> names(const std::vector<Block>& blocks) {
  std::vector<std::string> list;
  for (const Block& block : blocks)
    list.push_back(block.kind == BlockKind::Free ? "-" : block.section.toStdString());
  return list;
}

TEST(MemoryReport, CountsEveryByteOnceAndPlacesEveryBlock) {
  ElfFile elf;
  elf.sections = {
      section(".text", 0x0, 0x0, 0x20, true),
      section(".data", 0x1000, 0x20, 0x10, true),        // stored in FLASH, runs in RAM
      section(".data_run", 0x1000, 0x1000, 0x20, false),  // reserves more than .data needs
      section(".edge", 0xf8, 0xf8, 0x10, true),           // reaches past the end of FLASH
      section(".empty", 0x100, 0x100, 0, true),           // empty, just past the end of FLASH
      section(".stack", 0x10f0, 0x10f0, 0x10, false),
      section(".far", 0x1080, 0x6000, 0x8, true),         // stored outside every segment
      section(".lost", 0x5000, 0x5000, 0x4, false),
      section(".inner", 0x2800, 0x2800, 0x4, false),      // in both ALL and INNER: INNER
      section(".outer", 0x2900, 0x2900, 0x4, false),      // past INNER's end: ALL
  };
  const std::vector<SegmentRange> segments = {{QStringLiteral("FLASH"), 0x0, 0x100},
                                              {QStringLiteral("RAM"), 0x1000, 0x100},
                                              {QStringLiteral("ALL"), 0x2000, 0x1000},
                                              {QStringLiteral("INNER"), 0x2800, 0x100}};
  const MemoryReport report = buildMemoryReport(
      QStringLiteral("x.elf"), elf, {segments, {QStringLiteral(".data_run"), QStringLiteral(".stack")}, {}});
  struct Expected {
    uint64_t run, load, reserved, free, largestGap;
    std::vector<std::string> blocks;
  };
  const Expected expected[] = {
      {0x28, 0x10, 0, 0xc8, 0xc8, {".text", ".data", "-", ".edge", ".empty"}},
      {0x18, 0, 0x20, 0xc8, 0x68, {".data", ".data_run", "-", ".far", "-", ".stack"}},
      {0x4, 0, 0, 0xffc, 0x900, {"-", ".outer", "-"}},
      {0x4, 0, 0, 0xfc, 0xfc, {".inner", "-"}},
  };
  ASSERT_EQ(report.segments.size(), std::size(expected));
  for (size_t i = 0; i < report.segments.size(); ++i) {
    const SegmentUsage& segment = report.segments[i];
    SCOPED_TRACE(segment.name.toStdString());
    EXPECT_EQ(segment.runBytes, expected[i].run);
    EXPECT_EQ(segment.loadBytes, expected[i].load);
    EXPECT_EQ(segment.reservedBytes, expected[i].reserved);
    EXPECT_EQ(segment.freeBytes, expected[i].free);
    EXPECT_EQ(segment.largestFreeGap, expected[i].largestGap);
    EXPECT_EQ(names(segment.blocks), expected[i].blocks);
  }
  EXPECT_EQ(names(report.outside), std::vector<std::string>({".far", ".lost"}));
  EXPECT_EQ(report.outside[0].kind, BlockKind::Load);
  EXPECT_EQ(report.segments[1].blocks[3].loadSegment, QString());  // .far: stored outside
}

// A section belongs to the nearest segment starting below it that holds it,
// however deeply the segments nest.
TEST(MemoryReport, NestedSegmentsGiveASectionToTheNearestHolder) {
  const std::vector<SegmentRange> segments = {{QStringLiteral("OUTER"), 0x2000, 0x1000},
                                              {QStringLiteral("MIDDLE"), 0x2100, 0x800},
                                              {QStringLiteral("INNER"), 0x2500, 0x100},
                                              {QStringLiteral("TAIL"), 0x4000, 0x10}};
  const struct {
    uint64_t address, size;
    const char* segment;  // null: outside every segment
  } cases[] = {
      {0x2000, 4, "OUTER"},  {0x2100, 4, "MIDDLE"}, {0x2550, 4, "INNER"}, {0x2600, 4, "MIDDLE"},
      {0x2700, 4, "MIDDLE"}, {0x2900, 4, "OUTER"},  {0x3000, 0, "OUTER"}, {0x3000, 4, nullptr},
      {0x1fff, 4, nullptr},  {0x3800, 4, nullptr},  {0x400f, 1, "TAIL"},  {0x2600, 0, "MIDDLE"},
  };
  for (const auto& c : cases) {
    ElfFile elf;
    elf.sections = {section(".s", c.address, c.address, c.size, false)};
    const MemoryReport report = buildMemoryReport(QStringLiteral("x.elf"), elf, {segments, {}, {}});
    std::string holder;
    for (const SegmentUsage& segment : report.segments) {
      if (names(segment.blocks) != std::vector<std::string>{"-"})
        holder = segment.name.toStdString();
    }
    EXPECT_EQ(holder, c.segment ? c.segment : "") << std::hex << c.address;
  }
}

// A section the linker pushed past its segment counts against the segment
// its placement names, with the part of a block that reaches over the end.
TEST(MemoryReport, CountsOverflowAgainstTheSegmentPlaced) {
  ElfFile elf;
  elf.sections = {section(".text", 0x0, 0x0, 0xf0, true), section(".rodata", 0xf0, 0xf0, 0x20, true),
                  section(".tail", 0x120, 0x120, 0x8, true), section(".elsewhere", 0x5000, 0x5000, 0x4, true)};
  const MemoryReport report = buildMemoryReport(
      QStringLiteral("x.elf"), elf,
      {{{QStringLiteral("FLASH"), 0x0, 0x100}}, {}, {{QStringLiteral(".tail"), QStringLiteral("FLASH")}}});
  const SegmentUsage& flash = report.segments[0];
  EXPECT_EQ(flash.overflowBytes, 0x18u);
  EXPECT_EQ(flash.usedBytes(), 0x118u);
  EXPECT_EQ(names(flash.blocks), std::vector<std::string>({".text", ".rodata", ".tail"}));
  EXPECT_EQ(names(report.outside), std::vector<std::string>({".elsewhere"}));
  EXPECT_TRUE(report.fails());
}

}  // namespace
