// The memory report as one self-contained HTML page: an SVG picture with a
// column per segment drawn to scale (tiny sections get a minimum height so
// that they stay visible), labelled blocks, hatched free space, arrows from
// each load image to where it runs and the numbers of each block on hover;
// below it the same table as the standard output. Nothing is fetched.
#pragma once

#include <QByteArray>

#include "report/memoryreport.h"

QByteArray htmlReport(const MemoryReport& report);
