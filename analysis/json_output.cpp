#include "analysis/json_output.hpp"

#include "analysis/json_writer.hpp"

namespace btcfit::stats {

std::vector<std::string> varied_names(const FittedProblem& fit) {
  std::vector<std::string> names;
  for (int k : fit.varied) names.push_back(coefficient_name(fit.problem, k));
  return names;
}

double relative_decrease(const Refinement& r) {
  return r.start_ssq > 0.0 ? (r.start_ssq - r.ssq) / r.start_ssq : 0.0;
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

namespace {

// Members describing the fit of one deck: problem, search, refinement,
// criteria.
void json_fit(JsonWriter& j, const FittedProblem& fit, const FitAnalysis& a) {
  const Problem& pr = fit.problem;
  j.key("deck").value(fit.label);
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
  j.key("method").value(method_name(fit.result.method));
  j.key("numerics").value(numerics_name(fit.result.numerics));
  j.key("termination").value(termination_text(fit.result.termination));
  j.key("evaluations").value(static_cast<double>(fit.result.evaluations));
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

std::string json_summary(const FittedProblem& fit, const FitAnalysis& a,
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

std::string json_comparison(const std::vector<FittedProblem>& fits,
                            const std::vector<FitAnalysis>& analyses, const Comparison& c,
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
