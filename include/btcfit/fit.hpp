// Evaluating a model and fitting its coefficients.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

#include "btcfit/problem.hpp"

namespace btcfit {

// The model's concentrations at the problem's observations for one set of
// coefficients (all coefficient_count(problem.model) of them, deck order),
// in the form of the observations (reduced when the data form asks for it).
// These are exactly the values the fit computes for that set. Throws
// ProblemError for a refused problem or a wrong number of coefficients.
std::vector<double> evaluate(const Problem& problem, std::span<const double> coefficients);
inline std::vector<double> evaluate(const Problem& problem,
                                    std::initializer_list<double> coefficients) {
  return evaluate(problem, std::span<const double>(coefficients.begin(), coefficients.size()));
}

// The same at arbitrary points (distances[i], times[i]), for curves and
// plots; any number of points, evaluated in groups of kMaxObservations.
// Times are reduced times for DataForm::reduced_concentration_and_time,
// scaled with the largest observation distance of the problem (or of the
// points, when the problem has no observations). `threads` threads share the
// groups (0: all usable cores); the values do not depend on it. Throws
// ProblemError also when the two spans differ in length.
std::vector<double> evaluate(const Problem& problem, std::span<const double> coefficients,
                             std::span<const double> distances, std::span<const double> times,
                             int threads = 1);

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

struct FitOptions {
  // Threads that evaluate a fit's model calls; 0 (the default) takes every
  // core the process may use. The result does not depend on it.
  int threads = 0;
  // Called on the fitting thread with each progress line as soon as it is
  // known. An exception it throws ends the fit and reaches fit()'s caller.
  std::function<void(const ProgressLine&)> progress;
  // When another thread sets *cancel to true, the fit stops within a model
  // call or two and throws Cancelled. May be null.
  const std::atomic<bool>* cancel = nullptr;
};

struct FitResult {
  // The fitted set, all coefficients in deck order (fixed ones at their
  // initial values).
  std::vector<double> coefficients;
  double ssq = 0.0;    // its sum of squared residuals
  int iterations = 0;  // the outer iteration at which the search ended
  std::vector<ProgressLine> progress;  // the progress table, in order
  std::vector<double> calculated;      // at the observations, for the fitted set
};

// Fits the varied coefficients with the annealing search, exactly as the
// console program does for the same deck: the same progress table, final
// set and calculated concentrations, on any number of threads. Throws
// ProblemError for a refused problem, including a varied coefficient that
// the search could not place within its bounds (bounds crossed or equal, an
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
