// The options that name the two input documents, which mkld and mkld-report
// read alike: one list of rows serves both command lines.
#pragma once

#include <QString>
#include <array>

// What an option's argument is, for the fuzzer, which must not let an
// argument name a file outside its scratch folder.
enum class OptionArgument { None, Text, InputFile, OutputFile };

// One option of a command line whose settings are `Options`: its name, its
// argument, its line in the usage text and what it sets.
template <typename Options>
struct OptionRow {
  const char* name;
  OptionArgument argument;
  const char* placeholder;      // "<file>" in the usage text; null without an argument
  const char* missingArgument;  // the error when the argument is missing
  const char* help;             // null: an extension, left out of the usage text
  void (*apply)(Options& options, const QString& argument);
  const char* extensionHelp = nullptr;  // the line of an extension in -help
};

struct InputOptions {
  QString memoryMapFile;
  QString memoryMapMacros;
  QString memoryMapSegments;
  QString sectionPlacementFile;
  QString sectionPlacementMacros;
  // Extension: the board's devicetree, and the mapping that renames and
  // selects its segments.
  QString memoryMapDtb;
  QString memoryMapDtbNames;

  // Whether any option gives a memory map: without one a command line is
  // incomplete.
  bool hasMemoryMap() const {
    return !memoryMapFile.isEmpty() || !memoryMapSegments.isEmpty() || !memoryMapDtb.isEmpty();
  }
};

// Repeated macro options add to the list.
void appendMacros(QString& field, const QString& macros);

// The input options of a command line whose settings derive from
// InputOptions, in the order of the usage text; the misspelt alias of
// -section-placement-macros that older build files use and the extensions
// come last.
template <typename Options>
std::array<OptionRow<Options>, 8> inputOptionRows() {
  using Argument = OptionArgument;
  return {{
      {"-memory-map-file", Argument::InputFile, "<file>", "file required for -memory-map-file",
       "Generate ld script from memory map file", [](Options& o, const QString& value) { o.memoryMapFile = value; }},
      {"-memory-map-macros", Argument::Text, "<macros>", "macro definition required for -memory-map-macros",
       "Define memory map file macros",
       [](Options& o, const QString& value) { appendMacros(o.memoryMapMacros, value); }},
      {"-memory-map-segments", Argument::Text, "<segments>", "segment list for -memory-map-segments",
       "Define memory map segments", [](Options& o, const QString& value) { o.memoryMapSegments = value; }},
      {"-section-placement-file", Argument::InputFile, "<file>", "file required for -section-placement-file",
       "Use section placement file", [](Options& o, const QString& value) { o.sectionPlacementFile = value; }},
      {"-section-placement-macros", Argument::Text, "<macros>",
       "macro definition required for -section-placement-macros", "Define section placement file macros",
       [](Options& o, const QString& value) { appendMacros(o.sectionPlacementMacros, value); }},
      {"-section-placment-macros", Argument::Text, "<macros>",
       "macro definition required for -section-placement-macros", nullptr,
       [](Options& o, const QString& value) { appendMacros(o.sectionPlacementMacros, value); },
       "The same as -section-placement-macros, a misspelt name older build files use"},
      {"-memory-map-dtb", Argument::InputFile, "<file>", "file required for -memory-map-dtb", nullptr,
       [](Options& o, const QString& value) { o.memoryMapDtb = value; },
       "Take the memory map from the board's devicetree blob (.dtb)"},
      {"-memory-map-dtb-names", Argument::Text, "<mapping>", "mapping required for -memory-map-dtb-names", nullptr,
       [](Options& o, const QString& value) { o.memoryMapDtbNames = value; },
       "Name the devicetree's memory regions as segments: SEGMENT=node;..."},
  }};
}
