// Loading the two input documents, the same way for both tools.
#pragma once

#include <optional>

#include "memorymap/document.h"

class LoadContext;
struct InputOptions;

struct LoadedInputs {
  MemoryMap memoryMap;
  std::optional<SectionPlacement> placement;  // none without a placement file
};

// Loads the memory map, from its file or from the -memory-map-segments list,
// adds the segments of the -memory-map-dtb devicetree that it does not name,
// and then loads the placement file when one is named, through `context`.
// `verbose` names each file on standard output before it is read. Nothing
// when a file cannot be loaded: why has been reported through the context.
// Throws FatalError when the devicetree cannot be read.
std::optional<LoadedInputs> loadInputs(LoadContext& context, const InputOptions& options, bool verbose);
