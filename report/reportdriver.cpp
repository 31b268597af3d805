#include "report/reportdriver.h"

#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <new>
#include <vector>

#include "base/bytes.h"
#include "base/console.h"
#include "base/diagnostics.h"
#include "base/fatalerror.h"
#include "base/replacingfile.h"
#include "inputs/inputoptions.h"
#include "inputs/loadinputs.h"
#include "ldscript/sectionlist.h"
#include "report/elffile.h"
#include "report/htmlreport.h"
#include "report/jsonreport.h"
#include "report/memoryreport.h"
#include "report/textreport.h"
#include "xml/loadcontext.h"
#include "xml/macroregistry.h"

namespace {

struct Limit {
  QString segment;
  QString percentText;  // as written, for the message
  double percent = 0;
};

struct ReportOptions {
  InputOptions input;
  QString elfFile;
  QString htmlFile;
  QString jsonFile;
  std::vector<Limit> limits;
};

// "SEGMENT=PERCENT", the percent a number from 0 to 100 with an optional "%".
Limit parseLimit(const QString& text) {
  const qsizetype equals = text.lastIndexOf(QLatin1Char('='));
  Limit limit;
  if (equals > 0) {
    limit.segment = text.left(equals);
    limit.percentText = text.mid(equals + 1);
    if (limit.percentText.endsWith(QLatin1Char('%')))
      limit.percentText.chop(1);
    bool ok = false;
    limit.percent = limit.percentText.toDouble(&ok);
    if (ok && limit.percent >= 0 && limit.percent <= 100)
      return limit;
  }
  throw FatalError(QLatin1String("-limit wants SEGMENT=PERCENT with a percent from 0 to 100, not ") + text);
}

// The input options are the rows mkld reads too, so that both tools read
// them alike; the report adds its outputs and -limit.
using InputOption = OptionRow<InputOptions>;
const auto kInputOptions = inputOptionRows<InputOptions>();

struct ReportOption {
  const char* name;
  const char* placeholder;
  void (*apply)(ReportOptions& options, const QString& argument);
};

const ReportOption kReportOptions[] = {
    {"-html", "<file>", [](ReportOptions& o, const QString& value) { o.htmlFile = value; }},
    {"-json", "<file>", [](ReportOptions& o, const QString& value) { o.jsonFile = value; }},
    {"-limit", "<segment>=<percent>",
     [](ReportOptions& o, const QString& value) { o.limits.push_back(parseLimit(value)); }},
};

void printReportUsage() {
  QString usage = QStringLiteral(
      "Usage: mkld-report -memory-map-file <memory-map> [options] <elf-file>\n"
      "       mkld-report -memory-map-segments <segments> [options] <elf-file>\n"
      "Options:\n");
  for (const InputOption& row : kInputOptions) {
    if (row.help)
      usage += QLatin1String("  ") + QLatin1String(row.name) + QLatin1Char(' ') + QLatin1String(row.placeholder) +
               QLatin1Char('\n');
  }
  for (const ReportOption& option : kReportOptions) {
    usage += QLatin1String("  ") + QLatin1String(option.name) + QLatin1Char(' ') + QLatin1String(option.placeholder) +
             QLatin1Char('\n');
  }
  printError(usage + QLatin1String("See mkld-report(1).\n"));
}

// Nothing when the command line is incomplete.
std::optional<ReportOptions> parseArguments(int argc, char** argv) {
  ReportOptions options;
  QStringList positional;
  for (int i = 1; i < argc; ++i) {
    const QString arg = fromBytes(argv[i]);
    const auto value = [&](const char* missing) {
      if (++i == argc)
        throw FatalError(QLatin1String(missing));
      return fromBytes(argv[i]);
    };
    const auto input = std::find_if(kInputOptions.begin(), kInputOptions.end(),
                                    [&](const InputOption& row) { return arg == QLatin1String(row.name); });
    const auto own = std::find_if(std::begin(kReportOptions), std::end(kReportOptions),
                                  [&](const ReportOption& option) { return arg == QLatin1String(option.name); });
    if (input != kInputOptions.end()) {
      input->apply(options.input, value(input->missingArgument));
    } else if (own != std::end(kReportOptions)) {
      const QByteArray missing = "argument required for " + toBytes(arg);
      own->apply(options, value(missing.constData()));
    } else if (arg.startsWith(QLatin1Char('-'))) {
      throw FatalError(QLatin1String("unknown option ") + arg);
    } else {
      positional.append(arg);
    }
  }
  if (!options.input.hasMemoryMap() || positional.size() != 1)
    return std::nullopt;
  options.elfFile = positional.first();
  return options;
}

void writeFile(const QString& path, const QByteArray& contents) {
  ReplacingFile file(path);
  const QString error = !file.isOpen()                        ? file.errorString()
                        : file.write(contents) == contents.size() ? file.commit()
                                                                  : file.errorString();
  if (!error.isEmpty())
    throw FatalError(QLatin1String("cannot write ") + path + QLatin1String(": ") + error);
}

const SegmentUsage& segmentNamed(const MemoryReport& report, const QString& name) {
  for (const SegmentUsage& segment : report.segments) {
    if (segment.name == name)
      return segment;
  }
  throw FatalError(QLatin1String("-limit names ") + name + QLatin1String(", which is not a segment"));
}

int report(const ReportOptions& options) {
  // The report prints the default output only: the load's errors are its
  // plain lines.
  Diagnostics diagnostics(false);
  LoadContext context(diagnostics);
  const std::optional<LoadedInputs> loaded = loadInputs(context, options.input, false);
  if (!loaded)
    return 1;

  QString error;
  const std::optional<ElfFile> elf = readElfFile(options.elfFile, &error);
  if (!elf)
    throw FatalError(error);
  // The section list the script was written from says what the sections are for.
  LayoutModel model;
  buildSectionList(model, loaded->memoryMap, loaded->placement ? &*loaded->placement : nullptr, {}, false);
  const LayoutIntent intent = layoutIntent(model);
  const MemoryReport memoryReport = buildMemoryReport(options.elfFile, *elf, intent.segments, intent.reservations);
  for (const Limit& limit : options.limits)
    segmentNamed(memoryReport, limit.segment);

  const QByteArray table = textReport(memoryReport);
  std::fwrite(table.constData(), 1, static_cast<size_t>(table.size()), stdout);
  std::fflush(stdout);
  if (!options.htmlFile.isEmpty()) {
    SegmentLimits limits;
    for (const Limit& limit : options.limits) {
      const SegmentUsage& segment = segmentNamed(memoryReport, limit.segment);
      limits[segment.name] = static_cast<uint64_t>(limit.percent / 100 * static_cast<double>(segment.size));
    }
    writeFile(options.htmlFile, htmlReport(memoryReport, limits));
  }
  if (!options.jsonFile.isEmpty())
    writeFile(options.jsonFile, jsonReport(memoryReport));

  int status = 0;
  for (const Limit& limit : options.limits) {
    const SegmentUsage& segment = segmentNamed(memoryReport, limit.segment);
    if (segment.usedPercent() > limit.percent) {
      Diagnostics(false).reportPlain(Severity::Error, segment.name + QLatin1String(" is ") +
                                    fromBytes(percentText(segment.usedPercent())) + QLatin1String(" full (limit ") +
                                    limit.percentText + QLatin1String("%)"));
      status = 1;
    }
  }
  return status;
}

}  // namespace

int runReport(int argc, char** argv) {
  MacroRegistry::instance();  // the built-in macro table, before anything reads it
  try {
    const std::optional<ReportOptions> options = parseArguments(argc, argv);
    if (!options) {
      printReportUsage();
      return 1;
    }
    return report(*options);
  } catch (const FatalError& e) {
    Diagnostics(false).report(e.diagnostic());
  } catch (const std::bad_alloc&) {
    Diagnostics(false).reportPlain(Severity::Error, QStringLiteral("out of memory"));
  }
  return 1;
}
