// The public analysis (btcfit/analysis.hpp) over the analysis' own pieces:
// the fitted problem, the statistics, the refinement, the profiles, the
// criteria and the JSON document.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "analysis/criteria.hpp"
#include "analysis/fit_analysis.hpp"
#include "analysis/fit_statistics.hpp"
#include "analysis/fitted_problem.hpp"
#include "analysis/json_output.hpp"
#include "analysis/profile.hpp"
#include "analysis/refine.hpp"
#include "btcfit/analysis.hpp"
#include "btcfit/errors.hpp"

namespace btcfit::analysis {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <typename Options>
void require_valid(const Options& options, const char* what) {
  std::string why;
  if (!options.valid(&why)) throw ProblemError(std::string(what) + ": " + why);
}

bool refuse(std::string* why, const std::string& reason) {
  if (why != nullptr) *why = reason;
  return false;
}

bool valid_numerics(const std::optional<Numerics>& n, std::string* why) {
  if (n && *n != Numerics::legacy && *n != Numerics::accurate) {
    return refuse(why, "numerics " + std::to_string(static_cast<int>(*n)) +
                           " is neither legacy nor accurate");
  }
  return true;
}

bool valid_level(double level, const char* name, std::string* why) {
  if (!(level > 0.0 && level < 1.0)) {
    return refuse(why, std::string(name) + " is " + std::to_string(level) +
                           "; a level between 0 and 1 is expected");
  }
  return true;
}

stats::FittedProblem fitted(const Problem& problem, const FitResult& fit,
                            std::optional<Numerics> numerics, int threads,
                            const std::string& label = "") {
  stats::FittedProblem fp = stats::fitted_problem(problem, fit, label, threads);
  if (fit.coefficients.size() != fp.problem.coefficients.size()) {
    throw ProblemError("the fit result has " + std::to_string(fit.coefficients.size()) +
                       " coefficients; the problem has " +
                       std::to_string(fp.problem.coefficients.size()));
  }
  fp.numerics = numerics.value_or(fit.numerics);
  return fp;
}

stats::StatisticsOptions internal(const StatisticsOptions& o) {
  stats::StatisticsOptions s;
  s.relative_step = o.relative_step;
  s.confidence = o.confidence;
  s.singular_ratio = o.singular_ratio;
  s.negligible_influence = o.negligible_influence;
  s.check_step = o.check_step;
  return s;
}

stats::RefineOptions internal(const RefineOptions& o, const stats::FitProblem& fp, int threads) {
  stats::RefineOptions r;
  r.relative_step = o.relative_step;
  r.floors = fp.floors;
  r.threads = threads;
  r.max_iterations = o.max_iterations;
  r.function_tolerance = o.function_tolerance;
  r.parameter_tolerance = o.parameter_tolerance;
  r.gradient_tolerance = o.gradient_tolerance;
  return r;
}

std::vector<double> flat(const Eigen::MatrixXd& m) {
  std::vector<double> v;
  for (Eigen::Index r = 0; r < m.rows(); ++r) {
    for (Eigen::Index c = 0; c < m.cols(); ++c) v.push_back(m(r, c));
  }
  return v;
}

Verdict verdict_of(stats::Verdict v) {
  switch (v) {
    case stats::Verdict::Determined: return Verdict::determined;
    case stats::Verdict::TooFewObservations: return Verdict::too_few_observations;
    case stats::Verdict::NotFinite: return Verdict::not_finite;
    case stats::Verdict::Singular: return Verdict::singular;
  }
  return Verdict::singular;
}

Statistics public_statistics(const stats::FittedProblem& fp, const stats::FitStatistics& st) {
  Statistics out;
  out.n = st.n;
  out.p = st.p;
  out.dof = st.dof;
  out.ssq = st.ssq;
  out.s2 = st.s2;
  out.rmse = st.rmse;
  out.r2 = st.r2;
  out.calculated = st.calculated;
  out.names = stats::varied_names(fp);
  out.positions = fp.varied;
  for (int k : fp.varied) out.values.push_back(fp.result.coefficients[k - 1]);
  out.steps = st.steps;
  out.step_sensitivity = st.step_sensitivity;
  out.verdict = verdict_of(st.verdict);
  out.message = st.message;
  for (int j : st.undetermined) {
    if (j >= 0 && j < int(out.names.size())) out.undetermined.push_back(out.names[j]);
  }
  out.t_quantile = st.t_quantile;
  const bool numbers = st.verdict == stats::Verdict::Determined;
  if (numbers) {
    out.covariance = flat(st.covariance);
    out.correlation = flat(st.correlation);
    out.std_error = st.std_error;
    out.ci_lower = st.ci_lower;
    out.ci_upper = st.ci_upper;
  } else {
    out.std_error.assign(std::size_t(st.p), kNaN);
    out.ci_lower.assign(std::size_t(st.p), kNaN);
    out.ci_upper.assign(std::size_t(st.p), kNaN);
  }
  out.numerics = fp.numerics;
  return out;
}

// The fit with the varied coefficients replaced by `values`, its SSQ and
// calculated concentrations; which of them lie on a bound.
FitResult with_values(const stats::FittedProblem& fp, std::span<const double> values, double ssq) {
  FitResult r = fp.result;
  for (std::size_t j = 0; j < fp.varied.size(); ++j) r.coefficients[fp.varied[j] - 1] = values[j];
  r.ssq = ssq;
  r.numerics = fp.numerics;
  r.calculated = evaluate(fp.problem, r.coefficients, EvaluateOptions{fp.numerics, fp.threads});
  r.varied.assign(fp.problem.coefficients.size(), false);
  r.at_bound.assign(fp.problem.coefficients.size(), false);
  for (int k : fp.varied) {
    const Coefficient& c = fp.problem.coefficients[k - 1];
    const double b = r.coefficients[k - 1];
    r.varied[k - 1] = true;
    r.at_bound[k - 1] = b <= c.lower || b >= c.upper;
  }
  return r;
}

// The box of the refinement: the bounds of the varied coefficients,
// widened to hold the fit's set where the fit left them by a little (the
// annealing search accepts initial values slightly outside the bounds).
void refinement_box(const stats::FittedProblem& fp, const stats::FitProblem& sp,
                    std::vector<double>& lower, std::vector<double>& upper) {
  for (std::size_t j = 0; j < fp.varied.size(); ++j) {
    const Coefficient& c = fp.problem.coefficients[fp.varied[j] - 1];
    lower.push_back(std::min(c.lower, sp.values[j]));
    upper.push_back(std::max(c.upper, sp.values[j]));
  }
}

Refinement public_refinement(const stats::FittedProblem& fp, const stats::Refinement& r) {
  Refinement out;
  out.result = with_values(fp, r.values, r.ssq);
  out.result.method = FitMethod::least_squares;
  out.result.termination = r.converged ? Termination::converged : Termination::iteration_limit;
  out.result.iterations = r.iterations;
  out.result.evaluations = r.evaluations;
  out.result.progress.clear();
  out.start_ssq = r.start_ssq;
  out.start_at_local_minimum =
      !stats::start_not_at_local_minimum(r, stats::kLocalMinimumTolerance);
  out.message = r.message;
  return out;
}

int threads_of(int threads) { return threads > 0 ? threads : usable_threads(); }

}  // namespace

