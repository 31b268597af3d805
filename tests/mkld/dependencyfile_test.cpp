#include "mkld/dependencyfile.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/fatalerror.h"

namespace {

std::string rule(const QString& target, const QStringList& prerequisites) {
  return dependencyRule(QStringLiteral("out.d"), target, prerequisites).toStdString();
}

std::string errorOf(const QString& target, const QStringList& prerequisites) {
  try {
    rule(target, prerequisites);
  } catch (const FatalError& e) {
    return toStdBytes(e.message());
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
  for (const EscapeCase& c : cases) {
    EXPECT_EQ(rule(QStringLiteral("t"), {fromBytes(c.name)}), std::string("t: ") + c.written + "\n")
        << c.name;
  }
}

TEST(DependencyFile, TargetIsEscapedToo) {
  EXPECT_EQ(rule(QStringLiteral("build dir/app.ld"), {QStringLiteral("a.xml")}),
            "build\\ dir/app.ld: a.xml\n");
}

TEST(DependencyFile, ListsEachFileOnceInFirstReadOrder) {
  const QString absolute = QDir::current().absoluteFilePath(QStringLiteral("map.xml"));
  EXPECT_EQ(rule(QStringLiteral("out.ld"),
                 {QStringLiteral("map.xml"), QStringLiteral("placement.xml"), QStringLiteral("./map.xml"),
                  absolute, QStringLiteral("inc/ram.xml"), QStringLiteral("inc/../placement.xml"),
                  QStringLiteral("inc/ram.xml")}),
            "out.ld: map.xml \\\n"
            "  placement.xml \\\n"
            "  inc/ram.xml\n");
}

TEST(DependencyFile, LeadingDotSlashIsDropped) {
  EXPECT_EQ(rule(QStringLiteral("out.ld"), {QStringLiteral("./ram.xml"), QStringLiteral("././b.xml"),
                                            QStringLiteral("../c.xml"), QStringLiteral("d/./e.xml")}),
            "out.ld: ram.xml \\\n  b.xml \\\n  ../c.xml \\\n  d/./e.xml\n");
  EXPECT_EQ(rule(QStringLiteral("out.ld"), {QStringLiteral("ram.xml"), QStringLiteral("./ram.xml")}),
            "out.ld: ram.xml\n");
}

TEST(DependencyFile, NoPrerequisitesGivesABareTarget) {
  EXPECT_EQ(rule(QStringLiteral("out.ld"), {}), "out.ld:\n");
}

TEST(DependencyFile, LineBreakInANameIsAnError) {
  const std::string message = "cannot write dependency file out.d: a file name contains a line break";
  EXPECT_EQ(errorOf(QStringLiteral("out.ld"), {QStringLiteral("a.xml"), QStringLiteral("odd\nname.xml")}),
            message);
  EXPECT_EQ(errorOf(QStringLiteral("out.ld"), {QStringLiteral("odd\rname.xml")}), message);
  EXPECT_EQ(errorOf(QStringLiteral("out\n.ld"), {}), message);
}

QByteArray readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

TEST(DependencyFile, WriteReplacesAnExistingFileWhole) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("out.ld.d"));
  {
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(1000, 'x'));
  }
  writeDependencyFile(path, QStringLiteral("out.ld"), {QStringLiteral("a.xml"), QStringLiteral("b c.xml")});
  EXPECT_EQ(readFile(path).toStdString(), "out.ld: a.xml \\\n  b\\ c.xml\n");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("out.ld.d")})
      << "no temporary file is left behind";
}

TEST(DependencyFile, WriteFailureNamesTheFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath(QStringLiteral("no-such-dir/out.d"));
  try {
    writeDependencyFile(path, QStringLiteral("out.ld"), {QStringLiteral("a.xml")});
    FAIL() << "expected an error";
  } catch (const FatalError& e) {
    EXPECT_EQ(e.message(), QStringLiteral("cannot write dependency file ") + path);
  }
  EXPECT_FALSE(QFile::exists(path));
}

}  // namespace
