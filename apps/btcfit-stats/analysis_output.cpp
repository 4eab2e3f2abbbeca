#include "apps/btcfit-stats/analysis_output.hpp"

#include <cmath>
#include <cstdio>

#include "analysis/json_writer.hpp"
#include "apps/btcfit-stats/text_columns.hpp"

namespace btcfit::stats {
namespace {

std::vector<std::string> varied_names(const DeckFit& fit) {
  std::vector<std::string> names;
  for (int k : fit.varied) names.push_back(coefficient_name(fit.problem, k));
  return names;
}

double relative_decrease(const Refinement& r) {
  return r.start_ssq > 0.0 ? (r.start_ssq - r.ssq) / r.start_ssq : 0.0;
}

std::string limit_text(const ProfileLimit& l) {
  if (!l.found) return "not found";
  return num("%#.3g", l.value) + (l.at_bound ? " (bound)" : "");
}

const char* verdict_name(Verdict v) {
  switch (v) {
    case Verdict::Determined: return "determined";
    case Verdict::TooFewObservations: return "too_few_observations";
    case Verdict::NotFinite: return "not_finite";
    case Verdict::Singular: return "singular";
  }
  return "unknown";
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

// Members describing the fit of one deck: problem, search, refinement,
// criteria.
void json_fit(JsonWriter& j, const DeckFit& fit, const DeckAnalysis& a) {
  const Problem& pr = fit.problem;
  j.key("deck").value(fit.deck_name);
  j.key("model").value(static_cast<int>(pr.model));
  j.key("model_description").value(model_description(pr));
  j.key("data_form").value(static_cast<int>(pr.data_form));
  j.key("n").value(int(pr.observations.size()));
  j.key("p").value(int(fit.varied.size()));
  j.key("coefficients").begin_array();
  for (int k = 1; k <= int(pr.coefficients.size()); ++k) {
    const Coefficient& c = pr.coefficients[k - 1];
    j.begin_object();
    j.key("name").value(coefficient_name(pr, k));
    j.key("position").value(k);
    j.key("varied").value(c.varied);
    j.key("value").value(fit.result.coefficients[k - 1]);
    if (c.varied) {
      j.key("lower").value(c.lower);
      j.key("upper").value(c.upper);
    }
    j.end_object();
  }
  j.end_array();
  j.key("search").begin_object();
  j.key("iterations").value(fit.result.iterations);
  j.key("ssq").value(fit.result.ssq);
  j.key("final_progress_line").value(final_progress_line(fit));
  j.end_object();
  const Refinement& r = a.refinement;
  j.key("refinement").begin_object();
  j.key("method").value("bounded Levenberg-Marquardt (Ceres Solver)");
  j.key("start_ssq").value(r.start_ssq);
  j.key("ssq").value(r.ssq);
  j.key("relative_decrease").value(relative_decrease(r));
  j.key("search_at_local_minimum").value(a.search_at_local_minimum);
  j.key("values").numbers(r.values);
  j.key("iterations").value(r.iterations);
  j.key("evaluations").value(r.evaluations);
  j.key("converged").value(r.converged);
  j.key("message").value(r.message);
  j.end_object();
  j.key("criteria").begin_object();
  j.key("ssq").value(r.ssq);
  j.key("k").value(int(fit.varied.size()) + 1);
  j.key("aic").value(a.criteria.aic);
  j.key("aicc").value(a.criteria.aicc);
  j.key("bic").value(a.criteria.bic);
  j.end_object();
}

}  // namespace

std::string format_analysis(const DeckFit& fit, const DeckAnalysis& a) {
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
        lin = "[" + num("%#.3g", st.ci_lower[j]) + ", " + num("%#.3g", st.ci_upper[j]) + "]";
      }
      line("  " + pad_right(names[j], w) + pad_left(num("%.6g", r.values[j]), 14) + "   " +
           pad_right("[" + limit_text(c.lower) + ", " + limit_text(c.upper) + "]", 30) + lin);
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

std::string format_comparison(const std::vector<DeckFit>& fits,
                              const std::vector<DeckAnalysis>& analyses,
                              const Comparison& c) {
  std::string out;
  const auto line = [&](const std::string& s) { out += s + "\n"; };
  line("btcfit-stats: comparison of " + std::to_string(fits.size()) + " fits of the same " +
       std::to_string(fits.front().problem.observations.size()) + " observations");
  line("Each deck is fitted as btcfit fits it, then refined locally; SSQ and the");
  line("criteria are those of the refined set (k = p + 1 counts the error variance).");
  line("");
  std::size_t dw = 4;
  for (const DeckFit& f : fits) dw = std::max(dw, f.deck_name.size());
  line("  " + pad_right("#", 3) + pad_right("deck", dw + 2) + pad_left("model", 5) +
       pad_left("p", 4) + pad_left("SSQ", 14) + pad_left("AICc", 11) + pad_left("dAICc", 10) +
       pad_left("weight", 9) + pad_left("BIC", 11));
  for (std::size_t i = 0; i < fits.size(); ++i) {
    const ComparisonRow& r = c.rows[i];
    line("  " + pad_right(std::to_string(i + 1), 3) + pad_right(fits[i].deck_name, dw + 2) +
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

std::string json_summary(const DeckFit& fit, const DeckAnalysis& a,
                         const StatisticsOptions& options, const std::vector<std::string>& files) {
  JsonWriter j;
  j.begin_object();
  j.key("program").value("btcfit-stats");
  j.key("command").value("fit");
  json_fit(j, fit, a);
  const FitStatistics& st = a.statistics;
  const bool numbers = st.verdict == Verdict::Determined;
  j.key("statistics").begin_object();
  j.key("at").value("search");
  j.key("verdict").value(verdict_name(st.verdict));
  j.key("message").value(st.message);
  j.key("n").value(st.n);
  j.key("p").value(st.p);
  j.key("dof").value(st.dof);
  j.key("ssq").value(st.ssq);
  j.key("s2").value(st.s2);
  j.key("rmse").value(st.rmse);
  j.key("r2").value(st.r2);
  j.key("confidence").value(options.confidence);
  j.key("t_quantile").value(st.t_quantile);
  j.key("names").strings(varied_names(fit));
  j.key("steps").numbers(st.steps);
  j.key("step_sensitivity").numbers(st.step_sensitivity);
  j.key("std_error").numbers(numbers ? st.std_error : std::vector<double>{});
  j.key("ci_lower").numbers(numbers ? st.ci_lower : std::vector<double>{});
  j.key("ci_upper").numbers(numbers ? st.ci_upper : std::vector<double>{});
  j.key("correlation").begin_array();
  if (numbers) {
    for (int r = 0; r < st.p; ++r) {
      std::vector<double> row(st.p);
      for (int k = 0; k < st.p; ++k) row[k] = st.correlation(r, k);
      j.numbers(row);
    }
  }
  j.end_array();
  j.end_object();
  j.key("profiles");
  if (!a.profiles) {
    j.null();
  } else {
    const Profiles& pr = *a.profiles;
    j.begin_object();
    j.key("level").value(pr.level);
    j.key("f_quantile").value(pr.f_quantile);
    j.key("ssq_min").value(pr.ssq_min);
    j.key("threshold").value(pr.threshold);
    j.key("least_ssq").value(pr.least_ssq);
    j.key("evaluations").value(pr.evaluations);
    j.key("coefficients").begin_array();
    const std::vector<std::string> names = varied_names(fit);
    for (std::size_t k = 0; k < names.size(); ++k) {
      const CoefficientProfile& c = pr.coefficients[k];
      j.begin_object();
      j.key("name").value(names[k]);
      j.key("value").value(a.refinement.values[k]);
      j.key("lower").value(c.lower.value);
      j.key("upper").value(c.upper.value);
      j.key("lower_at_bound").value(c.lower.at_bound);
      j.key("upper_at_bound").value(c.upper.at_bound);
      j.key("lower_found").value(c.lower.found);
      j.key("upper_found").value(c.upper.found);
      const FitStatistics& rs = a.refined_statistics;
      const bool refined_numbers = rs.verdict == Verdict::Determined;
      j.key("linearized_lower");
      refined_numbers ? j.value(rs.ci_lower[k]) : j.null();
      j.key("linearized_upper");
      refined_numbers ? j.value(rs.ci_upper[k]) : j.null();
      j.key("points").begin_array();
      for (const ProfilePoint& pt : c.points) j.numbers({pt.value, pt.ssq});
      j.end_array();
      j.end_object();
    }
    j.end_array();
    j.end_object();
  }
  j.key("files").strings(files);
  j.end_object();
  return j.text();
}

std::string json_comparison(const std::vector<DeckFit>& fits,
                            const std::vector<DeckAnalysis>& analyses, const Comparison& c,
                            const std::vector<std::string>& files) {
  JsonWriter j;
  j.begin_object();
  j.key("program").value("btcfit-stats");
  j.key("command").value("compare");
  j.key("n").value(int(fits.front().problem.observations.size()));
  j.key("fits").begin_array();
  for (std::size_t i = 0; i < fits.size(); ++i) {
    j.begin_object();
    json_fit(j, fits[i], analyses[i]);
    j.end_object();
  }
  j.end_array();
  j.key("table").begin_array();
  for (std::size_t i = 0; i < fits.size(); ++i) {
    const ComparisonRow& r = c.rows[i];
    j.begin_object();
    j.key("deck").value(c.fits[i].label);
    j.key("model").value(c.fits[i].model);
    j.key("p").value(c.fits[i].p);
    j.key("ssq").value(c.fits[i].ssq);
    j.key("aic").value(r.criteria.aic);
    j.key("aicc").value(r.criteria.aicc);
    j.key("delta_aicc").value(r.delta_aicc);
    j.key("weight").value(r.weight);
    j.key("bic").value(r.criteria.bic);
    j.end_object();
  }
  j.end_array();
  j.key("best").value(c.best);
  j.key("nested").begin_array();
  for (const NestedComparison& n : c.nested) {
    j.begin_object();
    j.key("smaller").value(n.small);
    j.key("larger").value(n.large);
    j.key("extra").strings(n.nesting.extra);
    j.key("at_boundary").value(n.nesting.at_boundary);
    j.key("df1").value(n.test.df1);
    j.key("df2").value(n.test.df2);
    j.key("f").value(n.test.f);
    j.key("p_value").value(n.test.p_value);
    j.end_object();
  }
  j.end_array();
  j.key("files").strings(files);
  j.end_object();
  return j.text();
}

}  // namespace btcfit::stats
