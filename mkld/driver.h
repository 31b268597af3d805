// The tool's run from command line to script, with the one error handler that
// turns every failure into an "error: " line and exit status 1.
#pragma once

// Runs mkld and returns the process exit status. Exits directly (status 1)
// when the command line is incomplete.
int runMkld(int argc, char** argv);
