// Every message a run reports goes through one Diagnostics, owned by the
// driver and handed to whatever reports.
//
// Design priority: the default output never changes. The plain lines
// ("error: TEXT", "warning: TEXT") are printed at once, byte for byte as they
// always were. The located lines that -diagnostics adds, in the compilers'
// format "FILE:LINE:COLUMN: error|warning|note: TEXT", are kept and printed
// by flush() after every plain line, and are dropped without -diagnostics, so
// they can never change the script, the exit status or the default text.
#pragma once

#include <QString>
#include <vector>

struct SourceLocation {
  QString file;    // the path as given, or as an include/Import resolved it; empty: none
  int line = 0;    // from 1; 0: no line
  int column = 0;  // from 1; 0: no column (then printed as FILE:LINE: ...)
};

enum class Severity { Error, Warning, Note };

class Diagnostics {
public:
  explicit Diagnostics(bool located);  // located: -diagnostics was given

  bool located() const { return located_; }

  // The plain lines of the default output, printed at once on standard error
  // exactly as always: "error: TEXT\n", "warning: TEXT\n".
  void plainError(const QString& text);
  void plainWarning(const QString& text);

  // Located lines: kept in order and printed by flush(); dropped when
  // !located().
  void error(const SourceLocation& where, const QString& text);
  void warning(const SourceLocation& where, const QString& text);
  void note(const SourceLocation& where, const QString& text);

  // Prints the kept located lines on standard error and forgets them.
  void flush();

  // One located line as flush() prints it, without the line break.
  static QString format(Severity severity, const SourceLocation& where, const QString& text);

private:
  struct Located {
    Severity severity;
    SourceLocation where;
    QString text;
  };
  void add(Severity severity, const SourceLocation& where, const QString& text);

  bool located_;
  std::vector<Located> kept_;
};
