#include "analysis/fitted_problem.hpp"

#include <cstdio>

#include "problem/model_traits.hpp"

namespace btcfit::stats {
namespace {

// Step floor of coefficient k: a hundredth of its search interval.
constexpr double kFloorFraction = 0.01;

}  // namespace

FittedProblem fitted_problem(const Problem& problem, const FitResult& result,
                             const std::string& label, int threads) {
  FittedProblem fit;
  fit.label = label;
  fit.problem = check_problem(problem);
  fit.result = result;
  fit.threads = threads > 0 ? threads : usable_threads();
  fit.numerics = result.numerics;
  for (std::size_t k = 1; k <= fit.problem.coefficients.size(); ++k) {
    const bool varied = result.varied.size() == fit.problem.coefficients.size()
                            ? bool(result.varied[k - 1])
                            : fit.problem.coefficients[k - 1].varied;
    if (varied) fit.varied.push_back(int(k));
  }
  return fit;
}

std::string coefficient_name(const Problem& problem, int k) {
  const std::string& name = problem.coefficients[k - 1].name;
  const auto first = name.find_first_not_of(' ');
  if (first == std::string::npos) {
    // Built by appending: "B" + std::to_string(k) draws a false -Wrestrict
    // warning from g++ 12.
    std::string fallback(1, 'B');
    fallback += std::to_string(k);
    return fallback;
  }
  const auto last = name.find_last_not_of(' ');
  return name.substr(first, last - first + 1);
}

std::string model_description(const Problem& problem) {
  const int mode = static_cast<int>(problem.model);
  const ModelTraits& traits = model_traits(mode);
  std::string family = "unknown family";
  if (valid_model_code(mode)) {
    switch (traits.family) {
      case ModelFamily::equilibrium: family = "linear equilibrium adsorption"; break;
      case ModelFamily::nonequilibrium: family = "two-site/two-region nonequilibrium"; break;
      case ModelFamily::stream_tube_pulse: family = "stochastic stream tubes, pulse input"; break;
      case ModelFamily::stream_tube_load: family = "stochastic stream tubes, solute load"; break;
    }
  }
  const std::string conc = traits.flux ? "flux" : "resident";
  std::string text = "model " + std::to_string(mode) + ": " + family + ", " +
                     conc + " concentrations";
  if (problem.data_form == DataForm::reduced_concentration) {
    text += " (data: reduced concentrations)";
  }
  if (problem.data_form == DataForm::reduced_concentration_and_time) {
    text += " (data: reduced concentrations against reduced time)";
  }
  return text;
}

Model varied_model(const FittedProblem& fit) {
  // Each evaluation starts from the problem as read, so no evaluation
  // leaves a trace in the next.
  return [problem = fit.problem, fitted = fit.result.coefficients, varied = fit.varied,
          numerics = fit.numerics](
             std::span<const double> b, std::span<double> out) {
    std::vector<double> set = fitted;
    for (std::size_t j = 0; j < varied.size(); ++j) set[varied[j] - 1] = b[j];
    const std::vector<double> c = evaluate(problem, set, {numerics, 1});
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = c[i];
  };
}

FitProblem fit_problem(const FittedProblem& fit) {
  FitProblem problem;
  for (int k : fit.varied) {
    const Coefficient& c = fit.problem.coefficients[k - 1];
    problem.names.push_back(coefficient_name(fit.problem, k));
    problem.values.push_back(fit.result.coefficients[k - 1]);
    problem.floors.push_back(kFloorFraction * (c.upper - c.lower));
  }
  for (const Observation& o : fit.problem.observations) problem.observed.push_back(o.concentration);
  return problem;
}

std::string final_progress_line(const FittedProblem& fit) {
  return progress_text(
      ProgressLine{fit.result.iterations, fit.result.ssq, fit.result.coefficients});
}

}  // namespace btcfit::stats
