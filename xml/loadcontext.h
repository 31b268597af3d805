// What every load of a run shares: the diagnostic engine, the files read and
// where each node came from, and the budgets that keep each load finite. The
// reader (xml/xmlreader.h), the preprocessor (xml/preprocessor.h) and the
// document loader (memorymap/documentloader.h) each take it.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <string_view>

#include "base/diagnostics.h"
#include "xml/sourcemap.h"

class Arena;

// Bounds that keep every input finite, far above what real files need.
// Exceeding the first or last fails the load; an include past the depth
// limit fails like an unreadable one.
struct LoadLimits {
  // Element levels below the first node, counted across includes,
  // fragments and loop copies.
  int maxNesting = 1000;
  // Includes open inside one another.
  int maxIncludeDepth = 64;
  // Per document (its file and the files it imports): loop iterations plus
  // the elements copied by for, foreach and xmlput and read by include. A
  // million keeps a load within about a second and a few hundred megabytes;
  // generated register maps stay far below it.
  std::uint64_t maxCreatedElements = 1'000'000;
  // Per document: characters that $(NAME) expansions read and write, over
  // all their re-scanning passes.
  std::int64_t maxExpandedCharacters = std::int64_t(1) << 28;
};

class LoadContext {
public:
  explicit LoadContext(Diagnostics& diagnostics, const LoadLimits& limits = LoadLimits());
  LoadContext(const LoadContext&) = delete;
  LoadContext& operator=(const LoadContext&) = delete;

  Diagnostics& diagnostics() const { return diagnostics_; }
  SourceMap& sources() { return sources_; }
  const SourceMap& sources() const { return sources_; }
  const LoadLimits& limits() const { return limits_; }

  // What is left of the budgets of the document being loaded; the document
  // loader starts each document with the full limits.
  struct Budget {
    std::uint64_t elements = 0;
    std::int64_t characters = 0;
    bool exceeded = false;  // a load failed on one of them
  };
  Budget& budget() { return budget_; }
  void startDocument() { budget_ = {limits_.maxCreatedElements, limits_.maxExpandedCharacters, false}; }

  // Every path read, in order, repeats included: what a build tool must
  // watch to know when the output is out of date. A file that was read but
  // did not parse is listed too, since fixing it changes the result.
  const QStringList& filesRead() const { return filesRead_; }
  // A file read by other means than readFile (a devicetree).
  void addFileRead(const QString& path) { filesRead_.append(path); }

  struct FileText {
    std::uint32_t file = 0;  // its SourceMap file, also when it could not be read
    bool read = false;
    std::string_view text;  // up to its first NUL, without a UTF-8 byte-order mark; NUL-terminated
    QString readError;      // the system's reason when it could not be read
  };
  // Reads the file at `path` (bytes, one character each; see base/bytes.h)
  // into `arena`. `openedBy` is the SourceMap origin of the include or
  // Import that reads it, 0 for a file named by the user; diagnostics name
  // it `shownAs` when given, else `path`.
  FileText readFile(Arena& arena, const QString& path, std::uint32_t openedBy = 0,
                    const QString& shownAs = QString());

private:
  Diagnostics& diagnostics_;
  const LoadLimits limits_;
  SourceMap sources_;
  QStringList filesRead_;
  Budget budget_;
};
