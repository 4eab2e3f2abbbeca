#include "apps/btcfit-stats/analysis_output.hpp"

#include <cmath>
#include <cstdio>

#include "analysis/json_output.hpp"
#include "apps/btcfit-stats/text_columns.hpp"

namespace btcfit::stats {
namespace {



std::string limit_text(const ProfileLimit& l) {
  if (!l.found) return "not found";
  return num("%#.3g", l.value) + (l.at_bound ? " (bound)" : "");
}


std::string criteria_lines(const Criteria& c, int n, int p) {
  std::string out;
  const auto measure = [&](const std::string& label, const std::string& value) {
    out += "  " + pad_right(label, 40) + value + "\n";
  };
  measure("AIC  = n ln(SSQ/n) + 2k", num("%.4f", c.aic));
  measure("AICc = AIC + 2k(k+1)/(n-k-1)", num("%.4f", c.aicc));
  measure("BIC  = n ln(SSQ/n) + k ln n", num("%.4f", c.bic));
  out += "  (k = p + 1 = " + std::to_string(p + 1) + " counts the error variance; n = " +
         std::to_string(n) + "; SSQ of the refined set)\n";
  return out;
}


}  // namespace

std::string format_analysis(const FittedProblem& fit, const FitAnalysis& a) {
  std::string out;
  const auto line = [&](const std::string& s) { out += s + "\n"; };
  const std::vector<std::string> names = varied_names(fit);
  std::size_t w = 11;
  for (const std::string& n : names) w = std::max(w, n.size() + 2);
  const Refinement& r = a.refinement;

  line("");
  line("Local refinement (bounded Levenberg-Marquardt from the search's set)");
  line(pad_right("  name", w + 2) + pad_left("search", 16) + pad_left("refined", 16));
  for (std::size_t j = 0; j < names.size(); ++j) {
    line("  " + pad_right(names[j], w) +
         pad_left(num("%.8g", fit.result.coefficients[fit.varied[j] - 1]), 16) +
         pad_left(num("%.8g", r.values[j]), 16));
  }
  line("  " + pad_right("SSQ", w) + pad_left(num("%.6e", r.start_ssq), 16) +
       pad_left(num("%.6e", r.ssq), 16));
  const double drop = relative_decrease(r);
  if (a.search_at_local_minimum) {
    line("  The search's set is at a local minimum of SSQ (the refinement lowers it by " +
         num("%.1e", drop) + " of itself, at most " + num("%.0e", kLocalMinimumTolerance) + ").");
  } else {
    line("  The search's set is NOT at a local minimum of SSQ: the refinement lowers it by " +
         num("%.3g", 100.0 * drop) + " %.");
  }
  if (!r.converged) line("  Note: the refinement stopped without converging: " + r.message);

  if (a.profiles) {
    const Profiles& pr = *a.profiles;
    const FitStatistics& st = a.refined_statistics;
    const std::string level = num("%.0f", 100.0 * pr.level) + " %";
    line("");
    line("Profile-likelihood intervals (" + level + ", about the refined set)");
    line("  SSQ <= SSQ_min * (1 + F/(n - p)) = " + num("%.6e", pr.threshold) + ", F(" +
         num("%.2f", pr.level) + "; 1, " + std::to_string(pr.n - pr.p) + ") = " +
         num("%.6f", pr.f_quantile));
    line(pad_right("  name", w + 2) + pad_left("refined", 14) + "   " +
         pad_right("profile interval", 30) + "linearized, same set");
    bool bound = false;
    for (std::size_t j = 0; j < names.size(); ++j) {
      const CoefficientProfile& c = pr.coefficients[j];
      bound = bound || c.lower.at_bound || c.upper.at_bound;
      std::string lin = "-";
      if (st.verdict == Verdict::Determined) {
        lin = std::string(1, '[');
        lin += num("%#.3g", st.ci_lower[j]) + ", " + num("%#.3g", st.ci_upper[j]) + "]";
      }
      line("  " + pad_right(names[j], w) + pad_left(num("%.6g", r.values[j]), 14) + "   " +
           pad_right(std::string(1, '[') + limit_text(c.lower) + ", " + limit_text(c.upper) + "]",
                     30) +
           lin);
    }
    if (bound) {
      line("  (bound): SSQ stays below the threshold up to the coefficient's bound; the");
      line("  interval is cut there.");
    }
    if (pr.least_ssq < pr.ssq_min * (1.0 - kLocalMinimumTolerance)) {
      line("  Note: a profile reached SSQ " + num("%.6e", pr.least_ssq) +
           ", below the refined set's: that set is not the least-squares optimum.");
    }
  }

  line("");
  line("Information criteria (Gaussian errors of one unknown variance)");
  out += criteria_lines(a.criteria, int(fit.problem.observations.size()),
                        int(fit.varied.size()));
  return out;
}

std::string format_comparison(const std::vector<FittedProblem>& fits,
                              const std::vector<FitAnalysis>& analyses,
                              const Comparison& c) {
  std::string out;
  const auto line = [&](const std::string& s) { out += s + "\n"; };
  line("btcfit-stats: comparison of " + std::to_string(fits.size()) + " fits of the same " +
       std::to_string(fits.front().problem.observations.size()) + " observations");
  line("Each deck is fitted as btcfit fits it, then refined locally; SSQ and the");
  line("criteria are those of the refined set (k = p + 1 counts the error variance).");
  line("");
  std::size_t dw = 4;
  for (const FittedProblem& f : fits) dw = std::max(dw, f.label.size());
  line("  " + pad_right("#", 3) + pad_right("deck", dw + 2) + pad_left("model", 5) +
       pad_left("p", 4) + pad_left("SSQ", 14) + pad_left("AICc", 11) + pad_left("dAICc", 10) +
       pad_left("weight", 9) + pad_left("BIC", 11));
  for (std::size_t i = 0; i < fits.size(); ++i) {
    const ComparisonRow& r = c.rows[i];
    line("  " + pad_right(std::to_string(i + 1), 3) + pad_right(fits[i].label, dw + 2) +
         pad_left(std::to_string(c.fits[i].model), 5) + pad_left(std::to_string(c.fits[i].p), 4) +
         pad_left(num("%.6e", c.fits[i].ssq), 14) + pad_left(num("%.3f", r.criteria.aicc), 11) +
         pad_left(num("%.3f", r.delta_aicc), 10) + pad_left(num("%.4f", r.weight), 9) +
         pad_left(num("%.3f", r.criteria.bic), 11));
  }
  if (!std::isnan(c.rows[c.best].weight)) {
    line("  Least AICc: #" + std::to_string(c.best + 1) + " (model " +
         std::to_string(c.fits[c.best].model) + "), Akaike weight " +
         num("%.4f", c.rows[c.best].weight) + ".");
  } else {
    line("  AICc is not defined for every fit (it needs n > p + 2).");
  }
  for (std::size_t i = 0; i < fits.size(); ++i) {
    if (!analyses[i].search_at_local_minimum) {
      line("  Note: the search's set of #" + std::to_string(i + 1) +
           " is not at a local minimum; the refinement lowered its SSQ from " +
           num("%.6e", analyses[i].refinement.start_ssq) + ".");
    }
  }

  line("");
  line("Nested fits: F test of the extra coefficients");
  if (c.nested.empty()) line("  (no pair of these fits is nested)");
  for (const NestedComparison& n : c.nested) {
    std::string extra;
    for (std::size_t e = 0; e < n.nesting.extra.size(); ++e) {
      extra += (e ? ", " : "") + n.nesting.extra[e];
    }
    line("  #" + std::to_string(n.small + 1) + " within #" + std::to_string(n.large + 1) +
         " (extra: " + extra + "): F(" + std::to_string(n.test.df1) + ", " +
         std::to_string(n.test.df2) + ") = " + num("%.4g", n.test.f) + ", p-value " +
         num("%.4g", n.test.p_value));
    if (n.nesting.at_boundary) {
      line("    the equilibrium model is the nonequilibrium one at BETA = 1, the edge of its");
      line("    range (which the nonequilibrium solution approaches but does not reach): the");
      line("    F distribution is an approximation there.");
    }
  }
  return out;
}



}  // namespace btcfit::stats
