// What the command line decides about the script. The driver hands it to the
// writer and the layout; nothing in the library reads process-wide flags.
#pragma once

#include <QMap>
#include <QString>

struct ScriptOptions {
  QMap<QString, QString> symbols;  // written in ascending name order
  // -provide-symbols: defaults that a definition in the program replaces,
  // written as PROVIDE(NAME = VALUE) after `symbols`, in name order.
  QMap<QString, QString> provideSymbols;
  bool checkSegmentOverflow = false;
  bool checkUnplacedSections = true;
  QString defaultFillPattern;
  QString entry;  // ENTRY(entry) opens the script; empty: no ENTRY statement
  // A run section that cannot be found is an error; when false
  // (-disable-missing-runin-error) the section is discarded.
  bool missingRunInError = true;
  // -portable-script: the form that GNU ld and ld.lld both link.
  bool portableScript = false;
  // -check-section-alignment: an ASSERT after each section with input
  // sections that it starts at a multiple of their alignment.
  bool checkSectionAlignment = false;
  // -run-sections-as-symbols: the default form writes a run section as
  // symbols, as the portable form does, instead of a NOLOAD section.
  bool runSectionsAsSymbols = false;
  // The progress lines of -verbose on standard output.
  bool verbose = false;
};
