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
#include "memorymap/memorymap.h"

namespace {

// Documents from XML text, and the script the writer makes of them.
struct Script {
  explicit Script(const char* memoryMapXml, const char* placementXml = nullptr) {
    EXPECT_TRUE(memoryMap.loadString(fromBytes(memoryMapXml)));
    if (placementXml) {
      EXPECT_TRUE(placement.loadString(fromBytes(placementXml)));
      inputs.placement = &placement;
    }
    inputs.memoryMap = &memoryMap;
  }

  // The script text; stderr is captured into `warnings`.
  std::string text() {
    testing::internal::CaptureStderr();
    std::string script;
    try {
      script = generateLinkerScript(inputs, diagnostics);
    } catch (const FatalError& e) {
      script = "ERROR " + toStdBytes(e.message());
    }
    warnings = testing::internal::GetCapturedStderr();
    return script;
  }

  MemoryMap memoryMap;
  MemoryMap placement;
  LinkerScriptInputs inputs;
  Diagnostics diagnostics{false};
  std::string warnings;
};

// The header line of each output-section statement, in order.
std::string statementHeaders(const std::string& script) {
  std::string headers;
  size_t at = 0;
  while ((at = script.find("\n  {\n", at)) != std::string::npos) {
    const size_t begin = script.rfind("\n  ", at - 1) + 3;
    headers += script.substr(begin, at - begin) + "\n";
    at += 4;
  }
  return headers;
}

const char* const kFlashAndRam =
    "<Root>"
    "<MemorySegment name=\"FLASH\" start=\"0\" size=\"0x40000\" access=\"ReadOnly\"/>"
    "<MemorySegment name=\"RAM\" start=\"0x20000000\" size=\"0x8000\" size_symbol=\"RAM_SIZE\"/>"
    "</Root>";

TEST(LinkerScriptWriter, FrameWithoutSections) {
  Script s(kFlashAndRam);
  s.inputs.symbols.insert(QStringLiteral("STACK_SIZE"), QStringLiteral("0x400"));
  s.inputs.symbols.insert(QStringLiteral("A"), QStringLiteral("B + 1"));
  EXPECT_EQ(s.text(),
            "MEMORY\n"
            "{\n"
            "  UNPLACED_SECTIONS (wx) : ORIGIN = 0x100000000, LENGTH = 0\n"
            "  RAM (wx) : ORIGIN = 0x20000000, LENGTH = 0x00008000\n"
            "  FLASH (rx) : ORIGIN = 0x00000000, LENGTH = 0x00040000\n"
            "}\n"
            "\n"
            "SECTIONS\n"
            "{\n"
            "  __RAM_segment_start__ = 0x20000000;\n"
            "  __RAM_segment_end__ = 0x20008000;\n"
            "  __RAM_segment_size__ = 0x00008000;\n"
            "RAM_SIZE = 0x00008000;\n"
            "  __FLASH_segment_start__ = 0x00000000;\n"
            "  __FLASH_segment_end__ = 0x00040000;\n"
            "  __FLASH_segment_size__ = 0x00040000;\n"
            "\n"
            "  A = B + 1;\n"
            "  STACK_SIZE = 0x400;\n"
            "\n"
            "}\n"
            "\n");
}

TEST(LinkerScriptWriter, NoUnplacedRegionNoDefinitions) {
  Script s("<Root><MemorySegment name=\"my seg\" start=\"0xffff0000\" size=\"0x10000\" access=\"readonly\" "
           "address_symbol=\"seg_at\"/></Root>");
  s.inputs.checkUnplacedSections = false;
  EXPECT_EQ(s.text(),
            "MEMORY\n"
            "{\n"
            "  my_seg (wx) : ORIGIN = 0xffff0000, LENGTH = 0x00010000\n"
            "}\n"
            "\n"
            "SECTIONS\n"
            "{\n"
            "  __my_seg_segment_start__ = 0xffff0000;\n"
            "seg_at = 0xffff0000;\n"
            "  __my_seg_segment_end__ = 0x00000000;\n"
            "  __my_seg_segment_size__ = 0x00010000;\n"
            "\n"
            "\n"
            "}\n"
            "\n");
}

TEST(LinkerScriptWriter, SegmentsInReverseSectionsInFileOrder) {
  Script s(
      "<Root>"
      "<MemorySegment name=\"A\" start=\"0x1000\" size=\"0x20\" access=\"ReadWrite\">"
      "<ProgramSection name=\".a1\"/><Group><ProgramSection name=\".a2\"/></Group></MemorySegment>"
      "<Wrapper><MemorySegment name=\"B\"><ProgramSection name=\".b1\"/></MemorySegment></Wrapper>"
      "<MemorySegment name=\"C\"><ProgramSection name=\".c1\"/><ProgramSection name=\".c2\"/></MemorySegment>"
      "</Root>");
  const std::string script = s.text();
  EXPECT_NE(script.find("  C (wx) : ORIGIN = 0x00000000, LENGTH = 0x00000000\n"
                        "  B (wx) : ORIGIN = 0x00000000, LENGTH = 0x00000000\n"
                        "  A (wx) : ORIGIN = 0x00001000, LENGTH = 0x00000020\n"),
            std::string::npos);
  EXPECT_NE(script.find("  __A_segment_end__ = 0x00001020;\n"), std::string::npos);
  EXPECT_EQ(statementHeaders(script),
            ".c1 __C_segment_start__ (NOLOAD) : AT(__C_segment_start__)\n"
            ".c2 __c1_end__ (NOLOAD) : AT(__c1_end__)\n"
            ".b1 __B_segment_start__ (NOLOAD) : AT(__B_segment_start__)\n"
            ".a1 __A_segment_start__ (NOLOAD) : AT(__A_segment_start__)\n"
            ".a2 __a1_end__ (NOLOAD) : AT(__a1_end__)\n");
}

const char* const kMapWithSections =
    "<Root>"
    "<MemorySegment name=\"FLASH\" start=\"0\" size=\"0x1000\" access=\"ReadOnly\">"
    "<ProgramSection name=\".vectors\" load=\"Yes\"/></MemorySegment>"
    "<MemorySegment name=\"RAM\" start=\"0x20000000\" size=\"0x800\"/>"
    "</Root>";

TEST(LinkerScriptWriter, PlacementSectionsContinueTheMemoryMapChains) {
  Script s(kMapWithSections,
           "<Root>"
           "<MemorySegment name=\"FLASH\"><ProgramSection name=\".text\" load=\"Yes\"/></MemorySegment>"
           "<MemorySegment name=\"NOWHERE\"><ProgramSection name=\".lost\"/></MemorySegment>"
           "<MemorySegment name=\"RAM2;;RAM\"><ProgramSection name=\".data\"/></MemorySegment>"
           "<MemorySegment><ProgramSection name=\".unnamed\"/></MemorySegment>"
           "</Root>");
  const std::string script = s.text();
  // No placement segment has a start and a size: the memory map gives the regions.
  EXPECT_NE(script.find("  RAM (wx) : ORIGIN = 0x20000000, LENGTH = 0x00000800\n"
                        "  FLASH (rx) : ORIGIN = 0x00000000, LENGTH = 0x00001000\n}\n"),
            std::string::npos);
  EXPECT_EQ(statementHeaders(script),
            ".vectors __FLASH_segment_start__ : AT(__FLASH_segment_start__)\n"
            ".data __RAM_segment_start__ (NOLOAD) : AT(__RAM_segment_start__)\n"
            ".text __vectors_end__ : AT(__vectors_end__)\n");
  EXPECT_EQ(script.find("lost"), std::string::npos);
  EXPECT_EQ(script.find("unnamed"), std::string::npos);
}

TEST(LinkerScriptWriter, PlacementSegmentsWithTheirOwnRegions) {
  Script s(kMapWithSections,
           "<Root>"
           "<MemorySegment name=\"FLASH\" start=\"0x100\" size=\"0x200\" access=\"ReadOnly\">"
           "<ProgramSection name=\".text\"/></MemorySegment>"
           "<MemorySegment name=\"RAM\" start=\"0x20000000\"><ProgramSection name=\".data\"/></MemorySegment>"
           "</Root>");
  const std::string script = s.text();
  EXPECT_NE(script.find("  UNPLACED_SECTIONS (wx) : ORIGIN = 0x100000000, LENGTH = 0\n"
                        "  FLASH (rx) : ORIGIN = 0x00000100, LENGTH = 0x00000200\n}\n"),
            std::string::npos);
  EXPECT_NE(script.find("  __RAM_segment_start__ = 0x20000000;\n"
                        "  __RAM_segment_end__ = 0x20000000;\n"
                        "  __RAM_segment_size__ = 0x00000000;\n"
                        "  __FLASH_segment_start__ = 0x00000100;\n"),
            std::string::npos);
  // The memory map's own .vectors is not placed.
  EXPECT_EQ(statementHeaders(script),
            ".data __RAM_segment_start__ (NOLOAD) : AT(__RAM_segment_start__)\n"
            ".text __FLASH_segment_start__ (NOLOAD) : AT(__FLASH_segment_start__)\n");
}

TEST(LinkerScriptWriter, PlacementFindsANestedSegmentByName) {
  Script s("<Root><MemorySegment name=\"OUTER\"><MemorySegment name=\"INNER\"/></MemorySegment></Root>",
           "<Root><MemorySegment name=\"INNER\"><ProgramSection name=\".x\"/></MemorySegment></Root>");
  EXPECT_EQ(statementHeaders(s.text()), ".x __INNER_segment_start__ (NOLOAD) : AT(__INNER_segment_start__)\n");
}

TEST(LinkerScriptWriter, VerboseAddingLines) {
  Script s(kMapWithSections,
           "<Root><MemorySegment name=\"FLASH\"><ProgramSection name=\".text\"/></MemorySegment></Root>");
  s.inputs.verbose = true;
  testing::internal::CaptureStdout();
  s.text();
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "Adding section from memory map file .vectors\n"
            "Adding section from placement file .text\n"
            "Laying out section .vectors\n"
            "Laying out section .text\n");
}