bool StatisticsOptions::valid(std::string* why) const {
  if (!(relative_step > 0.0 && relative_step < 1.0)) {
    return refuse(why, "relative_step is " + std::to_string(relative_step) +
                           "; a value between 0 and 1 is expected");
  }
  if (!valid_level(confidence, "confidence", why)) return false;
  if (!(singular_ratio > 0.0 && singular_ratio < 1.0)) {
    return refuse(why, "singular_ratio is " + std::to_string(singular_ratio) +
                           "; a value between 0 and 1 is expected");
  }
  if (!(negligible_influence >= 0.0 && negligible_influence < 1.0)) {
    return refuse(why, "negligible_influence is " + std::to_string(negligible_influence) +
                           "; a value in [0, 1) is expected");
  }
  if (threads < 0) return refuse(why, "threads is " + std::to_string(threads) + "; 0 or more expected");
  return valid_numerics(numerics, why);
}

bool RefineOptions::valid(std::string* why) const {
  if (!(relative_step > 0.0 && relative_step < 1.0)) {
    return refuse(why, "relative_step is " + std::to_string(relative_step) +
                           "; a value between 0 and 1 is expected");
  }
  if (max_iterations < 1) {
    return refuse(why, "max_iterations is " + std::to_string(max_iterations) + "; 1 or more expected");
  }
  if (!(function_tolerance >= 0.0 && parameter_tolerance >= 0.0 && gradient_tolerance >= 0.0)) {
    return refuse(why, "the tolerances must be 0 or more");
  }
  if (threads < 0) return refuse(why, "threads is " + std::to_string(threads) + "; 0 or more expected");
  return valid_numerics(numerics, why);
}

