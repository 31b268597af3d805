// The run of mkld-report from command line to report: load the memory map
// (and the placement, for its intent) exactly as mkld does, read the ELF,
// print the table, write the requested files, hold the limits. Every failure
// becomes one "error: " line and exit status 1.
#pragma once

// Runs mkld-report and returns the process exit status.
int runReport(int argc, char** argv);
