// Reader throughput on a generated 50 MB memory map: from memory, and from a
// file (the figure to set beside other XML tools on the same file).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "base/bytes.h"
#include "base/diagnostics.h"
#include "memory_map_generator.h"
#include "xml/loadcontext.h"
#include "xml/xmlnode.h"
#include "xml/xmlreader.h"

namespace {

constexpr std::size_t kBytes = std::size_t{50} << 20;

const std::string& memoryMap() {
  static const std::string text = generateMemoryMap(kBytes);
  return text;
}

// The generated map written once to a temporary file, removed at exit.
const std::string& memoryMapFile() {
  static const std::string path = [] {
    char name[] = "/tmp/mkld_bench_memory_map_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0 || write(fd, memoryMap().data(), memoryMap().size()) !=
                      static_cast<ssize_t>(memoryMap().size())) {
      std::fprintf(stderr, "cannot write %s\n", name);
      std::exit(1);
    }
    close(fd);
    std::atexit([] { std::remove(memoryMapFile().c_str()); });
    return std::string(name);
  }();
  return path;
}

void BM_ParseMemoryMap(benchmark::State& state) {
  const std::string& text = memoryMap();
  for (auto _ : state) {
    Diagnostics diagnostics(false);
    LoadContext context(diagnostics);
    XMLTree tree;
    if (!readXML(context, tree, text, 0, Severity::Error).root)
      state.SkipWithError("parse failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_LoadMemoryMapFile(benchmark::State& state) {
  const QString path = fromBytes(memoryMapFile());
  for (auto _ : state) {
    Diagnostics diagnostics(false);
    LoadContext context(diagnostics);
    XMLTree tree;
    const LoadContext::FileText file = context.readFile(tree.arena(), path);
    if (!file.read || !readXML(context, tree, file.text, file.file, Severity::Error).root)
      state.SkipWithError("load failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * memoryMap().size()));
}

}  // namespace

BENCHMARK(BM_ParseMemoryMap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadMemoryMapFile)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
