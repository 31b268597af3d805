// Script generation for memory maps with many sections: the layout walk and
// its indexes must keep the time linear in the number of sections.
#include <benchmark/benchmark.h>

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include "base/bytes.h"
#include "base/diagnostics.h"
#include "ldscript/linkerscriptwriter.h"
#include "memorymap/documentloader.h"
#include "xml/loadcontext.h"

namespace {

// `count` sections over four segments; every tenth section of FLASH runs in
// a run section in RAM, and the last section of each chain asks to be
// placed from the segment end after fixed-size sections.
std::string memoryMapXml(int count) {
  std::string xml = "<Root>";
  const char* segments[] = {"FLASH", "RAM", "SRAM2", "CCM"};
  for (int s = 0; s < 4; ++s) {
    xml += std::string("<MemorySegment name=\"") + segments[s] + "\" start=\"0x" + std::to_string(s + 1) +
           "0000000\" size=\"0x100000\">";
    for (int i = s; i < count; i += 4) {
      const std::string name = ".s" + std::to_string(i);
      xml += "<ProgramSection name=\"" + name + "\" load=\"Yes\" size=\"0x10\" alignment=\"4\"";
      if (s == 0 && i % 40 == 0)
        xml += " runin=\".r" + std::to_string(i) + "\"";
      if (i + 4 >= count)
        xml += " place_from_segment_end=\"yes\"";
      xml += "/>";
      if (s == 1 && (i - 1) % 40 == 0)
        xml += "<ProgramSection name=\".r" + std::to_string(i - 1) + "\"/>";
    }
    xml += "</MemorySegment>";
  }
  return xml + "</Root>";
}

void BM_GenerateLinkerScript(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  QTemporaryDir dir;
  QFile file(dir.filePath(QStringLiteral("map.xml")));
  const std::string xml = memoryMapXml(count);
  if (!file.open(QIODevice::WriteOnly) || file.write(xml.data(), static_cast<qint64>(xml.size())) < 0) {
    state.SkipWithError("cannot write the memory map");
    return;
  }
  file.close();
  Diagnostics diagnostics(false);
  LoadContext context(diagnostics);
  const std::optional<MemoryMap> memoryMap = loadMemoryMap(context, fromNativePath(file.fileName()), QString());
  if (!memoryMap) {
    state.SkipWithError("memory map did not load");
    return;
  }
  LinkerScriptInputs inputs;
  inputs.memoryMap = &*memoryMap;
  inputs.checkSegmentOverflow = true;
  const size_t bytes = generateLinkerScript(inputs, diagnostics).size();
  // As the tool writes it: streamed to a file, here one that keeps nothing.
  const QString devNull = QStringLiteral("/dev/null");
  for (auto _ : state)
    writeLinkerScript(devNull, inputs, diagnostics);
  state.SetItemsProcessed(state.iterations() * count);
  state.counters["script_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_GenerateLinkerScript)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
