#include "xml/expressions/evaluate.h"

#include <gtest/gtest.h>

#include <QString>
#include <string>

#include "base/bytes.h"

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
  bool ok = true;  // the entry point must clear it
  uint64_t value = 0;
  switch (entry) {
  case EntryPoint::Unsigned:
    value = evaluateUnsigned(text, &ok);
    break;
  case EntryPoint::Int:
    value = static_cast<uint64_t>(evaluateInt(text, &ok));
    break;
  case EntryPoint::Bool:
    value = evaluateBool(text, &ok) ? 1 : 0;
    break;
  }
  return (ok ? "ok " : "not ok ") + std::to_string(value);
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

TEST(EntryPoints, OkMayBeNull) {
  EXPECT_EQ(evaluateUnsigned(QStringLiteral("1 + 1"), nullptr), 2u);
  EXPECT_EQ(evaluateInt(QStringLiteral("-2"), nullptr), -2);
  EXPECT_TRUE(evaluateBool(QStringLiteral("2 > 1"), nullptr));
  EXPECT_EQ(evaluateUnsigned(QStringLiteral("#"), nullptr), 0u);
}

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
