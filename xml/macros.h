// Macro tables and $(NAME) expansion.
#pragma once

#include <QMap>
#include <QString>

// Name to value; exact, case-sensitive names. Passed by value.
using MacroTable = QMap<QString, QString>;

// Expands $(NAME), $(NAME:default) and $(NAME::literal) references. The local
// table is searched first, then (by flag) the process-wide second table and
// the built-in table.
QString expandMacros(const MacroTable& local, const QString& text, bool searchSecondTable,
                     bool searchBuiltins);

// "A=1;B=x=y;C" -> {A: 1, B: x=y, C: ""}; a backslash escapes ';'.
MacroTable parseMacroList(const QString& text);

// A copy of `base` with every entry of `overriding` assigned over it.
MacroTable mergeMacros(const MacroTable& base, const MacroTable& overriding);
