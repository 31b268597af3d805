#include "ldscript/linkerscriptwriter.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <string>

#include "base/bytes.h"
#include "base/diagnostics.h"
#include "base/fatalerror.h"
#include "ldscript/scriptstream.h"
#include "memorymap/documentloader.h"
#include "xml/loadcontext.h"

namespace {

// Documents from XML text, and the script the writer makes of them.
struct Script {
  explicit Script(const char* memoryMapXml, const char* placementXml = nullptr) {
    memoryMap = loadMemoryMap(context, write("map.xml", memoryMapXml), QString());
    EXPECT_TRUE(memoryMap);
    if (placementXml) {
      placement = loadSectionPlacement(context, write("placement.xml", placementXml), QString());
      EXPECT_TRUE(placement);
      inputs.placement = &*placement;
    }
    inputs.memoryMap = &*memoryMap;
  }

  QString write(const char* name, const char* text) {
    QFile file(dir.filePath(QLatin1String(name)));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
    return file.fileName();
  }

  // The script text; stderr is captured into `warnings`.
  std::string text() {
    testing::internal::CaptureStderr();
    std::string script;
    try {
      script = generateLinkerScript(inputs, diagnostics);
    } catch (const FatalError& e) {
      script = "ERROR " + toStdBytes(e.diagnostic().plain);
    }
    warnings = testing::internal::GetCapturedStderr();
    return script;
  }

  QTemporaryDir dir;
  Diagnostics diagnostics{false};
  LoadContext context{diagnostics};
  std::optional<MemoryMap> memoryMap;
  std::optional<SectionPlacement> placement;
  LinkerScriptInputs inputs;
  std::string warnings;
};

// What the script says is checked by the golden cases of tests/e2e; these
// check how it reaches the file.
const char* const kFlashAndRam =
    "<Root>"
    "<MemorySegment name=\"FLASH\" start=\"0\" size=\"0x40000\" access=\"ReadOnly\"/>"
    "<MemorySegment name=\"RAM\" start=\"0x20000000\" size=\"0x8000\" size_symbol=\"RAM_SIZE\"/>"
    "</Root>";

std::string readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<absent>";
}

std::string writeError(const QString& path, const MemoryMap& memoryMap) {
  try {
    LinkerScriptInputs inputs;
    inputs.memoryMap = &memoryMap;
    Diagnostics diagnostics(false);
    writeLinkerScript(path, inputs, diagnostics);
  } catch (const FatalError& e) {
    return toStdBytes(e.diagnostic().plain);
  }
  return "";
}

// Devices are written in place, never replaced by a file.
TEST(WriteLinkerScript, DevicesWrittenInPlace) {
  Script s(kFlashAndRam);
  EXPECT_EQ(writeError(QStringLiteral("/dev/null"), *s.memoryMap), "");
  EXPECT_FALSE(QFileInfo(QStringLiteral("/dev/null")).isFile());
  EXPECT_EQ(writeError(QStringLiteral("/dev/full"), *s.memoryMap),
            "cannot write /dev/full: No space left on device");
  EXPECT_FALSE(QFileInfo(QStringLiteral("/dev/full")).isFile());
}

// Replacing a script keeps what the user set up around it: its permissions,
// and a link to it stays a link.
TEST(WriteLinkerScript, ReplacingKeepsPermissionsAndLinks) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  Script s(kFlashAndRam);
  const QString out = dir.filePath(QStringLiteral("out.ld"));
  {
    QFile earlier(out);
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
  }
  const QFile::Permissions readOnlyForOthers =
      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup;
  ASSERT_TRUE(QFile::setPermissions(out, readOnlyForOthers));
  EXPECT_EQ(writeError(out, *s.memoryMap), "");
  EXPECT_EQ(QFile::permissions(out), readOnlyForOthers);

  const QString link = dir.filePath(QStringLiteral("link.ld"));
  ASSERT_TRUE(QFile::link(out, link));
  ASSERT_TRUE(QFile::resize(out, 0));
  EXPECT_EQ(writeError(link, *s.memoryMap), "");
  EXPECT_TRUE(QFileInfo(link).isSymLink());
  EXPECT_EQ(readFile(out), s.text());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::System),
            (QStringList{QStringLiteral("link.ld"), QStringLiteral("out.ld")}));
}

// The script is compared with the file at the path piece by piece as it is
// written; only a file holding exactly the same bytes is left alone. The
// script here spans several pieces, and the earlier files differ from it in
// its last piece only, or hold it with more or less after it.
TEST(WriteLinkerScript, OnlyAnIdenticalFileIsLeftAlone) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  std::string xml = "<Root><MemorySegment name=\"FLASH\" start=\"0\" size=\"0x100000\">";
  for (int i = 0; i < 3000; ++i)
    xml += "<ProgramSection name=\".s" + std::to_string(i) + "\" load=\"Yes\"/>";
  xml += "</MemorySegment></Root>";
  Script s(xml.c_str());
  const std::string script = s.text();
  ASSERT_GT(script.size(), 2 * ScriptStream::kChunk);

  const QString out = dir.filePath(QStringLiteral("out.ld"));
  const QDateTime longAgo = QDateTime::fromSecsSinceEpoch(946684800);
  const auto writeEarlier = [&](const std::string& content) {
    QFile earlier(out);
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly | QIODevice::Truncate));
    earlier.write(content.data(), static_cast<qint64>(content.size()));
    ASSERT_TRUE(earlier.setFileTime(longAgo, QFileDevice::FileModificationTime));
  };
  std::string lastByteChanged = script;
  lastByteChanged[script.size() - 2] = 'x';
  const std::string variants[] = {lastByteChanged, script + "\n", script.substr(0, script.size() - 1)};
  for (const std::string& earlier : variants) {
    writeEarlier(earlier);
    EXPECT_EQ(writeError(out, *s.memoryMap), "");
    EXPECT_EQ(readFile(out), script);
    EXPECT_NE(QFileInfo(out).lastModified(), longAgo);
  }
  writeEarlier(script);
  EXPECT_EQ(writeError(out, *s.memoryMap), "");
  EXPECT_EQ(QFileInfo(out).lastModified(), longAgo);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("out.ld")});
}

TEST(WriteLinkerScript, FailedLayoutKeepsTheEarlierFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString out = dir.filePath(QStringLiteral("out.ld"));
  {
    QFile earlier(out);
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier\n");
  }
  Script s("<Root><MemorySegment name=\"F\"><ProgramSection name=\".c\" runin=\"\"/></MemorySegment></Root>");
  EXPECT_THROW(writeLinkerScript(out, s.inputs, s.diagnostics), FatalError);
  EXPECT_EQ(readFile(out), "earlier\n");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("out.ld")});
}

}  // namespace
