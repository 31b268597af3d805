// What the command line decides about the script. The driver hands it to the
// writer and the layout; nothing in the library reads process-wide flags.
#pragma once

#include <QMap>
#include <QString>

struct ScriptOptions {
  QMap<QString, QString> symbols;  // written in ascending name order
  bool checkSegmentOverflow = false;
  bool checkUnplacedSections = true;
  QString defaultFillPattern;
  QString entry;  // ENTRY(entry) opens the script; empty: no ENTRY statement
  // A run section that cannot be found is an error; when false
  // (-disable-missing-runin-error) the section is discarded.
  bool missingRunInError = true;
  // -portable-script: the form that GNU ld and ld.lld both link.
  bool portableScript = false;
  // The progress lines of -verbose on standard output.
  bool verbose = false;
};
