#include "xml/xmlreader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <random>
#include <string>

#include "base/bytes.h"
#include "support/casefile.h"
#include "support/stack.h"
#include "support/treetext.h"
#include "xml/loadcontext.h"
#include "xml/xmlnode.h"

namespace {

// The tree read from `xml`, then "ok" or "error" for a syntax error.
std::string parsed(const std::string& xml) {
  Diagnostics diagnostics(false);
  LoadContext context(diagnostics);
  XMLTree tree;
  const ReadOutcome outcome = readXML(context, tree, xml, 0, Severity::Error);
  return treeText(outcome.root) + (outcome.syntaxError ? " error" : " ok");
}

class Reads : public ::testing::TestWithParam<TestCase> {};

TEST_P(Reads, AsExpected) {
  const TestCase& c = GetParam();
  EXPECT_EQ(parsed(c.get("xml")), c.get("tree"));
}

INSTANTIATE_TEST_SUITE_P(Table, Reads,
                         ::testing::ValuesIn(readCases(MKLD_TEST_DATA_DIR "/xml/reader_cases.txt")),
                         CaseName());

TEST(XMLReader, LinesAndColumnsCountFromOne) {
  Diagnostics diagnostics(false);
  LoadContext context(diagnostics);
  XMLTree tree;
  const XMLElement* a = readXML(context, tree, "\n<a x=\"\n\">\r\n  <b/><!--\n-->\n<c\n/></a>", 0, Severity::Error).root;
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(std::make_pair(a->line, a->column), std::make_pair(2, 1));
  EXPECT_EQ(std::make_pair(a->firstChild()->line, a->firstChild()->column), std::make_pair(4, 3));
  EXPECT_EQ(a->lastChild()->line, 6);
}

// Random markup from the constructs the reader knows never crashes, and a
// syntax error never leaves a tree.
TEST(XMLReader, RandomMarkupNeverCrashes) {
  const std::string alphabet = "<>/!?-=\"'&#;[]x:1 \n\rCDATADOCTYPExmla.";
  std::mt19937 random(12345);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> length(0, 60);
  for (int i = 0; i < 20000; ++i) {
    std::string xml;
    for (int n = length(random); n > 0; --n)
      xml += alphabet[pick(random)];
    const std::string outcome = parsed(xml);
    if (outcome.size() >= 6 && outcome.substr(outcome.size() - 6) == " error") {
      ASSERT_EQ(outcome, "null error") << xml;
    }
  }
}

TEST(XMLReader, ManyAttributesStayLinearAndKeepOrder) {
  std::string xml = "<a";
  for (int i = 0; i < 50000; ++i)
    xml += " n" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
  xml += " n7=\"again\" n49999=\"last\"/>";
  Diagnostics diagnostics(false);
  LoadContext context(diagnostics);
  XMLTree tree;
  const XMLElement* a = readXML(context, tree, xml, 0, Severity::Error).root;
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->attributeCount(), 50000u);
  EXPECT_EQ(a->begin()[7].name, "n7");
  EXPECT_EQ(a->begin()[7].value, "again");
  EXPECT_EQ(a->begin()[49999].value, "last");
  EXPECT_EQ(a->begin()[20].value, "20");
}

TEST(XMLReader, DeepAndWideDocumentsReadAndClone) {
  runWithStack(kDefaultStackBytes, [] {
    constexpr int kDepth = 100000;
    const std::string deep = [] {
      std::string text;
      for (int i = 0; i < kDepth; ++i)
        text += "<e>";
      for (int i = 0; i < kDepth; ++i)
        text += "</e>";
      return text;
    }();
    Diagnostics diagnostics(false);
    LoadContext context(diagnostics);
    XMLTree tree;
    const XMLElement* root = readXML(context, tree, deep, 0, Severity::Error).root;
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(treeText(tree.clone(*root)), treeText(root));
    // Unclosed deep nesting is discarded without harm as well.
    EXPECT_EQ(readXML(context, tree, deep.substr(0, deep.size() / 2), 0, Severity::Error).root, nullptr);
  });
}

// Files: what is read of each, or the system's reason. A NUL byte ends the
// text, a byte-order mark at the very start is skipped, a device is read as
// a stream.
TEST(LoadContext, ReadsFilesUpToTheirFirstNul) {
  QTemporaryDir dir;
  auto write = [&dir](const char* name, const std::string& bytes) {
    QFile file(dir.filePath(QString::fromLatin1(name)));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    return fromNativePath(file.fileName());
  };
  const struct {
    QString path;
    const char* read;  // null: not read, for `reason`
    const char* reason = "";
  } cases[] = {
      {write("plain.xml", "<a/>\r\n"), "<a/>\r\n"},
      {write("bom.xml", "\xEF\xBB\xBF<a/>"), "<a/>"},
      {write("late.xml", " \xEF\xBB\xBF<a/>"), " \xEF\xBB\xBF<a/>"},
      {write("nul.xml", std::string("<a/>\0<b/>", 9)), "<a/>"},
      {write("m\xc3\xa9moire.xml", "<m/>"), "<m/>"},
      {QStringLiteral("/dev/zero"), ""},
      {fromNativePath(dir.filePath(QStringLiteral("absent.xml"))), nullptr, "No such file or directory"},
      {fromNativePath(dir.path()), nullptr, "Is a directory"},
      {write("x", "<a/>") + QChar(0) + QStringLiteral("y"), nullptr, "No such file or directory"},
  };
  Diagnostics diagnostics(false);
  LoadContext context(diagnostics);
  Arena arena;
  QStringList read;
  for (const auto& c : cases) {
    const LoadContext::FileText file = context.readFile(arena, c.path);
    EXPECT_EQ(file.read, c.read != nullptr) << toStdBytes(c.path);
    if (!c.read) {
      EXPECT_EQ(file.readError.toStdString(), c.reason);
      continue;
    }
    read.append(c.path);
    EXPECT_EQ(file.text, c.read);
    EXPECT_EQ(file.text.data()[file.text.size()], '\0');
  }
  EXPECT_EQ(context.filesRead(), read);
}

}  // namespace
