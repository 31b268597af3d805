// The memory report as JSON for tools: the same numbers as the table, keys in
// a fixed order, every number an integer number of bytes or an address
// (but "usedPercent", one decimal, and a limit's "percent", as written).
//
// {"formatVersion": 2, "file", "outcome": "pass"|"fail",
//  "segments": [{"name", "start", "size", "used", "run", "load", "reserved",
//    "free", "overflow", "largestGap", "usedPercent",
//    "limit": null|{"percent", "bytes", "held"},
//    "blocks": [{"section", "kind", "runAddress", "loadAddress", "size", "loadSegment"}]}],
//  "outside": [blocks],
//  "sections": [{"name", "segment", "runAddress", "size",
//    "symbols": [{"name", "address", "size"}] (largest first)}],
//  "objectSource": null|"dwarf"|"map",
//  "objects": [{"object", "library", "section", "size"}]}
// A free block has "section": null; "loadAddress" and "loadSegment" are null
// where there is nothing to load or it lies outside every segment. The
// version grows when a key changes meaning or goes away.
#pragma once

#include <QByteArray>

#include "report/memoryreport.h"

constexpr int JsonFormatVersion = 2;

QByteArray jsonReport(const MemoryReport& report);
