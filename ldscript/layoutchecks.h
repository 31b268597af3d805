// What mkld can tell about a layout itself, as located warnings of
// -diagnostics: facts that hold for any link because the numbers involved
// are constants. They never change the script or the exit status, and
// without -diagnostics nothing here runs.
#pragma once

#include <QString>

#include <cstdint>

#include "base/diagnostics.h"
#include "ldscript/layoutmodel.h"

// `text` at the section's ProgramSection element, followed by the notes on
// how the element got there (include, Import, for, ...).
Diagnostic diagnosticAt(Severity severity, const LayoutSection& section, const QString& text);
// Reports diagnosticAt(...) when located lines are printed.
void reportAt(Diagnostics& diagnostics, Severity severity, const LayoutSection& section, const QString& text);

// Warns, each at the sections concerned, about:
// - two sections of constant start and size whose images overlap;
// - a constant start outside the section's segment, or a constant size that
//   runs past its end;
// - constant sizes in one segment that add up past the segment's size;
// - a section that has input sections in a read-only segment but is not
//   loaded (its contents would be missing from the image);
// - in the default form: a section with input sections that starts where
//   another ends, without an alignment (its own, or its run section's);
// - a section that asks to be placed at the segment end and is not, because
//   its own size or a later one is not a plain number.
enum class ScriptForm : uint8_t {
  Portable,        // the script aligns every section that follows another
  Default,         // ld keeps the address a section is given
  AlignmentChecked // the default form with -check-section-alignment
};
void checkLayout(const LayoutModel& model, Diagnostics& diagnostics, ScriptForm form);
