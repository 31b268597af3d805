#include "mkld/driver.h"

#include <QFileInfo>
#include <QSet>
#include <QString>
#include <QStringList>
#include <new>
#include <unistd.h>

#include "base/bytes.h"
#include "base/console.h"
#include "base/diagnostics.h"
#include "base/fatalerror.h"
#include "ldscript/linkerscriptwriter.h"
#include "memorymap/memorymap.h"
#include "memorymap/names.h"
#include "mkld/commandline.h"
#include "mkld/dependencyfile.h"
#include "xml/macroregistry.h"

namespace {

// The fields go into attribute values as they are, except the three
// characters that would end the value or start markup: a quote or an angle
// bracket in a field then still gives the field's own text, not a broken
// document. Ordinary names and numbers are unchanged.
QString attributeText(const QString& field) {
  QString text;
  text.reserve(field.size());
  for (const QChar c : field) {
    if (c == QLatin1Char('&'))
      text += QLatin1String("&amp;");
    else if (c == QLatin1Char('<'))
      text += QLatin1String("&lt;");
    else if (c == QLatin1Char('"'))
      text += QLatin1String("&quot;");
    else
      text += c;
  }
  return text;
}

// Only a regular file (or a link to one) is removed: an error must not
// delete a device or a pipe that the script was to be written to.
void removeOutputFile(const QString& path) {
  if (!path.isEmpty() && QFileInfo(nativePath(path)).isFile())
    ::unlink(toBytes(path).constData());
}

// The dependency file would replace the script it describes.
void checkDependencyFileIsNotTheScript(const CommandLineOptions& options) {
  if (options.dependencyFile.isEmpty())
    return;
  if (QFileInfo(nativePath(options.dependencyFile)).absoluteFilePath() ==
      QFileInfo(nativePath(options.outputFile)).absoluteFilePath())
    throw FatalError(QLatin1String("cannot write dependency file ") + options.dependencyFile +
                     QLatin1String(": it is the ld script"));
}

// Writes the script and then, only once the script is in place, the
// dependency file on every file both documents read.
void writeScript(const CommandLineOptions& options, const MemoryMap& memoryMap, const MemoryMap* placement,
                 Diagnostics& diagnostics) {
  LinkerScriptInputs inputs;
  static_cast<ScriptOptions&>(inputs) = options;
  inputs.memoryMap = &memoryMap;
  inputs.placement = placement;
  writeLinkerScript(options.outputFile, inputs, diagnostics);
  if (options.dependencyFile.isEmpty())
    return;
  QStringList filesRead = memoryMap.filesRead;
  if (placement)
    filesRead += placement->filesRead;
  writeDependencyFile(options.dependencyFile, options.outputFile, filesRead);
}

// Everything after the command line: the documents, the script and the
// dependency file. Every failure ends here, reported through the engine; the
// run fails when the engine counted an error, and the output file is removed.
int run(const CommandLineOptions& options, Diagnostics& diagnostics) {
  MemoryMap memoryMap;
  MemoryMap placement;
  memoryMap.diagnostics = &diagnostics;
  placement.diagnostics = &diagnostics;
  try {
    checkDependencyFileIsNotTheScript(options);
    if (options.verbose)
      printOutput(QLatin1String("Using memory map file ") + options.memoryMapFile + QLatin1Char('\n'));
    if (!options.memoryMapFile.isEmpty()) {
      if (!memoryMap.loadFile(options.memoryMapFile, options.memoryMapMacros, true))
        throw FatalError(QStringLiteral("cannot load memory map file"));
    } else {
      memoryMap.loadString(buildSegmentMapText(options.memoryMapSegments));
    }

    const bool hasPlacement = !options.sectionPlacementFile.isEmpty();
    if (hasPlacement) {
      if (options.verbose) {
        printOutput(QLatin1String("Using section placement file ") + options.sectionPlacementFile +
                    QLatin1Char('\n'));
      }
      if (!placement.loadFile(options.sectionPlacementFile, options.sectionPlacementMacros, true))
        throw FatalError(QStringLiteral("cannot load section placement file"));
      checkPlacementSegments(memoryMap, placement, diagnostics);
    }
    writeScript(options, memoryMap, hasPlacement ? &placement : nullptr, diagnostics);
  } catch (const FatalError& e) {
    diagnostics.report(e.diagnostic());
  } catch (const std::bad_alloc&) {
    diagnostics.reportPlain(Severity::Error, QStringLiteral("out of memory"));
  }
  if (diagnostics.errorCount() == 0)
    return 0;
  removeOutputFile(options.outputFile);
  return 1;
}

}  // namespace

QString buildSegmentMapText(const QString& segments) {
  QString text = QStringLiteral("<!DOCTYPE Board_Memory_Definition_File><Root name=\"none\">");
  const QStringList entries = segments.split(QLatin1Char(';'));
  QSet<QString> usedNames;
  // From the last entry to the first: the last entry of a name counts.
  for (auto entry = entries.crbegin(); entry != entries.crend(); ++entry) {
    const QStringList fields = entry->split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (fields.size() != 4)
      continue;
    const QString& name = fields[0];
    const QString& access = fields[1];
    if (usedNames.contains(name))
      continue;
    usedNames.insert(name);
    text += QLatin1String("<MemorySegment name=\"") + attributeText(name) + QLatin1String("\" start=\"") +
            attributeText(fields[2]) + QLatin1String("\" size=\"") + attributeText(fields[3]) +
            QLatin1Char('"');
    if (access == QLatin1String("RW") || access == QLatin1String("RWX"))
      text += QLatin1String("access=\"ReadWrite\"");
    else if (access == QLatin1String("R") || access == QLatin1String("RX"))
      text += QLatin1String("access=\"ReadOnly\"");
    text += QLatin1String("/>");
  }
  text += QLatin1String("</Root>");
  return text;
}

int runMkld(int argc, char** argv) {
  MacroRegistry::instance();  // the built-in macro table, before anything reads it
  CommandLineOptions options;
  // Whether -diagnostics was given is known only once the command line is
  // read; its own errors are plain lines, so a sink without located lines
  // reports them.
  try {
    if (!parseCommandLine(argc, argv, options)) {
      printUsage();
      return 1;
    }
  } catch (const FatalError& e) {
    Diagnostics(false).report(e.diagnostic());
    return 1;
  } catch (const std::bad_alloc&) {
    Diagnostics(false).reportPlain(Severity::Error, QStringLiteral("out of memory"));
    return 1;
  }
  Diagnostics diagnostics(options.diagnostics);
  const int status = run(options, diagnostics);
  diagnostics.flush();
  return status;
}