// End placement: sizes along one chain, the section that gets placed, and
// the warning, one line per case.
TEST(LinkerScriptWriter, PlacementFromSegmentEnd) {
  struct Case {
    const char* what;
    const char* sections;
    const char* placed;  // the statement header of the placed section, or ""
    const char* warning;
  };
  const Case cases[] = {
      {"middle section",
       "<ProgramSection name=\".a\" size=\"0x100\"/>"
       "<ProgramSection name=\".b\" size=\"0x200\" place_from_segment_end=\"Yes\"/>"
       "<ProgramSection name=\".c\" size=\"0x300\"/>",
       ".b __F_segment_start__ + (__F_segment_size__ - 1280) (NOLOAD)", ""},
      {"earliest of two, octal and decimal sizes",
       "<ProgramSection name=\".a\" size=\"010\" place_from_segment_end=\"yes\"/>"
       "<ProgramSection name=\".b\" size=\"16\" place_from_segment_end=\"YES\"/>",
       ".a __F_segment_start__ + (__F_segment_size__ - 24) (NOLOAD)", ""},
      {"size named by a symbol",
       "<ProgramSection name=\".a\" size=\"STACK\" place_from_segment_end=\"yes\"/>",
       ".a __F_segment_start__ + (__F_segment_size__ - 1024) (NOLOAD)", ""},
      {"sizeless section before the chosen one",
       "<ProgramSection name=\".a\"/>"
       "<ProgramSection name=\".b\" size=\"0X10\" place_from_segment_end=\"yes\"/>",
       ".b __F_segment_start__ + (__F_segment_size__ - 16) (NOLOAD)", ""},
      {"expression is not a fixed size",
       "<ProgramSection name=\".a\" place_from_segment_end=\"yes\" size=\"4\"/>"
       "<ProgramSection name=\".b\" size=\"0x100+4\"/>",
       "", "warning: cannot place section .a at end of segment because section .b does not have a fixed size\n"},
      {"last section without size asks itself",
       "<ProgramSection name=\".a\" size=\"4\"/><ProgramSection name=\".b\" place_from_segment_end=\"yes\"/>", "",
       ""},
      {"nearest asking section is named",
       "<ProgramSection name=\".a\" place_from_segment_end=\"yes\"/>"
       "<ProgramSection name=\".b\" place_from_segment_end=\"yes\"/>"
       "<ProgramSection name=\".c\" size=\"\"/>",
       "", "warning: cannot place section .b at end of segment because section .c does not have a fixed size\n"},
      {"hex prefix only", "<ProgramSection name=\".a\" size=\"0x\" place_from_segment_end=\"yes\"/>", "", ""},
      {"digit outside octal", "<ProgramSection name=\".a\" size=\"09\" place_from_segment_end=\"yes\"/>", "", ""},
      {"above 32 bits", "<ProgramSection name=\".a\" size=\"0x100000000\" place_from_segment_end=\"yes\"/>", "",
       ""},
      {"blank", "<ProgramSection name=\".a\" size=\" 4\" place_from_segment_end=\"yes\"/>", "", ""},
      {"sign", "<ProgramSection name=\".a\" size=\"-4\" place_from_segment_end=\"yes\"/>", "", ""},
      {"suffix", "<ProgramSection name=\".a\" size=\"4U\" place_from_segment_end=\"yes\"/>", "", ""},
      {"largest 32-bit size", "<ProgramSection name=\".a\" size=\"0xffffffff\" place_from_segment_end=\"yes\"/>",
       ".a __F_segment_start__ + (__F_segment_size__ - 4294967295) (NOLOAD)", ""},
      {"value other than yes", "<ProgramSection name=\".a\" size=\"4\" place_from_segment_end=\"true\"/>", "", ""},
  };
  for (const Case& c : cases) {
    const std::string map =
        std::string("<Root><MemorySegment name=\"F\" start=\"0\" size=\"0x1000\">") + c.sections + "</MemorySegment></Root>";
    Script s(map.c_str());
    s.inputs.symbols.insert(QStringLiteral("STACK"), QStringLiteral("0x400"));
    const std::string headers = statementHeaders(s.text());
    if (*c.placed)
      EXPECT_NE(headers.find(c.placed), std::string::npos) << c.what << "\n" << headers;
    else
      EXPECT_EQ(headers.find("segment_size__ -"), std::string::npos) << c.what << "\n" << headers;
    EXPECT_EQ(s.warnings, c.warning) << c.what;
  }
}

