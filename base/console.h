// Progress lines, warnings and errors leave the process as the exact bytes of
// their text (Latin-1 inside), so a name that is not ASCII is printed as it
// was read.
#pragma once

class QString;

// Standard output: the progress lines of -verbose.
void printOutput(const QString& text);
// Standard error: warnings and errors.
void printError(const QString& text);
