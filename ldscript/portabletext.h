// Prints the script that GNU ld and ld.lld both link (-portable-script), from
// the same layout model as the default form and with the same addresses,
// sizes and symbol values as the default form under GNU ld.
//
// Design priority: each difference from the default form is there because
// one of the two linkers needs it, and the link checks (tests/e2e/linkcheck)
// decide every one:
// - every output section names its region (`> REGION`): without it ld.lld
//   picks a region by section attributes, even for a section with an
//   address, and the first one is UNPLACED_SECTIONS;
// - statements keep the default form's order, which is ascending within a
//   region (a section follows the one before it in its segment, a run
//   section's clients come where the run section is), since ld.lld's
//   position in a region only grows. The two kinds of section that do not
//   fit that order, one placed with runoffset and one that runs in the
//   first of a list of runin candidates, run in RUN_ANYWHERE, a region of
//   their own that spans the address space;
// - a run section is symbols only (its start, and the largest of its
//   clients' sizes and its own), not a NOLOAD section at its first client's
//   address: ld.lld rejects the overlap, and GNU ld gives such a section the
//   client's load address, so its program header writes zeros over the
//   client's stored copy;
// - the checks are bare ASSERT statements, which both accept only without a
//   trailing ';';
// - an empty fill means no fill, and a segment that sections run in but
//   that has no MEMORY line gets one: both would otherwise stop the link.
#pragma once

#include "ldscript/layoutmodel.h"
#include "ldscript/scriptoptions.h"
#include "ldscript/scriptstream.h"

void writePortableScriptText(ScriptStream& out, const LayoutModel& model, const ScriptOptions& options);
