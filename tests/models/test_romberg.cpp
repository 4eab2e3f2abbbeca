// Romberg quadrature in ln x: trapezoid sums, Richardson table as stopping
// test, no upper end term.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "models/romberg.hpp"

namespace btcfit {
namespace {

TEST(Romberg, ToleranceIsTheWidenedSingleValue) {
  EXPECT_EQ(romberg_detail::kTolerance, 4.999999873689376e-05);
}

TEST(Romberg, EmptyOrReversedIntervalMakesNoCall) {
  for (auto [A, B] : {std::pair{1.0, 1.0}, std::pair{2.0, 1.0},
                      std::pair{5.0, 0.5}}) {
    int calls = 0;
    double S = 99.0;
    ROMB([&](double) { ++calls; return 1.0; }, S, A, B);
    EXPECT_EQ(S, 0.0);
    EXPECT_EQ(calls, 0);
  }
}

TEST(Romberg, ZeroIntegrandStopsAfterFourPasses) {
  int calls = 0;
  double S = 99.0;
  ROMB([&](double) { ++calls; return 0.0; }, S, 0.01, 100.0);
  EXPECT_EQ(S, 0.0);
  EXPECT_EQ(calls, 16);
}

TEST(Romberg, InverseOnOneToEStopsAfterPassFive) {
  // x*F(x) = 1 and H = 1: level sums 1 - 2^-i, short by the upper end term.
  int calls = 0;
  double S = 0.0;
  ROMB([&](double x) { ++calls; return 1.0 / x; }, S, 1.0, std::exp(1.0));
  EXPECT_NEAR(S, 0.984375, 1e-15);
  EXPECT_EQ(calls, 32);
}

TEST(Romberg, EvaluatesAtMidpointsInIncreasingOrderNeverAtB) {
  std::vector<double> xs;
  double S = 0.0;
  const double A = 0.5, B = 8.0;
  ROMB([&](double x) { xs.push_back(x); return 1.0 / x; }, S, A, B);
  ASSERT_GE(xs.size(), 4u);
  EXPECT_EQ(xs[0], A);
  const double H = std::log(B) - std::log(A);
  // Pass 1: the midpoint of ln A .. ln B; pass 2: quarter points.
  EXPECT_NEAR(std::log(xs[1]), std::log(A) + H / 2.0, 1e-14);
  EXPECT_NEAR(std::log(xs[2]), std::log(A) + H / 4.0, 1e-14);
  EXPECT_NEAR(std::log(xs[3]), std::log(A) + 3.0 * H / 4.0, 1e-14);
  EXPECT_LT(xs[2], xs[3]);
  for (double x : xs) {
    EXPECT_GE(x, A);
    EXPECT_LT(x, B);
  }
}

TEST(Romberg, NonConvergingIntegrandStopsAfterEightPasses) {
  // An integrand that doubles with every evaluation: each level's sum
  // swamps the one before, the two best extrapolations differ by about
  // 1/(4^p - 1) relative, above the tolerance up to pass 7, so the routine
  // runs all 8 passes and returns the level-9 sum silently. A negative best
  // estimate, on the other hand, stops at once after pass 4.
  int calls = 0;
  double S = 0.0;
  ROMB([&](double x) { ++calls; return std::ldexp(1.0, calls) / x; }, S, 1.0,
       std::exp(1.0));
  EXPECT_EQ(calls, 256);
  EXPECT_TRUE(std::isfinite(S));
  EXPECT_GT(S, std::ldexp(1.0, 255) / 256.0);
  calls = 0;
  ROMB([&](double) { ++calls; return -1.0; }, S, 1.0, 10.0);
  EXPECT_EQ(calls, 16);
  EXPECT_LT(S, 0.0);
}

TEST(Romberg, ReturnsTrapezoidSumNotExtrapolation) {
  // x*F(x) = x on [1, 2]: after the final level the extrapolated value would
  // be (nearly) the integral of e^u over [0, ln 2] = 1, but the trapezoid
  // sum without the upper end term falls short by about h/2 * 2.
  int calls = 0;
  double S = 0.0;
  ROMB([&](double) { ++calls; return 1.0; }, S, 1.0, 2.0);
  const int passes = [&] {
    int p = 0, c = 1;
    while (c < calls) c += 1 << p++;
    return p;
  }();
  ASSERT_EQ(1 + ((1 << passes) - 1), calls);
  // Reconstruct the level sum directly.
  const double H = std::log(2.0);
  const int panels = 1 << passes;
  const double h = H / panels;
  double sum = 0.5;
  for (int m = 1; m < panels; ++m) sum += std::exp(m * h);
  EXPECT_NEAR(S, h * sum, 1e-14);
  EXPECT_LT(S, 1.0 - 0.5 * h);
}

TEST(Romberg, SmoothIntegrandIsClose) {
  // The missing upper end term is 0.5*h*B*F(B); add it back to compare
  // against the exact integral of a smooth function.
  double S = 0.0;
  const double A = 0.1, B = 3.0;
  auto f = [](double x) { return std::exp(-x) * x; };
  ROMB(f, S, A, B);
  const double exact = (1.0 + A) * std::exp(-A) - (1.0 + B) * std::exp(-B);
  EXPECT_LT(S, exact);
  EXPECT_NEAR(S, exact, 0.05 * exact);
}

// Given F(A), the computation does not ask for it and ends with the sum
// it gives when it evaluates F(A) itself: the value handed in is the one
// summed, and only where the request would have held A.
TEST(Romberg, ValueAtTheLowerEndHandedInIsNotAskedFor) {
  auto f = [](double x) { return std::exp(-x) * x; };
  for (const auto& [A, B] : {std::pair{0.1, 3.0}, std::pair{0.5, 8.0}, std::pair{1.0, 1.5}}) {
    SCOPED_TRACE(testing::Message() << A << ' ' << B);
    std::vector<double> asked, asked_given;
    double S = 0.0, S_given = 0.0;
    run_steps(romberg_steps(S, A, B), [&](const ValueRequest& r) {
      for (int i = 0; i < r.n; ++i) {
        asked.push_back(r.v[i]);
        r.f[i] = f(r.v[i]);
      }
    });
    const double FA = f(A);
    run_steps(romberg_steps(S_given, A, B, &FA), [&](const ValueRequest& r) {
      for (int i = 0; i < r.n; ++i) {
        asked_given.push_back(r.v[i]);
        r.f[i] = f(r.v[i]);
      }
    });
    EXPECT_EQ(S_given, S);
    ASSERT_EQ(asked_given.size() + 1, asked.size());
    EXPECT_EQ(asked[0], A);
    EXPECT_TRUE(std::equal(asked_given.begin(), asked_given.end(), asked.begin() + 1));
    // A different value at A changes the sum: the one handed in is used.
    const double other = 2.0 * FA;
    double S_other = 0.0;
    run_steps(romberg_steps(S_other, A, B, &other),
              [&](const ValueRequest& r) {
                for (int i = 0; i < r.n; ++i) r.f[i] = f(r.v[i]);
              });
    EXPECT_NE(S_other, S);
  }
}

}  // namespace
}  // namespace btcfit
