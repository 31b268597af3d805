// The checks of the names in a loaded memory map or placement file: input
// that the tool would otherwise ignore without a word.
#pragma once

class Diagnostics;
class Document;
class MemoryMap;
class SectionPlacement;

// Warns about elements and attributes that neither file format nor the
// preprocessor knows, each with the closest known name.
void checkNames(const Document& document, Diagnostics& diagnostics);

// Warns about each placement segment whose names ("RAM2;RAM") all miss the
// memory map: its sections are placed nowhere.
void checkPlacementSegments(const MemoryMap& memoryMap, const SectionPlacement& placement,
                            Diagnostics& diagnostics);
