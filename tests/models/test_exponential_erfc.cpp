// exp(A)*erfc(B) with its fixed guards.
#include <gtest/gtest.h>

#include <cmath>

#include "models/exponential_erfc.hpp"

namespace btcfit {
namespace {

// The rational approximation at X = 0 (t = 1) with the single-precision
// coefficients widened to double: a1 - a2 + a3 - a4 + a5.
constexpr double kErfcZero = 0.9999999105930328;

TEST(ExponentialErfc, ZeroArgumentsGiveTheWidenedPolynomialValue) {
  EXPECT_NEAR(EXF(0.0, 0.0), kErfcZero, 1e-16);
  EXPECT_NE(EXF(0.0, 0.0), 1.0);
  const double widened = double(0.2548296f) - double(0.2844967f) +
                         double(1.421414f) - double(1.453152f) +
                         double(1.061405f);
  EXPECT_NEAR(EXF(0.0, 0.0), widened, 1e-16);
}

TEST(ExponentialErfc, GuardedExponentialIsScaledByErfcZero) {
  for (double a : {-100.0, -37.5, -1.0, 0.25, 3.0, 42.0, 100.0}) {
    SCOPED_TRACE(a);
    EXPECT_NEAR(EXF(a, 0.0) / std::exp(a), kErfcZero, 2e-16);
  }
}

struct Case {
  double A;
  double B;
  double expected;
  double rel_tol;  // half a unit in the last digit given
};

class ExponentialErfcValues : public ::testing::TestWithParam<Case> {};

TEST_P(ExponentialErfcValues, MatchesReference) {
  const Case& c = GetParam();
  const double got = EXF(c.A, c.B);
  if (c.expected == 0.0) {
    EXPECT_EQ(got, 0.0);
  } else {
    EXPECT_NEAR(got, c.expected, c.rel_tol * std::fabs(c.expected));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExponentialErfcValues,
    ::testing::Values(
        // Exponent outside the window with B <= 0: 0, even for A = 101.
        Case{-101.0, 0.0, 0.0, 0.0}, Case{101.0, 0.0, 0.0, 0.0},
        Case{0.0, 1.0, 0.15729933, 0.5e-8 / 0.15729933},
        Case{0.0, -1.0, 1.84270067, 0.5e-8 / 1.84270067},
        Case{2.0, 1.0, 1.16229357, 0.5e-8 / 1.16229357},
        Case{1.0, -0.5, 4.13314751, 0.5e-8 / 4.13314751},
        // Polynomial branch at the switch point, continued fraction beyond.
        Case{0.0, 3.0, 2.21051534e-5, 0.5e-8 / 2.21051534},
        Case{0.0, 3.5, 7.4309353e-7, 0.5e-7 / 7.4309353},
        // A alone beyond the window, W = -1 inside it.
        Case{120.0, 11.0, 0.0187915016, 0.5e-9 / 0.0187915016},
        // W = -110.25 with B >= 0.
        Case{0.0, 10.5, 0.0, 0.0},
        // W = -71: exp(W)*F vanishes beside 2*exp(A).
        Case{50.0, -11.0, 1.0369411e22, 0.5e-7 / 1.0369411},
        // W = -114 < -100: only 2*exp(A) remains.
        Case{-50.0, -8.0, 3.8574997e-22, 0.5e-7 / 3.8574997}));

TEST(ExponentialErfc, NegativeArgumentIsTheComplement) {
  for (double b : {0.1, 0.7, 1.0, 2.9, 3.0, 3.2, 6.0}) {
    SCOPED_TRACE(b);
    EXPECT_NEAR(EXF(0.0, b) + EXF(0.0, -b), 2.0, 1e-15);
  }
}

TEST(ExponentialErfc, ExactForms) {
  // Step 8 when step 7 was skipped: exactly 2*exp(A).
  EXPECT_EQ(EXF(-50.0, -8.0), 2.0 * std::exp(-50.0));
  EXPECT_EQ(EXF(50.0, -11.0), 2.0 * std::exp(50.0));
  // W > 100 with B >= 0 also gives 0, although the true value is huge.
  EXPECT_EQ(EXF(110.0, 0.5), 0.0);
  // Just inside the window on both sides.
  EXPECT_GT(EXF(100.0, 0.0), 0.0);
  EXPECT_GT(EXF(-100.0, 0.0), 0.0);
}

TEST(ExponentialErfc, ApproximatesErfcWithinTheRationalError) {
  // Abramowitz and Stegun 7.1.26 is good to 1.5e-7 absolute in erfc; the
  // continued fraction is better still beyond 3.
  for (double b = -4.0; b <= 6.0; b += 0.125) {
    SCOPED_TRACE(b);
    EXPECT_NEAR(EXF(0.0, b), std::erfc(b), 2e-7);
    EXPECT_NEAR(EXF(b * b, b), std::exp(b * b) * std::erfc(b),
                2e-7 * std::exp(b * b));
  }
  // Large arguments: relative accuracy of exp(X^2) erfc(X).
  for (double b : {3.5, 5.0, 8.0, 9.5}) {
    SCOPED_TRACE(b);
    const double scaled = std::exp(b * b) * std::erfc(b);
    EXPECT_NEAR(EXF(b * b, b) / scaled, 1.0, 1e-3);
  }
}

}  // namespace
}  // namespace btcfit
