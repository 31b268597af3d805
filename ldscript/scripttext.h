// Prints the GNU ld script from the layout model: the MEMORY block, the
// segment symbols, the symbol definitions and one output-section statement
// per section in the model's output order.
#pragma once

#include <string_view>

#include "ldscript/layoutmodel.h"
#include "ldscript/scriptoptions.h"
#include "ldscript/scriptstream.h"

void writeScriptText(ScriptStream& out, const LayoutModel& model, const ScriptOptions& options);

// The pieces both forms of the script share.
// ENTRY(symbol) and an empty line, when -entry names a symbol.
void writeEntry(ScriptStream& out, const ScriptOptions& options);
// The MEMORY lines: UNPLACED_SECTIONS when checked, then the model's regions.
void writeMemoryLines(ScriptStream& out, const LayoutModel& model, bool checkUnplacedSections);
void writeMemoryRegion(ScriptStream& out, const MemoryMapElement& segment);
// "SECTIONS {", the segment symbols and the symbol definitions (the command
// line's, then the placement file's Symbol elements), then the discard
// statements: first, so that what they name is thrown away wherever a later
// statement would place it.
void writeSectionsHead(ScriptStream& out, const LayoutModel& model, const ScriptOptions& options);
// The placement file's Assert elements, each between `open` and `close`.
void writeAssertions(ScriptStream& out, const LayoutModel& model, std::string_view open, std::string_view close);
// __STEM_load_start__ and the output-section line up to and with AT(...),
// whose address is beside the stored copy of a load_with section if any;
// `toInputs`: the addresses that follow something are aligned to the
// section's input sections (see writeLoadAddress).
void writeStatementHead(ScriptStream& out, const LayoutSection& section, bool toInputs = false);
// The opening brace, the start symbol and the address symbol.
void writeBraces(ScriptStream& out, const LayoutSection& section);
void writeInputSections(ScriptStream& out, const LayoutSection& section);
// The input-section list of a section without inputsections, chosen by its
// name; empty for a name without one (then "*(NAME NAME.*)").
std::string_view defaultInputSections(std::string_view name);
// The section's inputsections, else the default list of its name; empty
// when it has neither (writeInputSections then writes "*(NAME NAME.*)").
std::string_view listedInputSections(const LayoutSection& section);
// `counter` = the section's minimum size (its size attribute) or more, and
// = the size of each of a run section's clients or more: "." inside an
// output section, a symbol outside one.
void writeMinimumSize(ScriptStream& out, const LayoutSection& section, std::string_view indent,
                      std::string_view counter);
// `fromClientEnds`: each client's end rather than the run section's start
// plus the client's size, for clients whose run address is aligned up.
void writeReservedSizes(ScriptStream& out, const LayoutSection& section, std::string_view indent,
                        std::string_view counter, bool fromClientEnds = false);
// A run section as symbols only: its start, then the largest of its
// clients' sizes and its own minimum size, assigned in turn.
void writeReservation(ScriptStream& out, const LayoutSection& section, bool fromClientEnds);
// The end and size symbols the section asks for, and __STEM_load_end__.
void writeSymbolAliases(ScriptStream& out, const LayoutSection& section);
// The used end and size of the section's segment, after its last section;
// `sizeBySymbol`: the size is __STEM_size__ rather than SIZEOF(NAME);
// `toInputs`: as for writeStatementHead.
void writeSegmentUsed(ScriptStream& out, const LayoutSection& section, bool sizeBySymbol, bool toInputs = false);
// The overflow and overlap checks, each between `open` and `close`.
void writeChecks(ScriptStream& out, const LayoutSection& section, std::string_view open, std::string_view close);
// -check-section-alignment: the section starts at a multiple of the largest
// alignment of its input sections.
void writeAlignmentCheck(ScriptStream& out, const LayoutSection& section, std::string_view open,
                         std::string_view close);

// The address expressions of a section, as every writer prints them.
// The load address (LoadAddress). `toInputs`: an address that follows
// something (a segment start, a section end) is also aligned to
// __STEM_align__, the largest alignment of the section's input sections
// (writeInputAlignment); a start or an end placement is the user's own.
void writeLoadAddress(ScriptStream& out, const LayoutSection& section, bool toInputs = false);
// Whether the toInputs forms of the section's addresses need __STEM_align__.
bool followsSomething(const LayoutSection& section);
// __STEM_align__ = ALIGNOF(NAME), for the toInputs forms. A symbol, since
// GNU ld misplaces a section whose own address expression holds ALIGNOF of
// itself.
void writeInputAlignment(ScriptStream& out, const LayoutSection& section);
// The run address of RunForm::RunSection: the run section's constant start,
// else the end of the section before it (or its segment start), wrapped in
// ALIGN by any alignment of the run section.
// `toInputs`: aligned to __STEM_align__ as well.
void writeRunAddress(ScriptStream& out, const LayoutSection& section, bool toInputs = false);
