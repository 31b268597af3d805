// The command line of mkld: one table of options drives the parser, the
// usage text and the whole-tool fuzzer.
#pragma once

#include <QString>
#include <QStringList>
#include <cstddef>

#include "ldscript/scriptoptions.h"

// What the command line asks for. The script's own options are inherited so
// that the driver hands them to the writer as they are.
struct CommandLineOptions : ScriptOptions {
  QString memoryMapFile;
  QString memoryMapMacros;
  QString memoryMapSegments;
  QString sectionPlacementFile;
  QString sectionPlacementMacros;
  QStringList positionalArguments;
  QString outputFile;
  // Extension: where to write a Make-syntax dependency file of the script on
  // the files the run read; empty for none.
  QString dependencyFile;
  // Extension: the located lines of -diagnostics.
  bool diagnostics = false;
};

// What an option's argument is, for the fuzzer, which must not let an
// argument name a file outside its scratch folder.
enum class OptionArgument { None, Text, InputFile, OutputFile };

// One option: its name, its argument, its line in the usage text and what it
// sets.
struct OptionRow {
  const char* name;
  OptionArgument argument;
  const char* placeholder;      // "<file>" in the usage text; null without an argument
  const char* missingArgument;  // the error when the argument is missing
  const char* help;             // null: an extension, left out of the usage text
  void (*apply)(CommandLineOptions& options, const QString& argument);
};

// The options in the order of the usage text; the extensions follow.
struct OptionTable {
  const OptionRow* rows;
  size_t size;
  const OptionRow* begin() const { return rows; }
  const OptionRow* end() const { return rows + size; }
};
OptionTable optionTable();

// Fills `options` from the argument vector (argv[0] is the program name).
// Throws FatalError for an unknown option or a missing option argument;
// returns false when the command line is incomplete (the caller prints the
// usage and ends with status 1).
bool parseCommandLine(int argc, char** argv, CommandLineOptions& options);

void printBanner(const char* toolName);
// The banner and the usage text on standard error.
void printUsage();
