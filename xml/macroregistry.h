// The process-wide macro registry: the built-in macros that every expansion
// may search.
//
// Created once, on first use (the driver touches it at start-up), and never
// changed afterwards.
#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringView>
#include <optional>

#include "xml/macros.h"

class MacroRegistry {
public:
  static MacroRegistry& instance();

  MacroRegistry(const MacroRegistry&) = delete;
  MacroRegistry& operator=(const MacroRegistry&) = delete;

  // Built-in names to stored values; the date and time names store nothing
  // and are computed when expanded (computedMacroValue).
  const MacroTable& builtins() const { return builtins_; }

private:
  MacroRegistry();

  MacroTable builtins_;
};

// The value of one of the nine date and time names (Date, DateYear,
// DateMonth, DateDay, Time, TimeHour, TimeMinute, TimeSecond, UnixTime) at
// `now`, with month names from `locale`; nothing for any other name.
std::optional<QString> computedMacroValue(QStringView name, const QDateTime& now,
                                          const QLocale& locale = QLocale());
