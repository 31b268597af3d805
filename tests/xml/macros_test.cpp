#include "xml/macros.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "support/casefile.h"
#include "xml/macroregistry.h"

namespace {

MacroTable table(std::vector<std::pair<std::string, std::string>> entries) {
  MacroTable result;
  for (const auto& [name, value] : entries)
    result.insert(fromBytes(name), fromBytes(value));
  return result;
}

// "{A=1}{B=}" in key order.
std::string tableText(const MacroTable& macros) {
  std::string text;
  for (auto it = macros.constBegin(); it != macros.constEnd(); ++it)
    text += "{" + toStdBytes(it.key()) + "=" + toStdBytes(it.value()) + "}";
  return text;
}

std::string expand(const MacroTable& local, const std::string& text, bool builtins = false) {
  return toStdBytes(expandMacros(local, fromBytes(text), builtins));
}

class ExpandWithA : public testing::TestWithParam<TestCase> {};

TEST_P(ExpandWithA, GivesExpectedText) {
  const MacroTable local = table({{"A", "1"}, {"E", ""}, {"V", "$(A)"}, {"", "unnamed"}});
  EXPECT_EQ(expand(local, GetParam().get("text")), GetParam().get("expanded")) << GetParam().get("text");
}

INSTANTIATE_TEST_SUITE_P(Table, ExpandWithA,
                         testing::ValuesIn(readCases(MKLD_TEST_DATA_DIR "/xml/macro_cases.txt")),
                         CaseName());

TEST(ExpandMacros, BytesOutsideAsciiRoundTrip) {
  EXPECT_EQ(expand(table({{"\xe9", "\xff\x80"}}), "<$(\xe9)>"), "<\xff\x80>");
}

TEST(ExpandMacros, MutuallyReferringValuesStopAfterFixedPasses) {
  const MacroTable local = table({{"P", "$(Q:$)"}, {"Q", "$(P:$)"}});
  // Each pass swaps the two references; after the (even) pass limit the
  // text is back where it started.
  EXPECT_EQ(expand(local, "$(P:$)"), "$(P:$)");
  EXPECT_EQ(expand(local, "x$(Q:$)"), "x$(Q:$)");
}

TEST(ExpandMacros, SelfDoublingValueStopsAtTheScanBound) {
  // Every pass doubles the text; sixteen passes read and write 1,179,630
  // characters, the seventeenth would pass 2 MiB: 2^16 copies of the
  // six-character reference.
  const std::string result = expand(table({{"A", "$(A:$)$(A:$)"}}), "$(A:$)");
  ASSERT_EQ(result.size(), std::size_t(6) << 16);
  EXPECT_EQ(result.find_first_not_of("$(A:)"), std::string::npos);
  EXPECT_EQ(result.substr(0, 12), "$(A:$)$(A:$)");
}

TEST(ExpandMacros, PassBeyondTheLengthLimitIsAbandoned) {
  // One pass would write 1,200,000 characters: the text before it is kept.
  const MacroTable local = table({{"A", std::string(600000, 'a')}});
  EXPECT_EQ(expand(local, "$(A)$(A)"), "$(A)$(A)");
}

TEST(ExpandMacros, SlowlyGrowingValueStopsAtTheScanBound) {
  // Each pass adds 10,000 characters, so a hundred passes would rescan
  // 50 million; the passes stop once they have read and written 2 MiB.
  const std::string tail(10000, 'x');
  const std::string result = expand(table({{"A", "$(A:$)" + tail}}), "$(A:$)");
  EXPECT_EQ(result.size() % 10000, 6u);
  // Pass k reads 10,000 (k - 1) + 6 characters and writes 10,000 k + 6:
  // fourteen passes use 1,960,168, the fifteenth would pass 2 MiB.
  EXPECT_EQ(result.size() / 10000, 14u);
  EXPECT_EQ(result.substr(0, 7), "$(A:$)x");
}

TEST(ExpandMacros, SharedBudgetStopsEveryLaterExpansion) {
  const MacroTable local = table({{"A", "12345"}});
  ExpansionBudget budget{20, false};
  // "$(A)": 4 read, 5 written.
  EXPECT_EQ(toStdBytes(expandMacros(local, QStringLiteral("$(A)"), false, &budget)), "12345");
  EXPECT_EQ(budget.remaining, 11);
  EXPECT_FALSE(budget.exhausted);
  expandMacros(local, QStringLiteral("$(A)$(A)"), false, &budget);
  EXPECT_TRUE(budget.exhausted);
  // Spent: later texts come back unexpanded, and text without references
  // costs nothing.
  EXPECT_EQ(toStdBytes(expandMacros(local, QStringLiteral("$(A)"), false, &budget)), "$(A)");
  EXPECT_EQ(toStdBytes(expandMacros(local, QStringLiteral("plain"), false, &budget)), "plain");
}

TEST(ExpandMacros, LocalTableBeforeBuiltins) {
  const MacroTable local = table({{"L", "local"}, {"HostOS", "local-os"}});
  EXPECT_EQ(expand(local, "$(L) $(HostOS) $(Micro)", true), "local local-os RISCV");
  EXPECT_EQ(expand(local, "$(L) $(HostOS) $(Micro)", false), "local local-os $(Micro)");
}

TEST(ExpandMacros, BuiltinsOnlyWhenAsked) {
  EXPECT_EQ(expand({}, "$(HostOS)", true), "linux");
  EXPECT_EQ(expand({}, "$(HostOS)", false), "$(HostOS)");
  EXPECT_EQ(expand({}, "$(HostArch)/$(Micro)/$(TargetID)/[$(HostEXE)]/$(HostDLLExt)/$(HostDLL)",
                   true),
            "x64/RISCV/20/[]/.so/.so_x64");
  EXPECT_EQ(expand(table({{"HostOS", "none"}}), "$(HostOS)", true), "none");
}

// The clock may tick between the two readings; either one is right.
void expectNow(const std::string& actual, const char* name) {
  const std::string before =
      toStdBytes(*computedMacroValue(fromBytes(name), QDateTime::currentDateTime()));
  ASSERT_FALSE(before.empty());
  if (actual != before) {
    EXPECT_EQ(actual,
              toStdBytes(*computedMacroValue(fromBytes(name), QDateTime::currentDateTime())))
        << name;
  }
}

TEST(ExpandMacros, DateAndTimeAreComputedWhereverTheNameIsFound) {
  const std::string date = expand(table({{"Date", "a fixed value"}}), "$(Date)");
  expectNow(date, "Date");
  expectNow(expand({}, "$(DateYear)", true), "DateYear");
  expectNow(expand({}, "$(Time)", true), "Time");
  const std::string unixTime = expand({}, "$(UnixTime)", true);
  EXPECT_EQ(unixTime.size(), 10u);
  EXPECT_EQ(unixTime.find_first_not_of("0123456789"), std::string::npos);
  // Not found at all: the fallback, not the date.
  EXPECT_EQ(expand({}, "$(Date)"), "$(Date)");
}

TEST(ComputedMacroValue, FormatsEachName) {
  const QDateTime when(QDate(2011, 6, 21), QTime(15, 34, 3), Qt::UTC);
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  auto value = [&](const char* name) {
    return toStdBytes(
        computedMacroValue(fromBytes(name), when, english).value_or(QStringLiteral("<none>")));
  };
  EXPECT_EQ(value("Date"), "21 June 2011");
  EXPECT_EQ(value("DateYear"), "2011");
  EXPECT_EQ(value("DateMonth"), "06");
  EXPECT_EQ(value("DateDay"), "21");
  EXPECT_EQ(value("Time"), "15:34:03");
  EXPECT_EQ(value("TimeHour"), "15");
  EXPECT_EQ(value("TimeMinute"), "34");
  EXPECT_EQ(value("TimeSecond"), "03");
  EXPECT_EQ(value("UnixTime"), "1308670443");
  EXPECT_EQ(value("HostOS"), "<none>");
  EXPECT_EQ(value("date"), "<none>");
  const QLocale german(QLocale::German, QLocale::Germany);
  EXPECT_EQ(toStdBytes(*computedMacroValue(u"Date", when, german)), "21 Juni 2011");
}

struct ListCase {
  const char* list;
  const char* expected;
};

class ParseMacroList : public testing::TestWithParam<ListCase> {};

TEST_P(ParseMacroList, GivesTable) {
  EXPECT_EQ(tableText(parseMacroList(fromBytes(GetParam().list))), GetParam().expected)
      << GetParam().list;
}

INSTANTIATE_TEST_SUITE_P(Macros, ParseMacroList,
                         testing::Values(ListCase{"A=1;B=x=y;;C;A=2", "{A=2}{B=x=y}{C=}"},
                                         ListCase{"P=a\\;b", "{P=a;b}"},
                                         ListCase{"P=a\\\\;b", "{P=a\\}{b=}"}, ListCase{"", ""},
                                         ListCase{";;;", ""}, ListCase{" A = 1 ", "{ A = 1 }"},
                                         ListCase{"=v", "{=v}"}, ListCase{"X=", "{X=}"},
                                         ListCase{"N=\xe9\xff", "{N=\xe9\xff}"}));

TEST(MergeMacros, OverridingEntriesWin) {
  const MacroTable base = table({{"A", "1"}, {"B", "2"}});
  const MacroTable merged = mergeMacros(base, table({{"B", "x"}, {"C", ""}}));
  EXPECT_EQ(tableText(merged), "{A=1}{B=x}{C=}");
  EXPECT_EQ(tableText(base), "{A=1}{B=2}");
}

}  // namespace
