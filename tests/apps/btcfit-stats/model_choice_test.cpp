// Which model the data support: synthetic breakthrough curves made with
// btcfit::evaluate from a known set plus seeded Gaussian noise, fitted by
// the local refinement from a good starting point (the truth, or for the
// model that did not make the data a plausible set), then compared by
// Akaike weights and the F test; and which pairs of fits count as nested.
//
// The engine's nonequilibrium solution at BETA = 1 (which it caps at
// 0.9999) does not coincide with its equilibrium solution of the same V, D,
// R and T0 (up to 0.03 apart for this column), so the nonequilibrium fit
// of equilibrium data can be worse than the equilibrium fit; the
// equilibrium test asserts the Akaike weights only.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <random>
#include <vector>

#include "btcfit/btcfit.hpp"
#include "analysis/criteria.hpp"
#include "apps/btcfit-stats/deck_analysis.hpp"
#include "analysis/fit_statistics.hpp"
#include "analysis/profile.hpp"
#include "analysis/refine.hpp"

namespace btcfit::stats {
namespace {

// Standard normal deviates by the Box-Muller transform of mt19937_64
// output: the same numbers with every standard library.
class Normal {
 public:
  explicit Normal(std::uint64_t seed) : engine_(seed) {}
  double operator()() {
    const auto uniform = [this] { return (double(engine_() >> 11) + 0.5) * 0x1p-53; };
    const double u1 = uniform(), u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
  }

