#include "apps/btcfit-stats/plot_svg.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace btcfit::stats {
namespace {

// Distinct colours that stay apart on white paper and for common colour
// vision deficiencies.
constexpr const char* kPalette[] = {
    "#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd",
    "#8c564b", "#e377c2", "#17becf", "#7f7f7f", "#bcbd22",
};

std::string fmt(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// A pixel coordinate with two decimals.
std::string px(double v) { return fmt("%.2f", v); }

// A tick label with as many decimals as the tick step needs.
std::string tick_label(double v, double step) {
  int decimals = 0;
  if (step > 0.0) decimals = std::max(0, int(-std::floor(std::log10(step) + 1e-9)));
  decimals = std::min(decimals, 10);
  if (std::fabs(v) < step * 1e-9) v = 0.0;  // no "-0.0"
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

struct Range {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();
  void add(double v) {
    if (!std::isfinite(v)) return;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  bool empty() const { return !(lo <= hi); }
};

}  // namespace

std::string xml_escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string series_colour(std::size_t i) {
  return kPalette[i % (sizeof kPalette / sizeof kPalette[0])];
}

std::vector<double> nice_ticks(double lo, double hi, int target) {
  if (!std::isfinite(lo) || !std::isfinite(hi)) return {0.0, 1.0};
  if (hi < lo) std::swap(lo, hi);
  if (hi == lo) {
    const double pad = lo == 0.0 ? 1.0 : std::fabs(lo) * 0.1;
    lo -= pad;
    hi += pad;
  }
  const double raw = (hi - lo) / std::max(target, 1);
  const int exponent = int(std::floor(std::log10(raw)));
  const double magnitude = std::pow(10.0, exponent);
  double mantissa = 10.0;
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * magnitude >= raw) {
      mantissa = m;
      break;
    }
  }
  const double step = mantissa * magnitude;
  // Tick i is (first + i)·mantissa·10^exponent, formed so that round
  // values such as 0.6 come out as the nearest double.
  const auto tick = [&](long long index) {
    const double units = double(index) * mantissa;
    return exponent < 0 ? units / std::pow(10.0, -exponent) : units * magnitude;
  };
  const long long first = (long long)std::floor(lo / step + 1e-9);
  const long long last = (long long)std::ceil(hi / step - 1e-9);
  std::vector<double> ticks;
  for (long long i = first; i <= last && ticks.size() < 1000; ++i) {
    ticks.push_back(i == 0 ? 0.0 : tick(i));
  }
  if (ticks.size() < 2) ticks.push_back(tick(first + 1));
  return ticks;
}

std::string render_svg(const Figure& figure) {
  const double left = 80, right = 190, top = 56, bottom = 64;
  const double w = figure.width, h = figure.height;
  // With a residual panel the plot gives up the panel's height and a gap;
  // the horizontal tick labels and axis label go under the panel.
  const double panel_h = figure.residual_panel ? std::min(130.0, 0.28 * (h - top - bottom)) : 0.0;
  const double gap = figure.residual_panel ? 16.0 : 0.0;
  const double plot_w = w - left - right, plot_h = h - top - bottom - panel_h - gap;
  const double panel_top = top + plot_h + gap;
  const double axis_bottom = figure.residual_panel ? panel_top + panel_h : top + plot_h;

  // Both axes start at zero or below (unless the figure says otherwise),
  // and cover every point and curve.
  Range xr, yr;
  if (figure.axes_from_zero) {
    xr.add(0.0);
    yr.add(0.0);
  }
  for (const PlotSeries& s : figure.series) {
    for (double v : s.obs_x) xr.add(v);
    for (double v : s.curve_x) xr.add(v);
    for (double v : s.obs_y) yr.add(v);
    for (double v : s.curve_y) yr.add(v);
  }
  const std::vector<double> xt = nice_ticks(xr.lo, xr.hi, 8);
  const std::vector<double> yt = nice_ticks(yr.lo, yr.hi, 6);
  const double x0 = xt.front(), x1 = xt.back();
  const double y0 = yt.front(), y1 = yt.back();
  const auto sx = [&](double x) { return left + (x - x0) / (x1 - x0) * plot_w; };
  const auto sy = [&](double y) { return top + plot_h - (y - y0) / (y1 - y0) * plot_h; };

  std::string svg;
  svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
         std::to_string(figure.width) + "\" height=\"" + std::to_string(figure.height) +
         "\" viewBox=\"0 0 " + std::to_string(figure.width) + " " +
         std::to_string(figure.height) +
         "\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\">\n";
  svg += "<title>" + xml_escape(figure.title) + "</title>\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  svg += "<defs><clipPath id=\"plot-area\"><rect x=\"" + px(left) + "\" y=\"" +
         px(top) + "\" width=\"" + px(plot_w) + "\" height=\"" + px(plot_h) +
         "\"/></clipPath></defs>\n";
  svg += "<text class=\"title\" x=\"" + px(w / 2) +
         "\" y=\"20\" text-anchor=\"middle\" font-size=\"15\">" +
         xml_escape(figure.title) + "</text>\n";
  if (!figure.subtitle.empty()) {
    svg += "<text class=\"subtitle\" x=\"" + px(w / 2) +
           "\" y=\"38\" text-anchor=\"middle\" font-size=\"12\" fill=\"#444\">" +
           xml_escape(figure.subtitle) + "</text>\n";
  }

  // Grid, ticks and tick labels.
  svg += "<g class=\"axes\" font-size=\"12\" fill=\"#333\">\n";
  for (double t : xt) {
    const std::string x = px(sx(t));
    svg += "<line x1=\"" + x + "\" y1=\"" + px(top) + "\" x2=\"" + x + "\" y2=\"" +
           px(top + plot_h) + "\" stroke=\"#e4e4e4\"/>\n";
    if (figure.residual_panel) {
      svg += "<line x1=\"" + x + "\" y1=\"" + px(panel_top) + "\" x2=\"" + x + "\" y2=\"" +
             px(axis_bottom) + "\" stroke=\"#e4e4e4\"/>\n";
    }
    svg += "<line x1=\"" + x + "\" y1=\"" + px(axis_bottom) + "\" x2=\"" + x +
           "\" y2=\"" + px(axis_bottom + 5) + "\" stroke=\"#333\"/>\n";
    svg += "<text x=\"" + x + "\" y=\"" + px(axis_bottom + 20) +
           "\" text-anchor=\"middle\">" + tick_label(t, xt[1] - xt[0]) + "</text>\n";
  }
  for (double t : yt) {
    const std::string y = px(sy(t));
    svg += "<line x1=\"" + px(left) + "\" y1=\"" + y + "\" x2=\"" +
           px(left + plot_w) + "\" y2=\"" + y + "\" stroke=\"#e4e4e4\"/>\n";
    svg += "<line x1=\"" + px(left - 5) + "\" y1=\"" + y + "\" x2=\"" + px(left) +
           "\" y2=\"" + y + "\" stroke=\"#333\"/>\n";
    svg += "<text x=\"" + px(left - 9) + "\" y=\"" + px(sy(t) + 4) +
           "\" text-anchor=\"end\">" + tick_label(t, yt[1] - yt[0]) + "</text>\n";
  }
  svg += "<rect x=\"" + px(left) + "\" y=\"" + px(top) + "\" width=\"" +
         px(plot_w) + "\" height=\"" + px(plot_h) +
         "\" fill=\"none\" stroke=\"#333\"/>\n";
  svg += "<text class=\"x-label\" x=\"" + px(left + plot_w / 2) + "\" y=\"" +
         px(axis_bottom + 44) + "\" text-anchor=\"middle\" font-size=\"14\">" +
         xml_escape(figure.x_label) + "</text>\n";
  svg += "<text class=\"y-label\" x=\"22\" y=\"" + px(top + plot_h / 2) +
         "\" text-anchor=\"middle\" font-size=\"14\" transform=\"rotate(-90 22 " +
         px(top + plot_h / 2) + ")\">" + xml_escape(figure.y_label) + "</text>\n";
  svg += "</g>\n";

  // One group per series: the fitted curve, then the observations on top.
  for (std::size_t i = 0; i < figure.series.size(); ++i) {
    const PlotSeries& s = figure.series[i];
    const std::string colour = series_colour(i);
    svg += "<g class=\"series\" data-label=\"" + xml_escape(s.label) + "\">\n";
    std::string d;
    bool pen_down = false;
    for (std::size_t j = 0; j < s.curve_x.size() && j < s.curve_y.size(); ++j) {
      if (!std::isfinite(s.curve_x[j]) || !std::isfinite(s.curve_y[j])) {
        pen_down = false;
        continue;
      }
      d += pen_down ? " L" : (d.empty() ? "M" : " M");
      d += px(sx(s.curve_x[j])) + "," + px(sy(s.curve_y[j]));
      pen_down = true;
    }
    svg += "<path class=\"fit\" d=\"" + d + "\" fill=\"none\" stroke=\"" + colour +
           "\" stroke-width=\"2\" stroke-linejoin=\"round\" "
           "clip-path=\"url(#plot-area)\"/>\n";
    for (std::size_t j = 0; j < s.obs_x.size() && j < s.obs_y.size(); ++j) {
      if (!std::isfinite(s.obs_x[j]) || !std::isfinite(s.obs_y[j])) continue;
      svg += "<circle class=\"obs\" cx=\"" + px(sx(s.obs_x[j])) + "\" cy=\"" +
             px(sy(s.obs_y[j])) + "\" r=\"4\" fill=\"" + colour +
             "\" fill-opacity=\"0.85\" stroke=\"white\" stroke-width=\"1\"/>\n";
    }
    svg += "</g>\n";
  }

  // The residual panel: a zero line and the residuals of each series, on
  // a vertical axis symmetric about zero.
  if (figure.residual_panel) {
    double largest = 0.0;
    for (const PlotSeries& s : figure.series) {
      for (double r : s.residuals) {
        if (std::isfinite(r)) largest = std::max(largest, std::fabs(r));
      }
    }
    if (!(largest > 0.0)) largest = 1.0;
    const std::vector<double> rt = nice_ticks(-largest, largest, 4);
    const double r0 = rt.front(), r1 = rt.back();
    const auto ry = [&](double r) { return panel_top + panel_h - (r - r0) / (r1 - r0) * panel_h; };
    svg += "<g class=\"residual-axes\" font-size=\"11\" fill=\"#333\">\n";
    for (double t : rt) {
      const std::string y = px(ry(t));
      svg += "<line x1=\"" + px(left) + "\" y1=\"" + y + "\" x2=\"" + px(left + plot_w) +
             "\" y2=\"" + y + "\" stroke=\"" + (t == 0.0 ? "#777" : "#e4e4e4") + "\"" +
             (t == 0.0 ? " stroke-dasharray=\"4 3\"" : "") + "/>\n";
      svg += "<text x=\"" + px(left - 9) + "\" y=\"" + px(ry(t) + 4) +
             "\" text-anchor=\"end\">" + tick_label(t, rt[1] - rt[0]) + "</text>\n";
    }
    svg += "<rect x=\"" + px(left) + "\" y=\"" + px(panel_top) + "\" width=\"" + px(plot_w) +
           "\" height=\"" + px(panel_h) + "\" fill=\"none\" stroke=\"#333\"/>\n";
    svg += "<text class=\"residual-label\" x=\"22\" y=\"" + px(panel_top + panel_h / 2) +
           "\" text-anchor=\"middle\" font-size=\"12\" transform=\"rotate(-90 22 " +
           px(panel_top + panel_h / 2) + ")\">" + xml_escape(figure.residual_label) + "</text>\n";
    svg += "</g>\n";
    for (std::size_t i = 0; i < figure.series.size(); ++i) {
      const PlotSeries& s = figure.series[i];
      svg += "<g class=\"residuals\" data-label=\"" + xml_escape(s.label) + "\">\n";
      for (std::size_t j = 0; j < s.obs_x.size() && j < s.residuals.size(); ++j) {
        if (!std::isfinite(s.obs_x[j]) || !std::isfinite(s.residuals[j])) continue;
        svg += "<circle class=\"residual\" cx=\"" + px(sx(s.obs_x[j])) + "\" cy=\"" +
               px(ry(s.residuals[j])) + "\" r=\"3.5\" fill=\"" + series_colour(i) +
               "\" fill-opacity=\"0.85\" stroke=\"white\" stroke-width=\"1\"/>\n";
      }
      svg += "</g>\n";
    }
  }

  // Legend: what the marks mean, then one entry per series.
  const double lx = left + plot_w + 18;
  double ly = top + 6;
  svg += "<g class=\"legend\" font-size=\"12\" fill=\"#333\">\n";
  if (!figure.points_legend.empty()) {
    svg += "<circle cx=\"" + px(lx + 12) + "\" cy=\"" + px(ly) +
           "\" r=\"4\" fill=\"#555\"/><text x=\"" + px(lx + 32) + "\" y=\"" +
           px(ly + 4) + "\">" + xml_escape(figure.points_legend) + "</text>\n";
    ly += 18;
  }
  if (!figure.lines_legend.empty()) {
    svg += "<line x1=\"" + px(lx) + "\" y1=\"" + px(ly) + "\" x2=\"" + px(lx + 24) +
           "\" y2=\"" + px(ly) + "\" stroke=\"#555\" stroke-width=\"2\"/><text x=\"" +
           px(lx + 32) + "\" y=\"" + px(ly + 4) + "\">" + xml_escape(figure.lines_legend) +
           "</text>\n";
    ly += 18;
  }
  ly += 8;
  const std::size_t max_entries = std::size_t(std::max(1.0, (plot_h - 50) / 18));
  for (std::size_t i = 0; i < figure.series.size(); ++i, ly += 18) {
    if (i + 1 == max_entries && figure.series.size() > max_entries) {
      svg += "<text x=\"" + px(lx) + "\" y=\"" + px(ly + 4) + "\">... " +
             std::to_string(figure.series.size() - i) + " more</text>\n";
      break;
    }
    const std::string colour = series_colour(i);
    svg += "<line x1=\"" + px(lx) + "\" y1=\"" + px(ly) + "\" x2=\"" +
           px(lx + 24) + "\" y2=\"" + px(ly) + "\" stroke=\"" + colour +
           "\" stroke-width=\"2\"/><circle cx=\"" + px(lx + 12) + "\" cy=\"" +
           px(ly) + "\" r=\"4\" fill=\"" + colour + "\"/><text x=\"" +
           px(lx + 32) + "\" y=\"" + px(ly + 4) + "\">" +
           xml_escape(figure.series[i].label) + "</text>\n";
  }
  if (!figure.legend_notes.empty()) {
    ly += 10;
    for (const std::string& note : figure.legend_notes) {
      svg += "<text class=\"note\" x=\"" + px(lx) + "\" y=\"" + px(ly + 4) + "\">" +
             xml_escape(note) + "</text>\n";
      ly += 16;
    }
  }
  svg += "</g>\n";
  svg += "</svg>\n";
  return svg;
}

}  // namespace btcfit::stats
