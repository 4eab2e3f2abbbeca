#include "apps/btcfit-stats/summary.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "apps/btcfit-stats/text_columns.hpp"

namespace btcfit::stats {

std::string format_summary(const SummaryInput& in, const FitStatistics& st) {
  std::string out;
  const auto line = [&](const std::string& s) { out += s + "\n"; };

  for (const std::string& h : in.heading) line(h);
  if (!in.heading.empty()) line("");

  std::size_t name_width = 11;
  for (const std::string& n : in.names) name_width = std::max(name_width, n.size() + 2);
  const bool numbers = st.verdict == Verdict::Determined;
  const std::string level = num("%.0f", in.confidence * 100.0) + " %";

  line("Varied coefficients");
  line(pad_right("  name", name_width + 2) + pad_left("value", 16) +
       pad_left("std. error", 14) + "   " + level + " confidence interval");
  for (std::size_t k = 0; k < in.names.size(); ++k) {
    std::string row = "  " + pad_right(in.names[k], name_width) +
                      pad_left(num("%.8g", in.values[k]), 16);
    if (numbers) {
      row += pad_left(num("%.4e", st.std_error[k]), 14) + "   [" +
             num("%.6g", st.ci_lower[k]) + ", " + num("%.6g", st.ci_upper[k]) +
             "]";
    } else {
      row += pad_left("-", 14) + "   -";
    }
    line(row);
  }
  if (in.names.empty()) line("  (none: the deck varies no coefficient)");
  if (!in.fixed.empty()) {
    std::string fixed = "  fixed:";
    for (std::size_t i = 0; i < in.fixed.size(); ++i) {
      fixed += (i == 0 ? " " : ", ") + in.fixed[i];
    }
    line(fixed);
  }
  if (!numbers) {
    line("");
    line("  No standard errors, intervals or correlations: " + st.message + ".");
  }
  for (const std::string& note : in.notes) line("  Note: " + note);

  if (numbers && st.p > 0) {
    line("");
    line("Correlation matrix");
    std::string head = "  " + pad_right("", name_width);
    for (const std::string& n : in.names) head += pad_left(n, 9);
    line(head);
    for (int j = 0; j < st.p; ++j) {
      std::string row = "  " + pad_right(in.names[j], name_width);
      for (int k = 0; k <= j; ++k) row += pad_left(num("%.4f", st.correlation(j, k)), 9);
      line(row);
    }
  }

  line("");
  line("Fit measures");
  const auto measure = [&](const std::string& label, const std::string& value) {
    line("  " + pad_right(label, 40) + value);
  };
  measure("observations n", std::to_string(st.n));
  measure("varied coefficients p", std::to_string(st.p));
  measure("degrees of freedom n - p", std::to_string(st.dof));
  measure("SSQ (sum of squared residuals)", num("%.6e", st.ssq));
  measure("s^2 = SSQ / (n - p)", num("%.6e", st.s2));
  measure("s = sqrt(s^2)", num("%.6e", std::sqrt(st.s2)));
  measure("RMSE = sqrt(SSQ / n)", num("%.6e", st.rmse));
  measure("R^2 of observed against calculated", num("%.6f", st.r2));
  measure("Student t (" + num("%.1f", 50.0 + in.confidence * 50.0) + " %, n - p)",
          num("%.6f", st.t_quantile));
  if (!in.step_rule.empty()) {
    line("");
    line("Jacobian: central differences, steps " + in.step_rule);
    if (!st.steps.empty()) {
      std::string steps = " ";
      for (std::size_t k = 0; k < st.steps.size(); ++k) {
        steps += " " + in.names[k] + " " + num("%.3g", st.steps[k]);
        if (k + 1 < st.steps.size()) steps += ",";
      }
      line(steps);
    }
  }
  return out;
}

}  // namespace btcfit::stats
