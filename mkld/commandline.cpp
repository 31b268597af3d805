#include "mkld/commandline.h"

#include <cstdio>

#include "base/bytes.h"
#include "base/fatalerror.h"
#include "base/splitlist.h"

namespace {

const char* const kProductName = "Quobis Loomworks for RISC-V";
const char* const kRelease = "4.52a";
const char* const kRightsHolders[] = {
    "Copyright (c) 2026 The mkld contributors.",
    "Portions copyright (c) 2026 The mkld contributors. All rights reserved.",
};

void appendMacros(QString& field, const QString& macros) {
  if (!field.isEmpty())
    field += QLatin1Char(';');
  field += macros;
}

// Items that do not give both a name and a value (A, A=, =5) are skipped:
// they define nothing, and a firmware build should not fail over them.
void parseSymbols(const QString& definitions, QMap<QString, QString>& symbols) {
  for (const QString& item : splitList(definitions, false)) {
    const QStringList parts = item.split(QLatin1Char('='), Qt::SkipEmptyParts);
    if (parts.size() >= 2)
      symbols.insert(parts[0], parts[1]);
  }
}

}  // namespace

QString takeOptionArgument(int& argc, char**& argv, const char* message) {
  if (argc < 2)
    throw FatalError(QLatin1String(message));
  --argc;
  ++argv;
  return fromBytes(argv[0]);
}

bool parseCommandLine(int argc, char** argv, CommandLineOptions& options) {
  // argv[0] is the program name; the loop looks at argv[0] as the current one.
  for (--argc, ++argv; argc > 0; --argc, ++argv) {
    const QString arg = fromBytes(argv[0]);
    auto is = [&arg](const char* name) { return arg == QLatin1String(name); };
    if (is("-check-segment-overflow")) {
      options.checkSegmentOverflow = true;
    } else if (is("-no-check-unplaced-sections")) {
      options.checkUnplacedSections = false;
    } else if (is("-default-fill-pattern")) {
      options.defaultFillPattern =
          takeOptionArgument(argc, argv, "pattern required for -default-fill-pattern");
    } else if (is("-disable-missing-runin-error")) {
      options.missingRunInError = false;
    } else if (is("-memory-map-file")) {
      options.memoryMapFile = takeOptionArgument(argc, argv, "file required for -memory-map-file");
    } else if (is("-memory-map-macros")) {
      appendMacros(options.memoryMapMacros,
                   takeOptionArgument(argc, argv, "macro definition required for -memory-map-macros"));
    } else if (is("-memory-map-segments")) {
      options.memoryMapSegments =
          takeOptionArgument(argc, argv, "segment list for -memory-map-segments");
    } else if (is("-section-placement-file")) {
      options.sectionPlacementFile =
          takeOptionArgument(argc, argv, "file required for -section-placement-file");
    } else if (is("-section-placement-macros") || is("-section-placment-macros")) {
      appendMacros(options.sectionPlacementMacros,
                   takeOptionArgument(argc, argv,
                                      "macro definition required for -section-placement-macros"));
    } else if (is("-symbols")) {
      parseSymbols(takeOptionArgument(argc, argv, "symbol definition required for -symbol"),
                   options.symbols);
    } else if (is("-verbose")) {
      options.verbose = true;
    } else if (is("-dependency-file")) {
      options.dependencyFile = takeOptionArgument(argc, argv, "file required for -dependency-file");
    } else if (is("-diagnostics")) {
      options.diagnostics = true;
    } else if (is("-portable-script")) {
      options.portableScript = true;
    } else if (is("-entry")) {
      options.entry = takeOptionArgument(argc, argv, "symbol required for -entry");
    } else if (arg.startsWith(QLatin1Char('-'))) {
      throw FatalError(QLatin1String("unknown option option ") + arg);
    } else {
      options.positionalArguments.append(arg);
    }
  }

  if (options.memoryMapFile.isEmpty() && options.memoryMapSegments.isEmpty())
    return false;
  if (options.positionalArguments.size() != 1)
    return false;
  options.outputFile = options.positionalArguments.first();
  return true;
}

void printBanner(const char* toolName) {
  std::fprintf(stderr, "%s %s - Release %s\n", kProductName, toolName, kRelease);
  for (const char* holder : kRightsHolders)
    std::fprintf(stderr, "%s\n", holder);
  std::fflush(stderr);
}

void printUsage() {
  printBanner("mkld");
  std::fputs("\n"
             "Usage:\n"
             "\n"
             "  mkld -memory-map-file <memory-map> [options] <ld-script>\n"
             "\n"
             "  <ld-script>                         ld script output file\n"
             "  <memory-map>                        Memory map file\n"
             "  -check-segment-overflow             Add checks for segment overflow\n"
             "  -no-check-unplaced-sections         Remove checks for unplaced sections\n"
             "  -disable-missing-runin-error        Discard any sections with a missing run in section\n"
             "  -default-fill-pattern <pattern>     Specifies the default fill pattern for unspecified regions of memory\n"
             "  -memory-map-file <file>             Generate ld script from memory map file\n"
             "  -memory-map-macros <macros>         Define memory map file macros\n"
             "  -memory-map-segments <segments>     Define memory map segments\n"
             "  -section-placement-file <file>      Use section placement file\n"
             "  -section-placement-macros <macros>  Define section placement file macros\n"
             "  -symbols <symbol-definitions>       Add symbol definitions to ld script\n"
             "  -verbose                            Enable verbose output\n",
             stderr);
  std::fflush(stderr);
}
