// The stream-tube integrand CAVG and LIMIT on it.
#include <gtest/gtest.h>

#include <cmath>

#include "models/equilibrium.hpp"
#include "models/stochastic.hpp"
#include "test_stochastic_setup.hpp"
#include "problem/model_traits.hpp"

namespace btcfit {
namespace {

using stochastic_test::Coefs;
using stochastic_test::make_problem;
using stochastic_test::opaque;
using stochastic_test::Problem;

constexpr double kSqrt2Pi = 2.5066282746310002;        // sqrt(2 pi)
constexpr double kSqrt2PiSingle = 2.5066299438476562;  // as the program has it

// Working fields as begin_stochastic leaves them, for an observation at
// (x, t). Filled by hand here so that CAVG is tested on its own.
Problem tube_problem(int code, const Coefs& c, double CI, double C0,
                     std::initializer_list<stochastic_test::Pulse> pulses,
                     double last_end, double x, double t) {
  Problem pr = make_problem(code, c, CI, C0, pulses, last_end);
  ModelWork& w = pr.w;
  w.PAR5 = c.mu / c.R;
  w.PAR6 = c.gamma / c.R;
  w.SIGMA = c.sigma;
  w.VLNMU = std::log(opaque(c.v)) - 0.5 * c.sigma * c.sigma;
  w.ALPHA = c.alpha;
  if (code >= 7) w.TMLOAD = c.b4 / C0;
  if (pr.p.NPULSE > 1 && code < 7) w.C0 = pr.p.CPULSE[1];
  w.MODE = code;
  w.XCUR = x;
  w.TCUR = t;
  return pr;
}

// One pulse of the tube solution at velocity v: MOD12 with the tube's
// velocity v/R and dispersion alpha v/R.
double tube_pulse(ModelWork w, const Coefs& c, double v, double CI, double C0,
                  double T0, double tau) {
  w.VELO = v / c.R;
  w.DISP = c.alpha * w.VELO;
  w.CI = CI;
  w.C0 = C0;
  w.TPUL = T0;
  double Y = 0.0;
  MOD12(w, Y, w.XCUR, tau);
  return Y;
}

// The exact log-normal density, without cap.
double density(const Coefs& c, double v) {
  const double mu = std::log(c.v) - 0.5 * c.sigma * c.sigma;
  const double d = std::log(v) - mu;
  return std::exp(-d * d / (2.0 * c.sigma * c.sigma)) /
         (kSqrt2Pi * c.sigma * v);
}

TEST(StochasticAverage, SinglePulseIsTubeSolutionTimesDensity) {
  const Coefs c{};
  for (int code : {5, 6}) {
    for (double v : {0.7, 0.8, 1.0, 1.3, 2.2}) {
      SCOPED_TRACE(testing::Message() << "code " << code << " v " << v);
      Problem pr = tube_problem(code, c, 0.0, 1.0, {}, 0.0, 8.0, 12.0);
      const double S = tube_pulse(pr.w, c, v, 0.0, 1.0, c.b4, 12.0);
      ASSERT_GT(S, 1e-6);
      double expected = S * density(c, v);
      if (code == 6) expected *= v;
      const double got = CAVG(pr.w, pr.p, v);
      // The density uses the single-precision value of sqrt(2 pi).
      EXPECT_NEAR(got / expected, kSqrt2Pi / kSqrt2PiSingle, 1e-13);
      EXPECT_EQ(pr.w.VELO, v / c.R);
      EXPECT_EQ(pr.w.DISP, c.alpha * (v / c.R));
      EXPECT_EQ(pr.w.TPUL, c.b4);  // untouched for pulse input
    }
  }
}

TEST(StochasticAverage, DensityExponentIsCappedAt100) {
  // A pulse long enough that the tube holds C0 at every velocity used.
  Coefs c{};
  c.b4 = 500.0;
  const double mu = std::log(c.v) - 0.5 * c.sigma * c.sigma;
  struct Row {
    double dev;   // ln v - mu, in units of sigma
    bool capped;  // dev^2 / 2 > 100
  };
  for (Row r : {Row{3.0, false}, Row{14.0, false}, Row{14.2, true},
                Row{15.0, true}, Row{20.0, true}}) {
    SCOPED_TRACE(r.dev);
    const double v = std::exp(mu + r.dev * c.sigma);
    Problem pr = tube_problem(5, c, 0.0, 1.0, {}, 0.0, 8.0, 300.0);
    const double S = tube_pulse(pr.w, c, v, 0.0, 1.0, c.b4, 300.0);
    ASSERT_NEAR(S, 1.0, 1e-6);
    const double exponent = r.capped ? 100.0 : 0.5 * r.dev * r.dev;
    const double expected =
        S * std::exp(-exponent) / (kSqrt2PiSingle * c.sigma * v);
    EXPECT_NEAR(CAVG(pr.w, pr.p, v) / expected, 1.0, 1e-12);
  }
}

TEST(StochasticAverage, NegativeTubeSumCountsAsZero) {
  // Negative production: tubes the solute has not reached go below zero.
  Coefs c{};
  c.mu = 0.01;
  c.gamma = -0.01;
  Problem pr = tube_problem(5, c, 0.0, 1.0, {}, 0.0, 8.0, 6.0);
  const double v = 0.3;
  ASSERT_LT(tube_pulse(pr.w, c, v, 0.0, 1.0, c.b4, 6.0), 0.0);
  EXPECT_EQ(CAVG(pr.w, pr.p, v), 0.0);
  // Where the pulse has arrived the sum is positive and kept.
  EXPECT_GT(CAVG(pr.w, pr.p, 2.0), 0.0);
}

// Codes 5 and 6, three pulses, the second of clean water: it is skipped
// (with production, a call for it would add a production term), later
// pulses still count, CI enters only through the first pulse, and C0 keeps
// the concentration of the last pulse looked at.
TEST(StochasticAverage, CleanWaterPulseIsSkipped) {
  Coefs c{};
  c.gamma = 0.02;
  const double CI = 0.2;
  for (int code : {5, 6}) {
    // Pulse 3 starts at 4; C0 is set to 0.5 before its start is tested.
    for (double t : {3.0, 5.0, 9.0}) {
      SCOPED_TRACE(testing::Message() << "code " << code << " t " << t);
      Problem pr = tube_problem(
          code, c, CI, 1.0, {{0.0, 1.0}, {2.0, 0.0}, {4.0, 0.5}}, 6.0, 8.0, t);
      const double v = 1.1;
      double S = tube_pulse(pr.w, c, v, CI, 1.0, 2.0, t);
      if (t > 4.0) S += tube_pulse(pr.w, c, v, 0.0, 0.5, 2.0, t - 4.0);
      double expected = S * density(c, v) * (kSqrt2Pi / kSqrt2PiSingle);
      if (code == 6) expected *= v;
      EXPECT_NEAR(CAVG(pr.w, pr.p, v) / expected, 1.0, 1e-13);
      EXPECT_EQ(pr.w.CI, CI);
      EXPECT_EQ(pr.w.C0, 0.5);
    }
  }
}

// Codes 7 and 8, one input: the input lasts TMLOAD/v in the tube of
// velocity v.
TEST(StochasticAverage, SoluteLoadLastsLongerInSlowTubes) {
  Coefs c{};
  c.b4 = 1.5;
  for (int code : {7, 8}) {
    for (double v : {0.5, 1.0, 2.0}) {
      SCOPED_TRACE(testing::Message() << "code " << code << " v " << v);
      Problem pr = tube_problem(code, c, 0.0, 2.0, {}, 0.0, 8.0, 12.0);
      const double TMLOAD = pr.w.TMLOAD;
      ASSERT_EQ(TMLOAD, 0.75);
      const double S = tube_pulse(pr.w, c, v, 0.0, 2.0, TMLOAD / v, 12.0);
      ASSERT_GT(S, 1e-6);
      double expected = S * density(c, v) * (kSqrt2Pi / kSqrt2PiSingle);
      if (code == 8) expected *= v;
      EXPECT_NEAR(CAVG(pr.w, pr.p, v) / expected, 1.0, 1e-13);
      EXPECT_EQ(pr.w.TPUL, TMLOAD / v);
      EXPECT_EQ(pr.w.C0, 2.0);
    }
  }
}

// Codes 7 and 8, two inputs: input j lasts CPULSE(j)/(C0 v); C0 stays.
// At t = 12, the time of the second input, the pulse loop ends: the result
// holder is not cleared between loads, so going on would count the first
// load twice.
TEST(StochasticAverage, SeveralSoluteLoads) {
  Coefs c{};
  c.b4 = 1.0;
  const double CI = 0.1;
  for (int code : {7, 8}) {
    for (double t : {6.0, 12.0, 20.0}) {
      SCOPED_TRACE(testing::Message() << "code " << code << " t " << t);
      Problem pr = tube_problem(code, c, CI, 2.0, {{1.0, 1.0}, {12.0, 1.5}},
                                0.0, 8.0, t);
      const double v = 0.9;
      double S = tube_pulse(pr.w, c, v, CI, 2.0, 1.0 / (2.0 * v), t - 1.0);
      if (t > 12.0)
        S += tube_pulse(pr.w, c, v, 0.0, 2.0, 1.5 / (2.0 * v), t - 12.0);
      double expected = S * density(c, v) * (kSqrt2Pi / kSqrt2PiSingle);
      if (code == 8) expected *= v;
      EXPECT_NEAR(CAVG(pr.w, pr.p, v) / expected, 1.0, 1e-13);
      EXPECT_EQ(pr.w.C0, 2.0);
      EXPECT_EQ(pr.w.CI, CI);
    }
  }
}

// An observation before the first input: every tube holds nothing, the
// lower scan finds no point and the range is empty.
TEST(StochasticAverage, ObservationBeforeFirstInputGivesEmptyRange) {
  Coefs c{};
  c.b4 = 1.0;
  for (double t : {3.0, 5.0}) {
    SCOPED_TRACE(t);
    Problem pr =
        tube_problem(7, c, 0.0, 1.0, {{5.0, 1.0}, {9.0, 1.0}}, 0.0, 8.0, t);
    for (double v : {0.3, 1.0, 3.0}) EXPECT_EQ(CAVG(pr.w, pr.p, v), 0.0);
    const double VMAX = 3.0;
    double VLO = 0.4;
    double VHI = -7.0;
    LIMIT(pr.w, pr.p, VLO, VHI, VMAX, 1e-6);
    const double F = std::pow(opaque(VMAX / 0.4), double(0.1f));
    double v = 0.4;
    for (int i = 0; i < 11; ++i) v = v * F;
    EXPECT_EQ(VLO, v);
    EXPECT_EQ(VHI, VLO);
  }
}

TEST(StochasticAverage, LimitWithGuessAtOrAboveVmaxChangesNothing) {
  const Coefs c{};
  Problem pr = tube_problem(5, c, 0.0, 1.0, {}, 0.0, 8.0, 10.0);
  const ModelWork before = pr.w;
  double VLO = 3.0;
  double VHI = -7.0;
  LIMIT(pr.w, pr.p, VLO, VHI, 3.0, 1e-6);
  EXPECT_EQ(VLO, 3.0);
  EXPECT_EQ(VHI, -7.0);
  EXPECT_EQ(pr.w.VELO, before.VELO);  // no integrand evaluation
}

// LIMIT brackets the integrand: the range holds its peak, and at the
// limits the integrand is small beside the peak.
TEST(StochasticAverage, LimitBracketsThePeak) {
  const Coefs c{};
  for (double t : {6.0, 10.0, 20.0}) {
    SCOPED_TRACE(t);
    Problem pr = tube_problem(5, c, 0.0, 1.0, {}, 0.0, 8.0, t);
    const double VMIN = std::exp(pr.w.VLNMU - double(3.9f) * c.sigma);
    const double VMAX = std::exp(pr.w.VLNMU + double(3.9f) * c.sigma);
    double VLO = VMIN;
    double VHI = 0.0;
    LIMIT(pr.w, pr.p, VLO, VHI, VMAX, 1e-6);
    ASSERT_LT(VLO, VHI);
    double peak = 0.0;
    double vpeak = 0.0;
    for (int i = 0; i <= 2000; ++i) {
      const double v = VMIN / 2.0 * std::pow(4.0 * VMAX / VMIN, i / 2000.0);
      const double g = CAVG(pr.w, pr.p, v);
      if (g > peak) {
        peak = g;
        vpeak = v;
      }
    }
    EXPECT_GT(vpeak, VLO);
    EXPECT_LT(vpeak, VHI);
    EXPECT_LT(CAVG(pr.w, pr.p, VLO), 1e-4 * peak);
    EXPECT_LT(CAVG(pr.w, pr.p, VHI), 1e-4 * peak);
  }
}

}  // namespace
}  // namespace btcfit
