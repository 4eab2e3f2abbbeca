// The companion's view of one problem: the deck read with btcfit's own
// reader, the fit made with btcfit's own search, and the fitted model
// turned into the pieces the statistics, the summary and the plot need.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "btcfit/btcfit.hpp"
#include "analysis/fit_statistics.hpp"
#include "analysis/fitted_problem.hpp"
#include "btcfit/analysis.hpp"
#include "apps/btcfit-stats/plot_svg.hpp"
#include "apps/btcfit-stats/summary.hpp"

namespace btcfit::stats {


// Reads the deck and fits it with `options` (by default exactly as btcfit
// does). `threads` threads evaluate the model calls (0: every usable
// core); the fitted set does not depend on it. Throws DeckError and
// ProblemError.
FittedProblem fit_deck(const std::string& deck_path, int threads = 0, const FitOptions& options = {});

// The text of the step rule as applied by fit_problem and the options.
std::string step_rule_text(const StatisticsOptions& options);

// Everything the summary needs besides the statistics.
SummaryInput summary_input(const FittedProblem& fit, const FitStatistics& st,
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
//
// The axes name the quantity and, when given, the units of length and
// time; a residual panel under the curves shows observed minus fitted, and
// the legend lists the fitted coefficients.
struct PlotUnits {
  std::string length;  // e.g. "cm"; empty: no units shown
  std::string time;    // e.g. "h"
};
DeckPlot deck_plot(const FittedProblem& fit, int grid_points = 201, const PlotUnits& units = {});

// The fitted curves as CSV with the header "distance,time,concentration",
// series after series.
std::string curve_csv(const DeckPlot& plot);

}  // namespace btcfit::stats
