// Generates a large memory-map file for benchmarks: many memory segments, each
// with register groups, registers and bit fields carrying the attributes such
// files have. The output is the same for the same size on every run.
#pragma once

#include <cstddef>
#include <string>

// A well-formed memory-map text of about `targetBytes` bytes (a little more).
std::string generateMemoryMap(std::size_t targetBytes);