TEST(LinkerScriptWriter, BytesPassThrough) {
  Script s("<Root><MemorySegment name=\"R\xe9gion\" start=\"0\" size=\"4\" size_symbol=\"\xff\xfe\">"
           "<ProgramSection name=\".d\xc3\x28ta\" fill=\"\x80\"/></MemorySegment></Root>");
  s.inputs.symbols.insert(fromBytes("\xe4"), fromBytes("\xf6"));
  const std::string script = s.text();
  EXPECT_NE(script.find("  R\xe9gion (wx) : ORIGIN"), std::string::npos);
  EXPECT_NE(script.find("\xff\xfe = 0x00000004;\n"), std::string::npos);
  EXPECT_NE(script.find("  \xe4 = \xf6;\n"), std::string::npos);
  EXPECT_NE(script.find("  .d\xc3\x28ta __R\xe9gion_segment_start__ (NOLOAD)"), std::string::npos);
  EXPECT_NE(script.find("  } =\x80\n  __d\xc3\x28ta_end__"), std::string::npos);
}

TEST(LinkerScriptWriter, LayoutErrorPassesThrough) {
  Script s("<Root><MemorySegment name=\"F\"><ProgramSection name=\".c\" runin=\".none\"/></MemorySegment></Root>");
  EXPECT_EQ(s.text(), "ERROR cannot find run section .none referenced in c");
}

