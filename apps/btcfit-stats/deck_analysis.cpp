#include "apps/btcfit-stats/deck_analysis.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace btcfit::stats {
namespace {

std::string fmt(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

}  // namespace

Figure comparison_plot(const std::vector<FittedProblem>& fits, int grid_points) {
  Figure figure;
  figure.title = "Fitted curves of " + std::to_string(fits.size()) + " models";
  for (std::size_t f = 0; f < fits.size(); ++f) {
    const DeckPlot plot = deck_plot(fits[f], grid_points);
    if (f == 0) {
      figure.subtitle = "observations as points, one line per model";
      figure.x_label = plot.figure.x_label;
      figure.y_label = plot.figure.y_label;
    }
    for (const PlotSeries& s : plot.figure.series) {
      PlotSeries series = s;
      // The table of the summary numbers the decks the same way.
      // Built by appending: "#" + std::to_string(...) draws a false
      // -Wrestrict warning from g++ 12.
      series.label = std::string(1, '#');
      series.label += std::to_string(f + 1) + ": model " +
                     std::to_string(static_cast<int>(fits[f].problem.model)) + ", p = " +
                     std::to_string(fits[f].varied.size()) +
                     (plot.figure.series.size() > 1 ? ", " + s.label : "");
      if (f > 0) {
        series.obs_x.clear();
        series.obs_y.clear();
      }
      figure.series.push_back(std::move(series));
    }
  }
  figure.lines_legend = "fitted (per model)";
  return figure;
}

Figure profile_plot(const FittedProblem& fit, const FitAnalysis& analysis, int j) {
  const Profiles& pr = *analysis.profiles;
  const CoefficientProfile& cp = pr.coefficients[j];
  const std::string name = coefficient_name(fit.problem, fit.varied[j]);
  Figure figure;
  figure.axes_from_zero = false;
  figure.title = "Profile of " + name + ": " + fit.label;
  figure.subtitle = "SSQ with " + name + " held fixed and the other coefficients refined";
  figure.x_label = name;
  figure.y_label = "SSQ";
  figure.points_legend = "computed";
  figure.lines_legend = "";
  PlotSeries profile;
  profile.label = "profile SSQ";
  // The frame: SSQ up to twice the threshold's rise above SSQ_min, so that
  // a far bracketing point does not squeeze the interval into a corner.
  const double ceiling = pr.ssq_min + 2.0 * (pr.threshold - pr.ssq_min);
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (const ProfilePoint& pt : cp.points) {
    if (!(pt.ssq <= ceiling)) continue;
    profile.obs_x.push_back(pt.value);
    profile.obs_y.push_back(pt.ssq);
    lo = std::min(lo, pt.value);
    hi = std::max(hi, pt.value);
  }
  profile.curve_x = profile.obs_x;
  profile.curve_y = profile.obs_y;
  PlotSeries threshold;
  threshold.label = fmt("%.0f", 100.0 * pr.level) + " % threshold";
  threshold.curve_x = {lo, hi};
  threshold.curve_y = {pr.threshold, pr.threshold};
  figure.series.push_back(std::move(profile));
  figure.series.push_back(std::move(threshold));
  const FitStatistics& st = analysis.refined_statistics;
  if (st.verdict == Verdict::Determined && st.std_error[j] > 0.0) {
    PlotSeries parabola;
    parabola.label = "linearized";
    const double b = analysis.refinement.values[j];
    const int grid = 101;
    for (int g = 0; g < grid; ++g) {
      const double v = lo + (hi - lo) * g / (grid - 1);
      const double z = (v - b) / st.std_error[j];
      const double s = pr.ssq_min + st.s2 * z * z;
      // Only the part within the frame of the profile.
      if (s > ceiling) continue;
      parabola.curve_x.push_back(v);
      parabola.curve_y.push_back(s);
    }
    figure.series.push_back(std::move(parabola));
  }
  return figure;
}

std::string file_name_part(const std::string& name) {
  std::string out;
  for (char ch : name) {
    const bool keep = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                      (ch >= '0' && ch <= '9') || ch == '-' || ch == '_';
    out += keep ? ch : '_';
  }
  return out.empty() ? "_" : out;
}

}  // namespace btcfit::stats
