#include "xml/expressions/expressionparser.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "base/bytes.h"
#include "xml/expressions/parserexception.h"

namespace {

// Names that stand for values no literal can spell (unsigned and narrow
// integers, bools, single precision, an object); every other name is looked
// up as the tool does, and fails.
class TypedSymbolParser : public SimpleExpressionParser {
protected:
  Value lookupSymbol(const QString& name) override {
    if (name == QLatin1String("u8"))
      return Value::fromUnsigned(0xff, 1);
    if (name == QLatin1String("u32"))
      return Value::fromUnsigned(0xffffffff, 4);
    if (name == QLatin1String("u64"))
      return Value::fromUnsigned(~uint64_t{0});
    if (name == QLatin1String("s8"))
      return Value::fromSigned(-1, 1);
    if (name == QLatin1String("t"))
      return Value::fromBool(true);
    if (name == QLatin1String("f"))
      return Value::fromBool(false);
    if (name == QLatin1String("f4"))
      return Value::fromFloat(1.5, 4);
    if (name == QLatin1String("obj"))
      return Value::reference(0x1000, 4);
    return SimpleExpressionParser::lookupSymbol(name);
  }
};

std::string errorText(const ParserException& e) { return "error: " + toStdBytes(e.message()); }

// The canonical form of the parsed tree, "(empty)" or the error.
std::string tree(const std::string& text) {
  try {
    SimpleExpressionParser parser;
    const std::unique_ptr<Expression> expression = parser.parse(fromBytes(text));
    return expression ? toStdBytes(expression->describe()) : "(empty)";
  } catch (const ParserException& e) {
    return errorText(e);
  }
}

// The value with its kind and size, or the error.
std::string value(const std::string& text) {
  try {
    TypedSymbolParser parser;
    return toStdBytes(parser.evaluate(fromBytes(text)).describe());
  } catch (const ParserException& e) {
    return errorText(e);
  }
}

struct Case {
  const char* text;
  const char* expected;
};

class Trees : public testing::TestWithParam<Case> {};
TEST_P(Trees, Parse) { EXPECT_EQ(tree(GetParam().text), GetParam().expected) << GetParam().text; }

class Values : public testing::TestWithParam<Case> {};
TEST_P(Values, Evaluate) {
  EXPECT_EQ(value(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Precedence, Trees,
    testing::Values(Case{"2 + 3 * 4", "(+ 2 (* 3 4))"}, Case{"2 * 3 + 4", "(+ (* 2 3) 4)"},
                    Case{"10 - 2 - 3", "(- (- 10 2) 3)"}, Case{"8 / 4 / 2", "(/ (/ 8 4) 2)"},
                    Case{"7 % 3 * 2", "(* (% 7 3) 2)"}, Case{"1 << 2 + 3", "(<< 1 (+ 2 3))"},
                    Case{"1 << 2 >> 3", "(>> (<< 1 2) 3)"},
                    Case{"1 < 2 == 3 > 4", "(== (< 1 2) (> 3 4))"},
                    Case{"1 <= 2 != 3 >= 4", "(!= (<= 1 2) (>= 3 4))"},
                    Case{"1 == 2 & 3", "(& (== 1 2) 3)"},
                    Case{"1 | 2 ^ 3 & 4", "(| 1 (^ 2 (& 3 4)))"},
                    Case{"1 & 2 ^ 3 | 4", "(| (^ (& 1 2) 3) 4)"},
                    Case{"1 || 2 && 3 | 4", "(|| 1 (&& 2 (| 3 4)))"},
                    Case{"1 && 2 || 3 && 4", "(|| (&& 1 2) (&& 3 4))"},
                    Case{"1 = 2 || 3", "(= 1 (|| 2 3))"},
                    // = binds tighter than the compound assignments; all go left.
                    Case{"1 = 2 += 3", "(+= (= 1 2) 3)"}, Case{"1 += 2 = 3", "(+= 1 (= 2 3))"},
                    Case{"1 = 2 = 3", "(= (= 1 2) 3)"},
                    Case{"1 *= 2 /= 3 %= 4 -= 5", "(-= (%= (/= (*= 1 2) 3) 4) 5)"},
                    Case{"1 <<= 2 >>= 3 ^= 4 &= 5 |= 6", "(|= (&= (^= (>>= (<<= 1 2) 3) 4) 5) 6)"},
                    Case{"(1 + 2) * 3", "(* (+ 1 2) 3)"}, Case{"((((1))))", "1"},
                    Case{"-1 - -1", "(- (- 1) (- 1))"}, Case{"- 2 * 3", "(* (- 2) 3)"}));

INSTANTIATE_TEST_SUITE_P(
    UnaryForms, Trees,
    testing::Values(Case{"-1", "(- 1)"}, Case{"+1", "1"}, Case{"+-+1", "(- 1)"},
                    Case{"~!1", "(~ (! 1))"}, Case{"!!0", "(! (! 0))"}, Case{"&1", "(& 1)"},
                    Case{"addressof 1", "(& 1)"}, Case{"addressof(1 + 2)", "(& (+ 1 2))"},
                    Case{"++1", "(+= 1 1)"}, Case{"--1", "(-= 1 1)"},
                    Case{"- - 1", "(- (- 1))"}));

INSTANTIATE_TEST_SUITE_P(
    Literals, Trees,
    testing::Values(Case{"0x10", "16"}, Case{"010", "8"}, Case{"0b101", "5"},
                    Case{"1000UL", "1000"}, Case{"0xFFul", "255"}, Case{"0", "0"},
                    Case{"0x", "0"}, Case{"0b", "0"}, Case{"1.5", "1.5"}, Case{"2.0", "2.0"},
                    Case{"\"text\"", "\"text\""}, Case{"\"\"", "\"\""},
                    Case{"18446744073709551615", "-1"}, Case{"0xffffffffffffffff", "-1"},
                    Case{"18446744073709551616", "0"}));

INSTANTIATE_TEST_SUITE_P(
    LeftoverTokensAreIgnored, Trees,
    testing::Values(Case{"", "(empty)"}, Case{" \t\n", "(empty)"}, Case{"16K", "16"},
                    Case{"0X10", "0"}, Case{"0b2", "0"}, Case{"1 2", "1"}, Case{"1 )", "1"},
                    Case{"1 ;", "1"}, Case{"1 + 2 3 #", "(+ 1 2)"},
                    // ++, -- and -> are tokens of their own, never two operators.
                    Case{"1--2", "1"}, Case{"1++2", "1"}, Case{"1->2", "1"},
                    Case{"1 - -2", "(- 1 (- 2))"}, Case{"5 @r0", "5"}, Case{"1 # 2", "error: unrecognised token: # 2"}));

INSTANTIATE_TEST_SUITE_P(
    SyntaxErrors, Trees,
    testing::Values(Case{"#", "error: unrecognised token: #"},
                    Case{"1 + \"abc", "error: unrecognised token: \"abc"},
                    Case{"1 + 'a'", "error: unrecognised token: 'a'"},
                    Case{"1 >>> 2", "error: operator not supported"},
                    Case{"1 >>>= 2", "error: operator not supported"},
                    Case{"1 ? 2 : 3", "error: operator not supported"},
                    Case{"1, 2", "error: operator not supported"},
                    Case{"(1, 2)", "error: operator not supported"},
                    Case{")", "error: expression expected"},
                    Case{"1 +", "error: expression expected"},
                    Case{"()", "error: expression expected"},
                    Case{"@r0", "error: expression expected"},
                    Case{".5", "error: expression expected"},
                    Case{"[1]", "error: expression expected"},
                    Case{"&&1", "error: expression expected"},
                    Case{"a::1", "error: expression expected"},
                    Case{"(1", "error: ')' expected"}, Case{"(1 2)", "error: ')' expected"},
                    Case{"f(1", "error: ')' expected"}, Case{"f(1;", "error: ')' expected"}));

INSTANTIATE_TEST_SUITE_P(
    NamesTypesAndMemory, Trees,
    testing::Values(Case{"FOO", "error: FOO symbol not found"},
                    // A macro left unexpanded reads as a call of the function "$".
                    Case{"1 + $(BASE)", "error: BASE symbol not found"},
                    Case{"$()", "error: function calling not implemented"},
                    Case{"a::b::c", "error: a::b::c symbol not found"},
                    Case{"::x", "error: ::x symbol not found"},
                    Case{"int", "error: int symbol not found"},
                    Case{"f()", "error: function calling not implemented"},
                    Case{"f(1, 2 + 3)", "error: function calling not implemented"},
                    Case{"f(x)", "error: x symbol not found"},
                    Case{"(int)1", "error: cannot cast"},
                    Case{"(unsigned long *) 0x1000", "error: cannot cast"},
                    Case{"(int)", "error: expression expected"},
                    Case{"(int x)1", "error: ')' expected"},
                    Case{"*0x1000", "error: cannot dereference"},
                    Case{"*x", "error: x symbol not found"},
                    Case{"sizeof 1", "error: cannot determine sizeof of a constant"},
                    Case{"sizeof(1 + 2)", "error: cannot determine sizeof of a constant"},
                    Case{"sizeof(x)", "error: x symbol not found"},
                    Case{"sizeof(1 / 0)", "error: divide by zero"},
                    Case{"sizeof(int)", "error: sizeof(typename) not implemented"},
                    Case{"sizeof(unsigned char*)", "error: sizeof(typename) not implemented"},
                    Case{"sizeof(int x)", "error: ')' expected"},
                    Case{"sizeof", "error: expression expected"}));

// Everything above fails at parse time: names are looked up while parsing.
// These fail only when evaluated.
INSTANTIATE_TEST_SUITE_P(
    FailLaterWhenEvaluated, Trees,
    testing::Values(Case{"&1", "(& 1)"}, Case{"1 = 2", "(= 1 2)"}, Case{"4 / 0", "(/ 4 0)"}));

INSTANTIATE_TEST_SUITE_P(
    Additive, Values,
    testing::Values(
        Case{"1 + 2", "signed:8 3"}, Case{"1 - 2", "signed:8 -1"},
        Case{"0x7fffffffffffffff + 1", "signed:8 -9223372036854775808"},
        Case{"0x1000 + 0x200", "signed:8 4608"}, Case{"1 + 1.5", "float:8 2.5"},
        Case{"1.5 + 1", "float:8 2.5"}, Case{"1.5 - 2.25", "float:8 -0.75"},
        Case{"u8 + 1", "unsigned:1 0"}, Case{"u32 + 2", "unsigned:4 1"},
        Case{"u64 - 1", "unsigned:8 18446744073709551614"},
        // A signed left reads the right by its signed conversion: u8 is -1 then.
        Case{"1 + u8", "signed:8 0"}, Case{"s8 + 0", "signed:1 -1"},
        Case{"u8 + 0.5", "float:8 255.5"}, Case{"f4 + 1", "float:8 2.5"},
        Case{"t + 1", "bool true"}, Case{"t - 1", "bool false"}, Case{"t + 0.5", "float:8 1.5"},
        Case{"\"a\" + 1", "error: unsupported binary numeric operation"},
        Case{"1 + \"a\"", "error: unsupported binary numeric operation"},
        Case{"\"a\" + 1.5", "error: unsupported binary numeric operation"},
        Case{"obj + 1", "error: unsupported binary numeric operation"},
        Case{"1 - obj", "error: unsupported binary numeric operation"}));

INSTANTIATE_TEST_SUITE_P(
    Multiplicative, Values,
    testing::Values(
        Case{"3 * 4", "signed:8 12"}, Case{"7 / 2", "signed:8 3"}, Case{"-7 / 2", "signed:8 -3"},
        Case{"7 % 3", "signed:8 1"}, Case{"-7 % 2", "signed:8 -1"}, Case{"7 % -2", "signed:8 1"},
        Case{"5 / 2.0", "float:8 2.5"}, Case{"1.5 * 2", "float:8 3"},
        Case{"u8 * 2", "unsigned:1 254"}, Case{"u32 / 2", "unsigned:4 2147483647"},
        Case{"u8 % 16", "unsigned:1 15"}, Case{"t / 1", "bool true"}, Case{"f * 5", "bool false"},
        Case{"t % 1", "bool false"}, Case{"1 / t", "signed:8 1"},
        Case{"4 / 0", "error: divide by zero"}, Case{"4 / 0.0", "error: divide by zero"},
        Case{"1.5 / 0", "error: divide by zero"}, Case{"4 / f", "error: divide by zero"},
        Case{"u8 / 0", "error: divide by zero"},
        // A zero divisor is found before the kinds are checked.
        Case{"\"a\" / 0", "error: divide by zero"},
        Case{"\"a\" / 2", "error: unsupported binary numeric operation"},
        Case{"4 % 0", "error: modulo by zero"}, Case{"4 % f", "error: modulo by zero"},
        Case{"(-9223372036854775807 - 1) / -1", "error: integer overflow"},
        Case{"(-9223372036854775807 - 1) % -1", "error: integer overflow"},
        Case{"(-9223372036854775807 - 1) / 1", "signed:8 -9223372036854775808"},
        Case{"7.0 % 2", "error: unsupported binary numeric operation"},
        Case{"7 % 2.0", "error: unsupported binary numeric operation"},
        Case{"\"a\" % 0", "error: unsupported binary numeric operation"},
        Case{"\"a\" * 2", "error: unsupported binary numeric operation"}));

INSTANTIATE_TEST_SUITE_P(
    Bitwise, Values,
    testing::Values(Case{"12 & 10", "signed:8 8"}, Case{"12 ^ 10", "signed:8 6"},
                    Case{"12 | 10", "signed:8 14"}, Case{"u8 & 0x0f", "unsigned:1 15"},
                    Case{"u32 ^ 1", "unsigned:4 4294967294"}, Case{"t & 2", "bool false"},
                    Case{"t | 2", "bool true"}, Case{"2 | t", "signed:8 3"},
                    Case{"1.0 & 1", "error: unsupported binary numeric operation"},
                    Case{"1 | 1.0", "error: unsupported binary numeric operation"},
                    Case{"\"a\" ^ 1", "error: unsupported binary numeric operation"}));

INSTANTIATE_TEST_SUITE_P(
    Shifts, Values,
    testing::Values(Case{"1 << 12", "signed:8 4096"},
                    Case{"1 << 63", "signed:8 -9223372036854775808"},
                    Case{"1 << 64", "signed:8 1"}, Case{"1 << 65", "signed:8 2"},
                    Case{"1 << -1", "signed:8 -9223372036854775808"},
                    Case{"-16 >> 2", "signed:8 -4"}, Case{"-1 >> 63", "signed:8 -1"},
                    Case{"s8 >> 1", "signed:1 -1"}, Case{"u8 >> 1", "unsigned:1 127"},
                    Case{"u8 << 1", "unsigned:1 254"}, Case{"u64 >> 60", "unsigned:8 15"},
                    Case{"1 << u8", "error: integer shift value expected"},
                    Case{"1 << t", "error: integer shift value expected"},
                    Case{"1 << 1.0", "error: integer shift value expected"},
                    Case{"t << 1", "error: can only shift numeric values"},
                    Case{"1.5 >> 1", "error: can only shift numeric values"},
                    Case{"\"a\" >> 1", "error: can only shift numeric values"},
                    // The shift count is checked first.
                    Case{"\"a\" << \"b\"", "error: integer shift value expected"}));

INSTANTIATE_TEST_SUITE_P(
    Comparisons, Values,
    testing::Values(
        Case{"1 < 2", "bool true"}, Case{"2 <= 2", "bool true"}, Case{"3 > 4", "bool false"},
        Case{"4 >= 4", "bool true"}, Case{"1 == 1", "bool true"}, Case{"1 != 1", "bool false"},
        Case{"-1 < 0", "bool true"}, Case{"s8 == -1", "bool true"},
        Case{"u32 > 0", "bool true"}, Case{"u8 == 255", "bool true"},
        // Unsigned left: -1 is read as 2^64-1.
        Case{"u8 == -1", "bool false"}, Case{"u8 < -1", "bool true"},
        // Signed left: the floating right is truncated.
        Case{"1 < 1.5", "bool false"}, Case{"1 <= 1.5", "bool true"},
        // Unsigned left: the floating right is its bit pattern.
        Case{"u32 < 1.5", "bool true"},
        // Bool left: a byte comparison.
        Case{"t == 1", "bool true"}, Case{"t == 257", "bool true"}, Case{"t < 2", "bool true"},
        Case{"f == 0", "bool true"}, Case{"t == t", "bool true"},
        Case{"\"abc\" == \"abc\"", "bool true"}, Case{"\"abc\" < \"abd\"", "bool true"},
        Case{"\"b\" >= \"a\"", "bool true"}, Case{"\"\" != \"\"", "bool false"},
        Case{"\"10\" == 10", "bool true"}, Case{"\"1.5\" == 1.5", "bool true"},
        Case{"\"1\" == t", "bool true"}, Case{"\"255\" == u8", "bool true"},
        Case{"1.5 < 2", "error: unsupported comparison operation"},
        Case{"f4 == 1", "error: unsupported comparison operation"},
        Case{"1 < \"a\"", "error: unsupported comparison operation"},
        Case{"obj == 1", "error: unsupported comparison operation"},
        Case{"1 == obj", "error: unsupported comparison operation"},
        Case{"\"a\" == obj", "error: unsupported comparison operation"}));

INSTANTIATE_TEST_SUITE_P(
    Logical, Values,
    testing::Values(Case{"1 == 1 && 2 == 2", "bool true"}, Case{"1 == 1 && 2 == 3", "bool false"},
                    Case{"1 == 2 || 2 == 2", "bool true"}, Case{"1 == 2 || 2 == 3", "bool false"},
                    Case{"2 && 3", "signed:8 1"}, Case{"2 && 0", "signed:8 0"},
                    Case{"0 || 0", "signed:8 0"}, Case{"u8 || 0", "unsigned:1 1"},
                    Case{"t && 5", "bool true"}, Case{"f || 0", "bool false"},
                    Case{"1.0 && 1", "error: unsupported binary numeric operation"},
                    Case{"1 || 1.0", "error: unsupported binary numeric operation"},
                    Case{"1 && \"a\"", "error: unsupported binary numeric operation"},
                    // Both operands are always evaluated.
                    Case{"1 == 2 && 1 / 0", "error: divide by zero"},
                    Case{"1 == 1 || 1 / 0", "error: divide by zero"}));

INSTANTIATE_TEST_SUITE_P(
    Assignments, Values,
    testing::Values(Case{"1 = 2", "error: bad expression type"},
                    Case{"1 += 2", "error: bad expression type"},
                    Case{"1 <<= 2", "error: bad expression type"},
                    Case{"++1", "error: bad expression type"},
                    Case{"--1", "error: bad expression type"},
                    Case{"x = 1", "error: x symbol not found"},
                    Case{"obj = 1", "error: assignment not implemented"},
                    Case{"++obj", "error: assignment not implemented"},
                    // The right operand is evaluated first.
                    Case{"1 = 1 / 0", "error: divide by zero"}));

INSTANTIATE_TEST_SUITE_P(
    Unary, Values,
    testing::Values(Case{"-5", "signed:8 -5"}, Case{"-u8", "unsigned:1 1"},
                    Case{"-t", "signed:1 -1"}, Case{"-f4", "float:4 -1.5"},
                    Case{"-1.5", "float:8 -1.5"},
                    Case{"-(-9223372036854775807 - 1)", "signed:8 -9223372036854775808"},
                    Case{"~0", "signed:8 -1"}, Case{"~u8", "unsigned:1 0"},
                    Case{"!0", "bool true"}, Case{"!5", "bool false"}, Case{"!t", "bool false"},
                    Case{"!0.0", "bool true"}, Case{"!0.5", "bool false"},
                    Case{"&1", "error: addressof not implemented"},
                    Case{"&obj", "error: addressof not implemented"},
                    Case{"&(1 / 0)", "error: divide by zero"},
                    Case{"-\"a\"", "error: unsupported unary num operation"},
                    Case{"-obj", "error: unsupported unary num operation"},
                    Case{"~t", "error: unsupported unary num operation"},
                    Case{"~1.0", "error: unsupported unary num operation"},
                    Case{"!\"\"", "error: unsupported unary num operation"}));

INSTANTIATE_TEST_SUITE_P(
    OtherValues, Values,
    testing::Values(Case{"", "none"}, Case{"\"a b\"", "string \"a b\""},
                    Case{"0.1", "float:8 0.1"}, Case{"(1 == 1) + 1", "bool true"},
                    Case{"000000000000000000000000000000000000000000000000000000000000000000000000"
                         "000000000000000000000000000000000000000000000000000000000000000000000000"
                         "000000000000000000000000000000000000000000000000000000000000000000000000"
                         "000000000000000000000000000000000000000000000000000000000000000000000001.5",
                         "float:8 1.5"},
                    Case{"999999999999999999999999999999999999999999999999999999999999999999999999"
                         "999999999999999999999999999999999999999999999999999999999999999999999999"
                         "999999999999999999999999999999999999999999999999999999999999999999999999"
                         "999999999999999999999999999999999999999999999999999999999999999999999999"
                         "9999999999999999999999999999999999999999999999.5",
                         "float:8 inf"},
                    Case{"0.00000000000000000000000000000000000000000000000000000000000000000000"
                         "00000000000000000000000000000000000000000000000000000000000000000000"
                         "00000000000000000000000000000000000000000000000000000000000000000000"
                         "00000000000000000000000000000000000000000000000000000000000000000000"
                         "00000000000000000000000000000000000000000000000000000000000000000001",
                         "float:8 0"}));

// Each binary node evaluates its right operand before its left one, so when
// both fail the right one's error is reported.
INSTANTIATE_TEST_SUITE_P(
    RightOperandFirst, Values,
    testing::Values(Case{"1 / 0 + 5 % 0", "error: modulo by zero"},
                    Case{"5 % 0 + 1 / 0", "error: divide by zero"},
                    Case{"(1 << 1.0) - (1 / 0)", "error: divide by zero"},
                    Case{"(1 / 0) == (\"a\" + 1)", "error: unsupported binary numeric operation"},
                    Case{"-\"a\" * ~1.5", "error: unsupported unary num operation"},
                    Case{"(1 / 0) + (2 / 0) * (3 % 0)", "error: modulo by zero"},
                    // A name fails while parsing, before anything is evaluated.
                    Case{"1 / 0 + x", "error: x symbol not found"}));

TEST(ExpressionParser, NestingIsBounded) {
  const int n = ExpressionParser::kMaxNesting;
  const std::string open(static_cast<size_t>(n), '(');
  const std::string close(static_cast<size_t>(n), ')');
  EXPECT_EQ(value(open + "1" + close), "signed:8 1");
  EXPECT_EQ(value("(" + open + "1" + close + ")"), "error: expression nested too deeply");
  std::string minuses;
  for (int i = 0; i < n; ++i)
    minuses += "- ";
  EXPECT_EQ(value(minuses + "1"), "signed:8 1");
  EXPECT_EQ(value(std::string(static_cast<size_t>(n) + 1, '~') + "1"),
            "error: expression nested too deeply");
  EXPECT_EQ(value(std::string(100000, '(')), "error: expression nested too deeply");
  EXPECT_EQ(value(std::string(100000, '!') + "0"), "error: expression nested too deeply");
  std::string mixed;
  for (int i = 0; i < 100000; ++i)
    mixed += "sizeof(-f(*";
  EXPECT_EQ(value(mixed), "error: expression nested too deeply");
}

TEST(ExpressionParser, LongChainsEvaluateAndFreeWithoutRecursion) {
  std::string sum = "1";
  std::string mixed = "0";
  for (int i = 1; i < 200000; ++i) {
    sum += "+1";
    mixed += i % 2 ? "+3" : "-1";
  }
  EXPECT_EQ(value(sum), "signed:8 200000");
  EXPECT_EQ(value(mixed), "signed:8 200001");
  std::string compare = "1 == 1";
  for (int i = 0; i < 100000; ++i)
    compare += " && (1 < 2)";
  EXPECT_EQ(value(compare), "bool true");
}

// Whatever the bytes, evaluation ends in a value or in one of the
// evaluator's own messages.
TEST(ExpressionParser, AnyBytesGiveAValueOrAKnownMessage) {
  const std::set<std::string> messages = {
      "operator not supported", "cannot cast", "expression expected",
      "cannot dereference", "addressof not implemented", "function calling not implemented",
      "cannot determine sizeof of a constant", "sizeof(typename) not implemented",
      "divide by zero", "modulo by zero", "integer overflow",
      "unsupported binary numeric operation", "integer shift value expected",
      "can only shift numeric values", "unsupported comparison operation", "bad expression type",
      "assignment not implemented", "unsupported unary num operation", "')' expected",
      "expression nested too deeply"};
  const std::string common = "0123456789xbULul.\"()+-*/%<>=!&|^~?,:@$_ \tazAZ";
  std::mt19937 random(2024);
  std::uniform_int_distribution<int> anyByte(0, 255);
  std::uniform_int_distribution<size_t> pickCommon(0, common.size() - 1);
  std::uniform_int_distribution<int> length(0, 40);
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    for (int n = length(random); n > 0; --n)
      text += anyByte(random) < 16 ? static_cast<char>(anyByte(random)) : common[pickCommon(random)];
    const std::string result = value(text);
    if (result.rfind("error: ", 0) != 0)
      continue;
    const std::string message = result.substr(7);
    const bool known = messages.count(message) > 0 ||
                       message.rfind("unrecognised token: ", 0) == 0 ||
                       (message.size() > 17 &&
                        message.compare(message.size() - 17, 17, " symbol not found") == 0);
    ASSERT_TRUE(known) << "text: " << text << "\nmessage: " << message;
  }
}

}  // namespace
