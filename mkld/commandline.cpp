#include "mkld/commandline.h"

#include <cstdio>
#include <iterator>

#include "base/bytes.h"
#include "base/console.h"
#include "base/didyoumean.h"
#include "base/fatalerror.h"
#include "base/splitlist.h"

namespace {

const char* const kProductName = "Quobis Loomworks for RISC-V";
const char* const kRelease = "4.52a";
const char* const kRightsHolders[] = {
    "Copyright (c) 2026 The mkld contributors.",
    "Portions copyright (c) 2026 The mkld contributors. All rights reserved.",
};

// Items that do not give both a name and a value (A, A=, =5) are skipped:
// they define nothing, and a firmware build should not fail over them.
void parseSymbols(const QString& definitions, QMap<QString, QString>& symbols) {
  for (const QString& item : splitList(definitions, false)) {
    const QStringList parts = item.split(QLatin1Char('='), Qt::SkipEmptyParts);
    if (parts.size() >= 2)
      symbols.insert(parts[0], parts[1]);
  }
}

using Argument = OptionArgument;

// The checks come before the input options in the usage text.
const CommandLineOption kCheckOptions[] = {
    {"-check-segment-overflow", Argument::None, nullptr, nullptr, "Add checks for segment overflow",
     [](CommandLineOptions& o, const QString&) { o.checkSegmentOverflow = true; }},
    {"-no-check-unplaced-sections", Argument::None, nullptr, nullptr, "Remove checks for unplaced sections",
     [](CommandLineOptions& o, const QString&) { o.checkUnplacedSections = false; }},
    {"-disable-missing-runin-error", Argument::None, nullptr, nullptr,
     "Discard any sections with a missing run in section",
     [](CommandLineOptions& o, const QString&) { o.missingRunInError = false; }},
    {"-default-fill-pattern", Argument::Text, "<pattern>", "pattern required for -default-fill-pattern",
     "Specifies the default fill pattern for unspecified regions of memory",
     [](CommandLineOptions& o, const QString& value) { o.defaultFillPattern = value; }},
};

const CommandLineOption kScriptOptions[] = {
    {"-symbols", Argument::Text, "<symbol-definitions>", "symbol definition required for -symbol",
     "Add symbol definitions to ld script",
     [](CommandLineOptions& o, const QString& value) { parseSymbols(value, o.symbols); }},
    {"-verbose", Argument::None, nullptr, nullptr, "Enable verbose output",
     [](CommandLineOptions& o, const QString&) { o.verbose = true; }},
    {"-dependency-file", Argument::OutputFile, "<file>", "file required for -dependency-file", nullptr,
     [](CommandLineOptions& o, const QString& value) { o.dependencyFile = value; },
     "Also write a Make dependency file of the script on every file read"},
    {"-diagnostics", Argument::None, nullptr, nullptr, nullptr,
     [](CommandLineOptions& o, const QString&) { o.diagnostics = true; },
     "Add located errors, warnings and notes (FILE:LINE:COLUMN) after the usual output"},
    {"-portable-script", Argument::None, nullptr, nullptr, nullptr,
     [](CommandLineOptions& o, const QString&) { o.portableScript = true; },
     "Write the script in a form that both GNU ld and ld.lld link"},
    {"-entry", Argument::Text, "<symbol>", "symbol required for -entry", nullptr,
     [](CommandLineOptions& o, const QString& value) { o.entry = value; },
     "Make <symbol> the entry point of the program (ENTRY)"},
    {"-check-section-alignment", Argument::None, nullptr, nullptr, nullptr,
     [](CommandLineOptions& o, const QString&) { o.checkSectionAlignment = true; },
     "Fail the link when a section starts below the alignment of its input sections"},
    {"-run-sections-as-symbols", Argument::None, nullptr, nullptr, nullptr,
     [](CommandLineOptions& o, const QString&) { o.runSectionsAsSymbols = true; },
     "Write run sections as symbols, not as NOLOAD sections"},
    {"-provide-symbols", Argument::Text, "<definitions>", "symbol definition required for -provide-symbols",
     nullptr, [](CommandLineOptions& o, const QString& value) { parseSymbols(value, o.provideSymbols); },
     "Add symbol definitions as PROVIDE, defaults that the program may replace"},
    {"-help", Argument::None, nullptr, nullptr, nullptr, [](CommandLineOptions& o, const QString&) { o.help = true; },
     "List every option, as here"},
};

// "-name <placeholder>", as the usage text and -help show an option.
QString synopsis(const CommandLineOption& row) {
  QString text = QLatin1String(row.name);
  if (row.placeholder)
    text += QLatin1Char(' ') + QLatin1String(row.placeholder);
  return text;
}

const CommandLineOption* findOption(const QString& name) {
  for (const CommandLineOption& row : optionTable()) {
    if (name == QLatin1String(row.name))
      return &row;
  }
  return nullptr;
}

}  // namespace

