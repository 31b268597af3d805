// The -diagnostics rules for the attribute texts that the script copies for
// ld to read: each fault is reported at the attribute, at the character
// where ld would stop, instead of as a syntax error at a line of the script.
#pragma once

class Diagnostics;
struct LayoutModel;

// Warns, for every section written into the script, about:
// - a start, size or fill that ld's expression grammar rejects;
// - a start relative to the segment ("+0x100"), which ld reads as an
//   absolute address;
// - an empty fill (except in the portable form, which writes no fill then);
// - keep="Yes" around an input list that one KEEP(...) cannot hold.
void checkCopiedTexts(const LayoutModel& model, bool portableScript, Diagnostics& diagnostics);
