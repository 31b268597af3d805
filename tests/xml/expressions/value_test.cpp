#include "xml/expressions/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const double kInfinity = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

struct ConversionCase {
  Value value;
  uint64_t asUnsigned;
  int64_t asSigned;
};

class ValueConversion : public testing::TestWithParam<ConversionCase> {};

TEST_P(ValueConversion, Converts) {
  const ConversionCase& c = GetParam();
  EXPECT_EQ(c.value.toUnsigned(), c.asUnsigned) << c.value.describe().toStdString();
  EXPECT_EQ(c.value.toSigned(), c.asSigned) << c.value.describe().toStdString();
}

Value bitField(uint64_t payload, int size, int width) {
  Value v = Value::fromUnsigned(payload, size);
  v.setBitWidth(width);
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Integers, ValueConversion,
    testing::Values(ConversionCase{Value::fromBool(true), 1, 1},
                    ConversionCase{Value::fromBool(false), 0, 0},
                    ConversionCase{Value::fromSigned(-1), ~uint64_t{0}, -1},
                    ConversionCase{Value::fromSigned(-1, 4), 0xffffffff, -1},
                    ConversionCase{Value::fromSigned(0x80, 1), 0x80, -128},
                    ConversionCase{Value::fromSigned(0x7fff, 2), 0x7fff, 0x7fff},
                    ConversionCase{Value::fromSigned(0x12345678, 2), 0x5678, 0x5678},
                    ConversionCase{Value::fromUnsigned(0xff, 1), 0xff, -1},
                    ConversionCase{Value::fromUnsigned(0x1ff, 1), 0xff, -1},
                    ConversionCase{Value::fromUnsigned(0x80000000, 4), 0x80000000, INT32_MIN},
                    // A bit-field sign-extends from its width, not its size.
                    ConversionCase{bitField(0x8, 1, 4), 0x8, -8},
                    ConversionCase{bitField(0x7, 1, 4), 0x7, 7}));

INSTANTIATE_TEST_SUITE_P(
    FloatingPoint, ValueConversion,
    testing::Values(ConversionCase{Value::fromFloat(1.5), 0x3ff8000000000000, 1},
                    ConversionCase{Value::fromFloat(-1.9), 0xbffe666666666666, -1},
                    ConversionCase{Value::fromFloat(1.5, 4), 0x3fc00000, 1},
                    ConversionCase{Value::fromFloat(1e300, 4), 0x7f800000, INT64_MAX},
                    ConversionCase{Value::fromFloat(-1e300, 4), 0xff800000, INT64_MIN},
                    ConversionCase{Value::fromFloat(kInfinity), 0x7ff0000000000000, INT64_MAX},
                    ConversionCase{Value::fromFloat(-kInfinity), 0xfff0000000000000, INT64_MIN},
                    ConversionCase{Value::fromFloat(9.3e18), 0x43e02207973f6440, INT64_MAX},
                    ConversionCase{Value::fromFloat(-9223372036854775808.0), 0xc3e0000000000000,
                                   INT64_MIN},
                    ConversionCase{Value::fromFloat(kNaN), 0x7ff8000000000000, 0},
                    ConversionCase{Value::fromFloat(kNaN, 4), 0x7fc00000, 0}));

TEST(Value, TextOfEachKind) {
  EXPECT_EQ(Value::fromBool(true).toText(), QStringLiteral("1"));
  EXPECT_EQ(Value::fromSigned(-5, 1).toText(), QStringLiteral("-5"));
  EXPECT_EQ(Value::fromUnsigned(0xff, 1).toText(), QStringLiteral("255"));
  EXPECT_EQ(Value::fromFloat(0.1).toText(), QStringLiteral("0.1"));
  EXPECT_EQ(Value::fromString(QStringLiteral("x")).toText(), QStringLiteral("x"));
  EXPECT_EQ(Value().toText(), QString());
}

TEST(Value, KindsKeepTheirFixedNumbers) {
  EXPECT_EQ(static_cast<int>(Value::Kind::Bool), 0);
  EXPECT_EQ(static_cast<int>(Value::Kind::Reference), 4);
  EXPECT_EQ(static_cast<int>(Value::Kind::None), 6);
  EXPECT_EQ(Value().kind(), Value::Kind::None);
}

}  // namespace
