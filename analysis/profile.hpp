// Profile-likelihood intervals of the coefficients of a least-squares fit.
//
// Coefficient j is held at a value v and the other coefficients are
// refined locally (analysis/refine.hpp); the least SSQ so reached is the
// profile S_j(v). With Gaussian errors of one unknown variance, the
// interval of level 1 − α holds the v for which
//
//   S_j(v) <= SSQ_min · (1 + F(1 − α; 1, n − p) / (n − p)),
//
// SSQ_min the SSQ at the optimum the profile is taken about. On each side
// of the optimum the profile is walked outwards until it passes that
// threshold (steps grown from the linearized standard error by a
// quadratic estimate of the crossing), then the crossing is found by
// Boost.Math's TOMS 748 bracketed root finder to a relative width of
// 5e-4 (three significant digits). A side that stays below the threshold
// up to a bound is cut at the bound and says so. For a model linear in its
// coefficients S_j is a parabola and the interval is the linearized one,
// since F(1 − α; 1, ν) = t(1 − α/2; ν)².
#pragma once

#include <span>
#include <string>
#include <vector>

#include "analysis/fit_statistics.hpp"
#include "analysis/refine.hpp"

namespace btcfit::stats {

struct ProfileOptions {
  double level = 0.95;
  double relative_tolerance = 5e-4;  // width of the final bracket / |limit|
  int max_steps = 40;                // outward steps before giving up
  int threads = 1;                   // profile sides computed side by side
  // Profile values at this many more points evenly spaced between the
  // optimum and each limit (for a plot of the profile).
  int fill_points = 0;
  RefineOptions refine;              // for the other coefficients
};

struct ProfilePoint {
  double value = 0.0;
  double ssq = 0.0;
};

struct ProfileLimit {
  double value = 0.0;     // the limit (NaN when not found)
  bool at_bound = false;  // the profile stays below the threshold up to the bound
  bool found = true;      // false: no crossing within max_steps
};

struct CoefficientProfile {
  ProfileLimit lower, upper;
  std::vector<ProfilePoint> points;  // every profile value computed, by value
};

struct Profiles {
  int n = 0, p = 0;
  double level = 0.95;
  double ssq_min = 0.0;
  double f_quantile = 0.0;  // F(level; 1, n − p)
  double threshold = 0.0;   // SSQ_min · (1 + F/(n − p))
  std::vector<CoefficientProfile> coefficients;
  // The least SSQ met on any profile; below ssq_min when the optimum was
  // not a minimum after all (then the intervals are about the wrong set).
  double least_ssq = 0.0;
  int evaluations = 0;  // model calls
};

// Profiles of all coefficients about `optimum` (a local minimum of SSQ,
// e.g. the refined set), within the box lower..upper. `steps` gives each
// coefficient's first outward step (e.g. its linearized standard error);
// where it is empty, not finite or not positive a tenth of
// max(|b_j|, 100·floor_j) is taken (1e-3 when both are 0). Needs n > p.
Profiles profile_intervals(const Model& model, std::span<const double> observed,
                           std::span<const double> optimum, std::span<const double> lower,
                           std::span<const double> upper, std::span<const double> steps,
                           const ProfileOptions& options = {});

}  // namespace btcfit::stats
