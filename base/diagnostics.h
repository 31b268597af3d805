// The one diagnostic engine of a run: everything a run reports goes through
// it, and it alone decides what is printed and whether the run failed.
//
// A diagnostic has a severity, a place, the text of its located line and,
// when the default output prints it, its plain text. What is printed:
// - without -diagnostics: "error: PLAIN" / "warning: PLAIN" at once, byte for
//   byte as the tool always printed it; nothing else;
// - with -diagnostics: the located line "FILE:LINE:COLUMN: error: TEXT" and
//   its notes, kept and printed by flush() after the plain lines of
//   diagnostics that have no located text.
// Each diagnostic is printed once either way. The run fails when an error
// has been counted.
#pragma once

#include <QString>
#include <cstddef>
#include <vector>

enum class Severity { Error, Warning, Note };

struct SourceLocation {
  QString file;    // the path as given, or as an include/Import resolved it; empty: none
  int line = 0;    // from 1; 0: no line
  int column = 0;  // from 1; 0: no column (then printed as FILE:LINE: ...)
};

struct Diagnostic {
  struct Note {
    SourceLocation where;
    QString text;
  };

  Severity severity = Severity::Error;
  SourceLocation where;
  QString text;   // the located line's text; empty: no located line
  QString plain;  // the default output's text; empty: not printed by default
  std::vector<Note> notes;
};

class Diagnostics {
public:
  explicit Diagnostics(bool located);  // located: -diagnostics was given

  // Whether located lines are printed: code that only composes them can
  // skip the work when not.
  bool located() const { return located_; }

  void report(Diagnostic diagnostic);
  // An error or warning of the default output, with no place.
  void reportPlain(Severity severity, const QString& text) { report({severity, {}, QString(), text, {}}); }
  // A located line only (with -diagnostics), followed by `notes`.
  void reportLocated(Severity severity, const SourceLocation& where, const QString& text,
                     std::vector<Diagnostic::Note> notes = {}) {
    report({severity, where, text, QString(), std::move(notes)});
  }

  std::size_t errorCount() const { return errors_; }

  // Prints the kept located lines on standard error and forgets them.
  void flush();

  // One located line as flush() prints it, without the line break.
  static QString format(Severity severity, const SourceLocation& where, const QString& text);

private:
  bool located_;
  std::size_t errors_ = 0;
  QString kept_;
};
