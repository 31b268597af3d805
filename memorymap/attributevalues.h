// The -diagnostics rules for attribute values that mkld reads itself and
// that a mistake turns into another meaning without a word: an alignment
// that is no plain power of two, an access other than ReadOnly and
// ReadWrite, a yes/no attribute with another value.
#pragma once

class Diagnostics;
class Document;
class MemoryMapElement;
class ReportedOnce;

// Warns at the value of each such attribute of `element`, a node of
// `document`, once per place (`reported`).
void checkAttributeValues(const Document& document, const MemoryMapElement& element, Diagnostics& diagnostics,
                          ReportedOnce& reported);
