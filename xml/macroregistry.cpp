#include "xml/macroregistry.h"

MacroRegistry& MacroRegistry::instance() {
  static MacroRegistry registry;
  return registry;
}

MacroRegistry::MacroRegistry() {
  // The date and time names store nothing: their values are the date and
  // time of the expansion that asks for them.
  for (const char* name : {"Date", "DateYear", "DateMonth", "DateDay", "Time", "TimeHour",
                           "TimeMinute", "TimeSecond", "UnixTime", "HostEXE"})
    builtins_.insert(QLatin1String(name), QString());
  builtins_.insert(QStringLiteral("HostArch"), QStringLiteral("x64"));
  builtins_.insert(QStringLiteral("HostOS"), QStringLiteral("linux"));
  builtins_.insert(QStringLiteral("Micro"), QStringLiteral("RISCV"));
  builtins_.insert(QStringLiteral("TargetID"), QStringLiteral("20"));
  builtins_.insert(QStringLiteral("HostDLLExt"), QStringLiteral(".so"));
  builtins_.insert(QStringLiteral("HostDLL"), QStringLiteral(".so_x64"));
}

std::optional<QString> computedMacroValue(QStringView name, const QDateTime& now,
                                          const QLocale& locale) {
  // Only Date spells out a month; the numeric ones use fixed ASCII digits.
  auto format = [&now](const char* pattern) { return now.toString(QLatin1String(pattern)); };
  if (name == QLatin1String("Date"))
    return locale.toString(now.date(), QStringLiteral("d MMMM yyyy"));
  if (name == QLatin1String("DateYear"))
    return format("yyyy");
  if (name == QLatin1String("DateMonth"))
    return format("MM");
  if (name == QLatin1String("DateDay"))
    return format("dd");
  if (name == QLatin1String("Time"))
    return format("hh:mm:ss");
  if (name == QLatin1String("TimeHour"))
    return format("hh");
  if (name == QLatin1String("TimeMinute"))
    return format("mm");
  if (name == QLatin1String("TimeSecond"))
    return format("ss");
  if (name == QLatin1String("UnixTime"))
    return QString::number(static_cast<quint64>(now.toSecsSinceEpoch()));
  return std::nullopt;
}
