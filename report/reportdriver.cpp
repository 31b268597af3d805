#include "report/reportdriver.h"

#include <QString>
#include <QStringList>
#include <cstdio>
#include <new>
#include <optional>
#include <vector>

#include "base/bytes.h"
#include "base/console.h"
#include "base/diagnostics.h"
#include "base/fatalerror.h"
#include "base/replacingfile.h"
#include "ldscript/sectionlist.h"
#include "memorymap/memorymap.h"
#include "mkld/driver.h"
#include "report/elffile.h"
#include "report/htmlreport.h"
#include "report/jsonreport.h"
#include "report/memoryreport.h"
#include "report/textreport.h"
#include "xml/macroregistry.h"

namespace {

struct Limit {
  QString segment;
  QString percentText;  // as written, for the message
  double percent = 0;
};

struct ReportOptions {
  QString memoryMapFile;
  QString memoryMapMacros;
  QString memoryMapSegments;
  QString sectionPlacementFile;
  QString sectionPlacementMacros;
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

void usage() {
  printError(QStringLiteral(
      "Usage: mkld-report -memory-map-file <memory-map> [options] <elf-file>\n"
      "       mkld-report -memory-map-segments <segments> [options] <elf-file>\n"
      "Options: -memory-map-macros <macros>, -section-placement-file <file>,\n"
      "  -section-placement-macros <macros>, -html <file>, -json <file>,\n"
      "  -limit <segment>=<percent> (repeatable). See mkld-report(1).\n"));
}

// The options; none when the command line is incomplete.
std::optional<ReportOptions> parseArguments(int argc, char** argv) {
  ReportOptions options;
  QStringList positional;
  for (int i = 1; i < argc; ++i) {
    const QString arg = fromBytes(argv[i]);
    const auto value = [&]() {
      if (i + 1 >= argc)
        throw FatalError(QLatin1String("argument expected after ") + arg);
      return fromBytes(argv[++i]);
    };
    const auto appendTo = [&](QString& list) {
      const QString item = value();
      list += (list.isEmpty() ? QString() : QStringLiteral(";")) + item;
    };
    if (arg == QLatin1String("-memory-map-file"))
      options.memoryMapFile = value();
    else if (arg == QLatin1String("-memory-map-segments"))
      options.memoryMapSegments = value();
    else if (arg == QLatin1String("-memory-map-macros"))
      appendTo(options.memoryMapMacros);
    else if (arg == QLatin1String("-section-placement-file"))
      options.sectionPlacementFile = value();
    else if (arg == QLatin1String("-section-placement-macros") || arg == QLatin1String("-section-placment-macros"))
      appendTo(options.sectionPlacementMacros);
    else if (arg == QLatin1String("-html"))
      options.htmlFile = value();
    else if (arg == QLatin1String("-json"))
      options.jsonFile = value();
    else if (arg == QLatin1String("-limit"))
      options.limits.push_back(parseLimit(value()));
    else if (arg.startsWith(QLatin1Char('-')))
      throw FatalError(QLatin1String("unknown option ") + arg);
    else
      positional.append(arg);
  }
  if ((options.memoryMapFile.isEmpty() && options.memoryMapSegments.isEmpty()) || positional.size() != 1)
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
  MemoryMap memoryMap;
  if (!options.memoryMapFile.isEmpty()) {
    if (!memoryMap.loadFile(options.memoryMapFile, options.memoryMapMacros, true))
      throw FatalError(QStringLiteral("cannot load memory map file"));
  } else {
    memoryMap.loadString(buildSegmentMapText(options.memoryMapSegments));
  }
  MemoryMap placement;
  const bool hasPlacement = !options.sectionPlacementFile.isEmpty();
  if (hasPlacement && !placement.loadFile(options.sectionPlacementFile, options.sectionPlacementMacros, true))
    throw FatalError(QStringLiteral("cannot load section placement file"));

  QString error;
  const std::optional<ElfFile> elf = readElfFile(options.elfFile, &error);
  if (!elf)
    throw FatalError(error);
  // The section list the script was written from says what the sections are for.
  LayoutModel model;
  buildSectionList(model, memoryMap, hasPlacement ? &placement : nullptr, {}, false);
  const LayoutIntent intent = layoutIntent(model);
  const MemoryReport memoryReport = buildMemoryReport(options.elfFile, *elf, intent.segments, intent.reservations);
  for (const Limit& limit : options.limits)
    segmentNamed(memoryReport, limit.segment);

  const QByteArray table = textReport(memoryReport);
  std::fwrite(table.constData(), 1, static_cast<size_t>(table.size()), stdout);
  std::fflush(stdout);
  if (!options.htmlFile.isEmpty())
    writeFile(options.htmlFile, htmlReport(memoryReport));
  if (!options.jsonFile.isEmpty())
    writeFile(options.jsonFile, jsonReport(memoryReport));

  int status = 0;
  for (const Limit& limit : options.limits) {
    const SegmentUsage& segment = segmentNamed(memoryReport, limit.segment);
    if (segment.usedPercent() > limit.percent) {
      Diagnostics(false).plainError(segment.name + QLatin1String(" is ") +
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
      usage();
      return 1;
    }
    return report(*options);
  } catch (const FatalError& e) {
    Diagnostics(false).plainError(e.message());
  } catch (const std::bad_alloc&) {
    Diagnostics(false).plainError(QStringLiteral("out of memory"));
  }
  return 1;
}
