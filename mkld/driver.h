// The tool's run from command line to script, with the one error handler that
// turns every failure into an "error: " line, the removal of the output file
// and exit status 1.
#pragma once

// Runs mkld and returns the process exit status.
int runMkld(int argc, char** argv);
