#include "xml/xmlpp2.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "support/casefile.h"
#include "support/treetext.h"

namespace {

class TestDocument : public XMLPP2 {
public:
  explicit TestDocument(int flags = 0) : XMLPP2(flags) { diagnostics = &sink; }
  using XMLPP2::fragments;
  // The located lines reported since the last call, one string each.
  std::vector<std::string> takeLines() {
    testing::internal::CaptureStderr();
    sink.flush();
    std::vector<std::string> lines;
    std::string text = testing::internal::GetCapturedStderr();
    for (std::size_t end; (end = text.find('\n')) != std::string::npos; text.erase(0, end + 1))
      lines.push_back(text.substr(0, end));
    return lines;
  }
  Diagnostics sink{true};
};

using Files = std::vector<std::pair<std::string, std::string>>;

struct Outcome {
  bool ok = false;
  std::string tree;      // treeText of the document's root
  std::string warnings;  // in order, joined by " | ", the folder written {DIR}
};

// Writes `files` and main.xml into a fresh folder, loads main.xml and
// preprocesses it as a file read does.
class Preprocessor : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  std::string folder() const { return toStdBytes(dir_.path()); }
  QString path(const std::string& name) const {
    return dir_.path() + QLatin1Char('/') + fromBytes(name);
  }

