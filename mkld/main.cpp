#include <cstdlib>

#include "mkld/driver.h"

int main(int argc, char** argv) {
  std::exit(runMkld(argc, argv));
}
