#include "base/diagnostics.h"

#include <gtest/gtest.h>

#include <string>

#include "base/bytes.h"

namespace {

TEST(Diagnostics, LocatedLineFormat) {
  struct Case {
    SourceLocation where;
    const char* line;
  };
  const Case cases[] = {
      {{QStringLiteral("pl.xml"), 3, 14}, "pl.xml:3:14: warning: TEXT"},
      {{QStringLiteral("pl.xml"), 3, 0}, "pl.xml:3: warning: TEXT"},
      {{QStringLiteral("pl.xml"), 0, 7}, "pl.xml: warning: TEXT"},
      {{QString(), 3, 14}, "warning: TEXT"},
      {{QStringLiteral("jos\xe9.xml"), 1, 1}, "jos\xe9.xml:1:1: warning: TEXT"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(toStdBytes(Diagnostics::format(Severity::Warning, c.where, QStringLiteral("TEXT"))), c.line);
}

// Each diagnostic is printed once: its plain line at once by default, its
// located line (when it has one) with its notes on flush under -diagnostics.
// Every error counts, printed or not.
TEST(Diagnostics, EachDiagnosticPrintedOnceAndErrorsCounted) {
  const SourceLocation a{QStringLiteral("a.xml"), 2, 0};
  const std::vector<Diagnostic> reported = {
      {Severity::Error, a, QStringLiteral("both"), QStringLiteral("both plain"), {{a, QStringLiteral("why")}}},
      {Severity::Warning, {}, QString(), QStringLiteral("plain only"), {}},
      {Severity::Error, a, QStringLiteral("located only"), QString(), {}},
      {Severity::Warning, a, QStringLiteral("warned"), QString(), {}},
  };
  struct Case {
    bool located;
    const char* printed;
  };
  const Case cases[] = {
      {false, "error: both plain\nwarning: plain only\n"},
      {true, "warning: plain only\na.xml:2: error: both\na.xml:2: note: why\na.xml:2: error: located only\n"
             "a.xml:2: warning: warned\n"},
  };
  for (const Case& c : cases) {
    Diagnostics diagnostics(c.located);
    testing::internal::CaptureStderr();
    for (const Diagnostic& diagnostic : reported)
      diagnostics.report(diagnostic);
    diagnostics.flush();
    diagnostics.flush();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.printed);
    EXPECT_EQ(diagnostics.errorCount(), 2u);
  }
}

}  // namespace
