// Prints the GNU ld script from the layout model: the MEMORY block, the
// segment symbols, the symbol definitions and one output-section statement
// per section in the model's output order.
#pragma once

#include "ldscript/layoutmodel.h"
#include "ldscript/scriptoptions.h"
#include "ldscript/scriptstream.h"

void writeScriptText(ScriptStream& out, const LayoutModel& model, const ScriptOptions& options);

// The address expressions of a section, as every writer prints them.
// The load address (LoadAddress).
void writeLoadAddress(ScriptStream& out, const LayoutSection& section);
// The run address of RunForm::RunSection: the run section's constant start,
// else the end of the section before it (or its segment start), wrapped in
// ALIGN by any alignment of the run section.
void writeRunAddress(ScriptStream& out, const LayoutSection& section);
