// Text of single integer and fixed-point fields.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

#include "report/record_layout.hpp"

namespace btcfit {
namespace {

struct IntCase {
  std::int32_t value;
  int width;
  const char* text;
};

void PrintTo(const IntCase& c, std::ostream* os) {
  *os << c.value << " in I" << c.width;
}

class FieldFormatInt : public ::testing::TestWithParam<IntCase> {};

TEST_P(FieldFormatInt, Text) {
  const IntCase& c = GetParam();
  EXPECT_EQ(format_integer_field(c.value, c.width), c.text)
      << c.value << " in I" << c.width;
}

INSTANTIATE_TEST_SUITE_P(
    FieldFormatIntSet, FieldFormatInt,
    ::testing::Values(IntCase{100000, 5, "*****"}, IntCase{7, 2, " 7"},
                      IntCase{0, 3, "  0"}, IntCase{99999, 5, "99999"},
                      IntCase{-1234, 5, "-1234"}, IntCase{-1234, 4, "****"},
                      IntCase{-1, 1, "*"}, IntCase{12, 10, "        12"},
                      IntCase{std::numeric_limits<std::int32_t>::min(), 11,
                              "-2147483648"},
                      IntCase{std::numeric_limits<std::int32_t>::min(), 10,
                              "**********"},
                      IntCase{std::numeric_limits<std::int32_t>::max(), 10,
                              "2147483647"}));

struct RealCase {
  double value;
  int width;
  int decimals;
  const char* text;
};

void PrintTo(const RealCase& c, std::ostream* os) {
  *os << c.value << " in F" << c.width << "." << c.decimals;
}

class FieldFormatReal : public ::testing::TestWithParam<RealCase> {};

TEST_P(FieldFormatReal, Text) {
  const RealCase& c = GetParam();
  EXPECT_EQ(format_real_field(c.value, c.width, c.decimals), c.text)
      << c.value << " in F" << c.width << "." << c.decimals;
}

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    FieldPlain, FieldFormatReal,
    ::testing::Values(
        RealCase{0.5, 12, 4, "      0.5000"},
        RealCase{-1234567.5, 12, 4, "************"},
        RealCase{-1234567.5, 13, 4, "-1234567.5000"},
        RealCase{0.000123456, 10, 6, "  0.000123"},
        RealCase{12.345678, 9, 5, " 12.34568"},
        RealCase{25.0, 12, 4, "     25.0000"},
        RealCase{1.0e8, 12, 4, "************"},
        RealCase{1.0e8, 14, 4, "100000000.0000"},
        RealCase{-3.25, 8, 2, "   -3.25"},
        RealCase{0.0, 13, 4, "       0.0000"},
        RealCase{-0.0, 13, 4, "      -0.0000"},
        RealCase{-0.0, 6, 4, "-.0000"},
        RealCase{1.0e300, 13, 4, "*************"},
        RealCase{1.0e22, 25, 0, " 10000000000000000000000."},
        RealCase{0.1, 25, 20, "   0.10000000000000000555"},
        RealCase{0.5, 12, 10, "0.5000000000"}));

// Leading zero before the point: written when there is room, left out
// when there is not.
INSTANTIATE_TEST_SUITE_P(
    FieldLeadingZero, FieldFormatReal,
    ::testing::Values(RealCase{0.5, 6, 4, "0.5000"},
                      RealCase{0.5, 5, 4, ".5000"},
                      RealCase{0.5, 4, 4, "****"},
                      RealCase{-0.5, 7, 4, "-0.5000"},
                      RealCase{-0.5, 6, 4, "-.5000"},
                      RealCase{-0.5, 5, 4, "*****"},
                      RealCase{0.3, 5, 0, "   0."},
                      RealCase{0.3, 2, 0, "0."},
                      RealCase{0.3, 1, 0, "*"},
                      RealCase{0.999, 4, 2, "1.00"},
                      RealCase{0.9999, 5, 3, "1.000"},
                      RealCase{0.9999, 4, 3, "****"}));

// Rounding works on the exact binary value; an exact tie goes away from
// zero; a negative value rounding to zero keeps its sign.
INSTANTIATE_TEST_SUITE_P(
    FieldRounding, FieldFormatReal,
    ::testing::Values(
        RealCase{0.125, 5, 2, " 0.13"},     // exact tie
        RealCase{-0.125, 6, 2, " -0.13"},   // exact tie
        RealCase{0.375, 5, 2, " 0.38"},     // exact tie
        RealCase{2.5, 4, 0, "  3."},        // exact tie
        RealCase{3.5, 4, 0, "  4."},        // exact tie
        RealCase{-2.5, 4, 0, " -3."},       // exact tie
        RealCase{0.5, 3, 0, " 1."},         // exact tie
        RealCase{2.675, 5, 2, " 2.67"},     // just below 2.675 in binary
        RealCase{1.005, 5, 2, " 1.00"},     // just below 1.005 in binary
        RealCase{0.15, 4, 1, " 0.1"},       // just below 0.15 in binary
        RealCase{0.35, 4, 1, " 0.3"},       // just below 0.35 in binary
        RealCase{0.45, 4, 1, " 0.5"},       // just above 0.45 in binary
        RealCase{9.999, 6, 2, " 10.00"},
        RealCase{99.999, 5, 2, "*****"},
        RealCase{-0.00001, 7, 4, "-0.0000"},
        RealCase{-0.00001, 6, 4, "-.0000"},
        RealCase{-0.0, 7, 4, "-0.0000"},
        RealCase{4.9406564584124654e-324, 8, 4, "  0.0000"},
        RealCase{-4.9406564584124654e-324, 8, 4, " -0.0000"},
        RealCase{0.00005, 7, 4, " 0.0001"}));  // just above 0.00005

INSTANTIATE_TEST_SUITE_P(
    FieldNonFinite, FieldFormatReal,
    ::testing::Values(RealCase{kNaN, 10, 4, "       NaN"},
                      RealCase{kNaN, 3, 1, "NaN"},
                      RealCase{kNaN, 2, 1, "**"},
                      RealCase{kInf, 10, 4, "  Infinity"},
                      RealCase{kInf, 8, 4, "Infinity"},
                      RealCase{kInf, 7, 4, "    Inf"},
                      RealCase{kInf, 3, 1, "Inf"},
                      RealCase{kInf, 2, 1, "**"},
                      RealCase{-kInf, 10, 4, " -Infinity"},
                      RealCase{-kInf, 9, 4, "-Infinity"},
                      RealCase{-kInf, 8, 4, "    -Inf"},
                      RealCase{-kInf, 4, 1, "-Inf"},
                      RealCase{-kInf, 3, 1, "***"}));

}  // namespace
}  // namespace btcfit
