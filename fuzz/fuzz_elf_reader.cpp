// The ELF reader on any bytes; what it accepts goes on through the report
// model and all three renderers, with segments around the usual addresses
// and at the ends of the address space.
#include "report/comparison.h"
#include "report/elffile.h"
#include "report/htmlreport.h"
#include "report/jsonreport.h"
#include "report/textreport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QString error;
  const std::optional<ElfFile> elf =
      readElfImage(reinterpret_cast<const char*>(data), size, QStringLiteral("input"), &error);
  if (!elf) {
    if (error.isEmpty())
      __builtin_trap();  // a failure must say why
    return 0;
  }
  // What was accepted was checked: every symbol lies in a section read.
  for (const ElfSymbol& symbol : elf->symbols) {
    if (symbol.section >= elf->sections.size() || symbol.size == 0)
      __builtin_trap();
  }
  const std::vector<SegmentRange> segments = {{QStringLiteral("LOW"), 0, 0x10000},
                                              {QStringLiteral("FLASH"), 0x08000000, 0x10000},
                                              {QStringLiteral("RAM"), 0x20000000, 0x4000},
                                              {QStringLiteral("INSIDE"), 0x20001000, 0x100},
                                              {QStringLiteral("TOP"), 0xffff0000, 0x10000}};
  // Sections named .text and .bss that lie in no segment overflow FLASH and RAM.
  MemoryReport report = buildMemoryReport(
      QStringLiteral("input"), *elf,
      {segments, {QStringLiteral(".stack")}, {{QStringLiteral(".text"), QStringLiteral("FLASH")},
                                              {QStringLiteral(".bss"), QStringLiteral("RAM")}}});
  report.segments[2].limit = SegmentLimit{QStringLiteral("50"), 0x2000};
  for (const SegmentUsage& segment : report.segments) {
    if (segment.runBytes + segment.loadBytes + segment.reservedBytes + segment.freeBytes != segment.size)
      __builtin_trap();  // every byte counted once
  }
  textReport(report, TextOptions{3});
  const QByteArray json = jsonReport(report);
  // A report compares with its own JSON without a change.
  QString compareError;
  const std::optional<Comparison> comparison = compareWithJson(report, QStringLiteral("old"), json, &compareError);
  if (!comparison || !comparison->sections.empty() || !comparison->symbols.empty())
    __builtin_trap();
  comparisonMarkdown(*comparison);
  htmlReport(report);
  return 0;
}
