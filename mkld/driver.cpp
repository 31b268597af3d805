#include "mkld/driver.h"

#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <new>
#include <optional>
#include <unistd.h>

#include "base/bytes.h"
#include "base/diagnostics.h"
#include "base/fatalerror.h"
#include "inputs/loadinputs.h"
#include "ldscript/linkerscriptwriter.h"
#include "memorymap/definednames.h"
#include "memorymap/names.h"
#include "mkld/commandline.h"
#include "mkld/dependencyfile.h"
#include "mkld/inputroles.h"
#include "xml/loadcontext.h"
#include "xml/macroregistry.h"

namespace {

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

// Everything after the command line: the documents, the script and the
// dependency file on every file both documents read, written only once the
// script is in place. Every failure ends here, reported through the engine;
// the run fails when the engine counted an error, and the output file is
// removed.
int run(const CommandLineOptions& options, Diagnostics& diagnostics) {
  try {
    checkDependencyFileIsNotTheScript(options);
    LoadContext context(diagnostics);
    const std::optional<LoadedInputs> loaded = loadInputs(context, options, options.verbose);
    if (loaded)
      checkSegmentNames(loaded->memoryMap, diagnostics);
    if (loaded && loaded->placement) {
      checkPlacementSegments(loaded->memoryMap, *loaded->placement, diagnostics);
      checkSectionNames(*loaded->placement, diagnostics);
    }
    if (loaded)
      checkInputRoles(loaded->memoryMap, loaded->placement ? &*loaded->placement : nullptr, diagnostics);
    if (loaded && diagnostics.errorCount() == 0) {
      LinkerScriptInputs inputs;
      static_cast<ScriptOptions&>(inputs) = options;
      inputs.memoryMap = &loaded->memoryMap;
      inputs.placement = loaded->placement ? &*loaded->placement : nullptr;
      writeLinkerScript(options.outputFile, inputs, diagnostics);
      if (!options.dependencyFile.isEmpty())
        writeDependencyFile(options.dependencyFile, options.outputFile, context.filesRead());
    }
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

int runMkld(int argc, char** argv) {
  MacroRegistry::instance();  // the built-in macro table, before anything reads it
  CommandLineOptions options;
  // Whether -diagnostics was given is known only once the command line is
  // read; its own errors are plain lines, so a sink without located lines
  // reports them.
  try {
    if (!parseCommandLine(argc, argv, options)) {
      if (options.help) {
        printHelp();
        return 0;
      }
      printUsage();
      return 1;
    }
  } catch (const FatalError& e) {
    // Under -diagnostics an unknown option gets the nearest known one.
    Diagnostic diagnostic = e.diagnostic();
    const QString note = commandLineErrorNote(argc, argv);
    if (!note.isEmpty()) {
      diagnostic.text = diagnostic.plain;
      diagnostic.notes.push_back({SourceLocation(), note});
    }
    Diagnostics diagnostics(!note.isEmpty());
    diagnostics.report(std::move(diagnostic));
    diagnostics.flush();
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
