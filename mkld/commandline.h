// The command line of mkld: one table of options drives the parser, the
// usage text and the whole-tool fuzzer.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "inputs/inputoptions.h"
#include "ldscript/scriptoptions.h"

// What the command line asks for. The script's own options and the inputs'
// are inherited so that the driver hands them on as they are.
struct CommandLineOptions : ScriptOptions, InputOptions {
  QStringList positionalArguments;
  QString outputFile;
  // Extension: where to write a Make-syntax dependency file of the script on
  // the files the run read; empty for none.
  QString dependencyFile;
  // Extension: the located lines of -diagnostics.
  bool diagnostics = false;
  // Extension: -help lists every option on standard output.
  bool help = false;
};

using CommandLineOption = OptionRow<CommandLineOptions>;

// The options in the order of the usage text; the extensions follow.
const std::vector<CommandLineOption>& optionTable();

// Fills `options` from the argument vector (argv[0] is the program name).
// Throws FatalError for an unknown option or a missing option argument;
// returns false when the command line is incomplete (the caller prints the
// usage and ends with status 1) and for -help.
bool parseCommandLine(int argc, char** argv, CommandLineOptions& options);

// What -diagnostics adds to the error of a command line that does not parse:
// the nearest known name of an unknown option. Empty without -diagnostics
// among the arguments or without an unknown option.
QString commandLineErrorNote(int argc, char** argv);

void printBanner(const char* toolName);
// The banner and the usage text on standard error.
void printUsage();
// Every option, extensions included, with its help line on standard output.
void printHelp();
