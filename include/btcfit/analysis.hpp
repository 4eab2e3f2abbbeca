// The analysis of fits: every fit method, linearized statistics, bounded
// refinement, profile-likelihood intervals, information criteria and the
// comparison of several fits of the same observations. Everything here
// works on a Problem and its FitResult (never on files), on the numerics
// the fit used unless an option says otherwise.
//
//   btcfit::Problem problem = btcfit::read_deck("column.in");
//   btcfit::FitOptions options;
//   options.method = btcfit::FitMethod::global;
//   btcfit::FitResult fit = btcfit::analysis::fit(problem, options);
//   btcfit::analysis::Statistics st = btcfit::analysis::statistics(problem, fit);
//   btcfit::analysis::Profiles pr = btcfit::analysis::profiles(problem, fit);
//
// Link with the CMake target btcfit::analysis
// (find_package(btcfit CONFIG COMPONENTS analysis)). Options structs say
// their defaults; each has valid(), and every function refuses options that
// are not valid with ProblemError before any work.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "btcfit/fit.hpp"
#include "btcfit/problem.hpp"

namespace btcfit::analysis {

// ---------------------------------------------------------------- fitting

// Fits the problem with options.method: the annealing search exactly as
// btcfit::fit (legacy numerics by default), a bounded Levenberg-Marquardt
// descent from the initial values (least_squares), or a multistart of such
// descents (global), both on accurate numerics by default. The result says
// its method, numerics, termination and model evaluations; coefficients
// that a bound stops are held on it and marked in at_bound. The global
// method gives the same result for the same seed on any number of
// threads. Throws ProblemError for a refused problem (see check_problem;
// also a problem without observations) or invalid options, Cancelled when
// the cancel flag is set (unless return_when_cancelled).
FitResult fit(const Problem& problem, const FitOptions& options = {});

// ------------------------------------------------------------- statistics

struct StatisticsOptions {
  // δ of the Jacobian step rule h_k = δ·max(|b_k|, f_k), where the floor
  // f_k is 0.01·(upper − lower) of coefficient k.
  double relative_step = 1e-5;
  double confidence = 0.95;  // two-sided level of the intervals, in (0, 1)
  // JᵀJ counts as singular when, after scaling every column of J to unit
  // length, the smallest singular value of J is at most this fraction of
  // the largest (a condition number of JᵀJ beyond 1e12).
  double singular_ratio = 1e-6;
  // A coefficient has no influence when its column of J times its step
  // scale is at most this fraction of the largest such column.
  double negligible_influence = 1e-10;
  // Also take the Jacobian with steps ten times smaller and report how much
  // each column changes.
  bool check_step = true;
  // Numerics of the model calls; unset: the fit's.
  std::optional<Numerics> numerics;
  int threads = 0;  // threads for the model calls (0: every usable core)

  bool valid(std::string* why = nullptr) const;
};

enum class Verdict : int {
  determined = 0,             // covariance and everything derived from it exist
  too_few_observations = 1,   // n <= p
  not_finite = 2,             // the model gave a value that is not a number
  singular = 3,               // JᵀJ singular: a coefficient is not determined
};

// Linearized statistics at the fit's set, of the varied coefficients.
struct Statistics {
  int n = 0;    // observations
  int p = 0;    // varied coefficients
  int dof = 0;  // n − p (may be <= 0)
  double ssq = 0.0;
  // NaN where not defined.
  double s2 = 0.0;    // SSQ / (n − p)
  double rmse = 0.0;  // sqrt(SSQ / n)
  double r2 = 0.0;    // squared correlation of observed and calculated
  std::vector<double> calculated;  // at the fit's set
  std::vector<std::string> names;  // of the varied coefficients
  std::vector<int> positions;      // their positions, 1-based deck order
  std::vector<double> values;      // their fitted values
  std::vector<double> steps;       // Jacobian steps h_k
  // Relative change of each Jacobian column when the step is cut tenfold
  // (empty when not checked).
  std::vector<double> step_sensitivity;
  Verdict verdict = Verdict::determined;
  std::string message;                    // why there are no numbers; empty if none
  std::vector<std::string> undetermined;  // coefficients named by the message
  double t_quantile = 0.0;  // Student t for the level and n − p
  // p × p, row-major, empty unless determined.
  std::vector<double> covariance;
  std::vector<double> correlation;
  std::vector<double> std_error;  // NaN unless determined
  std::vector<double> ci_lower;
  std::vector<double> ci_upper;
  Numerics numerics = Numerics::legacy;
};

Statistics statistics(const Problem& problem, const FitResult& fit,
                      const StatisticsOptions& options = {});

// ------------------------------------------------------------- refinement

struct RefineOptions {
  double relative_step = 1e-5;  // δ of the difference steps (floors as above)
  int max_iterations = 500;
  // Stopping rules of the descent: relative decrease of SSQ, relative step
  // size, largest projected gradient component.
  double function_tolerance = 1e-15;
  double parameter_tolerance = 1e-14;
  double gradient_tolerance = 1e-16;
  std::optional<Numerics> numerics;  // unset: the fit's
  int threads = 0;                   // threads for the Jacobian columns (0: all cores)

