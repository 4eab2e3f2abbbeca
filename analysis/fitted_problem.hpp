// A fitted problem as the analysis sees it: the problem with the deck's
// silent corrections applied, its fit, the positions of the coefficients
// the fit varied, and the fitted model of those coefficients turned into
// the pieces the statistics, refinement and profiles need.
#pragma once

#include <string>
#include <vector>

#include "analysis/fit_statistics.hpp"
#include "btcfit/fit.hpp"
#include "btcfit/problem.hpp"

namespace btcfit::stats {

struct FittedProblem {
  std::string label;  // e.g. the deck's path; shown in summaries
  // The problem with the deck's silent corrections applied.
  Problem problem;
  FitResult result;
  std::vector<int> varied;  // positions k (1..number of coefficients) varied
  int threads = 1;          // threads for the evaluations of the statistics
  Numerics numerics = Numerics::legacy;  // of every model call of the analysis
};

// The fitted problem of `result` (the fit of `problem`): varied positions
// from result.varied (the problem's flags when the result has none),
// numerics from the result. `threads` 0: every usable core.
FittedProblem fitted_problem(const Problem& problem, const FitResult& result,
                             const std::string& label, int threads);

// The name of coefficient k (1-based) as the problem gives it (blanks
// trimmed), or "B<k>" when it is blank.
std::string coefficient_name(const Problem& problem, int k);

// A short description of the problem's model and data form.
std::string model_description(const Problem& problem);

// The model of the varied coefficients: values b_1..b_p of the varied
// positions in order, the other coefficients as in the fitted set, on the
// fit's numerics.
Model varied_model(const FittedProblem& fit);

// The statistics problem of the fit: names, fitted values, step floors
// 0.01·(upper_k − lower_k) and the observed concentrations.
FitProblem fit_problem(const FittedProblem& fit);

// btcfit's progress line for the search's final N and SSQ and the fitted
// set: the last line of the report's progress table.
std::string final_progress_line(const FittedProblem& fit);

}  // namespace btcfit::stats
