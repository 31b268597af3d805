#include "xml/expressions/evaluate.h"

#include <gtest/gtest.h>

#include <QString>
#include <optional>
#include <string>

#include "mkld/bytes.h"

namespace {

enum class EntryPoint { Unsigned, Int, Bool };

struct EntryCase {
  EntryPoint entry;
  const char* text;
  bool ok;
  uint64_t value;  // the result's bits: signed results as two's complement, bool as 0 or 1
};

// Result as "ok <value>" or "not ok <value>", so one expectation shows both.
std::string run(EntryPoint entry, const QString& text) {
  std::optional<uint64_t> value;
  switch (entry) {
  case EntryPoint::Unsigned:
    value = evaluateUnsigned(text);
    break;
  case EntryPoint::Int:
    if (const std::optional<int64_t> result = evaluateInt(text))
      value = static_cast<uint64_t>(*result);
    break;
  case EntryPoint::Bool:
    if (const std::optional<bool> result = evaluateBool(text))
      value = *result ? 1 : 0;
    break;
  }
  return value ? "ok " + std::to_string(*value) : "not ok 0";
}

class EntryPoints : public testing::TestWithParam<EntryCase> {};

TEST_P(EntryPoints, OkAndValue) {
  const EntryCase& c = GetParam();
  EXPECT_EQ(run(c.entry, fromBytes(c.text)), (c.ok ? "ok " : "not ok ") + std::to_string(c.value))
      << c.text;
}

constexpr EntryPoint U = EntryPoint::Unsigned;
constexpr EntryPoint I = EntryPoint::Int;
constexpr EntryPoint B = EntryPoint::Bool;
constexpr uint64_t kAllOnes = ~uint64_t{0};

INSTANTIATE_TEST_SUITE_P(
    Unsigned, EntryPoints,
    testing::Values(EntryCase{U, "0x1000 + 0x200", true, 4608}, EntryCase{U, "010", true, 8},
                    EntryCase{U, "0b101", true, 5}, EntryCase{U, "1000UL", true, 1000},
                    EntryCase{U, "2 + 3 * 4", true, 14}, EntryCase{U, "10 - 2 - 3", true, 5},
                    EntryCase{U, "0x20000000 + 0x4000", true, 0x20004000},
                    EntryCase{U, "(64 * 1024) - 0x400", true, 0xfc00},
                    EntryCase{U, "+0x100", true, 0x100}, EntryCase{U, "1 << 12", true, 4096},
                    EntryCase{U, "-1", true, kAllOnes},
                    EntryCase{U, "1.5", true, 0x3ff8000000000000},
                    // Tokens after the expression are ignored: a size suffix is too.
                    EntryCase{U, "16K", true, 16},
                    EntryCase{U, "1 == 1", false, 0}, EntryCase{U, "\"a\"", false, 0},
                    EntryCase{U, "", false, 0}, EntryCase{U, "  ", false, 0},
                    EntryCase{U, "4 / 0", false, 0}, EntryCase{U, "FLASH_START", false, 0},
                    EntryCase{U, "0x1000 + $(OFFSET)", false, 0},
                    EntryCase{U, "sizeof(int)", false, 0}, EntryCase{U, "1 +", false, 0}));

INSTANTIATE_TEST_SUITE_P(
    Int, EntryPoints,
    testing::Values(EntryCase{I, "-1", true, kAllOnes}, EntryCase{I, "7 - 10", true, kAllOnes - 2},
                    EntryCase{I, "1.9", true, 1}, EntryCase{I, "-1.9", true, kAllOnes},
                    EntryCase{I, "0xffffffffffffffff", true, kAllOnes},
                    EntryCase{I, "1 < 2", false, 0}, EntryCase{I, "", false, 0},
                    EntryCase{I, "x", false, 0}));

INSTANTIATE_TEST_SUITE_P(
    Bool, EntryPoints,
    testing::Values(EntryCase{B, "1 == 1", true, 1}, EntryCase{B, "1 == 2", true, 0},
                    EntryCase{B, "1 < 2 && 2 < 3", true, 1}, EntryCase{B, "!(1 == 2)", true, 1},
                    EntryCase{B, "!0", true, 1}, EntryCase{B, "\"rv32\" == \"rv32\"", true, 1},
                    EntryCase{B, "\"rv32\" == \"rv64\"", true, 0},
                    EntryCase{B, "(1 == 1) + 1", true, 1},
                    // An arithmetic result is not a condition.
                    EntryCase{B, "1", false, 0}, EntryCase{B, "2 && 3", false, 0},
                    EntryCase{B, "", false, 0}, EntryCase{B, "UNDEFINED == 1", false, 0},
                    EntryCase{B, "1.0 == 1", false, 0}));

// Huge, infinite and undefined floating-point results convert without
// undefined behaviour: saturated (NaN gives 0) for the signed conversion,
// the bit pattern for the unsigned one.
INSTANTIATE_TEST_SUITE_P(
    FloatingPointEdges, EntryPoints,
    testing::Values(EntryCase{I, "99999999999999999999.5", true, 0x7fffffffffffffff},
                    EntryCase{I, "0 - 99999999999999999999.5", true, 0x8000000000000000},
                    EntryCase{U, "0 - 0.0", true, 0}, EntryCase{U, "-0.0", true, 0x8000000000000000},
                    EntryCase{I, "1.0 * (1 << 62) * 4", true, 0x7fffffffffffffff}));

std::string infinity() { return std::string(400, '9') + ".0"; }

TEST(EntryPoints, NonFiniteFloatingPointResults) {
  const QString inf = fromBytes(infinity());
  EXPECT_EQ(run(U, inf), "ok " + std::to_string(0x7ff0000000000000));
  EXPECT_EQ(run(I, inf), "ok " + std::to_string(0x7fffffffffffffff));
  EXPECT_EQ(run(I, QStringLiteral("0 - ") + inf), "ok " + std::to_string(0x8000000000000000));
  EXPECT_EQ(run(I, inf + QStringLiteral(" - ") + inf), "ok 0");  // NaN
  EXPECT_EQ(run(I, inf + QStringLiteral(" * 0.0")), "ok 0");    // NaN
}

// The reason and where evaluation stopped: the offending token, or the
// operator that could not be applied.
struct ErrorCase {
  EntryPoint entry;
  const char* text;
  const char* expected;  // "OFFSET: MESSAGE"
};

class Errors : public testing::TestWithParam<ErrorCase> {};

TEST_P(Errors, MessageAndOffset) {
  const ErrorCase& c = GetParam();
  const QString text = fromBytes(c.text);
  EvaluationError error{QStringLiteral("unchanged"), -1};
  bool failed = false;
  switch (c.entry) {
  case EntryPoint::Unsigned:
    failed = !evaluateUnsigned(text, &error);
    break;
  case EntryPoint::Int:
    failed = !evaluateInt(text, &error);
    break;
  case EntryPoint::Bool:
    failed = !evaluateBool(text, &error);
    break;
  }
  EXPECT_TRUE(failed) << c.text;
  EXPECT_EQ(std::to_string(error.offset) + ": " + toStdBytes(error.message), c.expected) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, Errors,
    testing::Values(ErrorCase{U, "", "0: expression expected"},
                    ErrorCase{U, "  ", "2: expression expected"},
                    ErrorCase{B, "1 + 1", "0: bad expression type"},
                    ErrorCase{U, "1 == 1", "0: bad expression type"},
                    ErrorCase{U, "1 + #x", "4: unrecognised token: #x"},
                    ErrorCase{U, "1 +", "3: expression expected"},
                    ErrorCase{U, "(1 + 2", "6: ')' expected"},
                    ErrorCase{U, "(1 + 2 3", "7: ')' expected"},
                    ErrorCase{U, "2 * 4 / 0", "6: divide by zero"},
                    ErrorCase{U, "1 + 5 % 0", "6: modulo by zero"},
                    ErrorCase{U, "1 ? 2 : 3", "2: operator not supported"},
                    ErrorCase{U, "0x10 + FLASH", "7: FLASH symbol not found"},
                    ErrorCase{U, "1 + a::b", "4: a::b symbol not found"},
                    ErrorCase{U, "1 + f(2)", "4: function calling not implemented"},
                    ErrorCase{U, " *4", "1: cannot dereference"},
                    ErrorCase{U, " *(1 / 0)", "5: divide by zero"},
                    ErrorCase{U, "1 + &2", "4: addressof not implemented"},
                    ErrorCase{U, "2 + (int)1", "4: cannot cast"},
                    ErrorCase{U, "1 + sizeof(int)", "4: sizeof(typename) not implemented"},
                    ErrorCase{U, "sizeof 1", "0: cannot determine sizeof of a constant"},
                    ErrorCase{U, "1 = 2", "2: bad expression type"},
                    ErrorCase{U, "1 + ++2", "4: bad expression type"},
                    ErrorCase{U, "1 + -\"a\"", "4: unsupported unary num operation"},
                    ErrorCase{U, "1 << 1.0", "2: integer shift value expected"},
                    ErrorCase{I, "1.0 < 2", "4: unsupported comparison operation"},
                    // Each node evaluates its right operand first.
                    ErrorCase{U, "1 / 0 + 2 % 0", "10: modulo by zero"},
                    // Names fail while parsing, before anything is evaluated.
                    ErrorCase{U, "1 / 0 + x", "8: x symbol not found"}));

// Every single character but a digit is an empty text, an unrecognised
// token, a name or an operator without operand.
TEST(EntryPoints, OnlyADigitAloneIsANumber) {
  for (int c = 0; c < 256; ++c) {
    const bool digit = c >= '0' && c <= '9';
    EXPECT_EQ(run(U, QString(QChar(c))), digit ? "ok " + std::to_string(c - '0') : "not ok 0")
        << "character " << c;
  }
}

}  // namespace