bool ProfileOptions::valid(std::string* why) const {
  if (!valid_level(level, "level", why)) return false;
  if (!(relative_tolerance > 0.0 && relative_tolerance < 1.0)) {
    return refuse(why, "relative_tolerance is " + std::to_string(relative_tolerance) +
                           "; a value between 0 and 1 is expected");
  }
  if (max_steps < 1) return refuse(why, "max_steps is " + std::to_string(max_steps) + "; 1 or more expected");
  if (fill_points < 0) {
    return refuse(why, "fill_points is " + std::to_string(fill_points) + "; 0 or more expected");
  }
  return refine.valid(why);
}

bool JsonOptions::valid(std::string* why) const { return statistics.valid(why); }

Statistics statistics(const Problem& problem, const FitResult& fit,
                      const StatisticsOptions& options) {
  require_valid(options, "statistics options");
  const stats::FittedProblem fp = fitted(problem, fit, options.numerics, options.threads);
  const stats::FitStatistics st =
      stats::compute_fit_statistics(stats::varied_model(fp), stats::fit_problem(fp), internal(options));
  return public_statistics(fp, st);
}

Refinement refine(const Problem& problem, const FitResult& fit, const RefineOptions& options) {
  require_valid(options, "refine options");
  const stats::FittedProblem fp = fitted(problem, fit, options.numerics, options.threads);
  const stats::FitProblem sp = stats::fit_problem(fp);
  std::vector<double> lower, upper;
  refinement_box(fp, sp, lower, upper);
  const stats::Refinement r = stats::refine(stats::varied_model(fp), sp.observed, sp.values, lower,
                                            upper, internal(options, sp, fp.threads));
  return public_refinement(fp, r);
}

Profiles profiles(const Problem& problem, const FitResult& fit, const ProfileOptions& options) {
  require_valid(options, "profile options");
  const int threads = threads_of(options.refine.threads);
  stats::FittedProblem fp = fitted(problem, fit, options.refine.numerics, threads);
  const stats::FitProblem sp0 = stats::fit_problem(fp);
  const int p = int(fp.varied.size());
  const int n = int(sp0.observed.size());
  if (p == 0 || n <= p) {
    throw ProblemError("profile intervals need more observations (" + std::to_string(n) +
                       ") than varied coefficients (" + std::to_string(p) + ")");
  }
  std::vector<double> lower, upper;
  refinement_box(fp, sp0, lower, upper);
  Profiles out;
  if (options.refine_first) {
    // The refinement of the analysis of a fit: the default descent, as
    // btcfit-stats takes it before the profiles.
    const stats::Refinement r = stats::refine(stats::varied_model(fp), sp0.observed, sp0.values,
                                              lower, upper, internal(RefineOptions{}, sp0, threads));
    out.optimum = public_refinement(fp, r).result;
  } else {
    out.optimum = with_values(fp, sp0.values, fit.ssq);
  }
  fp.result = out.optimum;
  const stats::FitProblem sp = stats::fit_problem(fp);
  stats::StatisticsOptions quick;
  quick.relative_step = options.refine.relative_step;
  quick.confidence = options.level;
  quick.check_step = false;
  const stats::Model model = stats::varied_model(fp);
  const stats::FitStatistics at_optimum = stats::compute_fit_statistics(model, sp, quick);

  stats::ProfileOptions po;
  po.level = options.level;
  po.relative_tolerance = options.relative_tolerance;
  po.max_steps = options.max_steps;
  po.threads = threads;
  po.fill_points = options.fill_points;
  po.refine = internal(options.refine, sp, threads);
  const stats::Profiles pr = stats::profile_intervals(model, sp.observed, sp.values, lower, upper,
                                                      at_optimum.std_error, po);
  out.n = pr.n;
  out.p = pr.p;
  out.level = pr.level;
  out.ssq_min = pr.ssq_min;
  out.f_quantile = pr.f_quantile;
  out.threshold = pr.threshold;
  out.least_ssq = pr.least_ssq;
  out.evaluations = pr.evaluations;
  const std::vector<std::string> names = stats::varied_names(fp);
  const bool linear = at_optimum.verdict == stats::Verdict::Determined;
  for (int j = 0; j < p; ++j) {
    const stats::CoefficientProfile& c = pr.coefficients[j];
    ProfileInterval iv;
    iv.name = names[j];
    iv.position = fp.varied[j];
    iv.value = sp.values[j];
    iv.lower = c.lower.value;
    iv.upper = c.upper.value;
    iv.lower_at_bound = c.lower.at_bound;
    iv.upper_at_bound = c.upper.at_bound;
    iv.lower_found = c.lower.found;
    iv.upper_found = c.upper.found;
    iv.linear_lower = linear ? at_optimum.ci_lower[j] : kNaN;
    iv.linear_upper = linear ? at_optimum.ci_upper[j] : kNaN;
    for (const stats::ProfilePoint& pt : c.points) iv.points.push_back({pt.value, pt.ssq});
    out.intervals.push_back(std::move(iv));
  }
  return out;
}

