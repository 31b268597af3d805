// End placement: a section with place_from_segment_end="Yes" is placed
// below the end of its segment when every section after it in its chain has
// a fixed size, so the offset from the end is known.
#pragma once

#include "ldscript/layoutmodel.h"

class Diagnostics;

// Marks, per segment chain, the earliest section that asks to be placed from
// the segment end and is followed only by sections of fixed size, and keeps
// the others that ask for it, with what prevents them, for the checks. Warns
// about a chain where a section without a fixed size prevents it.
void markEndPlacement(LayoutModel& model, Diagnostics& diagnostics);
