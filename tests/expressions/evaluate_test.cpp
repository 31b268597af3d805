#include "expressions/evaluate.h"

#include <gtest/gtest.h>

#include <QString>
#include <cstdio>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "support/casefile.h"

namespace {

// What the three entry points make of `text`, in one line: "true"/"false"
// for a condition; the signed result for a number, followed by " bits 0x..."
// when the unsigned result is not the same bits (floating point, a one-byte
// value), then " unread from N" when text after the expression was not
// read; otherwise "OFFSET: MESSAGE". A condition must not be a number and
// a number must not be a condition.
std::string result(const std::string& bytes) {
  const QString text = fromBytes(bytes);
  // Attribute texts are evaluated from their bytes, plain numbers without
  // the lexer: both readings must agree.
  const Evaluation<uint64_t> unsignedValue = evaluateUnsigned(text);
  const Evaluation<uint64_t> ofBytes = evaluateUnsigned(std::string_view(bytes));
  EXPECT_EQ(ofBytes.value, unsignedValue.value) << bytes;
  EXPECT_EQ(ofBytes.unread, unsignedValue.unread) << bytes;
  const qsizetype unread = unsignedValue.unread;
  const Evaluation<bool> condition = evaluateBool(text);
  if (condition)
    return std::string(*condition ? "true" : "false") + (unsignedValue ? " and a number" : "");
  const std::string asCondition =
      std::to_string(condition.error.offset) + ": " + toStdBytes(condition.error.message);
  const Evaluation<int64_t> signedValue = evaluateInt(text);
  const EvaluationError& error = signedValue.error;
  if (!signedValue)
    return unsignedValue ? "unsigned only" : std::to_string(error.offset) + ": " + toStdBytes(error.message);
  std::string out = std::to_string(*signedValue);
  if (!unsignedValue)
    return out + " but no unsigned value";
  if (*unsignedValue != static_cast<uint64_t>(*signedValue)) {
    char bits[32];
    std::snprintf(bits, sizeof bits, " bits 0x%llx", static_cast<unsigned long long>(*unsignedValue));
    out += bits;
  }
  if (unread >= 0)
    out += " unread from " + std::to_string(unread);
  return asCondition == "0: bad expression type" ? out : out + " and a condition";
}

class Evaluate : public testing::TestWithParam<TestCase> {};

TEST_P(Evaluate, Result) {
  EXPECT_EQ(result(GetParam().get("text")), GetParam().get("result")) << GetParam().get("text");
}

INSTANTIATE_TEST_SUITE_P(Table, Evaluate,
                         testing::ValuesIn(readCases(MKLD_TEST_DATA_DIR "/expressions/evaluate_cases.txt")),
                         CaseName());

std::string infinity() { return std::string(400, '9') + ".0"; }

TEST(Evaluate, NonFiniteFloatingPointResults) {
  EXPECT_EQ(result(infinity()), "9223372036854775807 bits 0x7ff0000000000000");
  EXPECT_EQ(result("0 - " + infinity()), "-9223372036854775808 bits 0xfff0000000000000");
  // NaN, whose sign bit the processor chooses.
  EXPECT_EQ(evaluateInt(fromBytes(infinity() + " - " + infinity())).value, 0);
  EXPECT_EQ(evaluateInt(fromBytes(infinity() + " * 0.0")).value, 0);
}

// Every single character but a digit is an empty text, an unrecognised
// token, a name or an operator without operand.
TEST(Evaluate, OnlyADigitAloneIsANumber) {
  for (int c = 0; c < 256; ++c) {
    const bool digit = c >= '0' && c <= '9';
    EXPECT_EQ(evaluateUnsigned(QString(QChar(c))).value, digit ? std::optional<uint64_t>(c - '0') : std::nullopt)
        << "character " << c;
  }
}

TEST(Evaluate, NestingIsBounded) {
  const size_t n = kMaxExpressionNesting;
  const std::string open(n, '(');
  const std::string close(n, ')');
  EXPECT_EQ(result(open + "1" + close), "1");
  EXPECT_EQ(result("(" + open + "1" + close + ")"), "257: expression nested too deeply");
  std::string minuses;
  for (size_t i = 0; i < n; ++i)
    minuses += "- ";
  EXPECT_EQ(result(minuses + "1"), "1");
  EXPECT_EQ(result(std::string(n + 1, '~') + "1"), "257: expression nested too deeply");
  EXPECT_EQ(result(std::string(100000, '(')), "257: expression nested too deeply");
  EXPECT_EQ(result(std::string(100000, '!') + "0"), "257: expression nested too deeply");
  std::string mixed;
  for (int i = 0; i < 100000; ++i)
    mixed += "sizeof(-f(*";
  EXPECT_EQ(result(mixed), "711: expression nested too deeply");
}

TEST(Evaluate, LongChainsNeedNoDeepStack) {
  std::string sum = "1";
  std::string mixed = "0";
  for (int i = 1; i < 200000; ++i) {
    sum += "+1";
    mixed += i % 2 ? "+3" : "-1";
  }
  EXPECT_EQ(result(sum), "200000");
  EXPECT_EQ(result(mixed), "200001");
  std::string compare = "1 == 1";
  for (int i = 0; i < 100000; ++i)
    compare += " && (1 < 2)";
  EXPECT_EQ(result(compare), "true");
}

// Whatever the bytes, evaluation ends in a value or in one of the
// evaluator's own messages, stopped inside the text or at its end.
TEST(Evaluate, AnyBytesGiveAValueOrAKnownMessage) {
  const std::set<std::string> messages = {
      "operator not supported", "cannot cast", "expression expected",
      "cannot dereference", "addressof not implemented", "function calling not implemented",
      "cannot determine sizeof of a constant", "sizeof(typename) not implemented",
      "divide by zero", "modulo by zero", "integer overflow",
      "unsupported binary numeric operation", "integer shift value expected",
      "can only shift numeric values", "unsupported comparison operation", "bad expression type",
      "unsupported unary num operation", "')' expected", "expression nested too deeply"};
  const std::string common = "0123456789xbULul.\"()+-*/%<>=!&|^~?,:@$_ \tazAZ";
  std::mt19937 random(2024);
  std::uniform_int_distribution<int> anyByte(0, 255);
  std::uniform_int_distribution<size_t> pickCommon(0, common.size() - 1);
  std::uniform_int_distribution<int> length(0, 40);
  for (int i = 0; i < 20000; ++i) {
    std::string bytes;
    for (int n = length(random); n > 0; --n)
      bytes += anyByte(random) < 16 ? static_cast<char>(anyByte(random)) : common[pickCommon(random)];
    const QString text = fromBytes(bytes);
    const Evaluation<int64_t> value = evaluateInt(text);
    if (value)
      continue;
    const EvaluationError& error = value.error;
    const std::string message = toStdBytes(error.message);
    const bool known = messages.count(message) > 0 ||
                       message.rfind("unrecognised token: ", 0) == 0 ||
                       (message.size() > 17 &&
                        message.compare(message.size() - 17, 17, " symbol not found") == 0);
    ASSERT_TRUE(known) << "text: " << bytes << "\nmessage: " << message;
    ASSERT_TRUE(error.offset >= 0 && error.offset <= text.size()) << "text: " << bytes;
  }
}

}  // namespace
