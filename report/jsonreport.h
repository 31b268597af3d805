// The memory report as JSON for tools: the same numbers as the table, keys in
// a fixed order, every number an integer number of bytes or an address.
//
// {"file": ..., "segments": [{"name", "start", "size", "run", "load",
//  "reserved", "free", "largestGap", "usedPercent", "blocks": [{"section",
//  "kind", "runAddress", "loadAddress", "size", "loadSegment"}]}],
//  "outside": [blocks]}
// A free block has "section": null; "loadAddress" and "loadSegment" are null
// where there is nothing to load or it lies outside every segment.
#pragma once

#include <QByteArray>

#include "report/memoryreport.h"

QByteArray jsonReport(const MemoryReport& report);
