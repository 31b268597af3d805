// Shared pieces of the fuzz targets: splitting one input into parts and a
// scratch folder for files.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Splits the input at each "\n----\n" into at most `maxParts` parts.
std::vector<std::string> splitParts(const uint8_t* data, size_t size, size_t maxParts);

// A folder that lives as long as the fuzzing process; files in it are
// rewritten for every input.
const QString& scratchFolder();
QString writeScratchFile(const QString& name, const std::string& content);
