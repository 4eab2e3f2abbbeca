// Evaluating a model and fitting its coefficients.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

#include "btcfit/problem.hpp"

namespace btcfit {

struct EvaluateOptions {
  // Accurate by default: a curve evaluated for a user should be the true
  // solution of the model. The annealing fit keeps legacy numerics by
  // default, so that its report is the console program's; pass
  // Numerics::legacy to have the values that fit computes.
  Numerics numerics = Numerics::accurate;
  // Threads that share the points (0: all usable cores); the values do not
  // depend on it.
  int threads = 1;
};

// The model's concentrations at the problem's observations for one set of
// coefficients (all coefficient_count(problem.model) of them, deck order),
// in the form of the observations (reduced when the data form asks for it).
// Any number of observations; memory grows linearly with them. With legacy
// numerics these are exactly the values the annealing fit computes for
// that set. Throws ProblemError for a problem that check_problem(problem,
// options.numerics) refuses, a wrong number of coefficients, or (except
// for a deck-read problem with legacy numerics) coefficients that the
// model cannot take: a V, D or ALPHA, R or BETA not above 0, a SIGMA below
// 0, or a value that is not a finite number.
std::vector<double> evaluate(const Problem& problem, std::span<const double> coefficients,
                             const EvaluateOptions& options = {});
inline std::vector<double> evaluate(const Problem& problem,
                                    std::initializer_list<double> coefficients,
                                    const EvaluateOptions& options = {}) {
  return evaluate(problem, std::span<const double>(coefficients.begin(), coefficients.size()),
                  options);
}

// The same at arbitrary points (distances[i], times[i]), for curves and
// plots; any number of points. Times are reduced times for
// DataForm::reduced_concentration_and_time, scaled with the largest
// observation distance of the problem (or of the points, when the problem
// has no observations). Throws ProblemError also when the two spans differ
// in length, and (as for observations) for a negative distance or time.
std::vector<double> evaluate(const Problem& problem, std::span<const double> coefficients,
                             std::span<const double> distances, std::span<const double> times,
                             const EvaluateOptions& options = {});

// One line of the search's progress table: the best set after an outer
// iteration of 500 trials (iteration 0: the initial set).
struct ProgressLine {
  int iteration = 0;
  double ssq = 0.0;                  // sum of squared residuals
  std::vector<double> coefficients;  // all, deck order
};

// The line as the report's progress table shows it (without line end):
// iteration, SSQ and the coefficients in the layout (I5,F10.6,6F9.5), with
// one more F9.5 field for a seventh coefficient.
std::string progress_text(const ProgressLine& line);

// How a fit searches for the coefficients.
enum class FitMethod : int {
  // The console program's randomised annealing search: reproducible, the
  // same report as the console program (legacy numerics by default).
  annealing = 0,
  // A bounded Levenberg-Marquardt descent from the initial values
  // (btcfit::analysis::fit; accurate numerics by default).
  least_squares = 1,
  // Least-squares descents from a seeded low-discrepancy design of starts
  // over the bounds, the initial values among them (btcfit::analysis::fit;
  // accurate numerics by default). On legacy numerics, whose SSQ ripples
  // and steps where the fixed quadrature rules change their choice, it
  // also searches the best set's neighbourhood by descents and by seeded
  // points.
  global = 2,
};

// "annealing", "least_squares" or "global".
const char* method_name(FitMethod method);

// Why a fit ended.
enum class Termination : int {
  stalled = 0,          // annealing: the best SSQ did not improve in 100 iterations
  goal_reached = 1,     // annealing: SSQ at or below 1e-4
  iteration_limit = 2,  // annealing: 9999 iterations; least squares: the descent's limit
  converged = 3,        // least squares: the descent's tolerances are met
  agreed = 4,           // global: several descents reached the same least SSQ
  starts_done = 5,      // global: every start was descended from
  cancelled = 6,        // the cancel flag (with FitOptions::return_when_cancelled)
};

// A short sentence, for example "improvement stalled for 100 iterations".
const char* termination_text(Termination termination);

struct FitOptions {
  // Threads that evaluate a fit's model calls (and, for the global method,
  // run descents side by side); 0 (the default) takes every core the
  // process may use. The result does not depend on it.
  int threads = 0;
  // Called on the fitting thread with each progress line as soon as it is
  // known: each outer iteration (annealing), each descent step (least
  // squares), each start done with the best SSQ so far (global). An
  // exception it throws ends the fit and reaches fit()'s caller.
  std::function<void(const ProgressLine&)> progress;
  // When another thread sets *cancel to true, the fit stops within a model
  // call or two and throws Cancelled (or returns, see below). May be null.
  const std::atomic<bool>* cancel = nullptr;
  // The search; the annealing search by default.
  FitMethod method = FitMethod::annealing;
  // Numerics of the model calls; unset: legacy for the annealing search,
  // accurate for the other methods.
  std::optional<Numerics> numerics;
  // On cancel, return the best set found so far with
  // Termination::cancelled instead of throwing Cancelled.
  bool return_when_cancelled = false;
  // Global method: seed of the design of starts (the same seed gives the
  // same result on any number of threads), number of starts (0: 8 per
  // varied coefficient, at least 16), and how many descents must reach the
  // same least SSQ (within 1e-9 relative) before the rest are skipped
  // (on legacy numerics never before 8 starts are done); descents that end
  // with a coefficient on a bound do not count, so that a fit whose least
  // SSQ lies on a bound descends from every start.
  std::uint64_t seed = 1;
  int starts = 0;
  int agreeing_descents = 3;
  // Global method on legacy numerics: batches of descents from seeded
  // points near the best set, each run while the one before found a lower
  // SSQ (0: none).
  int neighbourhood_batches = 4;

