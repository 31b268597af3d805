// The document loader: reads a memory map or a section placement through
// the load context (read, preprocess, import, resolve) into a plain value.
// A load that fails has reported why through the context's diagnostics,
// with the plain error the default output shows ("cannot load memory map
// file"), and gives nothing.
#pragma once

#include <QString>
#include <optional>

#include "memorymap/document.h"

class LoadContext;

// `macros`: the macro list of the command line ("A=1;B=2").
std::optional<MemoryMap> loadMemoryMap(LoadContext& context, const QString& path, const QString& macros);
std::optional<SectionPlacement> loadSectionPlacement(LoadContext& context, const QString& path,
                                                     const QString& macros);

// The memory map of a -memory-map-segments list ("NAME ACCESS START SIZE"
// entries separated by ';'; the last entry of a name counts, entries of
// other shapes are skipped).
MemoryMap memoryMapOfSegments(LoadContext& context, const QString& segments);
