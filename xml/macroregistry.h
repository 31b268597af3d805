// The process-wide macro registry: the built-in macros that every expansion
// may search, their documentation, and the second global table.
//
// Created once, on first use (the driver touches it at start-up), and never
// changed afterwards except through secondTable().
#pragma once

#include <QChar>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <QStringView>
#include <optional>

#include "xml/macros.h"

class MacroRegistry {
public:
  struct Documentation {
    QString name;
    QString description;
  };

  static MacroRegistry& instance();

  MacroRegistry(const MacroRegistry&) = delete;
  MacroRegistry& operator=(const MacroRegistry&) = delete;

  // One record per built-in that has a description, in registration order.
  const QList<Documentation>& documentation() const { return documentation_; }
  // Built-in names to stored values; the date and time names store nothing
  // and are computed when expanded (computedMacroValue).
  const MacroTable& builtins() const { return builtins_; }
  // Searched after the local table when asked; the tool itself leaves it empty.
  const MacroTable& secondTable() const { return secondTable_; }
  MacroTable& secondTable() { return secondTable_; }
  QChar macroCharacter() const { return QLatin1Char('$'); }

private:
  MacroRegistry();
  void add(const char* name, const char* value, const char* description);

  QList<Documentation> documentation_;
  MacroTable builtins_;
  MacroTable secondTable_;
};

// The value of one of the nine date and time names (Date, DateYear,
// DateMonth, DateDay, Time, TimeHour, TimeMinute, TimeSecond, UnixTime) at
// `now`, with month names from `locale`; nothing for any other name.
std::optional<QString> computedMacroValue(QStringView name, const QDateTime& now,
                                          const QLocale& locale = QLocale());
