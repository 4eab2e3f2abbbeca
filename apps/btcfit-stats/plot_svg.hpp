// A breakthrough-curve plot as an SVG document: the observed values of
// each series as points and the fitted curve of the same series as a line
// in the series' colour, with labelled axes and a legend.
//
// Structure, for programs that read the file: every series is one
//   <g class="series" data-label="...">
// holding one <path class="fit"> (the fitted curve) and one
// <circle class="obs"> per observation; with a residual panel, one
//   <g class="residuals" data-label="..."> per series holding one
// <circle class="residual"> per observation.
#pragma once

#include <string>
#include <vector>

namespace btcfit::stats {

struct PlotSeries {
  std::string label;  // legend text, e.g. "x = 30"
  std::vector<double> obs_x, obs_y;      // observations
  std::vector<double> curve_x, curve_y;  // fitted curve on a fine grid
  // Observed minus fitted at each observation (the residual panel); empty
  // when the figure has none.
  std::vector<double> residuals;
};

struct Figure {
  std::string title;
  std::string subtitle;  // a smaller second line under the title
  std::string x_label;
  std::string y_label;
  std::vector<PlotSeries> series;
  int width = 820;
  int height = 520;
  // Both axes reach down to zero (concentrations against time); false
  // fits them to the data alone (a profile against a coefficient).
  bool axes_from_zero = true;
  // The legend's explanation of the marks; an empty text leaves its entry
  // out.
  std::string points_legend = "observed";
  std::string lines_legend = "fitted";
  // Lines written under the legend's entries (e.g. the fitted
  // coefficients).
  std::vector<std::string> legend_notes;
  // A panel under the plot with the residuals of every series against the
  // same horizontal axis, and its vertical axis label.
  bool residual_panel = false;
  std::string residual_label = "residual";
};

// Round tick positions covering [lo, hi]: steps of 1, 2 or 5 times a
// power of ten, about `target` of them.
std::vector<double> nice_ticks(double lo, double hi, int target = 6);

// The colour of series i (cycles through a fixed palette).
std::string series_colour(std::size_t i);

std::string render_svg(const Figure& figure);

// Text escaped for XML character data and attribute values.
std::string xml_escape(const std::string& text);

}  // namespace btcfit::stats