  bool valid(std::string* why = nullptr) const;
};

struct Refinement {
  // The refined fit: method least_squares, termination converged or
  // iteration_limit, coefficients held on a bound marked in at_bound.
  FitResult result;
  double start_ssq = 0.0;  // SSQ of the fit's set (with the refinement's numerics)
  // The refinement lowered SSQ by no more than 1e-6 of start_ssq: the fit's
  // set was at a local minimum already.
  bool start_at_local_minimum = true;
  std::string message;  // the descent's reason for stopping
};

// A bounded Levenberg-Marquardt descent from the fit's set within the
// bounds of the varied coefficients.
Refinement refine(const Problem& problem, const FitResult& fit, const RefineOptions& options = {});

// --------------------------------------------------------------- profiles

struct ProfileOptions {
  double level = 0.95;               // of the intervals, in (0, 1)
  double relative_tolerance = 5e-4;  // final bracket width / |limit|
  int max_steps = 40;                // outward steps before giving up
  // Profile values at this many more points evenly spaced between the
  // optimum and each limit (for a plot).
  int fill_points = 0;
  // For the other coefficients at each profile value: SSQ to far fewer
  // digits than the optimum needs. Its numerics and threads count for the
  // whole profile (and for the refinement first).
  RefineOptions refine{1e-5, 200, 1e-10, 1e-10, 1e-16, std::nullopt, 0};
  // Refine the fit first (true), so that the profiles are taken about a
  // local minimum; false: about the fit's set as it is.
  bool refine_first = true;

  bool valid(std::string* why = nullptr) const;
};

struct ProfilePoint {
  double value = 0.0;
  double ssq = 0.0;
};

// The profile-likelihood interval of one varied coefficient.
struct ProfileInterval {
  std::string name;
  int position = 0;        // 1-based deck order
  double value = 0.0;      // at the optimum
  double lower = 0.0;      // NaN where not found
  double upper = 0.0;
  bool lower_at_bound = false;  // the profile stays below the threshold up to the bound
  bool upper_at_bound = false;
  bool lower_found = true;      // false: no crossing within max_steps
  bool upper_found = true;
  // The linearized interval about the same set, for comparison.
  double linear_lower = 0.0;
  double linear_upper = 0.0;
  std::vector<ProfilePoint> points;  // every profile value computed, by value
};

struct Profiles {
  int n = 0, p = 0;
  double level = 0.95;
  double ssq_min = 0.0;     // at the optimum
  double f_quantile = 0.0;  // F(level; 1, n − p)
  double threshold = 0.0;   // ssq_min · (1 + F/(n − p))
  // Below ssq_min when the optimum was not a minimum after all.
  double least_ssq = 0.0;
  long long evaluations = 0;
  FitResult optimum;  // the set the profiles are about (refined unless asked not to)
  std::vector<ProfileInterval> intervals;
};

// Profiles of every varied coefficient. Needs n > p.
Profiles profiles(const Problem& problem, const FitResult& fit, const ProfileOptions& options = {});
// The profile of one varied coefficient, named as the problem names it
// (blanks trimmed) or by its 1-based position ("3"). Throws ProblemError
// for a name that is no varied coefficient's.
ProfileInterval profile(const Problem& problem, const FitResult& fit, const std::string& name,
                        const ProfileOptions& options = {});

// --------------------------------------------------------------- criteria

// Gaussian errors of one unknown variance (k = p + 1 parameters), without
// the constant n(ln 2π + 1):
//   AIC = n ln(SSQ/n) + 2k,  AICc = AIC + 2k(k + 1)/(n − k − 1),
//   BIC = n ln(SSQ/n) + k ln n;  NaN where not defined.
struct Criteria {
  int n = 0;
  int p = 0;
  double ssq = 0.0;
  double aic = 0.0;
  double aicc = 0.0;
  double bic = 0.0;
};

Criteria criteria(const Problem& problem, const FitResult& fit);

// ------------------------------------------------------------- comparison

struct ComparedFit {
  std::string label;  // shown in the table, e.g. "equilibrium"
  Problem problem;
  FitResult fit;
};

struct ComparisonRow {
  std::string label;
  Model model = Model::equilibrium_flux;
  Criteria criteria;
  double delta_aicc = 0.0;  // AICc − least AICc
  double weight = 0.0;      // Akaike weight from AICc
};

// The F test of a larger fit against a nested smaller one: the same model
// with more coefficients varied, or an equilibrium model (decay and
// production fixed at 0) inside the nonequilibrium model of the same
// concentration type, which reduces to it at BETA = 1 (at_boundary).
struct NestedTest {
  int small = 0, large = 0;          // indexes into the rows
  std::vector<std::string> extra;    // coefficients the larger fit adds
  bool at_boundary = false;
  int df1 = 0, df2 = 0;
  double f = 0.0;
  double p_value = 1.0;
};

struct Comparison {
  std::vector<ComparisonRow> rows;  // in the order given
  std::vector<NestedTest> nested;
  int best = 0;  // the row of least AICc
};

// Compares fits of the same observations (refused with ProblemError,
// naming the first difference, otherwise). Uses each fit's SSQ as it is:
// refine the fits first for a fair comparison.
Comparison compare(const std::vector<ComparedFit>& fits);

// ------------------------------------------------------------------ JSON

struct JsonOptions {
  StatisticsOptions statistics;  // its confidence is also the profiles' level
  bool profiles = true;          // include the profile intervals (n > p needed)
  std::string label;             // the document's "deck" member
  bool valid(std::string* why = nullptr) const;
};

// The fit with its statistics, refinement from the fit's set, criteria of
// the refined set and (when asked) profile intervals about it, as one JSON
// object: the schema (and the numbers) of btcfit-stats --json for the same
// problem and fit.
std::string to_json(const Problem& problem, const FitResult& fit, const JsonOptions& options = {});

}  // namespace btcfit::analysis
