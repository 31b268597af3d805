// Whole-binary runs on inputs too big to commit, written at test time: each
// must end with a script or with status 1 and one error line, within a time
// that is generous even under the sanitizers, and never leave a broken file
// at the output path.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <string>
#include <unistd.h>

namespace {

// Seconds in a plain build; the bound leaves room for the sanitizer build on
// a busy machine.
constexpr int kTimeLimitMs = 30000;

struct Outcome {
  int status = -1;
  QByteArray out;
  QByteArray err;
  qint64 milliseconds = 0;
};

class Hostile : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  QString path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }

  void write(const QString& name, const QByteArray& content) {
    QFile file(path(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(content), content.size());
  }

  QByteArray read(const QString& name) const {
    QFile file(path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  Outcome run(const QStringList& args) {
    QProcess process;
    process.setWorkingDirectory(dir_.path());
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral(MKLD_BINARY), args);
    process.closeWriteChannel();
    Outcome result;
    if (!process.waitForFinished(kTimeLimitMs)) {
      process.kill();
      process.waitForFinished();
      ADD_FAILURE() << "mkld did not finish within " << kTimeLimitMs << " ms";
      return result;
    }
    result.milliseconds = timer.elapsed();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << "mkld crashed";
    result.status = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
  }

  // Status 1, exactly `message` as the one error line, and no file at out.ld.
  void expectError(const Outcome& result, const char* message) {
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.toStdString(), std::string("error: ") + message + "\n");
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("out.ld"))));
  }

  QTemporaryDir dir_;
};

QByteArray repeated(const char* piece, int times) {
  return QByteArray(piece).repeated(times);
}

TEST_F(Hostile, ElementsNestedAMillionDeep) {
  const int depth = 1000000;
  for (const bool placement : {false, true}) {
    const QByteArray nested = "<Root>" + repeated("<a>", depth) + repeated("</a>", depth) + "</Root>";
    write(QStringLiteral("deep.xml"), nested);
    write(QStringLiteral("map.xml"), "<Root><MemorySegment name=\"RAM\" start=\"0\" size=\"4\"/></Root>");
    write(QStringLiteral("out.ld"), "old script\n");
    QStringList args{QStringLiteral("-memory-map-file"),
                     placement ? QStringLiteral("map.xml") : QStringLiteral("deep.xml")};
    if (placement)
      args << QStringLiteral("-section-placement-file") << QStringLiteral("deep.xml");
    const Outcome result = run(args << QStringLiteral("out.ld"));
    // Preprocessing stops at its nesting limit; reading and freeing the tree
    // never recurse.
    expectError(result, placement ? "cannot load section placement file" : "cannot load memory map file");
  }
}

TEST_F(Hostile, ManySiblingsWithoutPreprocessingDirectives) {
  QByteArray map = "<Root><MemorySegment name=\"RAM\" start=\"0x20000000\" size=\"0x100000\">";
  map += repeated("<Register name=\"R\" start=\"+4\" size=\"4\"/>", 200000);
  map += "</MemorySegment></Root>";
  write(QStringLiteral("map.xml"), map);
  const Outcome result = run({QStringLiteral("-memory-map-file"), QStringLiteral("map.xml"), QStringLiteral("out.ld")});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err.toStdString(), "");
  EXPECT_TRUE(read(QStringLiteral("out.ld")).contains("RAM (wx) : ORIGIN = 0x20000000, LENGTH = 0x00100000"));
}

TEST_F(Hostile, TenMegabyteAttributeValues) {
  const QByteArray big(10 * 1024 * 1024, 'x');
  // A huge name goes into the script as it is; a huge start is not a number
  // and resolves to 0.
  write(QStringLiteral("map.xml"), "<Root><MemorySegment name=\"" + big + "\" start=\"" + big +
                                       "\" size=\"0x100\"/></Root>");
  const Outcome result = run({QStringLiteral("-memory-map-file"), QStringLiteral("map.xml"), QStringLiteral("out.ld")});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err.toStdString(), "");
  const QByteArray script = read(QStringLiteral("out.ld"));
  EXPECT_TRUE(script.contains("  " + big + " (wx) : ORIGIN = 0x00000000, LENGTH = 0x00000100\n"));
  EXPECT_GT(script.size(), 3 * big.size());
}

