#include "xml/macroregistry.h"

MacroRegistry& MacroRegistry::instance() {
  static MacroRegistry registry;
  return registry;
}

MacroRegistry::MacroRegistry() {
  // The first nine store nothing: their values are the date and time of the
  // expansion that asks for them.
  add("Date", "", "Day Month Year e.g. 21 June 2011.");
  add("DateYear", "", "Year e.g. 2011.");
  add("DateMonth", "", "Month e.g. June.");
  add("DateDay", "", "Day e.g. 21.");
  add("Time", "", "Hour:Minutes:Seconds e.g. 15:34:03.");
  add("TimeHour", "", "Hour e.g. 15.");
  add("TimeMinute", "", "Minute e.g. 34.");
  add("TimeSecond", "", "Seconds e.g. 03.");
  add("UnixTime", "", "Seconds since 00:00, Jan 1 1970 UTC");
  add("HostArch", "x64", "The CPU architecture of the host.");
  add("HostOS", "linux", "The host operating system.");
  add("Micro", "RISCV", "The target processor family.");
  add("TargetID", "20", "The numeric target identifier, in decimal.");
  add("HostEXE", "", "The file extension of host executables.");
  add("HostDLLExt", ".so", "The file extension of host shared libraries.");
  add("HostDLL", ".so_x64", "The host shared-library suffix.");
}

void MacroRegistry::add(const char* name, const char* value, const char* description) {
  const QString key = QLatin1String(name);
  builtins_.insert(key, QLatin1String(value));
  if (*description != '\0')
    documentation_.append({key, QLatin1String(description)});
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
