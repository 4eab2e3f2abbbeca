// Conversion of field text to integers and reals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>

#include "report/record_layout.hpp"

namespace btcfit {
namespace {

struct IntRead {
  std::string field;
  std::int32_t value;
};

void PrintTo(const IntRead& c, std::ostream* os) {
  *os << '"' << c.field << '"';
}

class FieldParseInt : public ::testing::TestWithParam<IntRead> {};

TEST_P(FieldParseInt, Value) {
  std::int32_t v = -999;
  ASSERT_TRUE(parse_integer_field(GetParam().field, v))
      << '"' << GetParam().field << '"';
  EXPECT_EQ(v, GetParam().value) << '"' << GetParam().field << '"';
}

INSTANTIATE_TEST_SUITE_P(
    FieldParseIntSet, FieldParseInt,
    ::testing::Values(IntRead{"", 0}, IntRead{"          ", 0},
                      IntRead{"        25", 25}, IntRead{"25        ", 25},
                      IntRead{"   1 5    ", 15}, IntRead{"        -7", -7},
                      IntRead{"        +7", 7}, IntRead{"  -  7    ", -7},
                      IntRead{"0000000003", 3},
                      IntRead{"2147483647", 2147483647},
                      IntRead{"-2147483648", -2147483647 - 1}));

class FieldParseIntBad : public ::testing::TestWithParam<std::string> {};

TEST_P(FieldParseIntBad, Rejected) {
  std::int32_t v = 0;
  EXPECT_FALSE(parse_integer_field(GetParam(), v)) << '"' << GetParam() << '"';
}

INSTANTIATE_TEST_SUITE_P(
    FieldParseIntBadSet, FieldParseIntBad,
    ::testing::Values("       1.0", "1E3", "1D3", "-", "+", "  -   ", "1-",
                      "--5", "+-5", "5x", "\t5", "5\t", std::string("5\0", 2),
                      "2147483648", "-2147483649", "99999999999999999999",
                      "1,000", "\r5"));

struct RealRead {
  std::string field;
  int decimals;
  double value;
};

void PrintTo(const RealRead& c, std::ostream* os) {
  *os << '"' << c.field << "\" with " << c.decimals << " decimals";
}

class FieldParseReal : public ::testing::TestWithParam<RealRead> {};

TEST_P(FieldParseReal, Value) {
  const RealRead& c = GetParam();
  double v = -999.0;
  ASSERT_TRUE(parse_real_field(c.field, c.decimals, v)) << '"' << c.field << '"';
  EXPECT_EQ(v, c.value) << '"' << c.field << '"';
}

INSTANTIATE_TEST_SUITE_P(
    FieldParseRealSet, FieldParseReal,
    ::testing::Values(
        RealRead{"       1.5", 0, 1.5}, RealRead{"        25", 0, 25.0},
        RealRead{"25        ", 0, 25.0}, RealRead{"          ", 0, 0.0},
        RealRead{"", 0, 0.0}, RealRead{"    1.5E-3", 0, 0.0015},
        RealRead{"1.5e-3", 0, 0.0015}, RealRead{"1.5D-3", 0, 0.0015},
        RealRead{"1.5d-3", 0, 0.0015}, RealRead{"1.5-3", 0, 0.0015},
        RealRead{"1.5+3", 0, 1500.0}, RealRead{"1.5E3", 0, 1500.0},
        RealRead{"1.5E+03", 0, 1500.0}, RealRead{" 1.5 E - 3", 0, 0.0015},
        RealRead{"-.5", 0, -0.5}, RealRead{"+.5", 0, 0.5},
        RealRead{"5.", 0, 5.0}, RealRead{"1 5", 0, 15.0},
        RealRead{"0.1", 0, 0.1}, RealRead{"0.62", 0, 0.62},
        RealRead{"500.0", 0, 500.0},
        // Implied decimals: without a point the last d digits are the
        // fraction; a written point overrides them.
        RealRead{"     12345", 2, 123.45}, RealRead{"     123.4", 2, 123.4},
        RealRead{"12345E1", 2, 1234.5}, RealRead{"-5", 3, -0.005},
        // Nearest double.
        RealRead{"9007199254740993", 0, 9007199254740992.0},
        RealRead{"0.30000000000000001665", 0, 0.3},
        // Underflow gives zero or a denormal.
        RealRead{"1E-400", 0, 0.0}, RealRead{"1E-99999999999", 0, 0.0},
        RealRead{"4.9406564584124654E-324", 0, 4.9406564584124654e-324},
        RealRead{"1.7976931348623157E308", 0, 1.7976931348623157e308}));

TEST(FieldParseRealSign, NegativeZeroKeepsSign) {
  double v = 1.0;
  ASSERT_TRUE(parse_real_field("-0.0", 0, v));
  EXPECT_EQ(v, 0.0);
  EXPECT_TRUE(std::signbit(v));
}

class FieldParseRealBad : public ::testing::TestWithParam<std::string> {};

TEST_P(FieldParseRealBad, Rejected) {
  double v = 0.0;
  EXPECT_FALSE(parse_real_field(GetParam(), 0, v)) << '"' << GetParam() << '"';
}

INSTANTIATE_TEST_SUITE_P(
    FieldParseRealBadSet, FieldParseRealBad,
    ::testing::Values("-", "+", ".", "-.", "E5", "1.5E", "1.5E+", "1.5-",
                      "1.2.3", "1.5E2.0", "1.5E-3x", "\t1.5", "1.5\t", "1,5",
                      "abc", "1.5Q3", "--1", "1E400", "1E99999999999",
                      "1.8E308", "0x10", "inf", "nan",
                      std::string("1\0", 2), "1.5EE3", "1.5E+-3"));

}  // namespace
}  // namespace btcfit
