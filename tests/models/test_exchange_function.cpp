// Goldstein's J function.
#include <gtest/gtest.h>

#include <cmath>

#include "models/exchange_function.hpp"

namespace btcfit {
namespace {

struct Case {
  const char* what;
  double a, b;
  double expected;  // seven significant digits
};

class ExchangeFunctionValues : public ::testing::TestWithParam<Case> {};

TEST_P(ExchangeFunctionValues, MatchesReference) {
  const Case& c = GetParam();
  SCOPED_TRACE(c.what);
  const double got = GOLD(c.a, c.b);
  if (c.expected == 0.0 || c.expected == 1.0) {
    EXPECT_EQ(got, c.expected);
  } else {
    // Half a unit in the seventh significant digit.
    const double unit = std::pow(10.0, std::floor(std::log10(c.expected)) - 6.0);
    EXPECT_NEAR(got, c.expected, 0.5 * unit);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExchangeFunctionValues,
    ::testing::Values(Case{"series, a >= b", 0.5, 0.2, 0.6628464},
                      Case{"series, a < b", 0.2, 0.5, 0.8846527},
                      Case{"expansion, a >= b", 12.0, 10.0, 0.3747741},
                      Case{"expansion, a < b", 10.0, 12.0, 0.7034921},
                      Case{"expansion, a = b", 7.5, 7.5, 0.5519497},
                      Case{"zero product, b = 0", 5.0, 0.0, 0.006737947},
                      Case{"zero product, a = 0", 0.0, 5.0, 1.0},
                      Case{"saturated, a >> b", 30.0, 1.0, 0.0},
                      Case{"saturated, a << b", 1.0, 30.0, 1.0}));

TEST(ExchangeFunction, ZeroProductUsesThePlainExponential) {
  // Not the guarded exponential: no 0.99999991 factor and no cut-off at 100
  // (as long as (sqrt a - sqrt b)^2 <= 17).
  for (double a : {0.0, 0.3, 5.0, 17.0}) {
    EXPECT_EQ(GOLD(a, 0.0), std::exp(-a));
  }
  EXPECT_EQ(GOLD(0.0, 17.0), 1.0);
  // A negative product counts as zero.
  EXPECT_EQ(GOLD(2.0, -0.5), std::exp(-2.0));
}

// Reference J by direct quadrature of its definition (composite Simpson on
// a fine grid); I0 from its power series.
double bessel_i0(double z) {
  double term = 1.0, sum = 1.0;
  const double q = 0.25 * z * z;
  for (int k = 1; k < 400 && term > 1e-18 * sum; ++k) {
    term *= q / (double(k) * k);
    sum += term;
  }
  return sum;
}

double j_by_quadrature(double a, double b) {
  const int n = 20000;
  const double h = a / n;
  auto f = [&](double xi) { return std::exp(-b - xi) * bessel_i0(2.0 * std::sqrt(b * xi)); };
  double s = f(0.0) + f(a);
  for (int i = 1; i < n; ++i) s += (i % 2 ? 4.0 : 2.0) * f(i * h);
  return 1.0 - s * h / 3.0;
}

TEST(ExchangeFunction, AgreesWithDefinitionOnAllBranches) {
  // The series stops on a relative test of 1e-8 and the expansion rests on
  // approximations good to a few 1e-7; 2e-6 absolute separates them from a
  // wrong term or a missed conversion.
  const double pts[][2] = {{0.5, 0.2},  {0.2, 0.5},  {3.0, 2.0},  {2.0, 3.0},
                           {6.0, 4.0},  {4.0, 6.0},  {12.0, 10.0}, {10.0, 12.0},
                           {7.5, 7.5},  {20.0, 15.0}, {15.0, 20.0}, {40.0, 30.0},
                           {30.0, 40.0}, {1.0, 9.0},  {9.0, 1.0},  {0.01, 3.0},
                           {3.0, 0.01}, {25.0, 2.0}, {2.0, 25.0}};
  for (const auto& p : pts) {
    SCOPED_TRACE(::testing::Message() << "J(" << p[0] << ", " << p[1] << ")");
    EXPECT_NEAR(GOLD(p[0], p[1]), j_by_quadrature(p[0], p[1]), 2e-6);
  }
}

TEST(ExchangeFunction, ComplementIdentity) {
  // J(a, b) + J(b, a) = 1 + exp(-a-b) I0(2 sqrt(ab)).
  const double pts[][2] = {{0.5, 0.2}, {3.0, 1.5}, {12.0, 10.0}, {7.0, 5.0}};
  for (const auto& p : pts) {
    const double a = p[0], b = p[1];
    const double rhs = 1.0 + std::exp(-a - b) * bessel_i0(2.0 * std::sqrt(a * b));
    EXPECT_NEAR(GOLD(a, b) + GOLD(b, a), rhs, 2e-6);
  }
}

TEST(ExchangeFunction, SaturationFollowsTheOrderOfTheArguments) {
  // d = (sqrt a - sqrt b)^2 just above 17.
  EXPECT_EQ(GOLD(18.0, 0.0001), 0.0);
  EXPECT_EQ(GOLD(0.0001, 18.0), 1.0);
  EXPECT_EQ(GOLD(100.0, 30.0), 0.0);  // d = 130 - 2 sqrt(3000) = 20.45
  EXPECT_EQ(GOLD(30.0, 100.0), 1.0);
  // d just below 17 is still computed.
  EXPECT_GT(GOLD(16.9, 0.0), 0.0);
  EXPECT_LT(GOLD(16.9, 0.0), 1e-7);
}

}  // namespace
}  // namespace btcfit
