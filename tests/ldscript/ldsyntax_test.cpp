#include "ldscript/ldsyntax.h"

#include <gtest/gtest.h>

#include "support/casefile.h"

namespace {

// A case's text in its context ("size", "start", "fill" or "keep"), read as
// the script holds it: "none", or "OFFSET: MESSAGE" of the fault; or, in
// the context "takes NAME", whether the input list takes NAME: "taken" or
// "not taken".
std::string verdict(const TestCase& c) {
  const std::string text = c.get("text");
  const std::string context = c.get("context", "size");
  if (context.rfind("takes ", 0) == 0)
    return listTakes(text, context.substr(6)) ? "taken" : "not taken";
  std::optional<LdFault> fault;
  if (context == "keep")
    fault = checkKeptInputSections(text);
  else
    fault = checkLdExpression(text, context == "start" ? LdContext::SectionAddress : LdContext::Assignment);
  return fault ? std::to_string(fault->offset) + ": " + fault->message : "none";
}

class LdSyntax : public testing::TestWithParam<TestCase> {};

TEST_P(LdSyntax, Verdict) {
  const TestCase& c = GetParam();
  EXPECT_EQ(verdict(c), c.get("fault", c.get("result"))) << c.get("text");
}

INSTANTIATE_TEST_SUITE_P(Table, LdSyntax,
                         testing::ValuesIn(readCases(MKLD_TEST_DATA_DIR "/ldscript/ldsyntax_cases.txt")),
                         CaseName());

}  // namespace
