#include "xml/macroregistry.h"

#include "base/datadir.h"

MacroRegistry& MacroRegistry::instance() {
  static MacroRegistry registry;
  return registry;
}

MacroRegistry::MacroRegistry() {
  // The date and time names store nothing: their values are the date and
  // time of the expansion that asks for them (computedMacroValue).
  static const char* const kBuiltins[][2] = {
      {"Date", ""},        {"DateYear", ""},      {"DateMonth", ""}, {"DateDay", ""},
      {"Time", ""},        {"TimeHour", ""},      {"TimeMinute", ""}, {"TimeSecond", ""},
      {"UnixTime", ""},    {"HostArch", "x64"},   {"HostOS", "linux"}, {"Micro", "RISCV"},
      {"TargetID", "20"},  {"HostEXE", ""},       {"HostDLLExt", ".so"}, {"HostDLL", ".so_x64"},
  };
  for (const auto& [name, value] : kBuiltins)
    builtins_.insert(QLatin1String(name), QLatin1String(value));
  // The folder of the shipped placement fragments, for include file names.
  builtins_.insert(QStringLiteral("MkldDataDir"), dataDir());
}

std::optional<QString> computedMacroValue(QStringView name, const QDateTime& now,
                                          const QLocale& locale) {
  // Only Date spells out a month; the numeric ones use fixed ASCII digits.
  static const char* const kFormats[][2] = {
      {"DateYear", "yyyy"}, {"DateMonth", "MM"},  {"DateDay", "dd"},     {"Time", "hh:mm:ss"},
      {"TimeHour", "hh"},   {"TimeMinute", "mm"}, {"TimeSecond", "ss"},
  };
  if (name == QLatin1String("Date"))
    return locale.toString(now.date(), QStringLiteral("d MMMM yyyy"));
  if (name == QLatin1String("UnixTime"))
    return QString::number(static_cast<quint64>(now.toSecsSinceEpoch()));
  for (const auto& [formatted, pattern] : kFormats) {
    if (name == QLatin1String(formatted))
      return now.toString(QLatin1String(pattern));
  }
  return std::nullopt;
}
