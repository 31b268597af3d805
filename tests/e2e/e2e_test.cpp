// Whole-binary runs of mkld and mkld-report against golden files.
//
// Each folder under cases/ is one case:
//   tool              "mkld-report" to run that tool (absent: mkld)
//   args              one command-line argument per line ({EXAMPLES} and
//                     {CASE} expand to absolute folders)
//   expected/stdout   standard output, byte for byte (absent: must be empty)
//   expected/stderr   standard error, byte for byte (absent: must be empty)
//   expected/status   exit status (absent: 0)
//   expected/absent   names of files that must not exist after the run
//   expected/<file>   any other file: compared with <file> in the work folder
// Everything else in the folder is copied into a fresh work folder, which is
// the working directory of the run. MKLD_UPDATE_GOLDEN=1 rewrites the goldens.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

const QString kCasesDir = QStringLiteral(MKLD_E2E_CASES);

QByteArray readAll(const QString& path, bool* exists = nullptr) {
  QFile file(path);
  const bool ok = file.open(QIODevice::ReadOnly);
  if (exists)
    *exists = ok;
  return ok ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& data) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  file.write(data);
}

void copyInputs(const QString& from, const QString& to) {
  QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    const QString relative = QDir(from).relativeFilePath(path);
    if (relative == QLatin1String("args") || relative == QLatin1String("tool") ||
        relative.startsWith(QLatin1String("expected/")))
      continue;
    writeAll(to + QLatin1Char('/') + relative, readAll(path));
  }
}

std::vector<std::string> caseNames() {
  std::vector<std::string> names;
  for (const QString& name : QDir(kCasesDir).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
    names.push_back(name.toStdString());
  return names;
}

class E2E : public ::testing::TestWithParam<std::string> {};

TEST_P(E2E, MatchesGolden) {
  const QString caseDir = kCasesDir + QLatin1Char('/') + QString::fromStdString(GetParam());
  const QString expectedDir = caseDir + QStringLiteral("/expected");
  const bool update = qEnvironmentVariableIsSet("MKLD_UPDATE_GOLDEN");

  QTemporaryDir work;
  ASSERT_TRUE(work.isValid());
  copyInputs(caseDir, work.path());

  QStringList args;
  for (QByteArray line : readAll(caseDir + QStringLiteral("/args")).split('\n')) {
    // Arguments reach mkld UTF-8 encoded, as a shell passes them.
    QString arg = QString::fromUtf8(line);
    arg.replace(QStringLiteral("{EXAMPLES}"), QStringLiteral(MKLD_SOURCE_DIR "/examples"));
    arg.replace(QStringLiteral("{CASE}"), caseDir);
    args.append(arg);
  }
  if (!args.isEmpty() && args.last().isEmpty())
    args.removeLast();  // the file's final newline

  QProcess process;
  process.setWorkingDirectory(work.path());
  const bool report = readAll(caseDir + QStringLiteral("/tool")).trimmed() == "mkld-report";
  process.start(QString::fromUtf8(report ? MKLD_REPORT_BINARY : MKLD_BINARY), args);
  ASSERT_TRUE(process.waitForStarted());
  process.closeWriteChannel();
  ASSERT_TRUE(process.waitForFinished(60000)) << "mkld did not finish";
  ASSERT_EQ(process.exitStatus(), QProcess::NormalExit) << "mkld crashed";

  const QByteArray out = process.readAllStandardOutput();
  const QByteArray err = process.readAllStandardError();
  const QByteArray status = QByteArray::number(process.exitCode()) + '\n';

  auto check = [&](const QString& name, const QByteArray& actual, const QByteArray& fallback) {
    bool exists = false;
    const QByteArray expected = readAll(expectedDir + QLatin1Char('/') + name, &exists);
    if (update) {
      if (exists || actual != fallback)
        writeAll(expectedDir + QLatin1Char('/') + name, actual);
      return;
    }
    EXPECT_EQ(std::string(actual.constData(), actual.size()),
              std::string(exists ? expected.constData() : fallback.constData(),
                           exists ? expected.size() : fallback.size()))
        << name.toStdString();
  };
  check(QStringLiteral("stdout"), out, QByteArray());
  check(QStringLiteral("stderr"), err, QByteArray());
  check(QStringLiteral("status"), status, QByteArray("0\n"));

  for (QByteArray name : readAll(expectedDir + QStringLiteral("/absent")).split('\n')) {
    if (!name.isEmpty()) {
      EXPECT_FALSE(QFileInfo::exists(work.path() + QLatin1Char('/') + QString::fromLatin1(name)))
          << name.toStdString() << " should not exist";
    }
  }

  QDirIterator it(expectedDir, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    const QString relative = QDir(expectedDir).relativeFilePath(path);
    if (relative == QLatin1String("stdout") || relative == QLatin1String("stderr") ||
        relative == QLatin1String("status") || relative == QLatin1String("absent"))
      continue;
    bool exists = false;
    const QByteArray actual = readAll(work.path() + QLatin1Char('/') + relative, &exists);
    if (update) {
      if (exists)
        writeAll(path, actual);
      continue;
    }
    EXPECT_TRUE(exists) << relative.toStdString() << " was not written";
    const QByteArray expected = readAll(path);
    EXPECT_EQ(std::string(actual.constData(), actual.size()),
              std::string(expected.constData(), expected.size()))
        << relative.toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, E2E, ::testing::ValuesIn(caseNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c)))
                               c = '_';
                           return name;
                         });

}  // namespace
