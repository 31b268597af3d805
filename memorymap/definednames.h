// The -diagnostics rules for names that the script gets twice or not at
// all: a placed section without a name, a section placed twice (a loop
// that makes the same name more than once included), a memory-map segment
// defined twice, and two memory-map segments whose ranges overlap.
#pragma once

class Diagnostics;
class MemoryMap;
class SectionPlacement;

// Warns about the sections of the placement's segments.
void checkSectionNames(const SectionPlacement& placement, Diagnostics& diagnostics);

// Warns about the segments of the memory map.
void checkSegmentNames(const MemoryMap& memoryMap, Diagnostics& diagnostics);
