// The memory report as the table printed on the standard output: one line
// per segment with its usage, then each segment's blocks in address order,
// then what lies outside every segment.
#pragma once

#include <QByteArray>

#include "report/memoryreport.h"

QByteArray textReport(const MemoryReport& report);

// "[##=++.......]": one cell per twentieth of the segment, marked '#' for
// run images, '=' for load images and '+' for reservations; a cell that is
// only partly used counts as used.
QByteArray usageBar(const SegmentUsage& segment);

// "93.1%": one decimal.
QByteArray percentText(double percent);
