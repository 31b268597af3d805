#include <gtest/gtest.h>

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <random>
#include <string>
#include <thread>

#include "base/bytes.h"
#include "support/casefile.h"
#include "support/stack.h"
#include "support/treetext.h"
#include "xml/xmldocument.h"

namespace {

// What one parse gave, in one comparable line: the tree, then "ok" or the
// error message with its line.
std::string outcome(XMLDocument& document, bool ok) {
  std::string text = treeText(document.root());
  text += ok ? " ok" : " error \"" + document.errorMessage + "\" line " +
                           std::to_string(document.errorLine);
  return text;
}

std::string parsed(const std::string& xml, int flags) {
  XMLDocument document(flags);
  const bool ok = document.parse(xml.c_str());
  return outcome(document, ok);
}

class Reads : public ::testing::TestWithParam<TestCase> {};

TEST_P(Reads, AsExpected) {
  const TestCase& c = GetParam();
  EXPECT_EQ(parsed(c.get("xml"), std::stoi(c.get("flags", "0"))), c.get("tree"));
}

INSTANTIATE_TEST_SUITE_P(Table, Reads,
                         ::testing::ValuesIn(readCases(MKLD_TEST_DATA_DIR "/xml/reader_cases.txt")),
                         CaseName());

TEST(XMLReader, ElementLinesCountNewlinesBeforeTheirTag) {
  XMLDocument document;
  ASSERT_TRUE(document.parse("\n<a x=\"\n\">\r\n  <b/><!--\n-->\n<c\n/></a>"));
  XMLNode* a = document.root();
  EXPECT_EQ(a->line, 1);
  EXPECT_EQ(a->firstChild()->line, 3);
  EXPECT_EQ(a->lastChild()->line, 5);
}

TEST(XMLReader, EveryElementComesFromTheFactory) {
  struct Counting : XMLDocument {
    using XMLDocument::XMLDocument;
    std::unique_ptr<XMLElement> createElement(std::string tagName) override {
      names += tagName + ",";
      return XMLDocument::createElement(std::move(tagName));
    }
    std::string names;
  } document;
  ASSERT_TRUE(document.parse("<a><b/><c></c></a>"));
  EXPECT_EQ(document.names, "a,b,c,");
}

TEST(XMLReader, ParseReplacesTheRootAndClearsTheError) {
  XMLDocument document;
  ASSERT_TRUE(document.parse("<?xml version='1'?><!DOCTYPE d><first/>"));
  EXPECT_FALSE(document.parse("<a>\n</b>"));
  EXPECT_EQ(document.root(), nullptr);
  EXPECT_EQ(document.errorLine, 1);
  EXPECT_TRUE(document.parse("<second/>"));
  EXPECT_EQ(document.errorMessage, "");
  EXPECT_EQ(document.errorLine, 0);
  EXPECT_EQ(treeText(document.root()), "second[]");
}

TEST(XMLReader, EveryPrefixOfADocumentReadsWithoutHarm) {
  const std::string xml =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding='UTF-8'?>\n<!DOCTYPE Root>\n"
      "<Root name=\"r\" a='&lt;&#65;&#x41;&#;'><!-- c -->\r\n"
      "  <MemorySegment name=\"FLASH\" start=\"0x0\" size=\"0x1000\"/>text &amp; more"
      "<![CDATA[raw]]><?pi x?><!ELEMENT x><Register x=\"1\"y=\"2\"></Reg></Root>";
  for (size_t length = 0; length <= xml.size(); ++length) {
    for (int flags : {0, 1}) {
      XMLDocument document(flags);
      const bool ok = document.parse(xml.substr(0, length).c_str());
      EXPECT_EQ(ok, document.errorMessage.empty()) << length;
    }
  }
  EXPECT_EQ(parsed(xml.substr(3), 0),
            "Root(name=\"r\" a=\"<AA\")[MemorySegment(name=\"FLASH\" start=\"0x0\" "
            "size=\"0x1000\")[] #cdata(\"raw\") Register(x=\"1\" y=\"2\")[]] ok");
}

TEST(XMLReader, RandomMarkupNeverCrashesAndReportsOnlyKnownErrors) {
  const std::string alphabet = "<>/!?-=\"'&#;[]x:1 \n\rCDATADOCTYPExmla.";
  std::mt19937 random(12345);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> length(0, 60);
  for (int i = 0; i < 20000; ++i) {
    std::string xml;
    for (int n = length(random); n > 0; --n)
      xml += alphabet[pick(random)];
    XMLDocument document(i % 2);
    const bool ok = document.parse(xml.c_str());
    if (ok)
      ASSERT_EQ(document.errorMessage, "") << xml;
    else
      ASSERT_TRUE(document.errorMessage == "bad tagName" || document.errorMessage == "tagName mismatch")
          << xml;
  }
}

TEST(XMLReader, ManyAttributesStayLinearAndKeepOrder) {
  std::string xml = "<a";
  for (int i = 0; i < 50000; ++i)
    xml += " n" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
  xml += " n7=\"again\" n49999=\"last\"/>";
  XMLDocument document;
  ASSERT_TRUE(document.parse(xml.c_str()));
  const XMLElement* a = document.root();
  ASSERT_EQ(a->attributes().size(), 50000u);
  EXPECT_EQ(a->attributes()[7].name, "n7");
  EXPECT_EQ(a->attributes()[7].value, "again");
  EXPECT_EQ(a->attributes()[49999].value, "last");
  EXPECT_EQ(a->attributes()[20].value, "20");
}

TEST(XMLReader, DeepAndWideDocumentsReadCloneAndFree) {
  runWithStack(kDefaultStackBytes, [] {
    constexpr int kDepth = 100000;
    std::string deep;
    for (int i = 0; i < kDepth; ++i)
      deep += "<e>";
    for (int i = 0; i < kDepth; ++i)
      deep += "</e>";
    XMLDocument document;
    ASSERT_TRUE(document.parse(deep.c_str()));
    int depth = 0;
    for (XMLNode* node = document.root(); node; node = node->firstChild())
      ++depth;
    EXPECT_EQ(depth, kDepth);
    std::unique_ptr<XMLNode> copy = document.cloneNode(*document.root());
    EXPECT_EQ(treeText(copy.get()), treeText(document.root()));
    copy.reset();

    constexpr int kSiblings = 1000000;
    std::string wide = "<r>";
    for (int i = 0; i < kSiblings; ++i)
      wide += "<s/>";
    wide += "</r>";
    ASSERT_TRUE(document.parse(wide.c_str()));  // frees the deep tree
    copy = document.cloneNode(*document.root());
    int count = 0;
    for (XMLNode* node = copy->firstChild(); node; node = node->nextSibling())
      count += node->toElement() ? 1 : 0;
    EXPECT_EQ(count, kSiblings);

    // Unclosed deep nesting is discarded without harm as well.
    ASSERT_TRUE(document.parse(deep.substr(0, deep.size() / 2).c_str()));
    EXPECT_EQ(document.root(), nullptr);
  });
}

// Files and paths.
class XMLLoad : public ::testing::Test {
protected:
  std::string write(const char* name, const std::string& bytes) {
    const QString path = dir_.filePath(QString::fromLatin1(name));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    return QFile::encodeName(path).toStdString();
  }
  QTemporaryDir dir_;
};

TEST_F(XMLLoad, ReadsAFile) {
  const std::string path = write("map.xml", "<Root>\r\n<MemorySegment name=\"RAM\"/>\r\n</Root>\r\n");
  XMLDocument document;
  ASSERT_TRUE(document.load(path.c_str()));
  EXPECT_EQ(treeText(document.root()), "Root[MemorySegment(name=\"RAM\")[]]");
}

TEST_F(XMLLoad, SkipsAByteOrderMark) {
  XMLDocument document;
  ASSERT_TRUE(document.load(write("bom.xml", "\xEF\xBB\xBF<a x=\"1\"/>").c_str()));
  EXPECT_EQ(treeText(document.root()), "a(x=\"1\")[]");
  // Only at the very start, and only in files.
  ASSERT_TRUE(document.load(write("late.xml", " \xEF\xBB\xBF<a/>").c_str()));
  EXPECT_EQ(document.root(), nullptr);
  ASSERT_TRUE(document.parse("\xEF\xBB\xBF<a/>"));
  EXPECT_EQ(document.root(), nullptr);
}

TEST_F(XMLLoad, ANulByteEndsTheText) {
  XMLDocument document;
  ASSERT_TRUE(document.load(write("nul.xml", std::string("<a/>\0<b/>", 9)).c_str()));
  EXPECT_EQ(treeText(document.root()), "a[]");
  ASSERT_TRUE(document.load(write("nul2.xml", std::string("<a>\0</a>", 8)).c_str()));
  EXPECT_EQ(document.root(), nullptr);
  ASSERT_TRUE(document.load(write("nul3.xml", std::string("<a v=\"x\0\"/>", 11)).c_str()));
  EXPECT_EQ(document.root(), nullptr);
}

TEST_F(XMLLoad, MissingFileLeavesTheRootAlone) {
  XMLDocument document;
  ASSERT_TRUE(document.parse("<kept/>"));
  document.errorLine = 5;
  const std::string path = QFile::encodeName(dir_.filePath(QStringLiteral("absent.xml"))).toStdString();
  EXPECT_FALSE(document.load(path.c_str()));
  EXPECT_EQ(document.errorMessage, "couldn't read " + path);
  EXPECT_EQ(document.errorLine, 0);
  EXPECT_EQ(treeText(document.root()), "kept[]");
}

TEST_F(XMLLoad, UnreadableFileIsReportedLikeAMissingOne) {
  XMLDocument document;
  ASSERT_TRUE(document.parse("<kept/>"));
  const std::string directory = QFile::encodeName(dir_.path()).toStdString();
  EXPECT_FALSE(document.load(directory.c_str()));
  EXPECT_EQ(document.errorMessage, "couldn't read " + directory);
  EXPECT_EQ(treeText(document.root()), "kept[]");
}

TEST_F(XMLLoad, LongPathMessageIsCut) {
  XMLDocument document;
  const std::string path = "/nonexistent/" + std::string(2000, 'p');
  EXPECT_FALSE(document.load(path.c_str()));
  EXPECT_EQ(document.errorMessage.size(), 1023u);
  EXPECT_EQ(document.errorMessage, ("couldn't read " + path).substr(0, 1023));
}

// A QString path holds the path's bytes, one character each, like every
// other text of the tool; a name written in UTF-8 is found.
TEST_F(XMLLoad, QStringPathsHoldThePathBytes) {
  const QString name = QStringLiteral("m\u00e9moire.xml");
  QFile file(dir_.filePath(name));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("<a/>");
  file.close();
  QXMLDocument document;
  ASSERT_TRUE(document.load(fromNativePath(dir_.filePath(name))));
  EXPECT_EQ(treeText(document.root()), "a[]");

  const QString missing = fromNativePath(dir_.filePath(QStringLiteral("\u00e9t\u00e9.xml")));
  EXPECT_FALSE(document.load(missing));
  EXPECT_EQ(document.errorMessage, "couldn't read " + toStdBytes(missing));
  EXPECT_EQ(treeText(document.root()), "a[]");
}

TEST_F(XMLLoad, QStringPathWithNulIsNotOpened) {
  write("x", "<a/>");
  QXMLDocument document;
  const QString path = dir_.filePath(QStringLiteral("x")) + QChar(0) + QStringLiteral("y");
  EXPECT_FALSE(document.load(path));
  EXPECT_EQ(document.errorMessage.substr(0, 14), "couldn't read ");
  EXPECT_EQ(document.root(), nullptr);
}

TEST_F(XMLLoad, StreamsReadFromTheirStart) {
  std::FILE* file = std::fopen(write("s.xml", "<a><b/></a>").c_str(), "rb");
  ASSERT_NE(file, nullptr);
  std::fgetc(file);
  std::fgetc(file);
  XMLDocument document;
  EXPECT_TRUE(document.parse(file));
  std::fclose(file);
  EXPECT_EQ(treeText(document.root()), "a[b[]]");
}

TEST_F(XMLLoad, PipesAreReadToTheirEnd) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string xml = "\xEF\xBB\xBF<r>";
  for (int i = 0; i < 20000; ++i)  // more than one read
    xml += "<s v=\"" + std::to_string(i) + "\"/>";
  xml += "</r>";
  std::thread writer([&] {
    size_t done = 0;
    while (done < xml.size()) {
      const ssize_t n = ::write(fds[1], xml.data() + done, xml.size() - done);
      if (n <= 0)
        break;
      done += static_cast<size_t>(n);
    }
    ::close(fds[1]);
  });
  std::FILE* file = fdopen(fds[0], "rb");
  XMLDocument document;
  const bool ok = document.parse(file);
  writer.join();
  std::fclose(file);
  ASSERT_TRUE(ok);
  ASSERT_NE(document.root(), nullptr);
  EXPECT_EQ(treeText(document.root()->lastChild()), "s(v=\"19999\")[]");
}

TEST_F(XMLLoad, EndlessZeroDeviceEndsAtItsFirstByte) {
  XMLDocument document;
  EXPECT_TRUE(document.load("/dev/zero"));
  EXPECT_EQ(document.root(), nullptr);
}

}  // namespace
