// The memory report as one self-contained HTML page that fits the window
// (nothing is fetched): first one budget bar per segment that holds a
// section, with its limit line and a colour for near and over budget; then a
// picture with a column per such segment, each drawn to scale, thin sections
// grouped, overflow drawn below the segment's end, arrows from each load
// image to where it runs; then a drill-down from each segment to its
// sections and their symbols, and its bytes by object file; last the
// segments without sections, folded, and the same table as the standard
// output.
#pragma once

#include <QByteArray>

#include "report/memoryreport.h"

QByteArray htmlReport(const MemoryReport& report);
