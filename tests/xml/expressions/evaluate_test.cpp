#include "xml/expressions/evaluate.h"

#include <gtest/gtest.h>

#include <QString>
#include <cstdio>
#include <optional>
#include <random>
#include <set>
#include <string>

#include "base/bytes.h"

namespace {

// What the three entry points make of `text`, in one line: "true"/"false"
// for a condition; the signed result for a number, followed by " bits 0x..."
// when the unsigned result is not the same bits (floating point, a one-byte
// value); otherwise "OFFSET: MESSAGE". A condition must not be a number and
// a number must not be a condition.
std::string result(const std::string& bytes) {
  const QString text = fromBytes(bytes);
  EvaluationError error;
  if (const std::optional<bool> condition = evaluateBool(text, &error))
    return std::string(*condition ? "true" : "false") + (evaluateUnsigned(text) ? " and a number" : "");
  const std::string asCondition = std::to_string(error.offset) + ": " + toStdBytes(error.message);
  const std::optional<int64_t> signedValue = evaluateInt(text, &error);
  const std::optional<uint64_t> unsignedValue = evaluateUnsigned(text);
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
  return asCondition == "0: bad expression type" ? out : out + " and a condition";
}

struct Case {
  const char* text;
  const char* expected;
};

class Evaluate : public testing::TestWithParam<Case> {};

TEST_P(Evaluate, Result) { EXPECT_EQ(result(GetParam().text), GetParam().expected) << GetParam().text; }

// All binary operators go left; = binds tighter than the compound
// assignments. Where no value tells the shape apart, the offset of the
// failing operator does.
INSTANTIATE_TEST_SUITE_P(
    Precedence, Evaluate,
    testing::Values(Case{"2 + 3 * 4", "14"}, Case{"2 * 3 + 4", "10"}, Case{"10 - 2 - 3", "5"},
                    Case{"8 / 4 / 2", "1"}, Case{"7 % 3 * 2", "2"}, Case{"1 << 2 + 3", "32"},
                    Case{"1 << 2 >> 3", "0"}, Case{"1 < 2 == 3 > 4", "false"},
                    Case{"1 <= 2 != 3 >= 4", "true"}, Case{"1 == 2 & 3", "false"},
                    Case{"1 | 2 ^ 3 & 4", "3"}, Case{"1 & 2 ^ 3 | 4", "7"},
                    Case{"1 || 2 && 3 | 4", "1"}, Case{"0 && 2 || 3 && 4", "1"},
                    Case{"1 = 2 || 3", "2: bad expression type"}, Case{"1 = 2 += 3", "2: bad expression type"}, Case{"1 += 2 = 3", "7: bad expression type"},
                    Case{"1 = 2 = 3", "2: bad expression type"}, Case{"1 *= 2 /= 3 %= 4 -= 5", "2: bad expression type"},
                    Case{"1 <<= 2 >>= 3 ^= 4 &= 5 |= 6", "2: bad expression type"}, Case{"(1 + 2) * 3", "9"},
                    Case{"((((1))))", "1"}, Case{"-1 - -1", "0"}, Case{"- 2 * 3", "-6"},
                    Case{"0x20000000 + 0x4000", "536887296"}, Case{"(64 * 1024) - 0x400", "64512"}));

INSTANTIATE_TEST_SUITE_P(
    Literals, Evaluate,
    testing::Values(Case{"0x10", "16"}, Case{"010", "8"}, Case{"0b101", "5"}, Case{"1000UL", "1000"},
                    Case{"0xFFul", "255"}, Case{"0", "0"}, Case{"0x", "0"}, Case{"0b", "0"},
                    Case{"1.5", "1 bits 0x3ff8000000000000"}, Case{"2.0", "2 bits 0x4000000000000000"}, Case{"0.1", "0 bits 0x3fb999999999999a"}, Case{"\"text\"", "0: bad expression type"},
                    Case{"\"\"", "0: bad expression type"}, Case{"18446744073709551615", "-1"},
                    Case{"0xffffffffffffffff", "-1"}, Case{"18446744073709551616", "0"},
                    Case{"000000000000000000000000000000000000000000000000000000000000000000000000"
                         "000000000000000000000000000000000000000000000000000000000000000000000000"
                         "000000000000000000000000000000000000000000000000000000000000000000000001.5", "1 bits 0x3ff8000000000000"},
                    Case{"0.00000000000000000000000000000000000000000000000000000000000000000000"
                         "00000000000000000000000000000000000000000000000000000000000000000000"
                         "00000000000000000000000000000000000000000000000000000000000000000000"
                         "00000000000000000000000000000000000000000000000000000000000000000000"
                         "00000000000000000000000000000000000000000000000000000000000000000001", "0"}));

// Tokens after the expression are ignored: a size suffix is too.
INSTANTIATE_TEST_SUITE_P(
    LeftoverTokens, Evaluate,
    testing::Values(Case{"", "0: expression expected"}, Case{" \t\n", "3: expression expected"}, Case{"16K", "16"}, Case{"0X10", "0"},
                    Case{"0b2", "0"}, Case{"1 2", "1"}, Case{"1 )", "1"}, Case{"1 ;", "1"},
                    Case{"1 + 2 3 #", "3"},
                    // ++, -- and -> are tokens of their own, never two operators.
                    Case{"1--2", "1"}, Case{"1++2", "1"}, Case{"1->2", "1"}, Case{"1 - -2", "3"},
                    Case{"5 @r0", "5"}, Case{"1 # 2", "2: unrecognised token: # 2"}));

INSTANTIATE_TEST_SUITE_P(
    SyntaxErrors, Evaluate,
    testing::Values(Case{"#", "0: unrecognised token: #"}, Case{"1 + \"abc", "4: unrecognised token: \"abc"}, Case{"1 + 'a'", "4: unrecognised token: 'a'"},
                    Case{"1 >>> 2", "2: operator not supported"}, Case{"1 >>>= 2", "2: operator not supported"}, Case{"1 ? 2 : 3", "2: operator not supported"},
                    Case{"1, 2", "1: operator not supported"}, Case{"(1, 2)", "2: operator not supported"}, Case{")", "0: expression expected"}, Case{"1 +", "3: expression expected"},
                    Case{"()", "1: expression expected"}, Case{"@r0", "0: expression expected"}, Case{".5", "0: expression expected"}, Case{"[1]", "0: expression expected"},
                    Case{"&&1", "0: expression expected"}, Case{"a::1", "3: expression expected"}, Case{"(1", "2: ')' expected"}, Case{"(1 2)", "3: ')' expected"},
                    Case{"(1 + 2 3", "7: ')' expected"}, Case{"f(1", "3: ')' expected"}, Case{"f(1;", "3: ')' expected"}));

// Names, calls, casts, sizeof and memory fail while parsing, before
// anything is evaluated; their operands are evaluated first.
INSTANTIATE_TEST_SUITE_P(
    NamesTypesAndMemory, Evaluate,
    testing::Values(Case{"FOO", "0: FOO symbol not found"}, Case{"0x10 + FLASH", "7: FLASH symbol not found"},
                    // A macro left unexpanded reads as a call of the function "$".
                    Case{"1 + $(BASE)", "6: BASE symbol not found"}, Case{"$()", "0: function calling not implemented"}, Case{"a::b::c", "0: a::b::c symbol not found"},
                    Case{"1 + a::b", "4: a::b symbol not found"}, Case{"::x", "0: ::x symbol not found"}, Case{"int", "0: int symbol not found"}, Case{"f()", "0: function calling not implemented"},
                    Case{"f(1, 2 + 3)", "0: function calling not implemented"}, Case{"f(x)", "2: x symbol not found"}, Case{"f(1 / 0, x)", "4: divide by zero"},
                    Case{"(int)1", "0: cannot cast"}, Case{"2 + (int)1", "4: cannot cast"}, Case{"(unsigned long *) 0x1000", "0: cannot cast"},
                    Case{"(int)(1 / 0)", "8: divide by zero"}, Case{"(int)", "5: expression expected"}, Case{"(int x)1", "5: ')' expected"},
                    Case{"*0x1000", "0: cannot dereference"}, Case{" *4", "1: cannot dereference"}, Case{"*x", "1: x symbol not found"}, Case{" *(1 / 0)", "5: divide by zero"},
                    Case{"sizeof 1", "0: cannot determine sizeof of a constant"}, Case{"sizeof(1 + 2)", "0: cannot determine sizeof of a constant"}, Case{"sizeof(x)", "7: x symbol not found"},
                    Case{"sizeof(1 / 0)", "9: divide by zero"}, Case{"1 + sizeof(int)", "4: sizeof(typename) not implemented"},
                    Case{"sizeof(unsigned char*)", "0: sizeof(typename) not implemented"}, Case{"sizeof(int x)", "11: ')' expected"},
                    Case{"sizeof", "6: expression expected"}, Case{"&1", "0: addressof not implemented"}, Case{"1 + &2", "4: addressof not implemented"},
                    Case{"addressof 1", "0: addressof not implemented"}, Case{"addressof(1 + 2)", "0: addressof not implemented"}, Case{"&(1 / 0)", "4: divide by zero"},
                    Case{"1 / 0 + x", "8: x symbol not found"}));

INSTANTIATE_TEST_SUITE_P(
    Arithmetic, Evaluate,
    testing::Values(Case{"1 + 2", "3"}, Case{"7 - 10", "-3"}, Case{"0x7fffffffffffffff + 1", "-9223372036854775808"},
                    Case{"1 + 1.5", "2 bits 0x4004000000000000"}, Case{"1.5 - 2.25", "0 bits 0xbfe8000000000000"}, Case{"3 * 4", "12"},
                    Case{"7 / 2", "3"}, Case{"-7 / 2", "-3"}, Case{"7 % 3", "1"}, Case{"-7 % 2", "-1"},
                    Case{"7 % -2", "1"}, Case{"5 / 2.0", "2 bits 0x4004000000000000"}, Case{"1.5 * 2", "3 bits 0x4008000000000000"},
                    Case{"\"a\" + 1", "4: unsupported binary numeric operation"}, Case{"1 + \"a\"", "2: unsupported binary numeric operation"}, Case{"\"a\" + 1.5", "4: unsupported binary numeric operation"},
                    Case{"2 * 4 / 0", "6: divide by zero"}, Case{"4 / 0.0", "2: divide by zero"}, Case{"1.5 / 0", "4: divide by zero"},
                    // A zero divisor is found before the kinds are checked.
                    Case{"\"a\" / 0", "4: divide by zero"}, Case{"\"a\" / 2", "4: unsupported binary numeric operation"}, Case{"1 + 5 % 0", "6: modulo by zero"},
                    Case{"(-9223372036854775807 - 1) / -1", "27: integer overflow"},
                    Case{"(-9223372036854775807 - 1) % -1", "27: integer overflow"},
                    Case{"(-9223372036854775807 - 1) / 1", "-9223372036854775808"}, Case{"7.0 % 2", "4: unsupported binary numeric operation"},
                    Case{"7 % 2.0", "2: unsupported binary numeric operation"}, Case{"\"a\" % 0", "4: unsupported binary numeric operation"}, Case{"\"a\" * 2", "4: unsupported binary numeric operation"}));

INSTANTIATE_TEST_SUITE_P(
    BitwiseAndLogical, Evaluate,
    testing::Values(Case{"12 & 10", "8"}, Case{"12 ^ 10", "6"}, Case{"12 | 10", "14"},
                    Case{"1.0 & 1", "4: unsupported binary numeric operation"}, Case{"1 | 1.0", "2: unsupported binary numeric operation"}, Case{"\"a\" ^ 1", "4: unsupported binary numeric operation"},
                    Case{"1 == 1 && 2 == 2", "true"}, Case{"1 == 1 && 2 == 3", "false"},
                    Case{"1 == 2 || 2 == 2", "true"}, Case{"1 == 2 || 2 == 3", "false"},
                    Case{"2 && 3", "1"}, Case{"2 && 0", "0"}, Case{"0 || 0", "0"},
                    Case{"1.0 && 1", "4: unsupported binary numeric operation"}, Case{"1 || 1.0", "2: unsupported binary numeric operation"}, Case{"1 && \"a\"", "2: unsupported binary numeric operation"},
                    // Both operands are always evaluated.
                    Case{"1 == 2 && 1 / 0", "12: divide by zero"}, Case{"1 == 1 || 1 / 0", "12: divide by zero"}));

INSTANTIATE_TEST_SUITE_P(
    Shifts, Evaluate,
    testing::Values(Case{"1 << 12", "4096"}, Case{"1 << 63", "-9223372036854775808"}, Case{"1 << 64", "1"},
                    Case{"1 << 65", "2"}, Case{"1 << -1", "-9223372036854775808"}, Case{"-16 >> 2", "-4"},
                    Case{"-1 >> 63", "-1"}, Case{"1 << 1.0", "2: integer shift value expected"}, Case{"1.5 >> 1", "4: can only shift numeric values"},
                    Case{"\"a\" >> 1", "4: can only shift numeric values"},
                    // The shift count is checked first.
                    Case{"\"a\" << \"b\"", "4: integer shift value expected"}));

// The left operand decides how both are compared.
INSTANTIATE_TEST_SUITE_P(
    Comparisons, Evaluate,
    testing::Values(Case{"1 < 2", "true"}, Case{"2 <= 2", "true"}, Case{"3 > 4", "false"}, Case{"4 >= 4", "true"},
                    Case{"1 == 1", "true"}, Case{"1 != 1", "false"}, Case{"-1 < 0", "true"},
                    // Signed left: the floating right is truncated.
                    Case{"1 < 1.5", "false"}, Case{"1 <= 1.5", "true"}, Case{"\"abc\" == \"abc\"", "true"},
                    Case{"\"abc\" < \"abd\"", "true"}, Case{"\"b\" >= \"a\"", "true"},
                    Case{"\"\" != \"\"", "false"}, Case{"\"rv32\" == \"rv64\"", "false"},
                    Case{"\"10\" == 10", "true"}, Case{"\"1.5\" == 1.5", "true"}, Case{"!(1 == 2)", "true"},
                    Case{"1.5 < 2", "4: unsupported comparison operation"}, Case{"1.0 == 1", "4: unsupported comparison operation"}, Case{"1 < \"a\"", "2: unsupported comparison operation"},
                    Case{"UNDEFINED == 1", "0: UNDEFINED symbol not found"}));

// A comparison gives a bool, which keeps its kind through arithmetic on its
// left, compares as a byte, and becomes a one-byte signed value when negated.
INSTANTIATE_TEST_SUITE_P(
    BoolOperands, Evaluate,
    testing::Values(Case{"(1 == 1) + 1", "true"}, Case{"(1 == 1) - 1", "false"},
                    Case{"(1 == 1) + 0.5", "1 bits 0x3ff8000000000000"}, Case{"1 / (1 == 1)", "1"},
                    Case{"(1 == 1) % 1", "false"}, Case{"4 / (1 == 0)", "2: divide by zero"}, Case{"4 % (1 == 0)", "2: modulo by zero"},
                    Case{"(1 == 1) & 2", "false"}, Case{"2 | (1 == 1)", "3"}, Case{"(1 == 1) && 5", "true"},
                    Case{"(1 == 1) == 257", "true"}, Case{"(1 == 1) < 2", "true"},
                    Case{"\"1\" == (1 == 1)", "true"}, Case{"1 << (1 == 1)", "2: integer shift value expected"},
                    Case{"(1 == 1) << 1", "9: can only shift numeric values"}, Case{"~(1 == 1)", "0: unsupported unary num operation"}, Case{"!(1 == 1)", "false"},
                    Case{"-(1 == 1)", "-1 bits 0xff"}, Case{"-(1 == 1) + 300", "43"}, Case{"~-(1 == 1)", "0"},
                    Case{"-(1 == 1) >> 1", "-1 bits 0xff"}, Case{"-(1 == 1) == -1", "true"}));

// Nothing can be assigned to: no name resolves to an object.
INSTANTIATE_TEST_SUITE_P(
    Assignments, Evaluate,
    testing::Values(Case{"1 = 2", "2: bad expression type"}, Case{"1 += 2", "2: bad expression type"}, Case{"1 <<= 2", "2: bad expression type"}, Case{"++1", "0: bad expression type"},
                    Case{"--1", "0: bad expression type"}, Case{"1 + ++2", "4: bad expression type"}, Case{"x = 1", "0: x symbol not found"},
                    Case{"1 = 1 / 0", "6: divide by zero"}));

INSTANTIATE_TEST_SUITE_P(
    Unary, Evaluate,
    testing::Values(Case{"-5", "-5"}, Case{"+0x100", "256"}, Case{"+-+1", "-1"}, Case{"- - 1", "1"},
                    Case{"-1.5", "-1 bits 0xbff8000000000000"}, Case{"-(-9223372036854775807 - 1)", "-9223372036854775808"}, Case{"~0", "-1"},
                    Case{"!0", "true"}, Case{"!!0", "false"}, Case{"!5", "false"}, Case{"!0.0", "true"},
                    Case{"!0.5", "false"}, Case{"-\"a\"", "0: unsupported unary num operation"}, Case{"1 + -\"a\"", "4: unsupported unary num operation"},
                    Case{"~1.0", "0: unsupported unary num operation"}, Case{"~!1", "0: unsupported unary num operation"}, Case{"!\"\"", "0: unsupported unary num operation"}));

// Huge, infinite and undefined floating-point results convert without
// undefined behaviour: saturated (NaN gives 0) for the signed conversion,
// the bit pattern for the unsigned one.
INSTANTIATE_TEST_SUITE_P(
    FloatingPoint, Evaluate,
    testing::Values(Case{"1.9", "1 bits 0x3ffe666666666666"}, Case{"-1.9", "-1 bits 0xbffe666666666666"}, Case{"99999999999999999999.5", "9223372036854775807 bits 0x4415af1d78b58c40"},
                    Case{"0 - 99999999999999999999.5", "-9223372036854775808 bits 0xc415af1d78b58c40"}, Case{"0 - 0.0", "0"},
                    Case{"-0.0", "0 bits 0x8000000000000000"}, Case{"1.0 * (1 << 62) * 4", "9223372036854775807 bits 0x43f0000000000000"}));

// Each binary operator evaluates its right operand before its left one, so
// when both fail the right one's error is reported.
INSTANTIATE_TEST_SUITE_P(
    RightOperandFirst, Evaluate,
    testing::Values(Case{"1 / 0 + 5 % 0", "10: modulo by zero"}, Case{"5 % 0 + 1 / 0", "10: divide by zero"},
                    Case{"(1 << 1.0) - (1 / 0)", "16: divide by zero"}, Case{"(1 / 0) == (\"a\" + 1)", "16: unsupported binary numeric operation"},
                    Case{"-\"a\" * ~1.5", "7: unsupported unary num operation"}, Case{"(1 / 0) + (2 / 0) * (3 % 0)", "23: modulo by zero"}));

std::string infinity() { return std::string(400, '9') + ".0"; }

TEST(Evaluate, NonFiniteFloatingPointResults) {
  EXPECT_EQ(result(infinity()), "9223372036854775807 bits 0x7ff0000000000000");
  EXPECT_EQ(result("0 - " + infinity()), "-9223372036854775808 bits 0xfff0000000000000");
  // NaN, whose sign bit the processor chooses.
  EXPECT_EQ(evaluateInt(fromBytes(infinity() + " - " + infinity())), 0);
  EXPECT_EQ(evaluateInt(fromBytes(infinity() + " * 0.0")), 0);
}

// Every single character but a digit is an empty text, an unrecognised
// token, a name or an operator without operand.
TEST(Evaluate, OnlyADigitAloneIsANumber) {
  for (int c = 0; c < 256; ++c) {
    const bool digit = c >= '0' && c <= '9';
    EXPECT_EQ(evaluateUnsigned(QString(QChar(c))), digit ? std::optional<uint64_t>(c - '0') : std::nullopt)
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
    EvaluationError error;
    if (evaluateInt(text, &error))
      continue;
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
