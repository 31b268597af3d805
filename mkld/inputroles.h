// The -diagnostics checks of the roles the command line gives the inputs:
// a run without a placement file that places nothing, and the two files
// given the wrong way round. Both runs write a script that links, so only a
// warning tells.
#pragma once

class Diagnostics;
class MemoryMap;
class SectionPlacement;

// `placement` is null without -section-placement-file.
void checkInputRoles(const MemoryMap& memoryMap, const SectionPlacement* placement, Diagnostics& diagnostics);
