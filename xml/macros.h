// Macro tables and $(NAME) expansion.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// Name to value; exact, case-sensitive names. Passed by value.
using MacroTable = QMap<QString, QString>;

// Characters that expansions may still scan and produce, shared by every
// expansion of one load so that many hostile attributes together stay
// bounded too. Once spent, expansions stop early and `exhausted` is set; the
// caller fails the load.
struct ExpansionBudget {
  qint64 remaining = 0;
  bool exhausted = false;
};

// Expands $(NAME), $(NAME:default) and $(NAME::literal) references. The local
// table is searched first, then (by flag) the built-in table. `budget`, when
// given, is charged with the characters each re-scanning pass reads and
// writes. `undefined`, when given, gets the names of references left as
// written (neither a value nor a default).
QString expandMacros(const MacroTable& local, const QString& text, bool searchBuiltins,
                     ExpansionBudget* budget = nullptr, QStringList* undefined = nullptr);

// "A=1;B=x=y;C" -> {A: 1, B: x=y, C: ""}; a backslash escapes ';'.
MacroTable parseMacroList(const QString& text);

// A copy of `base` with every entry of `overriding` assigned over it.
MacroTable mergeMacros(const MacroTable& base, const MacroTable& overriding);
