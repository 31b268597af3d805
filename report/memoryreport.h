// What the memory report shows: every segment with the bytes a linked
// program uses in it, block by block. It is built once from the ELF and the
// memory map (and the placement's intent, when there is one); the table, the
// JSON and the HTML page only print it, so the three always agree.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "report/elffile.h"

struct LayoutModel;

enum class BlockKind {
  Run,       // a section where it runs (and is stored, unless it has a load image)
  Load,      // the stored copy of a section that runs elsewhere
  Reserved,  // space a section holds for later use: a stack, a heap, a run section
  Free,      // bytes of the segment nothing lies in
};

struct Block {
  BlockKind kind = BlockKind::Free;
  QString section;       // empty for free space
  uint64_t address = 0;  // where the block lies: the load address of a load image, else the run address
  uint64_t size = 0;
  uint64_t runAddress = 0;
  std::optional<uint64_t> loadAddress;  // none: nothing to load (no contents, or free space)
  QString loadSegment;                  // the segment holding the stored copy; empty: none, or outside every segment
  int sectionIndex = -1;                // index into MemoryReport::sections; -1 for free space
};

// The address just past a block; the top of the address space for a block
// that would reach beyond it.
uint64_t blockEnd(const Block& block);

// The most a segment may use, from a -limit: a percent of its size, as
// bytes rounded down.
struct SegmentLimit {
  QString percentText;  // as written, without "%"
  uint64_t bytes = 0;
};

struct SegmentUsage {
  QString name;
  uint64_t start = 0;
  uint64_t size = 0;
  // Bytes of the segment, each counted once: where a run image and a
  // reservation overlap (a run section and its clients), the run image counts.
  uint64_t runBytes = 0;
  uint64_t loadBytes = 0;
  uint64_t reservedBytes = 0;
  uint64_t freeBytes = 0;
  uint64_t largestFreeGap = 0;
  // Bytes of its blocks that lie past its end, each counted once: a block
  // that reaches over the end, and one the placement put in this segment
  // that the linker pushed out of it altogether.
  uint64_t overflowBytes = 0;
  std::vector<Block> blocks;  // address order, free space included; the last may reach past the end
  std::optional<SegmentLimit> limit;

  // Above the size when the segment overflows.
  uint64_t usedBytes() const { return size - freeBytes + overflowBytes; }
  double usedPercent() const { return size ? 100.0 * static_cast<double>(usedBytes()) / static_cast<double>(size) : 0.0; }
  bool overLimit() const { return limit && usedBytes() > limit->bytes; }
};

// A function or object of a section, from the symbol table.
struct SymbolUsage {
  QString name;
  uint64_t address = 0;
  uint64_t size = 0;
};

// An allocated section and what is in it: the step from a segment's blocks
// down to symbols.
struct SectionUsage {
  QString name;
  QString segment;  // where it runs; empty: outside every segment
  uint64_t runAddress = 0;
  uint64_t size = 0;
  std::vector<SymbolUsage> symbols;  // largest first; equal sizes by address, then name
};

// The bytes one object file puts into one section.
struct ObjectUsage {
  QString object;   // the object file; from DWARF, the compilation unit's source file
  QString library;  // the archive it was taken from; empty: none (or not known, from DWARF)
  QString section;  // the output section
  uint64_t size = 0;
};

enum class ObjectSource { None, Dwarf, MapFile };

struct MemoryReport {
  QString elfFile;
  std::vector<SegmentUsage> segments;  // in the order given (the driver gives address order)
  std::vector<Block> outside;          // blocks that lie in no segment, in section order
  std::vector<SectionUsage> sections;  // every allocated section, in section-header order
  std::vector<ObjectUsage> objects;    // by object file, then section; empty without DWARF or a map file
  ObjectSource objectSource = ObjectSource::None;

  // Whether any segment overflows or is over its limit: the run fails.
  bool fails() const;
};

struct SegmentRange {
  QString name;  // as the script names it: blanks are "_"
  uint64_t start = 0;
  uint64_t size = 0;
};

// How the report names a kind and writes an address, in every format:
// "run", "load image", "reserved", "free"; 0x and 8 hexadecimal digits, 16
// for an address above 32 bits.
const char* kindName(BlockKind kind);
QByteArray hexAddress(uint64_t address);
void appendHexAddress(QByteArray& out, uint64_t address);

// What the script's section list means for the report: the segments of its
// MEMORY block, in address order, and the sections that are reservations:
// run sections (which hold room for the sections that run in them) and
// sections with a size that are not loaded (a stack, a heap). The list is
// enough; the layout walk (addresses, output order) is the linker's, and its
// result is in the ELF.
struct LayoutIntent {
  std::vector<SegmentRange> segments;
  QSet<QString> reservations;
  // The segment each section is placed in: where a section that the linker
  // put outside every segment overflowed from.
  QHash<QString, QString> placedIn;
};
LayoutIntent layoutIntent(const LayoutModel& model);

// A section lies in the segment that holds its address; of overlapping
// segments, the one that starts nearest below it. An empty section just past
// a segment's end still belongs to it; one outside every segment belongs to
// the segment the intent places it in, as overflow.
MemoryReport buildMemoryReport(const QString& elfFile, const ElfFile& elf, const LayoutIntent& intent);
