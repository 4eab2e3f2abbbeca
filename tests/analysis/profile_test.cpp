// Profile-likelihood intervals: exact for a model linear in its
// coefficients, close to the linearized ones on the nearly linear NIST
// problem Misra1a, and cut at a bound that lies inside the interval.
#include "analysis/profile.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "analysis/refine.hpp"
#include "tests/analysis/nist.hpp"

namespace btcfit::stats {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// The least-squares fit of `model` from `start`, its statistics there and
// its profiles.
struct Fitted {
  Refinement refinement;
  FitStatistics statistics;
  Profiles profiles;
};

Fitted fit_and_profile(const Model& model, const std::vector<double>& observed,
                       const std::vector<double>& start, const std::vector<double>& lower,
                       const std::vector<double>& upper) {
  Fitted f;
  f.refinement = refine(model, observed, start, lower, upper);
  FitProblem problem;
  for (std::size_t k = 0; k < start.size(); ++k) problem.names.push_back("b" + std::to_string(k));
  problem.values = f.refinement.values;
  problem.observed = observed;
  f.statistics = compute_fit_statistics(model, problem);
  EXPECT_EQ(f.statistics.verdict, Verdict::Determined) << f.statistics.message;
  f.profiles = profile_intervals(model, observed, f.refinement.values, lower, upper,
                                 f.statistics.std_error);
  return f;
}

// For y = c0 + c1 x + c2 x² the profile of each coefficient is a parabola
// that crosses SSQ_min (1 + F(0.95; 1, ν)/ν) exactly at the linearized
// limits b ± t·se, since F(0.95; 1, ν) = t(0.975; ν)².
TEST(Profile, LinearModelGivesTheLinearizedInterval) {
  const std::vector<double> x = {-3, -2, -1, 0, 1, 2, 3, 4};
  const std::vector<double> y = {9.5, 4.2, 0.8, 0.1, 1.2, 3.9, 9.1, 16.4};
  const Model quad = [x](std::span<const double> c, std::span<double> out) {
    for (std::size_t i = 0; i < x.size(); ++i) out[i] = c[0] + c[1] * x[i] + c[2] * x[i] * x[i];
  };
  const std::vector<double> lower(3, -kInf), upper(3, kInf);
  const Fitted f = fit_and_profile(quad, y, {0.0, 0.0, 1.0}, lower, upper);
  EXPECT_NEAR(f.profiles.f_quantile, std::pow(f.statistics.t_quantile, 2), 1e-9);
  for (int k = 0; k < 3; ++k) {
    const CoefficientProfile& c = f.profiles.coefficients[k];
    ASSERT_TRUE(c.lower.found && c.upper.found) << k;
    EXPECT_FALSE(c.lower.at_bound || c.upper.at_bound) << k;
    const double half = f.statistics.ci_upper[k] - f.refinement.values[k];
    // Found to a relative 5e-4 of the limit: well inside 1e-3 of the width.
    EXPECT_NEAR(c.lower.value, f.statistics.ci_lower[k], 1e-3 * half) << k;
    EXPECT_NEAR(c.upper.value, f.statistics.ci_upper[k], 1e-3 * half) << k;
  }
}

// Misra1a, y = b1 (1 − exp(−b2 x)), is nearly linear about its optimum:
// from NIST's first starting point, the profile limits agree with the
// linearized ones to 3 significant digits (a relative 1e-3), and shifted
// by less than 4 % of the interval's half-width, both the same way.
TEST(Profile, NearlyLinearMisra1aAgreesWithLinearized) {
  const NistProblem nist = read_nist(nist_path("Misra1a"));
  const std::vector<double> lower(2, -kInf), upper(2, kInf);
  const Fitted f = fit_and_profile(nist_model("Misra1a", nist.x), nist.y, nist.start1, lower, upper);
  for (int k = 0; k < 2; ++k) {
    EXPECT_GT(agreeing_digits(f.refinement.values[k], nist.certified[k]), 6.0) << k;
    const CoefficientProfile& c = f.profiles.coefficients[k];
    const double half = f.statistics.ci_upper[k] - f.refinement.values[k];
    const double dl = (c.lower.value - f.statistics.ci_lower[k]) / half;
    const double du = (c.upper.value - f.statistics.ci_upper[k]) / half;
    std::printf("  b%d: profile [%.6g, %.6g], linearized [%.6g, %.6g] (%.2g, %.2g of the half-width)\n",
                k + 1, c.lower.value, c.upper.value, f.statistics.ci_lower[k],
                f.statistics.ci_upper[k], dl, du);
    EXPECT_LT(std::fabs(c.lower.value - f.statistics.ci_lower[k]),
              1e-3 * std::fabs(f.statistics.ci_lower[k])) << k;
    EXPECT_LT(std::fabs(c.upper.value - f.statistics.ci_upper[k]),
              1e-3 * std::fabs(f.statistics.ci_upper[k])) << k;
    EXPECT_LT(std::fabs(dl), 0.04) << k;
    EXPECT_LT(std::fabs(du), 0.04) << k;
    // Not identical: the model is not linear, and the profile sees it.
    EXPECT_GT(std::fabs(dl) + std::fabs(du), 1e-5) << k;
  }
  EXPECT_EQ(f.profiles.least_ssq, f.profiles.ssq_min);

  // The sides computed on two threads: the same limits, bit for bit.
  ProfileOptions two;
  two.threads = 2;
  const Profiles parallel =
      profile_intervals(nist_model("Misra1a", nist.x), nist.y, f.refinement.values, lower, upper,
                        f.statistics.std_error, two);
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(parallel.coefficients[k].lower.value, f.profiles.coefficients[k].lower.value);
    EXPECT_EQ(parallel.coefficients[k].upper.value, f.profiles.coefficients[k].upper.value);
  }
}

// A bound inside the interval cuts it, and says so; the other side is
// found as without the bound.
TEST(Profile, CutAtABoundInsideTheInterval) {
  const std::vector<double> x = {0, 1, 2, 3, 4, 5};
  const std::vector<double> y = {1.02, 2.95, 5.1, 6.9, 9.05, 11.0};
  const Model line = [x](std::span<const double> c, std::span<double> out) {
    for (std::size_t i = 0; i < x.size(); ++i) out[i] = c[0] + c[1] * x[i];
  };
  const std::vector<double> free_lower(2, -kInf), free_upper(2, kInf);
  const Fitted free = fit_and_profile(line, y, {0.0, 1.0}, free_lower, free_upper);
  const double slope = free.refinement.values[1];
  const double cut = 0.5 * (slope + free.profiles.coefficients[1].upper.value);
  const std::vector<double> upper = {kInf, cut};
  const Fitted bounded = fit_and_profile(line, y, {0.0, 1.0}, free_lower, upper);
  const CoefficientProfile& c = bounded.profiles.coefficients[1];
  EXPECT_TRUE(c.upper.at_bound);
  EXPECT_EQ(c.upper.value, cut);
  EXPECT_FALSE(c.lower.at_bound);
  EXPECT_NEAR(c.lower.value, free.profiles.coefficients[1].lower.value,
              1e-3 * std::fabs(slope));
}

}  // namespace
}  // namespace btcfit::stats
