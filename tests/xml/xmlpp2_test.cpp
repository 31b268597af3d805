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

struct Case {
  const char* name;
  const char* xml;
  const char* macros;
  const char* tree;
  const char* warnings;
  Files files = {};
};

class PreprocessCase : public Preprocessor, public testing::WithParamInterface<Case> {};

TEST_P(PreprocessCase, GivesTreeAndWarnings) {
  const Case& c = GetParam();
  const Outcome outcome = run(c.xml, c.macros, c.files);
  EXPECT_TRUE(outcome.ok);
  EXPECT_EQ(outcome.tree, c.tree);
  EXPECT_EQ(outcome.warnings, c.warnings);
}

std::string caseName(const testing::TestParamInfo<Case>& info) {
  return info.param.name;
}


INSTANTIATE_TEST_SUITE_P(
    Conditionals, PreprocessCase,
    testing::Values(
        Case{"IfMatchesListItem", R"~(<Root><if A="1,2"><S/><T/></if><U/></Root>)~", "A=2",
             "Root[S[] T[] U[]]", ""},
        Case{"IfMatchesNoItem", R"~(<Root><if A="1,2"><S/></if><U/></Root>)~", "A=3", "Root[U[]]",
             ""},
        Case{"IfOnUndefinedIsFalseThenDefined",
             R"~(<Root><if A="1"><S/></if><ifdef name="A"><T/></ifdef><U a="[$(A)]"/></Root>)~", "",
             "Root[T[] U(a=\"[]\")[]]", ""},
        Case{"IfEmptyItemsNeverMatchEmptyValue", R"~(<Root><if A=",,"><S/></if></Root>)~",
             "A=", "Root[]", ""},
        Case{"IfValueIsExpandedFirst", R"~(<Root><if A="$(B)"><S/></if></Root>)~", "A=x;B=x",
             "Root[S[]]", ""},
        Case{"IfNotMatchesNoItem", R"~(<Root><ifnot A="1,2"><S/></ifnot></Root>)~", "A=3",
             "Root[S[]]", ""},
        Case{"IfNotMatchesAnItem", R"~(<Root><ifnot A="1,2"><S/></ifnot></Root>)~", "A=1", "Root[]",
             ""},
        Case{"IfNotWithTwoAttributesIsKept",
             R"~(<Root><ifnot A="1" B="2"><S x="$(A)"/></ifnot></Root>)~", "A=5",
             "Root[ifnot(A=\"1\" B=\"2\")[S(x=\"5\")[]]]", "{DIR}/main.xml:1:7: warning: one condition required for <ifnot>: it has 2 attributes, so it is kept as an ordinary element"},
        Case{"IfWithoutAttributeIsKept", R"~(<Root><if><S/></if></Root>)~", "", "Root[if[S[]]]", "{DIR}/main.xml:1:7: warning: one condition required for <if>: it has 0 attributes, so it is kept as an ordinary element"},
        Case{"IfexTrue", R"~(<Root><ifex expression="$(A) == 3"><S/></ifex></Root>)~", "A=3",
             "Root[S[]]", ""},
        Case{"IfexFalse", R"~(<Root><ifex expression="$(A) == 3"><S/></ifex></Root>)~", "A=4",
             "Root[]", ""},
        Case{"IfexNotACondition", R"~(<Root><ifex expression="1"><S/></ifex></Root>)~", "",
             "Root[]", "{DIR}/main.xml:1:25: warning: cannot evaluate expression=\"1\" of <ifex>: bad expression type at \"1\"; the condition counts as false"},
        Case{"IfexUnknownMacro", R"~(<Root><ifex expression="$(Z) == 1"><S/></ifex></Root>)~", "",
             "Root[]", "{DIR}/main.xml:1:7: warning: $(Z) has no value and no default, so it stays as written; define it in the macro list or with <define>, or give a default as in $(Z:value) | {DIR}/main.xml:1:27: warning: cannot evaluate expression=\"$(Z) == 1\" of <ifex>: Z symbol not found at \"Z) == 1\"; the condition counts as false"},
        Case{"IfexExpandsAgain", R"~(<Root><ifex expression="$$(A) == 3"><S/></ifex></Root>)~",
             "A=3", "Root[S[]]", ""},
        Case{"IfexWithoutExpressionIsKept",
             R"~(<Root><ifex><S/></ifex><ifex expression=""><T/></ifex></Root>)~", "",
             "Root[ifex[S[]] ifex(expression=\"\")[T[]]]", ""},
        Case{
            "IfdefAndIfndef",
            R"~(<Root><ifdef name="A"><S/></ifdef><ifndef name="A"><T/></ifndef><ifdef name="B"><U/></ifdef><ifndef name="B"><V/></ifndef></Root>)~",
            "A=", "Root[S[] V[]]", ""},
        Case{"IfdefWithoutNameLooksUpTheEmptyName",
             R"~(<Root><ifdef><S/></ifdef><ifndef><T/></ifndef></Root>)~", "=x", "Root[S[]]", ""},
        Case{"NestedConditionals",
             R"~(<Root><if A="1"><ifnot B="1"><S/></ifnot><if B="1"><T/></if></if></Root>)~",
             "A=1;B=1", "Root[T[]]", ""},
        Case{"SelectedContentIsProcessedOnce", R"~(<Root><if A="1"><S x="$$(A)"/></if></Root>)~",
             "A=1", "Root[S(x=\"$(A)\")[]]", ""}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Switch, PreprocessCase,
    testing::Values(
        Case{
            "FirstMatchingCase",
            R"~(<Root><switch name="X"><case value="1"><A/></case><case value="2,3"><B/></case><case value="3"><C/></case><default><D/></default></switch></Root>)~",
            "X=3", "Root[B[]]", ""},
        Case{
            "LastDefaultWhenNoCaseMatches",
            R"~(<Root><switch name="X"><default><D1/></default><case value="1"><A/></case><default><D2/></default></switch></Root>)~",
            "X=9", "Root[D2[]]", ""},
        Case{
            "NothingSelectedRemovesSwitch",
            R"~(<Root><switch name="X"><case value="1"><A/></case><other><O/></other></switch><T/></Root>)~",
            "X=9", "Root[T[]]", ""},
        Case{
            "UndefinedNameIsEnteredEmpty",
            R"~(<Root><switch name="X"><case value="1"><A/></case></switch><ifdef name="X"><T/></ifdef></Root>)~",
            "", "Root[T[]]", ""},
        Case{"OtherChildrenAreIgnored",
             R"~(<Root><switch name="X"><S/><case value="a"><A x="$(X)"/></case></switch></Root>)~",
             "X=a", "Root[A(x=\"a\")[]]", ""}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Define, PreprocessCase,
    testing::Values(
        Case{
            "ValueIsVisibleToFollowingSiblings",
            R"~(<Root><S a="$(A)"/><define name="A" value="1"/><T a="$(A)"><U a="$(A)"/></T></Root>)~",
            "", "Root[S(a=\"$(A)\")[] T(a=\"1\")[U(a=\"1\")[]]]", "{DIR}/main.xml:1:7: warning: $(A) has no value and no default, so it stays as written; define it in the macro list or with <define>, or give a default as in $(A:value)"},
        Case{
            "NotVisibleAfterTheContainingIf",
            R"~(<Root><if X="1"><define name="A" value="in"/><S a="$(A)"/></if><T a="$(A)"/></Root>)~",
            "X=1", "Root[S(a=\"in\")[] T(a=\"$(A)\")[]]", "{DIR}/main.xml:1:64: warning: $(A) has no value and no default, so it stays as written; define it in the macro list or with <define>, or give a default as in $(A:value)"},
        Case{"NotVisibleOutsideTheContainingElement",
             R"~(<Root><K><define name="A" value="in"/></K><T a="$(A)"/></Root>)~", "A=out",
             "Root[K[] T(a=\"out\")[]]", ""},
        Case{
            "ValueIsTakenAfterExpansion",
            R"~(<Root><define name="B" value="$(A)x"/><define name="A" value="2"/><S b="$(B)"/></Root>)~",
            "A=1", "Root[S(b=\"1x\")[]]", ""},
        Case{"Expression",
             R"~(<Root><define name="N" expression="$(A) + 1"/><S n="$(N)"/></Root>)~", "A=0x10",
             "Root[S(n=\"17\")[]]", ""},
        Case{
            "ExpressionKeepsLow32Bits",
            R"~(<Root><define name="N" expression="0x100000001"/><define name="M" expression="-1"/><S n="$(N)" m="$(M)"/></Root>)~",
            "", "Root[S(n=\"1\" m=\"4294967295\")[]]", ""},
        Case{
            "HexExpression",
            R"~(<Root><define name="H" hex_expression="0xabcdef * 16"/><define name="Z" hex_expression="0"/><S h="$(H)" z="$(Z)"/></Root>)~",
            "", "Root[S(h=\"0xABCDEF0\" z=\"0x0\")[]]", ""},
        Case{"ValueWinsOverExpression",
             R"~(<Root><define name="N" value="v" expression="1 + 1"/><S n="$(N)"/></Root>)~", "",
             "Root[S(n=\"v\")[]]", ""},
        Case{
            "FailedExpressionStoresNothing",
            R"~(<Root><define name="N" expression="nonsense"/><define name="A" expression="1 / 0"/><S n="$(N)" a="$(A)"/></Root>)~",
            "A=old", "Root[S(n=\"$(N)\" a=\"old\")[]]", "{DIR}/main.xml:1:36: warning: cannot evaluate expression=\"nonsense\" of <define name=\"N\">: nonsense symbol not found at \"nonsense\"; N stays undefined | {DIR}/main.xml:1:78: warning: cannot evaluate expression=\"1 / 0\" of <define name=\"A\">: divide by zero at \"/ 0\"; A stays undefined | {DIR}/main.xml:1:84: warning: $(N) has no value and no default, so it stays as written; define it in the macro list or with <define>, or give a default as in $(N:value)"},
        Case{"MissingName", R"~(<Root><define value="1"/><S/></Root>)~", "", "Root[S[]]", "{DIR}/main.xml:1:7: warning: missing name in <define>: nothing is defined"},
        Case{"MissingValue", R"~(<Root><define name="A"/><S/></Root>)~", "", "Root[S[]]", "{DIR}/main.xml:1:7: warning: missing value or expression in <define name=\"A\">: A stays undefined; give it value=\"...\" or expression=\"...\""},
        Case{"MissingBothWarnsOnce", R"~(<Root><define/><define/></Root>)~", "", "Root[]", "{DIR}/main.xml:1:7: warning: missing name in <define>: nothing is defined | {DIR}/main.xml:1:16: warning: missing name in <define>: nothing is defined"}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    For, PreprocessCase,
    testing::Values(
        Case{
            "LoopVariables",
            R"~(<Root><for index="i" start="0" end="3" incr="1" mul="4"><S n="$(i)" a="$(i_alpha)" h="$(i_hex)" p="$(i_ap)" q="$(i_ap_hex)"/></for></Root>)~",
            "",
            "Root[S(n=\"0\" a=\"A\" h=\"0x0\" p=\"0\" q=\"0x0\")[] "
            "S(n=\"1\" a=\"B\" h=\"0x1\" p=\"4\" q=\"0x4\")[] "
            "S(n=\"2\" a=\"C\" h=\"0x2\" p=\"8\" q=\"0x8\")[]]",
            ""},
        Case{
            "AddStepAndHex",
            R"~(<Root><for index="k" start="10" end="15" incr="2" add="$(B)" mul="16"><S n="$(k)" h="$(k_hex)" p="$(k_ap)" q="$(k_ap_hex)"/></for></Root>)~",
            "B=0x100",
            "Root[S(n=\"10\" h=\"0xA\" p=\"416\" q=\"0x1A0\")[] "
            "S(n=\"12\" h=\"0xC\" p=\"448\" q=\"0x1C0\")[] "
            "S(n=\"14\" h=\"0xE\" p=\"480\" q=\"0x1E0\")[]]",
            ""},
        Case{
            "SubWrapsBelowZero",
            R"~(<Root><for index="i" start="0" end="2" incr="1" sub="1"><S p="$(i_ap)" q="$(i_ap_hex)"/></for></Root>)~",
            "", "Root[S(p=\"4294967295\" q=\"0xFFFFFFFF\")[] S(p=\"0\" q=\"0x0\")[]]", ""},
        Case{
            "AlphaPastZ",
            R"~(<Root><for index="i" start="25" end="27" incr="1"><S a="$(i_alpha)"/></for></Root>)~",
            "", "Root[S(a=\"Z\")[] S(a=\"[\")[]]", ""},
        Case{"StartEqualsEndGivesNothing",
             R"~(<Root><for index="i" start="3" end="3" incr="1"><S/></for><T/></Root>)~", "",
             "Root[T[]]", ""},
        Case{"StartAboveEndGivesNothing",
             R"~(<Root><for index="i" start="4" end="3" incr="1"><S/></for></Root>)~", "", "Root[]",
             ""},
        Case{
            "StopsInsteadOfWrappingAround",
            R"~(<Root><for index="i" start="0xFFFFFFF0" end="0xFFFFFFFF" incr="8"><S h="$(i_hex)"/></for></Root>)~",
            "", "Root[S(h=\"0xFFFFFFF0\")[] S(h=\"0xFFFFFFF8\")[]]", ""},
        Case{"MissingAttribute",
             R"~(<Root><for index="i" start="0" end="3"><S/></for><T/></Root>)~", "", "Root[T[]]", "{DIR}/main.xml:1:7: warning: <for> needs index, start, end and incr and at least one child element, as in <for index=\"i\" start=\"0\" end=\"32\" incr=\"1\">: the loop is dropped"},
        Case{"NoChildren", R"~(<Root><for index="i" start="0" end="3" incr="1"/></Root>)~", "",
             "Root[]", "{DIR}/main.xml:1:7: warning: <for> needs index, start, end and incr and at least one child element, as in <for index=\"i\" start=\"0\" end=\"32\" incr=\"1\">: the loop is dropped"},
        Case{"ZeroStepIsMalformed",
             R"~(<Root><for index="i" start="0" end="3" incr="$(Z)"><S/></for></Root>)~", "Z=0",
             "Root[]", "{DIR}/main.xml:1:7: warning: <for> with a step (incr) of 0 would never end: the loop is dropped"},
        Case{"UnevaluableStepCountsAsZero",
             R"~(<Root><for index="i" start="0" end="3" incr="step"><S/></for></Root>)~", "",
             "Root[]", "{DIR}/main.xml:1:46: warning: cannot evaluate incr=\"step\" of <for>: step symbol not found at \"step\"; it counts as 0 | {DIR}/main.xml:1:7: warning: <for> with a step (incr) of 0 would never end: the loop is dropped"},
        Case{"UnevaluableBoundsCountAsZero",
             R"~(<Root><for index="i" start="x" end="2" incr="1"><S n="$(i)"/></for></Root>)~", "",
             "Root[S(n=\"0\")[] S(n=\"1\")[]]", "{DIR}/main.xml:1:29: warning: cannot evaluate start=\"x\" of <for>: x symbol not found at \"x\"; it counts as 0"},
        Case{
            "CopiesAreThenProcessedWithTheEnclosingTable",
            R"~(<Root><for index="i" start="0" end="2" incr="1"><S i="$(i)" a="$(A)" j="$(j)" d="$$$$(A)"><T i="$(i)"/></S></for></Root>)~",
            "A=a",
            "Root[S(i=\"0\" a=\"a\" j=\"$(j)\" d=\"$(A)\")[T(i=\"0\")[]] "
            "S(i=\"1\" a=\"a\" j=\"$(j)\" d=\"$(A)\")[T(i=\"1\")[]]]", "{DIR}/main.xml:1:49: warning: $(j) has no value and no default, so it stays as written; define it in the macro list or with <define>, or give a default as in $(j:value) | {DIR}/main.xml:1:7: note: in a copy made by <for>"},
        Case{
            "DirectivesInCopiesAffectFollowingSiblings",
            R"~(<Root><for index="i" start="0" end="3" incr="1"><define name="Last" value="$(i)"/><if I="$(i)"><S/></if></for><T last="$(Last)"/></Root>)~",
            "I=1", "Root[S[] T(last=\"2\")[]]", ""},
        Case{
            "NestedLoops",
            R"~(<Root><for index="i" start="0" end="3" incr="1"><for index="j" start="0" end="$(i)" incr="1"><S v="$(i)$(j)"/></for></for></Root>)~",
            "", "Root[S(v=\"10\")[] S(v=\"20\")[] S(v=\"21\")[]]", ""},
        Case{
            "LoopInsideSelectedContent",
            R"~(<Root><if A="1"><for index="i" start="0" end="2" incr="1"><S n="$(i)"/></for></if><T/></Root>)~",
            "A=1", "Root[S(n=\"0\")[] S(n=\"1\")[] T[]]", ""}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Foreach, PreprocessCase,
    testing::Values(
        Case{"FirstAttributeVariesSlowest",
             R"~(<Root><foreach a="1,2" b="x,y"><S v="$(a)/$(b)"/></foreach><T/></Root>)~", "",
             "Root[S(v=\"1/x\")[] S(v=\"1/y\")[] S(v=\"2/x\")[] S(v=\"2/y\")[] T[]]", ""},
        Case{"NewlinesAndEmptyItemsDropped",
             "<Root><foreach a=\",1,\n,2,\"><S v=\"$(a)\"/></foreach></Root>", "",
             "Root[S(v=\"1\")[] S(v=\"2\")[]]", ""},
        Case{"ValuesExpandedBeforeSplitting",
             R"~(<Root><foreach a="$(L)"><S v="$(a)"/></foreach></Root>)~", "L=p\\,q",
             "Root[S(v=\"p\")[] S(v=\"q\")[]]", ""},
        Case{"AttributeWithoutValuesGivesNothing",
             R"~(<Root><foreach a="1,2" b=""><S/></foreach></Root>)~", "", "Root[]", ""},
        Case{"NoAttributesGiveOneCopy", R"~(<Root><foreach><S v="$(a)"/></foreach></Root>)~", "",
             "Root[S(v=\"$(a)\")[]]", "{DIR}/main.xml:1:16: warning: $(a) has no value and no default, so it stays as written; define it in the macro list or with <define>, or give a default as in $(a:value) | {DIR}/main.xml:1:7: note: in a copy made by <foreach>"}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Fragments, PreprocessCase,
    testing::Values(
        Case{
            "PutExpandsWithTheCurrentTable",
            R"~(<Root><xmldef name="F"><S a="$(X)"/><T/></xmldef><K/><define name="X" value="2"/><xmlput name="F"/><xmlput name="F"/></Root>)~",
            "X=1", "Root[K[] S(a=\"2\")[] T[] S(a=\"2\")[] T[]]", ""},
        Case{
            "PutWithMacros",
            R"~(<Root><xmldef name="F"><S a="$(X)" b="$(Y)"/></xmldef><xmlput name="F" macros="X=2;&#10;Y=3"/><T a="$(X)"/></Root>)~",
            "X=1", "Root[S(a=\"2\" b=\"3\")[] T(a=\"1\")[]]", ""},
        Case{"UnknownNameIsKept", R"~(<Root><xmlput name="G"><S/></xmlput></Root>)~", "",
             "Root[xmlput(name=\"G\")[S[]]]", "{DIR}/main.xml:1:7: warning: <xmlput> cannot find an <xmldef> named \"G\": it is kept as an ordinary element"},
        Case{"MissingNamesAreKept", R"~(<Root><xmldef><S/></xmldef><xmlput/></Root>)~", "",
             "Root[xmldef[S[]] xmlput[]]", ""},
        Case{
            "LaterDefinitionReplaces",
            R"~(<Root><xmldef name="F"><A/></xmldef><xmlput name="F"/><xmldef name="F"><B/></xmldef><xmlput name="F"/></Root>)~",
            "", "Root[A[] B[]]", ""},
        Case{
            "UsedInsideLoop",
            R"~(<Root><xmldef name="F"><S v="$(V)"/></xmldef><for index="i" start="0" end="2" incr="1"><xmlput name="F" macros="V=$(i)"/></for></Root>)~",
            "", "Root[S(v=\"0\")[] S(v=\"1\")[]]", ""},
        Case{
            "DefinedInsideLoopLastWins",
            R"~(<Root><for index="i" start="0" end="3" incr="1"><xmldef name="F"><S v="$(i)"/></xmldef></for><xmlput name="F"/></Root>)~",
            "", "Root[S(v=\"2\")[]]", ""}),
    caseName);

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

INSTANTIATE_TEST_SUITE_P(
    Include, PreprocessCase,
    testing::Values(
        Case{"ReplacesTheElement", R"~(<Root><K/><include filename="sub.xml"/><T/></Root>)~", "A=1",
             "Root[K[] Sub(a=\"1\" v=\"$(V)\")[S(w=\"$(V)\" x=\"1\")[]] T[]]", "{DIR}/sub.xml:1:24: warning: $(V) has no value and no default, so it stays as written; define it in the macro list or with <define>, or give a default as in $(V:value) | {DIR}/main.xml:1:11: note: in file included from {DIR}/main.xml:1", subFiles()},
        Case{"WithMacros",
             R"~(<Root><include filename="sub.xml" macros="V=7;A=2"/><T v="$(V)"/></Root>)~", "A=1",
             "Root[Sub(a=\"2\" v=\"7\")[S(w=\"7\" x=\"2\")[]] T(v=\"$(V)\")[]]", "{DIR}/main.xml:1:53: warning: $(V) has no value and no default, so it stays as written; define it in the macro list or with <define>, or give a default as in $(V:value)", subFiles()},
        Case{"EnvelopeLeavesOnlyItsChildren", R"~(<Root><include filename="env.xml"/><T/></Root>)~",
             "A=1", "Root[E1[] E2(a=\"1\")[] T[]]", "", subFiles()},
        Case{"NoRootLeavesOnlyTheChildren",
             R"~(<Root><include filename="sub.xml" no_root=""/></Root>)~", "A=1",
             "Root[S(w=\"$(V)\" x=\"1\")[]]", "{DIR}/sub.xml:1:24: warning: $(V) has no value and no default, so it stays as written; define it in the macro list or with <define>, or give a default as in $(V:value) | {DIR}/main.xml:1:7: note: in file included from {DIR}/main.xml:1", subFiles()},
        Case{"RelativeToTheIncludingFile", R"~(<Root><include filename="d/a.xml"/></Root>)~", "",
             "Root[DA[DB[]]]", "", subFiles()},
        Case{"FileNameUsesLocalAndBuiltinMacros",
             R"~(<Root><include filename="$(F).xml"/><include filename="$(HostOS).xml"/></Root>)~",
             "F=d/b", "Root[DB[] Linux[]]", "", subFiles()},
        Case{
            "InheritAttributes",
            R"~(<Root><include filename="sub.xml" inherit_attributes="a;;b;missing" a="new" b="$(A)"/></Root>)~",
            "A=1", "Root[Sub(a=\"new\" v=\"$(V)\" b=\"1\")[S(w=\"$(V)\" x=\"1\")[]]]", "{DIR}/sub.xml:1:24: warning: $(V) has no value and no default, so it stays as written; define it in the macro list or with <define>, or give a default as in $(V:value) | {DIR}/main.xml:1:7: note: in file included from {DIR}/main.xml:1",
            subFiles()},
        Case{"IncludedRootIsNotADirective", R"~(<Root><include filename="rootif.xml"/></Root>)~",
             "", "Root[if(A=\"no\")[S[]]]", "", subFiles()},
        Case{"UnreadableFileIsKept",
             R"~(<Root><include filename="missing.xml"><K a="$(A)"/></include></Root>)~", "A=1",
             "Root[include(filename=\"missing.xml\")[K(a=\"1\")[]]]", "{DIR}/main.xml:1:7: warning: cannot read include file \"{DIR}/missing.xml\": No such file or directory", subFiles()},
        Case{"UnreadableFileWithNoRootGivesItsChildren",
             R"~(<Root><include filename="missing.xml" no_root=""><K a="$(A)"/></include></Root>)~",
             "A=1", "Root[K(a=\"1\")[]]", "{DIR}/main.xml:1:7: warning: cannot read include file \"{DIR}/missing.xml\": No such file or directory", subFiles()},
        Case{"ParseErrorWithoutRootIsEmpty",
             R"~(<Root><include filename="mismatch.xml" no_root=""/></Root>)~", "", "Root[]", "{DIR}/mismatch.xml:3:1: warning: end tag </C> does not match <B>, which starts at line 2 | {DIR}/mismatch.xml:2:1: note: <B> starts here | {DIR}/main.xml:1:7: note: in file included from {DIR}/main.xml:1",
             subFiles()},
        Case{"ParseErrorAfterARootReportsTheReader",
             R"~(<Root><include filename="badattr.xml"/></Root>)~", "",
             "Root[include(filename=\"badattr.xml\")[]]", "{DIR}/badattr.xml:2:4: warning: unexpected '9' in the start tag <B>: an attribute name must start with a letter, '_', ':' or '-' | {DIR}/main.xml:1:7: note: in file included from {DIR}/main.xml:1",
             subFiles()},
        Case{"EmptyFileIsKeptEvenWithNoRoot",
             R"~(<Root><include filename="empty.xml" no_root=""><K/></include></Root>)~", "",
             "Root[include(filename=\"empty.xml\" no_root=\"\")[K[]]]", "{DIR}/empty.xml: warning: the file holds no element | {DIR}/main.xml:1:7: note: in file included from {DIR}/main.xml:1",
             subFiles()},
        Case{"MissingFilename", R"~(<Root><include><K/></include></Root>)~", "",
             "Root[include[K[]]]", "{DIR}/main.xml:1:7: warning: missing filename in <include>: it is kept as an ordinary element"},
        Case{"IncludeOfItselfIsRefused", R"~(<Root><include filename="main.xml"/></Root>)~", "",
             "Root[include(filename=\"main.xml\")[]]", "{DIR}/main.xml:1:7: warning: include file \"{DIR}/main.xml\" not read: included again while it is being included"},
        Case{"CycleThroughAnotherFileIsRefused",
             R"~(<Root><include filename="c1.xml"/><include filename="c2.xml"/></Root>)~", "",
             "Root[C1[C2[include(filename=\"c1.xml\")[]]] C2[C1[include(filename=\"c2.xml\")[]]]]", "{DIR}/c2.xml:1:5: warning: include file \"{DIR}/c1.xml\" not read: included again while it is being included | {DIR}/c1.xml:1:5: note: in file included from {DIR}/c1.xml:1 | {DIR}/main.xml:1:7: note: in file included from {DIR}/main.xml:1 | {DIR}/c1.xml:1:5: warning: include file \"{DIR}/c2.xml\" not read: included again while it is being included | {DIR}/c2.xml:1:5: note: in file included from {DIR}/c2.xml:1 | {DIR}/main.xml:1:35: note: in file included from {DIR}/main.xml:1",
             Files{{"c1.xml", R"~(<C1><include filename="c2.xml"/></C1>)~"},
                   {"c2.xml", R"~(<C2><include filename="c1.xml"/></C2>)~"}}},
        Case{"SameFileTwiceSideBySide",
             R"~(<Root><include filename="d/b.xml"/><include filename="d/b.xml"/></Root>)~", "",
             "Root[DB[] DB[]]", "", subFiles()}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Root, PreprocessCase,
    testing::Values(
        Case{"SelectedSingleElementBecomesTheRoot", R"~(<if A="1"><Root a="$(A)"/></if>)~", "A=1",
             "Root(a=\"1\")[]", ""},
        Case{"IncludeAtTheRoot", R"~(<include filename="d/b.xml"/>)~", "", "DB[]", "", subFiles()},
        Case{"MalformedDirectiveAtTheRootIsKept", R"~(<ifnot A="1" B="2"><Root/></ifnot>)~", "",
             "ifnot(A=\"1\" B=\"2\")[Root[]]", "{DIR}/main.xml:1:1: warning: one condition required for <ifnot>: it has 2 attributes, so it is kept as an ordinary element"},
        Case{"LoopAtTheRootWithOneCopy",
             R"~(<for index="i" start="0" end="1" incr="1"><Root n="$(i)"/></for>)~", "",
             "Root(n=\"0\")[]", ""}),
    caseName);

struct FailCase {
  const char* name;
  const char* xml;
  const char* warnings;
};

class RootFailure : public Preprocessor, public testing::WithParamInterface<FailCase> {};

TEST_P(RootFailure, FailsTheLoadAndLeavesNoRoot) {
  TestDocument document;
  const Outcome outcome = run(document, GetParam().xml, "A=2", subFiles());
  EXPECT_FALSE(outcome.ok);
  EXPECT_EQ(outcome.tree, "null");
  EXPECT_EQ(outcome.warnings, GetParam().warnings);
}

INSTANTIATE_TEST_SUITE_P(
    Root, RootFailure,
    testing::Values(
        FailCase{"FalseConditionRemovesTheRoot", R"~(<if A="1"><Root/></if>)~", "{DIR}/main.xml:1:1: error: preprocessing left no root element"},
        FailCase{"DefineAtTheRoot", R"~(<define name="A" value="1"/>)~", "{DIR}/main.xml:1:1: error: preprocessing left no root element"},
        FailCase{"FragmentAtTheRoot", R"~(<xmldef name="F"><Root/></xmldef>)~", "{DIR}/main.xml:1:1: error: preprocessing left no root element"},
        FailCase{"SelectionWithTwoElements", R"~(<if A="2"><R1/><R2/></if>)~", "{DIR}/main.xml:1:16: error: preprocessing turned the root element into 2 elements"},
        FailCase{"EnvelopeWithTwoElements", R"~(<include filename="env.xml"/>)~", "{DIR}/env.xml:1:16: error: preprocessing turned the root element into 2 elements | {DIR}/main.xml:1:1: note: in file included from {DIR}/main.xml:1"}),
    [](const testing::TestParamInfo<FailCase>& info) { return std::string(info.param.name); });

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

TEST_F(Preprocessor, StartsAtTheGivenNodeOfATree) {
  TestDocument document;
  ASSERT_TRUE(document.parse(R"~(<Root><if A="1"><S/></if><if A="1"><T/></if></Root>)~"));
  XMLNode* second = document.root()->firstChild()->nextSibling();
  EXPECT_TRUE(
      document.processConditionals(second, QString(), parseMacroList(QStringLiteral("A=1")), true));
  EXPECT_EQ(treeText(document.root()), "Root[if(A=\"1\")[S[]] T[]]");
  EXPECT_TRUE(document.processConditionals(nullptr, QString(), {}, true));
}

TEST_F(Preprocessor, DetachedNodeIsRefused) {
  TestDocument document;
  XMLElement detached{std::string("if")};
  EXPECT_FALSE(document.processConditionals(&detached, QString(), {}, true));
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

TEST_F(Preprocessor, NestingCountsFromTheGivenNode) {
  // The given node is level 0; its deepest descendant here is level 19.
  const std::string xml = "<Root>" + nested(20) + "</Root>";
  for (int limit : {18, 19}) {
    TestDocument document;
    ASSERT_TRUE(document.parse(xml.c_str()));
    document.limits.maxNesting = limit;
    EXPECT_EQ(document.processConditionals(document.root()->firstChild(), QString(), {}, true),
              limit == 19);
  }
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