const std::vector<CommandLineOption>& optionTable() {
  static const std::vector<CommandLineOption> table = [] {
    std::vector<CommandLineOption> rows(std::begin(kCheckOptions), std::end(kCheckOptions));
    for (const CommandLineOption& row : inputOptionRows<CommandLineOptions>())
      rows.push_back(row);
    rows.insert(rows.end(), std::begin(kScriptOptions), std::end(kScriptOptions));
    return rows;
  }();
  return table;
}

bool parseCommandLine(int argc, char** argv, CommandLineOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const QString arg = fromBytes(argv[i]);
    const CommandLineOption* row = findOption(arg);
    if (!row) {
      if (arg.startsWith(QLatin1Char('-')))
        throw FatalError(QLatin1String("unknown option option ") + arg);
      options.positionalArguments.append(arg);
      continue;
    }
    QString value;
    if (row->argument != OptionArgument::None) {
      if (++i == argc)
        throw FatalError(QLatin1String(row->missingArgument));
      value = fromBytes(argv[i]);
    }
    row->apply(options, value);
  }

  if (options.help)
    return false;
  if (!options.hasMemoryMap())
    return false;
  if (options.positionalArguments.size() != 1)
    return false;
  options.outputFile = options.positionalArguments.first();
  return true;
}

QString commandLineErrorNote(int argc, char** argv) {
  QString unknown;
  bool diagnostics = false;
  for (int i = 1; i < argc; ++i) {
    const QString arg = fromBytes(argv[i]);
    const CommandLineOption* row = findOption(arg);
    if (!row) {
      if (unknown.isEmpty() && arg.startsWith(QLatin1Char('-')))
        unknown = arg;
      continue;
    }
    diagnostics = diagnostics || qstrcmp(row->name, "-diagnostics") == 0;
    if (row->argument != OptionArgument::None)
      ++i;
  }
  if (!diagnostics || unknown.isEmpty())
    return QString();
  QStringList names;
  for (const CommandLineOption& row : optionTable())
    names.append(QLatin1String(row.name));
  const QString closest = closestName(unknown, names);
  const QString list = QStringLiteral("mkld -help lists every option");
  return closest.isEmpty() ? list : QStringLiteral("did you mean \"%1\"? %2").arg(closest, list);
}

void printHelp() {
  QString help = QStringLiteral(
      "Usage: mkld -memory-map-file <memory-map> [options] <ld-script>\n"
      "       mkld -memory-map-segments <segments> [options] <ld-script>\n"
      "\n"
      "Options:\n");
  for (const CommandLineOption& row : optionTable()) {
    help += QLatin1String("  ") + synopsis(row).leftJustified(36) +
            QLatin1String(row.help ? row.help : row.extensionHelp) + QLatin1Char('\n');
  }
  printOutput(help + QLatin1String("\nEvery option, both input files and every message: man mkld\n"));
}

void printBanner(const char* toolName) {
  std::fprintf(stderr, "%s %s - Release %s\n", kProductName, toolName, kRelease);
  for (const char* holder : kRightsHolders)
    std::fprintf(stderr, "%s\n", holder);
  std::fflush(stderr);
}

void printUsage() {
  printBanner("mkld");
  QString usage = QStringLiteral(
      "\n"
      "Usage:\n"
      "\n"
      "  mkld -memory-map-file <memory-map> [options] <ld-script>\n"
      "\n"
      "  <ld-script>                         ld script output file\n"
      "  <memory-map>                        Memory map file\n");
  for (const CommandLineOption& row : optionTable()) {
    if (row.help)
      usage += QLatin1String("  ") + synopsis(row).leftJustified(36) + QLatin1String(row.help) + QLatin1Char('\n');
  }
  printError(usage);
}
