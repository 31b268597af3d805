// Loading the two input documents, the same way for both tools.
#pragma once

class MemoryMap;
struct InputOptions;

// Loads the memory map, from its file or from the -memory-map-segments list,
// adds the segments of the -memory-map-dtb devicetree that it does not name,
// and then the placement file when one is named; returns whether it was.
// `verbose` names each file on standard output before it is read. Throws
// FatalError when a file cannot be loaded. The documents report through the
// diagnostics the caller has set on them.
bool loadInputs(const InputOptions& options, bool verbose, MemoryMap& memoryMap, MemoryMap& placement);
