// The whole tool in-process: part 1 holds command-line arguments (one per
// line), part 2 the memory-map file, part 3 the placement file, part 4 a file
// they may include (inc.xml).
//
// Part 1 is read as options, as the tool's option table describes them (the
// extensions too): an option that takes a value takes the next line as it is
// (any bytes, also macro lists, symbols and segment lists); lines that would
// be positional arguments are dropped, and so are the options naming input
// files, whose files are the parts. An output file other than the script
// (-dependency-file) is written in the scratch folder. The memory map comes
// from part 2, or from the segment list when part 2 is empty and one is
// given; the placement file is passed when part 3 is not empty. The output
// path is always the one positional argument, so the command line is
// complete. The tool's own messages are silenced with -close_fd_mask=3
// (scripts/fuzz passes it), which keeps libFuzzer's reports.
//
// Beyond crashes, the run checks the promise about the output file: status 0
// leaves a script, status 1 leaves none.
#include <QFile>
#include <QStringList>
#include <cstdlib>
#include <cstring>

#include "base/bytes.h"
#include "fuzz/fuzz_support.h"
#include "mkld/commandline.h"
#include "mkld/driver.h"

namespace {

// The option's argument kind; None also for a line that is no option.
OptionArgument argumentOf(const std::string& option) {
  for (const CommandLineOption& row : optionTable()) {
    if (option == row.name)
      return row.argument;
  }
  return OptionArgument::None;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  size_t from = 0;
  while (from < text.size() && result.size() < 64) {
    size_t end = text.find('\n', from);
    if (end == std::string::npos)
      end = text.size();
    // An argument ends at its first NUL, as it does in a real argv.
    std::string line = text.substr(from, end - from);
    line.resize(std::strlen(line.c_str()));
    result.push_back(std::move(line));
    from = end + 1;
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = splitParts(data, size, 4);
  const QString memoryMap = writeScratchFile(QStringLiteral("map.xml"), parts[1]);
  const QString placement = writeScratchFile(QStringLiteral("placement.xml"), parts[2]);
  writeScratchFile(QStringLiteral("inc.xml"), parts[3]);
  const QString output = scratchFolder() + QStringLiteral("/out.ld");
  QFile::remove(output);

  std::vector<std::string> args{"mkld"};
  std::string segments;
  const std::vector<std::string> given = lines(parts[0]);
  for (size_t i = 0; i < given.size(); ++i) {
    const std::string& arg = given[i];
    if (arg.empty() || arg[0] != '-')
      continue;
    const OptionArgument argument = argumentOf(arg);
    if (argument == OptionArgument::None) {
      args.push_back(arg);
      continue;
    }
    if (i + 1 == given.size())
      break;
    const std::string& value = given[++i];
    if (argument == OptionArgument::InputFile)
      continue;
    if (arg == "-memory-map-segments")
      segments = value;
    args.push_back(arg);
    args.push_back(argument == OptionArgument::OutputFile ? toStdBytes(scratchFolder()) + "/out.d" : value);
  }
  // Without a file or a non-empty segment list the line would be incomplete.
  if (!parts[1].empty() || segments.empty()) {
    args.push_back("-memory-map-file");
    args.push_back(toStdBytes(memoryMap));
  }
  if (!parts[2].empty()) {
    args.push_back("-section-placement-file");
    args.push_back(toStdBytes(placement));
  }
  args.push_back(toStdBytes(output));

  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);

  const int status = runMkld(static_cast<int>(args.size()), argv.data());
  const bool written = QFile::exists(output);
  if ((status == 0) != written) {
    std::abort();  // status 0 without a script, or status 1 that left one
  }
  QFile::remove(output);
  return 0;
}
