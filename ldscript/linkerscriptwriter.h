// Turns the loaded memory map and section placement into a GNU ld script:
// the MEMORY block, the segment symbols, the symbol definitions and one
// output-section statement per program section.
#pragma once

#include <QMap>
#include <QString>
#include <string>

#include "ldscript/layoutmodel.h"
#include "ldscript/scriptoptions.h"

class MemoryMap;

struct LinkerScriptInputs : ScriptOptions {
  const MemoryMap* memoryMap = nullptr;  // required
  const MemoryMap* placement = nullptr;  // none without a placement file
};

// The layout every writer prints: section list, end placement and layout
// walk. Prints the -verbose progress lines and the end-placement warnings;
// throws the layout's errors as a QString. The model borrows the documents.
LayoutModel computeLayout(const LinkerScriptInputs& inputs);

// The whole script text, as bytes. Prints the -verbose progress lines and the
// end-placement warnings; throws the layout's errors as a QString.
std::string generateLinkerScript(const LinkerScriptInputs& inputs);

// Writes the script to `outputFile` as it is made, replacing the file only
// once the whole text is written: a failed run leaves any earlier file as it
// was. Throws HException when the file cannot be opened or written.
void writeLinkerScript(const QString& outputFile, const QMap<QString, QString>& symbols,
                       bool checkSegmentOverflow, bool checkUnplacedSections, const MemoryMap& memoryMap,
                       const MemoryMap* placement, const QString& defaultFillPattern,
                       const QString& entry = QString());
