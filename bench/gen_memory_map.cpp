// Writes the benchmark memory map to a file, so that other XML tools can be
// timed on the very bytes the reader benchmark reads.
//   gen_memory_map OUTPUT [MEGABYTES]   (default 50)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "memory_map_generator.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: gen_memory_map OUTPUT [MEGABYTES]\n");
    return 1;
  }
  const long megabytes = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 50;
  if (megabytes <= 0 || megabytes > 1000) {
    std::fprintf(stderr, "gen_memory_map: MEGABYTES must be 1 to 1000\n");
    return 1;
  }
  const std::string text = generateMemoryMap(static_cast<std::size_t>(megabytes) << 20);
  std::FILE* file = std::fopen(argv[1], "wb");
  if (!file || std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fclose(file) != 0) {
    std::fprintf(stderr, "gen_memory_map: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
