// The command line of mkld: options, their messages and the usage text.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

struct CommandLineOptions {
  QString memoryMapFile;
  QString memoryMapMacros;
  QString memoryMapSegments;
  QString sectionPlacementFile;
  QString sectionPlacementMacros;
  QMap<QString, QString> symbols;
  bool checkSegmentOverflow = false;
  bool checkUnplacedSections = true;
  QString defaultFillPattern;
  QStringList positionalArguments;
  QString outputFile;
  // Extension (not in the usage text): where to write a Make-syntax
  // dependency file of the script on the files the run read; empty for none.
  QString dependencyFile;
  bool missingRunInError = true;  // false: -disable-missing-runin-error
  bool verbose = false;
  // Extension (not in the usage text): the located lines of -diagnostics.
  bool diagnostics = false;
  // Extension: the symbol of the script's ENTRY statement; empty for none.
  QString entry;
  // Extension: the form of the script that GNU ld and ld.lld both link.
  bool portableScript = false;
};

// Fills `options` from the argument vector (argv[0] is the program name).
// Throws FatalError for an unknown option or a missing option argument;
// returns false when the command line is incomplete (the caller prints the
// usage and ends with status 1).
bool parseCommandLine(int argc, char** argv, CommandLineOptions& options);

// Steps past the current argument to the next one and returns it; throws
// FatalError(message) when there is none. `argc` and `argv` advance in place.
QString takeOptionArgument(int& argc, char**& argv, const char* message = "argument expected");

void printBanner(const char* toolName);
void printUsage();
