// The companion's view of one problem: the deck read with btcfit's own
// reader, the fit made with btcfit's own search, and the fitted model
// turned into the pieces the statistics, the summary and the plot need.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "btcfit/btcfit.hpp"
#include "analysis/fit_statistics.hpp"
#include "apps/btcfit-stats/plot_svg.hpp"
#include "apps/btcfit-stats/summary.hpp"

namespace btcfit::stats {

struct DeckFit {
  std::string deck_name;
  // The problem as read, with the deck's silent corrections applied.
  Problem problem;
  FitResult result;        // btcfit's fit of it
  std::vector<int> varied;  // positions k (1..number of coefficients) varied
  int threads = 1;          // threads for the evaluations of the statistics
};

// Reads the deck and fits it exactly as btcfit does. `threads` threads
// evaluate the model calls (0: every usable core); the fitted set does not
// depend on it. Throws DeckError and ProblemError.
DeckFit fit_deck(const std::string& deck_path, int threads = 0);

// The name of coefficient k (1-based) as the deck gives it (blanks
// trimmed), or "B<k>" when the deck leaves it blank.
std::string coefficient_name(const Problem& problem, int k);

// A short description of the problem's model and data form.
std::string model_description(const Problem& problem);

// The model of the varied coefficients: values b_1..b_p of the varied
// positions in order, the other coefficients as in `fit`'s fitted set.
Model varied_model(const DeckFit& fit);

// The statistics problem of the fit: names, fitted values, step floors
// 0.01·(BMAX_k − BMIN_k) and the observed concentrations.
FitProblem fit_problem(const DeckFit& fit);

// The text of the step rule as applied by fit_problem and the options.
std::string step_rule_text(const StatisticsOptions& options);

// btcfit's progress line for the search's final N and SSQ and the fitted
// set: the last line of the report's progress table.
std::string final_progress_line(const DeckFit& fit);

// Everything the summary needs besides the statistics.
SummaryInput summary_input(const DeckFit& fit, const FitStatistics& st,
                           const StatisticsOptions& options);

// Observations and fitted curves. When the observations share fewer
// distances than times they are breakthrough curves: one series per
// distance, against time. Otherwise they are depth profiles: one series
// per time, against distance. Each curve has `grid_points` points evenly
// spaced from min(0, smallest) to the largest observed time (or distance).
struct DeckPlot {
  Figure figure;
  bool time_series = true;
  std::vector<double> fixed;  // the distance (or time) of each series
};
DeckPlot deck_plot(const DeckFit& fit, int grid_points = 201);

// The fitted curves as CSV with the header "distance,time,concentration",
// series after series.
std::string curve_csv(const DeckPlot& plot);

}  // namespace btcfit::stats
