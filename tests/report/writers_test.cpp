// The writers on the checked-in program (tests/report/data/small.elf; the
// table and JSON of tests/e2e/cases/report_small are golden files): the HTML
// page's promises, which a byte-for-byte golden would restate.
#include <gtest/gtest.h>

#include <cstdio>

#include "report/comparison.h"
#include "report/elffile.h"
#include "report/htmlreport.h"
#include "report/jsonreport.h"
#include "report/memoryreport.h"
#include "report/textreport.h"

namespace {

TEST(Writers, PageNamesEverythingEscapedAndJsonReadsBackWhateverTheNames) {
  QString error;
  std::optional<ElfFile> elf = readElfFile(QStringLiteral(MKLD_SOURCE_DIR "/tests/report/data/small.elf"), &error);
  ASSERT_TRUE(elf) << error.toStdString();
  elf->sections.push_back({QStringLiteral("<b>&\""), 0x30000000, 0x30000000, 4, false});
  // A symbol name that is not UTF-8 (a byte of 0xb7).
  elf->symbols.push_back({QString::fromLatin1("\xb7x"), 0x30000000, 4, elf->sections.size() - 1});
  LayoutIntent intent;
  intent.segments = {{QStringLiteral("FLASH"), 0x08000000, 0x10000},
                     {QStringLiteral("RAM"), 0x20000000, 0x4000},
                     {QStringLiteral("A<B"), 0x30000000, 0x10}};
  MemoryReport report = buildMemoryReport(QStringLiteral("small.elf"), *elf, intent);
  report.segments[1].limit = SegmentLimit{QStringLiteral("25"), 0x1000};
  const std::string page = htmlReport(report).toStdString();

  EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(page.find("</html>"), std::string::npos);
  for (const char* fetch : {"src=", "href=\"http", "url(h", "@import"})
    EXPECT_EQ(page.find(fetch), std::string::npos) << fetch;
  for (const char* name : {">FLASH<", ">RAM<", ".text", ".rodata", ".data", ".bss", ".stack", "A&lt;B",
                           "&lt;b&gt;&amp;&quot;", "0x20003c00", ">small_lib_table<"})
    EXPECT_NE(page.find(name), std::string::npos) << name;
  EXPECT_EQ(page.find("<b>&"), std::string::npos);
  // The arrow of .data leaves its load image in FLASH for its run image in
  // RAM, the column to the right, rather than looping back to FLASH.
  const std::string arrow = "<path class=\"arrow\" d=\"M ";
  const std::size_t at = page.find(arrow);
  ASSERT_NE(at, std::string::npos);
  double fromX = 0, fromY = 0, toX = 0, toY = 0;
  ASSERT_EQ(std::sscanf(page.c_str() + at + arrow.size(), "%lf %lf C %*f %*f, %*f %*f, %lf %lf", &fromX, &fromY,
                        &toX, &toY), 4);
  EXPECT_GT(toX, fromX);

  // The JSON is valid whatever the names, and reads back as the same report.
  const std::optional<Comparison> same = compareWithJson(report, QStringLiteral("old"), jsonReport(report), &error);
  ASSERT_TRUE(same) << error.toStdString();
  EXPECT_TRUE(same->symbols.empty() && same->sections.empty());
}

TEST(TextReport, TopSaysWhenTheElfHasNoSizedSymbols) {
  MemoryReport report;
  report.sections.push_back({QStringLiteral(".text"), QStringLiteral("FLASH"), 0, 8, {}});
  EXPECT_NE(textReport(report, TextOptions{5}).indexOf("Largest symbols: none"), -1);
}

}  // namespace
