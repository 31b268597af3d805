#include <cstdlib>

#include "report/reportdriver.h"

int main(int argc, char** argv) {
  std::exit(runReport(argc, argv));
}