ProfileInterval profile(const Problem& problem, const FitResult& fit, const std::string& name,
                        const ProfileOptions& options) {
  const stats::FittedProblem fp = fitted(problem, fit, options.refine.numerics, 1);
  const std::vector<std::string> names = stats::varied_names(fp);
  int index = -1;
  for (std::size_t j = 0; j < names.size(); ++j) {
    if (names[j] == name || std::to_string(fp.varied[j]) == name) index = int(j);
  }
  if (index < 0) {
    std::string list;
    for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
    throw ProblemError("no varied coefficient is named \"" + name + "\"; the varied ones are " +
                       (list.empty() ? "none" : list));
  }
  Profiles all = profiles(problem, fit, options);
  return std::move(all.intervals[std::size_t(index)]);
}

Criteria criteria(const Problem& problem, const FitResult& fit) {
  const stats::FittedProblem fp = fitted(problem, fit, std::nullopt, 1);
  Criteria c;
  c.n = int(fp.problem.observations.size());
  c.p = int(fp.varied.size());
  c.ssq = fit.ssq;
  const stats::Criteria ic = stats::information_criteria(c.n, c.p, c.ssq);
  c.aic = ic.aic;
  c.aicc = ic.aicc;
  c.bic = ic.bic;
  return c;
}

Comparison compare(const std::vector<ComparedFit>& fits) {
  if (fits.size() < 2) throw ProblemError("a comparison needs two fits or more");
  std::vector<stats::FittedProblem> fitted_problems;
  std::vector<stats::FitAnalysis> analyses;
  for (std::size_t i = 0; i < fits.size(); ++i) {
    // Built by appending: "#" + std::to_string(...) draws a false -Wrestrict
    // warning from g++ 12.
    std::string label(1, '#');
    label += std::to_string(i + 1);
    fitted_problems.push_back(fitted(fits[i].problem, fits[i].fit, std::nullopt, 1,
                                     fits[i].label.empty() ? label : fits[i].label));
    if (i > 0) {
      if (auto why = stats::observation_mismatch(fitted_problems[0].problem,
                                                 fitted_problems[i].problem)) {
        throw ProblemError("fit " + std::to_string(i + 1) + " is not of the same observations: " +
                           *why);
      }
    }
    stats::FitAnalysis a;
    a.refinement.ssq = fits[i].fit.ssq;
    analyses.push_back(std::move(a));
  }
  const stats::Comparison c = stats::compare_fitted(fitted_problems, analyses);
  Comparison out;
  out.best = c.best;
  for (std::size_t i = 0; i < c.rows.size(); ++i) {
    ComparisonRow row;
    row.label = c.fits[i].label;
    row.model = fits[i].problem.model;
    row.criteria.n = c.fits[i].n;
    row.criteria.p = c.fits[i].p;
    row.criteria.ssq = c.fits[i].ssq;
    row.criteria.aic = c.rows[i].criteria.aic;
    row.criteria.aicc = c.rows[i].criteria.aicc;
    row.criteria.bic = c.rows[i].criteria.bic;
    row.delta_aicc = c.rows[i].delta_aicc;
    row.weight = c.rows[i].weight;
    out.rows.push_back(std::move(row));
  }
  for (const stats::NestedComparison& n : c.nested) {
    NestedTest t;
    t.small = n.small;
    t.large = n.large;
    t.extra = n.nesting.extra;
    t.at_boundary = n.nesting.at_boundary;
    t.df1 = n.test.df1;
    t.df2 = n.test.df2;
    t.f = n.test.f;
    t.p_value = n.test.p_value;
    out.nested.push_back(std::move(t));
  }
  return out;
}

std::string to_json(const Problem& problem, const FitResult& fit, const JsonOptions& options) {
  require_valid(options, "JSON options");
  const stats::FittedProblem fp =
      fitted(problem, fit, options.statistics.numerics, options.statistics.threads, options.label);
  const stats::StatisticsOptions so = internal(options.statistics);
  const stats::FitAnalysis a = stats::analyse_fit(fp, so, options.profiles);
  return stats::json_summary(fp, a, so, {});
}

}  // namespace btcfit::analysis
