#include "mkld/driver.h"

#include <cstdio>

#include "mkld/commandline.h"
#include "mkld/hexception.h"

int runMkld(int argc, char** argv) {
  CommandLineOptions options;
  try {
    parseCommandLine(argc, argv, options);
  } catch (const HException& e) {
    std::fprintf(stderr, "error: %s\n", e.message().c_str());
    return 1;
  }
  return 0;
}
