// The memory report as the table printed on the standard output: one line
// per segment with its usage and a line per segment that overflows, then
// each segment's blocks in address order, then what lies outside every
// segment; on request the largest symbols and object files.
#pragma once

#include <QByteArray>

#include "report/memoryreport.h"

struct TextOptions {
  // With N > 0, also the N largest symbols of each section and the N
  // largest object files and libraries.
  int top = 0;
};

QByteArray textReport(const MemoryReport& report, const TextOptions& options = {});

// "[##=++.......]": one cell per twentieth of the segment, marked '#' for
// run images, '=' for load images and '+' for reservations; a cell that is
// only partly used counts as used.
QByteArray usageBar(const SegmentUsage& segment);

// "93.1%": one decimal.
QByteArray percentText(double percent);

// "59,004": a count of bytes with its thousands grouped, as messages write it.
QByteArray groupedNumber(uint64_t value);
