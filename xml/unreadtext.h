// The -diagnostics rules for the macros of the command line and the texts
// they go into: a number that mkld evaluates itself (a memory-map start or
// size, a loop bound, a defined expression) and whose text goes on after a
// complete expression ("64K", "0x2000_0000", "256 1024", "0x10000000)"),
// where the evaluator takes the expression and drops the rest, so the value
// is not what the text shows; and a macro that no file uses.
#pragma once

#include <QString>
#include <cstdint>

#include "xml/macros.h"

class Diagnostics;
class ReportedOnce;
class SourceMap;
class XMLElement;

// The macros of the command line for one document, and the option that set
// them: text that came from one of them is traced back to it.
struct CommandLineMacros {
  MacroTable table;
  const char* option = "";
};

// Warns at the unread part of `attribute` of `element`: `text` is its value
// after expansion, `value` what was read, `unread` where the rest starts.
// A loop's copies share a place and report once (`reported`).
void reportUnreadText(const SourceMap& sources, Diagnostics& diagnostics, ReportedOnce& reported,
                      const XMLElement& element, const char* attribute, const QString& text, uint64_t value,
                      qsizetype unread, const CommandLineMacros& macros);

// Warns about each macro of `macros` whose name the files `firstFile` up to
// the last file of `sources` never mention: no $(NAME) and no directive
// naming it (ifdef, if and the like name it without $(...)).
void reportUnusedMacros(const SourceMap& sources, Diagnostics& diagnostics, std::uint32_t firstFile,
                        const CommandLineMacros& macros);
