#include "mkld/dependencyfile.h"

#include <gtest/gtest.h>

#include <string>

#include "base/bytes.h"
#include "base/fatalerror.h"

namespace {

// Which files are listed, and how the file is written, is checked by the golden
// cases of tests/e2e; these are the names make and ninja would misread.

std::string rule(const QString& target, const QStringList& prerequisites) {
  return dependencyRule(QStringLiteral("out.d"), target, prerequisites).toStdString();
}

std::string errorOf(const QString& target, const QStringList& prerequisites) {
  try {
    rule(target, prerequisites);
  } catch (const FatalError& e) {
    return toStdBytes(e.diagnostic().plain);
  }
  return "no error";
}

struct EscapeCase {
  const char* name;
  const char* written;
};

TEST(DependencyFile, EscapesWhatMakeAndNinjaWouldMisread) {
  const EscapeCase cases[] = {
      {"plain/file-1.xml", "plain/file-1.xml"},
      {"my files/map.xml", "my\\ files/map.xml"},
      {"two  blanks", "two\\ \\ blanks"},
      {"tab\there", "tab\\\there"},
      {"issue#7.xml", "issue\\#7.xml"},
      {"cost$.xml", "cost$$.xml"},
      {"$(HostOS).xml", "$$(HostOS).xml"},
      {"back\\slash.xml", "back\\slash.xml"},   // not before a blank: kept as is
      {"dir\\ name", "dir\\\\\\ name"},         // backslash before a blank doubled
      {"ends\\", "ends\\\\"},                   // a separator follows the name
      {"hash\\#", "hash\\\\\\#"},
      {"caf\xe9.xml", "caf\xe9.xml"},           // bytes pass through unchanged
  };
  EXPECT_EQ(rule(QStringLiteral("build dir/app.ld"), {QStringLiteral("a.xml")}),
            "build\\ dir/app.ld: a.xml\n");
  for (const EscapeCase& c : cases) {
    EXPECT_EQ(rule(QStringLiteral("t"), {fromBytes(c.name)}), std::string("t: ") + c.written + "\n")
        << c.name;
  }
}

TEST(DependencyFile, LineBreakInANameIsAnError) {
  const std::string message = "cannot write dependency file out.d: a file name contains a line break";
  EXPECT_EQ(errorOf(QStringLiteral("out.ld"), {QStringLiteral("a.xml"), QStringLiteral("odd\nname.xml")}),
            message);
  EXPECT_EQ(errorOf(QStringLiteral("out.ld"), {QStringLiteral("odd\rname.xml")}), message);
  EXPECT_EQ(errorOf(QStringLiteral("out\n.ld"), {}), message);
}

}  // namespace
