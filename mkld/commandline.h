// The command line of mkld: options, their messages, the usage text and the
// list splitter shared with the macro lists.
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
  // Extension: the symbol of the script's ENTRY statement; empty for none.
  QString entry;
};

// Process-wide because the script writer and the section layout read them
// without being handed them. Written only while the command line is read.
extern bool verbose;
extern bool missingRunInError;

// Fills `options` and the two flags from the argument vector (argv[0] is the
// program name). Throws HException for an unknown option or a missing option
// argument; an incomplete command line prints the usage and exits with 1.
void parseCommandLine(int argc, char** argv, CommandLineOptions& options);

// Steps past the current argument to the next one and returns it; throws
// HException(message) when there is none. `argc` and `argv` advance in place.
QString takeOptionArgument(int& argc, char**& argv, const char* message = "argument expected");

// Splits at unescaped ';'. A backslash takes the next character literally.
QStringList splitList(const QString& text, bool keepEmpty);

void printBanner(const char* toolName);
[[noreturn]] void printUsage();
