// The ELF reader on any bytes; what it accepts must hold its section-header
// table and be refused when cut inside it, and goes on through the report
// model and all the writers, with segments around the usual addresses and at
// the ends of the address space.
#include "report/comparison.h"
#include "report/elffile.h"
#include "report/htmlreport.h"
#include "report/jsonreport.h"
#include "report/textreport.h"

namespace {

// A little-endian field of the ELF header, read here rather than by the
// reader under test.
uint64_t field(const uint8_t* data, size_t offset, size_t bytes) {
  uint64_t value = 0;
  for (size_t i = bytes; i-- > 0;)
    value = value << 8 | data[offset + i];
  return value;
}

// Where the section-header table ends, by the header's own fields; 0 when
// there is none or its count is kept elsewhere (extended numbering).
uint64_t sectionHeadersEnd(const uint8_t* data, size_t size) {
  const bool is64 = size > 4 && data[4] == 2;
  if (size < (is64 ? 64u : 52u))
    return 0;
  const uint64_t offset = is64 ? field(data, 0x28, 8) : field(data, 0x20, 4);
  const uint64_t entrySize = field(data, is64 ? 0x3a : 0x2e, 2);
  const uint64_t count = field(data, is64 ? 0x3c : 0x30, 2);
  return count == 0 ? 0 : offset + count * entrySize;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QString error;
  const std::optional<ElfFile> elf =
      readElfImage(reinterpret_cast<const char*>(data), size, QStringLiteral("input"), &error);
  if (!elf) {
    if (error.isEmpty())
      __builtin_trap();  // a failure must say why
    return 0;
  }
  // An accepted file holds its whole section-header table, and the same
  // file cut inside that table is refused, saying why.
  if (const uint64_t end = sectionHeadersEnd(data, size); end > 0) {
    if (end > size)
      __builtin_trap();
    QString cutError;
    if (readElfImage(reinterpret_cast<const char*>(data), end - 1, QStringLiteral("cut"), &cutError) ||
        cutError.isEmpty())
      __builtin_trap();
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
