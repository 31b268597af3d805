// Where a placement segment's sections go in the memory map.
#pragma once

class Document;
class MemoryMapElement;
class QString;

// The memory-map segment that a placement segment's name gives: of
// alternatives "RAM2;RAM", the first name the memory map has; null when it
// has none of them.
const MemoryMapElement* memoryMapSegmentFor(const Document& memoryMap, const QString& names);
