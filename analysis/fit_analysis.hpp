// What the analysis adds to the statistics at the fit's set: the local
// refinement from that set, the information criteria, the profile
// intervals, and the comparison of several fits of the same observations.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "analysis/criteria.hpp"
#include "analysis/fit_statistics.hpp"
#include "analysis/fitted_problem.hpp"
#include "analysis/profile.hpp"
#include "analysis/refine.hpp"

namespace btcfit::stats {

// The refinement lowers SSQ by more than this fraction of the search's
// SSQ: the search's set is not at a local minimum.
inline constexpr double kLocalMinimumTolerance = 1e-6;

struct FitAnalysis {
  FitStatistics statistics;  // at the search's set
  std::vector<double> lower, upper;  // bounds of the varied coefficients
  Refinement refinement;     // from the search's set, within the bounds
  bool search_at_local_minimum = true;
  Criteria criteria;         // from the refined SSQ, n and p
  // The same statistics at the refined set: the linearized intervals that
  // the profile intervals are set beside (both about the same set).
  FitStatistics refined_statistics;
  // About the refined set; absent when n <= p, p = 0, or not asked for.
  std::optional<Profiles> profiles;
};

// Statistics, refinement, criteria and (when `with_profiles`) the profile
// intervals of a fitted problem, on fit.threads threads; `fill_points` more
// profile values on each side for a plot.
FitAnalysis analyse_fit(const FittedProblem& fit, const StatisticsOptions& options,
                          bool with_profiles, int fill_points = 0);

// Why the observations of `b` are not those of `a` (count, distances,
// times and observed values, compared exactly); nothing when they are.
std::optional<std::string> observation_mismatch(const Problem& a, const Problem& b);

// How fit `small` is nested in fit `large`: the same problem except that
// `large` varies coefficients `small` holds fixed (same model code), or
// `small` is an equilibrium model (code 1 or 2, decay and production fixed
// at 0) and `large` the nonequilibrium model of the same concentration
// type (code 3 or 4), which reduces to it at BETA = 1.
struct Nesting {
  std::vector<std::string> extra;  // the coefficients `large` adds
  bool at_boundary = false;        // equilibrium inside nonequilibrium (BETA = 1)
};
std::optional<Nesting> nesting(const FittedProblem& small, const FittedProblem& large);

struct NestedComparison {
  int small = 0, large = 0;  // indexes into the compared fits
  Nesting nesting;
  FTest test;
};

struct Comparison {
  std::vector<ComparedFit> fits;  // SSQ: the refined one
  std::vector<ComparisonRow> rows;
  std::vector<NestedComparison> nested;
  int best = 0;  // the fit of least AICc
};

Comparison compare_fitted(const std::vector<FittedProblem>& fits,
                         const std::vector<FitAnalysis>& analyses);

}  // namespace btcfit::stats