TEST_F(Hostile, TenMegabyteMacroValue) {
  // Past the 1 MiB expansion length the reference stays unexpanded.
  const QByteArray big(10 * 1024 * 1024, 'y');
  write(QStringLiteral("map.xml"), "<Root><define name=\"BIG\" value=\"" + big +
                                       "\"/><MemorySegment name=\"$(BIG)\" start=\"0\" size=\"0x100\"/></Root>");
  const Outcome result =
      run({QStringLiteral("-memory-map-file"), QStringLiteral("map.xml"), QStringLiteral("out.ld")});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(read(QStringLiteral("out.ld")).contains("  $(BIG) (wx)"));
}

// A million iterations pass the element budget before anything is copied;
// 100,000 copies fit in it, and their expansions pass their own budget.
TEST_F(Hostile, SelfReferringDefaultsInALongLoop) {
  const QString growing = QStringLiteral("A=$(A:$)") + QString(1000, QLatin1Char('.'));
  for (const char* iterations : {"1000000", "100000"}) {
    write(QStringLiteral("map.xml"),
          QByteArray("<Root><for index=\"i\" start=\"0\" end=\"") + iterations +
              "\" incr=\"1\"><MemorySegment name=\"$$(A:$)\" start=\"$(i)\" size=\"1\"/></for></Root>");
    const Outcome result = run({QStringLiteral("-memory-map-file"), QStringLiteral("map.xml"),
                                QStringLiteral("-memory-map-macros"), growing, QStringLiteral("out.ld")});
    expectError(result, "cannot load memory map file");
  }
}

TEST_F(Hostile, UnreadableInputFile) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root reads files whatever their mode; the directory and non-directory cases "
                    "cover unreadable paths";
  write(QStringLiteral("map.xml"), "<Root><MemorySegment name=\"RAM\" start=\"0\" size=\"4\"/></Root>");
  ASSERT_TRUE(QFile::setPermissions(path(QStringLiteral("map.xml")), QFileDevice::Permissions()));
  const Outcome result = run({QStringLiteral("-memory-map-file"), QStringLiteral("map.xml"), QStringLiteral("out.ld")});
  expectError(result, "cannot load memory map file");
}

TEST_F(Hostile, UnwritableOutputFolder) {
  if (geteuid() == 0)
    GTEST_SKIP() << "root writes whatever the mode; writing under a non-directory covers it";
  ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("locked")));
  ASSERT_TRUE(QFile::setPermissions(path(QStringLiteral("locked")),
                                    QFileDevice::ReadOwner | QFileDevice::ExeOwner));
  const Outcome result = run({QStringLiteral("-memory-map-segments"), QStringLiteral("A RW 0 4"),
                          QStringLiteral("locked/out.ld")});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err.toStdString(), "error: cannot open locked/out.ld for writing\n");
}

// A run killed while it works leaves the previous script exactly as it was:
// the new one is written beside it and only renamed over it when complete.
TEST_F(Hostile, KilledRunLeavesThePreviousScript) {
  QByteArray placement = "<Root><MemorySegment name=\"RAM\">";
  placement += "<for index=\"i\" start=\"0\" end=\"450000\" incr=\"1\">"
               "<ProgramSection name=\".s$(i)\" alignment=\"4\"/></for>";
  placement += "</MemorySegment></Root>";
  write(QStringLiteral("place.xml"), placement);
  const QByteArray old = "old script\n";
  write(QStringLiteral("out.ld"), old);

  QProcess process;
  process.setWorkingDirectory(dir_.path());
  process.start(QStringLiteral(MKLD_BINARY),
                {QStringLiteral("-memory-map-segments"), QStringLiteral("RAM RW 0 0x100000"),
                 QStringLiteral("-section-placement-file"), QStringLiteral("place.xml"),
                 QStringLiteral("out.ld")});
  ASSERT_TRUE(process.waitForStarted());
  QThread::msleep(300);
  ASSERT_EQ(process.state(), QProcess::Running) << "the run ended before it could be killed";
  ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
  ASSERT_TRUE(process.waitForFinished(kTimeLimitMs));
  EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
  EXPECT_EQ(read(QStringLiteral("out.ld")), old);
}

}  // namespace