  // True when the options can be used; otherwise false with the reason in
  // *why (when not null).
  bool valid(std::string* why = nullptr) const;
};

struct FitResult {
  // The fitted set, all coefficients in deck order (fixed ones at their
  // initial values).
  std::vector<double> coefficients;
  double ssq = 0.0;    // its sum of squared residuals
  // Annealing: the outer iteration at which the search ended; least
  // squares: descent steps; global: starts descended from.
  int iterations = 0;
  std::vector<ProgressLine> progress;  // the progress table (annealing), in order
  std::vector<double> calculated;      // at the observations, for the fitted set
  FitMethod method = FitMethod::annealing;
  Numerics numerics = Numerics::legacy;
  Termination termination = Termination::stalled;
  // Model evaluations (one per coefficient set at every observation).
  long long evaluations = 0;
  // Per coefficient, deck order: varied by the fit (after the deck's
  // silent corrections), and, of those, held on a bound at the end.
  std::vector<bool> varied;
  std::vector<bool> at_bound;
};

// Fits the varied coefficients with the annealing search, exactly as the
// console program does for the same deck: the same progress table, final
// set and calculated concentrations, on any number of threads (with legacy
// numerics, the default). With accurate numerics the same search (the same
// draws, the same rules) judges the sums of squares of the accurate model,
// so it may take another path and end elsewhere. Any number of
// observations; memory grows linearly with them. The other methods are
// btcfit::analysis::fit's; here they are refused with ProblemError, as are
// options that are not valid(). Throws ProblemError for a problem that
// check_problem(problem, numerics) refuses, for a problem without
// observations (unless read from a deck and fitted with legacy numerics,
// as the console program does), and for a varied coefficient that the
// search could not place within its bounds (bounds crossed or equal, an
// initial value more than 0.2 outside them, or bounds too close together
// for the search's steps to land between them); Cancelled when the cancel
// flag is set; whatever the progress callback throws.
FitResult fit(const Problem& problem, const FitOptions& options = {});

// The console program's report for the problem and its fit, byte for byte:
// the echo (unless switched off), the progress table, the last line
// repeated under the final iteration number, and the observed against
// calculated concentrations; every line ends with CR LF.
void write_report(const Problem& problem, const FitResult& result, std::ostream& out);

// The number of threads the process may use (at least 1).
int usable_threads();

}  // namespace btcfit
