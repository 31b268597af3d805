#include "base/console.h"

#include <cstdio>

#include "base/bytes.h"

namespace {

void print(std::FILE* stream, const QString& text) {
  const QByteArray bytes = toBytes(text);
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
}

}  // namespace

void printOutput(const QString& text) { print(stdout, text); }

void printError(const QString& text) {
  print(stderr, text);
  std::fflush(stderr);
}
