#include "report/reportdriver.h"

#include <QFile>
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
#include "expressions/integerliteral.h"
#include "inputs/inputoptions.h"
#include "inputs/loadinputs.h"
#include "ldscript/sectionlist.h"
#include "report/comparison.h"
#include "report/elffile.h"
#include "report/htmlreport.h"
#include "report/jsonreport.h"
#include "report/memoryreport.h"
#include "report/objectsizes.h"
#include "report/textreport.h"
#include "xml/loadcontext.h"
#include "xml/macroregistry.h"

namespace {

struct Limit {
  QString segment;
  QString percentText;     // as written, without "%"
  uint64_t millionths = 0;  // the percent in millionths: 90.5% is 90,500,000
};

struct ReportOptions {
  InputOptions input;
  QString elfFile;
  QString htmlFile;
  QString jsonFile;
  QString mapFile;
  QString compareFile;
  QString markdownFile;
  int top = 0;
  std::vector<Limit> limits;
};

// "SEGMENT=PERCENT", the percent decimal digits from 0 to 100 with at most
// six after a point, and an optional "%": nothing a reader could take two ways.
Limit parseLimit(const QString& text) {
  const qsizetype equals = text.lastIndexOf(QLatin1Char('='));
  Limit limit;
  if (equals > 0) {
    limit.segment = text.left(equals);
    limit.percentText = text.mid(equals + 1);
    if (limit.percentText.endsWith(QLatin1Char('%')))
      limit.percentText.chop(1);
    const QByteArray digits = toBytes(limit.percentText);
    const qsizetype point = digits.indexOf('.');
    const QByteArray whole = point < 0 ? digits : digits.left(point);
    const QByteArray fraction = point < 0 ? QByteArray() : digits.mid(point + 1);
    const auto allDigits = [](const QByteArray& part) {
      return std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (!whole.isEmpty() && whole.size() <= 3 && allDigits(whole) && (point < 0 || !fraction.isEmpty()) &&
        fraction.size() <= 6 && allDigits(fraction)) {
      limit.millionths = whole.toULongLong() * 1000000 + fraction.leftJustified(6, '0').toULongLong();
      // Without leading zeros, so that the JSON can carry it as a number.
      limit.percentText = QString::number(whole.toULongLong()) +
                          (fraction.isEmpty() ? QString() : QLatin1Char('.') + fromBytes(fraction));
      if (limit.millionths <= 100000000)
        return limit;
    }
  }
  throw FatalError(QLatin1String("-limit wants SEGMENT=PERCENT with a percent from 0 to 100 in decimal digits, not ") +
                   text);
}

// The percent of a size in whole bytes, rounded down, exact for any size.
uint64_t limitBytes(uint64_t size, uint64_t millionths) {
  constexpr uint64_t hundredMillion = 100000000;
  return size / hundredMillion * millionths + size % hundredMillion * millionths / hundredMillion;
}

int parseTop(const QString& text) {
  const std::optional<uint64_t> value = parseStrictIntegerLiteral(toBytes(text).toStdString());
  if (!value || *value == 0 || *value > 1000000)
    throw FatalError(QLatin1String("-top wants a count from 1 to 1000000, not ") + text);
  return static_cast<int>(*value);
}

// The input options are the rows mkld reads too, so that both tools read
// them alike; the report adds its outputs and -limit.
using InputOption = OptionRow<InputOptions>;
const auto kInputOptions = inputOptionRows<InputOptions>();

struct ReportOption {
  const char* name;
  const char* placeholder;  // null: documented in the manual page only, not in the usage text
  void (*apply)(ReportOptions& options, const QString& argument);
};

const ReportOption kReportOptions[] = {
    {"-html", "<file>", [](ReportOptions& o, const QString& value) { o.htmlFile = value; }},
    {"-json", "<file>", [](ReportOptions& o, const QString& value) { o.jsonFile = value; }},
    {"-limit", "<segment>=<percent>",
     [](ReportOptions& o, const QString& value) { o.limits.push_back(parseLimit(value)); }},
    {"-top", nullptr, [](ReportOptions& o, const QString& value) { o.top = parseTop(value); }},
    {"-map", nullptr, [](ReportOptions& o, const QString& value) { o.mapFile = value; }},
    {"-compare", nullptr, [](ReportOptions& o, const QString& value) { o.compareFile = value; }},
    {"-markdown", nullptr, [](ReportOptions& o, const QString& value) { o.markdownFile = value; }},
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
    if (!option.placeholder)
      continue;
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
  if (!options.markdownFile.isEmpty() && options.compareFile.isEmpty())
    throw FatalError(QStringLiteral("-markdown writes the comparison: it needs -compare"));
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

SegmentUsage& segmentNamed(MemoryReport& report, const QString& name) {
  QStringList names;
  for (SegmentUsage& segment : report.segments) {
    if (segment.name == name)
      return segment;
    names.append(segment.name);
  }
  throw FatalError(QLatin1String("-limit names ") + name + QLatin1String(", which is not a segment; the segments are ") +
                   names.join(QLatin1String(", ")));
}

// The whole of a map file or an old report.
QByteArray readFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    throw FatalError(QLatin1String("cannot open ") + path + QLatin1String(": ") + file.errorString());
  return file.readAll();
}

void print(const QByteArray& text) {
  std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
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
  MemoryReport memoryReport = buildMemoryReport(options.elfFile, *elf, layoutIntent(model));
  if (!options.mapFile.isEmpty()) {
    memoryReport.objects = objectsFromMapFile(readFile(options.mapFile), options.mapFile, *elf, &error);
    memoryReport.objectSource = ObjectSource::MapFile;
  } else {
    memoryReport.objects = objectsFromDwarf(options.elfFile, *elf, &error);
    memoryReport.objectSource = memoryReport.objects.empty() ? ObjectSource::None : ObjectSource::Dwarf;
  }
  if (!error.isEmpty())
    throw FatalError(error);
  for (const Limit& limit : options.limits) {
    SegmentUsage& segment = segmentNamed(memoryReport, limit.segment);
    segment.limit = SegmentLimit{limit.percentText, limitBytes(segment.size, limit.millionths)};
  }
  std::optional<Comparison> comparison;
  if (!options.compareFile.isEmpty()) {
    comparison = compareWithJson(memoryReport, options.compareFile, readFile(options.compareFile), &error);
    if (!comparison)
      throw FatalError(error);
  }

  // The files first: a reader that stops early (| head) must not cost them.
  if (!options.htmlFile.isEmpty())
    writeFile(options.htmlFile, htmlReport(memoryReport));
  if (!options.jsonFile.isEmpty())
    writeFile(options.jsonFile, jsonReport(memoryReport));
  if (!options.markdownFile.isEmpty())
    writeFile(options.markdownFile, comparisonMarkdown(*comparison));
  print(textReport(memoryReport, TextOptions{options.top}));
  if (comparison)
    print('\n' + comparisonText(*comparison));
  std::fflush(stdout);

  for (const SegmentUsage& segment : memoryReport.segments) {
    const QByteArray used = groupedNumber(segment.usedBytes()) + " of " + groupedNumber(segment.size) + " bytes (" +
                            percentText(segment.usedPercent()) + ")";
    if (segment.overflowBytes > 0) {
      Diagnostics(false).reportPlain(Severity::Error, segment.name + QLatin1String(" overflows by ") +
                                                          fromBytes(groupedNumber(segment.overflowBytes)) +
                                                          QLatin1String(" bytes: it holds ") + fromBytes(used));
    }
    if (segment.overLimit()) {
      Diagnostics(false).reportPlain(
          Severity::Error, segment.name + QLatin1String(" uses ") + fromBytes(used) +
                               QLatin1String(", over its limit of ") + fromBytes(groupedNumber(segment.limit->bytes)) +
                               QLatin1String(" bytes (") + segment.limit->percentText + QLatin1String("%) by ") +
                               fromBytes(groupedNumber(segment.usedBytes() - segment.limit->bytes)) +
                               QLatin1String(" bytes"));
    }
  }
  return memoryReport.fails() ? 1 : 0;
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
