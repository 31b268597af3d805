// A report compared with one written earlier with -json: what grew and what
// shrank, per segment (bytes used), per section and per symbol (size), as
// lines for the terminal and as Markdown for a pull request.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "report/memoryreport.h"

struct SizeChange {
  QString name;
  QString section;                 // a symbol's section; empty for the others
  std::optional<uint64_t> before;  // none: new
  std::optional<uint64_t> after;   // none: gone
  uint64_t capacityBefore = 0;     // a segment's size in each report; 0 for the others
  uint64_t capacityAfter = 0;

  int64_t delta() const;
};

struct Comparison {
  QString oldFile;
  std::vector<SizeChange> segments;  // every segment of either report, in the new report's order
  std::vector<SizeChange> sections;  // those whose size changed, largest change first
  std::vector<SizeChange> symbols;   // those whose size changed, largest change first
};

// Compares `report` with the JSON text `oldJson` read from `oldFile`. A
// text that is not a report of this format version gives nothing and sets
// `error`.
std::optional<Comparison> compareWithJson(const MemoryReport& report, const QString& oldFile,
                                          const QByteArray& oldJson, QString* error);

QByteArray comparisonText(const Comparison& comparison);
// Whole Markdown: a heading, the segment table and, folded, the sections
// and the symbols that changed (the largest changes when there are many).
QByteArray comparisonMarkdown(const Comparison& comparison);
