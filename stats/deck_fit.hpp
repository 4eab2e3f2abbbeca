// The companion's view of one problem: the deck read with btcfit's own
// reader, the fit made with btcfit's own search, and the fitted model
// turned into the pieces the statistics, the summary and the plot need.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "driver/problem_record.hpp"
#include "estimate/annealing.hpp"
#include "models/observation_pool.hpp"
#include "stats/fit_statistics.hpp"
#include "stats/plot_svg.hpp"
#include "stats/summary.hpp"

namespace btcfit::stats {

struct DeckFit {
  std::string deck_name;
  // The threads that evaluate the observations of a model call, as in
  // btcfit's run; the record points at them.
  std::shared_ptr<ObservationPool> pool;
  // The record as the deck reader left it (observation times untouched by
  // any model evaluation) with the fitted set in COEF column 1.
  std::unique_ptr<ProblemRecord> record;
  SearchOutcome outcome;
  std::vector<int> varied;  // positions k (1..NCOEF) with IVAR(k) nonzero
};

// Reads the deck and runs the search exactly as btcfit does (read_deck,
// check_search_bounds, run_search), sending the echo and the progress
// table to /dev/null. `threads` threads evaluate the observations of each
// model call (1: serially); the fitted set does not depend on it. Throws
// IoError and DeckRejected as btcfit's run does.
DeckFit fit_deck(const std::string& deck_path,
                 int threads = ObservationPool::machine_threads());

// The name of coefficient k as the deck gives it (blanks trimmed), or
// "B<k>" when the deck leaves it blank.
std::string coefficient_name(const ProblemRecord& rec, int k);

// A short description of the model of rec.work.MODE.
std::string model_description(const ProblemRecord& rec);

// Calculated concentrations of `set` at the given distances and times
// (any number of points; evaluated in batches of at most 90 observations
// on copies of `rec`).
std::vector<double> evaluate_at(const ProblemRecord& rec, const CoefColumn& set,
                                const std::vector<double>& distances,
                                const std::vector<double>& times);

// The model of the varied coefficients: values b_1..b_p of the varied
// positions in order, the other coefficients as in `fit`'s fitted set.
Model varied_model(const DeckFit& fit);

// The statistics problem of the fit: names, fitted values, step floors
// 0.01·(BMAX_k − BMIN_k) and the observed concentrations.
FitProblem fit_problem(const DeckFit& fit);

// The text of the step rule as applied by fit_problem and the options.
std::string step_rule_text(const StatisticsOptions& options);

// btcfit's progress line "(I5,F10.6,6F9.5)" (with a seventh coefficient
// field for seven-coefficient models) for the search's final N and SSQ and
// the fitted set: the last line of the report's progress table.
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
