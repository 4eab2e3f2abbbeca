#include "apps/btcfit-stats/deck_fit.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>


namespace btcfit::stats {
namespace {

// A Jacobian column that changes by more than this fraction when the step
// is cut tenfold earns a note in the summary.
constexpr double kStepSensitivityLimit = 0.01;

std::string fmt(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

std::vector<double> distinct(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  return v;
}

}  // namespace

FittedProblem fit_deck(const std::string& deck_path, int threads, const FitOptions& base) {
  const Problem problem = read_deck(std::filesystem::path(deck_path));
  FitOptions options = base;
  options.threads = threads > 0 ? threads : usable_threads();
  return fitted_problem(problem, analysis::fit(problem, options), deck_path, options.threads);
}

std::string step_rule_text(const StatisticsOptions& options) {
  return "h_k = " + fmt("%g", options.relative_step) +
         " * max(|b_k|, 0.01 * (BMAX_k - BMIN_k))";
}

SummaryInput summary_input(const FittedProblem& fit, const FitStatistics& st,
                           const StatisticsOptions& options) {
  const Problem& problem = fit.problem;
  const std::vector<double>& fitted = fit.result.coefficients;
  SummaryInput in;
  in.heading = {
      "btcfit-stats: fit of " + fit.label,
      model_description(problem) + "; " + std::to_string(problem.observations.size()) +
          " observations",
  };
  if (fit.result.method == FitMethod::annealing) {
    in.heading.push_back("The search ended at N = " + std::to_string(fit.result.iterations) +
                         "; btcfit's final progress line for this deck:");
    in.heading.push_back(final_progress_line(fit));
  } else {
    in.heading.push_back(std::string("Fitted by the ") + method_name(fit.result.method) +
                         " method on " + numerics_name(fit.result.numerics) + " numerics (" +
                         termination_text(fit.result.termination) + ", " +
                         std::to_string(fit.result.evaluations) + " model evaluations); SSQ = " +
                         fmt("%.9g", fit.result.ssq));
  }
  in.confidence = options.confidence;
  for (int k : fit.varied) {
    in.names.push_back(coefficient_name(problem, k));
    in.values.push_back(fitted[k - 1]);
  }
  for (int k = 1; k <= int(problem.coefficients.size()); ++k) {
    if (!problem.coefficients[k - 1].varied) {
      in.fixed.push_back(coefficient_name(problem, k) + " = " + fmt("%g", fitted[k - 1]));
    }
  }
  // A coefficient within one Jacobian step of a bound: the search could
  // not go further, and the interval does not take the bound into account.
  for (std::size_t j = 0; j < fit.varied.size() && j < st.steps.size(); ++j) {
    const int k = fit.varied[j];
    const double b = fitted[k - 1];
    const char* which = nullptr;
    if (b - st.steps[j] < problem.coefficients[k - 1].lower) which = "lower";
    if (b + st.steps[j] > problem.coefficients[k - 1].upper) which = "upper";
    if (which != nullptr) {
      in.notes.push_back(coefficient_name(problem, k) + " lies at its " + which +
                         " bound; its interval ignores the bound");
    }
  }
  for (std::size_t j = 0; j < fit.varied.size() && j < st.step_sensitivity.size(); ++j) {
    const double change = st.step_sensitivity[j];
    if (!(change <= kStepSensitivityLimit)) {
      in.notes.push_back("the derivative by " +
                         coefficient_name(problem, fit.varied[j]) + " changes by " +
                         fmt("%.2g", 100.0 * change) +
                         " % when its step is cut tenfold; its standard error is "
                         "uncertain to about that extent");
    }
  }
  in.step_rule = step_rule_text(options);
  return in;
}

DeckPlot deck_plot(const FittedProblem& fit, int grid_points, const PlotUnits& units) {
  const Problem& problem = fit.problem;
  const int nob = int(problem.observations.size());
  DeckPlot plot;
  std::vector<double> xs, ts;
  for (const Observation& o : problem.observations) {
    xs.push_back(o.distance);
    ts.push_back(o.time);
  }
  plot.time_series = distinct(xs).size() <= distinct(ts).size();
  const std::vector<double>& key = plot.time_series ? xs : ts;  // per series
  const std::vector<double>& along = plot.time_series ? ts : xs;  // x axis
  plot.fixed = distinct(key);

  const bool reduced = problem.data_form != DataForm::measured;
  // The deck as named on the command line, shortened from the left.
  std::string name = fit.label;
  if (name.size() > 60) name = "..." + name.substr(name.size() - 57);
  plot.figure.title = "Fitted curves: " + name;
  plot.figure.subtitle = model_description(problem);
  const auto with_unit = [](std::string quantity, const std::string& unit) {
    return unit.empty() ? quantity : quantity + " (" + unit + ")";
  };
  plot.figure.y_label = reduced ? "reduced concentration" : "concentration";
  plot.figure.x_label =
      plot.time_series
          ? (problem.data_form == DataForm::reduced_concentration_and_time
                 ? std::string("reduced time (pore volumes)")
                 : with_unit("time", units.time))
          : with_unit("distance", units.length);
  plot.figure.residual_panel = true;
  plot.figure.residual_label = "observed - fitted";
  plot.figure.height = 660;
  plot.figure.legend_notes.push_back("fitted coefficients:");
  for (std::size_t k = 1; k <= problem.coefficients.size(); ++k) {
    const bool varied = std::find(fit.varied.begin(), fit.varied.end(), int(k)) != fit.varied.end();
    plot.figure.legend_notes.push_back(coefficient_name(problem, int(k)) + " = " +
                                       fmt("%.5g", fit.result.coefficients[k - 1]) +
                                       (varied ? "" : " (fixed)"));
  }

  double lo = 0.0, hi = 0.0;
  for (double v : along) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  if (!(hi > lo)) hi = lo + 1.0;
  std::vector<double> grid(std::max(grid_points, 2));
  for (std::size_t g = 0; g < grid.size(); ++g) {
    grid[g] = lo + (hi - lo) * double(g) / double(grid.size() - 1);
  }

  for (double value : plot.fixed) {
    PlotSeries s;
    const std::string& unit = plot.time_series ? units.length : units.time;
    s.label = (plot.time_series ? "x = " : "t = ") + fmt("%g", value) +
              (unit.empty() ? "" : " " + unit);
    for (int i = 0; i < nob; ++i) {
      if (key[i] != value) continue;
      s.obs_x.push_back(along[i]);
      s.obs_y.push_back(problem.observations[i].concentration);
      if (std::size_t(i) < fit.result.calculated.size()) {
        s.residuals.push_back(problem.observations[i].concentration - fit.result.calculated[i]);
      }
    }
    s.curve_x = grid;
    const std::vector<double> constant(grid.size(), value);
    const EvaluateOptions on{fit.numerics, fit.threads};
    s.curve_y = plot.time_series ? evaluate(problem, fit.result.coefficients, constant, grid, on)
                                 : evaluate(problem, fit.result.coefficients, grid, constant, on);
    plot.figure.series.push_back(std::move(s));
  }
  return plot;
}

std::string curve_csv(const DeckPlot& plot) {
  std::string csv = "distance,time,concentration\n";
  for (std::size_t s = 0; s < plot.figure.series.size(); ++s) {
    const PlotSeries& series = plot.figure.series[s];
    for (std::size_t g = 0; g < series.curve_x.size(); ++g) {
      const double distance = plot.time_series ? plot.fixed[s] : series.curve_x[g];
      const double time = plot.time_series ? series.curve_x[g] : plot.fixed[s];
      csv += fmt("%.10g", distance) + "," + fmt("%.10g", time) + "," +
             fmt("%.10g", series.curve_y[g]) + "\n";
    }
  }
  return csv;
}

}  // namespace btcfit::stats
