// Turns the loaded memory map and section placement into a GNU ld script:
// the MEMORY block, the segment symbols, the symbol definitions and one
// output-section statement per program section.
#pragma once

#include <QMap>
#include <QString>
#include <string>

#include "ldscript/layoutmodel.h"
#include "ldscript/scriptoptions.h"

class Diagnostics;
class MemoryMap;
class SectionPlacement;

struct LinkerScriptInputs : ScriptOptions {
  const MemoryMap* memoryMap = nullptr;  // required
  const SectionPlacement* placement = nullptr;  // none without a placement file
};

// The layout every writer prints: section list, end placement and layout
// walk. Prints the -verbose progress lines, reports the end-placement
// warnings to `diagnostics` and throws the layout's errors as FatalError. The
// model borrows the documents.
LayoutModel computeLayout(const LinkerScriptInputs& inputs, Diagnostics& diagnostics);

// The whole script text, as bytes, made as computeLayout() says.
std::string generateLinkerScript(const LinkerScriptInputs& inputs, Diagnostics& diagnostics);

// Writes the script to `outputFile` as it is made, replacing the file only
// once the whole text is written: a failed run leaves any earlier file as it
// was. Throws FatalError when the file cannot be opened or written.
void writeLinkerScript(const QString& outputFile, const LinkerScriptInputs& inputs,
                       Diagnostics& diagnostics);