  void write(const std::string& name, const std::string& content) {
    const QString file = path(name);
    QDir().mkpath(QFileInfo(file).path());
    std::FILE* out = std::fopen(QFile::encodeName(file).constData(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(content.data(), 1, content.size(), out);
    std::fclose(out);
  }

  Outcome run(TestDocument& document, const std::string& xml, const std::string& macros = "",
              const Files& files = {}) {
    for (const auto& [name, content] : files)
      write(name, content);
    write("main.xml", xml);
    Outcome outcome;
    if (!document.load(path("main.xml"))) {
      outcome.warnings = "load failed: " + document.errorMessage;
      return outcome;
    }
    outcome.ok = document.processConditionals(document.root(), path("main.xml"),
                                              parseMacroList(fromBytes(macros)), true);
    outcome.tree = treeText(document.root());
    for (std::string warning : document.takeLines()) {
      for (std::size_t at; (at = warning.find(folder())) != std::string::npos;)
        warning.replace(at, folder().size(), "{DIR}");
      outcome.warnings += (outcome.warnings.empty() ? "" : " | ") + warning;
    }
    return outcome;
  }

  Outcome run(const std::string& xml, const std::string& macros = "", const Files& files = {}) {
    TestDocument document;
    return run(document, xml, macros, files);
  }

  QTemporaryDir dir_;
};

class PreprocessCase : public Preprocessor, public testing::WithParamInterface<TestCase> {};



Files subFiles() {
  return {
      {"sub.xml", R"~(<Sub a="$(A)" v="$(V)"><S w="$(V)" x="$(A)"/></Sub>)~"},
      {"env.xml", R"~(<envelope><E1/><E2 a="$(A)"/></envelope>)~"},
      {"d/a.xml", R"~(<DA><include filename="b.xml"/></DA>)~"},
      {"d/b.xml", R"~(<DB/>)~"},
      {"empty.xml", " \n "},
      {"mismatch.xml", "<A>\n<B>\n</C></A>"},
      {"badattr.xml", "<A/>\n<B 9=\"x\"/>"},
      {"rootif.xml", R"~(<if A="no"><S/></if>)~"},
      {"linux.xml", R"~(<Linux/>)~"},
  };
}

TEST_P(PreprocessCase, GivesTreeAndWarnings) {
  const TestCase& c = GetParam();
  Files files = c.get("files") == "shared" ? subFiles() : Files();
  for (const std::string& file : c.all("file"))
    files.emplace_back(file.substr(0, file.find(' ')), file.substr(file.find(' ') + 1));
  const Outcome outcome = run(c.get("xml"), c.get("macros"), files);
  EXPECT_EQ(outcome.ok, c.all("fails").empty());
  EXPECT_EQ(outcome.tree, c.get("tree"));
  EXPECT_EQ(outcome.warnings, c.get("warnings"));
}

INSTANTIATE_TEST_SUITE_P(Table, PreprocessCase,
                         testing::ValuesIn(readCases(MKLD_TEST_DATA_DIR "/xml/preprocessor_cases.txt")),
                         CaseName());


TEST_F(Preprocessor, FragmentsOutliveTheCallAndAreReplaced) {
  TestDocument document;
  run(document, R"~(<Root><xmldef name="F"><A/></xmldef><xmldef name="F"><B/></xmldef></Root>)~");
  ASSERT_EQ(document.fragments.size(), 1u);
  EXPECT_EQ(treeText(document.fragments.at("F").get()), "xmldef(name=\"F\")[B[]]");
  // A second file read into the same document sees the fragment.
  write("second.xml", R"~(<Second><xmlput name="F"/></Second>)~");
  ASSERT_TRUE(document.load(path("second.xml")));
  EXPECT_TRUE(document.processConditionals(document.root(), path("second.xml"), {}, true));
  EXPECT_EQ(treeText(document.root()), "Second[B[]]");
}

TEST_F(Preprocessor, FlagOffLeavesAttributesButExpandMacrosIncludeExpandsWithItsMacros) {
  write("sub.xml", R"~(<Sub v="$(V)"><S v="$(V)" a="$(A)"/></Sub>)~");
  write(
      "main.xml",
      R"~(<Root a="$(A)"><include filename="sub.xml"/><include filename="sub.xml" expand_macros="" macros="V=7"/><define name="D" value="$(A)"/><T d="$(D)"/><xmldef name="F"><P v="$(V)"/></xmldef><xmlput name="F" macros="V=1"/><xmlput name="F" expand_macros="" macros="V=2"/></Root>)~");
  TestDocument document;
  ASSERT_TRUE(document.load(path("main.xml")));
  EXPECT_TRUE(document.processConditionals(document.root(), path("main.xml"),
                                           parseMacroList(QStringLiteral("A=1")), false));
  EXPECT_EQ(treeText(document.root()),
            "Root(a=\"$(A)\")[Sub(v=\"$(V)\")[S(v=\"$(V)\" a=\"$(A)\")[]] "
            "Sub(v=\"7\")[S(v=\"7\" a=\"1\")[]] T(d=\"$(D)\")[] P(v=\"$(V)\")[] "
            "P(v=\"2\")[]]");
}

TEST_F(Preprocessor, TextAndCommentsPassThroughAndLoopsCopyOnlyElements) {
  TestDocument document(1);
  ASSERT_TRUE(document.parse(
      R"~(<Root>a<!--c--><if A="1">b<S/></if><for index="i" start="0" end="2" incr="1">t<T/></for></Root>)~"));
  EXPECT_TRUE(document.processConditionals(document.root(), QString(),
                                           parseMacroList(QStringLiteral("A=1")), true));
  EXPECT_EQ(treeText(document.root()),
            "Root[#data(\"a\") #comment(\"c\") #data(\"\") #data(\"b\") S[] #data(\"\") "
            "#data(\"\") T[] T[] #data(\"\")]");
}

TEST_F(Preprocessor, IncludesNestedPastTheLimitFailLikeUnreadableFiles) {
  // f0 includes f1 includes ... f70: the 65th nested include is refused.
  for (int n = 0; n <= 70; ++n) {
    write("f" + std::to_string(n) + ".xml", "<F" + std::to_string(n) + "><include filename=\"f" +
                                                std::to_string(n + 1) + ".xml\"/></F" +
                                                std::to_string(n) + ">");
  }
  const Outcome outcome = run(R"~(<Root><include filename="f0.xml"/></Root>)~");
  EXPECT_TRUE(outcome.ok);
  EXPECT_NE(outcome.tree.find("F63[include(filename=\"f64.xml\")[]]"), std::string::npos);
  EXPECT_EQ(outcome.tree.find("F64"), std::string::npos);
  EXPECT_EQ(outcome.warnings.substr(0, 162),
            "{DIR}/f63.xml:1:6: warning: include file \"{DIR}/f64.xml\" not read: includes nested "
            "deeper than 64 | {DIR}/f62.xml:1:6: note: in file included from {DIR}/f62.xml:1");
}

std::string nested(int levels) {
  std::string xml;
  for (int n = 0; n < levels; ++n)
    xml += "<E>";
  for (int n = 0; n < levels; ++n)
    xml += "</E>";
  return xml;
}

TEST_F(Preprocessor, NestingUpToTheLimitIsProcessed) {
  const Outcome outcome = run("<Root>" + nested(1000) + "</Root>");
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.warnings, "");
}

TEST_F(Preprocessor, NestingPastTheLimitFailsTheLoad) {
  const Outcome outcome = run("<Root>" + nested(1001) + "</Root>");
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.tree, "null");
  EXPECT_EQ(outcome.warnings, "{DIR}/main.xml:1:3007: error: elements nested deeper than 1000 levels");
}

const char* const kBudget =
    "{DIR}/main.xml:1:7: error: more than 1000000 elements created by <for>, <foreach>, "
    "<xmlput> and <include>";

