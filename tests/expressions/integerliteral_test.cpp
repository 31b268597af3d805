#include "expressions/integerliteral.h"

#include <gtest/gtest.h>

#include "base/bytes.h"

namespace {

struct LiteralCase {
  const char* text;
  uint64_t expected;
};

class IntegerLiteral : public testing::TestWithParam<LiteralCase> {};

TEST_P(IntegerLiteral, Value) {
  EXPECT_EQ(parseIntegerLiteral(fromBytes(GetParam().text)), GetParam().expected)
      << "text: " << GetParam().text;
  EXPECT_EQ(parseIntegerLiteral(std::string_view(GetParam().text)), GetParam().expected)
      << "bytes: " << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Bases, IntegerLiteral,
    testing::Values(LiteralCase{"16", 16}, LiteralCase{"0x10", 16}, LiteralCase{"020", 16},
                    LiteralCase{"0b10000", 16}, LiteralCase{"010", 8}, LiteralCase{"0", 0},
                    LiteralCase{"0x", 0}, LiteralCase{"0b", 0}, LiteralCase{"0xFFFFFFFF", 0xffffffff},
                    LiteralCase{"0xdeadBEEF", 0xdeadbeef},
                    // Digits are not checked against the base.
                    LiteralCase{"09", 9}, LiteralCase{"0b12", 4}, LiteralCase{"1a", 20},
                    LiteralCase{"0X10", 2120}, LiteralCase{"0B1", 8 * 11 + 1}));

INSTANTIATE_TEST_SUITE_P(
    Suffixes, IntegerLiteral,
    testing::Values(LiteralCase{"1000UL", 1000}, LiteralCase{"0x10UL", 16},
                    LiteralCase{"7ull", 7}, LiteralCase{"7L", 7}, LiteralCase{"7lu", 7},
                    LiteralCase{"12U34", 12}, LiteralCase{"U12", 0}, LiteralCase{"0xU", 0}));

INSTANTIATE_TEST_SUITE_P(
    SignsAndBlanks, IntegerLiteral,
    testing::Values(LiteralCase{"", 0}, LiteralCase{"   ", 0}, LiteralCase{" \t42", 42},
                    LiteralCase{"-1", ~uint64_t{0}}, LiteralCase{"+5", 5},
                    LiteralCase{"-0x10", uint64_t{0} - 16}, LiteralCase{"-", 0},
                    // A no-break space (Latin-1 0xA0) is a blank too.
                    LiteralCase{"\xa0" "7", 7}));

INSTANTIATE_TEST_SUITE_P(
    OtherCharactersCountFromA, IntegerLiteral,
    testing::Values(
        // '.' counts -9: 1*10 - 9 = 1, then 1*10 + 5.
        LiteralCase{"1.5", 15},
        // ' ' counts -23: 1*10 - 23 = -13, then -13*10 + 2.
        LiteralCase{"1 2", uint64_t{0} - 128},
        // The second '-' is a digit, -10: -10*10 + 1 = -99, negated.
        LiteralCase{"--1", 99}));

TEST(IntegerLiteral, WrapsModulo2To64) {
  EXPECT_EQ(parseIntegerLiteral(QStringLiteral("18446744073709551615")), ~uint64_t{0});
  EXPECT_EQ(parseIntegerLiteral(QStringLiteral("18446744073709551616")), 0u);
  EXPECT_EQ(parseIntegerLiteral(QStringLiteral("0x1ffffffffffffffff")), ~uint64_t{0});
  EXPECT_EQ(parseIntegerLiteral(QStringLiteral("99999999999999999999999999999999")),
            0x85acef80ffffffffu);
}

// The strict reading gives a value only where the text is one plain number.
TEST(IntegerLiteral, StrictReading) {
  const std::pair<const char*, std::optional<uint64_t>> cases[] = {
      {"16", 16}, {"0x10", 16}, {"0X1f", 31}, {"020", 16}, {"0", 0}, {"18446744073709551615", ~uint64_t{0}},
      {"", {}}, {"0x", {}}, {"09", {}}, {"0b1", {}}, {"1g", {}}, {" 1", {}}, {"+1", {}}, {"1U", {}},
      {"18446744073709551616", {}}, {"0x1ffffffffffffffff", {}},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(parseStrictIntegerLiteral(text), expected) << text;
}

}  // namespace
