#include "base/diagnostics.h"

#include <gtest/gtest.h>

#include <string>

#include "base/bytes.h"

namespace {

TEST(Diagnostics, LocatedLineFormat) {
  struct Case {
    Severity severity;
    SourceLocation where;
    const char* line;
  };
  const Case cases[] = {
      {Severity::Error, {QStringLiteral("pl.xml"), 3, 14}, "pl.xml:3:14: error: TEXT"},
      {Severity::Warning, {QStringLiteral("pl.xml"), 3, 0}, "pl.xml:3: warning: TEXT"},
      {Severity::Note, {QStringLiteral("pl.xml"), 0, 7}, "pl.xml: note: TEXT"},
      {Severity::Error, {QString(), 3, 14}, "error: TEXT"},
      {Severity::Error, {QStringLiteral("jos\xe9.xml"), 1, 1}, "jos\xe9.xml:1:1: error: TEXT"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(toStdBytes(Diagnostics::format(c.severity, c.where, QStringLiteral("TEXT"))), c.line);
}

// Plain lines at once; located lines after them, in order, only when located.
TEST(Diagnostics, PlainLinesFirstLocatedLinesOnFlush) {
  for (const bool located : {false, true}) {
    Diagnostics diagnostics(located);
    testing::internal::CaptureStderr();
    diagnostics.error({QStringLiteral("a.xml"), 2, 0}, QStringLiteral("first"));
    diagnostics.plainWarning(QStringLiteral("plain warning"));
    diagnostics.note({QStringLiteral("b.xml"), 1, 0}, QStringLiteral("second"));
    diagnostics.plainError(QStringLiteral("plain error"));
    diagnostics.flush();
    diagnostics.flush();
    const std::string plain = "warning: plain warning\nerror: plain error\n";
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              located ? plain + "a.xml:2: error: first\nb.xml:1: note: second\n" : plain);
  }
}

}  // namespace
