#include "xml/preprocessor.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <string>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "support/casefile.h"
#include "support/treetext.h"
#include "xml/loadcontext.h"
#include "xml/xmlnode.h"
#include "xml/xmlreader.h"

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;

struct Outcome {
  bool ok = false;
  std::string tree;      // treeText of the result
  std::string warnings;  // the located lines in order, joined by " | ", the folder written {DIR}
};

// Writes `files` into a fresh folder and preprocesses its main.xml as a
// document load does, with located diagnostics on.
class Preprocess : public testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

  QString path(const std::string& name) const { return dir_.path() + QLatin1Char('/') + fromBytes(name); }

  void write(const std::string& name, const std::string& content) {
    const QString file = path(name);
    QDir().mkpath(QFileInfo(file).path());
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(content.data(), static_cast<qint64>(content.size()));
  }

  // Preprocesses `name` with `preprocessor` (whose fragments carry over).
  Outcome runFile(Preprocessor& preprocessor, XMLTree& tree, const std::string& name, const std::string& macros,
                  bool expand = true) {
    testing::internal::CaptureStderr();
    const LoadContext::FileText file = context_.readFile(tree.arena(), path(name));
    const XMLElement* root = nullptr;
    if (XMLElement* read = readXML(context_, tree, file.text, file.file, Severity::Error).root)
      root = preprocessor.run(read, path(name), parseMacroList(fromBytes(macros)), expand, Severity::Error);
    diagnostics_.flush();
    Outcome outcome{root != nullptr, treeText(root), std::string()};
    std::string text = testing::internal::GetCapturedStderr();
    const std::string folder = toStdBytes(dir_.path());
    for (std::size_t at; (at = text.find(folder)) != std::string::npos;)
      text.replace(at, folder.size(), "{DIR}");
    for (std::size_t end; (end = text.find('\n')) != std::string::npos; text.erase(0, end + 1))
      outcome.warnings += (outcome.warnings.empty() ? "" : " | ") + text.substr(0, end);
    return outcome;
  }

  Outcome run(const std::string& xml, const std::string& macros = "", const Files& files = {}) {
    for (const auto& [name, content] : files)
      write(name, content);
    write("main.xml", xml);
    XMLTree tree;
    Preprocessor preprocessor(context_, tree);
    return runFile(preprocessor, tree, "main.xml", macros);
  }

  QTemporaryDir dir_;
  Diagnostics diagnostics_{true};
  LoadLimits limits_;
  LoadContext context_{diagnostics_, limits_};
};

class PreprocessCase : public Preprocess, public testing::WithParamInterface<TestCase> {};

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

// Fragments stay known to later files of the same document (its imports);
// without expansion, only an include or xmlput that asks expands.
TEST_F(Preprocess, FragmentsCarryOverAndExpansionIsAskedFor) {
  write("sub.xml", R"~(<Sub v="$(V)"><S v="$(V)" a="$(A)"/></Sub>)~");
  write("main.xml",
        R"~(<Root a="$(A)"><include filename="sub.xml"/><include filename="sub.xml" expand_macros="" macros="V=7"/><define name="D" value="$(A)"/><T d="$(D)"/><xmldef name="F"><P v="$(V)"/></xmldef><xmlput name="F" macros="V=1"/><xmlput name="F" expand_macros="" macros="V=2"/></Root>)~");
  write("second.xml", R"~(<Second><xmlput name="F" macros="V=3"/></Second>)~");
  XMLTree tree;
  Preprocessor preprocessor(context_, tree);
  EXPECT_EQ(runFile(preprocessor, tree, "main.xml", "A=1", false).tree,
            "Root(a=\"$(A)\")[Sub(v=\"$(V)\")[S(v=\"$(V)\" a=\"$(A)\")[]] "
            "Sub(v=\"7\")[S(v=\"7\" a=\"1\")[]] T(d=\"$(D)\")[] P(v=\"$(V)\")[] P(v=\"2\")[]]");
  EXPECT_EQ(runFile(preprocessor, tree, "second.xml", "").tree, "Second[P(v=\"3\")[]]");
}

