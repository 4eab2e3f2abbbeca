#include "stats/deck_fit.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include "driver/deck_reader.hpp"
#include "models/model.hpp"
#include "report/record_layout.hpp"

namespace btcfit::stats {
namespace {

// Step floor of coefficient k: a hundredth of its search interval.
constexpr double kFloorFraction = 0.01;

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

DeckFit fit_deck(const std::string& deck_path, int threads) {
  DeckFit fit;
  fit.deck_name = deck_path;
  fit.pool = std::make_shared<ObservationPool>(threads);
  fit.record = std::make_unique<ProblemRecord>();
  ProblemRecord& rec = *fit.record;
  rec.pool = fit.pool.get();

  // The echo and the progress table are not wanted here.
  std::FILE* sink = std::fopen("/dev/null", "wb");
  if (sink == nullptr) {
    throw IoError(6, "/dev/null",
                  std::string("cannot open for writing: ") + std::strerror(errno));
  }
  OutputUnit report(6, "/dev/null", sink, true);

  std::FILE* deck_file = std::fopen(deck_path.c_str(), "rb");
  if (deck_file == nullptr) {
    throw IoError(5, deck_path, std::string("cannot open: ") + std::strerror(errno));
  }
  InputUnit deck(5, deck_path, deck_file, true);

  read_deck(rec, deck, report, false);
  check_search_bounds(rec);
  // The search works on its own copy; the statistics use the record as
  // read, so that no observation time carries the rounding of the time
  // scaling of millions of evaluations.
  auto searched = std::make_unique<ProblemRecord>(rec);
  fit.outcome = run_search(*searched, report);
  rec.COEF[0] = searched->COEF[0];
  report.close();

  for (int k = 1; k <= rec.obs.NCOEF; ++k) {
    if (rec.obs.IVAR[k] != 0) fit.varied.push_back(k);
  }
  return fit;
}

std::string coefficient_name(const ProblemRecord& rec, int k) {
  std::string name(rec.CNAME[k].head.data(), rec.CNAME[k].head.size());
  name.append(rec.CNAME[k].tail.data(), rec.CNAME[k].tail.size());
  const auto first = name.find_first_not_of(' ');
  if (first == std::string::npos) {
    std::string fallback(1, 'B');
    fallback += std::to_string(k);
    return fallback;
  }
  const auto last = name.find_last_not_of(' ');
  return name.substr(first, last - first + 1);
}

std::string model_description(const ProblemRecord& rec) {
  const int mode = rec.work.MODE;
  std::string family;
  switch ((mode - 1) / 2) {
    case 0: family = "linear equilibrium adsorption"; break;
    case 1: family = "two-site/two-region nonequilibrium"; break;
    case 2: family = "stochastic stream tubes, pulse input"; break;
    case 3: family = "stochastic stream tubes, solute load"; break;
    default: family = "unknown family";
  }
  const std::string conc = mode % 2 == 1 ? "resident" : "flux";
  std::string text = "model " + std::to_string(mode) + ": " + family + ", " +
                     conc + " concentrations";
  if (rec.obs.IRED == 1) text += " (data: reduced concentrations)";
  if (rec.obs.IRED == 2) {
    text += " (data: reduced concentrations against reduced time)";
  }
  return text;
}

std::vector<double> evaluate_at(const ProblemRecord& rec, const CoefColumn& set,
                                const std::vector<double>& distances,
                                const std::vector<double>& times) {
  const std::size_t total = std::min(distances.size(), times.size());
  std::vector<double> result(total, 0.0);
  auto work = std::make_unique<ProblemRecord>();
  for (std::size_t start = 0; start < total; start += MAXOBS) {
    const int count = int(std::min<std::size_t>(MAXOBS, total - start));
    *work = rec;
    work->obs.NOB = count;
    for (int i = 1; i <= count; ++i) {
      work->obs.XOBS[i] = distances[start + i - 1];
      work->obs.TOBS[i] = times[start + i - 1];
    }
    MODEL(*work, set, work->CCALC);
    for (int i = 1; i <= count; ++i) result[start + i - 1] = work->CCALC[i];
  }
  return result;
}

Model varied_model(const DeckFit& fit) {
  // Each evaluation starts from a fresh copy of the record, so the model's
  // working fields and time scaling leave no trace between evaluations.
  // The model keeps the observation threads alive as long as it lives.
  auto base = std::make_shared<const ProblemRecord>(*fit.record);
  auto work = std::make_shared<ProblemRecord>();
  const std::vector<int> varied = fit.varied;
  return [base, work, varied, pool = fit.pool](std::span<const double> b,
                                               std::span<double> out) {
    *work = *base;
    CoefColumn set = base->COEF[0];
    for (std::size_t j = 0; j < varied.size(); ++j) {
      set[base->obs.NCOEF + varied[j] - 1] = b[j];
    }
    MODEL(*work, set, work->CCALC);
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = work->CCALC[i + 1];
  };
}

FitProblem fit_problem(const DeckFit& fit) {
  const ProblemRecord& rec = *fit.record;
  FitProblem problem;
  for (int k : fit.varied) {
    problem.names.push_back(coefficient_name(rec, k));
    problem.values.push_back(rec.coef(k, 1));
    problem.floors.push_back(kFloorFraction * (rec.BMAX[k] - rec.BMIN[k]));
  }
  for (int i = 1; i <= rec.obs.NOB; ++i) problem.observed.push_back(rec.COBS[i]);
  return problem;
}

std::string step_rule_text(const StatisticsOptions& options) {
  return "h_k = " + fmt("%g", options.relative_step) +
         " * max(|b_k|, 0.01 * (BMAX_k - BMIN_k))";
}

std::string final_progress_line(const DeckFit& fit) {
  const ProblemRecord& rec = *fit.record;
  static const Layout six("(I5,F10.6,6F9.5)");
  static const Layout seven("(I5,F10.6,7F9.5)");
  std::vector<FieldValue> values{FieldValue(fit.outcome.N),
                                 FieldValue(fit.outcome.SSQ)};
  for (int k = 1; k <= rec.obs.NCOEF; ++k) values.emplace_back(rec.coef(k, 1));
  const auto records = format_records(rec.obs.NCOEF == 7 ? seven : six, values);
  return records.empty() ? std::string() : records.front();
}

SummaryInput summary_input(const DeckFit& fit, const FitStatistics& st,
                           const StatisticsOptions& options) {
  const ProblemRecord& rec = *fit.record;
  SummaryInput in;
  in.heading = {
      "btcfit-stats: fit of " + fit.deck_name,
      model_description(rec) + "; " + std::to_string(rec.obs.NOB) +
          " observations",
      "The search ended at N = " + std::to_string(fit.outcome.N) +
          "; btcfit's final progress line for this deck:",
      final_progress_line(fit),
  };
  in.confidence = options.confidence;
  for (int k : fit.varied) {
    in.names.push_back(coefficient_name(rec, k));
    in.values.push_back(rec.coef(k, 1));
  }
  for (int k = 1; k <= rec.obs.NCOEF; ++k) {
    if (rec.obs.IVAR[k] == 0) {
      in.fixed.push_back(coefficient_name(rec, k) + " = " + fmt("%g", rec.coef(k, 1)));
    }
  }
  // A coefficient within one Jacobian step of a bound: the search could
  // not go further, and the interval does not take the bound into account.
  for (std::size_t j = 0; j < fit.varied.size() && j < st.steps.size(); ++j) {
    const int k = fit.varied[j];
    const double b = rec.coef(k, 1);
    const char* which = nullptr;
    if (b - st.steps[j] < rec.BMIN[k]) which = "lower";
    if (b + st.steps[j] > rec.BMAX[k]) which = "upper";
    if (which != nullptr) {
      in.notes.push_back(coefficient_name(rec, k) + " lies at its " + which +
                         " bound; its interval ignores the bound");
    }
  }
  for (std::size_t j = 0; j < fit.varied.size() && j < st.step_sensitivity.size(); ++j) {
    const double change = st.step_sensitivity[j];
    if (!(change <= kStepSensitivityLimit)) {
      in.notes.push_back("the derivative by " +
                         coefficient_name(rec, fit.varied[j]) + " changes by " +
                         fmt("%.2g", 100.0 * change) +
                         " % when its step is cut tenfold; its standard error is "
                         "uncertain to about that extent");
    }
  }
  in.step_rule = step_rule_text(options);
  return in;
}

DeckPlot deck_plot(const DeckFit& fit, int grid_points) {
  const ProblemRecord& rec = *fit.record;
  const int nob = rec.obs.NOB;
  DeckPlot plot;
  std::vector<double> xs, ts;
  for (int i = 1; i <= nob; ++i) {
    xs.push_back(rec.obs.XOBS[i]);
    ts.push_back(rec.obs.TOBS[i]);
  }
  plot.time_series = distinct(xs).size() <= distinct(ts).size();
  const std::vector<double>& key = plot.time_series ? xs : ts;  // per series
  const std::vector<double>& along = plot.time_series ? ts : xs;  // x axis
  plot.fixed = distinct(key);

  const bool reduced = rec.obs.IRED != 0;
  // The deck as named on the command line, shortened from the left.
  std::string name = fit.deck_name;
  if (name.size() > 60) name = "..." + name.substr(name.size() - 57);
  plot.figure.title = "Fitted curves: " + name;
  plot.figure.subtitle = model_description(rec);
  plot.figure.y_label = reduced ? "reduced concentration" : "concentration";
  plot.figure.x_label = plot.time_series
                          ? (rec.obs.IRED == 2 ? "reduced time" : "time")
                          : "distance";

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
    s.label = (plot.time_series ? "x = " : "t = ") + fmt("%g", value);
    for (int i = 0; i < nob; ++i) {
      if (key[i] != value) continue;
      s.obs_x.push_back(along[i]);
      s.obs_y.push_back(rec.COBS[i + 1]);
    }
    s.curve_x = grid;
    const std::vector<double> constant(grid.size(), value);
    s.curve_y = plot.time_series ? evaluate_at(rec, rec.COEF[0], constant, grid)
                                 : evaluate_at(rec, rec.COEF[0], grid, constant);
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
