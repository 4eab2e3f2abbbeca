#include "analysis/fit_analysis.hpp"


#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "problem/model_traits.hpp"

namespace btcfit::stats {
namespace {

std::string fmt(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

bool same_pulses(const Problem& a, const Problem& b) {
  if (a.pulses.size() != b.pulses.size()) return false;
  for (std::size_t i = 0; i < a.pulses.size(); ++i) {
    if (a.pulses[i].time != b.pulses[i].time || a.pulses[i].value != b.pulses[i].value) {
      return false;
    }
  }
  return true;
}

// Coefficients 1..`count` of `small` lie in the space of `large`: each is
// varied in `large` (and then its value in `small` lies within the
// bounds of `large`), or fixed in both at the same value, and `small`
// varies none that `large` holds fixed. Adds the names of the ones
// `large` varies and `small` does not to `extra`.
bool coefficients_nested(const FittedProblem& small, const FittedProblem& large, int count,
                         std::vector<std::string>& extra) {
  for (int k = 1; k <= count; ++k) {
    const Coefficient& s = small.problem.coefficients[k - 1];
    const Coefficient& l = large.problem.coefficients[k - 1];
    const double sv = small.result.coefficients[k - 1];
    const double lv = large.result.coefficients[k - 1];
    if (s.varied && !l.varied) return false;
    if (!s.varied && !l.varied && sv != lv) return false;
    if (!s.varied && l.varied) {
      if (sv < l.lower || sv > l.upper) return false;
      extra.push_back(coefficient_name(large.problem, k));
    }
  }
  return true;
}

}  // namespace

FitAnalysis analyse_fit(const FittedProblem& fit, const StatisticsOptions& options,
                          bool with_profiles, int fill_points) {
  FitAnalysis a;
  const Model model = varied_model(fit);
  const FitProblem fp = fit_problem(fit);
  a.statistics = compute_fit_statistics(model, fp, options);

  const int p = int(fit.varied.size());
  for (int j = 0; j < p; ++j) {
    const Coefficient& c = fit.problem.coefficients[fit.varied[j] - 1];
    // The box holds the search's set even where the search left it by a
    // little (it accepts initial values slightly outside the bounds).
    a.lower.push_back(std::min(c.lower, fp.values[j]));
    a.upper.push_back(std::max(c.upper, fp.values[j]));
  }
  RefineOptions ro;
  ro.relative_step = options.relative_step;
  ro.floors = fp.floors;
  ro.threads = fit.threads;
  a.refinement = refine(model, fp.observed, fp.values, a.lower, a.upper, ro);
  a.search_at_local_minimum = !start_not_at_local_minimum(a.refinement, kLocalMinimumTolerance);
  a.criteria = information_criteria(int(fp.observed.size()), p, a.refinement.ssq);
  FitProblem refined = fp;
  refined.values = a.refinement.values;
  StatisticsOptions quick = options;
  quick.check_step = false;
  a.refined_statistics = compute_fit_statistics(model, refined, quick);

  if (with_profiles && p > 0 && int(fp.observed.size()) > p) {
    ProfileOptions po;
    po.level = options.confidence;
    po.threads = fit.threads;
    po.refine.relative_step = options.relative_step;
    po.refine.floors = fp.floors;
    // The profile values need SSQ to far fewer digits than the optimum.
    po.refine.function_tolerance = 1e-10;
    po.refine.parameter_tolerance = 1e-10;
    po.refine.max_iterations = 200;
    po.fill_points = fill_points;
    a.profiles = profile_intervals(model, fp.observed, a.refinement.values, a.lower, a.upper,
                                   a.refined_statistics.std_error, po);
  }
  return a;
}

std::optional<std::string> observation_mismatch(const Problem& a, const Problem& b) {
  if (a.observations.size() != b.observations.size()) {
    return std::to_string(b.observations.size()) + " observations against " +
           std::to_string(a.observations.size());
  }
  for (std::size_t i = 0; i < a.observations.size(); ++i) {
    const Observation& x = a.observations[i];
    const Observation& y = b.observations[i];
    const auto differ = [&](const char* what, double u, double v) {
      return "observation " + std::to_string(i + 1) + " has " + what + " " + fmt("%.10g", v) +
             " against " + fmt("%.10g", u);
    };
    if (x.distance != y.distance) return differ("distance", x.distance, y.distance);
    if (x.time != y.time) return differ("time", x.time, y.time);
    if (x.concentration != y.concentration) {
      return differ("concentration", x.concentration, y.concentration);
    }
  }
  return std::nullopt;
}

std::optional<Nesting> nesting(const FittedProblem& small, const FittedProblem& large) {
  const Problem& s = small.problem;
  const Problem& l = large.problem;
  if (s.data_form != l.data_form || s.initial_concentration != l.initial_concentration ||
      s.input_concentration != l.input_concentration || !same_pulses(s, l) ||
      observation_mismatch(s, l)) {
    return std::nullopt;
  }
  if (small.varied.size() >= large.varied.size()) return std::nullopt;
  Nesting n;
  const int ms = static_cast<int>(s.model), ml = static_cast<int>(l.model);
  if (ms == ml) {
    if (!coefficients_nested(small, large, int(s.coefficients.size()), n.extra)) {
      return std::nullopt;
    }
    return n;
  }
  const ModelTraits& ts = model_traits(ms);
  const ModelTraits& tl = model_traits(ml);
  if (ts.family == ModelFamily::equilibrium && tl.family == ModelFamily::nonequilibrium &&
      ts.flux == tl.flux) {
    // Equilibrium: V, D, R, T0, MU, GAMMA; nonequilibrium: V, D, R, T0,
    // BETA, OMEGA. With BETA = 1 every site is at equilibrium and the
    // nonequilibrium model is the equilibrium one without decay or
    // production, whatever OMEGA.
    for (int k : {5, 6}) {
      if (s.coefficients[k - 1].varied || small.result.coefficients[k - 1] != 0.0) {
        return std::nullopt;
      }
    }
    if (!coefficients_nested(small, large, 4, n.extra)) return std::nullopt;
    const Coefficient& beta = l.coefficients[4];
    const double beta_value = large.result.coefficients[4];
    if (beta.varied ? beta.upper < 1.0 : beta_value != 1.0) return std::nullopt;
    for (int k : {5, 6}) {
      if (l.coefficients[k - 1].varied) n.extra.push_back(coefficient_name(l, k));
    }
    n.at_boundary = true;
    return n;
  }
  return std::nullopt;
}

Comparison compare_fitted(const std::vector<FittedProblem>& fits,
                         const std::vector<FitAnalysis>& analyses) {
  Comparison c;
  for (std::size_t i = 0; i < fits.size(); ++i) {
    c.fits.push_back(ComparedFit{fits[i].label, static_cast<int>(fits[i].problem.model),
                                 int(fits[i].problem.observations.size()),
                                 int(fits[i].varied.size()), analyses[i].refinement.ssq});
  }
  c.rows = compare_fits(c.fits);
  for (std::size_t i = 0; i < c.rows.size(); ++i) {
    if (c.rows[i].criteria.aicc < c.rows[c.best].criteria.aicc) c.best = int(i);
  }
  for (std::size_t i = 0; i < fits.size(); ++i) {
    for (std::size_t j = 0; j < fits.size(); ++j) {
      if (i == j) continue;
      if (auto n = nesting(fits[i], fits[j])) {
        NestedComparison nc;
        nc.small = int(i);
        nc.large = int(j);
        nc.nesting = *n;
        nc.test = nested_f_test(c.fits[j].n, c.fits[i].p, c.fits[i].ssq, c.fits[j].p,
                                c.fits[j].ssq);
        c.nested.push_back(std::move(nc));
      }
    }
  }
  return c;
}

}  // namespace btcfit::stats
