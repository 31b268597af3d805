#include "fuzz/fuzz_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "base/bytes.h"

std::vector<std::string> splitParts(const uint8_t* data, size_t size, size_t maxParts) {
  static const std::string separator = "\n----\n";
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  size_t from = 0;
  while (parts.size() + 1 < maxParts) {
    const size_t at = input.find(separator, from);
    if (at == std::string::npos)
      break;
    parts.push_back(input.substr(from, at - from));
    from = at + separator.size();
  }
  parts.push_back(input.substr(from));
  parts.resize(maxParts);
  return parts;
}

const QString& scratchFolder() {
  static QTemporaryDir dir;
  static const QString path = dir.path();
  return path;
}

QString writeScratchFile(const QString& name, const std::string& content) {
  const QString path = scratchFolder() + QLatin1Char('/') + name;
  QFile file(path);
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
    file.write(content.data(), static_cast<qint64>(content.size()));
  return path;
}
