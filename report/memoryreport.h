// What the memory report shows: every segment with the bytes a linked
// program uses in it, block by block. It is built once from the ELF and the
// memory map (and the placement's intent, when there is one); the table, the
// JSON and the HTML page only print it, so the three always agree.
#pragma once

#include <QByteArray>
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
};

// The address just past a block; the top of the address space for a block
// that would reach beyond it.
uint64_t blockEnd(const Block& block);

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
  std::vector<Block> blocks;  // address order, free space included

  uint64_t usedBytes() const { return size - freeBytes; }
  double usedPercent() const { return size ? 100.0 * static_cast<double>(usedBytes()) / static_cast<double>(size) : 0.0; }
};

struct MemoryReport {
  QString elfFile;
  std::vector<SegmentUsage> segments;  // in the order given (the driver gives address order)
  std::vector<Block> outside;          // blocks that lie in no segment, in section order
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
};
LayoutIntent layoutIntent(const LayoutModel& model);

// A section lies in the segment that holds its address; of overlapping
// segments, the one that starts nearest below it. An empty section just past
// a segment's end still belongs to it.
MemoryReport buildMemoryReport(const QString& elfFile, const ElfFile& elf, const std::vector<SegmentRange>& segments,
                               const QSet<QString>& reservations);
