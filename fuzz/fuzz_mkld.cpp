// The whole tool in-process: part 1 holds extra command-line arguments (one
// per line), part 2 the memory-map file, part 3 the placement file, part 4 a
// file they may include. The memory map, placement and output arguments are
// always given, so the command line is complete and the run never reaches
// the usage text (which ends the process).
#include <QFile>
#include <QStringList>
#include <cstdio>

#include "fuzz/fuzz_support.h"
#include "mkld/bytes.h"
#include "mkld/commandline.h"
#include "mkld/driver.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The tool's own messages are not what is being tested.
  std::freopen("/dev/null", "w", stdout);
  std::freopen("/dev/null", "w", stderr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = splitParts(data, size, 4);
  const QString memoryMap = writeScratchFile(QStringLiteral("map.xml"), parts[1]);
  const QString placement = writeScratchFile(QStringLiteral("placement.xml"), parts[2]);
  writeScratchFile(QStringLiteral("inc.xml"), parts[3]);
  const QString output = scratchFolder() + QStringLiteral("/out.ld");

  std::vector<std::string> args{"mkld"};
  size_t from = 0;
  const std::string& extra = parts[0];
  while (from < extra.size() && args.size() < 32) {
    size_t end = extra.find('\n', from);
    if (end == std::string::npos)
      end = extra.size();
    std::string arg = extra.substr(from, end - from);
    from = end + 1;
    // Options only: a positional argument would make the line incomplete.
    if (!arg.empty() && arg[0] == '-')
      args.push_back(arg);
  }
  // An option that takes an argument at the very end swallows this one
  // instead of the file names below.
  args.push_back("-verbose");
  for (const QString& arg : {QStringLiteral("-memory-map-file"), memoryMap,
                             QStringLiteral("-section-placement-file"), placement, output})
    args.push_back(toStdBytes(arg));

  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);

  verbose = false;
  missingRunInError = true;
  runMkld(static_cast<int>(args.size()), argv.data());
  QFile::remove(output);
  return 0;
}