TEST(LinkerScriptWriter, EmptyDocument) {
  MemoryMap empty;
  LinkerScriptInputs inputs;
  inputs.memoryMap = &empty;
  inputs.checkUnplacedSections = false;
  Diagnostics diagnostics(false);
  EXPECT_EQ(generateLinkerScript(inputs, diagnostics), "MEMORY\n{\n}\n\nSECTIONS\n{\n\n\n}\n\n");
}

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
    return toStdBytes(e.message());
  }
  return "";
}

TEST(WriteLinkerScript, WritesTheFileOrSaysWhyNot) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  Script s(kFlashAndRam);
  const QString out = dir.filePath(QStringLiteral("out.ld"));
  EXPECT_EQ(writeError(out, s.memoryMap), "");
  EXPECT_EQ(readFile(out), s.text());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("out.ld")});

  const std::string missing = toStdBytes(dir.filePath(QStringLiteral("no/such/out.ld")));
  EXPECT_EQ(writeError(fromBytes(missing), s.memoryMap), "cannot open " + missing + " for writing");
  EXPECT_EQ(writeError(dir.path(), s.memoryMap), "cannot open " + toStdBytes(dir.path()) + " for writing");
  EXPECT_EQ(writeError(QString(), s.memoryMap), "cannot open  for writing");
}

// Devices are written in place, never replaced by a file.
TEST(WriteLinkerScript, DevicesWrittenInPlace) {
  Script s(kFlashAndRam);
  EXPECT_EQ(writeError(QStringLiteral("/dev/null"), s.memoryMap), "");
  EXPECT_FALSE(QFileInfo(QStringLiteral("/dev/null")).isFile());
  EXPECT_EQ(writeError(QStringLiteral("/dev/full"), s.memoryMap),
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
  EXPECT_EQ(writeError(out, s.memoryMap), "");
  EXPECT_EQ(QFile::permissions(out), readOnlyForOthers);

  const QString link = dir.filePath(QStringLiteral("link.ld"));
  ASSERT_TRUE(QFile::link(out, link));
  ASSERT_TRUE(QFile::resize(out, 0));
  EXPECT_EQ(writeError(link, s.memoryMap), "");
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
    EXPECT_EQ(writeError(out, s.memoryMap), "");
    EXPECT_EQ(readFile(out), script);
    EXPECT_NE(QFileInfo(out).lastModified(), longAgo);
  }
  writeEarlier(script);
  EXPECT_EQ(writeError(out, s.memoryMap), "");
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
