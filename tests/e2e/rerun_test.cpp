// Whole-binary runs of mkld as a build tool runs it, again and again: a
// script that would come out the same is left untouched (its modification
// time too), while the dependency file is brought up to date on every
// successful run and never written by a failed one.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace {

const QDateTime kLongAgo = QDateTime::fromSecsSinceEpoch(946684800);  // 2000-01-01

class Rerun : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(work.isValid());
    write(QStringLiteral("map.xml"),
          "<Root><MemorySegment name=\"FLASH\" start=\"0x0\" size=\"0x1000\" access=\"ReadOnly\"/>"
          "<MemorySegment name=\"RAM\" start=\"0x20000000\" size=\"0x400\"/></Root>\n");
    write(QStringLiteral("placement.xml"),
          "<Root><MemorySegment name=\"FLASH\"><ProgramSection name=\".text\" load=\"Yes\"/>"
          "</MemorySegment><include filename=\"ram.xml\"/></Root>\n");
    write(QStringLiteral("ram.xml"),
          "<MemorySegment name=\"RAM\"><ProgramSection name=\".bss\"/></MemorySegment>\n");
  }

  QString path(const QString& name) const { return work.filePath(name); }

  void write(const QString& name, const QByteArray& content) {
    QFile file(path(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
  }

  QByteArray read(const QString& name) const {
    QFile file(path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  void makeOld(const QString& name) {
    QFile file(path(name));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(kLongAgo, QFileDevice::FileModificationTime));
  }

  QDateTime modified(const QString& name) const {
    return QFileInfo(path(name)).fileTime(QFileDevice::FileModificationTime);
  }

  // Runs mkld in the work folder; returns its exit status.
  int run(QStringList extraArgs = {}) {
    QStringList args{QStringLiteral("-memory-map-file"), QStringLiteral("map.xml"),
                     QStringLiteral("-section-placement-file"), QStringLiteral("placement.xml"),
                     QStringLiteral("-dependency-file"), QStringLiteral("out.ld.d")};
    args += extraArgs;
    args += QStringLiteral("out.ld");
    QProcess process;
    process.setWorkingDirectory(work.path());
    process.start(QStringLiteral(MKLD_BINARY), args);
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    stderrText = process.readAllStandardError();
    return process.exitCode();
  }

  QTemporaryDir work;
  QByteArray stderrText;
};

const QByteArray kDependencies = "out.ld: map.xml \\\n  placement.xml \\\n  ram.xml\n";

TEST_F(Rerun, IdenticalScriptKeepsItsModificationTime) {
  ASSERT_EQ(run(), 0) << stderrText.constData();
  const QByteArray script = read(QStringLiteral("out.ld"));
  ASSERT_FALSE(script.isEmpty());
  makeOld(QStringLiteral("out.ld"));

  ASSERT_EQ(run(), 0) << stderrText.constData();
  EXPECT_EQ(read(QStringLiteral("out.ld")), script);
  EXPECT_EQ(modified(QStringLiteral("out.ld")), kLongAgo);
}

TEST_F(Rerun, ChangedScriptIsRewritten) {
  ASSERT_EQ(run(), 0) << stderrText.constData();
  const QByteArray before = read(QStringLiteral("out.ld"));
  makeOld(QStringLiteral("out.ld"));

  write(QStringLiteral("ram.xml"),
        "<MemorySegment name=\"RAM\"><ProgramSection name=\".data\"/>"
        "<ProgramSection name=\".bss\"/></MemorySegment>\n");
  ASSERT_EQ(run(), 0) << stderrText.constData();
  const QByteArray after = read(QStringLiteral("out.ld"));
  EXPECT_NE(after, before);
  EXPECT_TRUE(after.contains("  .data __RAM_segment_start__"));
  EXPECT_GT(modified(QStringLiteral("out.ld")), kLongAgo);
}

TEST_F(Rerun, DependencyFileIsRewrittenWhenTheScriptIsUntouched) {
  ASSERT_EQ(run(), 0) << stderrText.constData();
  EXPECT_EQ(read(QStringLiteral("out.ld.d")), kDependencies);
  makeOld(QStringLiteral("out.ld"));
  write(QStringLiteral("out.ld.d"), "stale\n");
  makeOld(QStringLiteral("out.ld.d"));

  ASSERT_EQ(run(), 0) << stderrText.constData();
  EXPECT_EQ(modified(QStringLiteral("out.ld")), kLongAgo);
  EXPECT_EQ(read(QStringLiteral("out.ld.d")), kDependencies);
  EXPECT_GT(modified(QStringLiteral("out.ld.d")), kLongAgo);
}

TEST_F(Rerun, FailedRunRemovesTheScriptAndKeepsTheOldDependencyFile) {
  ASSERT_EQ(run(), 0) << stderrText.constData();
  write(QStringLiteral("placement.xml"), "<Root><Bad></Worse></Root>\n");

  EXPECT_EQ(run(), 1);
  EXPECT_EQ(stderrText, "error: cannot load section placement file\n");
  EXPECT_FALSE(QFile::exists(path(QStringLiteral("out.ld"))));
  // The old dependency file still names placement.xml, so fixing that file
  // makes the build run mkld again.
  EXPECT_EQ(read(QStringLiteral("out.ld.d")), kDependencies);
}

TEST_F(Rerun, ImportsAreListedByTheirResolvedPath) {
  ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("board")));
  write(QStringLiteral("board/map.xml"),
        "<Root><MemorySegment name=\"FLASH\" start=\"0x0\" size=\"0x1000\"/>"
        "<Import filename=\"ram.xml\"/><Import filename=\"absent.xml\"/></Root>\n");
  write(QStringLiteral("board/ram.xml"),
        "<Root><MemorySegment name=\"RAM\" start=\"0x20000000\" size=\"0x400\"/></Root>\n");
  ASSERT_EQ(run({QStringLiteral("-memory-map-file"), QStringLiteral("board/map.xml")}), 0)
      << stderrText.constData();
  // Imports resolve against the absolute folder of the importing file.
  const QByteArray importPath = QDir(work.path()).absoluteFilePath(QStringLiteral("board/ram.xml")).toLatin1();
  EXPECT_EQ(read(QStringLiteral("out.ld.d")),
            "out.ld: board/map.xml \\\n  " + importPath + " \\\n  placement.xml \\\n  ram.xml\n");
}

}  // namespace