TEST_F(Preprocess, IncludesNestedPastTheLimitFailLikeUnreadableFiles) {
  // f0 includes f1 includes ... f70: the 65th nested include is refused.
  Files files;
  for (int n = 0; n <= 70; ++n) {
    const std::string name = std::to_string(n);
    files.emplace_back("f" + name + ".xml",
                       "<F" + name + "><include filename=\"f" + std::to_string(n + 1) + ".xml\"/></F" + name + ">");
  }
  const Outcome outcome = run(R"~(<Root><include filename="f0.xml"/></Root>)~", "", files);
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

std::string foreachOf20Attributes() {
  std::string attributes;
  for (char name = 'a'; name <= 't'; ++name)
    attributes += std::string(" ") + name + "=\"0,1,2,3,4,5,6,7,8,9\"";
  return "<Root><foreach" + attributes + "><S/></foreach></Root>";
}

// Each budget of a document fails the load at its first excess, before the
// copies are made; up to the limit all is well.
TEST_F(Preprocess, BudgetsFailTheLoad) {
  const std::string budget =
      "{DIR}/main.xml:1:7: error: more than 1000000 elements created by <for>, <foreach>, <xmlput> and <include>";
  const struct {
    std::string xml;
    std::string macros;
    std::string warnings;  // the first line; empty: the load succeeds
  } cases[] = {
      {"<Root>" + nested(1000) + "</Root>", "", ""},
      {"<Root>" + nested(1001) + "</Root>", "", "{DIR}/main.xml:1:3007: error: elements nested deeper than 1000 levels"},
      {R"~(<Root><for index="i" start="0" end="0xFFFFFFFF" incr="1"><S/><T/></for></Root>)~", "", budget},
      {foreachOf20Attributes(), "", budget},
      {R"~(<Root><xmldef name="F"><S/><xmlput name="F"/></xmldef><xmlput name="F"/></Root>)~", "",
       "{DIR}/main.xml:1:24: error: elements nested deeper than 1000 levels"},
      // A default that refers to itself grows on every re-scanning pass; a
      // loop repeats it ("$$" keeps the reference through the copy's own
      // expansion). Together the expansions pass the budget early.
      {R"~(<Root><for index="i" start="0" end="100000" incr="1"><S a="$$(A:$)"/></for></Root>)~",
       "A=$(A:$)" + std::string(1000, '.'),
       "{DIR}/main.xml:1:54: error: macro expansion read and wrote more than 268435456 characters"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = run(c.xml, c.macros);
    EXPECT_EQ(outcome.ok, c.warnings.empty()) << c.xml.substr(0, 80);
    EXPECT_EQ(outcome.warnings.substr(0, outcome.warnings.find(" | ")), c.warnings);
  }
}

// The created elements are counted over the whole document: loops and
// includes of every file it reads.
TEST_F(Preprocess, OneBudgetPerDocument) {
  LoadLimits limits;
  limits.maxCreatedElements = 20;
  LoadContext context(diagnostics_, limits);
  write("big.xml", "<Big><A/><A/><A/><A/></Big>");
  // 4 iterations of 1 unit plus 2 elements, then 5 elements per include.
  write("main.xml",
        R"~(<Root><for index="i" start="0" end="4" incr="1"><S><T/></S></for><include filename="big.xml"/><include filename="big.xml"/></Root>)~");
  XMLTree tree;
  Preprocessor preprocessor(context, tree);
  const LoadContext::FileText file = context.readFile(tree.arena(), path("main.xml"));
  XMLElement* read = readXML(context, tree, file.text, file.file, Severity::Error).root;
  EXPECT_EQ(preprocessor.run(read, path("main.xml"), {}, true, Severity::Error), nullptr);
  EXPECT_TRUE(context.budget().exceeded);
}

TEST_F(Preprocess, LargeLoopKeepsOrder) {
  const Outcome outcome =
      run(R"~(<Root><for index="i" start="0" end="100000" incr="1"><S n="$(i)"/></for><T/></Root>)~");
  ASSERT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.tree.rfind("Root[S(n=\"0\")[] S(n=\"1\")[] S(n=\"2\")", 0), 0u);
  EXPECT_EQ(outcome.tree.substr(outcome.tree.size() - 34), "S(n=\"99998\")[] S(n=\"99999\")[] T[]]");
}

}  // namespace