 private:
  std::mt19937_64 engine_;
};

// A column of length 25 observed at the outflow at 30 times from 0.5 to
// 15, a pulse of duration 3; V = 10 fixed. Model codes 2 (equilibrium,
// flux) and 4 (nonequilibrium, flux).
Problem column(btcfit::Model model, const std::vector<double>& set) {
  Problem p;
  p.model = model;
  const bool noneq = model == btcfit::Model::nonequilibrium_flux;
  const char* names[6] = {"V", "D", "R", "T0", noneq ? "BETA" : "MU", noneq ? "OMEGA" : "GAMMA"};
  const double lower[6] = {1, 1, 1, 0, noneq ? 0.05 : 0.0, noneq ? 0.01 : 0.0};
  const double upper[6] = {50, 200, 8, 5, 1, noneq ? 5.0 : 1.0};
  const bool varied[6] = {false, true, true, false, noneq, noneq};
  for (int k = 0; k < 6; ++k) {
    p.coefficients.push_back({names[k], set[k], lower[k], upper[k], varied[k]});
  }
  for (int i = 1; i <= 30; ++i) p.observations.push_back({0.0, 25.0, 0.5 * i});
  p.initial_concentration = 0.0;
  p.input_concentration = 1.0;
  return check_problem(p);
}

std::vector<double> noisy(const Problem& p, const std::vector<double>& truth, double sigma,
                          std::uint64_t seed) {
  std::vector<double> c = evaluate(p, truth);
  Normal normal(seed);
  for (double& v : c) v += sigma * normal();
  return c;
}

// The varied coefficients of `p` refined against `observed` from `start`;
// `set` receives the refined set (all coefficients).
ComparedFit refined(const Problem& p, const std::vector<double>& full_start,
                    const std::vector<double>& observed, std::vector<double>* set = nullptr) {
  std::vector<int> varied;
  std::vector<double> start, lower, upper;
  for (int k = 0; k < 6; ++k) {
    if (!p.coefficients[k].varied) continue;
    varied.push_back(k);
    start.push_back(full_start[k]);
    lower.push_back(p.coefficients[k].lower);
    upper.push_back(p.coefficients[k].upper);
  }
  const Model model = [&](std::span<const double> b, std::span<double> out) {
    std::vector<double> set = full_start;
    for (std::size_t j = 0; j < varied.size(); ++j) set[varied[j]] = b[j];
    const std::vector<double> c = evaluate(p, set);
    std::copy(c.begin(), c.end(), out.begin());
  };
  const Refinement r = refine(model, observed, start, lower, upper);
  if (set != nullptr) {
    *set = full_start;
    for (std::size_t j = 0; j < varied.size(); ++j) (*set)[varied[j]] = r.values[j];
  }
  return {"", static_cast<int>(p.model), int(observed.size()), int(varied.size()), r.ssq};
}

// Noise of standard deviation 0.01 (2 % of the peak concentration of about
// 0.5), five seeded draws each.
constexpr double kSigma = 0.01;
const std::vector<double> kNonequilibrium = {10, 20, 2, 3, 0.5, 0.7};
const std::vector<double> kEquilibrium = {10, 20, 2, 3, 0, 0};

TEST(ModelChoice, NonequilibriumDataAreAttributedToTheNonequilibriumModel) {
  const Problem ne = column(btcfit::Model::nonequilibrium_flux, kNonequilibrium);
  const Problem eq = column(btcfit::Model::equilibrium_flux, kEquilibrium);
  for (std::uint64_t seed = 1; seed <= 5; ++seed) {
    const std::vector<double> obs = noisy(ne, kNonequilibrium, kSigma, seed);
    const ComparedFit fit_eq = refined(eq, kEquilibrium, obs);
    const ComparedFit fit_ne = refined(ne, kNonequilibrium, obs);
    const std::vector<ComparisonRow> rows = compare_fits({fit_eq, fit_ne});
    EXPECT_GT(rows[1].weight, 0.95) << "seed " << seed;
    std::printf("  seed %d: weight of the nonequilibrium model %.6f\n", int(seed), rows[1].weight);
    const FTest f = nested_f_test(30, fit_eq.p, fit_eq.ssq, fit_ne.p, fit_ne.ssq);
    EXPECT_LT(f.p_value, 0.01) << "seed " << seed;
  }
}

TEST(ModelChoice, EquilibriumDataAreNotAttributedToTheNonequilibriumModel) {
  const Problem ne = column(btcfit::Model::nonequilibrium_flux, {10, 20, 2, 3, 0.95, 1.0});
  const Problem eq = column(btcfit::Model::equilibrium_flux, kEquilibrium);
  for (std::uint64_t seed = 1; seed <= 5; ++seed) {
    const std::vector<double> obs = noisy(eq, kEquilibrium, kSigma, seed);
    // The nonequilibrium fit starts near the equilibrium one (BETA close
    // to 1, D and R of the equilibrium fit).
    std::vector<double> best_eq;
    const ComparedFit fit_eq = refined(eq, kEquilibrium, obs, &best_eq);
    const ComparedFit fit_ne = refined(ne, {10, best_eq[1], best_eq[2], 3, 0.95, 1.0}, obs);
    const std::vector<ComparisonRow> rows = compare_fits({fit_eq, fit_ne});
    EXPECT_GT(rows[0].weight, 0.5) << "seed " << seed;
    std::printf("  seed %d: SSQ %.6g (equilibrium) %.6g (nonequilibrium), weight %.3f\n",
                int(seed), fit_eq.ssq, fit_ne.ssq, rows[0].weight);
  }
}

// Profile intervals hold the truth in about 95 % of noise draws: 200 seeded
// draws of the equilibrium column (noise 0.01), D and R refined from the
// truth and profiled. With 200 draws the share has a binomial standard
// deviation of 1.5 points; seed 1 gives 92.0 % for D and 96.0 % for R (the
// linearized intervals the same). bench/profile_coverage.cpp runs more
// draws and the nonequilibrium model.
TEST(ModelChoice, ProfileIntervalsCoverTheTruth) {
#ifdef BTCFIT_SANITIZED
  GTEST_SKIP() << "200 refinements and profiles: left to the optimised build";
#endif
  const Problem eq = column(btcfit::Model::equilibrium_flux, kEquilibrium);
  const std::vector<double> clean = evaluate(eq, kEquilibrium);
  const stats::Model model = [&](std::span<const double> b, std::span<double> out) {
    const std::vector<double> c = evaluate(eq, std::vector<double>{10, b[0], b[1], 3, 0, 0});
    std::copy(c.begin(), c.end(), out.begin());
  };
  const std::vector<double> truth = {20, 2}, lower = {1, 1}, upper = {200, 8};
  Normal normal(1);
  int hits[2] = {0, 0};
  constexpr int kDraws = 200;
  for (int d = 0; d < kDraws; ++d) {
    std::vector<double> obs = clean;
    for (double& v : obs) v += kSigma * normal();
    const Refinement r = refine(model, obs, truth, lower, upper);
    const FitStatistics st = compute_fit_statistics(model, {{"D", "R"}, r.values, {}, obs});
    ProfileOptions po;
    po.refine.function_tolerance = 1e-10;
    po.refine.parameter_tolerance = 1e-10;
    const Profiles pr = profile_intervals(model, obs, r.values, lower, upper, st.std_error, po);
    for (int j = 0; j < 2; ++j) {
      const CoefficientProfile& c = pr.coefficients[j];
      hits[j] += c.lower.value <= truth[j] && truth[j] <= c.upper.value;
    }
  }
  for (int j = 0; j < 2; ++j) {
    const double share = 100.0 * hits[j] / kDraws;
    std::printf("  %s: %.1f %% of %d draws\n", j == 0 ? "D" : "R", share, kDraws);
    EXPECT_GE(share, 90.0) << j;
    EXPECT_LE(share, 99.0) << j;
  }
}

// Nesting of deck fits: a FittedProblem built from a problem and a fitted set.
FittedProblem deck(btcfit::Model model, const std::vector<double>& set, const std::vector<int>& varied) {
  FittedProblem f;
  f.problem = column(model, set);
  for (int k = 0; k < 6; ++k) f.problem.coefficients[k].varied = false;
  for (int k : varied) f.problem.coefficients[k - 1].varied = true;
  f.result.coefficients = set;
  f.varied = varied;
  return f;
}

struct NestingCase {
  const char* what;
  FittedProblem small, large;
  bool nested;
  std::vector<std::string> extra;
};

TEST(ModelChoice, NestedPairs) {
  const std::vector<double> eq = kEquilibrium, ne = kNonequilibrium;
  FittedProblem beta_below_one = deck(btcfit::Model::nonequilibrium_flux, ne, {2, 3, 5, 6});
  beta_below_one.problem.coefficients[4].upper = 0.9;
  FittedProblem other_pulse = deck(btcfit::Model::equilibrium_flux, {10, 20, 2, 4, 0, 0}, {2});
  const std::vector<NestingCase> cases = {
      {"same model, fewer varied", deck(btcfit::Model::equilibrium_flux, eq, {2}),
       deck(btcfit::Model::equilibrium_flux, eq, {2, 3}), true, {"R"}},
      {"same model, same varied", deck(btcfit::Model::equilibrium_flux, eq, {2, 3}),
       deck(btcfit::Model::equilibrium_flux, eq, {2, 3}), false, {}},
      {"fixed values differ", other_pulse, deck(btcfit::Model::equilibrium_flux, eq, {2, 3}), false, {}},
      {"equilibrium in nonequilibrium", deck(btcfit::Model::equilibrium_flux, eq, {2, 3}),
       deck(btcfit::Model::nonequilibrium_flux, ne, {2, 3, 5, 6}), true, {"BETA", "OMEGA"}},
      {"equilibrium with decay", deck(btcfit::Model::equilibrium_flux, {10, 20, 2, 3, 0.1, 0}, {2, 3}),
       deck(btcfit::Model::nonequilibrium_flux, ne, {2, 3, 5, 6}), false, {}},
      {"BETA cannot reach 1", deck(btcfit::Model::equilibrium_flux, eq, {2, 3}), beta_below_one, false,
       {}},
      {"resident against flux", deck(btcfit::Model::equilibrium_resident, eq, {2, 3}),
       deck(btcfit::Model::nonequilibrium_flux, ne, {2, 3, 5, 6}), false, {}},
  };
  for (const NestingCase& c : cases) {
    const auto n = nesting(c.small, c.large);
    EXPECT_EQ(n.has_value(), c.nested) << c.what;
    if (n) {
      EXPECT_EQ(n->extra, c.extra) << c.what;
    }
  }
}

}  // namespace
}  // namespace btcfit::stats