TEST_F(Preprocessor, OversizedLoopFailsBeforeCopying) {
  const Outcome outcome =
      run(R"~(<Root><for index="i" start="0" end="0xFFFFFFFF" incr="1"><S/><T/></for></Root>)~");
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.warnings, kBudget);
}

TEST_F(Preprocessor, OversizedForeachFailsBeforeCopying) {
  const std::string values = "0,1,2,3,4,5,6,7,8,9";
  std::string attributes;
  for (char name = 'a'; name <= 't'; ++name)
    attributes += std::string(" ") + name + "=\"" + values + "\"";
  const Outcome outcome = run("<Root><foreach" + attributes + "><S/></foreach></Root>");
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.warnings, kBudget);
}

TEST_F(Preprocessor, BudgetIsSharedByEveryLoopOfOneCall) {
  TestDocument document;
  document.limits.maxCreatedElements = 20;
  // Each loop: 4 iterations, each 1 unit plus 2 elements = 12.
  const char* loop = R"~(<for index="i" start="0" end="4" incr="1"><S><T/></S></for>)~";
  const Outcome one = run(document, std::string("<Root>") + loop + "</Root>");
  EXPECT_TRUE(one.ok);
  // A later call starts afresh.
  const Outcome two = run(document, std::string("<Root>") + loop + loop + "</Root>");
  EXPECT_FALSE(two.ok);
  EXPECT_EQ(two.warnings,
            "{DIR}/main.xml:1:66: error: more than 20 elements created by <for>, <foreach>, "
            "<xmlput> and <include>");
}

TEST_F(Preprocessor, FragmentPuttingItselfEnds) {
  const Outcome once =
      run(R"~(<Root><xmldef name="F"><S/><xmlput name="F"/></xmldef><xmlput name="F"/></Root>)~");
  EXPECT_FALSE(once.ok);
  EXPECT_EQ(once.warnings,
            "{DIR}/main.xml:1:24: error: elements nested deeper than 1000 levels | "
            "{DIR}/main.xml:1:28: note: in a copy made by <xmlput> | "
            "{DIR}/main.xml:1:55: note: in a copy made by <xmlput>");
  const Outcome twice = run(
      R"~(<Root><xmldef name="F"><xmlput name="F"/><xmlput name="F"/></xmldef><xmlput name="F"/></Root>)~");
  EXPECT_FALSE(twice.ok);
}

TEST_F(Preprocessor, IncludesCountTowardsTheBudget) {
  write("big.xml", "<Big>" + std::string(30, ' ') + "<A/><A/><A/><A/></Big>");
  TestDocument document;
  document.limits.maxCreatedElements = 12;
  const Outcome outcome = run(
      document,
      R"~(<Root><include filename="big.xml"/><include filename="big.xml"/><include filename="big.xml"/></Root>)~");
  EXPECT_FALSE(outcome.ok);
  EXPECT_NE(outcome.warnings.find("more than 12 elements"), std::string::npos);
}

TEST_F(Preprocessor, ExpansionPastItsBudgetFailsTheLoad) {
  TestDocument document;
  document.limits.maxExpandedCharacters = 1000;
  const Outcome outcome = run(
      document, R"~(<Root><for index="i" start="0" end="200" incr="1"><S n="$(i)"/></for></Root>)~");
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.warnings,
            "{DIR}/main.xml:1:7: error: macro expansion read and wrote more than 1000 characters");
  EXPECT_TRUE(document.lastUsage.limitExceeded);
}

TEST_F(Preprocessor, HostileDefaultsInALoopEndQuickly) {
  // A default that refers to itself grows by a thousand characters on every
  // re-scanning pass; a loop repeats it a hundred thousand times ("$$" keeps
  // the reference through the copy's own expansion). Each expansion stops at
  // its scan bound, and together they pass the shared budget long before
  // the loop ends.
  const Outcome outcome =
      run(R"~(<Root><for index="i" start="0" end="100000" incr="1"><S a="$$(A:$)"/></for></Root>)~",
          "A=$(A:$)" + std::string(1000, '.'));
  EXPECT_FALSE(outcome.ok);
  EXPECT_NE(outcome.warnings.find("macro expansion read and wrote more than"), std::string::npos);
}

TEST_F(Preprocessor, LargeLoopKeepsOrder) {
  const Outcome outcome = run(
      R"~(<Root><for index="i" start="0" end="100000" incr="1"><S n="$(i)"/></for><T/></Root>)~");
  ASSERT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.tree.rfind("Root[S(n=\"0\")[] S(n=\"1\")[] S(n=\"2\")", 0), 0u);
  EXPECT_EQ(outcome.tree.substr(outcome.tree.size() - 34),
            "S(n=\"99998\")[] S(n=\"99999\")[] T[]]");
}

}  // namespace
