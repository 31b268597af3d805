// Reader throughput on a generated 50 MB memory map: from memory, from a
// file (the figure to set beside other XML tools on the same file), and
// keeping character data and comments.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "memory_map_generator.h"
#include "xml/xmldocument.h"

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

void parseBuffer(benchmark::State& state, int flags) {
  const std::string& text = memoryMap();
  for (auto _ : state) {
    XMLDocument document(flags);
    if (!document.parse(text.c_str()) || !document.root())
      state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(document.root());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_ParseMemoryMap(benchmark::State& state) { parseBuffer(state, 0); }
void BM_ParseMemoryMapKeepingText(benchmark::State& state) { parseBuffer(state, 1); }

void BM_LoadMemoryMapFile(benchmark::State& state) {
  const std::string& path = memoryMapFile();
  for (auto _ : state) {
    XMLDocument document;
    if (!document.load(path.c_str()) || !document.root())
      state.SkipWithError("load failed");
    benchmark::DoNotOptimize(document.root());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * memoryMap().size()));
}

}  // namespace

BENCHMARK(BM_ParseMemoryMap)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseMemoryMapKeepingText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadMemoryMapFile)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
